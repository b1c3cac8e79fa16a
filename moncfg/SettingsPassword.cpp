#include "moncfg/SettingsPassword.h"

#include "qzcom.h"

namespace tarmin::moncfg {

namespace {

constexpr const char *kHashValue = "Hash";
constexpr QZ_DWORD kBinary = 3;
constexpr unsigned char kNoPassword = 0;

} // namespace

SettingsPassword SettingsPassword::read() {
    SettingsPassword stored;
    PasswordDigest buffer{};
    QZ_DWORD length = buffer.size();
    QZ_DWORD type = kBinary;
    const int rc = QZ_GetKeyValue(QZ_GetProductKeyName(), kHashValue, buffer.data(), &length, &type, &kNoPassword, 1,
                                  kBinary, 0);
    // A value too long for the buffer still tells its length, which is what
    // decides whether a password is asked for; it never matches.
    stored.m_length = length;
    if (rc == 0 && length == buffer.size()) stored.m_digest = buffer;
    return stored;
}

bool SettingsPassword::matches(const PasswordDigest &digest) const { return m_digest && *m_digest == digest; }

bool SettingsPassword::store(const PasswordDigest &digest) {
    return QZ_SetKeyBinary(QZ_GetProductKeyName(), kHashValue, digest.data(), digest.size(), kBinary, 0) == 0;
}

bool SettingsPassword::clear() {
    return QZ_SetKeyBinary(QZ_GetProductKeyName(), kHashValue, &kNoPassword, 1, kBinary, 0) == 0;
}

std::optional<PasswordDigest> passwordDigest(std::string_view cp1251) {
    PasswordDigest digest{};
    if (QZ_HashPassword(cp1251.data(), cp1251.size(), digest.data()) != 0) return std::nullopt;
    return digest;
}

} // namespace tarmin::moncfg
