// Certificate lookup by address and by issuer and serial, the extended
// address file, forwarding addresses, suitability, learning, revocation-list
// updates, names and the viewers, on the test PKI.
#include "capi_test_support.h"
#include "common/codepage.h"
#include "dialog_answers.h"
#include "platform/crypto/certificate.h"

#include <algorithm>

using namespace tarmin::test;
using namespace tarmin::cp::literals;
namespace crypto = tarmin::crypto;

namespace {

std::string trimmed(std::string s) {
    s.erase(s.find_last_not_of("\r\n ") + 1);
    return s;
}

class QzmsLookup : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new Pki(make_pki());
        install_ = init_product();
        work_ = make_temp_dir("lookup");
        set_my(*pki_, "operator");
    }
    void SetUp() override {
        ::setenv("LANG", "ru_RU.UTF-8", 1);
        std::filesystem::remove(install_ / "extadr.cfg");
    }

    std::unique_ptr<Ctx> init(const std::string &extadr = {}, uint32_t flags = 0) {
        if (!extadr.empty()) write_file(install_ / "extadr.cfg", extadr);
        auto ctx = std::make_unique<Ctx>();
        if (flags) CCA_set_flag(*ctx, flags);
        EXPECT_EQ(CCA_init(*ctx), 0) << tarmin::cp::cp1251_to_utf8(ctx->text());
        return ctx;
    }

    // Thumbprints of the certificates found for an address; "fail:<code>" on failure.
    static std::vector<std::string> find(Ctx &ctx, const std::string &address, uint32_t type = CCA_ADDRESS_SMTP) {
        PCCERT_CONTEXT certs[CCA_MAX_CERTS] = {};
        uint32_t count = 99;
        std::vector<std::string> out;
        if (CCA_find_cert_by_address(ctx, 0, type, address.c_str(), certs, &count) != 0) {
            EXPECT_EQ(count, 0u);
            char code[32];
            std::snprintf(code, sizeof code, "fail:%X", ctx.code());
            return {code};
        }
        for (uint32_t i = 0; i < count; ++i) {
            out.push_back(crypto::Certificate::from_der(certs[i]->pbCertEncoded, certs[i]->cbCertEncoded)->thumbprint());
            CCA_cert_free(ctx, certs[i]);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    std::vector<std::string> thumbs(std::vector<std::string> names) {
        std::vector<std::string> out;
        for (const auto &n : names) out.push_back(pki_->thumb.at(n));
        std::sort(out.begin(), out.end());
        return out;
    }
    static int32_t put(Ctx &ctx, const std::string &der, PCCERT_CONTEXT *out) {
        return CCA_put_cert(ctx, reinterpret_cast<const unsigned char *>(der.data()), static_cast<uint32_t>(der.size()), out);
    }
    // A fresh end-entity certificate of the test CA in a store of its own.
    std::string issue(const std::string &base, const std::string &mail, const std::string &store = "Spare") {
        return trimmed(run_tmncert({"create", "--subject", "CN=" + base, "--issuer", pki_->thumb.at("ca"), "--email",
                                    mail, "--store", store, "--out", work_.string(), "--name", base}));
    }

    static Pki *pki_;
    static std::filesystem::path install_, work_;
};
Pki *QzmsLookup::pki_ = nullptr;
std::filesystem::path QzmsLookup::install_, QzmsLookup::work_;

TEST_F(QzmsLookup, AddressInASystemStoreIsFoundCheckedAndLearned) {
    auto ctx = init();
    EXPECT_EQ(find(*ctx, "ALICE@tarmin.test"), thumbs({"alice"}));
    // Gone from the store, the learned certificate is still found.
    run_tmncert({"delete", "--store", "AddressBook", pki_->thumb.at("alice")});
    EXPECT_EQ(find(*ctx, "alice@tarmin.test"), thumbs({"alice"}));
    auto fresh = init();
    EXPECT_EQ(find(*fresh, "alice@tarmin.test"), std::vector<std::string>{"fail:402E"});
    EXPECT_EQ(fresh->text(), "Сертификат с требуемым адресом (alice@tarmin.test) не найден."_w);
    run_tmncert({"import", "--store", "AddressBook", (pki_->dir / "alice.cer").string()});
}

TEST_F(QzmsLookup, EveryMatchIsCollected) {
    auto ctx = init();
    EXPECT_EQ(find(*ctx, "bob@tarmin.test"), thumbs({"bob", "bob2001"}));
}

TEST_F(QzmsLookup, OtherNameAddressesOfTypesExAndNotes) {
    auto ctx = init();
    EXPECT_EQ(find(*ctx, "/O=TARMIN/ou=Gateway/cn=Recipients/cn=alice", CCA_ADDRESS_EX), thumbs({"alice"}));
    EXPECT_EQ(find(*ctx, "cn=alice notes/o=tarmin", CCA_ADDRESS_NOTES), thumbs({"alice"}));
    // The EX name is no NOTES name.
    EXPECT_EQ(find(*ctx, "/o=Tarmin/ou=Gateway/cn=Recipients/cn=alice", CCA_ADDRESS_NOTES),
              std::vector<std::string>{"fail:402E"});
}

TEST_F(QzmsLookup, UnknownAddressTypeIsRefused) {
    auto ctx = init();
    EXPECT_EQ(find(*ctx, "alice@tarmin.test", 3), std::vector<std::string>{"fail:402D"});
    EXPECT_EQ(ctx->text(), "Поиск сертификата по адресу (alice@tarmin.test) типа (OTHER_ADDRESS_TYPE_3) не поддерживается."_w);
    EXPECT_EQ(ctx->debug(), "Ошибка в функции (AddressType!=SMTP,EX,LOTUS). Вызывающая функция: CCA_find_cert_by_address()."_w);
}

TEST_F(QzmsLookup, SignatureOnlyExpiredRevokedAndUntrustedAreNeverReturned) {
    auto ctx = init();
    for (const char *a : {"signonly@tarmin.test", "expired@tarmin.test", "revoked@tarmin.test", "orphan@tarmin.test"})
        EXPECT_EQ(find(*ctx, a), std::vector<std::string>{"fail:402E"}) << a;
}

TEST_F(QzmsLookup, ForwardingAddressIsReplacedByItsCertificates) {
    auto ctx = init();
    EXPECT_EQ(find(*ctx, "old@tarmin.test"), thumbs({"bob", "bob2001"}));
}

TEST_F(QzmsLookup, RedirectionWinsInAnyLetterCaseOverOwnCertificates) {
    auto ctx = init("# redirections and aliases\n"
                    "  ALICE@Tarmin.Test \t>>  bob@tarmin.test \r\n"
                    "nobody@tarmin.test == alice@tarmin.test\n"
                    "bob@tarmin.test == alice@tarmin.test\n"
                    ">> alice@tarmin.test\n"
                    "empty@tarmin.test >>\n");
    EXPECT_EQ(find(*ctx, "alice@tarmin.test"), thumbs({"bob", "bob2001"}));
    // An alias is asked only when the address itself finds nothing.
    EXPECT_EQ(find(*ctx, "NOBODY@tarmin.test"), thumbs({"alice"}));
    EXPECT_EQ(find(*ctx, "bob@tarmin.test"), thumbs({"bob", "bob2001"}));
    // A line with an empty part is ignored.
    EXPECT_EQ(find(*ctx, "empty@tarmin.test"), std::vector<std::string>{"fail:402E"});
}

TEST_F(QzmsLookup, AliasesAreTriedInOrderUntilOneFinds) {
    auto ctx = init("team@tarmin.test == nobody@tarmin.test\n"
                    "team@tarmin.test == signonly@tarmin.test\n"
                    "team@tarmin.test == old@tarmin.test\n"
                    "team@tarmin.test == alice@tarmin.test\n");
    EXPECT_EQ(find(*ctx, "team@tarmin.test"), thumbs({"bob", "bob2001"}));
    auto none = init("lost@tarmin.test == nobody@tarmin.test\n");
    EXPECT_EQ(find(*none, "lost@tarmin.test"), std::vector<std::string>{"fail:402E"});
    // The last search's error stands.
    EXPECT_EQ(none->text(), "Сертификат с требуемым адресом (nobody@tarmin.test) не найден."_w);
}

TEST_F(QzmsLookup, CombinedChainStatusIsUnknownStatus) {
    auto ctx = init();
    PCCERT_CONTEXT c = nullptr;
    EXPECT_EQ(put(*ctx, pki_->der("orphan"), &c), -1);
    EXPECT_EQ(ctx->code(), 0x4071u);
    auto orphan = crypto::Certificate::from_der(pki_->der("orphan").data(), pki_->der("orphan").size());
    EXPECT_EQ(ctx->text(), "Статус проверки цепочки сертификатов вернул неизвестную ошибку [Error:00010001, Info:00000000] "
                           "CN=Orphan Correspondent, O=Elsewhere, C=RU ["_w +
                               orphan->serial_hex() + "]."_w);
    EXPECT_EQ(ctx->debug(), "Ошибка в функции QZMS_TestTrustStatus. Вызывающая функция: QZMS_VerifyCert()."_w);
    EXPECT_EQ(put(*ctx, pki_->der("expired"), &c), -1);
    EXPECT_EQ(ctx->code(), 0x405Bu);
    EXPECT_EQ(put(*ctx, pki_->der("revoked"), &c), -1);
    EXPECT_EQ(ctx->code(), 0x4054u);
    EXPECT_EQ(ctx->text(), "Сертификат отозван."_w);
    EXPECT_EQ(c, nullptr);
}

TEST_F(QzmsLookup, RevokedAfterLearningIsFoundBySerialUntilUpdate) {
    std::string carol = issue("Carol", "carol@tarmin.test");
    auto ctx = init();
    auto cert = crypto::Certificate::from_der(read_file(work_ / "Carol.cer").data(), read_file(work_ / "Carol.cer").size());
    crypto::Bytes issuer = cert->issuer_der(), serial = cert->serial_le();
    SignerSerial record{};
    record.Issuer = {static_cast<uint32_t>(issuer.size()), issuer.data()};
    record.SerialNumber = {static_cast<uint32_t>(serial.size()), serial.data()};
    PCCERT_CONTEXT found = nullptr;
    ASSERT_EQ(CCA_find_cert_by_serial(*ctx, 0, &record, &found), 0) << ctx->text();
    CCA_cert_free(*ctx, found);
    EXPECT_EQ(find(*ctx, "carol@tarmin.test"), std::vector<std::string>{carol});

    run_tmncert({"revoke", "--issuer", pki_->thumb.at("ca"), carol});
    ASSERT_EQ(CCA_find_cert_by_serial(*ctx, 0, &record, &found), 0);
    CCA_cert_free(*ctx, found);
    // An address search tests learned certificates against the lists again.
    EXPECT_EQ(find(*ctx, "carol@tarmin.test"), std::vector<std::string>{"fail:402E"});

    ASSERT_EQ(CCA_update_crl(*ctx), 0);
    EXPECT_EQ(CCA_find_cert_by_serial(*ctx, 0, &record, &found), -1);
    EXPECT_EQ(ctx->code(), 0x4054u);
    EXPECT_EQ(found, nullptr);
}

TEST_F(QzmsLookup, RevokedOwnCertificateIsForgottenByUpdate) {
    std::string mine = issue("Revocable operator", "revocable@tarmin.test", "MY");
    run_tmncert({"setmy", mine});
    auto ctx = init();
    run_tmncert({"revoke", "--issuer", pki_->thumb.at("ca"), mine});
    std::string x = "x";
    CapiBlob data = blob_of(x), sig{};
    ASSERT_EQ(CCA_sign_mem_sep(*ctx, &data, nullptr, &sig), 0) << ctx->text();
    CCA_free(*ctx, sig.pbData);
    ASSERT_EQ(CCA_update_crl(*ctx), 0);
    EXPECT_EQ(CCA_sign_mem_sep(*ctx, &data, nullptr, &sig), -1);
    EXPECT_EQ(ctx->code(), 0x4059u);
    EXPECT_EQ(CCA_update_crl(*ctx), -1);
    EXPECT_EQ(ctx->code(), 0x4059u);
    run_tmncert({"delete", "--store", "MY", mine});
    set_my(*pki_, "operator");
}

TEST_F(QzmsLookup, SerialNotFoundAnywhere) {
    auto ctx = init();
    crypto::Bytes issuer{0x30, 0x00}, serial{0x01};
    SignerSerial record{};
    record.Issuer = {2, issuer.data()};
    record.SerialNumber = {1, serial.data()};
    PCCERT_CONTEXT found = nullptr;
    EXPECT_EQ(CCA_find_cert_by_serial(*ctx, 0, &record, &found), -1);
    EXPECT_EQ(ctx->code(), 0x4027u);
    EXPECT_EQ(ctx->text(), "Требуемый сертификат не найден."_w);
    int32_t same = -1;
    SignerSerial other = record;
    crypto::Bytes serial2{0x02};
    other.SerialNumber = {1, serial2.data()};
    EXPECT_EQ(CCA_compare_serial(*ctx, &record, &record, &same), 0);
    EXPECT_EQ(same, 0);
    EXPECT_EQ(CCA_compare_serial(*ctx, &record, &other, &same), 0);
    EXPECT_EQ(same, 1);
}

TEST_F(QzmsLookup, AddressInCertificateAndNames) {
    auto ctx = init();
    PCCERT_CONTEXT c = nullptr;
    ASSERT_EQ(put(*ctx, pki_->der("alice"), &c), 0) << ctx->text();
    int32_t flag = -1;
    EXPECT_EQ(CCA_is_address_in_cert(*ctx, "Alice@TARMIN.test", c, &flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(CCA_is_address_in_cert(*ctx, "bob@tarmin.test", c, &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(CCA_is_address_in_cert(*ctx, "", c, &flag), -1);
    EXPECT_EQ(ctx->code(), 0x80070057u);
    EXPECT_EQ(ctx->text(), "email == NULL");
    EXPECT_EQ(ctx->debug(), "Ошибка в функции CCA_is_address_in_cert"_w);
    EXPECT_EQ(CCA_is_address_in_cert(*ctx, "a@b", nullptr, &flag), -1);
    EXPECT_EQ(ctx->text(), "pCert == NULL");

    char *name = nullptr;
    int32_t auth = 0;
    ASSERT_EQ(CCA_get_auten_name(*ctx, c, &name, &auth), 0);
    EXPECT_STREQ(name, "Alice Correspondent");
    EXPECT_EQ(auth, 1);
    CCA_free(*ctx, name);
    unsigned char *der = nullptr;
    uint32_t len = 0;
    ASSERT_EQ(CCA_get_cert(*ctx, c, &der, &len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(der), len), pki_->der("alice"));
    CCA_free(*ctx, der);
    CCA_cert_free(*ctx, c);
}

TEST_F(QzmsLookup, PutCertWithAddressBookFlagStoresNewCertificates) {
    std::string dave = issue("Dave", "dave@tarmin.test");
    run_tmncert({"delete", "--store", "Spare", dave});
    std::string der = read_file(work_ / "Dave.cer");
    auto ctx = init({}, CCA_FLAG_ADDRESS_BOOK);
    PCCERT_CONTEXT c = nullptr;
    ASSERT_EQ(put(*ctx, der, &c), 0) << ctx->text();
    CCA_cert_free(*ctx, c);
    EXPECT_TRUE(std::filesystem::exists(home() / "certstores/CurrentUser/AddressBook/.Default" / (dave + ".cer")));
    // Known already: success without another copy.
    ASSERT_EQ(put(*ctx, der, &c), 0);
    CCA_cert_free(*ctx, c);
    // Without the flag nothing is written.
    std::string erin = issue("Erin", "erin@tarmin.test");
    run_tmncert({"delete", "--store", "Spare", erin});
    auto plain = init();
    ASSERT_EQ(put(*plain, read_file(work_ / "Erin.cer"), &c), 0);
    CCA_cert_free(*plain, c);
    EXPECT_FALSE(std::filesystem::exists(home() / "certstores/CurrentUser/AddressBook/.Default" / (erin + ".cer")));
    EXPECT_EQ(put(*plain, "not a certificate", &c), -1);
    EXPECT_EQ(plain->code(), 0x4038u);
}

TEST_F(QzmsLookup, ViewersShowCertificatesAndRevocationLists) {
    auto ctx = init();
    DialogAnswers answers;
    answers.then(cancel());
    answers.then(cancel());
    answers.then(cancel());
    PCCERT_CONTEXT c = nullptr;
    ASSERT_EQ(put(*ctx, pki_->der("alice"), &c), 0);
    EXPECT_EQ(CCA_view_cert(*ctx, c), 0);
    std::string der = pki_->der("bob");
    EXPECT_EQ(CCA_show_cert(*ctx, reinterpret_cast<const unsigned char *>(der.data()), static_cast<uint32_t>(der.size())), 0);
    std::string crl = read_file(pki_->dir / "ca.crl");
    EXPECT_EQ(CCA_show_crl(*ctx, reinterpret_cast<const unsigned char *>(crl.data()), static_cast<uint32_t>(crl.size())), 0);
    ASSERT_EQ(answers.seen().size(), 3u);
    EXPECT_EQ(answers.seen()[0], QStringLiteral("CertificateViewer"));
    EXPECT_EQ(answers.seen()[2], QStringLiteral("CrlViewer"));
    const unsigned char junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_EQ(CCA_show_cert(*ctx, junk, sizeof junk), -1);
    EXPECT_EQ(ctx->code(), 0x4038u);
    EXPECT_EQ(CCA_show_crl(*ctx, junk, sizeof junk), -1);
    EXPECT_EQ(ctx->code(), 0x404Au);
    EXPECT_EQ(CCA_struct_cert(*ctx), -1);
    EXPECT_EQ(ctx->code(), 0x404Cu);
    EXPECT_EQ(ctx->text(), "Функция (CCA_struct_cert) не поддерживается."_w);
    EXPECT_EQ(ctx->debug(), "Ошибка в функции CCA_struct_cert(). Вызывающая функция: CCA_struct_cert()."_w);
    CCA_cert_free(*ctx, c);
}

// A certificate reference is checked against the library's table of live
// references before anything is read through it: a released one, or one the
// library never handed out, is refused like a missing one.
TEST_F(QzmsLookup, ReleasedOrForeignCertificateReferencesAreRefusedNeverRead) {
    auto ctx = init();
    PCCERT_CONTEXT alice = nullptr;
    ASSERT_EQ(put(*ctx, pki_->der("alice"), &alice), 0);
    std::string der = pki_->der("alice");
    CERT_CONTEXT foreign = *alice;
    foreign.pbCertEncoded = reinterpret_cast<unsigned char *>(der.data());
    char *name = nullptr;
    ASSERT_EQ(CCA_get_name_cert(*ctx, alice, &name), 0);
    CCA_free(*ctx, name);
    EXPECT_EQ(CCA_cert_free(*ctx, alice), 0);
    for (PCCERT_CONTEXT ref : {alice, static_cast<PCCERT_CONTEXT>(&foreign)}) {
        EXPECT_EQ(CCA_get_name_cert(*ctx, ref, &name), -1);
        EXPECT_EQ(name, nullptr);
        EXPECT_EQ(ctx->code(), 0x4032u);
        int32_t flag = 1;
        EXPECT_EQ(CCA_is_address_in_cert(*ctx, "alice@tarmin.test", ref, &flag), -1);
        EXPECT_EQ(ctx->text(), "pCert == NULL");
        unsigned char *copy = nullptr;
        uint32_t length = 0;
        EXPECT_EQ(CCA_get_cert(*ctx, ref, &copy, &length), -1);
        EXPECT_EQ(copy, nullptr);
        const std::string text = "x";
        CapiBlob data = blob_of(text), enveloped{};
        EXPECT_EQ(CCA_encrypt_mem(*ctx, &data, nullptr, &ref, 1, &enveloped), -1);
        EXPECT_EQ(enveloped.pbData, nullptr);
        // Releasing it (again) is harmless.
        EXPECT_EQ(CCA_cert_free(*ctx, ref), 0);
    }
}

} // namespace
