#include "moncfg/gui/CProtPass.h"

#include "moncfg/SettingsPassword.h"
#include "moncfg/gui/CNumberEdit.h"
#include "moncfg/gui/CPass.h"
#include "moncfg/gui/CfgUi.h"
#include "moncfg/gui/PageLayout.h"
#include "qzvocfg.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarmin::moncfg {

CProtPass::CProtPass(bool isProtected, QWidget *parent) : CConfigPage(pageSpec(PageId::Root), parent) {
    PageLayout page(this);
    page.checkBox(1213, QStringLiteral("Загружать ключи при запуске программы"));
    page.checkBox(1237, QStringLiteral("Использовать системный спикер"));
    page.numberRow(spec().fields[0], QStringLiteral("Период обновления информации (сек.) :"));

    m_password = new CPasswordCheckBox(QStringLiteral("Закрыть настройки на пароле"), this);
    m_password->setObjectName(controlName(1158));
    m_password->setChecked(isProtected);
    connect(m_password, &QCheckBox::clicked, this, &CProtPass::onPasswordClicked);
    page.add(m_password);

    m_provider = new QPushButton(QStringLiteral("&Настройка СКЗИ"), this);
    m_provider->setObjectName(controlName(1173));
    connect(m_provider, &QPushButton::clicked, this, &CProtPass::onProviderSettings);
    page.addRight(m_provider);

    page.stretch();
    page.label(1268, QString::fromUtf8(kProductLine));
    QLabel *web = page.label(1269, QStringLiteral("<a href=\"%1\">%1</a>").arg(QString::fromUtf8(kProductWebAddress)));
    web->setOpenExternalLinks(true);
    bindControls();
}

void CProtPass::onPasswordClicked() {
    switch (m_password->checkState()) {
    case Qt::Checked:
        // Removing the password asks for none: the page is reached only
        // after the start-up check.
        if (SettingsPassword::clear()) m_password->setChecked(false);
        break;
    case Qt::Unchecked: {
        const auto first = askPassword(QStringLiteral("Введите пароль для настроек"), this);
        if (!first) return;
        const auto second = askPassword(QStringLiteral("Введите пароль еще раз"), this);
        if (!second) return;
        if (*first != *second) {
            messageBox(this, QStringLiteral("Введенные пароли не совпадают!"), MsgIcon::Information);
            return;
        }
        if (SettingsPassword::store(*first)) m_password->setChecked(true);
        break;
    }
    case Qt::PartiallyChecked: break;
    }
}

void CProtPass::applyReadOnly() {
    CConfigPage::applyReadOnly();
    m_provider->setEnabled(true);
}

void CProtPass::onProviderSettings() {
    // The provider's settings are the library's own business; nothing it
    // returns concerns this page.
    QZVO_ProviderSettings(window());
}

} // namespace tarmin::moncfg
