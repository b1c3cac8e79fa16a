#include "ui/manager/CPasswordDlg.h"

#include "cryptoui/ui_session.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <openssl/crypto.h>

CPasswordDlg::CPasswordDlg(const QString &prompt, bool confirm, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CPasswordDlg"));
    setWindowTitle(QStringLiteral("Пароль"));
    password1_ = new QLineEdit(this);
    password1_->setObjectName(QStringLiteral("Password"));
    password1_->setEchoMode(QLineEdit::Password);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Пароль:"), password1_);
    if (confirm) {
        password2_ = new QLineEdit(this);
        password2_->setObjectName(QStringLiteral("Confirm"));
        password2_->setEchoMode(QLineEdit::Password);
        form->addRow(QStringLiteral("Подтверждение:"), password2_);
    }
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("Problem"));
    QDialogButtonBox *buttons = tarmin::qzvoui::okCancelButtons(this);
    auto *layout = new QVBoxLayout(this);
    auto *text = new QLabel(prompt, this);
    text->setWordWrap(true);
    layout->addWidget(text);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
}

CPasswordDlg::~CPasswordDlg() { OPENSSL_cleanse(password_.data(), password_.size()); }

void CPasswordDlg::accept() {
    if (password2_) {
        // A new file: the password must be there and typed the same twice.
        if (password1_->text().isEmpty()) {
            problem_->setText(QStringLiteral("Пустой пароль не защищает закрытый ключ."));
            return;
        }
        if (password1_->text() != password2_->text()) {
            problem_->setText(QStringLiteral("Пароль и подтверждение не совпадают."));
            return;
        }
    }
    password_ = password1_->text().toStdString();
    password1_->clear();
    if (password2_) password2_->clear();
    QDialog::accept();
}
