// Certificates, revocation lists and issuer-and-serial records that are
// broken, cut, padded, oversized or odd: every one gets its error code and
// trace, nothing is handed out, nothing is learned, no dialog is shown.
#include "capi_test_support.h"
#include "common/codepage.h"
#include "dialog_answers.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/crypto_error.h"
#include "platform/crypto/provider.h"

#include <openssl/x509.h>

#include <functional>

using namespace tarmin::test;
using namespace tarmin::cp::literals;
namespace crypto = tarmin::crypto;

namespace {

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }
uint32_t size32(const std::string &s) { return static_cast<uint32_t>(s.size()); }

// The bracketed suffix that a failure with a system code carries.
std::string suffix_of(uint32_t code) {
    std::string text = crypto::error_message(code, 0x0419);
    if (text.size() > 2 && text[text.size() - 2] == '\r') text.resize(text.size() - 2);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", code);
    return " [" + std::string(hex) + " " + text + "]";
}

class Malformed : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("LANG", "ru_RU.UTF-8", 1);
        pki_ = new Pki(make_pki());
        init_product();
    }
    void SetUp() override { ::setenv("LANG", "ru_RU.UTF-8", 1); }

    // A verification-only context: the learned certificates and nothing else.
    static std::unique_ptr<Ctx> context() {
        auto ctx = std::make_unique<Ctx>();
        CCA_set_flag(*ctx, CCA_FLAG_VERIFY_ONLY);
        EXPECT_EQ(CCA_init(*ctx), 0);
        return ctx;
    }

    // A certificate of the test PKI changed by `edit` and signed again by the
    // test CA, so that only the change makes it odd.
    static std::string reissued(const std::string &name, const std::function<void(X509 *)> &edit) {
        std::string der = pki_->der(name);
        const unsigned char *p = bytes(der);
        X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        EXPECT_NE(x, nullptr);
        edit(x);
        std::string key_pem = read_file(home() / "tmncert-ca" / (pki_->thumb.at("ca") + ".key"));
        crypto::EvpPkeyPtr ca_key = crypto::private_key_from_pem(key_pem);
        EXPECT_NE(ca_key, nullptr);
        EXPECT_GT(X509_sign(x, ca_key.get(), crypto::digest_of(crypto::HashAlg::Streebog256)), 0);
        unsigned char *out = nullptr;
        int n = i2d_X509(x, &out);
        std::string result(reinterpret_cast<char *>(out), static_cast<size_t>(n > 0 ? n : 0));
        OPENSSL_free(out);
        X509_free(x);
        return result;
    }

    static Pki *pki_;
};
Pki *Malformed::pki_ = nullptr;

// Inputs that are no certificate at all.
std::vector<std::pair<std::string, std::string>> undecodable(const std::string &good) {
    std::string huge_header = "\x30\x84\x7f\xff\xff\xff";
    huge_header += std::string(10, '\x02');
    std::string random(4096, '\0');
    for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 2654435761u) >> 13);
    return {
        {"one byte", good.substr(0, 1)},
        {"header only", good.substr(0, 4)},
        {"cut in the middle", good.substr(0, good.size() / 2)},
        {"last byte missing", good.substr(0, good.size() - 1)},
        {"bytes after it", good + std::string("\0\0", 2)},
        {"second copy after it", good + good},
        {"length lies", huge_header},
        {"noise", random},
        {"text", "not a certificate"},
        {"broken PEM", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"},
    };
}

TEST_F(Malformed, UndecodableCertificateBytesAreRefusedAndNothingIsShown) {
    auto ctx = context();
    std::string good = pki_->der("alice");
    DialogAnswers answers;
    answers.then(cancel());
    for (const auto &[what, input] : undecodable(good)) {
        PCCERT_CONTEXT cert = reinterpret_cast<PCCERT_CONTEXT>(&good);
        EXPECT_EQ(CCA_put_cert(*ctx, bytes(input), size32(input), &cert), -1) << what;
        EXPECT_EQ(cert, nullptr) << what;
        EXPECT_EQ(ctx->code(), 0x4038u) << what;
        EXPECT_EQ(ctx->text(), "Ошибка создания контекста сертификата."_w + suffix_of(0x8009310B)) << what;
        EXPECT_EQ(ctx->debug(), "Ошибка в функции CertCreateCertificateContext(). Вызывающая функция: CCA_put_cert()."_w +
                                    suffix_of(0x8009310B))
            << what;
        EXPECT_EQ(CCA_show_cert(*ctx, bytes(input), size32(input)), -1) << what;
        EXPECT_EQ(ctx->code(), 0x4038u) << what;
        EXPECT_NE(ctx->debug().find("CCA_show_cert()"), std::string::npos) << what;
    }
    EXPECT_EQ(answers.pending(), 1u) << "no viewer may open";
}

