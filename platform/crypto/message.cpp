#include "platform/crypto/message.h"

#include "platform/crypto/crypto_error.h"
#include "platform/crypto/owned.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <algorithm>
#include <ctime>

namespace tarmin::crypto {

namespace {

constexpr uint64_t kEpochDiff = 11644473600ULL; // seconds from 1601 to 1970

using BioPtr = Owned<BIO, BIO_free_all>;

BioPtr mem_bio(const void *data, size_t length) {
    static const char empty = 0;
    return BioPtr(BIO_new_mem_buf(length ? data : &empty, static_cast<int>(length)));
}

// Reads a BIO chain to its end, so that its digests see every byte.
void drain(BIO *bio) {
    std::vector<char> buf(1 << 16);
    while (BIO_read(bio, buf.data(), static_cast<int>(buf.size())) > 0) {
    }
}

// Frees the BIOs of a chain in front of `keep` (which its owner frees).
void free_upto(BIO *chain, BIO *keep) {
    while (chain && chain != keep) {
        BIO *next = BIO_pop(chain);
        BIO_free(chain);
        chain = next;
    }
}

} // namespace

uint64_t time_to_filetime(time_t t) { return (static_cast<uint64_t>(t) + kEpochDiff) * 10000000ULL; }
time_t filetime_to_time(uint64_t ft) { return static_cast<time_t>(ft / 10000000ULL) - static_cast<time_t>(kEpochDiff); }

std::optional<Bytes> sign_message(const SignParams &p, const void *data, size_t length) {
    if (!ensure_provider()) return std::nullopt;
    if (!p.signer || !p.key || (!data && length)) {
        set_last_error(kErrInvalidArg);
        return std::nullopt;
    }
    const EVP_MD *md = digest_of(p.hash);
    if (!md) return std::nullopt;
    unsigned flags = CMS_BINARY | CMS_PARTIAL | (p.detached ? CMS_DETACHED : 0);
    CMS_ContentInfo *cms = CMS_sign(nullptr, nullptr, nullptr, nullptr, flags);
    std::optional<Bytes> out;
    if (cms) {
        unsigned sflags = CMS_BINARY | CMS_NOSMIMECAP | CMS_PARTIAL | (p.include_certificate ? 0 : CMS_NOCERTS);
        CMS_SignerInfo *si = CMS_add1_signer(cms, p.signer->x509(), p.key, md, sflags);
        ASN1_TIME *when = ASN1_TIME_set(nullptr, p.signing_time ? p.signing_time : time(nullptr));
        bool ok = si && when &&
                  CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, when->type, when, -1) > 0;
        ASN1_TIME_free(when);
        BioPtr in = mem_bio(data, length);
        if (ok && in && CMS_final(cms, in.get(), nullptr, flags)) {
            unsigned char *der = nullptr;
            int n = i2d_CMS_ContentInfo(cms, &der);
            if (n > 0) out = Bytes(der, der + n);
            OPENSSL_free(der);
        }
    }
    if (!out) set_last_error_openssl(kErrInternal);
    CMS_ContentInfo_free(cms);
    return out;
}

std::unique_ptr<SignedMessage> SignedMessage::decode(const void *data, size_t length) {
    if (!ensure_provider()) return nullptr;
    if (!data || length == 0) {
        set_last_error(kErrInvalidArg);
        return nullptr;
    }
    const unsigned char *p = static_cast<const unsigned char *>(data);
    CMS_ContentInfo *cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(length));
    // Bytes after the message are not part of it: such a block is malformed.
    if (!cms || p != static_cast<const unsigned char *>(data) + length) {
        CMS_ContentInfo_free(cms);
        set_last_error_openssl(kErrBadEncoding);
        return nullptr;
    }
    if (OBJ_obj2nid(CMS_get0_type(cms)) != NID_pkcs7_signed) {
        CMS_ContentInfo_free(cms);
        set_last_error(kErrBadMessage);
        return nullptr;
    }
    std::unique_ptr<SignedMessage> m(new SignedMessage());
    m->cms_ = cms;
    return m;
}

SignedMessage::~SignedMessage() { CMS_ContentInfo_free(cms_); }

bool SignedMessage::has_content() const {
    ASN1_OCTET_STRING **pos = CMS_get0_content(cms_);
    return pos && *pos;
}

