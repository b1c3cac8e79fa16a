#include "platform/crypto/envelope.h"

#include "platform/crypto/crypto_error.h"
#include "platform/crypto/owned.h"
#include "platform/crypto/symmetric.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <new>

namespace tarmin::crypto {

namespace {

using CmsPtr = Owned<CMS_ContentInfo, CMS_ContentInfo_free>;
using BioPtr = Owned<BIO, BIO_free>;

bool is_gost_key(const EVP_PKEY *key) { return key && key_alg_of(key).has_value(); }

// DER of an ASN.1 object through its i2d function.
template <typename T, typename F> Bytes to_der(const T *obj, F i2d) {
    int n = i2d(const_cast<T *>(obj), nullptr);
    if (n <= 0) return {};
    Bytes out(static_cast<size_t>(n));
    uint8_t *p = out.data();
    i2d(const_cast<T *>(obj), &p);
    return out;
}

// A little-endian serial from an ASN.1 integer, as the system's
// certificate structure keeps it: the bytes of its DER content reversed.
Bytes serial_le_of(const ASN1_INTEGER *serial) {
    Bytes der = to_der(serial, i2d_ASN1_INTEGER);
    if (der.size() < 2) return {};
    // Skip the tag and the length octets.
    size_t header = 2;
    if (der[1] & 0x80) header += der[1] & 0x7F;
    if (header > der.size()) return {};
    return Bytes(der.rbegin(), der.rend() - static_cast<std::ptrdiff_t>(header));
}

// Decodes enveloped data; the kind of failure in the last error.
CmsPtr decode_enveloped(const void *data, size_t length) {
    if (!data || !length || length > static_cast<size_t>(LONG_MAX)) return fail<CmsPtr>(kErrBadEncoding);
    if (!ensure_provider()) return nullptr;
    const auto *p = static_cast<const unsigned char *>(data);
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(length)));
    if (!cms) return fail_openssl<CmsPtr>(kErrBadEncoding);
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_enveloped) return fail<CmsPtr>(kErrBadMessage);
    return cms;
}

// ---- Checks before the engine sees a message ------------------------------
//
// The engine trusts the shape of what it decodes: content parameters that are
// not the GOST sequence, or a key transport without its parameters or with
// fields of other lengths, crash it or abort the process. Enveloped data is
// outside input, so those parts are checked here, on the DER re-encoding of
// the decoded message (definite lengths whatever the sender wrote).

struct DerItem {
    uint8_t tag = 0;
    const uint8_t *content = nullptr;
    size_t length = 0;
    const uint8_t *end = nullptr;
};

bool read_item(const uint8_t *p, const uint8_t *limit, DerItem *item) {
    if (p >= limit || limit - p < 2) return false;
    item->tag = p[0];
    size_t len = p[1];
    const uint8_t *q = p + 2;
    if (len & 0x80) {
        size_t n = len & 0x7F;
        if (n == 0 || n > sizeof(size_t) || static_cast<size_t>(limit - q) < n) return false;
        len = 0;
        for (size_t i = 0; i < n; ++i) len = len << 8 | *q++;
    }
    if (static_cast<size_t>(limit - q) < len) return false;
    item->content = q;
    item->length = len;
    item->end = q + len;
    return true;
}

std::vector<DerItem> items_in(const DerItem &outer) {
    std::vector<DerItem> out;
    for (const uint8_t *p = outer.content; p < outer.end;) {
        DerItem item;
        if (!read_item(p, outer.end, &item)) return {};
        out.push_back(item);
        p = item.end;
    }
    return out;
}

constexpr uint8_t kTagOctetString = 0x04;
constexpr uint8_t kTagOid = 0x06;
constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagSet = 0x31;
constexpr uint8_t kTagContext0 = 0xA0;

