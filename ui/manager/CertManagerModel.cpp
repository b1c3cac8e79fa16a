#include "ui/manager/CertManagerModel.h"

#include "common/codepage.h"
#include "include/qzcom.h"
#include "platform/crypto/crypto_error.h"
#include "platform/crypto/provider.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarmin::cp::literals;

namespace tarmin::tmnui {

using crypto::AddDisposition;
using crypto::CertPtr;
using crypto::CertStore;
using crypto::CrlPtr;

namespace {

const char *const kMy = "MY";
const char *const kCa = "CA";

// The reason of the last failure of the store functions, in Russian.
std::string reason() {
    std::string text = crypto::error_message(crypto::last_error(), 0x0419);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", crypto::last_error());
    return text.empty() ? std::string(code) : text + " (" + code + ")";
}

Outcome failed(const std::string &line) { return Outcome{false, false, {line}}; }

std::string nameOf(const crypto::Certificate &c) {
    std::string cn = c.subject_attribute(crypto::kOidCommonName);
    return cn.empty() ? c.subject_name() : cn;
}

bool forEmailProtection(X509 *x) {
    if (!(X509_get_extension_flags(x) & EXFLAG_XKUSAGE)) return true;
    return (X509_get_extended_key_usage(x) & (XKU_SMIME | XKU_ANYEKU)) != 0;
}

// A password that is wiped when it is no longer needed.
struct Secret {
    std::string text;
    Secret() { text.reserve(1024); }
    ~Secret() { OPENSSL_cleanse(text.data(), text.capacity()); }
    Secret(const Secret &) = delete;
    Secret &operator=(const Secret &) = delete;
};

// Writes a whole file under a temporary name beside path and renames it
// over path, so that the file is complete or absent and whatever stood at
// path (a pipe or a link someone put there) is replaced, never written
// through. ownerOnly: mode 0600 (a private key inside), else 0666 less umask.
bool writeReplacing(const std::string &path, const std::string &bytes, bool ownerOnly, std::string &error) {
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    int err = 0;
    if (!ownerOnly) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(fd, 0666 & ~mask) != 0) err = errno;
    }
    size_t done = 0;
    while (!err && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) err = n < 0 ? errno : ENOSPC;
        else done += static_cast<size_t>(n);
    }
    if (!err && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(temporary.c_str(), path.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(temporary.c_str());
        error = std::strerror(err);
        return false;
    }
    return true;
}

// A PEM file's objects.
struct PemContents {
    std::vector<CertPtr> certs;
    std::vector<CrlPtr> crls;
    std::string keyPem; // the first private key, as PEM
};

PemContents readPem(const std::string &bytes) {
    PemContents out;
    BIO *bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    char *name = nullptr, *header = nullptr;
    unsigned char *body = nullptr;
    long n = 0;
    while (bio && PEM_read_bio(bio, &name, &header, &body, &n)) {
        const std::string kind = name;
        if (kind == "CERTIFICATE" || kind == "TRUSTED CERTIFICATE") {
            if (auto c = crypto::Certificate::from_der(body, static_cast<size_t>(n))) out.certs.push_back(c);
        } else if (kind == "X509 CRL") {
            if (auto c = crypto::Crl::from_der(body, static_cast<size_t>(n))) out.crls.push_back(c);
        } else if (kind.find("PRIVATE KEY") != std::string::npos && out.keyPem.empty()) {
            BIO *mem = BIO_new(BIO_s_mem());
            if (mem && PEM_write_bio(mem, name, header, body, n) > 0) {
                char *text = nullptr;
                long len = BIO_get_mem_data(mem, &text);
                out.keyPem.assign(text, static_cast<size_t>(len));
            }
            BIO_free(mem);
        }
        OPENSSL_cleanse(body, static_cast<size_t>(n));
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(body);
    }
    ERR_clear_error();
    BIO_free(bio);
    return out;
}

} // namespace

CertManagerModel::CertManagerModel(crypto::StoreLocation location) : location_(location) {}

const std::vector<std::string> &CertManagerModel::storeNames() {
    static const std::vector<std::string> kNames{"MY", "AddressBook", "Root", "CA"};
    return kNames;
}

std::string CertManagerModel::storeTitle(const std::string &store) {
    if (store == "MY") return "Личные"_w;
    if (store == "AddressBook") return "Другие пользователи"_w;
    if (store == "Root") return "Доверенные корневые центры сертификации"_w;
    if (store == "CA") return "Промежуточные центры сертификации"_w;
    return store;
}

