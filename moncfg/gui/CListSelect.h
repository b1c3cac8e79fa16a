// "Выберите списки рассылки": the packets of the packet list, of which the
// operator selects any number; "OK" gives their numbers in list order.
#pragma once

#include "monitor/lists/ListSettings.h"

#include <QDialog>

#include <string>
#include <vector>

class QTreeWidget;

namespace tarmin::moncfg {

class CListSelect : public QDialog {
    Q_OBJECT
public:
    explicit CListSelect(const std::vector<monitor::ListRow> &packets, QWidget *parent = nullptr);

    QTreeWidget *list() const { return m_list; }
    // The "PacketNum" texts of the rows selected at "OK" (Windows-1251).
    const std::vector<std::string> &chosen() const { return m_chosen; }

    void accept() override;

private:
    const std::vector<monitor::ListRow> &m_packets;
    QTreeWidget *m_list = nullptr;
    std::vector<std::string> m_chosen;
};

} // namespace tarmin::moncfg