std::optional<Bytes> SignedMessage::content() const {
    ASN1_OCTET_STRING **pos = CMS_get0_content(cms_);
    if (!pos || !*pos) {
        set_last_error(kErrBadMessage);
        return std::nullopt;
    }
    const unsigned char *d = ASN1_STRING_get0_data(*pos);
    return Bytes(d, d + ASN1_STRING_length(*pos));
}

int SignedMessage::signer_count() const {
    STACK_OF(CMS_SignerInfo) *sis = CMS_get0_SignerInfos(cms_);
    return sis ? sk_CMS_SignerInfo_num(sis) : 0;
}

CMS_SignerInfo *SignedMessage::signer(int i) const {
    STACK_OF(CMS_SignerInfo) *sis = CMS_get0_SignerInfos(cms_);
    if (!sis || i < 0 || i >= sk_CMS_SignerInfo_num(sis)) {
        set_last_error(kErrInvalidIndex);
        return nullptr;
    }
    return sk_CMS_SignerInfo_value(sis, i);
}

bool SignedMessage::signer_id(int i, Bytes *issuer_der, Bytes *serial_le) const {
    CMS_SignerInfo *si = signer(i);
    if (!si) return false;
    ASN1_OCTET_STRING *keyid = nullptr;
    X509_NAME *issuer = nullptr;
    ASN1_INTEGER *sno = nullptr;
    if (!CMS_SignerInfo_get0_signer_id(si, &keyid, &issuer, &sno) || !issuer || !sno) {
        set_last_error(kErrNoSigner);
        return false;
    }
    // Reuse the certificate helpers through a throw-away certificate-free path.
    unsigned char *buf = nullptr;
    int n = i2d_X509_NAME(issuer, &buf);
    if (n <= 0) {
        set_last_error_openssl(kErrBadEncoding);
        return false;
    }
    if (issuer_der) issuer_der->assign(buf, buf + n);
    OPENSSL_free(buf);
    buf = nullptr;
    n = i2d_ASN1_INTEGER(sno, &buf);
    if (n < 2) {
        OPENSSL_free(buf);
        set_last_error_openssl(kErrBadEncoding);
        return false;
    }
    // Content bytes of the DER integer, least significant first.
    size_t pos = 1, len = buf[pos++];
    if (len & 0x80) {
        size_t nb = len & 0x7F;
        len = 0;
        for (size_t k = 0; k < nb; ++k) len = (len << 8) | buf[pos++];
    }
    if (serial_le) {
        serial_le->assign(buf + pos, buf + pos + len);
        std::reverse(serial_le->begin(), serial_le->end());
    }
    OPENSSL_free(buf);
    return true;
}

std::optional<std::vector<Attribute>> SignedMessage::signed_attributes(int i) const {
    CMS_SignerInfo *si = signer(i);
    if (!si) return std::nullopt;
    std::vector<Attribute> out;
    int count = CMS_signed_get_attr_count(si);
    for (int k = 0; k < count; ++k) {
        X509_ATTRIBUTE *attr = CMS_signed_get_attr(si, k);
        Attribute a;
        a.oid = oid_text(X509_ATTRIBUTE_get0_object(attr));
        for (int v = 0; v < X509_ATTRIBUTE_count(attr); ++v) {
            unsigned char *der = nullptr;
            int n = i2d_ASN1_TYPE(X509_ATTRIBUTE_get0_type(attr, v), &der);
            if (n > 0) a.values.emplace_back(der, der + n);
            OPENSSL_free(der);
        }
        out.push_back(std::move(a));
    }
    return out;
}

std::string SignedMessage::digest_oid(int i) const {
    CMS_SignerInfo *si = signer(i);
    if (!si) return {};
    X509_ALGOR *dig = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &dig, nullptr);
    const ASN1_OBJECT *obj = nullptr;
    X509_ALGOR_get0(&obj, nullptr, nullptr, dig);
    return oid_text(obj);
}

int SignedMessage::certificate_count() const {
    STACK_OF(X509) *certs = CMS_get1_certs(cms_);
    int n = certs ? sk_X509_num(certs) : 0;
    sk_X509_pop_free(certs, X509_free);
    return n;
}

