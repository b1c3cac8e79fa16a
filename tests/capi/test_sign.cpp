// Signing, checking, reading the signer, hashing, random bytes and the
// verification protocol, on the test PKI, with the openssl command line (GOST
// engine) as the other side.
#include "capi_test_support.h"
#include "common/codepage.h"
#include "platform/crypto/message.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

using namespace tarmin::test;
using namespace tarmin::cp::literals;
namespace crypto = tarmin::crypto;

namespace {

crypto::Bytes issuer_of(const SignerSerial *s) { return crypto::Bytes(s->Issuer.pbData, s->Issuer.pbData + s->Issuer.cbData); }
crypto::Bytes serial_of(const SignerSerial *s) {
    return crypto::Bytes(s->SerialNumber.pbData, s->SerialNumber.pbData + s->SerialNumber.cbData);
}

// DER pieces for crafting hostile messages: one element at pos (tag and
// content), and an element from a tag and content.
bool der_next(const std::string &s, size_t &pos, uint8_t &tag, std::string &content) {
    if (pos + 2 > s.size()) return false;
    tag = static_cast<uint8_t>(s[pos]);
    size_t len = static_cast<uint8_t>(s[pos + 1]), p = pos + 2;
    if (len & 0x80) {
        size_t n = len & 0x7F;
        len = 0;
        for (size_t k = 0; k < n && p < s.size(); ++k) len = len << 8 | static_cast<uint8_t>(s[p++]);
    }
    if (p + len > s.size()) return false;
    content = s.substr(p, len);
    pos = p + len;
    return true;
}
std::string der(uint8_t tag, const std::string &content) {
    std::string len;
    size_t n = content.size();
    if (n < 0x80) {
        len = std::string(1, static_cast<char>(n));
    } else {
        while (n) {
            len.insert(len.begin(), static_cast<char>(n & 0xFF));
            n >>= 8;
        }
        len.insert(len.begin(), static_cast<char>(0x80 | len.size()));
    }
    return std::string(1, static_cast<char>(tag)) + len + content;
}

// A signed message (ContentInfo) with its certificate set replaced by certs.
std::string with_certificates(const std::string &message, const std::vector<std::string> &certs) {
    size_t pos = 0, inner = 0;
    uint8_t tag;
    std::string ci, oid, explicit0, signed_data;
    der_next(message, pos, tag, ci);
    der_next(ci, inner, tag, oid);
    der_next(ci, inner, tag, explicit0);
    size_t sd = 0;
    der_next(explicit0, sd, tag, signed_data);
    std::string fields, all_certs, part;
    for (const auto &c : certs) all_certs += c;
    size_t f = 0;
    int index = 0;
    while (der_next(signed_data, f, tag, part)) {
        if (tag == 0xA0) continue; // the old certificate set
        if (index++ == 3) fields += der(0xA0, all_certs);
        fields += der(tag, part);
    }
    return der(0x30, der(0x06, oid) + der(0xA0, der(0x30, fields)));
}

// A copy of a certificate with another serial number: not a valid
// certificate (its signature no longer holds), but one that decodes.
std::string with_serial(const std::string &cert, uint16_t serial_tail) {
    size_t pos = 0, t = 0, after_version = 0;
    uint8_t tag;
    std::string body, tbs, field;
    der_next(cert, pos, tag, body);
    size_t tbs_start = 0;
    der_next(body, tbs_start, tag, tbs);
    der_next(tbs, t, tag, field); // [0] version
    after_version = t;
    der_next(tbs, t, tag, field); // serial
    std::string serial = field;
    serial[serial.size() - 2] = static_cast<char>(serial_tail >> 8);
    serial[serial.size() - 1] = static_cast<char>(serial_tail);
    std::string new_tbs = tbs.substr(0, after_version) + der(0x02, serial) + tbs.substr(t);
    return der(0x30, der(0x30, new_tbs) + body.substr(tbs_start));
}

// openssl with the GOST engine; returns the exit status.
int openssl(std::vector<std::string> args, std::string *out = nullptr, std::string *err = nullptr) {
    args.insert(args.begin(), "openssl");
    return run(args, out, err);
}

class QzmsSign : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new Pki(make_pki());
        init_product();
        work_ = make_temp_dir("sign");
    }
    void SetUp() override {
        ::setenv("LANG", "ru_RU.UTF-8", 1);
        set_my(*pki_, "operator");
    }

    // A context initialised with the remembered own certificate.
    static std::unique_ptr<Ctx> own(const std::string &name = "operator", uint32_t flags = 0) {
        set_my(*pki_, name);
        auto ctx = std::make_unique<Ctx>();
        if (flags) CCA_set_flag(*ctx, flags);
        EXPECT_EQ(CCA_init(*ctx), 0) << tarmin::cp::cp1251_to_utf8(ctx->text());
        return ctx;
    }
    // A certificate reference of the PKI learned into a context.
    static PCCERT_CONTEXT cert(Ctx &ctx, const std::string &name) {
        std::string der = pki_->der(name);
        PCCERT_CONTEXT c = nullptr;
        EXPECT_EQ(CCA_put_cert(ctx, reinterpret_cast<const unsigned char *>(der.data()), static_cast<uint32_t>(der.size()), &c), 0)
            << tarmin::cp::cp1251_to_utf8(ctx.text());
        return c;
    }
    static std::string sign(Ctx &ctx, const std::string &data) {
        CapiBlob d = blob_of(data), sig{};
        EXPECT_EQ(CCA_sign_mem_sep(ctx, &d, nullptr, &sig), 0) << tarmin::cp::cp1251_to_utf8(ctx.text());
        std::string out = text_of(sig);
        CCA_free(ctx, sig.pbData);
        return out;
    }
    static int32_t check(Ctx &ctx, const std::string &data, const std::string &sig, PCCERT_CONTEXT c,
                         CheckResult *result = nullptr) {
        CheckResult local{};
        CheckResult &r = result ? *result : local;
        CapiBlob d = blob_of(data), s = blob_of(sig);
        int32_t rc = CCA_check_mem_sep(ctx, &d, &s, c, &r);
        if (!result) CCA_cert_free(ctx, r.SignerCert);
        return rc;
    }
    static std::string file(const std::string &name, const std::string &bytes) {
        auto p = work_ / name;
        write_file(p, bytes);
        return p.string();
    }

    static Pki *pki_;
    static std::filesystem::path work_;
};
Pki *QzmsSign::pki_ = nullptr;
std::filesystem::path QzmsSign::work_;

