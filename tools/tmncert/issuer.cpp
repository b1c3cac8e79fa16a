#include "tools/tmncert/issuer.h"

#include "platform/crypto/crypto_error.h"
#include "platform/crypto/message.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tarmin::tmncert {

namespace {

struct NameAttr {
    const char *label;
    const char *oid;
};
constexpr NameAttr kNameAttrs[] = {
    {"CN", "2.5.4.3"}, {"O", "2.5.4.10"}, {"OU", "2.5.4.11"}, {"L", "2.5.4.7"}, {"S", "2.5.4.8"}, {"ST", "2.5.4.8"},
    {"C", "2.5.4.6"},  {"E", "1.2.840.113549.1.9.1"}, {"STREET", "2.5.4.9"}, {"T", "2.5.4.12"}, {"G", "2.5.4.42"},
    {"SN", "2.5.4.4"}, {"SERIALNUMBER", "2.5.4.5"}, {"DC", "0.9.2342.19200300.100.1.25"},
};

std::string trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string openssl_error() {
    std::string out;
    char buf[256];
    while (unsigned long e = ERR_get_error()) {
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty()) out += "; ";
        out += buf;
    }
    return out.empty() ? crypto::last_error_detail() : out;
}

bool add_ext(X509 *x, X509 *issuer, int nid, const char *value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) return false;
    bool ok = X509_add_ext(x, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

std::string key_usage_text(uint8_t ku) {
    static const std::pair<uint8_t, const char *> names[] = {
        {crypto::kKuDigitalSignature, "digitalSignature"}, {crypto::kKuNonRepudiation, "nonRepudiation"},
        {crypto::kKuKeyEncipherment, "keyEncipherment"},   {crypto::kKuDataEncipherment, "dataEncipherment"},
        {crypto::kKuKeyAgreement, "keyAgreement"},         {crypto::kKuKeyCertSign, "keyCertSign"},
        {crypto::kKuCrlSign, "cRLSign"},
    };
    std::string out = "critical";
    for (const auto &[bit, name] : names)
        if (ku & bit) out += std::string(",") + name;
    return out;
}

bool add_alt_names(X509 *x, const CertSpec &spec) {
    if (spec.emails.empty() && spec.other_names.empty()) return true;
    GENERAL_NAMES *names = GENERAL_NAMES_new();
    for (const auto &mail : spec.emails) {
        GENERAL_NAME *g = GENERAL_NAME_new();
        ASN1_IA5STRING *s = ASN1_IA5STRING_new();
        ASN1_STRING_set(s, mail.data(), static_cast<int>(mail.size()));
        GENERAL_NAME_set0_value(g, GEN_EMAIL, s);
        sk_GENERAL_NAME_push(names, g);
    }
    for (const auto &on : spec.other_names) {
        GENERAL_NAME *g = GENERAL_NAME_new();
        ASN1_OBJECT *oid = OBJ_txt2obj(on.oid.c_str(), 1);
        ASN1_TYPE *value = ASN1_TYPE_new();
        ASN1_UTF8STRING *s = ASN1_UTF8STRING_new();
        ASN1_STRING_set(s, on.value.data(), static_cast<int>(on.value.size()));
        ASN1_TYPE_set(value, V_ASN1_UTF8STRING, s);
        if (!oid || !GENERAL_NAME_set0_othername(g, oid, value)) {
            ASN1_OBJECT_free(oid);
            ASN1_TYPE_free(value);
            GENERAL_NAME_free(g);
            GENERAL_NAMES_free(names);
            return false;
        }
        sk_GENERAL_NAME_push(names, g);
    }
    bool ok = X509_add1_ext_i2d(x, NID_subject_alt_name, names, 0, X509V3_ADD_DEFAULT) == 1;
    GENERAL_NAMES_free(names);
    return ok;
}

fs::path ca_key_dir() {
    return crypto::certstores_root().parent_path() / "tmncert-ca";
}

} // namespace

