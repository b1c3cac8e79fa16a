// The settings password: a 32-byte digest (QZ_HashPassword) kept in the
// binary value "Hash" of the product key, or a single zero byte when no
// password is set. The password itself is never stored; digests are only
// compared byte for byte. Needs the common services initialised.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace tarmin::moncfg {

using PasswordDigest = std::array<unsigned char, 32>;

class SettingsPassword {
public:
    // Reads "Hash"; a missing value reads as the no-password marker.
    static SettingsPassword read();

    // Whether a password guards the settings: any stored length but 1.
    bool isSet() const { return m_length != 1; }
    // Whether digest is the stored one; a stored value that is not a 32-byte
    // digest matches nothing.
    bool matches(const PasswordDigest &digest) const;

    // Writes the digest of a new password / the no-password marker.
    static bool store(const PasswordDigest &digest);
    static bool clear();

private:
    unsigned m_length = 1;
    std::optional<PasswordDigest> m_digest;
};

// The digest of a password given as Windows-1251 bytes; nullopt when the
// common services cannot compute it (not initialised).
std::optional<PasswordDigest> passwordDigest(std::string_view cp1251);

} // namespace tarmin::moncfg
