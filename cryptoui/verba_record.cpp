// The client's certificate and revocation-list records filled from X.509
// objects, so that the viewers show the certificates of the suite's stores.
#include "include/qzvoui.h"

#include "platform/crypto/certificate.h"

#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

using namespace tarmin;

namespace {

// Algorithm numbers of the GOST keys, by the key's or the signature's
// identifier.
int32_t algorithmOf(const std::string &oid) {
    static const std::pair<const char *, int32_t> kAlgorithms[] = {
        {"1.2.643.2.2.19", 0x2E23},    {"1.2.643.2.2.3", 0x2E23},     // GOST R 34.10-2001
        {"1.2.643.7.1.1.1.1", 0x2E49}, {"1.2.643.7.1.1.3.2", 0x2E49}, // GOST R 34.10-2012, 256 bits
        {"1.2.643.7.1.1.1.2", 0x2E3D}, {"1.2.643.7.1.1.3.3", 0x2E3D}, // GOST R 34.10-2012, 512 bits
    };
    for (const auto &[id, number] : kAlgorithms)
        if (oid == id) return number;
    return 0;
}

QZ_FILETIME fileTime(time_t t) {
    QZ_FILETIME ft{};
    QZ_TimeToFileTime(t, &ft);
    return ft;
}

// Allocations of one record; everything is released by the record's free
// function, also when filling stops half-way.
char *copyText(const std::string &s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (!p) throw std::bad_alloc();
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

unsigned char *copyBytes(const unsigned char *data, int length, uint32_t &outLength) {
    outLength = 0;
    if (!data || length <= 0) return nullptr;
    auto *p = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(length)));
    if (!p) throw std::bad_alloc();
    std::memcpy(p, data, static_cast<size_t>(length));
    outLength = static_cast<uint32_t>(length);
    return p;
}

// A key identifier in the form of the serial numbers ("0A1B 2C3D ").
std::string keyIdText(const ASN1_OCTET_STRING *id) {
    if (!id || id->length <= 0) return {};
    crypto::Bytes le(id->data, id->data + id->length);
    return crypto::serial_hex_of(crypto::Bytes(le.rbegin(), le.rend()));
}

std::string issuerKeyId(X509 *x) {
    if (const ASN1_OCTET_STRING *aki = X509_get0_authority_key_id(x)) return keyIdText(aki);
    // A self-signed certificate is its own issuer.
    if (X509_check_issued(x, x) == X509_V_OK) return keyIdText(X509_get0_subject_key_id(x));
    return {};
}

time_t keyEnd(X509 *x, time_t certificateEnd) {
    auto *period = static_cast<PKEY_USAGE_PERIOD *>(X509_get_ext_d2i(x, NID_private_key_usage_period, nullptr, nullptr));
    time_t end = period && period->notAfter ? crypto::asn1_time_to_time(period->notAfter) : 0;
    PKEY_USAGE_PERIOD_free(period);
    return end ? end : certificateEnd;
}

