// The certificate and revocation-list viewers that stand in for the system's:
// what they show of a GOST certificate and CRL made by the openssl command
// line, and that bytes which are neither show nothing.
#include "cryptoui/ui_session.h"
#include "include/qzvoui.h"
#include "testsupport.h"

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableWidget>

#include <functional>

#include <gtest/gtest.h>

using namespace tarmin::test;

namespace {

// Looks at each dialog instead of the operator, then closes it.
class Inspector : public tarmin::qzvoui::UiHook {
public:
    explicit Inspector(std::function<void(QDialog &)> look) : look_(std::move(look)) {
        previous_ = tarmin::qzvoui::setUiHook(this);
    }
    ~Inspector() override { tarmin::qzvoui::setUiHook(previous_); }
    int runDialog(QDialog &dialog) override {
        ++dialogs;
        look_(dialog);
        return QDialog::Rejected;
    }
    int messageBox(const QString &, const QString &, uint32_t) override { return 1; }
    int dialogs = 0;

private:
    std::function<void(QDialog &)> look_;
    tarmin::qzvoui::UiHook *previous_ = nullptr;
};

int openssl(const std::vector<std::string> &args) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string err;
    int rc = run(argv, nullptr, &err);
    EXPECT_EQ(rc, 0) << err;
    return rc;
}

class Viewers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new std::filesystem::path(make_temp_dir("viewers"));
        auto p = [](const char *name) { return (*dir_ / name).string(); };
        openssl({"req", "-engine", "gost", "-x509", "-newkey", "gost2012_256", "-pkeyopt", "paramset:A", "-nodes",
                 "-keyout", p("ca.key"), "-utf8", "-subj", "/C=RU/O=Test/CN=Тестовый УЦ", "-days", "30", "-addext",
                 "subjectAltName=email:ca@test.ru,otherName:1.3.6.1.4.1.3670.4.21;UTF8:/o=Test/cn=ca", "-addext",
                 "keyUsage=critical,digitalSignature,keyCertSign,cRLSign", "-out", p("ca.pem")});
        openssl({"x509", "-in", p("ca.pem"), "-outform", "DER", "-out", p("ca.der")});
        write_file(*dir_ / "index.txt", "R\t301231000000Z\t250101000000Z\t0A1B\tunknown\t/CN=x\n"
                                        "R\t301231000000Z\t250101000000Z\t01020304\tunknown\t/CN=y\n");
        write_file(*dir_ / "ca.cnf", "[ca]\ndefault_ca=c\n[c]\ndatabase=" + p("index.txt") +
                                         "\ndefault_md=md_gost12_256\ndefault_crl_days=30\n");
        openssl({"ca", "-engine", "gost", "-config", p("ca.cnf"), "-gencrl", "-keyfile", p("ca.key"), "-cert",
                 p("ca.pem"), "-out", p("crl.pem")});
        openssl({"crl", "-in", p("crl.pem"), "-outform", "DER", "-out", p("crl.der")});
    }
    static std::string bytes(const char *name) { return read_file(*dir_ / name); }
    static const unsigned char *data(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

    static std::map<QString, QString> fields(QDialog &d) {
        std::map<QString, QString> out;
        auto *t = d.findChild<QTableWidget *>(QStringLiteral("fields"));
        for (int r = 0; t && r < t->rowCount(); ++r) out[t->item(r, 0)->text()] = t->item(r, 1)->text();
        return out;
    }
    static QStringList labels(QDialog &d) {
        QStringList out;
        for (auto *l : d.findChildren<QLabel *>()) out << l->text();
        return out;
    }
    static std::filesystem::path *dir_;
};
std::filesystem::path *Viewers::dir_ = nullptr;

