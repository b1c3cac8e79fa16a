#include "moncfg/gui/CPacketList.h"

#include "moncfg/ConfigTexts.h"
#include "moncfg/gui/CAddPacket.h"
#include "moncfg/gui/CfgUi.h"

namespace tarmin::moncfg {

CPacketList::CPacketList(QWidget *parent)
    : CListPage(pageSpec(PageId::Packets), 1220,
                {
                    {QStringLiteral("Номер рассылки"), 30},
                    {QStringLiteral("Каталог"), 30},
                    {QStringLiteral("Тема сообщения"), 30},
                    {QStringLiteral("Маска файла"), 30},
                    {QStringLiteral("Адрес отправителя"), 30},
                    {QStringLiteral("Подпись оператора"), 30},
                    {QStringLiteral("Тип защиты шлюза"), 30},
                    {QStringLiteral("Не удалять файлы"), 30},
                },
                {1175, 1176, 1177}, texts::kDeletePackets, parent) {
    bindControls();
}

bool CPacketList::runItemDialog(monitor::ListRow &row, std::optional<std::size_t> editedRow) {
    CAddPacket dialog(rows(), editedRow, this);
    if (editedRow) dialog.setRow(row);
    if (runModal(dialog) != QDialog::Accepted) return false;
    row = dialog.row();
    return true;
}

} // namespace tarmin::moncfg