bool is_gost_cipher_paramset(const DerItem &oid) {
    if (oid.tag != kTagOid) return false;
    const unsigned char *p = oid.content - 2;
    ASN1_OBJECT *obj = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(oid.end - (oid.content - 2)));
    int nid = obj ? OBJ_obj2nid(obj) : NID_undef;
    ASN1_OBJECT_free(obj);
    switch (nid) {
    case NID_id_Gost28147_89_CryptoPro_A_ParamSet:
    case NID_id_Gost28147_89_CryptoPro_B_ParamSet:
    case NID_id_Gost28147_89_CryptoPro_C_ParamSet:
    case NID_id_Gost28147_89_CryptoPro_D_ParamSet:
    case NID_id_tc26_gost_28147_param_Z:
    case NID_id_Gost28147_89_TestParamSet: return true;
    default: return false;
    }
}

// Gost28147-89-Parameters ::= SEQUENCE { iv OCTET STRING (8), paramSet OID }
bool content_parameters_ok(const DerItem &algorithm) {
    auto parts = items_in(algorithm);
    if (parts.size() != 2 || parts[0].tag != kTagOid || parts[1].tag != kTagSequence) return false;
    auto params = items_in(parts[1]);
    return params.size() == 2 && params[0].tag == kTagOctetString && params[0].length == kGostIvSize &&
           is_gost_cipher_paramset(params[1]);
}

// GostR3410-KeyTransport ::= SEQUENCE {
//   SEQUENCE { encryptedKey OCTET STRING (32), maskKey [0] OPTIONAL, macKey OCTET STRING (4) },
//   [0] IMPLICIT SEQUENCE { encryptionParamSet OID, ephemeralPublicKey [0] OPTIONAL, ukm OCTET STRING (8) } }
bool key_transport_ok(const DerItem &encrypted_key) {
    DerItem transport;
    if (encrypted_key.tag != kTagOctetString ||
        !read_item(encrypted_key.content, encrypted_key.end, &transport) || transport.end != encrypted_key.end ||
        transport.tag != kTagSequence)
        return false;
    auto parts = items_in(transport);
    if (parts.size() != 2 || parts[0].tag != kTagSequence || parts[1].tag != kTagContext0) return false;
    auto key = items_in(parts[0]);
    if (key.size() < 2 || key.front().tag != kTagOctetString || key.front().length != kGostKeySize ||
        key.back().tag != kTagOctetString || key.back().length != kGostMacSize)
        return false;
    auto params = items_in(parts[1]);
    return params.size() >= 2 && is_gost_cipher_paramset(params.front()) && params.back().tag == kTagOctetString &&
           params.back().length == kGostIvSize;
}

// The content parameters and the key transport of recipient number index.
bool message_shape_ok(const uint8_t *der, size_t length, int index) {
    DerItem ci;
    if (!read_item(der, der + length, &ci)) return false;
    auto ci_parts = items_in(ci);
    if (ci_parts.size() != 2 || ci_parts[1].tag != kTagContext0) return false;
    auto inner = items_in(ci_parts[1]);
    if (inner.size() != 1 || inner[0].tag != kTagSequence) return false;
    auto fields = items_in(inner[0]);
    size_t i = 1; // after the version
    if (i < fields.size() && fields[i].tag == kTagContext0) ++i; // originatorInfo
    if (i + 1 >= fields.size() || fields[i].tag != kTagSet || fields[i + 1].tag != kTagSequence) return false;
    auto recipients = items_in(fields[i]);
    auto content = items_in(fields[i + 1]);
    if (content.size() < 2 || content[1].tag != kTagSequence || !content_parameters_ok(content[1])) return false;
    if (index < 0 || static_cast<size_t>(index) >= recipients.size()) return false;
    auto ktri = items_in(recipients[static_cast<size_t>(index)]);
    return !ktri.empty() && key_transport_ok(ktri.back());
}

// ---- A BIO that appends what is written to it to a byte vector -----------

