// The dialog "Параметры отправлемого сообщения": whether the outgoing message
// is to be signed and encrypted, each choice preset or fixed by the caller.
#pragma once

#include <QDialog>

#include <cstdint>

class QCheckBox;

class CUserInputDlg : public QDialog {
    Q_OBJECT
public:
    CUserInputDlg(uint32_t flags, QWidget *parent = nullptr);
    // TMN_OUTPUT_SIGN | TMN_OUTPUT_ENCRYPT as checked.
    uint32_t chosenFlags() const;

private:
    QCheckBox *signed_ = nullptr;
    QCheckBox *encrypted_ = nullptr;
};
