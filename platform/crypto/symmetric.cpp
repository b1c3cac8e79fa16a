// The engine's GOST 28147-89 MAC is keyed through a digest control, which
// OpenSSL 3 keeps among its deprecated interfaces.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "platform/crypto/symmetric.h"

#include "platform/crypto/crypto_error.h"
#include "platform/crypto/owned.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstring>

namespace tarmin::crypto {

namespace {

// The engine's digest control that sets the key of a MAC (gost_lcl.h).
constexpr int kMdCtrlSetKey = EVP_MD_CTRL_ALG_CTRL + 4;

constexpr uint8_t kBlobTypeSimple = 0x01;
constexpr uint8_t kBlobVersion = 0x20;
// DER SEQUENCE { OID 1.2.643.2.2.31.1 }: the CryptoPro-A parameter set.
constexpr const char *kParamSetAOid = "1.2.643.2.2.31.1";
constexpr uint8_t kParamSetA[] = {0x30, 0x09, 0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01};
constexpr size_t kBlobUkmOffset = 16;
constexpr size_t kBlobKeyOffset = 24;
constexpr size_t kBlobMacOffset = 56;
constexpr size_t kBlobParamsOffset = 60;
static_assert(kBlobParamsOffset + sizeof kParamSetA == kSimpleBlobSize);

using KeyBytes = std::array<uint8_t, kGostKeySize>;

using CipherCtxPtr = Owned<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using MdCtxPtr = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;

void put_le32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get_le32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

const EVP_CIPHER *cipher(const char *name) {
    if (!ensure_provider()) return nullptr;
    const EVP_CIPHER *c = EVP_get_cipherbyname(name);
    if (!c) set_last_error_openssl(kErrBadAlgorithm);
    return c;
}

// Starts a GOST 28147-89 cipher of the engine with the CryptoPro-A S-box.
// The engine's own default parameter set differs (TC26 Z); the set must be
// chosen between a first initialisation without key and the keyed one, which
// then keeps it.
bool init_cipher(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *c, const uint8_t *key, const uint8_t *iv, bool encrypt,
                 bool key_meshing) {
    if (!EVP_CipherInit_ex(ctx, c, nullptr, nullptr, nullptr, encrypt ? 1 : 0) ||
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_SET_SBOX, 0, const_cast<char *>(kParamSetAOid)) <= 0 ||
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_KEY_MESH, key_meshing ? 1024 : 0, nullptr) <= 0 ||
        !EVP_CipherInit_ex(ctx, nullptr, nullptr, key, iv, encrypt ? 1 : 0))
        return fail_openssl<bool>(kErrInternal);
    return true;
}

// GOST 28147-89 in CFB-64 with CryptoPro key meshing, the whole data at once.
std::optional<Bytes> cfb(bool encrypt, const uint8_t *key, const uint8_t *iv, const void *data, size_t length) {
    const EVP_CIPHER *c = cipher("gost89");
    if (!c) return std::nullopt;
    if (length > static_cast<size_t>(INT32_MAX)) return fail<std::optional<Bytes>>(kErrBadLength);
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return fail<std::optional<Bytes>>(kErrOutOfMemory);
    // The result is often secret (a plaintext, a diversified key): what is
    // not handed out is wiped.
    std::optional<Bytes> out(std::in_place, length);
    int n = 0, tail = 0;
    if (!init_cipher(ctx.get(), c, key, iv, encrypt, true)) return std::nullopt;
    if ((length && !EVP_CipherUpdate(ctx.get(), out->data(), &n, static_cast<const uint8_t *>(data),
                                     static_cast<int>(length))) ||
        !EVP_CipherFinal_ex(ctx.get(), out->data() + n, &tail) || static_cast<size_t>(n + tail) != length) {
        OPENSSL_cleanse(out->data(), out->size());
        return fail_openssl<std::optional<Bytes>>(kErrInternal);
    }
    return out;
}