crypto::HashAlg hash_for(const EVP_PKEY *key) {
    auto alg = crypto::key_alg_of(key);
    if (alg == KeyAlg::Gost2001) return crypto::HashAlg::Gost94;
    if (alg == KeyAlg::Gost2012_512) return crypto::HashAlg::Streebog512;
    return crypto::HashAlg::Streebog256;
}

X509_NAME *parse_name(const std::string &text, std::string *error) {
    // Split at commas outside quotes.
    std::vector<std::string> parts;
    std::string cur;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    X509_NAME *name = X509_NAME_new();
    // The text is in the reverse (system) order: write the last part first.
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        std::string part = trim(*it);
        if (part.empty()) continue;
        size_t eq = part.find('=');
        std::string label = eq == std::string::npos ? part : trim(part.substr(0, eq));
        std::string value = eq == std::string::npos ? "" : trim(part.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        const char *oid = nullptr;
        for (const auto &a : kNameAttrs)
            if (strcasecmp(a.label, label.c_str()) == 0) oid = a.oid;
        if (!oid && label.rfind("OID.", 0) == 0) oid = label.c_str() + 4;
        if (!oid || value.empty()) {
            *error = "unknown name attribute or empty value: " + part;
            X509_NAME_free(name);
            return nullptr;
        }
        ASN1_OBJECT *obj = OBJ_txt2obj(oid, 1);
        // Country and e-mail keep their usual string types; the rest is UTF-8.
        int type = strcmp(oid, "2.5.4.6") == 0 ? V_ASN1_PRINTABLESTRING
                   : strcmp(oid, "1.2.840.113549.1.9.1") == 0 ? V_ASN1_IA5STRING
                                                               : MBSTRING_UTF8;
        bool ok = obj && X509_NAME_add_entry_by_OBJ(name, obj, type, reinterpret_cast<const unsigned char *>(value.data()),
                                                    static_cast<int>(value.size()), -1, 0);
        ASN1_OBJECT_free(obj);
        if (!ok) {
            *error = "bad name attribute " + part + ": " + openssl_error();
            X509_NAME_free(name);
            return nullptr;
        }
    }
    return name;
}

std::optional<Issued> issue(const CertSpec &spec, std::string *error) {
    if (!crypto::ensure_provider()) {
        *error = crypto::provider_error_text();
        return std::nullopt;
    }
    Issued out;
    out.key = crypto::generate_key(spec.alg);
    if (!out.key) {
        *error = "key generation failed: " + openssl_error();
        return std::nullopt;
    }
    X509_NAME *subject = parse_name(spec.subject, error);
    if (!subject) return std::nullopt;
    X509 *x = X509_new();
    bool self = !spec.issuer_cert;
    EVP_PKEY *sign_key = self ? out.key.get() : spec.issuer_key;
    X509 *issuer_x = self ? x : spec.issuer_cert->x509();

    Bytes serial = spec.serial;
    if (serial.empty()) {
        serial.resize(16);
        crypto::random_bytes(serial.data(), serial.size());
        serial[0] &= 0x7F;
        serial[0] |= 0x01;
    }
    BIGNUM *bn = BN_bin2bn(serial.data(), static_cast<int>(serial.size()), nullptr);
    ASN1_INTEGER *sn = BN_to_ASN1_INTEGER(bn, nullptr);
    BN_free(bn);

    time_t nb = spec.not_before ? spec.not_before : time(nullptr) - 3600;
    time_t na = spec.not_after ? spec.not_after : nb + 365L * 86400;
    bool ok = X509_set_version(x, 2) && X509_set_serialNumber(x, sn) && X509_set_subject_name(x, subject) &&
              X509_set_issuer_name(x, self ? subject : X509_get_subject_name(spec.issuer_cert->x509())) &&
              ASN1_TIME_set(X509_getm_notBefore(x), nb) && ASN1_TIME_set(X509_getm_notAfter(x), na) &&
              X509_set_pubkey(x, out.key.get());
    ASN1_INTEGER_free(sn);
    X509_NAME_free(subject);
    ok = ok && add_ext(x, issuer_x, NID_basic_constraints, spec.ca ? "critical,CA:TRUE" : "CA:FALSE") &&
         add_ext(x, issuer_x, NID_subject_key_identifier, "hash") &&
         (self || add_ext(x, issuer_x, NID_authority_key_identifier, "keyid:always"));
    if (ok && spec.key_usage) ok = add_ext(x, issuer_x, NID_key_usage, key_usage_text(*spec.key_usage).c_str());
    ok = ok && add_alt_names(x, spec);
    const EVP_MD *md = crypto::digest_of(hash_for(sign_key));
    ok = ok && md && X509_sign(x, sign_key, md) > 0;
    if (!ok) {
        *error = "certificate creation failed: " + openssl_error();
        X509_free(x);
        return std::nullopt;
    }
    out.cert = crypto::Certificate::from_x509(x);
    X509_free(x);
    if (!out.cert) {
        *error = "certificate encoding failed";
        return std::nullopt;
    }
    return out;
}

