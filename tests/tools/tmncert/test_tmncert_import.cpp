// tmncert import of what other tool kits hand over: PEM bundles (certificates,
// a private key, revocation lists) and PKCS #12 files with their chain.
#include "platform/crypto/store.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace tarmin::test;
namespace crypto = tarmin::crypto;
namespace fs = std::filesystem;

namespace {

int tmncert(const std::vector<std::string> &args, std::string *out = nullptr, std::string *err = nullptr,
            const std::string &input = {}) {
    std::vector<std::string> argv{"setsid", "-w", built_program("tmncert").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, out, err, input);
}

// Thumbprints of a store's certificates, and which of them have a key.
std::map<std::string, bool> contents(const std::string &store) {
    std::map<std::string, bool> out;
    auto s = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, store, crypto::kDefaultPhysical, false);
    if (!s) return out;
    for (const auto &c : s->certificates()) out[c->thumbprint()] = s->has_private_key(*c);
    return out;
}

class TmncertImport : public ::testing::Test {
protected:
    // A test PKI in another home, whose files are imported into this one.
    static void SetUpTestSuite() {
        source_ = new fs::path(make_temp_dir("source"));
        std::string out;
        std::vector<std::string> argv{"env", "TARMIN_HOME=" + (*source_ / "home").string(),
                                      built_program("tmncert").string(), "pki", "--out", (*source_ / "pki").string()};
        ASSERT_EQ(run(argv, &out), 0);
        std::istringstream lines(out);
        std::string name, thumb;
        while (lines >> name >> thumb) thumb_[name] = thumb;
    }
    void SetUp() override {
        crypto::forget_store_cache();
        fs::remove_all(home() / "certstores");
    }
    static std::string file(const std::string &name) { return read_file(*source_ / "pki" / name); }
    static std::string crl_pem() {
        std::string out;
        run({"openssl", "crl", "-inform", "DER", "-in", (*source_ / "pki/ca.crl").string()}, &out);
        return out;
    }
    static fs::path *source_;
    static std::map<std::string, std::string> thumb_;
};
fs::path *TmncertImport::source_ = nullptr;
std::map<std::string, std::string> TmncertImport::thumb_;

TEST_F(TmncertImport, PemBundleSortsCertificatesKeyAndRevocationLists) {
    fs::path bundle = make_temp_dir("in") / "bundle.pem";
    write_file(bundle, file("alice.pem") + file("operator.pem") + file("operator.key") + crl_pem());
    std::string err;
    ASSERT_EQ(tmncert({"import", bundle.string()}, nullptr, &err), 0) << err;
    EXPECT_EQ(contents("MY"), (std::map<std::string, bool>{{thumb_["operator"], true}}));
    EXPECT_EQ(contents("AddressBook"), (std::map<std::string, bool>{{thumb_["alice"], false}}));
    auto ca = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "CA", crypto::kDefaultPhysical, false);
    ASSERT_TRUE(ca);
    EXPECT_EQ(ca->crls().size(), 1u);
}

TEST_F(TmncertImport, KeyOfNoCertificateInTheBundleWritesNothing) {
    fs::path bundle = make_temp_dir("in") / "mismatch.pem";
    write_file(bundle, file("alice.pem") + file("bob.key"));
    std::string err;
    EXPECT_EQ(tmncert({"import", bundle.string()}, nullptr, &err), 1);
    EXPECT_NE(err.find("the private key belongs to none of the certificates"), std::string::npos) << err;
    EXPECT_TRUE(contents("AddressBook").empty());
    EXPECT_TRUE(contents("MY").empty());
    fs::path empty = make_temp_dir("in") / "empty.pem";
    write_file(empty, "-----BEGIN SOMETHING-----\nAAAA\n-----END SOMETHING-----\n");
    EXPECT_EQ(tmncert({"import", empty.string()}, nullptr, &err), 1);
}

TEST_F(TmncertImport, Pkcs12ChainGoesToCaButTheRootIsNotTrustedSilently) {
    fs::path dir = make_temp_dir("in");
    write_file(dir / "chain.pem", file("root.pem") + file("ca.pem"));
    std::string err;
    ASSERT_EQ(run({"openssl", "pkcs12", "-engine", "gost", "-export", "-in", (*source_ / "pki/operator2001.pem").string(),
                   "-inkey", (*source_ / "pki/operator2001.key").string(), "-certfile", (dir / "chain.pem").string(),
                   "-passout", "pass:secret", "-out", (dir / "op.p12").string()},
                  nullptr, &err),
              0)
        << err;
    EXPECT_EQ(tmncert({"import", "--password-fd", "0", (dir / "op.p12").string()}, nullptr, &err, "wrong\n"), 1);
    EXPECT_TRUE(contents("MY").empty());
    std::string out;
    ASSERT_EQ(tmncert({"import", "--password-fd", "0", (dir / "op.p12").string()}, &out, &err, "secret\n"), 0) << err;
    EXPECT_EQ(contents("MY"), (std::map<std::string, bool>{{thumb_["operator2001"], true}}));
    EXPECT_EQ(contents("CA"), (std::map<std::string, bool>{{thumb_["ca"], false}}));
    EXPECT_TRUE(contents("Root").empty());
    EXPECT_NE(out.find("root certificate not trusted automatically"), std::string::npos) << out;
    EXPECT_NE(out.find(thumb_["root"]), std::string::npos);
}

} // namespace