TEST_F(QzmsSign, DetachedSignatureChecksWithSigningTimeAndSigner) {
    auto ctx = own();
    time_t before = time(nullptr);
    std::string sig = sign(*ctx, "The document");
    PCCERT_CONTEXT mine = cert(*ctx, "operator");
    CheckResult r{};
    ASSERT_EQ(check(*ctx, "The document", sig, mine, &r), 0) << ctx->text();
    EXPECT_EQ(r.Status, CCD_CORRECT);
    ASSERT_NE(r.SignerCert, nullptr);
    EXPECT_EQ(r.SignerCert->cbCertEncoded, mine->cbCertEncoded);
    EXPECT_GE(r.SignTime, before - 1);
    EXPECT_LE(r.SignTime, time(nullptr) + 1);
    CCA_cert_free(*ctx, r.SignerCert);
    // Other data does not check.
    CheckResult bad{};
    EXPECT_EQ(check(*ctx, "The documenT", sig, mine, &bad), -1);
    EXPECT_EQ(ctx->code(), 0x4018u);
    EXPECT_EQ(bad.Status, 4);
    EXPECT_EQ(bad.SignerCert, nullptr);
    CCA_cert_free(*ctx, mine);
}

TEST_F(QzmsSign, SignatureCarriesExactlyTheSigningTimeAndTheHashOfTheKeyGeneration) {
    for (const auto &[name, digest] : {std::pair<std::string, std::string>{"operator", "1.2.643.7.1.1.2.2"},
                                       {"operator2001", "1.2.643.2.2.9"}}) {
        auto ctx = own(name);
        std::string sig = sign(*ctx, "data");
        auto msg = crypto::SignedMessage::decode(sig.data(), sig.size());
        ASSERT_TRUE(msg);
        EXPECT_FALSE(msg->has_content());
        EXPECT_EQ(msg->digest_oid(0), digest) << name;
        auto attrs = msg->signed_attributes(0);
        ASSERT_TRUE(attrs);
        std::vector<std::string> oids;
        for (const auto &a : *attrs) oids.push_back(a.oid);
        std::sort(oids.begin(), oids.end());
        // Content type and message digest belong to every signed message; the
        // signing time is the one attribute of our own.
        EXPECT_EQ(oids, (std::vector<std::string>{"1.2.840.113549.1.9.3", "1.2.840.113549.1.9.4", "1.2.840.113549.1.9.5"}));
        PCCERT_CONTEXT c = cert(*ctx, name);
        EXPECT_EQ(check(*ctx, "data", sig, c), 0) << name;
        CCA_cert_free(*ctx, c);
    }
}