crypto::StorePtr CertManagerModel::open(const std::string &store, bool create) const {
    return CertStore::open(location_, store, crypto::kDefaultPhysical, create);
}

std::string CertManagerModel::ownCertificateKey() {
    const char *product = QZ_GetProductKeyName();
    return std::string(product ? product : "Software\\KELVORIA\\tarmin-operator") + "\\SKZIpath";
}

std::vector<CertRow> CertManagerModel::certificates(const std::string &store, bool emailOnly) const {
    std::vector<CertRow> rows;
    auto s = open(store, false);
    if (!s) return rows;
    // The own certificate, as the settings name it.
    const std::string key = ownCertificateKey();
    unsigned char serial[256], issuer[QZ_MAX_BINARY];
    QZ_DWORD serialLength = sizeof serial, issuerLength = sizeof issuer;
    const bool haveOwn = store == kMy &&
                         QZ_GetKeyBinary(key.c_str(), "CertSerialNumber", serial, &serialLength, 0) == 0 &&
                         QZ_GetKeyBinary(key.c_str(), "CertIssuer", issuer, &issuerLength, 0) == 0;
    for (const CertPtr &c : s->certificates()) {
        CertRow r;
        r.emailProtection = forEmailProtection(c->x509());
        if (emailOnly && !r.emailProtection) continue;
        r.cert = c;
        r.thumbprint = c->thumbprint();
        r.subject = c->subject_name();
        r.commonName = nameOf(*c);
        r.email = c->mail_name();
        const std::string issuerCn = crypto::x500_name_string(c->issuer_der());
        std::string cn;
        if (X509_NAME *in = X509_get_issuer_name(c->x509())) {
            int i = X509_NAME_get_index_by_NID(in, NID_commonName, -1);
            if (i >= 0) {
                unsigned char *utf8 = nullptr;
                int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(in, i)));
                if (n > 0) cn = cp::utf8_to_cp1251(std::string(reinterpret_cast<char *>(utf8), static_cast<size_t>(n)));
                OPENSSL_free(utf8);
            }
        }
        r.issuer = cn.empty() ? issuerCn : cn;
        r.notBefore = c->not_before();
        r.notAfter = c->not_after();
        r.hasKey = store == kMy && s->has_private_key(*c);
        r.own = haveOwn &&
                c->same_issuer_serial(crypto::Bytes(issuer, issuer + issuerLength), crypto::Bytes(serial, serial + serialLength));
        rows.push_back(std::move(r));
    }
    return rows;
}

std::vector<CrlRow> CertManagerModel::revocationLists() const {
    std::vector<CrlRow> rows;
    auto s = open(kCa, false);
    if (!s) return rows;
    for (const CrlPtr &c : s->crls())
        rows.push_back(CrlRow{c, c->issuer_name(), c->this_update(), c->next_update(), c->revoked_serials().size()});
    return rows;
}

