#include "moncfg/gui/CFPKvit.h"

#include "moncfg/gui/CAddEmail.h"
#include "moncfg/gui/CfgUi.h"
#include "moncfg/gui/PageLayout.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tarmin::moncfg {

CFPKvit::CFPKvit(QWidget *parent) : CConfigPage(pageSpec(PageId::Notifications), parent) {
    PageLayout page(this);
    {
        PageLayout receipts(page, QStringLiteral("Квитанции"));
        receipts.checkBox(1241, QStringLiteral("Установить время ожидания прихода квитанции"));
        receipts.numberRow(spec().fields[0], QStringLiteral("Максимальное время ожидания:"), QStringLiteral("мин."),
                           1242, 1250);
        receipts.checkBox(1245, QStringLiteral("Делать запись в протокол о превышении времени ожидания"));
        receipts.checkBox(1246, QStringLiteral("Уведомить администратора о превышение времени ожидания"));
    }
    {
        auto *row = new QWidget(this);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *caption = new QLabel(QStringLiteral("Адрес администратора:"), row);
        m_address = new QLineEdit(row);
        m_address->setObjectName(controlName(spec().fields[1].control));
        m_address->setReadOnly(true);
        caption->setBuddy(m_address);
        auto *set = new QPushButton(QStringLiteral("Установить"), row);
        set->setObjectName(controlName(1251));
        connect(set, &QPushButton::clicked, this, &CFPKvit::onSetAddress);
        layout->addWidget(caption);
        layout->addWidget(m_address, 1);
        layout->addWidget(set);
        page.add(row);
    }
    {
        PageLayout errors(page, QStringLiteral("Ошибки"));
        errors.checkBox(1252, QStringLiteral("Отслеживать возникновение повторяющейся ошибки "));
        errors.numberRow(spec().fields[2], QStringLiteral("Количество повторений:"), QStringLiteral("раз"), 1257,
                         1258);
        errors.numberRow(spec().fields[3], QStringLiteral("Таймаут после уведомления:"), QStringLiteral("мин."),
                         1261, 1262);
        errors.checkBox(1260, QStringLiteral("Уведомить администратора о повторяющейся ошибке"));
    }
    page.stretch();
    bindControls();
}

void CFPKvit::onSetAddress() {
    std::optional<std::string> current = toCp1251(m_address->text());
    CAddEmail dialog(CAddEmail::AddressOnly, !m_address->text().isEmpty(), this);
    dialog.setAddress(current.value_or(std::string()));
    if (runModal(dialog) != QDialog::Accepted) return;
    m_address->setText(fromCp1251(dialog.address()));
    markModified();
}

} // namespace tarmin::moncfg