TEST_F(QzmsSign, CertificateIncludedOnlyWithFlagOne) {
    auto plain = own("operator");
    std::string without = sign(*plain, "x");
    EXPECT_EQ(crypto::SignedMessage::decode(without.data(), without.size())->certificate_count(), 0);
    auto with_cert = own("operator", CCA_FLAG_INCLUDE_CERT);
    std::string with = sign(*with_cert, "x");
    auto msg = crypto::SignedMessage::decode(with.data(), with.size());
    ASSERT_EQ(msg->certificate_count(), 1);
    std::string der = pki_->der("operator");
    EXPECT_EQ(*msg->certificate(0), crypto::Bytes(der.begin(), der.end()));
    // The signature without a certificate checks: the checker gives it.
    PCCERT_CONTEXT c = cert(*plain, "operator");
    EXPECT_EQ(check(*plain, "x", without, c), 0);
    CCA_cert_free(*plain, c);
}

TEST_F(QzmsSign, SenderSignedDataReadsSignerAndTimeWithoutChecking) {
    auto ctx = own("operator", CCA_FLAG_INCLUDE_CERT);
    time_t now = time(nullptr);
    std::string sig = sign(*ctx, "x");
    Ctx reader;
    CCA_set_flag(reader, CCA_FLAG_VERIFY_ONLY);
    ASSERT_EQ(CCA_init(reader), 0);
    CapiBlob s = blob_of(sig);
    SignerSerial *serial = nullptr;
    int64_t when = 0;
    ASSERT_EQ(CCA_sender_signed_data(reader, &s, &serial, &when), 0) << reader.text();
    auto c = crypto::Certificate::from_der(pki_->der("operator").data(), pki_->der("operator").size());
    EXPECT_EQ(issuer_of(serial), c->issuer_der());
    EXPECT_TRUE(crypto::integers_equal_le(serial_of(serial), c->serial_le()));
    // A FILETIME in UTC.
    EXPECT_NEAR(static_cast<double>(crypto::filetime_to_time(static_cast<uint64_t>(when))), static_cast<double>(now), 2.0);
    // The carried certificate was learned: the signer is found among the learned ones.
    PCCERT_CONTEXT found = nullptr;
    EXPECT_EQ(CCA_find_cert_by_serial(reader, 0, serial, &found), 0);
    CCA_cert_free(reader, found);
    CCA_serial_free(reader, serial);
}

TEST_F(QzmsSign, OurSignatureVerifiesWithOpensslCms) {
    auto ctx = own();
    std::string data(100000, 'a');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    std::string sig = sign(*ctx, data);
    std::string out, err;
    // The signature carries no certificate: the verifier is given the signer's; the
    // command line takes intermediates only from the trusted file.
    std::string trusted = file("trusted.pem", read_file(pki_->pem("root")) + read_file(pki_->pem("ca")));
    EXPECT_EQ(openssl({"cms", "-verify", "-engine", "gost", "-binary", "-inform", "DER", "-in", file("ours.p7s", sig),
                       "-content", file("ours.bin", data), "-CAfile", trusted, "-certfile",
                       pki_->pem("operator").string(), "-out", "/dev/null"},
                      &out, &err),
              0)
        << err;
    EXPECT_NE(err.find("Verification successful"), std::string::npos) << err;
}

TEST_F(QzmsSign, OpensslCmsSignatureChecksWithOurs) {
    std::string data = "Signed by the openssl command line\n";
    std::string in = file("theirs.txt", data), sig_path = (work_ / "theirs.p7s").string(), err;
    ASSERT_EQ(openssl({"cms", "-sign", "-engine", "gost", "-binary", "-in", in, "-signer", pki_->pem("alice").string(),
                       "-inkey", pki_->key("alice").string(), "-outform", "DER", "-out", sig_path},
                      nullptr, &err),
              0)
        << err;
    auto ctx = own();
    PCCERT_CONTEXT alice = cert(*ctx, "alice");
    CheckResult r{};
    EXPECT_EQ(check(*ctx, data, read_file(sig_path), alice, &r), 0) << ctx->text();
    EXPECT_EQ(r.Status, CCD_CORRECT);
    CCA_cert_free(*ctx, r.SignerCert);
    CCA_cert_free(*ctx, alice);
}

