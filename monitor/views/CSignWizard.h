// The signing wizard: a protected message (subject, body, sender, attachments
// and recipients from the address book) that the monitor signs with the
// operator's certificate and places on the gateway as a message job.
#pragma once

#include "monitor/jobs/SignMessage.h"

#include <QWizard>
#include <QWizardPage>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QTreeWidget;

namespace tarmin::monitor {

struct MonitorContext;

// The greeting.
class CWPSignIntro : public QWizardPage {
    Q_OBJECT
public:
    explicit CWPSignIntro(QWidget *parent = nullptr);
};

// Subject, body, sender and attachments.
class CWPSignMsg : public QWizardPage {
    Q_OBJECT
public:
    // subjects: the choices of the subject box; lastDir: the last directory of
    // a file dialog (Windows-1251), read and updated.
    CWPSignMsg(const std::vector<std::string> &subjects, std::string &lastDir, QWidget *parent = nullptr);
    // Next with an empty attachment list opens the add dialog first and stays
    // (with an error) when the list is still empty.
    bool validatePage() override;
    void fill(SignMessageData &data) const;

    // "&Добавить...": the file dialog, then the selected files at the top of
    // the list; a file named like one listed stops the adding.
    void OnAdd();
    // "&Удалить": removes every selected attachment.
    void OnRemove();

private:
    std::string &m_lastDir;
    QComboBox *m_subject;
    QPlainTextEdit *m_body;
    QLineEdit *m_from;
    QTreeWidget *m_attachments;
};

// Recipients from the address book and the gateway's processing.
class CWPSignTo : public QWizardPage {
    Q_OBJECT
public:
    explicit CWPSignTo(QWidget *parent = nullptr);
    // Loads the address book the first time the page is shown; a page reached
    // from the message page offers Next.
    void initializePage() override;
    // Reached back from the summary page the page offers Finish instead of
    // Next.
    int nextId() const override { return m_finishHere ? -1 : QWizardPage::nextId(); }
    void setFinishHere(bool finish) { m_finishHere = finish; }
    void fill(SignMessageData &data) const;

    // "Кому ->": the selected address-book entries to the top of the
    // recipients.
    void OnTo();
    // "<- &Удалить": removes every selected recipient.
    void OnRemove();

private:
    bool m_loaded = false;
    bool m_finishHere = false;
    QTreeWidget *m_book;
    QTreeWidget *m_recipients;
    QCheckBox *m_sign;
    QCheckBox *m_crypt;
};

// The summary of the choices.
class CWPSignFinish : public QWizardPage {
    Q_OBJECT
public:
    explicit CWPSignFinish(QWidget *parent = nullptr);
    void initializePage() override;
    void cleanupPage() override;

private:
    QListWidget *m_summary;
};

class CSignWizard : public QWizard {
    Q_OBJECT
public:
    enum PageId { kIntroPage, kMessagePage, kRecipientPage, kFinishPage };

    CSignWizard(const std::vector<std::string> &subjects, std::string &lastDir, QWidget *parent = nullptr);
    // What the pages hold now.
    SignMessageData data() const;

private:
    CWPSignMsg *m_message;
    CWPSignTo *m_recipients;
};

// Runs the wizard for the application and, when it ends with Finish, signs
// the attachments and places the message job (opening a context of its own
// when none was opened at start-up). Message boxes and reports go under owner.
void placeSignedMessage(MonitorContext &context, QWidget *owner);

} // namespace tarmin::monitor
