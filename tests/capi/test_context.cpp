// Context life cycle: initialisation with the own certificate (remembered,
// chosen in the prompt, refused pairs), return values and error records,
// provider names, the extended address file, verification-only contexts.
#include "capi_test_support.h"
#include "common/codepage.h"
#include "dialog_answers.h"
#include "platform/crypto/store.h"
#include "tests/platform/crypto/pipe_guard.h"

#include <QDialog>

#include <openssl/pem.h>

#include <fstream>
#include <unistd.h>

using namespace tarmin::test;
using namespace tarmin::cp::literals;
namespace crypto = tarmin::crypto;

namespace {

class QzmsContext : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("LANG", "ru_RU.UTF-8", 1);
        pki_ = new Pki(make_pki());
        install_ = init_product();
    }
    void SetUp() override {
        ::setenv("LANG", "ru_RU.UTF-8", 1);
        forget_my();
    }
    static Pki *pki_;
    static std::filesystem::path install_;

    // Index of a "MY" certificate in the prompt's list (the store's order).
    static int position_of(const std::string &name) {
        auto my = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "MY");
        auto certs = my->certificates();
        for (size_t i = 0; i < certs.size(); ++i)
            if (certs[i]->thumbprint() == pki_->thumb.at(name)) return static_cast<int>(i);
        return -1;
    }
    static bool remembered() {
        unsigned char buf[8192];
        QZ_DWORD len = sizeof buf;
        return QZ_GetKeyBinary(skzi_key().c_str(), "CertSerialNumber", buf, &len, 1) == 0;
    }
};
Pki *QzmsContext::pki_ = nullptr;
std::filesystem::path QzmsContext::install_;

TEST_F(QzmsContext, RememberedCertificateInitialisesWithoutPrompt) {
    set_my(*pki_, "operator");
    Ctx ctx;
    ASSERT_EQ(CCA_init(ctx), 0) << tarmin::cp::cp1251_to_utf8(ctx.text());
    PCCERT_CONTEXT cert = nullptr;
    SignerSerial *serial = nullptr;
    ASSERT_EQ(CCA_get_my_cert(ctx, &cert, &serial), 0);
    std::string der = pki_->der("operator");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(cert->pbCertEncoded), cert->cbCertEncoded), der);
    EXPECT_EQ(serial->SerialNumber.cbData, cert->pCertInfo->SerialNumber.cbData);
    int32_t same = -1;
    CCA_compare_serial(ctx, serial, serial, &same);
    EXPECT_EQ(same, 0);
    char *name = nullptr;
    ASSERT_EQ(CCA_get_name_cert(ctx, cert, &name), 0);
    // The subject read back in the system's reverse order is the text tmncert was given.
    EXPECT_STREQ(name, "CN=Оператор шлюза, OU=Отдел связи, O=Tarmin Test, C=RU, E=operator@tarmin.test"_w);
    CCA_free(ctx, name);
    CCA_serial_free(ctx, serial);
    CCA_cert_free(ctx, cert);
}

TEST_F(QzmsContext, RememberedCertificateDeletedFromMyGivesFourWithoutPrompt) {
    // A certificate of its own, so that the shared PKI stays whole.
    std::string thumb = run_tmncert({"create", "--subject", "CN=Short-lived operator", "--issuer",
                                     pki_->thumb.at("ca"), "--store", "MY", "--email", "gone@tarmin.test"});
    thumb.erase(thumb.find_last_not_of("\n") + 1);
    run_tmncert({"setmy", thumb});
    run_tmncert({"delete", "--store", "MY", thumb});
    DialogAnswers answers;
    answers.then(cancel());
    Ctx ctx;
    EXPECT_EQ(CCA_init(ctx), 4);
    EXPECT_EQ(ctx.code(), 0x4003u);
    EXPECT_EQ(answers.pending(), 1u) << "no prompt may be shown";
    EXPECT_EQ(ctx.text().rfind("Ошибка получения сертификата (CertInfo) в хранилище (MY). [0x80092004 "_w, 0), 0u)
        << ctx.text();
    EXPECT_EQ(ctx.debug().rfind("Ошибка в функции CertGetSubjectCertificateFromStore(). Вызывающая функция: CCA_init()."_w, 0), 0u);
    PCCERT_CONTEXT cert = nullptr;
    SignerSerial *serial = nullptr;
    EXPECT_EQ(CCA_get_my_cert(ctx, &cert, &serial), -1);
    EXPECT_EQ(ctx.code(), 0x4059u);
}