TEST_F(QzmsSign, SignatureWithoutSigningTimeIsRefused) {
    std::string data = "no attributes";
    std::string in = file("noattr.txt", data), sig_path = (work_ / "noattr.p7s").string(), err;
    ASSERT_EQ(openssl({"cms", "-sign", "-engine", "gost", "-binary", "-noattr", "-in", in, "-signer",
                       pki_->pem("alice").string(), "-inkey", pki_->key("alice").string(), "-outform", "DER", "-out",
                       sig_path},
                      nullptr, &err),
              0)
        << err;
    auto ctx = own();
    PCCERT_CONTEXT alice = cert(*ctx, "alice");
    CheckResult r{};
    EXPECT_EQ(check(*ctx, data, read_file(sig_path), alice, &r), -1);
    EXPECT_EQ(ctx->code(), 0x4021u);
    EXPECT_EQ(ctx->text(), "Подпись не содержит время подписи."_w);
    EXPECT_EQ(ctx->debug(), "Ошибка в функции (!SignTime). Вызывающая функция: CCA_check_mem_sep()."_w);
    EXPECT_EQ(r.Status, 4);
    EXPECT_EQ(r.SignerCert, nullptr);
    std::string sig_bytes = read_file(sig_path);
    CapiBlob s = blob_of(sig_bytes);
    SignerSerial *serial = nullptr;
    int64_t when = -1;
    EXPECT_EQ(CCA_sender_signed_data(*ctx, &s, &serial, &when), -1);
    EXPECT_EQ(ctx->code(), 0x4021u);
    EXPECT_NE(ctx->debug().find("(!IsDate)"), std::string::npos);
    EXPECT_EQ(serial, nullptr);
    EXPECT_EQ(when, 0);
    CCA_cert_free(*ctx, alice);
}

TEST_F(QzmsSign, TwoSignersAreRefusedAndTheTextNamesTwo) {
    std::string in = file("two.txt", "two signers"), sig_path = (work_ / "two.p7s").string(), err;
    ASSERT_EQ(openssl({"cms", "-sign", "-engine", "gost", "-binary", "-in", in, "-signer", pki_->pem("alice").string(),
                       "-inkey", pki_->key("alice").string(), "-signer", pki_->pem("bob").string(), "-inkey",
                       pki_->key("bob").string(), "-outform", "DER", "-out", sig_path},
                      nullptr, &err),
              0)
        << err;
    auto ctx = own();
    std::string sig = read_file(sig_path);
    CapiBlob s = blob_of(sig);
    SignerSerial *serial = nullptr;
    int64_t when = 0;
    EXPECT_EQ(CCA_sender_signed_data(*ctx, &s, &serial, &when), -1);
    EXPECT_EQ(ctx->code(), 0x4023u);
    EXPECT_EQ(ctx->text(), "Подписанное сообщение содержит (2) подписей."_w);
    EXPECT_EQ(serial, nullptr);
}

TEST_F(QzmsSign, AttachedMessageHandsOutItsContent) {
    std::string data = "inside the message";
    std::string in = file("attached.txt", data), sig_path = (work_ / "attached.p7m").string(), err;
    ASSERT_EQ(openssl({"cms", "-sign", "-engine", "gost", "-binary", "-nodetach", "-in", in, "-signer",
                       pki_->pem("bob").string(), "-inkey", pki_->key("bob").string(), "-outform", "DER", "-out",
                       sig_path},
                      nullptr, &err),
              0)
        << err;
    auto ctx = own();
    PCCERT_CONTEXT bob = cert(*ctx, "bob");
    std::string msg = read_file(sig_path);
    CapiBlob m = blob_of(msg), content{};
    CheckResult r{};
    ASSERT_EQ(CCA_check_mem_attach(*ctx, &m, &content, bob, &r), 0) << ctx->text();
    EXPECT_EQ(text_of(content), data);
    EXPECT_EQ(content.pbData[content.cbData], 0) << "output blocks end in zero bytes";
    EXPECT_EQ(r.Status, CCD_CORRECT);
    CCA_free(*ctx, content.pbData);
    CCA_cert_free(*ctx, r.SignerCert);
    // The signer of an attached message reads like that of a detached one.
    SignerSerial *serial = nullptr;
    int64_t when = 0;
    EXPECT_EQ(CCA_sender_signed_data_attach(*ctx, &m, &serial, &when), 0);
    CCA_serial_free(*ctx, serial);
    // A wrong signer certificate does not check.
    PCCERT_CONTEXT alice = cert(*ctx, "alice");
    EXPECT_EQ(CCA_check_mem_attach(*ctx, &m, &content, alice, &r), -1);
    EXPECT_EQ(ctx->code(), 0x4018u);
    EXPECT_EQ(content.pbData, nullptr);
    CCA_cert_free(*ctx, alice);
    CCA_cert_free(*ctx, bob);
}

