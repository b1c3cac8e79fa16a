// Chain building over the "Root" and "CA" stores and its error-status bits,
// and the revocation-list search across every store.
#include "crypto_test_util.h"
#include "test_pki.h"

#include "platform/crypto/chain.h"
#include "platform/crypto/crypto_error.h"
#include "platform/crypto/store.h"

#include <gtest/gtest.h>

namespace {

using namespace tarmin::crypto;
using namespace tarmin::test;
using namespace tarmin::test::crypto;
namespace fs = std::filesystem;

constexpr time_t kDay = 86400;

class Chains : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new Issued(make_root("Chain Root"));
        ca_ = new Issued(make_ca("Chain CA", *root_));
        leaf_ = new Issued(make_user("Leaf", "leaf@tarmin.test", *ca_));
        leaf2001_ = new Issued(make_user("Leaf2001", "leaf2001@tarmin.test", *ca_, KeyAlg::Gost2001));
        time_t now = time(nullptr);
        expired_ = new Issued(make_user("Expired", "expired@tarmin.test", *ca_, KeyAlg::Gost2012_256, now - 30 * kDay,
                                        now - kDay));
    }
    static void TearDownTestSuite() {
        for (auto *p : {root_, ca_, leaf_, leaf2001_, expired_}) delete p;
    }
    void SetUp() override {
        fs::remove_all(certstores_root());
        forget_store_cache();
    }
    static void trust_root() { CertStore::open(StoreLocation::CurrentUser, "Root")->add(root_->cert, AddDisposition::New); }
    static void know_ca() { CertStore::open(StoreLocation::LocalMachine, "CA")->add(ca_->cert, AddDisposition::New); }
    static uint32_t error_of(const Certificate &cert, time_t at = 0) {
        auto status = build_chain(cert, at);
        EXPECT_TRUE(status);
        return status ? status->error : 0xFFFFFFFF;
    }
    static Issued *root_, *ca_, *leaf_, *leaf2001_, *expired_;
};
Issued *Chains::root_ = nullptr;
Issued *Chains::ca_ = nullptr;
Issued *Chains::leaf_ = nullptr;
Issued *Chains::leaf2001_ = nullptr;
Issued *Chains::expired_ = nullptr;

TEST_F(Chains, TrustedRootAndKnownIntermediateGiveAFullChain) {
    trust_root();
    know_ca();
    for (auto *u : {leaf_, leaf2001_}) {
        auto status = build_chain(*u->cert);
        ASSERT_TRUE(status);
        EXPECT_EQ(0u, status->error) << std::hex << status->error;
        EXPECT_EQ(3, status->length);
        EXPECT_EQ(0u, status->info & kTrustIsSelfSigned);
    }
    auto root_status = build_chain(*root_->cert);
    ASSERT_TRUE(root_status);
    EXPECT_EQ(0u, root_status->error);
    EXPECT_NE(0u, root_status->info & kTrustIsSelfSigned);
}

TEST_F(Chains, MissingIntermediateIsAPartialChain) {
    trust_root();
    EXPECT_EQ(kTrustIsPartialChain, error_of(*leaf_->cert));
}

TEST_F(Chains, RootOutsideRootStoresIsUntrusted) {
    know_ca();
    // The root is known, but only as an intermediate.
    CertStore::open(StoreLocation::CurrentUser, "CA")->add(root_->cert, AddDisposition::New);
    EXPECT_EQ(kTrustIsUntrustedRoot, error_of(*leaf_->cert));
    EXPECT_EQ(kTrustIsUntrustedRoot, error_of(*root_->cert));
}

TEST_F(Chains, TimeValidityIsJudgedAtTheGivenTime) {
    trust_root();
    know_ca();
    EXPECT_EQ(kTrustIsNotTimeValid, error_of(*expired_->cert));
    EXPECT_EQ(0u, error_of(*expired_->cert, time(nullptr) - 10 * kDay));
    // Before the leaf's validity began.
    EXPECT_EQ(kTrustIsNotTimeValid, error_of(*leaf_->cert, time(nullptr) - 30 * kDay) & kTrustIsNotTimeValid);
}

TEST_F(Chains, ProblemsCombineIntoOneStatus) {
    // Expired and without its issuer: two bits at once.
    trust_root();
    EXPECT_EQ(kTrustIsNotTimeValid | kTrustIsPartialChain, error_of(*expired_->cert));
}

TEST_F(Chains, ASignatureByAnotherKeyIsNotValid) {
    trust_root();
    know_ca();
    // Same issuer name, signed with another key.
    Issued impostor_ca = make_root("Chain CA");
    CertSpec spec;
    spec.subject = "CN=Forged, O=Tarmin Test, C=RU";
    spec.issuer_cert = ca_->cert.get();
    spec.issuer_key = impostor_ca.key.get();
    spec.key_usage = kKuDigitalSignature;
    Issued forged = issue_or_fail(spec);
    ASSERT_TRUE(forged.cert);
    EXPECT_NE(0u, error_of(*forged.cert) & kTrustIsNotSignatureValid);
}

TEST_F(Chains, RevocationIsAskedOfEveryStoresLists) {
    trust_root();
    know_ca();
    EXPECT_FALSE(listed_in_any_crl(*leaf_->cert));
    std::string error;
    auto crl = tarmin::tmncert::make_crl(*ca_->cert, ca_->key.get(), {{leaf2001_->cert->serial_le(), time(nullptr)}},
                                         time(nullptr) - 60, time(nullptr) + kDay, &error);
    ASSERT_TRUE(crl) << error;
    // A list in any physical store of any location counts.
    CertStore::open(StoreLocation::LocalMachine, "Partners", "Lists")->add_crl(crl, AddDisposition::New);
    EXPECT_TRUE(listed_in_any_crl(*leaf2001_->cert));
    EXPECT_FALSE(listed_in_any_crl(*leaf_->cert));
    // Revocation is not part of chain building.
    EXPECT_EQ(0u, error_of(*leaf2001_->cert));
}

} // namespace