// GOST 28147-89 ECB on whole blocks. The engine offers no ECB mode; CBC
// with a zero vector restarted for every block is the same thing. The
// engine's cipher keeps its own vector, so each block starts with a full
// initialisation (key and vector).
bool ecb(bool encrypt, const uint8_t *key, const uint8_t *in, uint8_t *out, size_t length) {
    const EVP_CIPHER *c = cipher("gost89-cbc");
    if (!c) return false;
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return fail<bool>(kErrOutOfMemory);
    static const uint8_t zero_iv[kGostIvSize] = {};
    if (!init_cipher(ctx.get(), c, key, zero_iv, encrypt, false)) return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    for (size_t off = 0; off + kGostIvSize <= length; off += kGostIvSize) {
        int n = 0;
        if (!EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key, zero_iv, -1) ||
            !EVP_CipherUpdate(ctx.get(), out + off, &n, in + off, kGostIvSize) || n != kGostIvSize)
            return fail_openssl<bool>(kErrInternal);
    }
    return true;
}

// The imitation insert; a start vector is the same as XOR-ing it into the
// first block of the data, which the engine's MAC (zero start) then takes.
std::optional<Bytes> mac_with_iv(const uint8_t *key, const uint8_t *iv, const void *data, size_t length) {
    if (!ensure_provider()) return std::nullopt;
    const EVP_MD *md = EVP_get_digestbyname("gost-mac");
    if (!md) return fail_openssl<std::optional<Bytes>>(kErrBadAlgorithm);
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) return fail<std::optional<Bytes>>(kErrOutOfMemory);
    if (!EVP_DigestInit_ex(ctx.get(), md, nullptr) ||
        EVP_MD_CTX_ctrl(ctx.get(), kMdCtrlSetKey, kGostKeySize, const_cast<uint8_t *>(key)) <= 0)
        return fail_openssl<std::optional<Bytes>>(kErrInternal);
    const auto *p = static_cast<const uint8_t *>(data);
    size_t skip = 0;
    bool has_iv = false;
    for (size_t i = 0; i < kGostIvSize; ++i) has_iv |= iv[i] != 0;
    if (has_iv) {
        uint8_t first[kGostIvSize] = {};
        skip = length < kGostIvSize ? length : kGostIvSize;
        std::memcpy(first, p, skip);
        for (size_t i = 0; i < kGostIvSize; ++i) first[i] ^= iv[i];
        // A short message is padded with zeros by the MAC itself; the XOR-ed
        // vector must still be fed whole, so the block is fed as 8 bytes only
        // when the data has them.
        if (!EVP_DigestUpdate(ctx.get(), first, length < kGostIvSize ? kGostIvSize : skip))
            return fail_openssl<std::optional<Bytes>>(kErrInternal);
    }
    if (length > skip && !EVP_DigestUpdate(ctx.get(), p + skip, length - skip))
        return fail_openssl<std::optional<Bytes>>(kErrInternal);
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned n = 0;
    if (!EVP_DigestFinal_ex(ctx.get(), out.data(), &n)) return fail_openssl<std::optional<Bytes>>(kErrInternal);
    out.resize(n);
    return out;
}

// S[i] of the KEK diversification: two sums of the key's words, selected by
// the bits of one UKM byte and by their complement.
void diversification_vector(const KeyBytes &key, uint8_t ukm_byte, uint8_t (&s)[kGostIvSize]) {
    uint32_t with = 0, without = 0;
    for (int j = 0; j < 8; ++j) {
        uint32_t k = get_le32(key.data() + 4 * j);
        if (ukm_byte & (1u << j))
            with += k;
        else
            without += k;
    }
    put_le32(s, with);
    put_le32(s + 4, without);
}

SymmetricKeyPtr make_key(const uint8_t *value, const uint8_t *iv, bool exportable);

} // namespace

