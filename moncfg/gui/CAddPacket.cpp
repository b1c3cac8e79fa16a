#include "moncfg/gui/CAddPacket.h"

#include "moncfg/ListItems.h"
#include "moncfg/gui/CAddEmail.h"
#include "moncfg/gui/CfgUi.h"
#include "moncfg/gui/DialogButtons.h"

#include <QDialogButtonBox>
#include "moncfg/gui/PageLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace tarmin::moncfg {

namespace {

constexpr int kMaxText = static_cast<int>(monitor::kListTextMax);

QLineEdit *lineEdit(QWidget *parent, const char *name, int maxLength = kMaxText) {
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(maxLength);
    return edit;
}

QCheckBox *checkBox(QWidget *parent, const char *name, const QString &text) {
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QPushButton *button(QWidget *parent, const char *name, const QString &text) {
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

} // namespace

std::string nextPacketNumber(const std::vector<monitor::ListRow> &packets) {
    for (std::size_t number = packets.size() + 1;; ++number) {
        const std::string text = std::to_string(number);
        if (std::none_of(packets.begin(), packets.end(),
                         [&](const monitor::ListRow &row) { return row.cells[monitor::kPacketNumber] == text; }))
            return text;
    }
}

CAddPacket::CAddPacket(const std::vector<monitor::ListRow> &packets, std::optional<std::size_t> editedRow,
                       QWidget *parent)
    : QDialog(parent), m_packets(packets), m_editedRow(editedRow) {
    setObjectName(QStringLiteral("176"));
    setWindowTitle(editedRow ? QStringLiteral("Редактирование правила") : QStringLiteral("Добавление правила"));

    m_number = lineEdit(this, "number", 9);
    m_number->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_number));
    m_path = lineEdit(this, "path");
    m_subject = lineEdit(this, "subject");
    m_mask = lineEdit(this, "mask");
    m_senderType = new QComboBox(this);
    m_senderType->setObjectName(QStringLiteral("senderType"));
    for (const char *type : kAddressTypes) m_senderType->addItem(QString::fromLatin1(type));
    m_sender = lineEdit(this, "sender", kMaxText - 6);
    m_encrypt = checkBox(this, "encrypt", QStringLiteral("Зашифрованные"));
    m_sign = checkBox(this, "sign", QStringLiteral("Подписанные"));
    m_operatorSign = checkBox(this, "operatorSign", QStringLiteral("Выполнять подпись оператора"));
    m_keepFiles = checkBox(this, "keepFiles", QStringLiteral("Не удалять файл после обработки"));
    m_recipients = new QTreeWidget(this);
    m_recipients->setObjectName(QStringLiteral("recipients"));
    m_recipients->setRootIsDecorated(false);
    m_recipients->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_recipients->setHeaderLabels({QStringLiteral("E-mail")});
    // The one column fills the list.
    m_recipients->header()->setStretchLastSection(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Номер рассылки :"), m_number);
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(browseButton(this, 1185, m_path, nullptr));
    form->addRow(QStringLiteral("Каталог для файлов :"), pathRow);
    form->addRow(QStringLiteral("Тема сообщения (по умолчанию) :"), m_subject);
    form->addRow(QStringLiteral("Маска файла :"), m_mask);
    auto *senderRow = new QHBoxLayout;
    senderRow->addWidget(new QLabel(QStringLiteral("Тип :"), this));
    senderRow->addWidget(m_senderType);
    senderRow->addWidget(m_sender, 1);
    form->addRow(QStringLiteral("Адрес отправителя :"), senderRow);

    auto *protection = new QGroupBox(QStringLiteral("Тип защиты шлюза:"), this);
    auto *protectionLayout = new QHBoxLayout(protection);
    protectionLayout->addWidget(m_encrypt);
    protectionLayout->addWidget(m_sign);
    protectionLayout->addStretch();

    auto *add = button(this, "addRecipient", QStringLiteral("Добавить"));
    auto *edit = button(this, "editRecipient", QStringLiteral("Изменить"));
    auto *remove = button(this, "removeRecipient", QStringLiteral("Удалить"));
    connect(add, &QPushButton::clicked, this, &CAddPacket::addRecipient);
    connect(edit, &QPushButton::clicked, this, &CAddPacket::editRecipient);
    connect(remove, &QPushButton::clicked, this, &CAddPacket::removeRecipients);
    connect(m_recipients, &QTreeWidget::itemDoubleClicked, this, &CAddPacket::editRecipient);
    auto *recipientButtons = new QVBoxLayout;
    recipientButtons->addWidget(add);
    recipientButtons->addWidget(edit);
    recipientButtons->addWidget(remove);
    recipientButtons->addStretch();
    auto *recipientRow = new QHBoxLayout;
    recipientRow->addWidget(m_recipients, 1);
    recipientRow->addLayout(recipientButtons);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(protection);
    layout->addWidget(m_operatorSign);
    layout->addWidget(m_keepFiles);
    layout->addWidget(new QLabel(QStringLiteral("Список E-mail адресов :"), this));
    layout->addLayout(recipientRow, 1);
    layout->addWidget(okCancelButtons(this));
    resize(520, 560);

    m_row.cells.resize(monitor::kPacketListLayout.columns.size());
    if (!editedRow) {
        // A new packet is protected by the gateway both ways, as a packet
        // without the setting is sent.
        m_number->setText(QString::fromStdString(nextPacketNumber(packets)));
        m_encrypt->setChecked(true);
        m_sign->setChecked(true);
    }
}

void CAddPacket::setRow(const monitor::ListRow &row) {
    auto cell = [&](monitor::PacketListColumn c) { return fromCp1251(row.cells[c]); };
    m_number->setText(cell(monitor::kPacketNumber));
    m_path->setText(cell(monitor::kPacketPath));
    m_subject->setText(cell(monitor::kPacketSubject));
    m_mask->setText(cell(monitor::kPacketMask));
    const std::string &sender = row.cells[monitor::kPacketSender];
    const TypedAddress typed = splitAddress(sender);
    m_senderType->setCurrentIndex(static_cast<int>(typed.type));
    m_sender->setText(fromCp1251(typed.address));
    m_encrypt->setChecked(row.number & monitor::kGatewayEncrypts);
    m_sign->setChecked(row.number & monitor::kGatewaySigns);
    m_operatorSign->setChecked(row.cells[monitor::kPacketOperatorSign] == monitor::kYes);
    m_keepFiles->setChecked(row.cells[monitor::kPacketKeepFiles] == monitor::kYes);
    m_recipients->clear();
    for (const std::string &address : row.nested) (new QTreeWidgetItem(m_recipients))->setText(0, fromCp1251(address));
}

std::vector<std::string> CAddPacket::recipients() const {
    std::vector<std::string> addresses;
    for (int i = 0; i < m_recipients->topLevelItemCount(); ++i)
        addresses.push_back(toCp1251(m_recipients->topLevelItem(i)->text(0)).value_or(std::string()));
    return addresses;
}

void CAddPacket::addRecipient() {
    CAddEmail dialog(CAddEmail::AddressOnly, false, this);
    if (runModal(dialog) != QDialog::Accepted) return;
    (new QTreeWidgetItem(m_recipients))->setText(0, fromCp1251(dialog.address()));
}

void CAddPacket::editRecipient() {
    QTreeWidgetItem *item = m_recipients->currentItem();
    if (!item) return;
    CAddEmail dialog(CAddEmail::AddressOnly, true, this);
    dialog.setAddress(toCp1251(item->text(0)).value_or(std::string()));
    if (runModal(dialog) != QDialog::Accepted) return;
    item->setText(0, fromCp1251(dialog.address()));
}

void CAddPacket::removeRecipients() {
    for (QTreeWidgetItem *item : m_recipients->selectedItems()) delete item;
}

bool CAddPacket::textsConvert() const {
    const std::pair<QLineEdit *, QString> fields[] = {
        {m_number, QStringLiteral("Номер рассылки")},
        {m_path, QStringLiteral("Каталог для файлов")},
        {m_subject, QStringLiteral("Тема сообщения (по умолчанию)")},
        {m_mask, QStringLiteral("Маска файла")},
        {m_sender, QStringLiteral("Адрес отправителя")},
    };
    for (const auto &[edit, label] : fields)
        if (!acceptsCp1251(edit, label, edit->text())) return false;
    return true;
}

void CAddPacket::accept() {
    if (!textsConvert()) return;
    auto text = [](const QLineEdit *edit) { return toCp1251(edit->text()).value_or(std::string()); };
    const std::string number = text(m_number);
    const std::string path = text(m_path);
    const std::vector<std::string> addresses = recipients();
    if (const auto failed = checkPacket(number, m_packets, m_editedRow, path, addresses.size())) {
        messageBox(this, fromCp1251(failed->message), MsgIcon::Stop);
        switch (failed->field) {
        case ItemField::Directory: m_path->setFocus(); break;
        case ItemField::Recipients: m_recipients->setFocus(); break;
        default: m_number->setFocus(); break;
        }
        return;
    }
    monitor::ListRow row;
    row.cells.resize(monitor::kPacketListLayout.columns.size());
    row.cells[monitor::kPacketNumber] = number;
    row.cells[monitor::kPacketPath] = path;
    row.cells[monitor::kPacketSubject] = text(m_subject);
    row.cells[monitor::kPacketMask] = text(m_mask);
    const std::string sender = text(m_sender);
    if (!sender.empty()) row.cells[monitor::kPacketSender] = joinAddress(static_cast<std::size_t>(m_senderType->currentIndex()), sender);
    row.cells[monitor::kPacketOperatorSign] = m_operatorSign->isChecked() ? monitor::kYes : "";
    row.cells[monitor::kPacketKeepFiles] = m_keepFiles->isChecked() ? monitor::kYes : "";
    row.number = (m_encrypt->isChecked() ? monitor::kGatewayEncrypts : 0) |
                 (m_sign->isChecked() ? monitor::kGatewaySigns : 0);
    row.nested = addresses;
    m_row = std::move(row);
    QDialog::accept();
}

} // namespace tarmin::moncfg
