// QZ_HashPassword: the digest of the settings password.
#include <climits>
#include <cstring>
#include <string>

#include <openssl/evp.h>

#include "common/codepage.h"
#include "qzcom.h"

namespace {

// The digest sits in the settings store, which every local process of the
// user can read; many iterations make guessing the password slow.
constexpr int kIterations = 100000;
constexpr int kDigestLength = 32;

} // namespace

extern "C" int QZ_HashPassword(const void *text, size_t length, unsigned char out[32]) {
    if (!out) return -1;
    std::memset(out, 0, kDigestLength);
    if ((!text && length > 0) || length > INT_MAX) return -1;
    const char *key_path = QZ_GetProductKeyName();
    if (!key_path) return -1;
    try {
        // Key paths compare case-insensitively, so the salt must not depend on
        // how a profile name was typed.
        const std::string salt = tarmin::cp::lower_1251(key_path);
        const char *password = text ? static_cast<const char *>(text) : "";
        int ok = PKCS5_PBKDF2_HMAC(password, static_cast<int>(length),
                                   reinterpret_cast<const unsigned char *>(salt.data()), static_cast<int>(salt.size()),
                                   kIterations, EVP_sha256(), kDigestLength, out);
        if (ok == 1) return 0;
    } catch (...) {
    }
    std::memset(out, 0, kDigestLength);
    return -1;
}
