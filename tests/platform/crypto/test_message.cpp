// CMS signed messages: ours verified by `openssl cms`, theirs verified by
// ours, the attributes, signers and certificates read back, time values, and
// damaged messages.
#include "crypto_test_util.h"
#include "test_pki.h"

#include "platform/crypto/crypto_error.h"
#include "platform/crypto/message.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace tarmin::crypto;
using namespace tarmin::test;
using namespace tarmin::test::crypto;
namespace fs = std::filesystem;

class Messages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new fs::path(make_temp_dir("messages"));
        root_ = new Issued(make_root("Message Root"));
        u2012_ = new Issued(make_user("Signer2012", "s2012@tarmin.test", *root_));
        u2001_ = new Issued(make_user("Signer2001", "s2001@tarmin.test", *root_, KeyAlg::Gost2001));
        for (auto [name, u] : {std::pair{"s2012", u2012_}, std::pair{"s2001", u2001_}}) {
            write_file(*dir_ / (std::string(name) + ".crt"), u->cert->pem());
            write_file(*dir_ / (std::string(name) + ".key"), *private_key_to_pem(u->key.get()));
        }
        write_file(*dir_ / "data", data());
    }
    static void TearDownTestSuite() {
        for (auto *p : {root_, u2012_, u2001_}) delete p;
        delete dir_;
    }
    static std::string data() {
        std::string s = "Document to be signed\r\n";
        for (int i = 0; i < 5000; ++i) s += static_cast<char>(i);
        return s;
    }
    static std::optional<Bytes> sign(const Issued &u, HashAlg hash, bool with_cert, bool detached = true,
                                     const std::string &content = data()) {
        SignParams p;
        p.signer = u.cert.get();
        p.key = u.key.get();
        p.hash = hash;
        p.include_certificate = with_cert;
        p.detached = detached;
        return sign_message(p, content.data(), content.size());
    }
    static std::string path(const std::string &name) { return (*dir_ / name).string(); }
    static fs::path *dir_;
    static Issued *root_, *u2012_, *u2001_;
};
fs::path *Messages::dir_ = nullptr;
Issued *Messages::root_ = nullptr;
Issued *Messages::u2012_ = nullptr;
Issued *Messages::u2001_ = nullptr;

TEST_F(Messages, OursVerifyWithOpensslCmsAndCarryOnlyTheSigningTime) {
    struct Case {
        Issued *user;
        HashAlg hash;
        const char *digest_oid;
    };
    for (const Case &c : {Case{u2001_, HashAlg::Gost94, "1.2.643.2.2.9"},
                          Case{u2012_, HashAlg::Streebog256, "1.2.643.7.1.1.2.2"}}) {
        auto sig = sign(*c.user, c.hash, true);
        ASSERT_TRUE(sig) << std::hex << last_error() << " " << last_error_detail();
        write_file(*dir_ / "ours.p7s", string_of(*sig));
        std::string out, err;
        EXPECT_EQ(0, openssl({"cms", "-verify", "-binary", "-noverify", "-inform", "DER", "-in", path("ours.p7s"),
                              "-content", path("data"), "-out", "/dev/null"},
                             &out, &err))
            << err;
        EXPECT_NE(std::string::npos, err.find("Verification successful")) << err;

        auto msg = SignedMessage::decode(sig->data(), sig->size());
        ASSERT_TRUE(msg);
        EXPECT_FALSE(msg->has_content());
        EXPECT_EQ(c.digest_oid, msg->digest_oid(0));
        auto attrs = msg->signed_attributes(0);
        ASSERT_TRUE(attrs);
        std::set<std::string> oids;
        for (const auto &a : *attrs) oids.insert(a.oid);
        // Content type and message digest belong to every signature; the
        // signing time is the one attribute of our own.
        EXPECT_EQ((std::set<std::string>{"1.2.840.113549.1.9.3", "1.2.840.113549.1.9.4", kOidSigningTime}), oids);
        EXPECT_TRUE(msg->verify_detached(0, *c.user->cert, data().data(), data().size()));
    }
}