std::optional<Bytes> SignedMessage::certificate(int i) const {
    STACK_OF(X509) *certs = CMS_get1_certs(cms_);
    std::optional<Bytes> out;
    if (certs && i >= 0 && i < sk_X509_num(certs)) {
        unsigned char *der = nullptr;
        int n = i2d_X509(sk_X509_value(certs, i), &der);
        if (n > 0) out = Bytes(der, der + n);
        OPENSSL_free(der);
    }
    sk_X509_pop_free(certs, X509_free);
    if (!out) set_last_error(kErrInvalidIndex);
    return out;
}

std::optional<std::vector<Bytes>> SignedMessage::certificates() const {
    STACK_OF(X509) *certs = CMS_get1_certs(cms_);
    std::optional<std::vector<Bytes>> out(std::in_place);
    for (int i = 0; certs && i < sk_X509_num(certs); ++i) {
        unsigned char *der = nullptr;
        int n = i2d_X509(sk_X509_value(certs, i), &der);
        if (n <= 0) {
            OPENSSL_free(der);
            out.reset();
            set_last_error_openssl(kErrBadEncoding);
            break;
        }
        out->emplace_back(der, der + n);
        OPENSSL_free(der);
    }
    sk_X509_pop_free(certs, X509_free);
    return out;
}

bool SignedMessage::verify_detached(int i, const Certificate &cert, const void *content, size_t length) const {
    if (has_content()) {
        set_last_error(kErrBadMessage);
        return false;
    }
    if (!content && length) {
        set_last_error(kErrInvalidArg);
        return false;
    }
    CMS_SignerInfo *si = signer(i);
    if (!si) return false;
    BioPtr in = mem_bio(content, length);
    if (!in) {
        set_last_error(kErrOutOfMemory);
        return false;
    }
    return verify_over(si, cert, in.get());
}

bool SignedMessage::verify_attached(int i, const Certificate &cert) const {
    if (!has_content()) {
        set_last_error(kErrBadMessage);
        return false;
    }
    CMS_SignerInfo *si = signer(i);
    return si && verify_over(si, cert, nullptr);
}

// The signature of a signer and the digest of the content: the detached
// content when given, else the message's own.
bool SignedMessage::verify_over(CMS_SignerInfo *si, const Certificate &cert, BIO *detached_content) const {
    CMS_SignerInfo_set1_signer_cert(si, cert.x509());
    if (CMS_signed_get_attr_count(si) > 0 && CMS_SignerInfo_verify(si) <= 0) {
        set_last_error_openssl(kErrBadSignature);
        return false;
    }
    BIO *chain = CMS_dataInit(cms_, detached_content);
    if (!chain) {
        set_last_error_openssl(kErrBadMessage);
        return false;
    }
    drain(chain);
    int r = CMS_SignerInfo_verify_content(si, chain);
    if (detached_content) free_upto(chain, detached_content);
    else BIO_free_all(chain);
    if (r <= 0) {
        unsigned long e = ERR_peek_last_error();
        set_last_error_openssl(ERR_GET_REASON(e) == CMS_R_VERIFICATION_FAILURE && CMS_signed_get_attr_count(si) > 0
                                   ? kErrHashValue
                                   : kErrBadSignature);
        return false;
    }
    return true;
}

std::optional<uint64_t> decode_time_value(const Bytes &der) {
    const unsigned char *p = der.data();
    ASN1_TIME *t = d2i_ASN1_TIME(nullptr, &p, static_cast<long>(der.size()));
    struct tm tm {};
    bool ok = t && p == der.data() + der.size() && ASN1_TIME_to_tm(t, &tm);
    ASN1_TIME_free(t);
    if (!ok) {
        set_last_error_openssl(kErrBadEncoding);
        return std::nullopt;
    }
    time_t secs = timegm(&tm);
    if (secs < -static_cast<time_t>(kEpochDiff)) {
        set_last_error(kErrBadEncoding);
        return std::nullopt;
    }
    return time_to_filetime(secs);
}

std::optional<Bytes> encode_time_value(uint64_t filetime) {
    ASN1_TIME *t = ASN1_TIME_set(nullptr, filetime_to_time(filetime));
    std::optional<Bytes> out;
    if (t) {
        unsigned char *der = nullptr;
        int n = i2d_ASN1_TIME(t, &der);
        if (n > 0) out = Bytes(der, der + n);
        OPENSSL_free(der);
    }
    ASN1_TIME_free(t);
    if (!out) set_last_error_openssl(kErrBadEncoding);
    return out;
}

} // namespace tarmin::crypto
