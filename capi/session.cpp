// Session keys: handles, the session blob under the session-wrapping key,
// combined keys, session containers, the file key; and the pieces that the
// file containers share with them (MAC, trailer fields).
#include "capi/session_key.h"
#include "platform/crypto/crypto_error.h"

#include <openssl/crypto.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>
#include <new>

using namespace tarmin;
using namespace tarmin::qzms;

namespace tarmin::qzms {

namespace {

// Every party that exchanges session blobs derives the session-wrapping key
// from these bytes; changing them makes older blobs unreadable.
constexpr uint8_t kSessionWrapConstant[32] = {
    0x54, 0x61, 0x72, 0x6D, 0x69, 0x6E, 0x2D, 0x53, 0x4B, 0x5A, 0x49, 0x2F, 0x73, 0x65, 0x73, 0x73,
    0x69, 0x6F, 0x6E, 0x2D, 0x77, 0x72, 0x61, 0x70, 0x9C, 0x3E, 0x51, 0xA7, 0x06, 0xD2, 0x48, 0xE1,
};

// The SIMPLEBLOB of a session blob has a fixed size; the room the blob may
// take is larger, as the interface allows.
constexpr uint32_t kSessionBlobRoom = 1024;

uint32_t get_le32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put_le32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The key of a handle, or the failure of the first use of an unusable handle
// recorded the way the provider reports a bad key.
KeyRef usable_key(CapiContext *ctx, HCRYPTKEY handle, uint32_t code, const std::string &arg, const char *step,
                  const char *caller) {
    KeyRef key = key_of(handle);
    if (!key) {
        crypto::set_last_error(crypto::kErrBadKey);
        record_error(ctx, true, code, arg, "", step, caller);
    }
    return key;
}

// A hash object of HashAlgNumber; records 0x4035 when there is none.
std::unique_ptr<crypto::Hasher> create_hash(CapiContext *ctx, const char *caller) {
    auto alg = crypto::hash_alg_from_id(ctx->HashAlgNumber);
    auto hasher = alg ? std::make_unique<crypto::Hasher>(*alg) : nullptr;
    if (!hasher || !hasher->ok()) {
        record_error(ctx, true, 0x4035, "", "", "CryptCreateHash()", caller);
        return nullptr;
    }
    return hasher;
}

// An exportable key of KeyAlgNumber from the hash value; records 0x403A.
crypto::SymmetricKeyPtr derive_key(CapiContext *ctx, crypto::Hasher &hasher, const char *caller) {
    std::optional<Bytes> value = hasher.finish();
    crypto::SymmetricKeyPtr key;
    if (value) key = crypto::SymmetricKey::derive(ctx->KeyAlgNumber, *value, true);
    if (value) wipe(*value);
    if (!key) record_error(ctx, true, 0x403A, "", "", "CyptDeriveKey()", caller);
    return key;
}

// The session-wrapping key: the hash of the library's constant with
// HashAlgNumber, a key of KeyAlgNumber derived from it, made a key-export
// key of AlgIdNumber.
crypto::SymmetricKeyPtr session_wrapping_key(CapiContext *ctx, const char *caller) {
    auto hasher = create_hash(ctx, caller);
    if (!hasher) return nullptr;
    if (!hasher->update(kSessionWrapConstant, sizeof kSessionWrapConstant)) {
        record_error(ctx, true, 0x4036, "", "", "CryptHashData()", caller);
        return nullptr;
    }
    crypto::SymmetricKeyPtr key = derive_key(ctx, *hasher, caller);
    if (!key) return nullptr;
    if (!key->set_alg_id(ctx->AlgIdNumber)) {
        record_error(ctx, true, 0x403B, "KP_ALGID", "", "CryptSetKeyParam()", caller);
        return nullptr;
    }
    return key;
}

// Hands out a new handle for key; records 0x4009 when memory is exhausted.
bool hand_out_key(CapiContext *ctx, crypto::SymmetricKeyPtr key, HCRYPTKEY *out, const char *caller) {
    HCRYPTKEY handle = make_key_handle(ctx, std::move(key));
    if (!handle) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return false;
    }
    *out = handle;
    return true;
}

int32_t encrypt_session(CapiContext *ctx, const CapiBlob *data, HCRYPTKEY handle, CapiBlob *out) {
    const char *caller = "CCA_encrypt_session()";
    KeyRef key = usable_key(ctx, handle, 0x403E, "KP_IV", "CryptGetKeyParam()", caller);
    if (!key) return -1;
    if (!sealable(ctx, data, caller)) return -1;
    // Each container gets a vector of its own: the same key with the same
    // vector would give equal ciphertext for equal beginnings.
    crypto::SymmetricKeyPtr working = key->duplicate();
    uint8_t iv[crypto::kGostIvSize];
    if (!crypto::random_bytes(iv, sizeof iv) || !working->set_iv(iv, sizeof iv)) {
        record_error(ctx, true, 0x403E, "KP_IV", "", "CryptGetKeyParam()", caller);
        return -1;
    }
    std::optional<Bytes> cipher = working->encrypt(data->pbData, data->cbData);
    if (!cipher) {
        record_error(ctx, true, 0x4041, "", "", "CryptEncrypt()", caller);
        return -1;
    }
    std::optional<Bytes> mac = impr_data(ctx, *working, data->pbData, data->cbData);
    if (!mac) return -1;
    Bytes trailer;
    append_field(trailer, working->iv().data(), working->iv().size());
    append_field(trailer, mac->data(), mac->size());
    if (!hand_out_joined(out, *cipher, trailer)) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
    return 0;
}

int32_t decrypt_session(CapiContext *ctx, const CapiBlob *container, HCRYPTKEY handle, CapiBlob *out) {
    const char *caller = "CCA_decrypt_session()";
    TrailerReader reader(container ? container->pbData : nullptr, container ? container->cbData : 0);
    uint32_t mac_length = 0, iv_length = 0;
    const uint8_t *mac = reader.take(kMaxMac, &mac_length);
    const uint8_t *iv = mac ? reader.take(kMaxVector, &iv_length) : nullptr;
    // A MAC of no bytes would check nothing.
    if (!mac || !iv || mac_length == 0 || reader.rest_length() == 0) {
        record_error(ctx, false, 0x4044, "", "", "crypt_struct_error", caller);
        return -1;
    }
    KeyRef key = usable_key(ctx, handle, 0x403B, "KP_IV", "CryptSetKeyParam()", caller);
    if (!key) return -1;
    // The container's vector goes on a copy: a container that fails to open
    // must not change the caller's key.
    crypto::SymmetricKeyPtr working = key->duplicate();
    if (!working->set_iv(iv, iv_length)) {
        record_error(ctx, true, 0x403B, "KP_IV", "", "CryptSetKeyParam()", caller);
        return -1;
    }
    return open_sealed(ctx, *working, reader.rest(), reader.rest_length(), mac, mac_length, out, caller);
}

int32_t get_session(CapiContext *ctx, HCRYPTKEY handle, unsigned char **blob, uint32_t *length) {
    const char *caller = "CCA_get_session()";
    KeyRef key = usable_key(ctx, handle, 0x403E, "KP_IV", "CryptGetKeyParam()", caller);
    if (!key) return -1;
    const auto &iv = key->iv();
    crypto::SymmetricKeyPtr wrapping = session_wrapping_key(ctx, caller);
    if (!wrapping) return -1;
    std::optional<Bytes> simple = key->export_simple_blob(*wrapping);
    if (!simple || simple->size() > kSessionBlobRoom) {
        if (simple) crypto::set_last_error(crypto::kErrBadLength);
        record_error(ctx, true, 0x403C, "", "", "CryptExportKey()", caller);
        return -1;
    }
    // Wrapped under a key every copy of the library derives, the blob is as
    // good as the key: the working copy is wiped.
    size_t total = 4 + iv.size() + simple->size();
    unsigned char *p = alloc_block(total);
    if (!p) {
        wipe(*simple);
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
    put_le32(p, static_cast<uint32_t>(iv.size()));
    std::memcpy(p + 4, iv.data(), iv.size());
    std::memcpy(p + 4 + iv.size(), simple->data(), simple->size());
    wipe(*simple);
    *blob = p;
    *length = static_cast<uint32_t>(total);
    return 0;
}

int32_t put_session(CapiContext *ctx, const unsigned char *blob, uint32_t length, HCRYPTKEY *out) {
    const char *caller = "CCA_put_session()";
    // The vector's length must leave room for a wrapped key behind it.
    uint64_t iv_length = blob && length >= 4 ? get_le32(blob) : UINT64_MAX;
    if (iv_length == UINT64_MAX || iv_length + 4 >= length || iv_length > kMaxVector) {
        record_error(ctx, false, 0x403F, "", "", "((len_sp+4>= SessionLength)||(len_sp>MAX_SP))", caller);
        return -1;
    }
    crypto::SymmetricKeyPtr wrapping = session_wrapping_key(ctx, caller);
    if (!wrapping) return -1;
    const unsigned char *simple = blob + 4 + iv_length;
    crypto::SymmetricKeyPtr key =
        crypto::SymmetricKey::import_simple_blob(*wrapping, simple, length - 4 - iv_length, true);
    if (!key) {
        record_error(ctx, true, 0x403D, "", "", "CryptImportKey()", caller);
        return -1;
    }
    if (!key->set_iv(blob + 4, iv_length)) {
        record_error(ctx, true, 0x403B, "KP_IV", "", "CryptSetKeyParam()", caller);
        return -1;
    }
    return hand_out_key(ctx, std::move(key), out, caller) ? 0 : -1;
}

int32_t xor_session(CapiContext *ctx, HCRYPTKEY handle1, HCRYPTKEY handle2, HCRYPTKEY *out) {
    const char *caller = "CCA_xor_session()";
    KeyRef key1 = usable_key(ctx, handle1, 0x403E, "KP_IV", "CryptGetKeyParam()", caller);
    if (!key1) return -1;
    const auto iv = key1->iv();
    auto hasher = create_hash(ctx, caller);
    if (!hasher) return -1;
    if (!key1->hash_into(*hasher)) {
        record_error(ctx, true, 0x4040, "hKey1", "", "CryptHashSessionKey()", caller);
        return -1;
    }
    KeyRef key2 = usable_key(ctx, handle2, 0x4040, "hKey2", "CryptHashSessionKey()", caller);
    if (!key2) return -1;
    if (!key2->hash_into(*hasher)) {
        record_error(ctx, true, 0x4040, "hKey2", "", "CryptHashSessionKey()", caller);
        return -1;
    }
    crypto::SymmetricKeyPtr key = derive_key(ctx, *hasher, caller);
    if (!key) return -1;
    if (!key->set_iv(iv.data(), iv.size())) {
        record_error(ctx, true, 0x403B, "KP_IV", "", "CryptSetKeyParam()", caller);
        return -1;
    }
    return hand_out_key(ctx, std::move(key), out, caller) ? 0 : -1;
}

} // namespace

namespace {

// The live handles: number -> key and the context it was made on. Contexts
// may be used on different threads at once, so the table has a lock.
struct KeyTable {
    struct Entry {
        KeyRef key;
        const CapiContext *owner;
    };
    std::mutex lock;
    // Numbers start high and odd, far from small integers and from the
    // aligned addresses of live memory that a caller might confuse with one.
    uint64_t next = 0x51A7E00000000001ULL;
    std::unordered_map<uint64_t, Entry> live;
};
KeyTable &key_table() {
    static KeyTable *table = new KeyTable; // outlives every static destructor
    return *table;
}

uint64_t number_of(HCRYPTKEY handle) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)); }

} // namespace

