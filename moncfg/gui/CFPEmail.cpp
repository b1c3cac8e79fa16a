#include "moncfg/gui/CFPEmail.h"

#include "moncfg/ConfigTexts.h"
#include "moncfg/gui/CAddEmail.h"
#include "moncfg/gui/CfgUi.h"

namespace tarmin::moncfg {

CFPEmail::CFPEmail(QWidget *parent)
    : CListPage(pageSpec(PageId::Emails), 1205,
                {{QStringLiteral("Имя получателя"), 54}, {QStringLiteral("E-mail"), 42}}, {1206, 1215, 1208},
                texts::kDeleteEmails, parent) {
    bindControls();
}

bool CFPEmail::runItemDialog(monitor::ListRow &row, std::optional<std::size_t> editedRow) {
    CAddEmail dialog(CAddEmail::WithName, editedRow.has_value(), this);
    dialog.setAddress(row.cells[monitor::kBookEmail]);
    dialog.setName(row.cells[monitor::kBookName]);
    if (runModal(dialog) != QDialog::Accepted) return false;
    row.cells[monitor::kBookName] = dialog.name();
    row.cells[monitor::kBookEmail] = dialog.address();
    return true;
}

} // namespace tarmin::moncfg
