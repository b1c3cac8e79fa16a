#include "platform/crypto/certificate.h"

#include "common/codepage.h"
#include "platform/crypto/crypto_error.h"
#include "platform/crypto/owned.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace tarmin::crypto {

namespace {

constexpr size_t kMaxNameValue = 4096;

void free_openssl_block(void *p) { OPENSSL_free(p); }
using OpensslBlock = Owned<void, free_openssl_block>;
using GeneralNamesPtr = Owned<GENERAL_NAMES, GENERAL_NAMES_free>;
using X509Ptr = Owned<X509, X509_free>;
using X509CrlPtr = Owned<X509_CRL, X509_CRL_free>;
using X509NamePtr = Owned<X509_NAME, X509_NAME_free>;

// Short names of the system's X.500 string form.
struct AttrName {
    const char *oid;
    const char *name;
};
constexpr AttrName kAttrNames[] = {
    {"2.5.4.3", "CN"},   {"2.5.4.7", "L"},      {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},  {"1.2.840.113549.1.9.1", "E"}, {"2.5.4.6", "C"},
    {"2.5.4.8", "S"},    {"2.5.4.9", "STREET"}, {"2.5.4.12", "T"},
    {"2.5.4.42", "G"},   {"2.5.4.43", "I"},     {"2.5.4.4", "SN"},
    {"0.9.2342.19200300.100.1.25", "DC"},       {"2.5.4.5", "SERIALNUMBER"},
    {"2.5.4.17", "PostalCode"},                 {"2.5.4.13", "Description"},
};

std::string attr_label(const ASN1_OBJECT *obj) {
    std::string oid = oid_text(obj);
    for (const auto &a : kAttrNames)
        if (oid == a.oid) return a.name;
    return "OID." + oid;
}

// A directory string as Windows-1251 text.
std::string string_value(const ASN1_STRING *s) {
    if (!s) return {};
    unsigned char *utf8 = nullptr;
    int n = ASN1_STRING_to_UTF8(&utf8, s);
    if (n < 0) return {};
    OpensslBlock owned(utf8);
    return cp::utf8_to_cp1251(std::string_view(reinterpret_cast<char *>(utf8), static_cast<size_t>(n)));
}

// Quotes a value the way the system's name strings do.
std::string quoted(const std::string &v) {
    bool need = v.empty() ? false : (v.front() == ' ' || v.back() == ' ');
    for (char c : v)
        if (std::strchr(",+=\"\n<>#;", c) && c != '\0') need = true;
    if (!need) return v;
    std::string out = "\"";
    for (char c : v) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

Bytes to_bytes(const unsigned char *p, size_t n) { return Bytes(p, p + n); }

template <typename T, int (*I2D)(const T *, unsigned char **)> Bytes encode(const T *obj) {
    unsigned char *buf = nullptr;
    int n = I2D(obj, &buf);
    if (n <= 0) return {};
    OpensslBlock owned(buf);
    return to_bytes(buf, static_cast<size_t>(n));
}

Bytes name_der(const X509_NAME *name) { return encode<X509_NAME, i2d_X509_NAME>(name); }

// Content bytes of a DER INTEGER, least significant first.
Bytes integer_le(const ASN1_INTEGER *i) {
    Bytes der = encode<ASN1_INTEGER, i2d_ASN1_INTEGER>(i);
    if (der.size() < 2) return {};
    size_t pos = 1;
    size_t len = der[pos++];
    if (len & 0x80) {
        size_t nbytes = len & 0x7F;
        len = 0;
        for (size_t k = 0; k < nbytes && pos < der.size(); ++k) len = (len << 8) | der[pos++];
    }
    if (pos + len > der.size()) return {};
    Bytes out(der.begin() + static_cast<long>(pos), der.begin() + static_cast<long>(pos + len));
    std::reverse(out.begin(), out.end());
    return out;
}

// Whether bytes are one DER SEQUENCE, whole: its tag, then a definite length
// that accounts for exactly the rest. Certificates and revocation lists are
// such sequences; PEM text never is (it does not begin with the tag 0x30 and
// a length that fits it).
bool is_whole_der_sequence(const uint8_t *p, size_t n) {
    if (n < 2 || p[0] != 0x30) return false;
    size_t len = p[1], header = 2;
    if (len & 0x80) {
        size_t count = len & 0x7F;
        if (count == 0 || count > sizeof(size_t) || n < 2 + count) return false;
        len = 0;
        for (size_t k = 0; k < count; ++k) len = len << 8 | p[2 + k];
        header += count;
    }
    return len == n - header;
}

// Bytes that may be DER or PEM of a kind; the DER bytes. DER is told by its
// first bytes, not by looking for PEM markers inside it (a name may hold any
// text). In PEM the first block named exactly pem_name is taken, whatever
// blocks (other kinds, broken ones) stand before it; nullopt when there is
// none.
std::optional<Bytes> der_of(const void *data, size_t length, const char *pem_name) {
    const auto *bytes = static_cast<const uint8_t *>(data);
    std::string_view text(static_cast<const char *>(data), length);
    if (is_whole_der_sequence(bytes, length) || text.find("-----BEGIN ") == std::string_view::npos)
        return Bytes(bytes, bytes + length);
    if (length > static_cast<size_t>(INT32_MAX)) return std::nullopt;
    const std::string begin = std::string("-----BEGIN ") + pem_name + "-----";
    std::optional<Bytes> out;
    for (size_t at = text.find(begin); at != std::string_view::npos && !out; at = text.find(begin, at + 1)) {
        if (at > 0 && text[at - 1] != '\n' && text[at - 1] != '\r') continue; // a marker starts a line
        Owned<BIO, BIO_free_all> bio(BIO_new_mem_buf(text.data() + at, static_cast<int>(length - at)));
        char *name = nullptr, *header = nullptr;
        unsigned char *body = nullptr;
        long n = 0;
        if (bio && PEM_read_bio(bio.get(), &name, &header, &body, &n)) {
            OpensslBlock owned_name(name), owned_header(header), owned_body(body);
            if (std::strcmp(name, pem_name) == 0) out = to_bytes(body, static_cast<size_t>(n));
        }
    }
    ERR_clear_error();
    return out;
}

// One object of DER or PEM bytes (PEM of the kind pem_name), decoded by D2i
// with nothing left over; its DER bytes in *der. Null with the last error
// kErrInvalidArg (no bytes) or kErrBadEncoding otherwise.
template <typename T, auto D2i, auto Free>
Owned<T, Free> decode_whole(const void *data, size_t length, const char *pem_name, Bytes *der) {
    if (!data || length == 0) return fail<Owned<T, Free>>(kErrInvalidArg);
    auto bytes = der_of(data, length, pem_name);
    if (!bytes) return fail<Owned<T, Free>>(kErrBadEncoding);
    const unsigned char *p = bytes->data();
    Owned<T, Free> obj(D2i(nullptr, &p, static_cast<long>(bytes->size())));
    if (!obj || p != bytes->data() + bytes->size()) return fail_openssl<Owned<T, Free>>(kErrBadEncoding);
    *der = std::move(*bytes);
    return obj;
}

std::string name_value_of(const ASN1_TYPE *t, bool *decoded) {
    *decoded = true;
    if (!t) {
        *decoded = false;
        return {};
    }
    std::string out;
    switch (t->type) {
    case V_ASN1_BMPSTRING:
    case V_ASN1_UTF8STRING: out = string_value(t->value.asn1_string); break;
    case V_ASN1_IA5STRING:
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_T61STRING:
    case V_ASN1_VISIBLESTRING:
    case V_ASN1_NUMERICSTRING:
    case V_ASN1_GENERALSTRING:
    case V_ASN1_UNIVERSALSTRING:
    case V_ASN1_VIDEOTEXSTRING:
    case V_ASN1_GRAPHICSTRING:
    case V_ASN1_OCTET_STRING: {
        const ASN1_STRING *s = t->value.asn1_string;
        const char *p = reinterpret_cast<const char *>(ASN1_STRING_get0_data(s));
        size_t n = static_cast<size_t>(ASN1_STRING_length(s));
        out.assign(p, strnlen(p, n));
        break;
    }
    default: *decoded = false; return {};
    }
    if (out.size() > kMaxNameValue) out.resize(kMaxNameValue);
    return out;
}

GeneralNamesPtr alt_names(X509 *x) {
    return GeneralNamesPtr(static_cast<GENERAL_NAMES *>(X509_get_ext_d2i(x, NID_subject_alt_name, nullptr, nullptr)));
}

} // namespace

std::string sha1_hex(const void *data, size_t length) {
    unsigned char md[SHA_DIGEST_LENGTH];
    SHA1(static_cast<const unsigned char *>(data), length, md);
    static const char *hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : md) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

time_t asn1_time_to_time(const ASN1_TIME *t) {
    if (!t) return 0;
    struct tm tm {};
    if (!ASN1_TIME_to_tm(t, &tm)) return 0;
    return timegm(&tm);
}

std::string serial_hex_of(const Bytes &serial_le) {
    static const char *hex = "0123456789ABCDEF";
    std::string out;
    size_t k = 0;
    for (auto it = serial_le.rbegin(); it != serial_le.rend(); ++it, ++k) {
        out += hex[*it >> 4];
        out += hex[*it & 15];
        if (k % 2 == 1) out += ' ';
    }
    return out;
}

bool integers_equal_le(const Bytes &a, const Bytes &b) {
    auto significant = [](const Bytes &v) {
        size_t n = v.size();
        // A positive value may carry one leading zero byte; both forms are equal.
        while (n > 1 && v[n - 1] == 0 && !(v[n - 2] & 0x80)) --n;
        if (n > 1 && v[n - 1] == 0) --n;
        return n;
    };
    size_t na = significant(a), nb = significant(b);
    return na == nb && std::equal(a.begin(), a.begin() + static_cast<long>(na), b.begin());
}

std::string x500_name_string(const X509_NAME *name) {
    if (!name) return {};
    int count = X509_NAME_entry_count(name);
    // Group the entries by their RDN, then write the RDNs last to first.
    std::vector<std::vector<std::string>> rdns;
    int last_set = -1;
    for (int i = 0; i < count; ++i) {
        const X509_NAME_ENTRY *e = X509_NAME_get_entry(name, i);
        int set = X509_NAME_ENTRY_set(e);
        if (set != last_set || rdns.empty()) rdns.emplace_back();
        last_set = set;
        rdns.back().push_back(attr_label(X509_NAME_ENTRY_get_object(e)) + "=" +
                              quoted(string_value(X509_NAME_ENTRY_get_data(e))));
    }
    std::string out;
    for (auto it = rdns.rbegin(); it != rdns.rend(); ++it) {
        if (!out.empty()) out += ", ";
        for (size_t k = 0; k < it->size(); ++k) {
            if (k) out += " + ";
            out += (*it)[k];
        }
    }
    return out;
}

std::string x500_name_string(const Bytes &der) {
    const unsigned char *p = der.data();
    X509NamePtr name(d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size())));
    if (!name) {
        ERR_clear_error();
        return {};
    }
    return x500_name_string(name.get());
}

