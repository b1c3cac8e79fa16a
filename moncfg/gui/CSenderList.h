// The page "Перечень пакетов": the sender lists, each a name and the numbers
// of the packets it sends, chosen from the packet list page.
#pragma once

#include "moncfg/gui/CListPage.h"

namespace tarmin::moncfg {

class CSenderList : public CListPage {
    Q_OBJECT
public:
    explicit CSenderList(QWidget *parent = nullptr);

    // The page whose packets the item dialog offers.
    void setPacketPage(const CListPage *packets) { m_packets = packets; }

protected:
    bool runItemDialog(monitor::ListRow &row, std::optional<std::size_t> editedRow) override;

private:
    const CListPage *m_packets = nullptr;
};

} // namespace tarmin::moncfg
