// Helpers of the crypto layer tests: the openssl command line with the GOST
// engine, keys and certificates made with it, hexadecimal text.
#pragma once

#include "platform/crypto/certificate.h"
#include "platform/crypto/provider.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tarmin::test::crypto {

using tarmin::crypto::Bytes;

inline std::string hex(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string hex(const Bytes &b) { return hex(b.data(), b.size()); }
inline std::string hex(const std::string &b) { return hex(reinterpret_cast<const uint8_t *>(b.data()), b.size()); }

inline Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }
inline std::string string_of(const Bytes &b) { return std::string(b.begin(), b.end()); }

// Runs "openssl <args...>" with the GOST engine: with no system
// configuration and "-engine gost", or with the configuration file conf.
// The exit status; the output when out is given.
inline int openssl(std::vector<std::string> args, std::string *out = nullptr, std::string *err = nullptr,
                   const std::filesystem::path &conf = {}) {
    ::setenv("OPENSSL_CONF", conf.empty() ? "/dev/null" : conf.c_str(), 1);
    std::string command = args.front();
    args.erase(args.begin());
    std::vector<std::string> argv{"openssl", command};
    if (conf.empty()) argv.insert(argv.end(), {"-engine", "gost"});
    argv.insert(argv.end(), args.begin(), args.end());
    std::string e;
    int rc = run(argv, out, &e);
    ::setenv("OPENSSL_CONF", "/dev/null", 1);
    if (err) *err = e;
    return rc;
}

// An openssl.cnf in dir that loads the GOST engine for every algorithm with
// GOST 28147-89 on the CryptoPro-A parameter set (the engine's default is
// TC26 Z).
inline std::filesystem::path openssl_conf_cryptopro_a(const std::filesystem::path &dir) {
    auto path = dir / "openssl.cnf";
    write_file(path, "openssl_conf = openssl_def\n"
                     "[openssl_def]\nengines = engine_section\n"
                     "[engine_section]\ngost = gost_section\n"
                     "[gost_section]\nengine_id = gost\ndefault_algorithms = ALL\n"
                     "CRYPT_PARAMS = id-Gost28147-89-CryptoPro-A-ParamSet\n");
    return path;
}

// A self-signed certificate and its key made by the openssl command line,
// as PEM files in dir. alg: "gost2001" or "gost2012_256" / "gost2012_512".
struct PemPair {
    std::filesystem::path cert, key;
};
inline PemPair make_self_signed(const std::filesystem::path &dir, const std::string &name, const std::string &alg,
                                const std::string &extra_subject = {}) {
    PemPair p{dir / (name + ".crt"), dir / (name + ".key")};
    std::string err;
    int rc = openssl({"req", "-x509", "-newkey", alg, "-pkeyopt", "paramset:A", "-nodes", "-keyout", p.key.string(),
                      "-out", p.cert.string(), "-subj", "/CN=" + name + extra_subject, "-days", "30", "-addext",
                      "keyUsage=digitalSignature,keyEncipherment,keyAgreement"},
                     nullptr, &err);
    if (rc != 0) ADD_FAILURE() << "openssl req failed: " << err;
    return p;
}

inline tarmin::crypto::CertPtr load_cert(const std::filesystem::path &pem) {
    std::string text = read_file(pem);
    return tarmin::crypto::Certificate::from_der(text.data(), text.size());
}

inline tarmin::crypto::EvpPkeyPtr load_key(const std::filesystem::path &pem) {
    return tarmin::crypto::private_key_from_pem(read_file(pem));
}

} // namespace tarmin::test::crypto
