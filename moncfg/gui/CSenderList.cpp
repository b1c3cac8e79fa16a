#include "moncfg/gui/CSenderList.h"

#include "moncfg/ConfigTexts.h"
#include "moncfg/gui/CAddSendList.h"
#include "moncfg/gui/CfgUi.h"

namespace tarmin::moncfg {

CSenderList::CSenderList(QWidget *parent)
    : CListPage(pageSpec(PageId::SenderLists), 1203,
                {{QStringLiteral("Наименование пакета"), 40}, {QStringLiteral("Список номеров рассылки"), 55}},
                {1175, 1176, 1177}, texts::kDeleteSenderLists, parent) {
    bindControls();
}

bool CSenderList::runItemDialog(monitor::ListRow &row, std::optional<std::size_t>) {
    static const std::vector<monitor::ListRow> kNoPackets;
    CAddSendList dialog(m_packets ? m_packets->rows() : kNoPackets, this);
    dialog.setName(row.cells[monitor::kSenderName]);
    dialog.setPacketNumbers(row.cells[monitor::kSenderPackets]);
    if (runModal(dialog) != QDialog::Accepted) return false;
    row.cells[monitor::kSenderName] = dialog.name();
    row.cells[monitor::kSenderPackets] = dialog.packetNumbers();
    return true;
}

} // namespace tarmin::moncfg
