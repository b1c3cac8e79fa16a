// What every dialog of the crypto UI library needs around it: a Qt
// application to live in, the Windows-1251 texts of the C interface turned
// into Qt's, an owner window, and one place through which every modal dialog
// and message box runs, so that tests can play the operator.
#pragma once

#include <QString>

#include <cstdint>
#include <string>

class QDialog;
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

// Shows a message box with an OK button (or hands it to the hook).
QZVOUI_CXX int showMessageBox(const QString &text, const QString &caption, uint32_t flags);

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

// The active window, to own a dialog (null when there is none).
QZVOUI_CXX QWidget *activeOwner();

// Windows-1251 text of the C interface to Qt and back; null gives "".
QZVOUI_CXX QString fromCp1251(const char *text);
QZVOUI_CXX QString fromCp1251(const std::string &text);

} // namespace tarmin::qzvoui