struct SymmetricKeyAccess {
    static SymmetricKeyPtr make() { return SymmetricKeyPtr(new SymmetricKey()); }
    static KeyBytes &value(SymmetricKey &k) { return k.value_; }
    static const KeyBytes &value(const SymmetricKey &k) { return k.value_; }
    static void set(SymmetricKey &k, const uint8_t *value, const uint8_t *iv, bool exportable) {
        std::memcpy(k.value_.data(), value, kGostKeySize);
        std::memcpy(k.iv_.data(), iv, kGostIvSize);
        k.exportable_ = exportable;
    }
};

namespace {
SymmetricKeyPtr make_key(const uint8_t *value, const uint8_t *iv, bool exportable) {
    SymmetricKeyPtr key = SymmetricKeyAccess::make();
    SymmetricKeyAccess::set(*key, value, iv, exportable);
    return key;
}

bool random_iv(uint8_t (&iv)[kGostIvSize]) { return random_bytes(iv, sizeof iv); }
} // namespace

std::optional<HashAlg> hash_alg_from_id(uint32_t alg_id) {
    switch (alg_id) {
    case kAlgGostR3411: return HashAlg::Gost94;
    case kAlgGostR3411_2012_256: return HashAlg::Streebog256;
    case kAlgGostR3411_2012_512: return HashAlg::Streebog512;
    default: set_last_error(kErrBadAlgorithm); return std::nullopt;
    }
}

SymmetricKey::~SymmetricKey() {
    OPENSSL_cleanse(value_.data(), value_.size());
}

SymmetricKeyPtr SymmetricKey::generate(uint32_t alg_id, bool exportable) {
    if (alg_id != kAlgGost28147) return fail<SymmetricKeyPtr>(kErrBadAlgorithm);
    KeyBytes value;
    uint8_t iv[kGostIvSize];
    if (!random_bytes(value.data(), value.size()) || !random_iv(iv)) return nullptr;
    SymmetricKeyPtr key = make_key(value.data(), iv, exportable);
    OPENSSL_cleanse(value.data(), value.size());
    return key;
}

SymmetricKeyPtr SymmetricKey::derive(uint32_t alg_id, const Bytes &hash_value, bool exportable) {
    if (alg_id != kAlgGost28147) return fail<SymmetricKeyPtr>(kErrBadAlgorithm);
    if (hash_value.size() < kGostKeySize) return fail<SymmetricKeyPtr>(kErrBadLength);
    uint8_t iv[kGostIvSize];
    if (!random_iv(iv)) return nullptr;
    return make_key(hash_value.data(), iv, exportable);
}

SymmetricKeyPtr SymmetricKey::from_value(const uint8_t (&value)[kGostKeySize], const uint8_t (&iv)[kGostIvSize],
                                         bool exportable) {
    return make_key(value, iv, exportable);
}

SymmetricKeyPtr SymmetricKey::duplicate() const {
    SymmetricKeyPtr key = make_key(value_.data(), iv_.data(), exportable_);
    key->alg_id_ = alg_id_;
    return key;
}

bool SymmetricKey::set_alg_id(uint32_t alg_id) {
    if (alg_id != kAlgGost28147 && alg_id != kAlgProExport) return fail<bool>(kErrBadAlgorithm);
    alg_id_ = alg_id;
    return true;
}

bool SymmetricKey::set_iv(const void *iv, size_t length) {
    if (!iv) return fail<bool>(kErrInvalidArg);
    if (length != kGostIvSize) return fail<bool>(kErrBadLength);
    std::memcpy(iv_.data(), iv, kGostIvSize);
    return true;
}

std::optional<Bytes> SymmetricKey::encrypt(const void *data, size_t length) const {
    if (!data && length) return fail<std::optional<Bytes>>(kErrInvalidArg);
    return cfb(true, value_.data(), iv_.data(), data, length);
}

std::optional<Bytes> SymmetricKey::decrypt(const void *data, size_t length) const {
    if (!data && length) return fail<std::optional<Bytes>>(kErrInvalidArg);
    return cfb(false, value_.data(), iv_.data(), data, length);
}

