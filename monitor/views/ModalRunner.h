// Every modal dialog of the monitor runs through runModal(), so that a test
// can take the place of the operator: its hook receives the dialog, fully
// initialised, works its controls and returns the dialog's result.
#pragma once

class QDialog;

namespace tarmin::monitor {

class ModalHook {
public:
    virtual ~ModalHook() = default;
    // Plays the operator's part for one dialog and returns its result code
    // (QDialog::Accepted or Rejected).
    virtual int run(QDialog &dialog) = 0;
};

// Runs the dialog modally (QDialog::exec) or hands it to the installed hook.
int runModal(QDialog &dialog);

// Replaces the hook (null: run dialogs for real); returns the previous one.
ModalHook *setModalHook(ModalHook *hook);

} // namespace tarmin::monitor
