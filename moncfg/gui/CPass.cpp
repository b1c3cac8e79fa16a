#include "moncfg/gui/CPass.h"

#include "moncfg/ConfigTexts.h"
#include "moncfg/gui/CfgUi.h"
#include "moncfg/gui/DialogButtons.h"

#include <QDialogButtonBox>

#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tarmin::moncfg {

CPass::CPass(const QString &caption, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("169"));
    setWindowTitle(caption);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("1160"));
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setMaxLength(kMaxLength);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Пароль :"), m_edit);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(okCancelButtons(this));
}

void CPass::accept() {
    // The digest is of the bytes the operator's text has in the system code
    // page: a character it lacks would be folded to '?', making other
    // passwords match, so such a text is refused.
    const std::optional<std::string> text = toCp1251(m_edit->text().left(kMaxLength));
    if (!text) {
        messageBox(this, fromCp1251(texts::kPasswordOutsideCodePage), MsgIcon::Stop);
        m_edit->setFocus();
        return;
    }
    m_digest = passwordDigest(*text);
    QDialog::accept();
}

std::optional<PasswordDigest> askPassword(const QString &caption, QWidget *parent) {
    CPass dialog(caption, parent);
    if (runModal(dialog) != QDialog::Accepted) return std::nullopt;
    return dialog.digest();
}

} // namespace tarmin::moncfg
