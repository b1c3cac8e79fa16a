#include "moncfg/gui/CPass.h"

#include "common/codepage.h"
#include "moncfg/gui/CfgUi.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarmin::moncfg {

CPass::CPass(const QString &caption, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("169"));
    setWindowTitle(caption);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("1160"));
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setMaxLength(kMaxLength);

    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Пароль :"), m_edit);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CPass::accept() {
    const std::string text = cp::utf8_to_cp1251(m_edit->text().left(kMaxLength).toStdString());
    m_digest = passwordDigest(text);
    QDialog::accept();
}

std::optional<PasswordDigest> askPassword(const QString &caption, QWidget *parent) {
    CPass dialog(caption, parent);
    if (runModal(dialog) != QDialog::Accepted) return std::nullopt;
    return dialog.digest();
}

} // namespace tarmin::moncfg