TEST_F(QzmsContext, CancelledPromptGivesFourAndWritesNothing) {
    DialogAnswers answers;
    answers.then(cancel());
    Ctx ctx;
    EXPECT_EQ(CCA_init(ctx), 4);
    EXPECT_EQ(ctx.code(), 0x4005u);
    EXPECT_EQ(ctx.text(), "Ошибка установки личного сертификата () в хранилище (MY)."_w);
    EXPECT_FALSE(remembered());
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0], QStringLiteral("CReaderPromt"));
}

TEST_F(QzmsContext, ChoiceInPromptIsRememberedAndUsedNextTime) {
    DialogAnswers answers;
    QString caption, prompt, details;
    int pos = position_of("operator");
    answers.then([&](QWidget *w) {
        caption = w->windowTitle();
        prompt = w->findChild<QLabel *>(QStringLiteral("1002"))->text();
        choose(pos)(w);
    });
    {
        Ctx ctx;
        ASSERT_EQ(CCA_init(ctx), 0) << ctx.text();
    }
    EXPECT_EQ(caption, QStringLiteral("Выбор личного сертификата"));
    EXPECT_EQ(prompt, QStringLiteral("Используемый сертификат:"));
    EXPECT_TRUE(remembered());
    Ctx again;
    EXPECT_EQ(CCA_init(again), 0);
    EXPECT_EQ(answers.seen().size(), 1u);
}

TEST_F(QzmsContext, DisallowedAlgorithmPairShowsMessageAndPromptsAgain) {
    DialogAnswers answers;
    QString box_text, box_title, first_list, second_list;
    auto list_of = [](QWidget *w) {
        QString all;
        auto *list = w->findChild<QComboBox *>(QStringLiteral("1000"));
        for (int i = 0; i < list->count(); ++i) all += list->itemText(i) + "|";
        return all;
    };
    answers.then([&](QWidget *w) {
        first_list = list_of(w);
        choose(position_of("operator512"))(w);
    });
    answers.then(read_box(&box_text, &box_title));
    answers.then([&](QWidget *w) {
        second_list = list_of(w);
        cancel()(w);
    });
    Ctx ctx;
    EXPECT_EQ(CCA_init(ctx), 4);
    EXPECT_EQ(box_text, QStringLiteral("Сертификат содержит неподдерживаемый алгоритм открытого ключа или алгоритм подписи"));
    EXPECT_EQ(box_title, QStringLiteral("Выбор личного сертификата"));
    EXPECT_FALSE(first_list.isEmpty());
    EXPECT_EQ(first_list, second_list);
    EXPECT_FALSE(remembered());
}

TEST_F(QzmsContext, PromptDetailsDescribeTheCertificate) {
    DialogAnswers answers;
    QString details;
    answers.then([&](QWidget *w) {
        auto *list = w->findChild<QComboBox *>(QStringLiteral("1000"));
        list->setCurrentIndex(position_of("operator"));
        details = w->findChild<QLabel *>(QStringLiteral("1003"))->text();
        cancel()(w);
    });
    Ctx ctx;
    EXPECT_EQ(CCA_init(ctx), 4);
    auto cert = crypto::Certificate::from_der(pki_->der("operator").data(), pki_->der("operator").size());
    QString serial = QString::fromStdString(cert->serial_hex());
    EXPECT_TRUE(details.startsWith(QStringLiteral("Серийный номер: ") + serial + "\nПоставщик: CN=Tarmin Test Issuing CA, O=Tarmin Test, C=RU\nДействителен с: "))
        << details.toStdString();
    EXPECT_TRUE(details.endsWith(QStringLiteral("\nАлгоритм ключа: 1.2.643.7.1.1.1.1\nАлгоритм подписи: 1.2.643.7.1.1.3.2\n")))
        << details.toStdString();
}

TEST_F(QzmsContext, ProviderNameOutsideTheKnownPrefixesGivesAlgorithmError) {
    set_my(*pki_, "operator2001");
    auto my = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "MY");
    std::filesystem::path kpi = crypto::certstores_root() / "CurrentUser/MY/.Default" / (pki_->thumb.at("operator2001") + ".kpi");
    std::string saved = read_file(kpi);
    write_file(kpi, "Other GOST CSP");
    Ctx ctx;
    EXPECT_EQ(CCA_init(ctx), -1);
    EXPECT_EQ(ctx.code(), 0x4013u);
    EXPECT_EQ(ctx.text(), "Для криптопровайдера (Other GOST CSP) отсутствует значение алгоритма (HashAlgOid). Установите необходимые параметры системного реестра."_w);
    // Either known prefix qualifies, compared without regard to case.
    write_file(kpi, "CRYPTO-PRO GOST R 34.10-2012 Cryptographic Service Provider");
    Ctx pro;
    EXPECT_EQ(CCA_init(pro), 0) << pro.text();
    write_file(kpi, saved);
}

