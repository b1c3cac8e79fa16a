#include "ui/CUserInputDlg.h"

#include "cryptoui/ui_session.h"
#include "include/tmnui.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CUserInputDlg::CUserInputDlg(uint32_t flags, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CUserInputDlg"));
    // "отправлемого" is the dialog's own caption, kept as users know it.
    setWindowTitle(QStringLiteral("Параметры отправлемого сообщения"));
    signed_ = new QCheckBox(QStringLiteral("Подписано"), this);
    signed_->setObjectName(QStringLiteral("Signed"));
    encrypted_ = new QCheckBox(QStringLiteral("Зашифровано"), this);
    encrypted_->setObjectName(QStringLiteral("Encrypted"));
    signed_->setChecked(flags & (TMN_INPUT_SIGN | TMN_INPUT_SIGN_FIXED));
    signed_->setEnabled(!(flags & TMN_INPUT_SIGN_FIXED));
    encrypted_->setChecked(flags & (TMN_INPUT_ENCRYPT | TMN_INPUT_ENCRYPT_FIXED));
    encrypted_->setEnabled(!(flags & TMN_INPUT_ENCRYPT_FIXED));

    QDialogButtonBox *buttons = tarmin::qzvoui::okCancelButtons(this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Отправляемое сообщение должно быть:"), this));
    layout->addWidget(signed_);
    layout->addWidget(encrypted_);
    layout->addWidget(buttons);
}

uint32_t CUserInputDlg::chosenFlags() const {
    return (signed_->isChecked() ? TMN_OUTPUT_SIGN : 0u) | (encrypted_->isChecked() ? TMN_OUTPUT_ENCRYPT : 0u);
}