Outcome CertManagerModel::importFile(const std::string &store, const std::string &bytes, const PasswordSource &ask) {
    if (!crypto::ensure_provider()) return failed(crypto::provider_error_text());
    Outcome out;
    auto added = [&](const std::string &where, const crypto::Certificate &c, bool withKey) {
        out.lines.push_back("Сертификат \""_w + nameOf(c) + "\" добавлен в хранилище \""_w + storeTitle(where) + "\"" +
                            (withKey ? " вместе с закрытым ключом"_w : ""));
    };
    auto add = [&](const std::string &where, const CertPtr &c, EVP_PKEY *key, AddDisposition how) {
        auto s = open(where, true);
        if (!s || !s->add(c, how)) return false;
        if (key && !s->set_private_key(*c, key, crypto::kProviderName)) return false;
        added(where, *c, key != nullptr);
        return true;
    };
    auto addCrl = [&](const CrlPtr &crl) {
        auto s = open(kCa, true);
        if (!s || !s->add_crl(crl, AddDisposition::ReplaceExisting)) return false;
        out.lines.push_back("Список отзыва издателя \""_w + crl->issuer_name() + "\" добавлен в хранилище \""_w +
                            storeTitle(kCa) + "\"");
        return true;
    };

    // PKCS #12 first: it carries a private key.
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    if (PKCS12 *p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size()))) {
        Secret password;
        if (!PKCS12_verify_mac(p12, "", 0) && !PKCS12_verify_mac(p12, nullptr, 0)) {
            ERR_clear_error();
            if (!ask || !ask(password.text)) {
                PKCS12_free(p12);
                return Outcome{false, true, {}};
            }
        }
        EVP_PKEY *rawKey = nullptr;
        X509 *x = nullptr;
        STACK_OF(X509) *chain = nullptr;
        const bool parsed = PKCS12_parse(p12, password.text.c_str(), &rawKey, &x, &chain) == 1;
        PKCS12_free(p12);
        ERR_clear_error();
        crypto::EvpPkeyPtr key(rawKey);
        CertPtr cert = x ? crypto::Certificate::from_x509(x) : nullptr;
        X509_free(x);
        std::vector<CertPtr> authorities;
        for (int i = 0; i < sk_X509_num(chain); ++i)
            if (CertPtr c = crypto::Certificate::from_x509(sk_X509_value(chain, i))) authorities.push_back(c);
        sk_X509_pop_free(chain, X509_free);
        if (!parsed) return failed("Файл PKCS #12 не открывается: неверный пароль или файл повреждён."_w);
        if (!cert && authorities.empty()) return failed("Файл PKCS #12 не содержит сертификатов."_w);
        if (cert && !add(key ? kMy : store, cert, key.get(), AddDisposition::ReplaceExisting))
            return Outcome{false, false, {"Сертификат \""_w + nameOf(*cert) + "\" не добавлен: "_w + reason()}};
        for (const CertPtr &c : authorities) {
            if (X509_check_issued(c->x509(), c->x509()) == X509_V_OK) {
                out.lines.push_back("Корневой сертификат \""_w + nameOf(*c) +
                                    "\" не добавлен в доверенные: добавьте его сами, если доверяете ему"_w);
                continue;
            }
            if (!add(kCa, c, nullptr, AddDisposition::UseExisting)) {
                out.lines.push_back("Сертификат \""_w + nameOf(*c) + "\" не добавлен: "_w + reason());
                return out;
            }
        }
        out.ok = true;
        return out;
    }
    ERR_clear_error();

    if (bytes.find("-----BEGIN ") != std::string::npos) {
        PemContents pem = readPem(bytes);
        if (pem.certs.empty() && pem.crls.empty())
            return failed("Файл не содержит сертификатов и списков отзыва."_w);
        crypto::EvpPkeyPtr key;
        if (!pem.keyPem.empty()) {
            key = crypto::private_key_from_pem(pem.keyPem);
            if (!key && crypto::last_error() == crypto::kErrKeyEncrypted) {
                Secret password;
                if (!ask || !ask(password.text)) {
                    OPENSSL_cleanse(pem.keyPem.data(), pem.keyPem.size());
                    return Outcome{false, true, {}};
                }
                key = crypto::private_key_from_pem(pem.keyPem, password.text);
            }
            OPENSSL_cleanse(pem.keyPem.data(), pem.keyPem.size());
            if (!key) return failed("Закрытый ключ файла не читается: "_w + reason());
        }
        // The certificate of the key goes to "MY" with it; nothing is
        // written when the key belongs to none of them.
        const crypto::Certificate *owner = nullptr;
        for (const CertPtr &c : pem.certs)
            if (key && !owner && EVP_PKEY_eq(key.get(), X509_get0_pubkey(c->x509())) == 1) owner = c.get();
        if (key && !owner) return failed("Закрытый ключ файла не подходит ни к одному из его сертификатов."_w);
        for (const CertPtr &c : pem.certs) {
            const bool mine = c.get() == owner;
            if (!add(mine ? kMy : store, c, mine ? key.get() : nullptr, AddDisposition::ReplaceExisting)) {
                out.lines.push_back("Сертификат \""_w + nameOf(*c) + "\" не добавлен: "_w + reason());
                return out;
            }
        }
        for (const CrlPtr &crl : pem.crls)
            if (!addCrl(crl)) {
                out.lines.push_back("Список отзыва не добавлен: "_w + reason());
                return out;
            }
        out.ok = true;
        return out;
    }

    if (CertPtr c = crypto::Certificate::from_der(bytes.data(), bytes.size())) {
        if (!add(store, c, nullptr, AddDisposition::ReplaceExisting))
            return failed("Сертификат \""_w + nameOf(*c) + "\" не добавлен: "_w + reason());
        out.ok = true;
        return out;
    }
    if (CrlPtr crl = crypto::Crl::from_der(bytes.data(), bytes.size())) {
        if (!addCrl(crl)) return failed("Список отзыва не добавлен: "_w + reason());
        out.ok = true;
        return out;
    }
    return failed("Файл не является сертификатом, списком отзыва или файлом PKCS #12."_w);
}