// ---- Certificate ----------------------------------------------------------

CertPtr Certificate::from_der(const void *data, size_t length) {
    // GOST public keys decode only with the engine loaded: load it before
    // the first certificate is parsed.
    if (!ensure_provider()) return nullptr;
    Bytes der;
    X509Ptr x = decode_whole<X509, d2i_X509, X509_free>(data, length, "CERTIFICATE", &der);
    if (!x) return nullptr;
    std::shared_ptr<Certificate> c(new Certificate());
    c->x509_ = x.release();
    c->der_ = std::move(der);
    c->thumbprint_ = sha1_hex(c->der_.data(), c->der_.size());
    return c;
}

CertPtr Certificate::from_x509(X509 *x509) {
    if (!ensure_provider()) return nullptr;
    if (!x509) {
        set_last_error(kErrInvalidArg);
        return nullptr;
    }
    Bytes der = encode<X509, i2d_X509>(x509);
    if (der.empty()) {
        set_last_error_openssl(kErrBadEncoding);
        return nullptr;
    }
    std::shared_ptr<Certificate> c(new Certificate());
    X509_up_ref(x509);
    c->x509_ = x509;
    c->der_ = std::move(der);
    c->thumbprint_ = sha1_hex(c->der_.data(), c->der_.size());
    return c;
}

