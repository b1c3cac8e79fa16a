// The engine interface is the one way to reach GOST keys in this OpenSSL.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "platform/crypto/provider.h"

#include "platform/crypto/crypto_error.h"

#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>
#include <mutex>

namespace tarmin::crypto {

namespace {
std::once_flag g_once;
bool g_loaded = false;
std::string g_load_error;

void load_engine() {
    // The suite configures its provider itself: the system openssl.cnf may
    // name other engines or none.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
    ENGINE *e = ENGINE_by_id("gost");
    if (!e) {
        unsigned long err = ERR_peek_last_error();
        char buf[256] = "";
        if (err) ERR_error_string_n(err, buf, sizeof buf);
        ERR_clear_error();
        g_load_error = "the GOST engine of OpenSSL (gost.so, package libengine-gost-openssl) cannot be loaded";
        if (*buf) g_load_error += std::string(": ") + buf;
        return;
    }
    if (!ENGINE_init(e)) {
        ENGINE_free(e);
        ERR_clear_error();
        g_load_error = "the GOST engine of OpenSSL cannot be initialised";
        return;
    }
    // Without the default for every method, PEM GOST keys fail to decode.
    if (!ENGINE_set_default(e, ENGINE_METHOD_ALL)) {
        ENGINE_finish(e);
        ENGINE_free(e);
        ERR_clear_error();
        g_load_error = "the GOST engine of OpenSSL cannot be made the default";
        return;
    }
    // The functional reference of ENGINE_init keeps the engine for the life of
    // the process; the structural one of ENGINE_by_id is not needed further.
    ENGINE_free(e);
    g_loaded = true;
}

const char *digest_name(HashAlg alg) {
    switch (alg) {
    case HashAlg::Gost94: return "md_gost94";
    case HashAlg::Streebog256: return "md_gost12_256";
    case HashAlg::Streebog512: return "md_gost12_512";
    }
    return "";
}
} // namespace

bool ensure_provider() {
    std::call_once(g_once, load_engine);
    if (!g_loaded) set_last_error(kErrProviderMissing);
    return g_loaded;
}

std::string provider_error_text() {
    ensure_provider();
    return g_load_error;
}

const EVP_MD *digest_of(HashAlg alg) {
    if (!ensure_provider()) return nullptr;
    const EVP_MD *md = EVP_get_digestbyname(digest_name(alg));
    if (!md) set_last_error_openssl(kErrBadAlgorithm);
    return md;
}

std::optional<Bytes> hash(HashAlg alg, const void *data, size_t length) {
    Hasher h(alg);
    if (!h.ok() || !h.update(data, length)) return std::nullopt;
    return h.finish();
}

Hasher::Hasher(HashAlg alg) {
    const EVP_MD *md = digest_of(alg);
    if (!md) return;
    ctx_ = EVP_MD_CTX_new();
    if (!ctx_) {
        set_last_error(kErrOutOfMemory);
        return;
    }
    if (!EVP_DigestInit_ex(ctx_, md, nullptr)) {
        set_last_error_openssl(kErrInternal);
        EVP_MD_CTX_free(ctx_);
        ctx_ = nullptr;
    }
}

Hasher::~Hasher() { EVP_MD_CTX_free(ctx_); }

bool Hasher::update(const void *data, size_t length) {
    if (!ctx_) return false;
    if (length && !EVP_DigestUpdate(ctx_, data, length)) {
        set_last_error_openssl(kErrInternal);
        return false;
    }
    return true;
}

size_t Hasher::size() const { return ctx_ ? static_cast<size_t>(EVP_MD_CTX_get_size(ctx_)) : 0; }

std::optional<Bytes> Hasher::finish() {
    if (!ctx_) return std::nullopt;
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    if (!EVP_DigestFinal_ex(ctx_, out.data(), &n)) {
        set_last_error_openssl(kErrInternal);
        return std::nullopt;
    }
    out.resize(n);
    return out;
}

bool random_bytes(void *buffer, size_t length) {
    if (!ensure_provider()) return false;
    if (length == 0) return true;
    if (!buffer) {
        set_last_error(kErrInvalidArg);
        return false;
    }
    if (RAND_bytes(static_cast<unsigned char *>(buffer), static_cast<int>(length)) != 1) {
        set_last_error_openssl(kErrInternal);
        return false;
    }
    return true;
}

EvpPkeyPtr generate_key(KeyAlg alg, std::string_view paramset) {
    if (!ensure_provider()) return nullptr;
    int nid = alg == KeyAlg::Gost2001       ? NID_id_GostR3410_2001
              : alg == KeyAlg::Gost2012_256 ? NID_id_GostR3410_2012_256
                                            : NID_id_GostR3410_2012_512;
    std::string ps = paramset.empty() ? "A" : std::string(paramset);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_id(nid, nullptr);
    EVP_PKEY *key = nullptr;
    bool ok = ctx && EVP_PKEY_keygen_init(ctx) > 0 && EVP_PKEY_CTX_ctrl_str(ctx, "paramset", ps.c_str()) > 0 &&
              EVP_PKEY_keygen(ctx, &key) > 0;
    if (!ok) set_last_error_openssl(kErrBadAlgorithm);
    EVP_PKEY_CTX_free(ctx);
    return EvpPkeyPtr(ok ? key : nullptr);
}

std::optional<KeyAlg> key_alg_of(const EVP_PKEY *key) {
    if (!key) return std::nullopt;
    switch (EVP_PKEY_get_base_id(key)) {
    case NID_id_GostR3410_2001: return KeyAlg::Gost2001;
    case NID_id_GostR3410_2012_256: return KeyAlg::Gost2012_256;
    case NID_id_GostR3410_2012_512: return KeyAlg::Gost2012_512;
    default: return std::nullopt;
    }
}

std::optional<std::string> private_key_to_pem(EVP_PKEY *key) {
    if (!ensure_provider()) return std::nullopt;
    BIO *bio = BIO_new(BIO_s_mem());
    if (!bio || !PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr)) {
        set_last_error_openssl(kErrBadKeyset);
        BIO_free(bio);
        return std::nullopt;
    }
    char *p = nullptr;
    long n = BIO_get_mem_data(bio, &p);
    std::string out(p, static_cast<size_t>(n));
    BIO_free(bio);
    return out;
}

