// The engine interface is the one way to reach the GOST engine's module.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "moncfg/qzvocfg/ProviderReport.h"

#include "common/codepage.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/provider.h"
#include "platform/crypto/store.h"
#include "qzcom.h"

#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/x509.h>

#include <dlfcn.h>

#include <array>
#include <fstream>
#include <string_view>

namespace tarmin::qzvocfg {

using namespace tarmin::cp::literals;

namespace {

// The package that installs the GOST engine, and where the package manager
// keeps the versions of the installed packages.
constexpr const char *kEnginePackage = "libengine-gost-openssl";
constexpr const char *kPackageStatus = "/var/lib/dpkg/status";

// Where the library remembers the own certificate, below the product key.
constexpr const char *kOwnCertKey = "\\SKZIpath";
constexpr const char *kOwnSerial = "CertSerialNumber";
constexpr const char *kOwnIssuer = "CertIssuer";

// Provider names for which the library fixes its algorithms.
constexpr std::array<std::string_view, 2> kKnownProviders{"Crypto-Pro", "Kelvoria"};

constexpr const char *kKey2012_256 = "1.2.643.7.1.1.1.1";
constexpr const char *kHash94 = "1.2.643.2.2.9";
constexpr const char *kHash2012_256 = "1.2.643.7.1.1.2.2";

struct ObjectName {
    const char *oid;
    const char *name;
};
const ObjectName kGostObjects[] = {
    {"1.2.643.2.2.19", "ГОСТ Р 34.10-2001"_w},
    {"1.2.643.7.1.1.1.1", "ГОСТ Р 34.10-2012, 256 бит"_w},
    {"1.2.643.7.1.1.1.2", "ГОСТ Р 34.10-2012, 512 бит"_w},
    {"1.2.643.2.2.9", "ГОСТ Р 34.11-94"_w},
    {"1.2.643.7.1.1.2.2", "ГОСТ Р 34.11-2012, 256 бит"_w},
    {"1.2.643.7.1.1.2.3", "ГОСТ Р 34.11-2012, 512 бит"_w},
    {"1.2.643.2.2.21", "ГОСТ 28147-89"_w},
    {"1.2.643.2.2.35.1", "ГОСТ Р 34.10-2001, набор параметров A"_w},
    {"1.2.643.2.2.35.2", "ГОСТ Р 34.10-2001, набор параметров B"_w},
    {"1.2.643.2.2.35.3", "ГОСТ Р 34.10-2001, набор параметров C"_w},
    {"1.2.643.2.2.36.0", "ГОСТ Р 34.10-2001, набор параметров обмена XA"_w},
    {"1.2.643.2.2.36.1", "ГОСТ Р 34.10-2001, набор параметров обмена XB"_w},
    {"1.2.643.7.1.2.1.1.1", "ГОСТ Р 34.10-2012, 256 бит, набор параметров A"_w},
    {"1.2.643.7.1.2.1.1.2", "ГОСТ Р 34.10-2012, 256 бит, набор параметров B"_w},
    {"1.2.643.7.1.2.1.1.3", "ГОСТ Р 34.10-2012, 256 бит, набор параметров C"_w},
    {"1.2.643.7.1.2.1.1.4", "ГОСТ Р 34.10-2012, 256 бит, набор параметров D"_w},
    {"1.2.643.7.1.2.1.2.1", "ГОСТ Р 34.10-2012, 512 бит, набор параметров A"_w},
    {"1.2.643.7.1.2.1.2.2", "ГОСТ Р 34.10-2012, 512 бит, набор параметров B"_w},
    {"1.2.643.7.1.2.1.2.3", "ГОСТ Р 34.10-2012, 512 бит, набор параметров C"_w},
};

EngineInfo engineInfo() {
    EngineInfo info;
    info.opensslVersion = OpenSSL_version(OPENSSL_VERSION);
    if (!crypto::ensure_provider()) {
        info.error = crypto::provider_error_text();
        return info;
    }
    ENGINE *engine = ENGINE_by_id("gost");
    if (!engine) {
        info.error = crypto::provider_error_text();
        return info;
    }
    info.loaded = true;
    info.id = ENGINE_get_id(engine);
    info.name = ENGINE_get_name(engine);
    // The module is the file that holds the engine's functions.
    Dl_info where{};
    if (auto digests = ENGINE_get_digests(engine);
        digests && dladdr(reinterpret_cast<void *>(digests), &where) && where.dli_fname)
        info.module = where.dli_fname;
    ENGINE_free(engine);

    std::ifstream status(kPackageStatus);
    bool inPackage = false;
    for (std::string line; std::getline(status, line);) {
        if (line.empty()) inPackage = false;
        else if (line.rfind("Package: ", 0) == 0) inPackage = line.substr(9) == kEnginePackage;
        else if (inPackage && line.rfind("Version: ", 0) == 0) info.packageVersion = line.substr(9);
    }
    return info;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && cp::iequals_1251(text.substr(0, prefix.size()), prefix);
}

std::vector<AlgorithmSetting> algorithmSettings() {
    auto named = [](const char *setting, const char *oid) { return AlgorithmSetting{setting, oid, gostObjectName(oid)}; };
    return {
        named("HashAlgOid", kHash94),
        named("HashAlgOid2012", kHash2012_256),
        named("EncryptAlgOid", "1.2.643.2.2.21"),
        {"HashAlgNumber", "0x801E", "хэширование ГОСТ Р 34.11-94"_w},
        {"KeyAlgNumber", "0x661E", "шифрование ГОСТ 28147-89"_w},
        {"AlgIdNumber", "0x661F", "экспорт ключа ГОСТ 28147-89"_w},
        {"ImitAlgNumber", "0x801F", "имитовставка ГОСТ 28147-89"_w},
    };
}

std::string named(const std::string &oid) {
    const std::string name = gostObjectName(oid);
    return name == oid ? oid : name + " (" + oid + ")";
}

// The parameter set of a GOST public key: the first identifier of the key
// algorithm's parameters.
std::string keyParameterSet(const crypto::Certificate &cert) {
    X509_PUBKEY *key = X509_get_X509_PUBKEY(cert.x509());
    X509_ALGOR *algorithm = nullptr;
    if (!key || !X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &algorithm, key) || !algorithm) return {};
    int type = 0;
    const void *value = nullptr;
    X509_ALGOR_get0(nullptr, &type, &value, algorithm);
    if (type != V_ASN1_SEQUENCE || !value) return {};
    const auto *sequence = static_cast<const ASN1_STRING *>(value);
    const unsigned char *p = ASN1_STRING_get0_data(sequence);
    ASN1_SEQUENCE_ANY *parts = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, ASN1_STRING_length(sequence));
    std::string oid;
    if (parts && sk_ASN1_TYPE_num(parts) > 0) {
        const ASN1_TYPE *first = sk_ASN1_TYPE_value(parts, 0);
        if (first->type == V_ASN1_OBJECT) oid = crypto::oid_text(first->value.object);
    }
    sk_ASN1_TYPE_pop_free(parts, ASN1_TYPE_free);
    return oid;
}

