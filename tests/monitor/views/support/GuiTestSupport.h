// Helpers of the monitor's window tests: they take the operator's place at
// message boxes and dialogs, count beeps, write gateway log files and
// settings, and start the application the way main() does.
#pragma once

#include "monitor/views/Attention.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/ModalRunner.h"

#include <QDialog>
#include <QWidget>
#include <QWizard>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tarmin::monitor {
class CMainApp;
}

namespace tarmin::test {

// Records every message box and answers with the queued answers (OK when
// none is queued).
class MessageRecorder : public monitor::MessageBoxHandler {
public:
    MessageRecorder();
    ~MessageRecorder() override;
    int show(const monitor::MessageRequest &request) override;

    std::vector<monitor::MessageRequest> messages;
    std::vector<int> answers;

private:
    monitor::MessageBoxHandler *m_previous;
};

// Plays the operator at modal dialogs: the handler registered for the
// dialog's object name works it and returns its result; a dialog without a
// handler is rejected. Every dialog's object name is recorded.
class DialogScript : public monitor::ModalHook {
public:
    using Handler = std::function<int(QDialog &)>;
    DialogScript();
    ~DialogScript() override;
    int run(QDialog &dialog) override;
    void on(const QString &objectName, Handler handler) { m_handlers.emplace_back(objectName, std::move(handler)); }

    // Accepts every report window (QZ_ShowReports) and keeps its text.
    void keepReports(QStringList &texts);

    std::vector<QString> shown;

private:
    std::vector<std::pair<QString, Handler>> m_handlers;
    monitor::ModalHook *m_previous;
};

// Counts the flashes and beeps of the record list.
class AttentionCounter : public monitor::AttentionNotifier {
public:
    AttentionCounter();
    ~AttentionCounter() override;
    void flashAndBeep(QWidget *) override { ++count; }
    int count = 0;

private:
    monitor::AttentionNotifier *m_previous;
};

// Moves the certificate stores of the test home aside while it lives, so that
// a test sees an empty personal store whatever other tests of the process
// put there.
class HiddenCertificateStores {
public:
    HiddenCertificateStores();
    ~HiddenCertificateStores();
    HiddenCertificateStores(const HiddenCertificateStores &) = delete;
    HiddenCertificateStores &operator=(const HiddenCertificateStores &) = delete;

private:
    std::filesystem::path m_stores, m_aside;
};

// Text in UTF-8 as the gateway writes it (Windows-1251).
std::string w(const std::string &utf8);

// A gateway log directory with files of the three families.
class GatewayLogs {
public:
    explicit GatewayLogs(const std::filesystem::path &dir) : m_dir(dir) {}
    const std::filesystem::path &dir() const { return m_dir; }
    // Writes a file with a header line and the given record lines (UTF-8,
    // stored as Windows-1251).
    void write(const std::string &name, const std::vector<std::string> &lines);
    // Appends record lines to a file.
    void append(const std::string &name, const std::vector<std::string> &lines);

    // Record lines of each log kind.
    static std::string errorLine(const std::string &date, const std::string &time, const std::string &module,
                                 const std::string &kind, const std::string &code, const std::string &info);
    static std::string outLine(const std::string &date, const std::string &time, const std::string &code,
                               const std::string &hash, const std::string &recipients, const std::string &subject,
                               const std::string &attachments, const std::string &protection);
    static std::string inLine(const std::string &date, const std::string &time, const std::string &code,
                              const std::string &hash, const std::string &notification, const std::string &address,
                              const std::string &subject, const std::string &attachments,
                              const std::string &protection);

private:
    std::filesystem::path m_dir;
};

// Writes settings of a profile (empty: no profile) into the store.
void setDword(const std::string &profile, const std::string &name, uint32_t value);
void setString(const std::string &profile, const std::string &name, const std::string &utf8Value);
void setKeyString(const std::string &keyPath, const std::string &name, const std::string &utf8Value);
std::string getString(const std::string &keyPath, const std::string &name);
// The product key path of a profile.
std::string productKey(const std::string &profile);

// Today and a day relative to it as "dd/mm/yyyy".
std::string dayText(int daysFromToday = 0);

// Starts the application as main() does; the message and dialog hooks stay
// installed. Returns the started application, or null after a failed start
// (the exit steps have then run).
std::unique_ptr<monitor::CMainApp> startMonitor(const std::vector<std::string> &args, bool *started = nullptr);

// The control of a dialog or page by its number (object name "c<number>");
// a missing one fails the test.
template <class T> T *control(QWidget &w, int id) {
    T *c = w.findChild<T *>(QStringLiteral("c%1").arg(id));
    EXPECT_NE(c, nullptr) << id;
    return c;
}

// Which of the wizard's Back, Next (or Commit), Finish and, when asked,
// Cancel buttons are shown and enabled now, as "Back Next".
QString wizardButtons(QWizard &wizard, bool withCancel = false);

} // namespace tarmin::test
