// The page "Список рассылки": the distribution packets, edited with the
// packet dialog; an added or edited packet becomes the only selected row.
#pragma once

#include "moncfg/gui/CListPage.h"

namespace tarmin::moncfg {

class CPacketList : public CListPage {
    Q_OBJECT
public:
    explicit CPacketList(QWidget *parent = nullptr);

protected:
    bool runItemDialog(monitor::ListRow &row, std::optional<std::size_t> editedRow) override;
    bool selectsEditedRow() const override { return true; }
};

} // namespace tarmin::moncfg