TEST_F(Malformed, AbsentCertificateBytesAreAnInvalidArgument) {
    auto ctx = context();
    std::string good = pki_->der("alice");
    PCCERT_CONTEXT cert = nullptr;
    EXPECT_EQ(CCA_put_cert(*ctx, nullptr, 100, &cert), -1);
    EXPECT_EQ(ctx->code(), 0x4038u);
    EXPECT_NE(ctx->text().find("[0x80070057 "), std::string::npos) << ctx->text();
    EXPECT_EQ(CCA_put_cert(*ctx, bytes(good), 0, &cert), -1);
    EXPECT_EQ(ctx->code(), 0x4038u);
    EXPECT_EQ(cert, nullptr);
    EXPECT_EQ(CCA_show_cert(*ctx, nullptr, 0), -1);
    EXPECT_EQ(ctx->code(), 0x4038u);
    // No out parameter: refused before anything is made.
    EXPECT_EQ(CCA_put_cert(*ctx, bytes(good), size32(good), nullptr), -1);
}

TEST_F(Malformed, OversizedInputIsRefusedQuickly) {
    auto ctx = context();
    std::string zeros(32u << 20, '\0');
    zeros[0] = '\x30';
    zeros[1] = '\x84';
    zeros[2] = '\x02'; // a SEQUENCE of 32 MB of zeros
    PCCERT_CONTEXT cert = nullptr;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CCA_put_cert(*ctx, bytes(zeros), size32(zeros), &cert), -1);
    EXPECT_EQ(ctx->code(), 0x4038u);
    EXPECT_EQ(CCA_show_crl(*ctx, bytes(zeros), size32(zeros)), -1);
    EXPECT_EQ(ctx->code(), 0x404Au);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(Malformed, BrokenSignatureFailsTheChainAndIsNotLearned) {
    auto ctx = context();
    std::string der = pki_->der("bob");
    der[der.size() - 3] ^= 0x5A; // inside the issuer's signature value
    PCCERT_CONTEXT cert = nullptr;
    ASSERT_EQ(CCA_put_cert(*ctx, bytes(der), size32(der), &cert), -1);
    EXPECT_EQ(cert, nullptr);
    EXPECT_EQ(ctx->code(), 0x405Eu) << tarmin::cp::cp1251_to_utf8(ctx->text());
    EXPECT_EQ(ctx->text().rfind("Сертификат или сертификат из цепочки имеет неправильную подпись [Error:00000008, Info:"_w, 0), 0u)
        << tarmin::cp::cp1251_to_utf8(ctx->text());
    EXPECT_NE(ctx->text().find("CN=Bob Correspondent"), std::string::npos);
    EXPECT_EQ(ctx->debug(), "Ошибка в функции QZMS_TestTrustStatus. Вызывающая функция: QZMS_VerifyCert()."_w);

    // Not learned: the record of the broken certificate finds the good one
    // of the stores, or nothing when the stores do not have it.
    auto broken = crypto::Certificate::from_der(der.data(), der.size());
    ASSERT_TRUE(broken);
    crypto::Bytes serial = broken->serial_le(), issuer = broken->issuer_der();
    SignerSerial rec{};
    rec.SerialNumber = {static_cast<uint32_t>(serial.size()), serial.data()};
    rec.Issuer = {static_cast<uint32_t>(issuer.size()), issuer.data()};
    PCCERT_CONTEXT found = nullptr;
    ASSERT_EQ(CCA_find_cert_by_serial(*ctx, 0, &rec, &found), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(found->pbCertEncoded), found->cbCertEncoded), pki_->der("bob"));
    CCA_cert_free(*ctx, found);
}

TEST_F(Malformed, CertificateOfAnUnknownAuthorityIsRefused) {
    auto ctx = context();
    // Signed by the right key but naming an issuer that no store holds.
    std::string der = reissued("bob", [](X509 *x) {
        X509_NAME *n = X509_NAME_new();
        X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("Nobody CA"), -1, -1, 0);
        X509_set_issuer_name(x, n);
        X509_NAME_free(n);
    });
    PCCERT_CONTEXT cert = nullptr;
    EXPECT_EQ(CCA_put_cert(*ctx, bytes(der), size32(der), &cert), -1);
    EXPECT_EQ(cert, nullptr);
    // The chain stops at the unknown issuer: a partial chain and nothing else.
    EXPECT_EQ(ctx->code(), 0x406Du);
    auto c = crypto::Certificate::from_der(der.data(), der.size());
    ASSERT_TRUE(c);
    EXPECT_EQ(ctx->text(), "The certificate chain is not compete [Error:00010000, Info:00000000] " + c->subject_name() + " [" +
                               c->serial_hex() + "].");
}