TEST_F(QzmsContext, MissingExtendedAddressFileStillInitialises) {
    set_my(*pki_, "operator");
    std::filesystem::remove(install_ / "extadr.cfg");
    Ctx ctx;
    EXPECT_EQ(CCA_init(ctx), 0);
    // The tolerated failure stays on record.
    EXPECT_EQ(ctx.code(), 0x4047u);
    EXPECT_NE(ctx.text().find("extadr.cfg) в режиме (GENERIC_READ)."_w), std::string::npos) << ctx.text();
}

TEST_F(QzmsContext, MissingInstallationPathFails) {
    set_my(*pki_, "operator");
    QZ_DeleteValue(QZ_GetProductKeyName(), "Path");
    Ctx ctx;
    EXPECT_EQ(CCA_init(ctx), -1);
    EXPECT_EQ(ctx.code(), 0x404Fu);
    QZ_SetKeyString(QZ_GetProductKeyName(), "Path", install_.c_str(), 1);
    // The failed context can be initialised again.
    EXPECT_EQ(CCA_init(ctx), 0) << ctx.text();
}

TEST_F(QzmsContext, VerificationOnlyContextHasNoOwnCertificate) {
    Ctx ctx;
    CCA_set_flag(ctx, CCA_FLAG_VERIFY_ONLY);
    DialogAnswers answers;
    answers.then(cancel());
    EXPECT_EQ(CCA_init(ctx), 0);
    EXPECT_EQ(answers.pending(), 1u);
    PCCERT_CONTEXT cert = nullptr;
    SignerSerial *serial = nullptr;
    EXPECT_EQ(CCA_get_my_cert(ctx, &cert, &serial), -1);
    EXPECT_EQ(ctx.code(), 0x4059u);
    EXPECT_EQ(cert, nullptr);
    EXPECT_EQ(serial, nullptr);
    // Learning certificates works without an own one.
    std::string der = pki_->der("alice");
    PCCERT_CONTEXT learned = nullptr;
    EXPECT_EQ(CCA_put_cert(ctx, reinterpret_cast<const unsigned char *>(der.data()), static_cast<uint32_t>(der.size()), &learned), 0)
        << ctx.text();
    CCA_cert_free(ctx, learned);
}

TEST_F(QzmsContext, PrivateKeyMissingGivesOne) {
    std::string thumb = run_tmncert({"create", "--subject", "CN=Keyless operator", "--issuer", pki_->thumb.at("ca"),
                                     "--store", "MY", "--email", "keyless@tarmin.test"});
    thumb.erase(thumb.find_last_not_of("\n") + 1);
    std::filesystem::remove(crypto::certstores_root() / "CurrentUser/MY/.Default" / (thumb + ".key"));
    run_tmncert({"setmy", thumb});
    Ctx ctx;
    EXPECT_EQ(CCA_init(ctx), 1);
    EXPECT_EQ(ctx.code(), 0x400Du);
    EXPECT_EQ(ctx.text(), "Ошибка загрузки личного ключа пользователя. [0x8009000D Ключ не существует.]"_w);
    run_tmncert({"delete", "--store", "MY", thumb});
}

