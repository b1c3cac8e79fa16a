// The page "Уведомления": the waiting time of receipts and its reports, the
// administrator's address, and the alert on a repeated error.
#pragma once

#include "moncfg/gui/CConfigPage.h"

class QLineEdit;

namespace tarmin::moncfg {

class CFPKvit : public CConfigPage {
    Q_OBJECT
public:
    explicit CFPKvit(QWidget *parent = nullptr);

private:
    // "Установить": the administrator's address through the e-mail dialog.
    void onSetAddress();

    QLineEdit *m_address = nullptr;
};

} // namespace tarmin::moncfg
