// What the three record detail dialogs share: the caption, the bold heading
// with the record's icon beside it, an explanatory line, read-only fields,
// and for the two message dialogs the attachment list with the error text
// that replaces its label when the message failed.
#pragma once

#include <QDialog>
#include <QFont>
#include <QStringList>

class QDialogButtonBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QTreeWidget;

namespace tarmin::monitor {

// The bold font of the dialogs' headings: the dialog's own font in bold. (The
// original's "MS Sans Serif", height 8, is the dialog font of its system; a
// family of that name is not there to be found elsewhere.)
QFont boldFont(const QFont &base);

// The buttons OK (the default) and "Отмена" of a dialog, wired to accept and
// reject; the caller places the box.
QDialogButtonBox *okCancelButtons(QDialog *dialog);

class RecordDlgBase : public QDialog {
    Q_OBJECT
public:
    // The read-only field that shows a value, found by its label text.
    QLineEdit *field(const QString &label, int index = 0) const;
    QLabel *heading() const { return m_heading; }
    QLabel *iconLabel() const { return m_icon; }
    int imageIndex() const { return m_image; }
    // Message dialogs only (null otherwise).
    QTreeWidget *attachmentList() const { return m_attachments; }
    QLabel *attachmentsLabel() const { return m_attachmentsLabel; }
    QLabel *errorText() const { return m_errorText; }

protected:
    RecordDlgBase(const QString &objectName, const QString &headingText, const QString &explanation,
                  QWidget *parent);

    // One row "label: value [value...]" of read-only fields.
    void addFieldRow(const QString &label, const QStringList &values);
    void setImage(int imageIndex);
    // The attachment list (one column "Имя вложения", 350 pixels) with its
    // rows; when failed, the error text in bold takes the place of the label.
    void addAttachments(const QStringList &names, bool failed, const QString &errorMessage);
    void finish();

private:
    QGridLayout *m_fields;
    QLabel *m_heading;
    QLabel *m_icon;
    int m_image = -1;
    int m_row = 0;
    QTreeWidget *m_attachments = nullptr;
    QLabel *m_attachmentsLabel = nullptr;
    QLabel *m_errorText = nullptr;
    QList<QPair<QString, QList<QLineEdit *>>> m_fieldRows;
};

} // namespace tarmin::monitor
