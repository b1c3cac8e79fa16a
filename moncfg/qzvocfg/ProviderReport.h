// What the provider settings window shows, gathered without a window: the
// GOST engine and its version, the provider's algorithm settings as the
// CryptoAPI interface library fixes them, the remembered own certificate with
// its key's algorithm and parameter set, and the certificate stores. Texts
// taken from certificates are Windows-1251; the rest is ASCII.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace tarmin::qzvocfg {

struct EngineInfo {
    bool loaded = false;
    std::string error;          // why it could not be loaded (UTF-8)
    std::string id;             // "gost"
    std::string name;           // as the engine names itself
    std::string module;         // the file the engine was loaded from
    std::string packageVersion; // of the package that installed the module; empty when unknown
    std::string opensslVersion;
};

struct AlgorithmSetting {
    const char *setting; // "HashAlgOid", ...
    std::string value;   // an object identifier, or an algorithm number "0x801E"
    std::string name;    // what it stands for (Windows-1251)
};

struct OwnCertificate {
    bool remembered = false; // issuer and serial number kept in the settings
    std::string issuer;      // X.500 text
    std::string serial;      // hexadecimal
    bool found = false;      // in the personal store "MY"
    std::string subject;
    std::string thumbprint;
    std::string keyAlgorithm; // name (Windows-1251) and identifier
    std::string keyParameters;
    std::string hashAlgorithm; // the hash the library signs with for this key
    bool hasPrivateKey = false;
    time_t notAfter = 0;
};

struct StoreInfo {
    std::string location; // "CurrentUser", "LocalMachine"
    std::string name;     // system store
    std::size_t certificates = 0;
    std::size_t privateKeys = 0;
};

struct ProviderReport {
    EngineInfo engine;
    std::string providerName;
    // Whether the library fixes its algorithms for this provider (its name
    // begins with one of the names it knows).
    bool algorithmsFixed = false;
    std::vector<AlgorithmSetting> algorithms;
    OwnCertificate own;
    std::string storesRoot; // UTF-8 path
    std::vector<StoreInfo> stores;
};

ProviderReport collectProviderReport();

// The name of a GOST object identifier (Windows-1251), or the identifier
// itself when it is not one of them.
std::string gostObjectName(const std::string &oid);

// Makes the library forget the remembered own certificate. false when the
// settings cannot be written.
bool forgetOwnCertificate();

} // namespace tarmin::qzvocfg
