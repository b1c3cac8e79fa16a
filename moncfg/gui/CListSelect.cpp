#include "moncfg/gui/CListSelect.h"

#include "moncfg/gui/CfgUi.h"
#include "moncfg/gui/DialogButtons.h"

#include <QDialogButtonBox>

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarmin::moncfg {

CListSelect::CListSelect(const std::vector<monitor::ListRow> &packets, QWidget *parent)
    : QDialog(parent), m_packets(packets) {
    setObjectName(QStringLiteral("183"));
    setWindowTitle(QStringLiteral("Выберите списки рассылки"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("list"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setHeaderLabels({QStringLiteral("Номер рассылки"), QStringLiteral("Каталог"),
                             QStringLiteral("Тема сообщения")});
    for (const monitor::ListRow &packet : packets) {
        auto *item = new QTreeWidgetItem(m_list);
        item->setText(0, fromCp1251(packet.cells[monitor::kPacketNumber]));
        item->setText(1, fromCp1251(packet.cells[monitor::kPacketPath]));
        item->setText(2, fromCp1251(packet.cells[monitor::kPacketSubject]));
    }
    m_list->header()->resizeSections(QHeaderView::ResizeToContents);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(okCancelButtons(this));
    resize(480, 300);
}

void CListSelect::accept() {
    m_chosen.clear();
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->isSelected())
            m_chosen.push_back(m_packets[static_cast<std::size_t>(i)].cells[monitor::kPacketNumber]);
    QDialog::accept();
}

} // namespace tarmin::moncfg