std::optional<Bytes> SymmetricKey::mac(const void *data, size_t length) const {
    if (!data && length) return fail<std::optional<Bytes>>(kErrInvalidArg);
    static const uint8_t zero_iv[kGostIvSize] = {};
    return mac_with_iv(value_.data(), zero_iv, data, length);
}

bool SymmetricKey::hash_into(Hasher &hasher) const {
    if (!hasher.ok()) return fail<bool>(kErrInvalidArg);
    return hasher.update(value_.data(), value_.size());
}

std::optional<Bytes> SymmetricKey::export_simple_blob(const SymmetricKey &kek) const {
    if (kek.alg_id() != kAlgProExport) return fail<std::optional<Bytes>>(kErrBadAlgorithm);
    if (!exportable_) return fail<std::optional<Bytes>>(kErrBadKeyState);
    uint8_t ukm[kGostIvSize];
    if (!random_iv(ukm)) return std::nullopt;
    uint8_t kek_value[kGostKeySize], cek[kGostKeySize];
    std::memcpy(kek_value, kek.value_.data(), kGostKeySize);
    std::memcpy(cek, value_.data(), kGostKeySize);
    std::optional<Bytes> wrapped = wrap_key_cryptopro(kek_value, ukm, cek);
    OPENSSL_cleanse(kek_value, sizeof kek_value);
    OPENSSL_cleanse(cek, sizeof cek);
    if (!wrapped) return std::nullopt;

    Bytes blob(kSimpleBlobSize);
    blob[0] = kBlobTypeSimple;
    blob[1] = kBlobVersion;
    put_le32(&blob[4], kAlgGost28147);
    put_le32(&blob[8], kSimpleBlobMagic);
    put_le32(&blob[12], kAlgGost28147);
    std::memcpy(&blob[kBlobUkmOffset], wrapped->data(), wrapped->size()); // UKM, key, MAC in this order
    std::memcpy(&blob[kBlobParamsOffset], kParamSetA, sizeof kParamSetA);
    return blob;
}

SymmetricKeyPtr SymmetricKey::import_simple_blob(const SymmetricKey &kek, const void *blob, size_t length,
                                                 bool exportable) {
    if (!blob) return fail<SymmetricKeyPtr>(kErrInvalidArg);
    if (kek.alg_id() != kAlgProExport) return fail<SymmetricKeyPtr>(kErrBadAlgorithm);
    const auto *b = static_cast<const uint8_t *>(blob);
    if (length != kSimpleBlobSize || b[0] != kBlobTypeSimple || b[1] != kBlobVersion || b[2] || b[3] ||
        get_le32(b + 4) != kAlgGost28147 || get_le32(b + 8) != kSimpleBlobMagic ||
        get_le32(b + 12) != kAlgGost28147 || std::memcmp(b + kBlobParamsOffset, kParamSetA, sizeof kParamSetA) != 0)
        return fail<SymmetricKeyPtr>(kErrBadData);
    uint8_t kek_value[kGostKeySize];
    std::memcpy(kek_value, kek.value_.data(), kGostKeySize);
    auto cek = unwrap_key_cryptopro(kek_value, b + kBlobUkmOffset, kBlobParamsOffset - kBlobUkmOffset);
    OPENSSL_cleanse(kek_value, sizeof kek_value);
    if (!cek) return nullptr;
    uint8_t iv[kGostIvSize];
    SymmetricKeyPtr key;
    if (random_iv(iv)) key = make_key(cek->data(), iv, exportable);
    OPENSSL_cleanse(cek->data(), cek->size());
    return key;
}

// Wipes a key held in an optional and empties it.
void drop_key(std::optional<KeyBytes> &key) {
    if (key) OPENSSL_cleanse(key->data(), key->size());
    key.reset();
}

