// The "OK" and "Отмена" buttons of the item dialogs.
#pragma once

class QDialog;
class QDialogButtonBox;

namespace tarmin::moncfg {

// "OK" (default) accepts the dialog, "Отмена" rejects it.
QDialogButtonBox *okCancelButtons(QDialog *dialog);

} // namespace tarmin::moncfg