Certificate::~Certificate() { X509_free(x509_); }

std::string Certificate::pem() const {
    Owned<BIO, BIO_free_all> bio(BIO_new(BIO_s_mem()));
    if (!bio || !PEM_write_bio_X509(bio.get(), x509_)) return {};
    char *p = nullptr;
    long n = BIO_get_mem_data(bio.get(), &p);
    return std::string(p, static_cast<size_t>(n));
}

Bytes Certificate::issuer_der() const { return name_der(X509_get_issuer_name(x509_)); }
Bytes Certificate::subject_der() const { return name_der(X509_get_subject_name(x509_)); }
Bytes Certificate::serial_le() const { return integer_le(X509_get0_serialNumber(x509_)); }
std::string Certificate::serial_hex() const { return serial_hex_of(serial_le()); }
std::string Certificate::subject_name() const { return x500_name_string(X509_get_subject_name(x509_)); }
std::string Certificate::issuer_name() const { return x500_name_string(X509_get_issuer_name(x509_)); }

std::vector<std::string> Certificate::subject_attributes(std::string_view oid) const {
    std::vector<std::string> out;
    const X509_NAME *name = X509_get_subject_name(x509_);
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY *e = X509_NAME_get_entry(name, i);
        if (oid_text(X509_NAME_ENTRY_get_object(e)) == oid) out.push_back(string_value(X509_NAME_ENTRY_get_data(e)));
    }
    return out;
}