// A password-protected key in "MY" is refused at once: the library never asks
// on a terminal, and never reads the host's standard input for a password.
TEST_F(QzmsContext, EncryptedOwnKeyIsRefusedWithoutAskingForAPassword) {
    std::string thumb = run_tmncert({"create", "--subject", "CN=Locked operator", "--issuer", pki_->thumb.at("ca"),
                                     "--store", "MY", "--email", "locked@tarmin.test"});
    thumb.erase(thumb.find_last_not_of("\n") + 1);
    std::filesystem::path key_file = crypto::certstores_root() / "CurrentUser/MY/.Default" / (thumb + ".key");
    crypto::EvpPkeyPtr key = crypto::private_key_from_pem(read_file(key_file));
    ASSERT_TRUE(key);
    BIO *bio = BIO_new(BIO_s_mem());
    char password[] = "secret";
    ASSERT_EQ(PEM_write_bio_PKCS8PrivateKey(bio, key.get(), EVP_aes_256_cbc(), nullptr, 0, nullptr, password), 1);
    char *pem = nullptr;
    long pem_length = BIO_get_mem_data(bio, &pem);
    write_file(key_file, std::string(pem, static_cast<size_t>(pem_length)));
    BIO_free(bio);
    std::filesystem::permissions(key_file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    run_tmncert({"setmy", thumb});

    // The password waits on standard input: a library that asked for one
    // would take it from there.
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const std::string typed = "secret\nsecret\n";
    ASSERT_EQ(::write(pipe_fds[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    ::close(pipe_fds[1]);
    int saved_stdin = ::dup(0);
    ::dup2(pipe_fds[0], 0);
    int32_t rc;
    {
        Ctx ctx;
        rc = CCA_init(ctx);
        EXPECT_EQ(ctx.code(), 0x400Du);
        EXPECT_EQ(ctx.text(), "Ошибка загрузки личного ключа пользователя. [0xA0090001 Закрытый ключ защищен паролем; "
                              "используются только ключи без пароля.]"_w);
    }
    ::dup2(saved_stdin, 0);
    ::close(saved_stdin);
    std::string left(64, '\0');
    ssize_t n = ::read(pipe_fds[0], left.data(), left.size());
    ::close(pipe_fds[0]);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(left.substr(0, n > 0 ? static_cast<size_t>(n) : 0), typed) << "standard input was read";
    run_tmncert({"delete", "--store", "MY", thumb});
}

// An own key that other users can read, or could have put there, is not
// used: the key file must be the user's and 0600, the directories of "MY"
// the user's and closed to others, as ssh demands of its keys.
TEST_F(QzmsContext, OwnKeyOpenToOtherUsersIsRefused) {
    set_my(*pki_, "operator");
    namespace fs = std::filesystem;
    fs::path physical = crypto::certstores_root() / "CurrentUser/MY/.Default", system = physical.parent_path();
    fs::path key = physical / (pki_->thumb.at("operator") + ".key");
    const std::string key_open = "0xA0090004 Файл закрытого ключа доступен другим пользователям или принадлежит "
                                 "другому пользователю.]"_w;
    const std::string store_open = "0xA0090005 Хранилище закрытых ключей доступно другим пользователям или "
                                   "принадлежит другому пользователю.]"_w;
    struct Case {
        const char *what;
        fs::path path;
        mode_t mode;
        uid_t owner; // 0: unchanged
        std::string reason;
    };
    std::vector<Case> cases{
        {"key readable by the group", key, 0640, 0, key_open},
        {"key readable by others", key, 0604, 0, key_open},
        {"key writable by the group", key, 0620, 0, key_open},
        {"store open to the group", physical, 0750, 0, store_open},
        {"system store open to others", system, 0705, 0, store_open},
    };
    if (::geteuid() == 0) {
        cases.push_back({"key of another user", key, 0600, 65534, key_open});
        cases.push_back({"store of another user", physical, 0700, 65534, store_open});
    }
    for (const auto &c : cases) {
        struct stat before {};
        ASSERT_EQ(::stat(c.path.c_str(), &before), 0) << c.path;
        ASSERT_EQ(::chmod(c.path.c_str(), c.mode), 0);
        if (c.owner) ASSERT_EQ(::chown(c.path.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
        Ctx ctx;
        EXPECT_EQ(CCA_init(ctx), 1) << c.what;
        EXPECT_EQ(ctx.code(), 0x400Du) << c.what;
        EXPECT_EQ(ctx.text(), "Ошибка загрузки личного ключа пользователя. ["_w + c.reason) << c.what;
        EXPECT_NE(ctx.debug().find(c.reason), std::string::npos) << c.what;
        ASSERT_EQ(::chmod(c.path.c_str(), before.st_mode & 07777), 0);
        if (c.owner) ASSERT_EQ(::chown(c.path.c_str(), before.st_uid, static_cast<gid_t>(-1)), 0);
    }
    Ctx ctx;
    EXPECT_EQ(CCA_init(ctx), 0) << ctx.text();
}

// Named pipes among the files the library reads (stores, revocation lists,
// the extended address file) neither hang initialisation and lookups nor
// count as files.
TEST_F(QzmsContext, NamedPipesAmongItsFilesDoNotHangInitialisationOrLookup) {
    set_my(*pki_, "operator");
    auto stores = crypto::certstores_root() / "CurrentUser";
    std::vector<std::filesystem::path> pipes{stores / "MY/.Default" / (std::string(40, 'F') + ".cer"),
                                             stores / "CA/.Default" / (std::string(40, 'E') + ".crl"),
                                             stores / "AddressBook/.Default" / (std::string(40, 'D') + ".cer"),
                                             install_ / "extadr.cfg"};
    for (const auto &p : pipes) ASSERT_TRUE(make_pipe(p)) << p;
    crypto::forget_store_cache();
    bool ended = ends_without_blocking(
        [&] {
            Ctx ctx;
            EXPECT_EQ(CCA_init(ctx), 0) << ctx.text();
            // The address file that is no file is passed over like a missing one.
            EXPECT_EQ(ctx.code(), 0x4048u);
            EXPECT_EQ(ctx.text().rfind("Ошибка определения размера файла ("_w + (install_ / "extadr.cfg").string() +
                                           ")."_w,
                                       0),
                      0u)
                << ctx.text();
            PCCERT_CONTEXT certs[CCA_MAX_CERTS] = {};
            uint32_t count = 0;
            EXPECT_EQ(CCA_find_cert_by_address(ctx, 0, CCA_ADDRESS_SMTP, "alice@tarmin.test", certs, &count), 0)
                << ctx.text();
            EXPECT_EQ(count, 1u);
            for (uint32_t i = 0; i < count; ++i) CCA_cert_free(ctx, certs[i]);
        },
        pipes);
    EXPECT_TRUE(ended) << "a read blocked on a named pipe";
    for (const auto &p : pipes) std::filesystem::remove(p);
}

TEST_F(QzmsContext, FinalIsHarmlessTwiceAndBeforeInit) {
    Ctx fresh;
    EXPECT_EQ(CCA_final(fresh), 0);
    EXPECT_EQ(CCA_final(fresh), 0);
    set_my(*pki_, "operator");
    Ctx ctx;
    ASSERT_EQ(CCA_init(ctx), 0);
    EXPECT_EQ(CCA_final(ctx), 0);
    EXPECT_EQ(CCA_final(ctx), 0);
    std::string x = "x";
    CapiBlob data = blob_of(x), sig{};
    EXPECT_EQ(CCA_sign_mem_sep(ctx, &data, nullptr, &sig), -1);
    EXPECT_EQ(ctx.code(), 0x4059u);
    EXPECT_EQ(CCA_close_context(nullptr), 0);
}

TEST_F(QzmsContext, SetMyCertRemembersTheChoiceWithPreselection) {
    set_my(*pki_, "operator2001");
    DialogAnswers answers;
    int preselected = -2;
    answers.then([&](QWidget *w) {
        preselected = w->findChild<QComboBox *>(QStringLiteral("1000"))->currentIndex();
        choose(position_of("operator"))(w);
    });
    EXPECT_EQ(QZMS_SetMyCert(), 1);
    EXPECT_EQ(preselected, position_of("operator2001"));
    Ctx ctx;
    ASSERT_EQ(CCA_init(ctx), 0);
    PCCERT_CONTEXT cert = nullptr;
    SignerSerial *serial = nullptr;
    ASSERT_EQ(CCA_get_my_cert(ctx, &cert, &serial), 0);
    auto c = crypto::Certificate::from_der(cert->pbCertEncoded, cert->cbCertEncoded);
    EXPECT_EQ(c->thumbprint(), pki_->thumb.at("operator"));
    CCA_cert_free(ctx, cert);
    CCA_serial_free(ctx, serial);
    answers.then(cancel());
    EXPECT_EQ(QZMS_SetMyCert(), 0);
}

TEST_F(QzmsContext, MissingGostEngineIsAClearError) {
    // The provider loads the engine itself; without it every tool says why.
    std::string out, err;
    int rc = run({"env", "OPENSSL_ENGINES=/nonexistent", tmncert().string(), "list"}, &out, &err);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(err.find("the GOST engine of OpenSSL (gost.so, package libengine-gost-openssl) cannot be loaded"),
              std::string::npos)
        << err;
}

TEST_F(QzmsContext, NoOpSessionFunctionsAndNullContext) {
    EXPECT_EQ(CCA_init_vcert_for_load_key_only(nullptr), 0);
    EXPECT_EQ(CCA_final_vcert_for_load_key_only(nullptr), 0);
    EXPECT_EQ(CCA_ctrl_session(nullptr), 0);
    EXPECT_EQ(CCA_init(nullptr), -1);
    EXPECT_EQ(CCA_get_code_error(nullptr), -1);
    EXPECT_STREQ(CCA_get_text_error(nullptr), "");
    EXPECT_STREQ(CCA_get_debug_error(nullptr), "");
}

} // namespace