TEST_F(Malformed, RevocationListsThatDoNotDecodeAreRefused) {
    auto ctx = context();
    std::string crl = read_file(pki_->dir / "ca.crl");
    ASSERT_FALSE(crl.empty());
    DialogAnswers answers;
    answers.then(cancel());
    for (const auto &[what, input] : undecodable(crl)) {
        EXPECT_EQ(CCA_show_crl(*ctx, bytes(input), size32(input)), -1) << what;
        EXPECT_EQ(ctx->code(), 0x404Au) << what;
        EXPECT_EQ(ctx->text().rfind("Ошибка создания контекста CRL. [0x8009310B"_w, 0), 0u) << what;
        EXPECT_EQ(ctx->debug().rfind("Ошибка в функции CertCreateCRLContext(). Вызывающая функция: CCA_show_crl()."_w, 0), 0u)
            << what;
    }
    // A certificate is no revocation list, nor the other way round.
    std::string cert = pki_->der("alice");
    EXPECT_EQ(CCA_show_crl(*ctx, bytes(cert), size32(cert)), -1);
    EXPECT_EQ(ctx->code(), 0x404Au);
    EXPECT_EQ(CCA_show_cert(*ctx, bytes(crl), size32(crl)), -1);
    EXPECT_EQ(ctx->code(), 0x4038u);
    EXPECT_EQ(CCA_show_crl(*ctx, nullptr, 0), -1);
    EXPECT_EQ(ctx->code(), 0x404Au);
    EXPECT_EQ(answers.pending(), 1u) << "no viewer may open";

    // The well-formed list is shown.
    EXPECT_EQ(CCA_show_crl(*ctx, bytes(crl), size32(crl)), 0) << ctx->text();
    EXPECT_EQ(answers.pending(), 0u);
}