std::string Certificate::subject_attribute(std::string_view oid) const {
    auto all = subject_attributes(oid);
    return all.empty() ? std::string() : all.front();
}

std::string Certificate::mail_name() const {
    std::string out;
    if (GeneralNamesPtr names = alt_names(x509_)) {
        for (int i = 0; i < sk_GENERAL_NAME_num(names.get()) && out.empty(); ++i) {
            const GENERAL_NAME *g = sk_GENERAL_NAME_value(names.get(), i);
            if (g->type == GEN_EMAIL) out = string_value(g->d.rfc822Name);
        }
    }
    if (out.empty()) out = subject_attribute(kOidEmailAttribute);
    return out;
}

std::vector<OtherName> Certificate::other_names() const {
    std::vector<OtherName> out;
    GeneralNamesPtr names = alt_names(x509_);
    if (!names) return out;
    for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME *g = sk_GENERAL_NAME_value(names.get(), i);
        if (g->type != GEN_OTHERNAME) continue;
        OtherName on;
        on.oid = oid_text(g->d.otherName->type_id);
        on.value = name_value_of(g->d.otherName->value, &on.decoded);
        out.push_back(std::move(on));
    }
    return out;
}

std::optional<uint8_t> Certificate::key_usage() const {
    if (!(X509_get_extension_flags(x509_) & EXFLAG_KUSAGE)) return std::nullopt;
    return static_cast<uint8_t>(X509_get_key_usage(x509_) & 0xFF);
}