TEST_F(Messages, OpensslSignaturesVerifyWithOursDetachedAndAttached) {
    for (const char *who : {"s2001", "s2012"}) {
        const Issued &u = std::string(who) == "s2001" ? *u2001_ : *u2012_;
        for (bool attached : {false, true}) {
            std::vector<std::string> args{"cms", "-sign", "-binary", "-in", path("data"), "-signer",
                                          path(std::string(who) + ".crt"), "-inkey", path(std::string(who) + ".key"),
                                          "-outform", "DER", "-out", path("theirs.p7s")};
            if (attached) args.push_back("-nodetach");
            std::string err;
            ASSERT_EQ(0, openssl(args, nullptr, &err)) << err;
            std::string sig = read_file(*dir_ / "theirs.p7s");
            auto msg = SignedMessage::decode(sig.data(), sig.size());
            ASSERT_TRUE(msg) << who;
            EXPECT_EQ(attached, msg->has_content());
            EXPECT_EQ(1, msg->signer_count());
            if (attached) {
                EXPECT_EQ(data(), string_of(*msg->content()));
                EXPECT_TRUE(msg->verify_attached(0, *u.cert)) << who << std::hex << " " << last_error();
                // Its signature proves its own content: a detached check over
                // any data, its own included, is refused.
                EXPECT_FALSE(msg->verify_detached(0, *u.cert, "forged", 6)) << who;
                EXPECT_EQ(kErrBadMessage, last_error());
                EXPECT_FALSE(msg->verify_detached(0, *u.cert, data().data(), data().size())) << who;
                EXPECT_EQ(kErrBadMessage, last_error());
            } else {
                EXPECT_TRUE(msg->verify_detached(0, *u.cert, data().data(), data().size())) << who;
                EXPECT_FALSE(msg->verify_attached(0, *u.cert)) << who;
                EXPECT_EQ(kErrBadMessage, last_error());
            }
            // The signing time openssl put in reads back as now.
            bool has_time = false;
            auto attrs = msg->signed_attributes(0);
            ASSERT_TRUE(attrs);
            for (const auto &a : *attrs) {
                if (a.oid != kOidSigningTime) continue;
                has_time = true;
                ASSERT_EQ(1u, a.values.size());
                auto ft = decode_time_value(a.values[0]);
                ASSERT_TRUE(ft);
                EXPECT_NEAR(static_cast<double>(time(nullptr)), static_cast<double>(filetime_to_time(*ft)), 300);
            }
            EXPECT_TRUE(has_time);
        }
    }
}

TEST_F(Messages, SignerIsNamedByIssuerAndSerialAndCertificatesOnlyWhenAsked) {
    auto with = sign(*u2012_, HashAlg::Streebog256, true);
    auto without = sign(*u2012_, HashAlg::Streebog256, false);
    ASSERT_TRUE(with && without);
    auto m1 = SignedMessage::decode(with->data(), with->size());
    auto m2 = SignedMessage::decode(without->data(), without->size());
    EXPECT_EQ(1, m1->certificate_count());
    EXPECT_EQ(u2012_->cert->der(), *m1->certificate(0));
    EXPECT_FALSE(m1->certificate(1));
    EXPECT_EQ(kErrInvalidIndex, last_error());
    EXPECT_EQ(0, m2->certificate_count());

    Bytes issuer, serial;
    ASSERT_TRUE(m2->signer_id(0, &issuer, &serial));
    EXPECT_EQ(u2012_->cert->issuer_der(), issuer);
    EXPECT_EQ(u2012_->cert->serial_le(), serial);
    EXPECT_FALSE(m2->signer_id(1, &issuer, &serial));
    EXPECT_EQ(kErrInvalidIndex, last_error());
    // Without a certificate in the message, the checker supplies it.
    EXPECT_TRUE(m2->verify_detached(0, *u2012_->cert, data().data(), data().size()));
}

TEST_F(Messages, AlteredDataSignatureOrWrongCertificateFail) {
    auto sig = sign(*u2001_, HashAlg::Gost94, false);
    ASSERT_TRUE(sig);
    auto msg = SignedMessage::decode(sig->data(), sig->size());
    std::string other = data();
    other[100] ^= 1;
    EXPECT_FALSE(msg->verify_detached(0, *u2001_->cert, other.data(), other.size()));
    EXPECT_EQ(kErrHashValue, last_error());
    EXPECT_FALSE(msg->verify_detached(0, *u2012_->cert, data().data(), data().size()));

    // The signature value is the last octet string of the message.
    Bytes bad = *sig;
    bad[bad.size() - 5] ^= 0x01;
    auto damaged = SignedMessage::decode(bad.data(), bad.size());
    ASSERT_TRUE(damaged);
    EXPECT_FALSE(damaged->verify_detached(0, *u2001_->cert, data().data(), data().size()));
    EXPECT_EQ(kErrBadSignature, last_error());
}