// A signature that carries its content proves that content, not the caller's
// document: a detached check refuses it whatever the document, and so does
// the protocol check built on it.
TEST_F(QzmsSign, SignatureCarryingContentIsNeverTakenForADetachedOne) {
    std::string signed_text = "Pay 10 roubles to Alice\n";
    std::string in = file("forged.txt", signed_text), sig_path = (work_ / "forged.p7m").string(), err;
    ASSERT_EQ(openssl({"cms", "-sign", "-engine", "gost", "-nodetach", "-binary", "-in", in, "-signer",
                       pki_->pem("alice").string(), "-inkey", pki_->key("alice").string(), "-outform", "DER", "-out",
                       sig_path},
                      nullptr, &err),
              0)
        << err;
    std::string sig = read_file(sig_path);
    auto ctx = own();
    PCCERT_CONTEXT alice = cert(*ctx, "alice");
    for (const std::string &document : {std::string("Pay 1000000 roubles to Mallory\n"), signed_text}) {
        CheckResult r{};
        EXPECT_EQ(check(*ctx, document, sig, alice, &r), -1) << document;
        EXPECT_EQ(ctx->code(), 0x4018u);
        EXPECT_EQ(ctx->text(), "Ошибка пороверки подписи. [0x80091004 Неверный тип криптографического сообщения.]"_w);
        EXPECT_EQ(r.Status, 4);
        EXPECT_EQ(r.SignerCert, nullptr);
        CCA_cert_free(*ctx, r.SignerCert);
    }
    std::string der = pki_->der("alice"), other = "Pay 1000000 roubles to Mallory\n";
    CapiBlob d = blob_of(other), s = blob_of(sig), c = blob_of(der), protocol{};
    char *text = nullptr;
    EXPECT_EQ(CCA_test_check_signature(0, &d, &s, &c, &protocol, &text), 0x4018);
    std::string p = text_of(protocol), tail = "Проверка ЭП завершилась с ошибкой\r\n"_w;
    ASSERT_GE(p.size(), tail.size());
    EXPECT_EQ(p.substr(p.size() - tail.size()), tail);
    CCA_free(nullptr, protocol.pbData);
    CCA_free(nullptr, text);
    CCA_cert_free(*ctx, alice);
}

// A message stuffed with certificates costs no more than one with a few:
// each distinct certificate is read once, only the signer's is checked (and
// learned), and more than 64 distinct ones are refused.
TEST_F(QzmsSign, CertificateFloodIsReadOnceAndCapped) {
    auto ctx = own();
    std::string sig = sign(*ctx, "flood"), alice = pki_->der("alice"), signer = pki_->der("operator");
    auto read_signer = [&](const std::string &message, SignerSerial **serial) {
        Ctx reader;
        CCA_set_flag(reader, CCA_FLAG_VERIFY_ONLY);
        EXPECT_EQ(CCA_init(reader), 0);
        CapiBlob m = blob_of(message);
        int64_t when = 0;
        auto start = std::chrono::steady_clock::now();
        int32_t rc = CCA_sender_signed_data(reader, &m, serial, &when);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 2.0);
        return std::make_pair(rc, static_cast<uint32_t>(reader.code()));
    };
    // The signer's certificate 2000 times and a few others: one check.
    std::vector<std::string> certs(2000, signer);
    for (uint16_t i = 0; i < 10; ++i) certs.push_back(with_serial(alice, i));
    SignerSerial *serial = nullptr;
    auto [rc, code] = read_signer(with_certificates(sig, certs), &serial);
    EXPECT_EQ(rc, 0) << std::hex << code;
    EXPECT_NE(serial, nullptr);
    CCA_serial_free(*ctx, serial);
    // 2000 distinct certificates: refused with a clear error.
    certs.assign(1, signer);
    for (uint16_t i = 0; i < 2000; ++i) certs.push_back(with_serial(alice, i));
    serial = nullptr;
    std::tie(rc, code) = read_signer(with_certificates(sig, certs), &serial);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(serial, nullptr);
    EXPECT_EQ(code, 0x401Cu);
    Ctx reader;
    std::string flood = with_certificates(sig, certs);
    CapiBlob m = blob_of(flood);
    int64_t when = 0;
    EXPECT_EQ(CCA_sender_signed_data(reader, &m, &serial, &when), -1);
    EXPECT_EQ(reader.text(), "Ошибка получения параметра (CMSG_CERT_COUNT_PARAM) из сообщения (SignedMessage). "
                             "[0xA0090002 Сообщение содержит слишком много сертификатов.]"_w);
    EXPECT_EQ(reader.debug().rfind("Ошибка в функции (lCertCount>64). Вызывающая функция: CCA_sender_signed_data()."_w, 0), 0u);
    // 64 distinct ones are still read.
    certs.resize(64);
    std::tie(rc, code) = read_signer(with_certificates(sig, certs), &serial);
    EXPECT_EQ(rc, 0) << std::hex << code;
    CCA_serial_free(*ctx, serial);
}

