// The provider settings library (qzvocfg): the report on the GOST engine,
// the algorithms, the remembered own certificate with its key's algorithm,
// parameter set and signing hash, and the certificate stores; and its window,
// whose button makes the library forget the own certificate.
#include "common/codepage.h"
#include "moncfg/qzvocfg/CProviderSettingsDlg.h"
#include "moncfg/qzvocfg/ProviderReport.h"
#include "platform/crypto/store.h"
#include "qzcom.h"
#include "tests/platform/crypto/test_pki.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdlib>

using namespace tarmin;
using namespace tarmin::qzvocfg;
using namespace tarmin::cp::literals;
using tarmin::crypto::KeyAlg;

namespace {

class ProviderSettings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", "provider", QZ_VERSION), 0); }
    void TearDown() override { QZ_Finalize(); }

    static std::string ownKey() { return std::string(QZ_GetProductKeyName()) + "\\SKZIpath"; }

    // An operator's certificate with its key in "MY", remembered as the
    // own one the way the CryptoAPI interface library remembers it.
    static void rememberOwn(KeyAlg alg, const std::string &cn) {
        test::crypto::Issued root = test::crypto::make_root("Провайдер УЦ", KeyAlg::Gost2012_256);
        test::crypto::Issued user = test::crypto::make_user(cn, "oper@bank.example", root, alg);
        ASSERT_TRUE(user.cert);
        auto store = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "MY");
        ASSERT_TRUE(store);
        crypto::CertPtr stored = store->add(user.cert, crypto::AddDisposition::ReplaceExisting);
        ASSERT_TRUE(stored);
        ASSERT_TRUE(store->set_private_key(*stored, user.key.get(), crypto::kProviderName));
        const crypto::Bytes serial = stored->serial_le(), issuer = stored->issuer_der();
        ASSERT_EQ(QZ_SetKeyBinary(ownKey().c_str(), "CertSerialNumber", serial.data(),
                                  static_cast<QZ_DWORD>(serial.size()), 3, 1), 0);
        ASSERT_EQ(QZ_SetKeyBinary(ownKey().c_str(), "CertIssuer", issuer.data(), static_cast<QZ_DWORD>(issuer.size()),
                                  3, 1), 0);
    }

    static const StoreInfo *store(const ProviderReport &report, const std::string &location, const std::string &name) {
        for (const StoreInfo &info : report.stores)
            if (info.location == location && info.name == name) return &info;
        return nullptr;
    }
};

QStringList groupRows(const QTreeWidget &view, const QString &title) {
    QStringList rows;
    for (int i = 0; i < view.topLevelItemCount(); ++i) {
        const QTreeWidgetItem *group = view.topLevelItem(i);
        if (group->text(0) != title) continue;
        for (int j = 0; j < group->childCount(); ++j)
            rows << group->child(j)->text(0) + QStringLiteral(": ") + group->child(j)->text(1);
    }
    return rows;
}

} // namespace

TEST_F(ProviderSettings, ReportNamesTheEngineTheAlgorithmsAndTheOwnCertificatesKey) {
    ProviderReport before = collectProviderReport();
    ASSERT_TRUE(before.engine.loaded) << before.engine.error;
    EXPECT_EQ(before.engine.id, "gost");
    EXPECT_FALSE(before.engine.name.empty());
    EXPECT_TRUE(before.engine.module.ends_with("gost.so")) << before.engine.module;
    EXPECT_TRUE(before.engine.opensslVersion.starts_with("OpenSSL 3")) << before.engine.opensslVersion;
    EXPECT_TRUE(before.providerName.starts_with("Kelvoria"));
    EXPECT_TRUE(before.algorithmsFixed);
    ASSERT_EQ(before.algorithms.size(), 7u);
    EXPECT_STREQ(before.algorithms[0].setting, "HashAlgOid");
    EXPECT_EQ(before.algorithms[0].value, "1.2.643.2.2.9");
    EXPECT_EQ(before.algorithms[0].name, "ГОСТ Р 34.11-94"_w);
    EXPECT_EQ(before.algorithms[2].name, "ГОСТ 28147-89"_w);
    EXPECT_EQ(before.algorithms[6].value, "0x801F");
    EXPECT_FALSE(before.own.remembered);
    EXPECT_TRUE(before.storesRoot.ends_with("certstores"));
    ASSERT_NE(store(before, "CurrentUser", "MY"), nullptr);

    rememberOwn(KeyAlg::Gost2012_256, "Оператор Тестовый");
    ProviderReport report = collectProviderReport();
    EXPECT_TRUE(report.own.remembered);
    EXPECT_TRUE(report.own.found);
    EXPECT_NE(report.own.subject.find("Оператор Тестовый"_w), std::string::npos) << report.own.subject;
    EXPECT_NE(report.own.issuer.find("Провайдер УЦ"_w), std::string::npos);
    EXPECT_FALSE(report.own.serial.empty());
    EXPECT_EQ(report.own.keyAlgorithm, "ГОСТ Р 34.10-2012, 256 бит (1.2.643.7.1.1.1.1)"_w);
    EXPECT_NE(report.own.keyParameters.find("набор параметров"_w), std::string::npos) << report.own.keyParameters;
    EXPECT_EQ(report.own.hashAlgorithm, "ГОСТ Р 34.11-2012, 256 бит (1.2.643.7.1.1.2.2)"_w);
    EXPECT_TRUE(report.own.hasPrivateKey);
    EXPECT_GT(report.own.notAfter, time(nullptr));
    const StoreInfo *my = store(report, "CurrentUser", "MY");
    ASSERT_NE(my, nullptr);
    EXPECT_EQ(my->certificates, 1u);
    EXPECT_EQ(my->privateKeys, 1u);

    // A GOST R 34.10-2001 key is signed with the GOST R 34.11-94 hash.
    rememberOwn(KeyAlg::Gost2001, "Оператор 2001");
    report = collectProviderReport();
    EXPECT_EQ(report.own.keyAlgorithm, "ГОСТ Р 34.10-2001 (1.2.643.2.2.19)"_w);
    EXPECT_EQ(report.own.hashAlgorithm, "ГОСТ Р 34.11-94 (1.2.643.2.2.9)"_w);
    EXPECT_EQ(store(report, "CurrentUser", "MY")->certificates, 2u);

    // Remembered but removed from the store.
    auto personal = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "MY");
    for (const crypto::CertPtr &cert : personal->certificates()) personal->remove(*cert);
    report = collectProviderReport();
    EXPECT_TRUE(report.own.remembered);
    EXPECT_FALSE(report.own.found);
}

