// Shared set-up of the qzms tests: a test PKI made by tmncert in the test
// home, the settings of the product, and answering the library's dialogs.
#pragma once

#include "include/qzcom.h"
#include "include/qzms.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace tarmin::test {

inline std::filesystem::path tmncert() { return built_program("tmncert"); }

// Runs tmncert; fails the test on a non-zero exit.
inline std::string run_tmncert(const std::vector<std::string> &args, int expect = 0) {
    std::vector<std::string> argv{tmncert().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out, err;
    int rc = run(argv, &out, &err);
    EXPECT_EQ(rc, expect) << err;
    return out;
}

// The test PKI: name -> thumbprint, and the directory of its files.
struct Pki {
    std::map<std::string, std::string> thumb;
    std::filesystem::path dir;

    std::string der(const std::string &name) const { return read_file(dir / (name + ".cer")); }
    std::filesystem::path pem(const std::string &name) const { return dir / (name + ".pem"); }
    std::filesystem::path key(const std::string &name) const { return dir / (name + ".key"); }
};

inline Pki make_pki() {
    Pki pki;
    pki.dir = home() / "pki";
    std::istringstream lines(run_tmncert({"pki", "--out", pki.dir.string()}));
    std::string name, thumb;
    while (lines >> name >> thumb) pki.thumb[name] = thumb;
    return pki;
}

// Product settings: common services initialised, installation directory set.
inline std::filesystem::path init_product() {
    EXPECT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0);
    std::filesystem::path install = home() / "install";
    std::filesystem::create_directories(install);
    QZ_SetKeyString(QZ_GetProductKeyName(), "Path", install.c_str(), 1);
    return install;
}

inline std::string skzi_key() { return std::string(QZ_GetProductKeyName()) + "\\SKZIpath"; }

// Remembers a certificate of "MY" as the own one (through tmncert).
inline void set_my(const Pki &pki, const std::string &name) { run_tmncert({"setmy", pki.thumb.at(name)}); }

inline void forget_my() { QZ_DeleteKey(skzi_key().c_str(), 1); }

// A blob over a string that outlives it (a temporary would leave it dangling).
inline CapiBlob blob_of(const std::string &s) {
    return CapiBlob{reinterpret_cast<unsigned char *>(const_cast<char *>(s.data())), static_cast<uint32_t>(s.size())};
}
CapiBlob blob_of(std::string &&) = delete;
CapiBlob blob_of(const char *) = delete;
inline std::string text_of(const CapiBlob &b) { return std::string(reinterpret_cast<char *>(b.pbData), b.cbData); }

// A context that frees itself.
struct Ctx {
    CapiContext *ctx = nullptr;
    Ctx() { EXPECT_EQ(CCA_create_context(&ctx), 0); }
    ~Ctx() {
        CCA_final(ctx);
        CCA_close_context(ctx);
    }
    operator CapiContext *() const { return ctx; }
    uint32_t code() const { return static_cast<uint32_t>(CCA_get_code_error(ctx)); }
    std::string text() const { return CCA_get_text_error(ctx); }
    std::string debug() const { return CCA_get_debug_error(ctx); }
};

} // namespace tarmin::test
