// The page "Список E-mail": the address book of the signing wizard, edited
// with the e-mail dialog in its form with the recipient's name.
#pragma once

#include "moncfg/gui/CListPage.h"

namespace tarmin::moncfg {

class CFPEmail : public CListPage {
    Q_OBJECT
public:
    explicit CFPEmail(QWidget *parent = nullptr);

protected:
    bool runItemDialog(monitor::ListRow &row, std::optional<std::size_t> editedRow) override;
};

} // namespace tarmin::moncfg