TEST_F(ProviderSettings, WindowShowsTheGroupsAndForgetsTheOwnCertificate) {
    rememberOwn(KeyAlg::Gost2012_256, "Оператор Окна");
    CProviderSettingsDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Настройка СКЗИ"));
    const QStringList engine = groupRows(*dialog.reportView(), QStringLiteral("Криптопровайдер"));
    EXPECT_TRUE(engine.filter(QStringLiteral("Файл модуля: ")).join(QString()).endsWith(QStringLiteral("gost.so")))
        << engine.join(QStringLiteral("\n")).toStdString();
    const QStringList own = groupRows(*dialog.reportView(), QStringLiteral("Сертификат оператора"));
    EXPECT_TRUE(own.join(QStringLiteral("\n")).contains(QStringLiteral("Владелец: ")));
    EXPECT_TRUE(own.join(QStringLiteral("\n")).contains(QStringLiteral("Оператор Окна")));
    EXPECT_TRUE(own.contains(QStringLiteral("Закрытый ключ: да")));
    EXPECT_TRUE(groupRows(*dialog.reportView(), QStringLiteral("Алгоритмы"))
                    .contains(QStringLiteral("EncryptAlgOid: 1.2.643.2.2.21 — ГОСТ 28147-89")));
    EXPECT_FALSE(groupRows(*dialog.reportView(), QStringLiteral("Хранилища сертификатов"))
                     .filter(QStringLiteral("CurrentUser\\MY: сертификатов: 1, закрытых ключей: 1"))
                     .isEmpty());

    ASSERT_TRUE(dialog.forgetButton()->isEnabled());
    dialog.forgetButton()->click();
    EXPECT_EQ(dialog.statusLine()->text(), QStringLiteral("Выбор сертификата оператора забыт: он будет предложен заново."));
    QZ_DWORD length = 64;
    char buffer[64];
    EXPECT_NE(QZ_GetKeyBinary(ownKey().c_str(), "CertSerialNumber", buffer, &length, 1), 0);
    EXPECT_NE(QZ_GetKeyBinary(ownKey().c_str(), "CertIssuer", buffer, &length, 1), 0);
    EXPECT_FALSE(dialog.forgetButton()->isEnabled());
    EXPECT_TRUE(groupRows(*dialog.reportView(), QStringLiteral("Сертификат оператора"))
                    .first()
                    .startsWith(QStringLiteral("Выбор: не сделан")));

    // A store that cannot be written keeps the choice and says so.
    rememberOwn(KeyAlg::Gost2012_256, "Оператор Окна");
    QZ_Finalize();
    ::setenv("TARMIN_REGISTRY_READONLY", "1", 1);
    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", "provider", QZ_VERSION), 0);
    {
        CProviderSettingsDlg readOnly;
        readOnly.forgetButton()->click();
        EXPECT_EQ(readOnly.statusLine()->text(),
                  QStringLiteral("Настройки не изменены: хранилище настроек недоступно для записи."));
        EXPECT_TRUE(collectProviderReport().own.remembered);
    }
    QZ_Finalize();
    ::unsetenv("TARMIN_REGISTRY_READONLY");
    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", "provider", QZ_VERSION), 0);
}
