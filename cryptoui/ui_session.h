// What every dialog of the crypto UI library needs around it: a Qt
// application to live in, the Windows-1251 texts of the C interface turned
// into Qt's, an owner window, and one place through which every modal dialog
// and message box runs, so that tests can play the operator.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

class QDialog;
class QDialogButtonBox;
class QLabel;
class QWidget;

#define QZVOUI_CXX __attribute__((visibility("default")))

namespace tarmin::qzvoui {

// Takes the operator's place: a test installs one to work the controls of
// each dialog and to answer each message box.
class QZVOUI_CXX UiHook {
public:
    virtual ~UiHook() = default;
    // Gets the dialog fully set up; returns its result (QDialog::Accepted or
    // QDialog::Rejected), as exec() would.
    virtual int runDialog(QDialog &dialog) = 0;
    // Gets a message box's text, caption and TMN_MB_* flags; returns the
    // answer (1 for OK).
    virtual int messageBox(const QString &text, const QString &caption, uint32_t flags) = 0;
};

// Installs a hook (null: the real dialogs again); returns the previous one.
// The caller keeps ownership.
QZVOUI_CXX UiHook *setUiHook(UiHook *hook);

// Runs a dialog modally, or hands it to the installed hook.
QZVOUI_CXX int runModal(QDialog &dialog);

// Shows a message box (or hands it to the hook) and returns the button
// chosen as the system's answer (TMN_IDOK, TMN_IDCANCEL, TMN_IDYES, TMN_IDNO).
// The buttons and the icon come from the TMN_MB_* flags; TMN_MB_TOPMOST and
// TMN_MB_SETFOREGROUND keep it above other windows. owner null: the active
// window; without one the box is modal for the whole application.
QZVOUI_CXX int showMessageBox(const QString &text, const QString &caption, uint32_t flags);
QZVOUI_CXX int showMessageBox(const QString &text, const QString &caption, uint32_t flags, QWidget *owner);

// A Qt application for the duration of one exported call. When the process
// has none, one is made (and removed at the end of the scope) provided a
// display is available: QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY is set.
// ok() is false when no dialog can be shown: no display, a process with a
// non-GUI application object, or a call from a thread that is not the
// application's.
class QZVOUI_CXX UiScope {
public:
    UiScope();
    ~UiScope();
    UiScope(const UiScope &) = delete;
    UiScope &operator=(const UiScope &) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    bool owns_ = false;
};

// The buttons "OK" and "Отмена" (or "OK" alone) of a dialog, wired to accept
// and reject, named IDOK and IDCANCEL for tests.
QZVOUI_CXX QDialogButtonBox *okCancelButtons(QDialog *dialog, bool withCancel = true);

// A value shown on a dialog page: plain text, selectable, wrapped, with an
// object name for tests.
QZVOUI_CXX QLabel *valueLabel(const char *name, const QString &text, QWidget *parent);

// The active window, to own a dialog (null when there is none).
QZVOUI_CXX QWidget *activeOwner();

// Windows-1251 text of the C interface to Qt and back; null gives "".
QZVOUI_CXX QString fromCp1251(const char *text);
QZVOUI_CXX QString fromCp1251(const std::string &text);
// A Qt text as Windows-1251; false (out untouched) when a character has no
// Windows-1251 byte, so that a name is never written with '?' in it.
QZVOUI_CXX bool toCp1251(const QString &text, std::string &out);

// A time as the suite shows it (QZ_FormatFileTime, format 5 "dd.mm.yyyy
// hh:mm:ss" or 3 "dd.mm.yyyy hh:mm"), Windows-1251; "" when it does not format.
QZVOUI_CXX std::string fileTimeText(uint32_t low, uint32_t high, int format);
QZVOUI_CXX std::string timeText(std::time_t t, int format);

// Asks for the name of a file to write: the save dialog (through runModal),
// titled title, starting in directory with fileName proposed, the filter in
// the system's form ("Text (*.txt)|*.txt|All (*.*)|*.*||"), defaultExt added
// to a name typed without one. An existing file is only taken once the
// operator agrees to replace it. Returns the full path, or "" when cancelled.
QZVOUI_CXX QString askSaveFileName(QWidget *owner, const QString &title, const QString &directory,
                                   const QString &fileName, const QString &defaultExt, const QString &filter);

// Writes bytes into a file chosen by the operator (created or truncated).
// What failed, for the caller's message: opening (also: the name is no
// regular file, such as a pipe or a directory) or writing (and closing).
enum class WriteOutcome { written, openFailed, writeFailed };
QZVOUI_CXX WriteOutcome writeChosenFile(const QString &path, const std::string &bytes);

// Reads a file chosen by the operator: a regular file of at most limit bytes
// (opened without waiting, so a pipe put in its place cannot hold the
// window); false otherwise.
QZVOUI_CXX bool readChosenFile(const QString &path, std::size_t limit, std::string &out);

} // namespace tarmin::qzvoui