Outcome CertManagerModel::exportCertificate(const std::string &store, const std::string &thumbprint,
                                            ExportFormat format, const std::string &path,
                                            const std::string &password) const {
    auto s = open(store, false);
    CertPtr cert = s ? s->find_by_thumbprint(thumbprint) : nullptr;
    if (!cert) return failed("Сертификата нет в хранилище."_w);
    std::string bytes, error;
    if (format == ExportFormat::der) {
        bytes.assign(cert->der().begin(), cert->der().end());
    } else if (format == ExportFormat::pem) {
        bytes = cert->pem();
    } else {
        if (password.empty()) return failed("Пустой пароль не защищает закрытый ключ: укажите пароль."_w);
        crypto::EvpPkeyPtr key = s->private_key(*cert);
        if (!key) return failed("Закрытый ключ сертификата не читается: "_w + reason());
        const std::string friendly = cp::cp1251_to_utf8(nameOf(*cert));
        PKCS12 *p12 = PKCS12_create(password.c_str(), friendly.c_str(), key.get(), cert->x509(), nullptr, 0, 0, 0, 0, 0);
        unsigned char *der = nullptr;
        const int n = p12 ? i2d_PKCS12(p12, &der) : -1;
        PKCS12_free(p12);
        ERR_clear_error();
        if (n <= 0) return failed("Файл PKCS #12 не создан."_w);
        bytes.assign(reinterpret_cast<char *>(der), static_cast<size_t>(n));
        OPENSSL_free(der);
    }
    const bool ok = writeReplacing(path, bytes, format == ExportFormat::pkcs12, error);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    if (!ok) return failed("Файл не записан: "_w + cp::utf8_to_cp1251(error));
    return Outcome{true, false, {"Сертификат \""_w + nameOf(*cert) + "\" сохранён в файле."_w}};
}

Outcome CertManagerModel::removeCertificate(const std::string &store, const std::string &thumbprint) {
    auto s = open(store, false);
    CertPtr cert = s ? s->find_by_thumbprint(thumbprint) : nullptr;
    if (!cert) return failed("Сертификата нет в хранилище."_w);
    if (!s->remove(*cert)) return failed("Сертификат не удален: "_w + reason());
    return Outcome{true, false, {"Сертификат \""_w + nameOf(*cert) + "\" удален."_w}};
}

Outcome CertManagerModel::removeRevocationList(const std::string &thumbprint) {
    auto s = open(kCa, false);
    if (s)
        for (const CrlPtr &c : s->crls())
            if (c->thumbprint() == thumbprint) {
                if (!s->remove_crl(*c)) return failed("Список отзыва не удален: "_w + reason());
                return Outcome{true, false, {"Список отзыва удален."_w}};
            }
    return failed("Списка отзыва нет в хранилище."_w);
}

Outcome CertManagerModel::addRevocationList(const std::string &bytes) {
    CrlPtr crl = crypto::Crl::from_der(bytes.data(), bytes.size());
    if (!crl) return failed("Файл не является списком отзыва."_w);
    auto s = open(kCa, true);
    if (!s || !s->add_crl(crl, AddDisposition::ReplaceExisting)) return failed("Список отзыва не добавлен: "_w + reason());
    return Outcome{true, false, {"Список отзыва издателя \""_w + crl->issuer_name() + "\" добавлен."_w}};
}

Outcome CertManagerModel::setOwnCertificate(const std::string &thumbprint) {
    auto s = open(kMy, false);
    CertPtr cert = s ? s->find_by_thumbprint(thumbprint) : nullptr;
    if (!cert) return failed("Сертификата нет в хранилище личных сертификатов."_w);
    if (!s->has_private_key(*cert)) return failed("У сертификата нет закрытого ключа: им нельзя подписывать."_w);
    const std::string key = ownCertificateKey();
    const crypto::Bytes serial = cert->serial_le(), issuer = cert->issuer_der();
    const bool ok = QZ_SetKeyBinary(key.c_str(), "CertSerialNumber", serial.data(), static_cast<QZ_DWORD>(serial.size()),
                                    QZ_REG_BINARY, 0) == 0 &&
                    QZ_SetKeyBinary(key.c_str(), "CertIssuer", issuer.data(), static_cast<QZ_DWORD>(issuer.size()),
                                    QZ_REG_BINARY, 0) == 0;
    if (!ok) return failed("Настройки не записаны: хранилище настроек недоступно для записи."_w);
    return Outcome{true, false, {"Сертификат \""_w + nameOf(*cert) + "\" выбран своим."_w}};
}

} // namespace tarmin::tmnui
