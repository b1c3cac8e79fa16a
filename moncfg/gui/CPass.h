// The password dialog: a caption given by the caller, "Пароль :" and a
// masked field of at most 127 characters. On "OK" it keeps the digest of
// what was typed, never the text.
#pragma once

#include "moncfg/SettingsPassword.h"

#include <QDialog>

#include <optional>

class QLineEdit;

namespace tarmin::moncfg {

class CPass : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLength = 127;

    explicit CPass(const QString &caption, QWidget *parent = nullptr);

    // The digest of the text confirmed with "OK"; nullopt before that, or
    // when it could not be computed.
    const std::optional<PasswordDigest> &digest() const { return m_digest; }

    void accept() override;

private:
    QLineEdit *m_edit = nullptr;
    std::optional<PasswordDigest> m_digest;
};

// Shows the dialog; the digest of the confirmed password, nullopt on "Отмена".
std::optional<PasswordDigest> askPassword(const QString &caption, QWidget *parent = nullptr);

} // namespace tarmin::moncfg