// What is written here is plaintext: when the vector must grow, the old
// buffer is wiped before it is released.
int vector_write(BIO *bio, const char *data, int length) {
    auto *out = static_cast<Bytes *>(BIO_get_data(bio));
    if (!out || length < 0) return -1;
    try {
        size_t n = static_cast<size_t>(length);
        if (out->size() + n > out->capacity()) {
            Bytes grown;
            grown.reserve(std::max(out->capacity() * 2, out->size() + n));
            grown.assign(out->begin(), out->end());
            OPENSSL_cleanse(out->data(), out->size());
            out->swap(grown);
        }
        out->insert(out->end(), data, data + n);
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return length;
}

long vector_ctrl(BIO *, int cmd, long, void *) {
    // Flushing has nothing to do; every other request is unknown.
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int vector_create(BIO *bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD *vector_method() {
    static BIO_METHOD *method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "byte vector sink");
        if (m) {
            BIO_meth_set_write(m, vector_write);
            BIO_meth_set_ctrl(m, vector_ctrl);
            BIO_meth_set_create(m, vector_create);
        }
        return m;
    }();
    return method;
}

BioPtr vector_sink(Bytes *out) {
    BIO_METHOD *method = vector_method();
    BioPtr bio(method ? BIO_new(method) : nullptr);
    if (bio) BIO_set_data(bio.get(), out);
    return bio;
}

// Makes the content encryption GOST 28147-89 for a key-transport recipient:
// the engine reads the cipher from the recipient's key context.
bool set_recipient_cipher(CMS_RecipientInfo *ri) {
    EVP_PKEY_CTX *pctx = CMS_RecipientInfo_get0_pkey_ctx(ri);
    if (!pctx) return fail_openssl<bool>(kErrInternal);
    if (EVP_PKEY_CTX_ctrl(pctx, -1, -1, EVP_PKEY_CTRL_CIPHER, NID_id_Gost28147_89, nullptr) <= 0)
        return fail_openssl<bool>(kErrInternal);
    return true;
}

} // namespace

std::optional<Bytes> envelope_encrypt(const void *data, size_t length, const std::vector<const Certificate *> &recipients,
                                      std::string_view content_alg_oid) {
    if ((!data && length) || length > static_cast<size_t>(INT_MAX)) return fail<std::optional<Bytes>>(kErrInvalidArg);
    if (content_alg_oid != kOidGost28147) return fail<std::optional<Bytes>>(kErrBadAlgorithm);
    if (recipients.empty()) return fail<std::optional<Bytes>>(kErrInvalidArg);
    for (const Certificate *cert : recipients)
        if (!cert) return fail<std::optional<Bytes>>(kErrInvalidArg);
    if (!ensure_provider()) return std::nullopt;
    for (const Certificate *cert : recipients)
        if (!is_gost_key(cert->public_key())) return fail<std::optional<Bytes>>(kErrBadKey);

    const EVP_CIPHER *cipher = EVP_get_cipherbyname("gost89");
    if (!cipher) return fail_openssl<std::optional<Bytes>>(kErrBadAlgorithm);
    // The one-shot form fails for GOST recipients: the recipients are added
    // to a partial structure, each told the cipher, then the data goes in.
    const unsigned flags = CMS_BINARY | CMS_PARTIAL;
    CmsPtr cms(CMS_encrypt(nullptr, nullptr, cipher, flags));
    if (!cms) return fail_openssl<std::optional<Bytes>>(kErrInternal);
    for (const Certificate *cert : recipients) {
        CMS_RecipientInfo *ri = CMS_add1_recipient_cert(cms.get(), cert->x509(), flags | CMS_KEY_PARAM);
        if (!ri) return fail_openssl<std::optional<Bytes>>(kErrBadKey);
        if (!set_recipient_cipher(ri)) return std::nullopt;
    }
    BioPtr in(BIO_new_mem_buf(length ? data : "", static_cast<int>(length)));
    if (!in) return fail<std::optional<Bytes>>(kErrOutOfMemory);
    if (!CMS_final(cms.get(), in.get(), nullptr, flags)) return fail_openssl<std::optional<Bytes>>(kErrInternal);
    Bytes out = to_der(cms.get(), i2d_CMS_ContentInfo);
    if (out.empty()) return fail_openssl<std::optional<Bytes>>(kErrInternal);
    return out;
}

