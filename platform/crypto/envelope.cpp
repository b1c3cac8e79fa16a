#include "platform/crypto/envelope.h"

#include "platform/crypto/crypto_error.h"
#include "platform/crypto/symmetric.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <climits>
#include <memory>

namespace tarmin::crypto {

namespace {

struct CmsFree {
    void operator()(CMS_ContentInfo *c) const { CMS_ContentInfo_free(c); }
};
using CmsPtr = std::unique_ptr<CMS_ContentInfo, CmsFree>;
struct BioFree {
    void operator()(BIO *b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

template <typename T> T fail(uint32_t code, T result = {}) {
    set_last_error(code);
    return result;
}
template <typename T> T fail_openssl(uint32_t code, T result = {}) {
    set_last_error_openssl(code);
    return result;
}

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
    CMS_RecipientInfo *mine = nullptr;
    for (int i = 0; i < sk_CMS_RecipientInfo_num(infos); ++i) {
        CMS_RecipientInfo *ri = sk_CMS_RecipientInfo_value(infos, i);
        if (CMS_RecipientInfo_type(ri) == CMS_RECIPINFO_TRANS &&
            CMS_RecipientInfo_ktri_cert_cmp(ri, recipient.x509()) == 0) {
            mine = ri;
            break;
        }
    }
    ERR_clear_error();
    if (!mine) return fail<std::optional<Bytes>>(kErrNotFound);
    // Takes its own reference to the key for the time of the key transport.
    if (!CMS_decrypt_set1_pkey(cms.get(), key, recipient.x509())) return fail_openssl<std::optional<Bytes>>(kErrBadData);

    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out) return fail<std::optional<Bytes>>(kErrOutOfMemory);
    // With the content key already set, CMS_decrypt needs neither key nor
    // certificate.
    if (!CMS_decrypt(cms.get(), nullptr, nullptr, nullptr, out.get(), CMS_BINARY))
        return fail_openssl<std::optional<Bytes>>(kErrBadData);
    char *p = nullptr;
    long n = BIO_get_mem_data(out.get(), &p);
    return Bytes(reinterpret_cast<uint8_t *>(p), reinterpret_cast<uint8_t *>(p) + (n > 0 ? n : 0));
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
