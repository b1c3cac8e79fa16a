// The sender-list dialog: "Наименование пакета :" and the list "Список
// номеров рассылки :", filled from the packets with "Добавить" (through
// "Выберите списки рассылки") and thinned with "Удалить". On "OK" the
// numbers are joined by "," in list order.
#pragma once

#include "monitor/lists/ListSettings.h"

#include <QDialog>

#include <string>
#include <string_view>
#include <vector>

class QLineEdit;
class QListWidget;

namespace tarmin::moncfg {

class CAddSendList : public QDialog {
    Q_OBJECT
public:
    // packets: the rows of the packet list to choose from.
    explicit CAddSendList(const std::vector<monitor::ListRow> &packets, QWidget *parent = nullptr);

    void setName(std::string_view name);
    // A stored "SenderPackets" text, split into its numbers.
    void setPacketNumbers(std::string_view text);

    // After "OK" (Windows-1251).
    const std::string &name() const { return m_name; }
    const std::string &packetNumbers() const { return m_packetNumbers; }

    // "Добавить": the numbers chosen in the packet selection, each one not yet
    // listed appended; "Удалить": the selected numbers removed.
    void addNumbers();
    void removeNumbers();

    void accept() override;

private:
    std::vector<std::string> listedNumbers() const;

    const std::vector<monitor::ListRow> &m_packets;
    QLineEdit *m_nameEdit = nullptr;
    QListWidget *m_numbers = nullptr;
    std::string m_name;
    std::string m_packetNumbers;
};

} // namespace tarmin::moncfg