std::optional<Bytes> envelope_decrypt(const void *data, size_t length, const Certificate &recipient, EVP_PKEY *key) {
    if (!key) return fail<std::optional<Bytes>>(kErrNoKey);
    CmsPtr cms = decode_enveloped(data, length);
    if (!cms) return std::nullopt;

    // Find the recipient information of this certificate first, so that
    // "not a recipient" and "cannot open" are told apart.
    STACK_OF(CMS_RecipientInfo) *infos = CMS_get0_RecipientInfos(cms.get());
    int mine = -1;
    for (int i = 0; i < sk_CMS_RecipientInfo_num(infos) && mine < 0; ++i) {
        CMS_RecipientInfo *ri = sk_CMS_RecipientInfo_value(infos, i);
        if (CMS_RecipientInfo_type(ri) == CMS_RECIPINFO_TRANS &&
            CMS_RecipientInfo_ktri_cert_cmp(ri, recipient.x509()) == 0)
            mine = i;
    }
    ERR_clear_error();
    if (mine < 0) return fail<std::optional<Bytes>>(kErrNotFound);
    // The input as given is read when it is DER; a BER message (indefinite
    // lengths) is read in its DER re-encoding, which costs a copy.
    if (!message_shape_ok(static_cast<const uint8_t *>(data), length, mine)) {
        Bytes der = to_der(cms.get(), i2d_CMS_ContentInfo);
        if (!message_shape_ok(der.data(), der.size(), mine)) return fail<std::optional<Bytes>>(kErrBadData);
    }

    // The plaintext is as long as the ciphertext (CFB): it goes straight into
    // the result, with room for it made at once.
    Bytes content;
    content.reserve(length);
    BioPtr out = vector_sink(&content);
    if (!out) return fail<std::optional<Bytes>>(kErrOutOfMemory);
    // CMS_DEBUG_DECRYPT: a key that does not open the key transport is an
    // error, not (as OpenSSL does by default against padding oracles) a
    // random content key that yields garbage. The GOST key wrap carries a
    // MAC, and the caller must learn that the message did not open.
    if (!CMS_decrypt(cms.get(), key, recipient.x509(), nullptr, out.get(), CMS_BINARY | CMS_DEBUG_DECRYPT)) {
        OPENSSL_cleanse(content.data(), content.size());
        return fail_openssl<std::optional<Bytes>>(kErrBadData);
    }
    return content;
}

std::optional<std::vector<RecipientId>> envelope_recipients(const void *data, size_t length) {
    CmsPtr cms = decode_enveloped(data, length);
    if (!cms) return std::nullopt;
    std::vector<RecipientId> ids;
    STACK_OF(CMS_RecipientInfo) *infos = CMS_get0_RecipientInfos(cms.get());
    for (int i = 0; i < sk_CMS_RecipientInfo_num(infos); ++i) {
        CMS_RecipientInfo *ri = sk_CMS_RecipientInfo_value(infos, i);
        if (CMS_RecipientInfo_type(ri) != CMS_RECIPINFO_TRANS) continue;
        ASN1_OCTET_STRING *keyid = nullptr;
        X509_NAME *issuer = nullptr;
        ASN1_INTEGER *serial = nullptr;
        if (CMS_RecipientInfo_ktri_get0_signer_id(ri, &keyid, &issuer, &serial) <= 0 || !issuer || !serial) continue;
        ids.push_back({to_der(issuer, i2d_X509_NAME), serial_le_of(serial)});
    }
    ERR_clear_error();
    return ids;
}

} // namespace tarmin::crypto
