// The root page "Тармин-Оператор". It holds the check box "Закрыть
// настройки на пароле", which sets or removes the settings password at once,
// apart from "OK" and "&Применить".
#pragma once

#include "moncfg/gui/CConfigPage.h"

#include <QCheckBox>

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

    // The password takes effect when the box is clicked; nothing is left to
    // write when the window's settings are saved.
    bool save() override { return true; }

    QCheckBox *passwordBox() const { return m_password; }

private:
    void onPasswordClicked();

    CPasswordCheckBox *m_password = nullptr;
};

} // namespace tarmin::moncfg