TEST_F(QzmsSign, CertificateWithoutSignatureUsageIsRefusedBeforeAnyCryptography) {
    std::string thumb = run_tmncert({"create", "--subject", "CN=Encryption only", "--issuer", pki_->thumb.at("ca"),
                                     "--usage", "encrypt", "--out", work_.string(), "--name", "enconly"});
    auto ctx = own();
    std::string der = read_file(work_ / "enconly.cer");
    PCCERT_CONTEXT c = nullptr;
    ASSERT_EQ(CCA_put_cert(*ctx, reinterpret_cast<const unsigned char *>(der.data()), static_cast<uint32_t>(der.size()), &c), 0);
    // Not even a signature: the usage check comes first.
    EXPECT_EQ(check(*ctx, "x", "not a signature", c), -1);
    EXPECT_EQ(ctx->code(), 0x4056u);
    EXPECT_EQ(ctx->debug(), "Ошибка в функции !(ku & CERT_DIGITAL_SIGNATURE_KEY_USAGE). Вызывающая функция: QZMS_LiteVerifyCert()."_w);
    CCA_cert_free(*ctx, c);
    // A certificate that states no usage at all.
    run_tmncert({"create", "--subject", "CN=No usage", "--issuer", pki_->thumb.at("ca"), "--usage", "none", "--out",
                 work_.string(), "--name", "nousage"});
    std::string none = read_file(work_ / "nousage.cer");
    ASSERT_EQ(CCA_put_cert(*ctx, reinterpret_cast<const unsigned char *>(none.data()), static_cast<uint32_t>(none.size()), &c), 0);
    EXPECT_EQ(check(*ctx, "x", "not a signature", c), -1);
    EXPECT_EQ(ctx->code(), 0x4055u);
    EXPECT_EQ(ctx->text(), "В сертификате нет назначения ключа (KeyUsage)."_w);
    CCA_cert_free(*ctx, c);
}

TEST_F(QzmsSign, BrokenSignaturesGiveCodesNeverACrash) {
    auto ctx = own();
    std::string data = "payload";
    std::string sig = sign(*ctx, data);
    PCCERT_CONTEXT c = cert(*ctx, "operator");
    std::vector<std::string> broken;
    for (size_t cut : {size_t{1}, size_t{10}, sig.size() / 2, sig.size() - 1}) broken.push_back(sig.substr(0, cut));
    for (size_t pos : {size_t{0}, size_t{1}, size_t{5}, sig.size() / 2, sig.size() - 3, sig.size() - 1}) {
        std::string s = sig;
        s[pos] = static_cast<char>(s[pos] ^ 0x5A);
        broken.push_back(s);
    }
    broken.push_back(std::string(4 << 20, '\0'));
    broken.push_back(sig + std::string(1000, 'x'));
    broken.push_back("\x30\x80" + std::string(64, '\xFF'));
    for (size_t i = 0; i < broken.size(); ++i) {
        const std::string &b = broken[i];
        CheckResult r{};
        EXPECT_EQ(check(*ctx, data, b, c, &r), -1) << i;
        EXPECT_EQ(ctx->code(), 0x4018u) << i;
        EXPECT_EQ(r.SignerCert, nullptr);
        CCA_cert_free(*ctx, r.SignerCert);
        CapiBlob s = blob_of(b);
        SignerSerial *serial = nullptr;
        int64_t when = 0;
        int32_t rc = CCA_sender_signed_data(*ctx, &s, &serial, &when);
        if (rc == 0) {
            // A change outside the parts read leaves the signer readable.
            CCA_serial_free(*ctx, serial);
        } else {
            uint32_t code = ctx->code();
            EXPECT_TRUE(code == 0x401A || code == 0x4021 || code == 0x401E || code == 0x4023 || code == 0x401C)
                << i << " " << std::hex << code;
        }
    }
    CapiBlob empty{};
    SignerSerial *serial = nullptr;
    int64_t when = 0;
    EXPECT_EQ(CCA_sender_signed_data(*ctx, &empty, &serial, &when), -1);
    EXPECT_EQ(ctx->code(), 0x401Au);
    CCA_cert_free(*ctx, c);
}

