#include "moncfg/gui/CAddSendList.h"

#include "moncfg/ListItems.h"
#include "moncfg/gui/CListSelect.h"
#include "moncfg/gui/CfgUi.h"
#include "moncfg/gui/DialogButtons.h"

#include <QDialogButtonBox>

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tarmin::moncfg {

CAddSendList::CAddSendList(const std::vector<monitor::ListRow> &packets, QWidget *parent)
    : QDialog(parent), m_packets(packets) {
    setObjectName(QStringLiteral("180"));
    setWindowTitle(QStringLiteral("Пакет"));
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("name"));
    m_nameEdit->setMaxLength(static_cast<int>(monitor::kListTextMax));
    m_numbers = new QListWidget(this);
    m_numbers->setObjectName(QStringLiteral("numbers"));
    m_numbers->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto *add = new QPushButton(QStringLiteral("Добавить"), this);
    add->setObjectName(QStringLiteral("add"));
    auto *remove = new QPushButton(QStringLiteral("Удалить"), this);
    remove->setObjectName(QStringLiteral("remove"));
    connect(add, &QPushButton::clicked, this, &CAddSendList::addNumbers);
    connect(remove, &QPushButton::clicked, this, &CAddSendList::removeNumbers);

    auto *nameLabel = new QLabel(QStringLiteral("Наименование пакета :"), this);
    nameLabel->setBuddy(m_nameEdit);
    auto *numbersLabel = new QLabel(QStringLiteral("Список номеров рассылки :"), this);
    numbersLabel->setBuddy(m_numbers);
    auto *grid = new QGridLayout;
    grid->addWidget(nameLabel, 0, 0, 1, 2);
    grid->addWidget(m_nameEdit, 1, 0, 1, 2);
    grid->addWidget(numbersLabel, 2, 0, 1, 2);
    grid->addWidget(m_numbers, 3, 0, 3, 1);
    grid->addWidget(add, 3, 1);
    grid->addWidget(remove, 4, 1);
    grid->setRowStretch(5, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(okCancelButtons(this));
    resize(420, 320);
}

void CAddSendList::setName(std::string_view name) { m_nameEdit->setText(fromCp1251(name)); }

void CAddSendList::setPacketNumbers(std::string_view text) {
    m_numbers->clear();
    for (const std::string &number : splitPacketNumbers(text)) m_numbers->addItem(fromCp1251(number));
}

std::vector<std::string> CAddSendList::listedNumbers() const {
    std::vector<std::string> numbers;
    for (int i = 0; i < m_numbers->count(); ++i)
        numbers.push_back(toCp1251(m_numbers->item(i)->text()).value_or(std::string()));
    return numbers;
}

void CAddSendList::addNumbers() {
    CListSelect select(m_packets, this);
    if (runModal(select) != QDialog::Accepted) return;
    std::vector<std::string> listed = listedNumbers();
    for (const std::string &number : select.chosen()) {
        if (std::find(listed.begin(), listed.end(), number) != listed.end()) continue;
        listed.push_back(number);
        m_numbers->addItem(fromCp1251(number));
    }
}

void CAddSendList::removeNumbers() {
    for (QListWidgetItem *item : m_numbers->selectedItems()) delete item;
}

void CAddSendList::accept() {
    if (!acceptsCp1251(m_nameEdit, QStringLiteral("Наименование пакета"), m_nameEdit->text())) return;
    const std::string name = toCp1251(m_nameEdit->text()).value_or(std::string());
    const std::vector<std::string> numbers = listedNumbers();
    if (const auto failed = checkSenderList(name, numbers)) {
        messageBox(this, fromCp1251(failed->message), MsgIcon::Stop);
        (failed->field == ItemField::Name ? static_cast<QWidget *>(m_nameEdit) : m_numbers)->setFocus();
        return;
    }
    m_name = name;
    m_packetNumbers = joinPacketNumbers(numbers);
    QDialog::accept();
}

} // namespace tarmin::moncfg