TEST_F(Malformed, OddIssuerAndSerialRecordsFindNothing) {
    auto ctx = context();
    auto bob = crypto::Certificate::from_der(pki_->der("bob").data(), pki_->der("bob").size());
    crypto::Bytes serial = bob->serial_le(), issuer = bob->issuer_der();
    auto find = [&](const SignerSerial *rec) {
        PCCERT_CONTEXT found = reinterpret_cast<PCCERT_CONTEXT>(&serial);
        int32_t rc = CCA_find_cert_by_serial(*ctx, 0, rec, &found);
        std::string der = found ? std::string(reinterpret_cast<char *>(found->pbCertEncoded), found->cbCertEncoded) : "";
        EXPECT_EQ(rc == 0, found != nullptr);
        CCA_cert_free(*ctx, found);
        return rc == 0 ? der : "fail:" + std::to_string(ctx->code());
    };
    const std::string not_found = "fail:" + std::to_string(0x4027);

    EXPECT_EQ(find(nullptr), not_found);
    SignerSerial empty{};
    EXPECT_EQ(find(&empty), not_found);
    std::string garbage = "\x30\x03\x01\x01\xff";
    SignerSerial odd_issuer{};
    odd_issuer.SerialNumber = {static_cast<uint32_t>(serial.size()), serial.data()};
    odd_issuer.Issuer = {static_cast<uint32_t>(garbage.size()), reinterpret_cast<unsigned char *>(garbage.data())};
    EXPECT_EQ(find(&odd_issuer), not_found);
    EXPECT_EQ(ctx->text(), "Требуемый сертификат не найден."_w);
    EXPECT_EQ(ctx->debug(), "Ошибка в функции (!EnumArg.FindCert). Вызывающая функция: CCA_find_cert_by_serial()."_w);

    // Integers compare by value: an insignificant high zero byte still names
    // the certificate; a changed byte does not.
    crypto::Bytes padded = serial;
    padded.push_back(0);
    SignerSerial rec{};
    rec.Issuer = {static_cast<uint32_t>(issuer.size()), issuer.data()};
    rec.SerialNumber = {static_cast<uint32_t>(padded.size()), padded.data()};
    EXPECT_EQ(find(&rec), pki_->der("bob"));
    crypto::Bytes changed = serial;
    changed[0] ^= 1;
    rec.SerialNumber = {static_cast<uint32_t>(changed.size()), changed.data()};
    EXPECT_EQ(find(&rec), not_found);

    int32_t result = -1;
    SignerSerial exact{};
    exact.Issuer = rec.Issuer;
    exact.SerialNumber = {static_cast<uint32_t>(serial.size()), serial.data()};
    rec.SerialNumber = {static_cast<uint32_t>(padded.size()), padded.data()};
    EXPECT_EQ(CCA_compare_serial(*ctx, &exact, &rec, &result), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(CCA_compare_serial(*ctx, &exact, &odd_issuer, &result), 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(CCA_compare_serial(*ctx, &exact, nullptr, &result), 0);
    EXPECT_EQ(result, 1);
}

TEST_F(Malformed, OddSubjectNames) {
    auto ctx = context();
    auto learn = [&](const std::string &der) {
        PCCERT_CONTEXT cert = nullptr;
        EXPECT_EQ(CCA_put_cert(*ctx, bytes(der), size32(der), &cert), 0) << tarmin::cp::cp1251_to_utf8(ctx->text());
        return cert;
    };
    auto name_of = [&](PCCERT_CONTEXT cert, bool common) {
        char *name = reinterpret_cast<char *>(1);
        int32_t flag = 0;
        int32_t rc = common ? CCA_get_auten_name(*ctx, cert, &name, &flag) : CCA_get_name_cert(*ctx, cert, &name);
        std::string out = rc == 0 ? std::string(name) : "fail:" + std::to_string(ctx->code());
        if (rc != 0) {
            EXPECT_EQ(name, nullptr);
        } else {
            EXPECT_EQ(flag, common ? 1 : 0);
        }
        CCA_free(*ctx, name);
        return out;
    };
    const std::string no_name = "fail:" + std::to_string(0x4032);

    // An empty subject: neither name exists.
    PCCERT_CONTEXT empty = learn(reissued("bob", [](X509 *x) {
        X509_NAME *n = X509_NAME_new();
        X509_set_subject_name(x, n);
        X509_NAME_free(n);
    }));
    EXPECT_EQ(name_of(empty, false), no_name);
    EXPECT_EQ(ctx->debug().rfind("Ошибка в функции CertGetNameString(). Вызывающая функция: CCA_get_name_cert()."_w, 0), 0u);
    EXPECT_EQ(name_of(empty, true), no_name);
    EXPECT_NE(ctx->debug().find("CCA_get_auten_name()"), std::string::npos);

    // No common name: the subject string exists, the common name does not.
    PCCERT_CONTEXT org_only = learn(reissued("bob", [](X509 *x) {
        X509_NAME *n = X509_NAME_new();
        X509_NAME_add_entry_by_txt(n, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("Tarmin Test"), -1, -1, 0);
        X509_set_subject_name(x, n);
        X509_NAME_free(n);
    }));
    EXPECT_EQ(name_of(org_only, false), "O=Tarmin Test");
    EXPECT_EQ(name_of(org_only, true), no_name);

    // Names in BMP and UTF-8 strings come out in Windows-1251; a character
    // that the code page lacks becomes '?'.
    PCCERT_CONTEXT wide = learn(reissued("bob", [](X509 *x) {
        X509_NAME *n = X509_NAME_new();
        X509_NAME_add_entry_by_txt(n, "CN", V_ASN1_BMPSTRING,
                                   reinterpret_cast<const unsigned char *>("\x04\x1f\x04\x35\x04\x42\x04\x40"), 8, -1, 0);
        X509_NAME_add_entry_by_txt(n, "O", V_ASN1_UTF8STRING,
                                   reinterpret_cast<const unsigned char *>("\xe4\xb8\xad Ёж"), -1, -1, 0);
        X509_set_subject_name(x, n);
        X509_NAME_free(n);
    }));
    EXPECT_EQ(name_of(wide, true), "Петр"_w);
    EXPECT_EQ(name_of(wide, false), "O=? Ёж, CN=Петр"_w);

    // No certificate at all.
    EXPECT_EQ(name_of(nullptr, false), no_name);
    EXPECT_EQ(name_of(nullptr, true), no_name);
    unsigned char *der = reinterpret_cast<unsigned char *>(1);
    uint32_t length = 7;
    EXPECT_EQ(CCA_get_cert(*ctx, nullptr, &der, &length), -1);
    EXPECT_EQ(der, nullptr);
    EXPECT_EQ(length, 0u);

    CCA_cert_free(*ctx, empty);
    CCA_cert_free(*ctx, org_only);
    CCA_cert_free(*ctx, wide);
}

} // namespace