namespace {

// What the password callback is given, and what it tells back.
struct PasswordRequest {
    std::string_view password;
    bool asked = false;
};

// Hands over the caller's password, or refuses when there is none. Without
// a callback of its own OpenSSL would ask on the terminal, or read the
// process's standard input when there is no terminal: a library must never
// do either.
int password_callback(char *buf, int size, int, void *user) {
    auto *req = static_cast<PasswordRequest *>(user);
    req->asked = true;
    if (req->password.empty() || req->password.size() > static_cast<size_t>(size)) return -1;
    std::memcpy(buf, req->password.data(), req->password.size());
    return static_cast<int>(req->password.size());
}

} // namespace

EvpPkeyPtr private_key_from_pem(std::string_view pem, std::string_view password) {
    if (!ensure_provider()) return nullptr;
    if (pem.size() > static_cast<size_t>(INT32_MAX)) {
        set_last_error(kErrBadKeyset);
        return nullptr;
    }
    PasswordRequest req{password};
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY *key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, password_callback, &req) : nullptr;
    BIO_free(bio);
    if (!key) set_last_error_openssl(req.asked && password.empty() ? kErrKeyEncrypted : kErrBadKeyset);
    return EvpPkeyPtr(key);
}

std::string oid_text(const ASN1_OBJECT *obj) {
    if (!obj) return {};
    char buf[128];
    int n = OBJ_obj2txt(buf, sizeof buf, obj, 1);
    if (n <= 0) return {};
    if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    OBJ_obj2txt(big.data(), n + 1, obj, 1);
    big.resize(static_cast<size_t>(n));
    return big;
}

} // namespace tarmin::crypto
