// The packet dialog ("Добавление правила" / "Редактирование правила"): the
// packet's number, its directory (with "&Пролистать"), subject, file mask,
// sender address with its type, the gateway's protection, the operator's
// signature, whether the files are kept, and the recipients, edited with the
// e-mail dialog in its address-only form.
#pragma once

#include "monitor/lists/ListSettings.h"

#include <QDialog>

#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTreeWidget;

namespace tarmin::moncfg {

class CAddPacket : public QDialog {
    Q_OBJECT
public:
    // packets: the packet list, for the check of the number; editedRow: the
    // position of the row being edited (its own number is allowed).
    CAddPacket(const std::vector<monitor::ListRow> &packets, std::optional<std::size_t> editedRow,
               QWidget *parent = nullptr);

    void setRow(const monitor::ListRow &row);
    // After "OK".
    const monitor::ListRow &row() const { return m_row; }

    // The recipients' buttons.
    void addRecipient();
    void editRecipient();
    void removeRecipients();

    void accept() override;

private:
    bool textsConvert() const;
    std::vector<std::string> recipients() const;

    const std::vector<monitor::ListRow> &m_packets;
    std::optional<std::size_t> m_editedRow;
    QLineEdit *m_number = nullptr;
    QLineEdit *m_path = nullptr;
    QLineEdit *m_subject = nullptr;
    QLineEdit *m_mask = nullptr;
    QComboBox *m_senderType = nullptr;
    QLineEdit *m_sender = nullptr;
    QCheckBox *m_encrypt = nullptr;
    QCheckBox *m_sign = nullptr;
    QCheckBox *m_operatorSign = nullptr;
    QCheckBox *m_keepFiles = nullptr;
    QTreeWidget *m_recipients = nullptr;
    monitor::ListRow m_row;
};

// The number offered for a new packet: its position counted from 1 when
// added last, or the next number no packet uses.
std::string nextPacketNumber(const std::vector<monitor::ListRow> &packets);

} // namespace tarmin::moncfg
