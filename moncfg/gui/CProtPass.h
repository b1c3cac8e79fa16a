// The root page "Тармин-Оператор": the keys at start-up and the system
// speaker (ProtectionFlags), the refresh period, the button of the crypto
// provider's settings, the product's name and address, and the check box
// "Закрыть настройки на пароле", which sets or removes the settings password
// at once, apart from "OK" and "&Применить".
#pragma once

#include "moncfg/gui/CConfigPage.h"

#include <QCheckBox>

class QPushButton;

namespace tarmin::moncfg {

// A check box whose click does not change it by itself: the page decides
// the new state once the password dialogs have been answered.
class CPasswordCheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

class CProtPass : public CConfigPage {
    Q_OBJECT
public:
    // isProtected: the program was opened with the correct password.
    explicit CProtPass(bool isProtected, QWidget *parent = nullptr);

    QCheckBox *passwordBox() const { return m_password; }
    QPushButton *providerButton() const { return m_provider; }

protected:
    // The provider's settings stay at hand: they are the library's, which
    // keeps to what the store allows.
    void applyReadOnly() override;

private:
    void onPasswordClicked();
    void onProviderSettings();

    CPasswordCheckBox *m_password = nullptr;
    QPushButton *m_provider = nullptr;
};

// The product's name and web address on the root page.
inline constexpr const char *kProductLine = "КЕЛВОРИЯ Тармин-Оператор-M 3.1";
inline constexpr const char *kProductWebAddress = "https://www.kelvoria.ru/tarmin";

} // namespace tarmin::moncfg