TEST_F(QzmsSign, HashIsGost94AndEmptyDataGivesZeros) {
    auto ctx = own();
    CapiBlob empty{nullptr, 0}, hash{};
    ASSERT_EQ(CCA_hash_mem(*ctx, &empty, &hash), 0);
    EXPECT_EQ(text_of(hash), std::string(32, '\0'));
    CCA_free(*ctx, hash.pbData);

    std::string data = "The quick brown fox jumps over the lazy dog";
    CapiBlob d = blob_of(data);
    ASSERT_EQ(CCA_hash_mem(*ctx, &d, &hash), 0);
    std::string out;
    ASSERT_EQ(openssl({"dgst", "-engine", "gost", "-md_gost94", "-r", file("fox.txt", data)}, &out), 0);
    static const char *hex = "0123456789abcdef";
    std::string ours;
    for (uint32_t i = 0; i < hash.cbData; ++i) ours += std::string{hex[hash.pbData[i] >> 4], hex[hash.pbData[i] & 15]};
    EXPECT_EQ(out.substr(0, 64), ours);
    CCA_free(*ctx, hash.pbData);
    // The same hash whatever the key generation.
    auto old = own("operator2001");
    ASSERT_EQ(CCA_hash_mem(*old, &d, &hash), 0);
    std::string again;
    for (uint32_t i = 0; i < hash.cbData; ++i) again += std::string{hex[hash.pbData[i] >> 4], hex[hash.pbData[i] & 15]};
    EXPECT_EQ(again, ours);
    CCA_free(*old, hash.pbData);
}

TEST_F(QzmsSign, RandomBytesAndTheirFailureText) {
    auto ctx = own();
    unsigned char a[32] = {}, b[32] = {};
    ASSERT_EQ(CCA_get_random(*ctx, sizeof a, a), 0);
    ASSERT_EQ(CCA_get_random(*ctx, sizeof b, b), 0);
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    Ctx bare;
    EXPECT_EQ(CCA_get_random(bare, 32, a), -1);
    EXPECT_EQ(bare.code(), 0x4024u);
    EXPECT_EQ(bare.text().rfind("Ошибка получения (0x00000020) байт случайных данных. [0x80070057"_w, 0), 0u) << bare.text();
}

TEST_F(QzmsSign, ProtocolOfACorrectSignature) {
    auto ctx = own();
    std::string doc(100, '\0');
    for (size_t i = 0; i < doc.size(); ++i) doc[i] = static_cast<char>(i);
    std::string sig = sign(*ctx, doc);
    std::string der = pki_->der("operator");
    CapiBlob d = blob_of(doc), s = blob_of(sig), c = blob_of(der), protocol{};
    char *text = nullptr;
    ASSERT_EQ(CCA_test_check_signature(CCD_SHORT_DUMP, &d, &s, &c, &protocol, &text), 0);
    EXPECT_EQ(text, nullptr);
    std::string p = text_of(protocol);
    CCA_free(nullptr, protocol.pbData);
    std::string head = std::string("Протокол проверки электронной цифровой подписи (ЭП) документа\r\n\r\n"_w) +
                       "Длина подписанного документа: 100\r\n"_w + "Содержимое подписанного документа:\r\n"_w +
                       " 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n" +
                       " .. .. .. .. .. .. .. .. .. .. .. .. .. .. .. ..\r\n" +
                       " 50 51 52 53 54 55 56 57 58 59 5A 5B 5C 5D 5E 5F\r\n" + " 60 61 62 63\r\n" + "\r\n" +
                       "Время выполнения ЭП (GMT): "_w;
    EXPECT_EQ(p.substr(0, head.size()), head);
    EXPECT_NE(p.find("\r\nДлина ЭП: "_w + std::to_string(sig.size()) + "\r\nСодержимое ЭП:\r\n"_w), std::string::npos);
    EXPECT_NE(p.find("Длина сертификата открытого ключа: "_w + std::to_string(der.size()) + "\r\n"), std::string::npos);
    std::string tail = "Проверка ЭП выполнена успешно\r\n"_w;
    EXPECT_EQ(p.substr(p.size() - tail.size()), tail);
    // Check only: no protocol at all.
    ASSERT_EQ(CCA_test_check_signature(CCD_CHECK_ONLY, &d, &s, &c, &protocol, &text), 0);
    EXPECT_EQ(protocol.pbData, nullptr);
}