CrlPtr make_crl(const crypto::Certificate &issuer, EVP_PKEY *issuer_key, const std::vector<RevokedEntry> &entries,
                time_t this_update, time_t next_update, std::string *error) {
    X509_CRL *crl = X509_CRL_new();
    ASN1_TIME *last = ASN1_TIME_set(nullptr, this_update);
    ASN1_TIME *next = ASN1_TIME_set(nullptr, next_update);
    bool ok = crl && X509_CRL_set_version(crl, 1) && X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer.x509())) &&
              X509_CRL_set1_lastUpdate(crl, last) && X509_CRL_set1_nextUpdate(crl, next);
    for (const auto &e : entries) {
        if (!ok) break;
        X509_REVOKED *r = X509_REVOKED_new();
        Bytes be(e.serial_le.rbegin(), e.serial_le.rend());
        BIGNUM *bn = BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr);
        ASN1_INTEGER *sn = BN_to_ASN1_INTEGER(bn, nullptr);
        ASN1_TIME *when = ASN1_TIME_set(nullptr, e.when ? e.when : this_update);
        ok = r && sn && when && X509_REVOKED_set_serialNumber(r, sn) && X509_REVOKED_set_revocationDate(r, when) &&
             X509_CRL_add0_revoked(crl, r);
        if (!ok) X509_REVOKED_free(r);
        BN_free(bn);
        ASN1_INTEGER_free(sn);
        ASN1_TIME_free(when);
    }
    ASN1_TIME_free(last);
    ASN1_TIME_free(next);
    const EVP_MD *md = crypto::digest_of(hash_for(issuer_key));
    ok = ok && md && X509_CRL_sort(crl) && X509_CRL_sign(crl, issuer_key, md) > 0;
    CrlPtr out = ok ? crypto::Crl::from_x509_crl(crl) : nullptr;
    if (!out) *error = "revocation list creation failed: " + openssl_error();
    X509_CRL_free(crl);
    return out;
}

bool save_ca_key(const crypto::Certificate &cert, EVP_PKEY *key, std::string *error) {
    fs::path dir = ca_key_dir();
    std::error_code ec;
    fs::create_directories(dir, ec);
    ::chmod(dir.c_str(), 0700);
    auto pem = crypto::private_key_to_pem(key);
    if (!pem) {
        *error = "cannot encode the key";
        return false;
    }
    fs::path p = dir / (cert.thumbprint() + ".key");
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && ::write(fd, pem->data(), pem->size()) == static_cast<ssize_t>(pem->size());
    if (fd >= 0) ok = ::close(fd) == 0 && ok;
    if (!ok) *error = "cannot write " + p.string() + ": " + std::strerror(errno);
    return ok;
}

EvpPkeyPtr load_ca_key(const crypto::Certificate &cert, std::string *error) {
    fs::path p = ca_key_dir() / (cert.thumbprint() + ".key");
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        *error = "no key of this certificate authority in " + ca_key_dir().string();
        return nullptr;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    EvpPkeyPtr key = crypto::private_key_from_pem(ss.str());
    if (!key) *error = "the key " + p.string() + " does not decode";
    return key;
}

} // namespace tarmin::tmncert