bool Certificate::is_ca() const { return X509_check_ca(x509_) > 0; }
time_t Certificate::not_before() const { return asn1_time_to_time(X509_get0_notBefore(x509_)); }
time_t Certificate::not_after() const { return asn1_time_to_time(X509_get0_notAfter(x509_)); }

std::string Certificate::public_key_oid() const {
    ASN1_OBJECT *alg = nullptr;
    if (!X509_PUBKEY_get0_param(&alg, nullptr, nullptr, nullptr, X509_get_X509_PUBKEY(x509_))) return {};
    return oid_text(alg);
}

std::string Certificate::signature_oid() const {
    const X509_ALGOR *alg = X509_get0_tbs_sigalg(x509_);
    const ASN1_OBJECT *obj = nullptr;
    X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
    return oid_text(obj);
}

EVP_PKEY *Certificate::public_key() const {
    ensure_provider();
    EVP_PKEY *k = X509_get0_pubkey(x509_);
    if (!k) set_last_error_openssl(kErrBadAlgorithm);
    return k;
}

bool Certificate::same_issuer_serial(const Bytes &issuer, const Bytes &serial) const {
    return issuer_der() == issuer && integers_equal_le(serial_le(), serial);
}

// ---- Crl ------------------------------------------------------------------

CrlPtr Crl::from_der(const void *data, size_t length) {
    if (!ensure_provider()) return nullptr;
    Bytes der;
    X509CrlPtr crl = decode_whole<X509_CRL, d2i_X509_CRL, X509_CRL_free>(data, length, "X509 CRL", &der);
    if (!crl) return nullptr;
    std::shared_ptr<Crl> c(new Crl());
    c->crl_ = crl.release();
    c->der_ = std::move(der);
    c->thumbprint_ = sha1_hex(c->der_.data(), c->der_.size());
    return c;
}

CrlPtr Crl::from_x509_crl(X509_CRL *crl) {
    Bytes der = crl ? encode<X509_CRL, i2d_X509_CRL>(crl) : Bytes();
    if (der.empty()) {
        set_last_error(kErrBadEncoding);
        return nullptr;
    }
    return from_der(der.data(), der.size());
}

Crl::~Crl() { X509_CRL_free(crl_); }

Bytes Crl::issuer_der() const { return name_der(X509_CRL_get_issuer(crl_)); }
std::string Crl::issuer_name() const { return x500_name_string(X509_CRL_get_issuer(crl_)); }
time_t Crl::this_update() const { return asn1_time_to_time(X509_CRL_get0_lastUpdate(crl_)); }
time_t Crl::next_update() const { return asn1_time_to_time(X509_CRL_get0_nextUpdate(crl_)); }
long Crl::version() const { return X509_CRL_get_version(crl_) + 1; }

std::string Crl::signature_oid() const {
    const X509_ALGOR *alg = nullptr;
    X509_CRL_get0_signature(crl_, nullptr, &alg);
    const ASN1_OBJECT *obj = nullptr;
    X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
    return oid_text(obj);
}

std::vector<std::string> Crl::revoked_serials() const {
    std::vector<std::string> out;
    STACK_OF(X509_REVOKED) *revoked = X509_CRL_get_REVOKED(crl_);
    for (int i = 0; i < sk_X509_REVOKED_num(revoked); ++i)
        out.push_back(serial_hex_of(integer_le(X509_REVOKED_get0_serialNumber(sk_X509_REVOKED_value(revoked, i)))));
    return out;
}

bool Crl::lists(const Certificate &cert) const {
    if (issuer_der() != cert.issuer_der()) return false;
    STACK_OF(X509_REVOKED) *revoked = X509_CRL_get_REVOKED(crl_);
    Bytes serial = cert.serial_le();
    for (int i = 0; i < sk_X509_REVOKED_num(revoked); ++i)
        if (integers_equal_le(integer_le(X509_REVOKED_get0_serialNumber(sk_X509_REVOKED_value(revoked, i))), serial))
            return true;
    return false;
}

} // namespace tarmin::crypto
