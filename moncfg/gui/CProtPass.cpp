#include "moncfg/gui/CProtPass.h"

#include "moncfg/SettingsPassword.h"
#include "moncfg/gui/CPass.h"
#include "moncfg/gui/CfgUi.h"

#include <QVBoxLayout>

namespace tarmin::moncfg {

CProtPass::CProtPass(bool isProtected, QWidget *parent) : CConfigPage(parent) {
    setObjectName(QStringLiteral("142"));
    m_password = new CPasswordCheckBox(QStringLiteral("Закрыть настройки на пароле"), this);
    m_password->setObjectName(QStringLiteral("1158"));
    m_password->setChecked(isProtected);
    connect(m_password, &QCheckBox::clicked, this, &CProtPass::onPasswordClicked);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_password);
    layout->addStretch();
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

} // namespace tarmin::moncfg