std::vector<std::pair<std::string, std::string>> emailEntries(const crypto::Certificate &c) {
    std::vector<std::pair<std::string, std::string>> out;
    auto *names = static_cast<GENERAL_NAMES *>(X509_get_ext_d2i(c.x509(), NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME *n = sk_GENERAL_NAME_value(names, i);
        if (n->type != GEN_EMAIL) continue;
        const ASN1_IA5STRING *s = n->d.rfc822Name;
        out.emplace_back("SMTP", std::string(reinterpret_cast<const char *>(s->data), static_cast<size_t>(s->length)));
    }
    GENERAL_NAMES_free(names);
    for (const auto &o : c.other_names()) {
        if (!o.decoded) continue;
        if (o.oid == crypto::kOidOtherNameEx) out.emplace_back("EX", o.value);
        if (o.oid == crypto::kOidOtherNameNotes) out.emplace_back("NOTES", o.value);
    }
    for (const auto &mail : c.subject_attributes(crypto::kOidEmailAttribute)) {
        bool listed = false;
        for (const auto &[type, address] : out) listed |= type == "SMTP" && address == mail;
        if (!listed) out.emplace_back("SMTP", mail);
    }
    return out;
}

void fillCert(const crypto::Certificate &c, TMN_VERBA_CERT &r) {
    X509 *x = c.x509();
    r.Version = static_cast<int32_t>(X509_get_version(x) + 1);
    r.Algorithm = algorithmOf(c.public_key_oid());
    r.Owner = copyText(c.subject_name());
    r.OwnerSerial = copyText(c.serial_hex());
    r.IssuerSerial = copyText(issuerKeyId(x));
    r.Times[TMN_VERBA_TIME_START] = fileTime(c.not_before());
    r.Times[TMN_VERBA_TIME_KEY_END] = fileTime(keyEnd(x, c.not_after()));
    r.Times[TMN_VERBA_TIME_CERT_END] = fileTime(c.not_after());
    const auto emails = emailEntries(c);
    if (!emails.empty()) {
        r.Emails = static_cast<TMN_VERBA_EMAIL *>(std::calloc(emails.size(), sizeof(TMN_VERBA_EMAIL)));
        if (!r.Emails) throw std::bad_alloc();
        for (const auto &[type, address] : emails) {
            r.Emails[r.EmailCount].Type = copyText(type);
            r.Emails[r.EmailCount].Address = copyText(address);
            ++r.EmailCount;
        }
    }
    const ASN1_BIT_STRING *key = X509_get0_pubkey_bitstr(x);
    r.PublicKey = key ? copyBytes(key->data, key->length, r.PublicKeyLength) : nullptr;
    const std::string alias = c.subject_attribute(crypto::kOidCommonName);
    if (!alias.empty()) {
        r.AuthAlias = copyText(alias);
        r.AuthAliasLength = static_cast<uint32_t>(alias.size());
    }
    r.WebAccess = (X509_get_extension_flags(x) & EXFLAG_XKUSAGE) && (X509_get_extended_key_usage(x) & XKU_SSL_CLIENT);
    const ASN1_BIT_STRING *signature = nullptr;
    X509_get0_signature(&signature, nullptr, x);
    r.Signature = signature ? copyBytes(signature->data, signature->length, r.SignatureLength) : nullptr;
    for (const auto &o : c.other_names())
        if (o.decoded && o.oid == crypto::kOidOtherNameForward && !r.GatewayAddress) {
            r.GatewayType = copyText("SMTP");
            r.GatewayAddress = copyText(o.value);
        }
}

void fillCrl(const crypto::Crl &c, TMN_VERBA_CRL &r) {
    X509_CRL *x = c.x509_crl();
    r.Version = static_cast<int32_t>(c.version());
    r.Algorithm = algorithmOf(c.signature_oid());
    r.Issuer = copyText(c.issuer_name());
    auto *aki = static_cast<AUTHORITY_KEYID *>(X509_CRL_get_ext_d2i(x, NID_authority_key_identifier, nullptr, nullptr));
    r.IssuerSerial = copyText(aki ? keyIdText(aki->keyid) : std::string());
    AUTHORITY_KEYID_free(aki);
    r.Time = fileTime(c.this_update());
    const ASN1_BIT_STRING *signature = nullptr;
    X509_CRL_get0_signature(x, &signature, nullptr);
    r.Signature = signature ? copyBytes(signature->data, signature->length, r.SignatureLength) : nullptr;
    const auto serials = c.revoked_serials();
    if (!serials.empty()) {
        r.RevokedSerials = static_cast<char **>(std::calloc(serials.size(), sizeof(char *)));
        if (!r.RevokedSerials) throw std::bad_alloc();
        for (const auto &s : serials) r.RevokedSerials[r.RevokedCount++] = copyText(s);
    }
}

} // namespace

extern "C" QZVOUI_API void TMN_UIVerbaFreeCert(TMN_VERBA_CERT *r) {
    if (!r) return;
    std::free(r->Owner);
    std::free(r->OwnerSerial);
    std::free(r->IssuerSerial);
    for (uint32_t i = 0; r->Emails && i < r->EmailCount; ++i) {
        std::free(r->Emails[i].Type);
        std::free(r->Emails[i].Address);
    }
    std::free(r->Emails);
    std::free(r->PublicKey);
    std::free(r->AuthAlias);
    std::free(r->Signature);
    std::free(r->GatewayType);
    std::free(r->GatewayAddress);
    std::free(r);
}

extern "C" QZVOUI_API void TMN_UIVerbaFreeCrl(TMN_VERBA_CRL *r) {
    if (!r) return;
    std::free(r->Issuer);
    std::free(r->IssuerSerial);
    std::free(r->Signature);
    for (int32_t i = 0; r->RevokedSerials && i < r->RevokedCount; ++i) std::free(r->RevokedSerials[i]);
    std::free(r->RevokedSerials);
    std::free(r);
}

extern "C" QZVOUI_API int32_t TMN_UIVerbaCertFromDer(const unsigned char *der, uint32_t length, TMN_VERBA_CERT **out) {
    if (out) *out = nullptr;
    if (!der || !length || !out) return -1;
    auto *r = static_cast<TMN_VERBA_CERT *>(std::calloc(1, sizeof(TMN_VERBA_CERT)));
    if (!r) return -1;
    try {
        auto cert = crypto::Certificate::from_der(der, length);
        if (!cert) {
            TMN_UIVerbaFreeCert(r);
            return -1;
        }
        fillCert(*cert, *r);
    } catch (...) {
        TMN_UIVerbaFreeCert(r);
        return -1;
    }
    *out = r;
    return 0;
}

extern "C" QZVOUI_API int32_t TMN_UIVerbaCrlFromDer(const unsigned char *der, uint32_t length, TMN_VERBA_CRL **out) {
    if (out) *out = nullptr;
    if (!der || !length || !out) return -1;
    auto *r = static_cast<TMN_VERBA_CRL *>(std::calloc(1, sizeof(TMN_VERBA_CRL)));
    if (!r) return -1;
    try {
        auto crl = crypto::Crl::from_der(der, length);
        if (!crl) {
            TMN_UIVerbaFreeCrl(r);
            return -1;
        }
        fillCrl(*crl, *r);
    } catch (...) {
        TMN_UIVerbaFreeCrl(r);
        return -1;
    }
    *out = r;
    return 0;
}