std::string ownCertificatePath() {
    const char *product = QZ_GetProductKeyName();
    return product ? std::string(product) + kOwnCertKey : std::string();
}

OwnCertificate ownCertificate() {
    OwnCertificate own;
    const std::string path = ownCertificatePath();
    crypto::Bytes serial(QZ_MAX_BINARY), issuer(QZ_MAX_BINARY);
    QZ_DWORD serialLength = QZ_MAX_BINARY, issuerLength = QZ_MAX_BINARY;
    if (path.empty() || QZ_GetKeyBinary(path.c_str(), kOwnSerial, serial.data(), &serialLength, 1) != 0 ||
        QZ_GetKeyBinary(path.c_str(), kOwnIssuer, issuer.data(), &issuerLength, 1) != 0)
        return own;
    serial.resize(serialLength);
    issuer.resize(issuerLength);
    own.remembered = true;
    own.issuer = crypto::x500_name_string(issuer);
    own.serial = crypto::serial_hex_of(serial);
    auto store = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "MY", crypto::kDefaultPhysical, false);
    crypto::CertPtr cert = store ? store->find_by_issuer_serial(issuer, serial) : nullptr;
    if (!cert) return own;
    own.found = true;
    own.subject = cert->subject_name();
    own.thumbprint = cert->thumbprint();
    const std::string keyOid = cert->public_key_oid();
    own.keyAlgorithm = named(keyOid);
    if (const std::string parameters = keyParameterSet(*cert); !parameters.empty()) own.keyParameters = named(parameters);
    own.hashAlgorithm = named(keyOid == kKey2012_256 ? kHash2012_256 : kHash94);
    own.hasPrivateKey = store->has_private_key(*cert);
    own.notAfter = cert->not_after();
    return own;
}

std::vector<StoreInfo> storeInfos() {
    std::vector<StoreInfo> stores;
    for (crypto::StoreLocation location : crypto::store_locations())
        for (const std::string &name : crypto::system_stores(location)) {
            StoreInfo info{crypto::location_name(location), name};
            if (auto store = crypto::CertStore::open(location, name, crypto::kDefaultPhysical, false)) {
                const std::vector<crypto::CertPtr> certificates = store->certificates();
                info.certificates = certificates.size();
                for (const crypto::CertPtr &cert : certificates) info.privateKeys += store->has_private_key(*cert);
            }
            stores.push_back(std::move(info));
        }
    return stores;
}

} // namespace

std::string gostObjectName(const std::string &oid) {
    for (const ObjectName &object : kGostObjects)
        if (oid == object.oid) return object.name;
    return oid;
}

ProviderReport collectProviderReport() {
    ProviderReport report;
    report.engine = engineInfo();
    report.providerName = crypto::kProviderName;
    for (std::string_view known : kKnownProviders)
        report.algorithmsFixed = report.algorithmsFixed || startsWithIgnoringCase(report.providerName, known);
    if (report.algorithmsFixed) report.algorithms = algorithmSettings();
    report.own = ownCertificate();
    report.storesRoot = crypto::certstores_root().string();
    report.stores = storeInfos();
    return report;
}

bool forgetOwnCertificate() {
    const std::string path = ownCertificatePath();
    if (path.empty()) return false;
    // 0 deleted, 1 there was none; both leave nothing remembered.
    return QZ_DeleteValue(path.c_str(), kOwnSerial) >= 0 && QZ_DeleteValue(path.c_str(), kOwnIssuer) >= 0;
}

} // namespace tarmin::qzvocfg