TEST_F(Messages, AttachedAndEmptyContentRoundTrip) {
    auto sig = sign(*u2012_, HashAlg::Streebog256, true, false);
    ASSERT_TRUE(sig);
    auto msg = SignedMessage::decode(sig->data(), sig->size());
    ASSERT_TRUE(msg->has_content());
    EXPECT_EQ(data(), string_of(*msg->content()));
    EXPECT_TRUE(msg->verify_attached(0, *u2012_->cert));

    auto empty = sign(*u2012_, HashAlg::Streebog256, false, true, "");
    ASSERT_TRUE(empty);
    auto m = SignedMessage::decode(empty->data(), empty->size());
    EXPECT_TRUE(m->verify_detached(0, *u2012_->cert, "", 0));
    EXPECT_FALSE(m->verify_detached(0, *u2012_->cert, "x", 1));
}

TEST_F(Messages, TwoSignersAreCounted) {
    std::string err;
    ASSERT_EQ(0, openssl({"cms", "-sign", "-binary", "-in", path("data"), "-signer", path("s2001.crt"), "-inkey",
                          path("s2001.key"), "-signer", path("s2012.crt"), "-inkey", path("s2012.key"), "-outform",
                          "DER", "-out", path("two.p7s")},
                         nullptr, &err))
        << err;
    std::string sig = read_file(*dir_ / "two.p7s");
    auto msg = SignedMessage::decode(sig.data(), sig.size());
    ASSERT_TRUE(msg);
    EXPECT_EQ(2, msg->signer_count());
    EXPECT_EQ(2, msg->certificate_count());
}

TEST_F(Messages, DecodeRefusesWhatIsNotSignedData) {
    EXPECT_FALSE(SignedMessage::decode("junk", 4));
    EXPECT_EQ(kErrBadEncoding, last_error());
    EXPECT_FALSE(SignedMessage::decode(nullptr, 0));
    EXPECT_EQ(kErrInvalidArg, last_error());
    // A certificate is DER, but not a message.
    const Bytes &der = u2012_->cert->der();
    EXPECT_FALSE(SignedMessage::decode(der.data(), der.size()));
    EXPECT_EQ(kErrBadEncoding, last_error());

    auto sig = sign(*u2012_, HashAlg::Streebog256, true);
    for (size_t cut = 1; cut < sig->size(); cut += 7) EXPECT_FALSE(SignedMessage::decode(sig->data(), cut)) << cut;
}

TEST_F(Messages, EveryDamagedByteIsSurvived) {
    auto sig = sign(*u2001_, HashAlg::Gost94, true);
    ASSERT_TRUE(sig);
    std::string d = data();
    int verified = 0;
    for (size_t i = 0; i < sig->size(); ++i) {
        Bytes bad = *sig;
        bad[i] ^= 0xA5;
        auto msg = SignedMessage::decode(bad.data(), bad.size());
        if (!msg) continue;
        for (int k = 0; k < msg->certificate_count(); ++k) {
            auto c = msg->certificate(k);
            if (c) Certificate::from_der(c->data(), c->size());
        }
        Bytes issuer, serial;
        msg->signer_id(0, &issuer, &serial);
        if (auto attrs = msg->signed_attributes(0))
            for (const auto &a : *attrs)
                for (const auto &v : a.values) decode_time_value(v);
        verified += msg->verify_detached(0, *u2001_->cert, d.data(), d.size());
    }
    // Only bytes outside what is signed (the carried certificate, the
    // unsigned parts) may change without breaking the signature.
    EXPECT_LT(verified, static_cast<int>(sig->size()) / 2);
}

TEST(TimeValues, UtcTimeUntil2049GeneralizedTimeOutsideAndBack) {
    struct Case {
        time_t t;
        uint8_t tag;
    };
    for (const Case &c : {Case{1577836800, 0x17},  // 2020-01-01
                          Case{2524608000, 0x18},  // 2050-01-01
                          Case{-631152000, 0x18}}) { // 1950-01-01 is UTC, 1949-12-31 is not
        time_t t = c.t == -631152000 ? c.t - 1 : c.t;
        auto der = encode_time_value(time_to_filetime(t));
        ASSERT_TRUE(der);
        EXPECT_EQ(c.tag, (*der)[0]) << t;
        auto back = decode_time_value(*der);
        ASSERT_TRUE(back);
        EXPECT_EQ(t, filetime_to_time(*back));
    }
    EXPECT_EQ(116444736000000000ULL, time_to_filetime(0));
    EXPECT_FALSE(decode_time_value(Bytes{0x17, 0x03, '9', '9', '1'}));
    EXPECT_EQ(kErrBadEncoding, last_error());
    EXPECT_FALSE(decode_time_value(Bytes{}));
    // Trailing bytes after the time are not a time value.
    auto der = *encode_time_value(time_to_filetime(1577836800));
    der.push_back(0);
    EXPECT_FALSE(decode_time_value(der));
}

} // namespace