HCRYPTKEY make_key_handle(const CapiContext *owner, crypto::SymmetricKeyPtr key) {
    if (!key) return nullptr;
    try {
        KeyRef shared(std::move(key));
        KeyTable &t = key_table();
        std::lock_guard<std::mutex> guard(t.lock);
        uint64_t number = t.next;
        t.next += 2;
        t.live.emplace(number, KeyTable::Entry{std::move(shared), owner});
        return reinterpret_cast<HCRYPTKEY>(static_cast<uintptr_t>(number));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

KeyRef key_of(HCRYPTKEY handle) {
    if (!handle) return nullptr;
    KeyTable &t = key_table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.live.find(number_of(handle));
    return it == t.live.end() ? nullptr : it->second.key;
}

void destroy_key_handle(HCRYPTKEY handle) {
    if (!handle) return;
    KeyRef gone;
    KeyTable &t = key_table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.live.find(number_of(handle));
    if (it == t.live.end()) return;
    gone = std::move(it->second.key); // wiped when the last user lets it go
    t.live.erase(it);
}

void release_context_keys(CapiContext *ctx) {
    if (!ctx) return;
    // A file key set from elsewhere dies with the context too.
    destroy_key_handle(static_cast<HCRYPTKEY>(ctx->CryptFileKey));
    ctx->CryptFileKey = nullptr;
    std::vector<KeyRef> mine;
    KeyTable &t = key_table();
    std::lock_guard<std::mutex> guard(t.lock);
    for (auto it = t.live.begin(); it != t.live.end();) {
        if (it->second.owner == ctx) {
            mine.push_back(std::move(it->second.key));
            it = t.live.erase(it);
        } else {
            ++it;
        }
    }
}

std::optional<Bytes> impr_data(CapiContext *ctx, const crypto::SymmetricKey &key, const void *data, size_t length) {
    const char *caller = "impr_data()";
    if (ctx->ImitAlgNumber != crypto::kAlgGost28147Mac) {
        crypto::set_last_error(crypto::kErrBadAlgorithm);
        record_error(ctx, true, 0x4035, "", "", "CryptCreateHash()", caller);
        return std::nullopt;
    }
    std::optional<Bytes> mac = key.mac(data, length);
    if (!mac) {
        record_error(ctx, true, 0x4036, "", "", "CryptHashData()", caller);
        return std::nullopt;
    }
    if (mac->empty() || mac->size() > kMaxMac) {
        crypto::set_last_error(crypto::kErrBadLength);
        record_error(ctx, true, 0x4037, "HP_HASHVAL", "", "CryptGetHashParam()", caller);
        return std::nullopt;
    }
    return mac;
}

bool sealable(CapiContext *ctx, const CapiBlob *data, const char *caller) {
    if (data && data->cbData && data->pbData) return true;
    // An empty ciphertext makes a container that no one can open.
    crypto::set_last_error(data && data->cbData == 0 ? crypto::kErrBadLength : crypto::kErrInvalidArg);
    record_error(ctx, true, 0x4041, "", "", "CryptEncrypt()", caller);
    return false;
}

int32_t open_sealed(CapiContext *ctx, const crypto::SymmetricKey &key, const uint8_t *cipher, size_t length,
                    const uint8_t *mac, uint32_t mac_length, CapiBlob *out, const char *caller) {
    std::optional<Bytes> plain = key.decrypt(cipher, length);
    if (!plain) {
        record_error(ctx, true, 0x4042, "", "", "CryptDecrypt()", caller);
        return -1;
    }
    // The whole MAC must match: a shorter one would check less.
    std::optional<Bytes> computed = impr_data(ctx, key, plain->data(), plain->size());
    if (!computed || computed->size() != mac_length || CRYPTO_memcmp(computed->data(), mac, mac_length) != 0) {
        wipe(*plain);
        if (computed) record_error(ctx, false, 0x4043, "", "", "memcmp(impr_r,impr,len_impr)", caller);
        return -1;
    }
    bool ok = hand_out(out, plain->data(), plain->size());
    wipe(*plain);
    if (!ok) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
    return 0;
}

const uint8_t *TrailerReader::take(uint32_t limit, uint32_t *length) {
    if (left_ < 4) return nullptr;
    uint32_t n = get_le32(data_ + left_ - 4);
    if (n > limit || n > left_ - 4) return nullptr;
    left_ -= 4 + static_cast<size_t>(n);
    *length = n;
    return data_ + left_;
}

void append_field(Bytes &out, const void *data, size_t length) {
    const auto *p = static_cast<const uint8_t *>(data);
    out.insert(out.end(), p, p + length);
    uint8_t n[4];
    put_le32(n, static_cast<uint32_t>(length));
    out.insert(out.end(), n, n + 4);
}

void wipe(Bytes &b) {
    if (!b.empty()) OPENSSL_cleanse(b.data(), b.size());
}

void reset_blob(CapiBlob *b) {
    if (b) {
        b->pbData = nullptr;
        b->cbData = 0;
    }
}

bool hand_out_joined(CapiBlob *out, const Bytes &head, const Bytes &tail) {
    if (head.size() > UINT32_MAX - tail.size()) return false;
    unsigned char *p = alloc_block(head.size() + tail.size());
    if (!p) return false;
    if (!head.empty()) std::memcpy(p, head.data(), head.size());
    if (!tail.empty()) std::memcpy(p + head.size(), tail.data(), tail.size());
    out->pbData = p;
    out->cbData = static_cast<uint32_t>(head.size() + tail.size());
    return true;
}

} // namespace tarmin::qzms

extern "C" {

int32_t CCA_create_session(CapiContext *ctx, HCRYPTKEY *key) {
    if (key) *key = nullptr;
    if (!ctx || !key) return -1;
    const char *caller = "CCA_create_session()";
    return guarded(ctx, caller, [&] {
        crypto::SymmetricKeyPtr fresh = crypto::SymmetricKey::generate(ctx->KeyAlgNumber, true);
        if (!fresh) {
            record_error(ctx, true, 0x4039, "", "", "CryptGenKey()", caller);
            return -1;
        }
        return hand_out_key(ctx, std::move(fresh), key, caller) ? 0 : -1;
    });
}

int32_t CCA_session_free(CapiContext *ctx, HCRYPTKEY key) {
    if (!key || (ctx && ctx->CryptFileKey == key)) return 0;
    destroy_key_handle(key);
    return 0;
}

int32_t CCA_get_session(CapiContext *ctx, HCRYPTKEY key, unsigned char **blob, uint32_t *length) {
    if (blob) *blob = nullptr;
    if (length) *length = 0;
    if (!ctx || !blob || !length) return -1;
    return guarded(ctx, "CCA_get_session()", [&] { return get_session(ctx, key, blob, length); });
}

int32_t CCA_put_session(CapiContext *ctx, const unsigned char *blob, uint32_t length, HCRYPTKEY *key) {
    if (key) *key = nullptr;
    if (!ctx || !key) return -1;
    return guarded(ctx, "CCA_put_session()", [&] { return put_session(ctx, blob, length, key); });
}

int32_t CCA_xor_session(CapiContext *ctx, HCRYPTKEY key1, HCRYPTKEY key2, HCRYPTKEY *key) {
    if (key) *key = nullptr;
    if (!ctx || !key) return -1;
    return guarded(ctx, "CCA_xor_session()", [&] { return xor_session(ctx, key1, key2, key); });
}

int32_t CCA_encrypt_session(CapiContext *ctx, const CapiBlob *data, HCRYPTKEY key, void *, CapiBlob *container) {
    reset_blob(container);
    if (!ctx || !container) return -1;
    return guarded(ctx, "CCA_encrypt_session()", [&] { return encrypt_session(ctx, data, key, container); });
}

int32_t CCA_decrypt_session(CapiContext *ctx, const CapiBlob *container, HCRYPTKEY key, void *, CapiBlob *data) {
    reset_blob(data);
    if (!ctx || !data) return -1;
    return guarded(ctx, "CCA_decrypt_session()", [&] { return decrypt_session(ctx, container, key, data); });
}

int32_t CCA_file_session(CapiContext *ctx, HCRYPTKEY *key) {
    if (key) *key = nullptr;
    if (!ctx || !key) return -1;
    if (!ctx->CryptFileKey) {
        record_error(ctx, false, 0x4045, "", "", "(!ctx->CryptFileKey)", "CCA_file_session()");
        return -1;
    }
    *key = static_cast<HCRYPTKEY>(ctx->CryptFileKey);
    return 0;
}

} // extern "C"
