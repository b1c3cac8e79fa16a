// CMS enveloped data: both directions against `openssl cms` with the GOST
// engine, for GOST R 34.10-2001 and 34.10-2012 recipients, the recipient
// list, and the failures of bad input.
#include "crypto_test_util.h"

#include "platform/crypto/crypto_error.h"
#include "platform/crypto/envelope.h"
#include "platform/crypto/message.h"
#include "platform/crypto/symmetric.h"

#include <gtest/gtest.h>

namespace {

using namespace tarmin::crypto;
using namespace tarmin::test;
using namespace tarmin::test::crypto;

class Envelope : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new std::filesystem::path(make_temp_dir("envelope"));
        r2001_ = new PemPair(make_self_signed(*dir_, "Recipient2001", "gost2001"));
        r2012_ = new PemPair(make_self_signed(*dir_, "Recipient2012", "gost2012_256"));
        r512_ = new PemPair(make_self_signed(*dir_, "Recipient512", "gost2012_512"));
    }
    static void TearDownTestSuite() {
        delete r2001_;
        delete r2012_;
        delete r512_;
        delete dir_;
    }
    static std::filesystem::path *dir_;
    static PemPair *r2001_, *r2012_, *r512_;

    static std::string payload() {
        std::string s;
        for (int i = 0; i < 70000; ++i) s += static_cast<char>(i * 7 + i / 256);
        return s;
    }
};
std::filesystem::path *Envelope::dir_ = nullptr;
PemPair *Envelope::r2001_ = nullptr;
PemPair *Envelope::r2012_ = nullptr;
PemPair *Envelope::r512_ = nullptr;

TEST_F(Envelope, OursOpensWithOpensslCmsForEachRecipient) {
    auto c1 = load_cert(r2001_->cert), c2 = load_cert(r2012_->cert), c3 = load_cert(r512_->cert);
    ASSERT_TRUE(c1 && c2 && c3);
    std::string data = payload();
    auto env = envelope_encrypt(data.data(), data.size(), {c1.get(), c2.get(), c3.get()});
    ASSERT_TRUE(env) << std::hex << last_error() << " " << last_error_detail();
    write_file(*dir_ / "ours.der", string_of(*env));
    for (const PemPair *r : {r2001_, r2012_, r512_}) {
        std::string out, err;
        ASSERT_EQ(0, openssl({"cms", "-decrypt", "-binary", "-inform", "DER", "-in", (*dir_ / "ours.der").string(),
                              "-recip", r->cert.string(), "-inkey", r->key.string()},
                             &out, &err))
            << err;
        EXPECT_EQ(data, out) << r->cert;
    }
}

TEST_F(Envelope, OpensslCmsOpensWithOursForEachRecipient) {
    std::string data = payload();
    write_file(*dir_ / "plain", data);
    std::string err;
    ASSERT_EQ(0, openssl({"cms", "-encrypt", "-gost89", "-binary", "-in", (*dir_ / "plain").string(), "-outform", "DER",
                          "-out", (*dir_ / "theirs.der").string(), r2001_->cert.string(), r2012_->cert.string(),
                          r512_->cert.string()},
                         nullptr, &err))
        << err;
    std::string env = read_file(*dir_ / "theirs.der");
    for (const PemPair *r : {r2001_, r2012_, r512_}) {
        auto cert = load_cert(r->cert);
        auto key = load_key(r->key);
        ASSERT_TRUE(cert && key);
        auto plain = envelope_decrypt(env.data(), env.size(), *cert, key.get());
        ASSERT_TRUE(plain) << std::hex << last_error() << " " << last_error_detail();
        EXPECT_EQ(data, string_of(*plain));
    }
}

TEST_F(Envelope, RecipientsAreListedByIssuerAndSerial) {
    // DER sorts the SET OF recipient infos, so the order is the message's,
    // not the order of the list given to encryption.
    auto c1 = load_cert(r2001_->cert), c2 = load_cert(r2012_->cert);
    auto env = envelope_encrypt("x", 1, {c2.get(), c1.get()});
    ASSERT_TRUE(env);
    auto ids = envelope_recipients(env->data(), env->size());
    ASSERT_TRUE(ids);
    ASSERT_EQ(2u, ids->size());
    for (const auto &cert : {c1, c2}) {
        int found = 0;
        for (const RecipientId &id : *ids)
            found += id.issuer_der == cert->issuer_der() && integers_equal_le(id.serial_le, cert->serial_le());
        EXPECT_EQ(1, found) << cert->subject_name();
    }
}

