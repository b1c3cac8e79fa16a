#include "moncfg/gui/CAddEmail.h"

#include "moncfg/ListItems.h"
#include "moncfg/gui/CfgUi.h"
#include "moncfg/gui/DialogButtons.h"

#include <QDialogButtonBox>

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tarmin::moncfg {

CAddEmail::CAddEmail(Form form, bool editing, QWidget *parent) : QDialog(parent), m_form(form) {
    setObjectName(QString::number(form));
    setWindowTitle(editing ? QStringLiteral("Редактирование E-mail") : QStringLiteral("Добавление E-mail"));
    m_type = new QComboBox(this);
    m_type->setObjectName(QStringLiteral("type"));
    for (const char *type : kAddressTypes) m_type->addItem(QString::fromLatin1(type));
    m_email = new QLineEdit(this);
    m_email->setObjectName(QStringLiteral("email"));
    // Room for the longest type in a stored list text.
    m_email->setMaxLength(static_cast<int>(monitor::kListTextMax) - 6);

    auto *form_ = new QFormLayout;
    form_->addRow(QStringLiteral("Тип :"), m_type);
    form_->addRow(QStringLiteral("E-mail :"), m_email);
    if (form == WithName) {
        m_recipient = new QLineEdit(this);
        m_recipient->setObjectName(QStringLiteral("name"));
        m_recipient->setMaxLength(static_cast<int>(monitor::kListTextMax));
        form_->addRow(QStringLiteral("Имя получателя:"), m_recipient);
    }
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form_);
    layout->addWidget(okCancelButtons(this));
    setMinimumWidth(380);
}

void CAddEmail::setAddress(std::string_view stored) {
    const TypedAddress typed = splitAddress(stored);
    m_type->setCurrentIndex(static_cast<int>(typed.type));
    m_email->setText(fromCp1251(typed.address));
}

void CAddEmail::setName(std::string_view name) {
    if (m_recipient) m_recipient->setText(fromCp1251(name));
}

void CAddEmail::accept() {
    if (!acceptsCp1251(m_email, QStringLiteral("E-mail"), m_email->text())) return;
    if (m_recipient && !acceptsCp1251(m_recipient, QStringLiteral("Имя получателя"), m_recipient->text())) return;
    const std::string address = toCp1251(m_email->text()).value_or(std::string());
    const std::string name = m_recipient ? toCp1251(m_recipient->text()).value_or(std::string()) : std::string();
    if (const auto failed = checkEmail(address, name, m_form == WithName)) {
        messageBox(this, fromCp1251(failed->message), MsgIcon::Stop);
        (failed->field == ItemField::Name ? m_recipient : m_email)->setFocus();
        return;
    }
    m_address = joinAddress(static_cast<std::size_t>(m_type->currentIndex()), address);
    m_name = name;
    QDialog::accept();
}

} // namespace tarmin::moncfg
