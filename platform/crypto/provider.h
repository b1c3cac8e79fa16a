// The GOST provider: OpenSSL 3 with the GOST engine, loaded by the library
// itself at first use (ENGINE_by_id("gost"), initialised and made the default
// for every method), without reading the system openssl.cnf. The engine is
// looked for where OpenSSL keeps its engines, or in $OPENSSL_ENGINES.
//
// Every function below loads the provider first; when the engine is missing it
// fails with kErrProviderMissing, and provider_error_text() says why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/evp.h>

#pragma GCC visibility push(default)

namespace tarmin::crypto {

using Bytes = std::vector<uint8_t>;

struct EvpPkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;

// Loads the engine once per process. false (last error kErrProviderMissing)
// when it cannot be loaded.
bool ensure_provider();
// Why the engine could not be loaded (UTF-8), for tools and error boxes.
std::string provider_error_text();

// The provider name, as PP_NAME reads it for keys of this provider.
inline constexpr const char *kProviderName = "Kelvoria GOST CSP (OpenSSL gost engine)";

enum class HashAlg {
    Gost94,      // GOST R 34.11-94, CryptoPro parameters ("1.2.643.2.2.9")
    Streebog256, // GOST R 34.11-2012, 256 bits ("1.2.643.7.1.1.2.2")
    Streebog512, // GOST R 34.11-2012, 512 bits ("1.2.643.7.1.1.2.3")
};
// The digest of an algorithm, null (with the last error) when unavailable.
const EVP_MD *digest_of(HashAlg alg);
// The hash of a block.
std::optional<Bytes> hash(HashAlg alg, const void *data, size_t length);

// Incremental hashing.
class Hasher {
public:
    explicit Hasher(HashAlg alg);
    ~Hasher();
    Hasher(const Hasher &) = delete;
    Hasher &operator=(const Hasher &) = delete;
    bool ok() const { return ctx_ != nullptr; }
    bool update(const void *data, size_t length);
    std::optional<Bytes> finish();
    size_t size() const;

private:
    EVP_MD_CTX *ctx_ = nullptr;
};

// Random bytes of the provider.
bool random_bytes(void *buffer, size_t length);

enum class KeyAlg {
    Gost2001,     // GOST R 34.10-2001 ("1.2.643.2.2.19")
    Gost2012_256, // GOST R 34.10-2012, 256 bits ("1.2.643.7.1.1.1.1")
    Gost2012_512, // GOST R 34.10-2012, 512 bits ("1.2.643.7.1.1.1.2")
};
// A new key pair; paramset empty takes "A".
EvpPkeyPtr generate_key(KeyAlg alg, std::string_view paramset = {});
// The generation of a key: Gost2001, Gost2012_256 or Gost2012_512 (nullopt for
// a key that is not GOST).
std::optional<KeyAlg> key_alg_of(const EVP_PKEY *key);

// PEM (PKCS #8, unencrypted) text of a private key, and back. Reading never
// asks for a password: an encrypted key opens only with the password given
// (kErrBadKeyset when it is wrong) and fails with kErrKeyEncrypted without
// one.
std::optional<std::string> private_key_to_pem(EVP_PKEY *key);
EvpPkeyPtr private_key_from_pem(std::string_view pem, std::string_view password = {});

// Text form of an object identifier ("1.2.643.2.2.9").
std::string oid_text(const ASN1_OBJECT *obj);

} // namespace tarmin::crypto

#pragma GCC visibility pop