// The keys of the wrap live in the result the caller holds: every path
// returns the one named result, so it is built in the caller's place and
// never copied through a local of this frame; every intermediate is wiped
// before it goes.
std::optional<KeyBytes> diversify_kek(const uint8_t (&kek)[kGostKeySize], const uint8_t (&ukm)[kGostIvSize]) {
    std::optional<KeyBytes> key(std::in_place);
    std::memcpy(key->data(), kek, kGostKeySize);
    for (int i = 0; i < 8 && key; ++i) {
        uint8_t s[kGostIvSize];
        diversification_vector(*key, ukm[i], s);
        // K[i+1] = CFB encryption of K[i] under K[i] with the vector S[i].
        std::optional<Bytes> next = cfb(true, key->data(), s, key->data(), key->size());
        OPENSSL_cleanse(s, sizeof s);
        if (!next) {
            drop_key(key);
            break;
        }
        std::memcpy(key->data(), next->data(), kGostKeySize);
        OPENSSL_cleanse(next->data(), next->size());
    }
    return key;
}

std::optional<Bytes> gost_mac(const uint8_t (&key)[kGostKeySize], const uint8_t (&iv)[kGostIvSize], const void *data,
                              size_t length) {
    if (!data && length) return fail<std::optional<Bytes>>(kErrInvalidArg);
    return mac_with_iv(key, iv, data, length);
}

std::optional<Bytes> wrap_key_cryptopro(const uint8_t (&kek)[kGostKeySize], const uint8_t (&ukm)[kGostIvSize],
                                        const uint8_t (&cek)[kGostKeySize]) {
    std::optional<KeyBytes> kek_ukm = diversify_kek(kek, ukm);
    if (!kek_ukm) return std::nullopt;
    uint8_t diversified[kGostKeySize];
    std::memcpy(diversified, kek_ukm->data(), kGostKeySize);
    OPENSSL_cleanse(kek_ukm->data(), kek_ukm->size());

    Bytes out(kGostIvSize + kGostKeySize + kGostMacSize);
    std::memcpy(out.data(), ukm, kGostIvSize);
    std::optional<Bytes> mac = mac_with_iv(diversified, ukm, cek, kGostKeySize);
    bool ok = mac && mac->size() == kGostMacSize &&
              ecb(true, diversified, cek, out.data() + kGostIvSize, kGostKeySize);
    OPENSSL_cleanse(diversified, sizeof diversified);
    if (!ok) return std::nullopt;
    std::memcpy(out.data() + kGostIvSize + kGostKeySize, mac->data(), kGostMacSize);
    return out;
}

std::optional<KeyBytes> unwrap_key_cryptopro(const uint8_t (&kek)[kGostKeySize], const void *wrapped, size_t length) {
    // Every path returns cek (see diversify_kek).
    std::optional<KeyBytes> cek;
    if (!wrapped || length != kGostIvSize + kGostKeySize + kGostMacSize) {
        set_last_error(wrapped ? kErrBadData : kErrInvalidArg);
        return cek;
    }
    const auto *w = static_cast<const uint8_t *>(wrapped);
    uint8_t ukm[kGostIvSize];
    std::memcpy(ukm, w, kGostIvSize);
    std::optional<KeyBytes> kek_ukm = diversify_kek(kek, ukm);
    if (!kek_ukm) return cek;
    uint8_t diversified[kGostKeySize];
    std::memcpy(diversified, kek_ukm->data(), kGostKeySize);
    OPENSSL_cleanse(kek_ukm->data(), kek_ukm->size());

    cek.emplace();
    bool ok = ecb(false, diversified, w + kGostIvSize, cek->data(), kGostKeySize);
    std::optional<Bytes> mac;
    if (ok) mac = mac_with_iv(diversified, ukm, cek->data(), kGostKeySize);
    OPENSSL_cleanse(diversified, sizeof diversified);
    if (!ok || !mac) {
        drop_key(cek);
    } else if (mac->size() != kGostMacSize ||
               CRYPTO_memcmp(mac->data(), w + kGostIvSize + kGostKeySize, kGostMacSize) != 0) {
        // A wrong KEK or an altered blob: the MAC of what came out does not match.
        drop_key(cek);
        set_last_error(kErrBadData);
    }
    return cek;
}

} // namespace tarmin::crypto
