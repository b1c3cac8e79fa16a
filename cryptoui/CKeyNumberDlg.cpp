#include "cryptoui/CKeyNumberDlg.h"

#include "cryptoui/ui_session.h"
#include "include/qzvoui.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace tarmin::qzvoui;

CKeyNumberDlg::CKeyNumberDlg(const KeyHistory &history, int length, QWidget *parent)
    : QDialog(parent), length_(length) {
    setObjectName(QStringLiteral("CKeyNumberDlg"));
    setWindowTitle(QStringLiteral("Укажите номер ключа"));
    setModal(true);

    auto *explanation = new QLabel(
        QStringLiteral("Укажите номер ключа в формате \"NNNNNNCCCCCC\"\nгде: N - номер ключа\n        C - серия ключа"),
        this);
    explanation->setObjectName(QStringLiteral("Explanation"));
    explanation->setTextFormat(Qt::PlainText);

    list_ = new QComboBox(this);
    list_->setObjectName(QStringLiteral("KeyNumber"));
    list_->setEditable(true);
    list_->setInsertPolicy(QComboBox::NoInsert);
    list_->lineEdit()->setMaxLength(length);
    for (const std::string &e : history.entries) list_->addItem(fromCp1251(e));
    list_->setEditText(fromCp1251(history.current));
    list_->setMinimumContentsLength(std::min(length, 40));

    QDialogButtonBox *buttons = okCancelButtons(this);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(explanation);
    layout->addWidget(list_);
    layout->addWidget(buttons);
}

void CKeyNumberDlg::accept() {
    std::string entry;
    // A character without a Windows-1251 byte cannot be part of a key number.
    if (!toCp1251(list_->currentText(), entry) || entry.size() != static_cast<size_t>(length_)) {
        showMessageBox(QStringLiteral("Неправильно введены номер  и серия ключа."), windowTitle(), TMN_MB_ICONERROR,
                       this);
        list_->setFocus();
        return;
    }
    entry_ = entry;
    QDialog::accept();
}