TEST_F(QzmsSign, ProtocolOfAWrongSignatureAndMissingCertificate) {
    auto ctx = own();
    std::string sig = sign(*ctx, "original");
    std::string der = pki_->der("operator"), doc = "tampered";
    CapiBlob d = blob_of(doc), s = blob_of(sig), c = blob_of(der), protocol{};
    char *text = nullptr;
    EXPECT_EQ(CCA_test_check_signature(0, &d, &s, &c, &protocol, &text), 0x4018);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text).rfind("Ошибка пороверки подписи."_w, 0), 0u) << text;
    std::string p = text_of(protocol);
    std::string tail = "Проверка ЭП завершилась с ошибкой\r\n"_w;
    EXPECT_EQ(p.substr(p.size() - tail.size()), tail);
    CCA_free(nullptr, protocol.pbData);
    CCA_free(nullptr, text);
    EXPECT_EQ(CCA_test_check_signature(CCD_NOT_CERT, &d, &s, &c, &protocol, &text), 0x404E);
    EXPECT_EQ(std::string(text), "Ошибка установки входных параметров: не задан сертификат открытого ключа."_w);
    EXPECT_EQ(protocol.pbData, nullptr);
    CCA_free(nullptr, text);
    std::string junk = "junk";
    CapiBlob j = blob_of(junk);
    EXPECT_EQ(CCA_test_check_signature(0, &d, &s, &j, &protocol, &text), 0x4038);
    CCA_free(nullptr, text);
}

TEST_F(QzmsSign, ContextsOfDifferentThreadsWorkAtOnce) {
    set_my(*pki_, "operator");
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            Ctx ctx;
            if (CCA_init(ctx) != 0) return;
            PCCERT_CONTEXT mine = nullptr;
            SignerSerial *serial = nullptr;
            if (CCA_get_my_cert(ctx, &mine, &serial) != 0) return;
            for (int i = 0; i < 10; ++i) {
                std::string data = "thread " + std::to_string(t) + " round " + std::to_string(i);
                CapiBlob d = blob_of(data), sig{};
                if (CCA_sign_mem_sep(ctx, &d, nullptr, &sig) != 0) continue;
                CheckResult r{};
                if (CCA_check_mem_sep(ctx, &d, &sig, mine, &r) == 0 && r.Status == CCD_CORRECT) ++good;
                CCA_cert_free(ctx, r.SignerCert);
                CCA_free(ctx, sig.pbData);
            }
            CCA_serial_free(ctx, serial);
            CCA_cert_free(ctx, mine);
        });
    for (auto &th : threads) th.join();
    EXPECT_EQ(good.load(), 40);
}

TEST_F(QzmsSign, ErrorTextsFollowTheUserLanguage) {
    auto ctx = own();
    PCCERT_CONTEXT c = cert(*ctx, "operator");
    ::setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(check(*ctx, "x", "bad", c), -1);
    EXPECT_EQ(ctx->text(), "Error verification detached message signature. [0x8009310B ASN1 bad tag value met.]");
    ::setenv("LANG", "uk_UA.UTF-8", 1);
    EXPECT_EQ(check(*ctx, "x", "bad", c), -1);
    EXPECT_EQ(ctx->text().rfind("Error verification detached message signature.", 0), 0u);
    EXPECT_EQ(ctx->debug().rfind("Ошибка в функции CryptVerifyDetachedMessageSignature(). Вызывающая функция: CCA_check_mem_sep()."_w, 0), 0u);
    ::setenv("LANG", "ru_RU.UTF-8", 1);
    CCA_cert_free(*ctx, c);
}

} // namespace