TEST_F(Envelope, EmptyContentRoundTrips) {
    auto c1 = load_cert(r2001_->cert);
    auto key = load_key(r2001_->key);
    auto env = envelope_encrypt(nullptr, 0, {c1.get()});
    ASSERT_TRUE(env);
    auto plain = envelope_decrypt(env->data(), env->size(), *c1, key.get());
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->empty());
}

TEST_F(Envelope, EncryptRefusesNoRecipientOtherCipherAndNonGostKeys) {
    auto c1 = load_cert(r2001_->cert);
    EXPECT_FALSE(envelope_encrypt("x", 1, {}));
    EXPECT_EQ(kErrInvalidArg, last_error());
    EXPECT_FALSE(envelope_encrypt("x", 1, {c1.get()}, "1.2.840.113549.3.7"));
    EXPECT_EQ(kErrBadAlgorithm, last_error());
    EXPECT_FALSE(envelope_encrypt("x", 1, {c1.get(), nullptr}));
    EXPECT_EQ(kErrInvalidArg, last_error());

    auto rsa_cert = *dir_ / "rsa.crt";
    ASSERT_EQ(0, openssl({"req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout", (*dir_ / "rsa.key").string(),
                          "-out", rsa_cert.string(), "-subj", "/CN=rsa", "-days", "1"}));
    auto rsa = load_cert(rsa_cert);
    ASSERT_TRUE(rsa);
    EXPECT_FALSE(envelope_encrypt("x", 1, {c1.get(), rsa.get()}));
    EXPECT_EQ(kErrBadKey, last_error());
}

TEST_F(Envelope, DecryptTellsNotRecipientWrongKeyAndBadInputApart) {
    auto c1 = load_cert(r2001_->cert), c2 = load_cert(r2012_->cert);
    auto k1 = load_key(r2001_->key), k2 = load_key(r2012_->key);
    auto env = envelope_encrypt("secret", 6, {c1.get()});
    ASSERT_TRUE(env);

    EXPECT_FALSE(envelope_decrypt(env->data(), env->size(), *c2, k2.get()));
    EXPECT_EQ(kErrNotFound, last_error());
    // The recipient's certificate with somebody else's key.
    EXPECT_FALSE(envelope_decrypt(env->data(), env->size(), *c1, k2.get()));
    EXPECT_EQ(kErrBadData, last_error());
    EXPECT_FALSE(envelope_decrypt(env->data(), env->size(), *c1, nullptr));
    EXPECT_EQ(kErrNoKey, last_error());

    for (size_t cut : {size_t(1), size_t(10), env->size() / 2, env->size() - 1}) {
        EXPECT_FALSE(envelope_decrypt(env->data(), cut, *c1, k1.get())) << cut;
        EXPECT_EQ(kErrBadEncoding, last_error()) << cut;
        EXPECT_FALSE(envelope_recipients(env->data(), cut)) << cut;
    }
    EXPECT_FALSE(envelope_decrypt("garbage", 7, *c1, k1.get()));
    EXPECT_EQ(kErrBadEncoding, last_error());
    EXPECT_FALSE(envelope_decrypt(nullptr, 0, *c1, k1.get()));

    // Signed data is not enveloped data.
    auto sig = sign_message({c1.get(), k1.get(), HashAlg::Gost94, true, true, 0}, "abc", 3);
    ASSERT_TRUE(sig);
    EXPECT_FALSE(envelope_decrypt(sig->data(), sig->size(), *c1, k1.get()));
    EXPECT_EQ(kErrBadMessage, last_error());
    EXPECT_FALSE(envelope_recipients(sig->data(), sig->size()));
    EXPECT_EQ(kErrBadMessage, last_error());
}

TEST_F(Envelope, EveryFlippedByteNeverCrashesAndNeverOpensWithWrongKeyTransport) {
    auto c1 = load_cert(r2001_->cert);
    auto k1 = load_key(r2001_->key);
    auto env = envelope_encrypt("payload!", 8, {c1.get()});
    ASSERT_TRUE(env);
    int opened = 0;
    for (size_t i = 0; i < env->size(); ++i) {
        Bytes bad = *env;
        bad[i] ^= 0x40;
        auto plain = envelope_decrypt(bad.data(), bad.size(), *c1, k1.get());
        envelope_recipients(bad.data(), bad.size());
        if (plain) ++opened;
    }
    // Some bytes (content parameters, unused bits) do not stop decryption;
    // a flipped key transport always does, so not every variant opens.
    EXPECT_LT(opened, static_cast<int>(env->size()));
}

} // namespace