TEST_F(Viewers, CertificateViewerShowsNamesUsageAndEveryField) {
    std::string der = bytes("ca.der");
    Inspector look([&](QDialog &d) {
        EXPECT_EQ(d.objectName(), QStringLiteral("CertificateViewer"));
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Сертификат"));
        auto *tabs = d.findChild<QTabWidget *>();
        ASSERT_NE(tabs, nullptr);
        EXPECT_EQ(tabs->tabText(0), QStringLiteral("Общие"));
        EXPECT_EQ(tabs->tabText(1), QStringLiteral("Состав"));
        QStringList l = labels(d);
        EXPECT_TRUE(l.contains(QStringLiteral("CN=Тестовый УЦ, O=Test, C=RU"))) << l.join('|').toStdString();
        EXPECT_TRUE(l.contains(QStringLiteral("ca@test.ru")));
        auto f = fields(d);
        EXPECT_EQ(f[QStringLiteral("Версия")], QStringLiteral("3"));
        EXPECT_EQ(f[QStringLiteral("Алгоритм подписи")], QStringLiteral("1.2.643.7.1.1.3.2"));
        EXPECT_EQ(f[QStringLiteral("Алгоритм открытого ключа")], QStringLiteral("1.2.643.7.1.1.1.1"));
        EXPECT_TRUE(f[QStringLiteral("Использование ключа")].startsWith(QStringLiteral("Цифровая подпись, Подписывание сертификатов, Подписывание списков отзыва")))
            << f[QStringLiteral("Использование ключа")].toStdString();
        EXPECT_EQ(f[QStringLiteral("Другое имя (1.3.6.1.4.1.3670.4.21)")], QStringLiteral("/o=Test/cn=ca"));
        // The box below shows the value of the selected field.
        auto *table = d.findChild<QTableWidget *>(QStringLiteral("fields"));
        table->setCurrentCell(3, 0);
        EXPECT_EQ(d.findChild<QPlainTextEdit *>(QStringLiteral("value"))->toPlainText(), table->item(3, 1)->text());
    });
    EXPECT_EQ(TMN_UIViewCertificate(data(der), static_cast<uint32_t>(der.size()),
                                    TMN_VIEW_DISABLE_EDITPROPERTIES | TMN_VIEW_DISABLE_ADDTOSTORE),
              1);
    EXPECT_EQ(look.dialogs, 1);
}

TEST_F(Viewers, RevocationListViewerListsTheRevokedSerials) {
    std::string der = bytes("crl.der");
    Inspector look([&](QDialog &d) {
        EXPECT_EQ(d.objectName(), QStringLiteral("CrlViewer"));
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Список отозванных сертификатов"));
        auto *serials = d.findChild<QListWidget *>(QStringLiteral("serials"));
        ASSERT_NE(serials, nullptr);
        ASSERT_EQ(serials->count(), 2);
        EXPECT_EQ(serials->item(0)->text(), QStringLiteral("0A1B "));
        EXPECT_EQ(serials->item(1)->text(), QStringLiteral("0102 0304 "));
        QStringList l = labels(d);
        EXPECT_TRUE(l.contains(QStringLiteral("2")));
        EXPECT_TRUE(l.contains(QStringLiteral("CN=Тестовый УЦ, O=Test, C=RU")));
        // A list without extensions is of version 1.
        EXPECT_EQ(fields(d)[QStringLiteral("Версия")], QStringLiteral("1"));
    });
    EXPECT_EQ(TMN_UIViewCrl(data(der), static_cast<uint32_t>(der.size())), 1);
    EXPECT_EQ(look.dialogs, 1);
}

TEST_F(Viewers, BytesThatAreNeitherShowNothing) {
    Inspector look([](QDialog &) {});
    std::string cert = bytes("ca.der"), crl = bytes("crl.der");
    EXPECT_EQ(TMN_UIViewCertificate(data(crl), static_cast<uint32_t>(crl.size()), 0), 0);
    EXPECT_EQ(TMN_UIViewCrl(data(cert), static_cast<uint32_t>(cert.size())), 0);
    EXPECT_EQ(TMN_UIViewCertificate(data(cert), static_cast<uint32_t>(cert.size() - 1), 0), 0);
    EXPECT_EQ(TMN_UIViewCertificate(nullptr, 10, 0), 0);
    EXPECT_EQ(TMN_UIViewCrl(data(crl), 0), 0);
    EXPECT_EQ(look.dialogs, 0);
}

} // namespace
