// The certificate manager: its model over the stores of a tmncert PKI (lists,
// the e-mail protection filter, import of DER, PEM and PKCS #12 files,
// export, deletion, revocation lists, the own certificate written as tmncert
// writes it), and its window worked as an operator would, offscreen.
#include "common/codepage.h"
#include "include/tmnui.h"
#include "platform/crypto/store.h"
#include "tests/capi/capi_test_support.h"
#include "tests/cryptoui/operator_hook.h"
#include "tests/platform/crypto/crypto_test_util.h"
#include "ui/manager/CertManagerModel.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <optional>

#include <sys/stat.h>

using namespace tarmin::test;
using namespace tarmin::tmnui;
using namespace tarmin::cp::literals;
using tarmin::crypto::StoreLocation;

namespace {

const char *const kPassword = "Пароль-2026";

bool listed(const std::vector<CertRow> &rows, const std::string &thumbprint) {
    for (const CertRow &r : rows)
        if (r.thumbprint == thumbprint) return true;
    return false;
}

std::optional<CertRow> rowOf(const std::vector<CertRow> &rows, const std::string &thumbprint) {
    for (const CertRow &r : rows)
        if (r.thumbprint == thumbprint) return r;
    return std::nullopt;
}

std::string joined(const Outcome &o) {
    std::string s;
    for (const auto &l : o.lines) s += tarmin::cp::cp1251_to_utf8(l) + "\n";
    return s;
}

std::string ownValue(const char *name) {
    unsigned char buffer[QZ_MAX_BINARY];
    QZ_DWORD length = sizeof buffer;
    if (QZ_GetKeyBinary(CertManagerModel::ownCertificateKey().c_str(), name, buffer, &length, 0) != 0) return {};
    return std::string(reinterpret_cast<char *>(buffer), length);
}

// A password source that answers once with the given text (or cancels).
struct Answer {
    std::string text;
    bool give = true;
    int asked = 0;
    CertManagerModel::PasswordSource source() {
        return [this](std::string &out) {
            ++asked;
            out = text;
            return give;
        };
    }
};

class CertManager : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        init_product();
        pki_ = new Pki(make_pki());
        dir_ = new std::filesystem::path(make_temp_dir("manager"));
        // Certificates of no store: one for web servers only, one for e-mail
        // protection, and a key pair made by the openssl command line.
        using tarmin::test::crypto::openssl;
        auto selfSigned = [](const std::string &name, const std::string &purpose) {
            std::string err;
            EXPECT_EQ(openssl({"req", "-x509", "-newkey", "gost2012_256", "-pkeyopt", "paramset:A", "-nodes", "-keyout",
                               (*dir_ / (name + ".key")).string(), "-out", (*dir_ / (name + ".pem")).string(), "-subj",
                               "/CN=" + name, "-days", "30", "-addext", "extendedKeyUsage=" + purpose},
                              nullptr, &err),
                      0)
                << err;
        };
        selfSigned("web", "serverAuth");
        selfSigned("mail", "emailProtection");
    }
    static const Pki &pki() { return *pki_; }
    static std::filesystem::path dir() { return *dir_; }
    static std::string thumbprintOf(const std::filesystem::path &pem) {
        return tarmin::test::crypto::load_cert(pem)->thumbprint();
    }
    static Pki *pki_;
    static std::filesystem::path *dir_;
    CertManagerModel model;
};
Pki *CertManager::pki_ = nullptr;
std::filesystem::path *CertManager::dir_ = nullptr;

TEST_F(CertManager, StoresListTheirCertificatesKeysAndRevocationLists) {
    const auto my = model.certificates("MY", true);
    for (const char *name : {"operator", "operator2001", "operator512"}) {
        const std::optional<CertRow> r = rowOf(my, pki().thumb.at(name));
        ASSERT_TRUE(r.has_value()) << name;
        EXPECT_TRUE(r->hasKey) << name;
    }
    const std::optional<CertRow> op = rowOf(my, pki().thumb.at("operator"));
    EXPECT_EQ(op->commonName, "Оператор шлюза"_w);
    EXPECT_EQ(op->email, "operator@tarmin.test");
    EXPECT_EQ(op->issuer, "Tarmin Test Issuing CA");
    EXPECT_LT(op->notBefore, op->notAfter);
    const auto book = model.certificates("AddressBook", true);
    EXPECT_TRUE(listed(book, pki().thumb.at("alice")));
    EXPECT_FALSE(rowOf(book, pki().thumb.at("alice")).value().hasKey);
    EXPECT_TRUE(listed(model.certificates("Root", true), pki().thumb.at("root")));
    EXPECT_TRUE(listed(model.certificates("CA", true), pki().thumb.at("ca")));
    const auto crls = model.revocationLists();
    ASSERT_EQ(crls.size(), 1u);
    EXPECT_EQ(crls[0].revoked, 1u);
    EXPECT_TRUE(model.certificates("NoSuchStore", true).empty());
}

TEST_F(CertManager, OnlyCertificatesForEmailProtectionUnlessAllAreAsked) {
    Answer none;
    for (const char *name : {"web", "mail"})
        ASSERT_TRUE(model.importFile("AddressBook", read_file(dir() / (std::string(name) + ".pem")), none.source()).ok);
    const std::string web = thumbprintOf(dir() / "web.pem"), mail = thumbprintOf(dir() / "mail.pem");
    EXPECT_FALSE(listed(model.certificates("AddressBook", true), web));
    EXPECT_TRUE(listed(model.certificates("AddressBook", true), mail));
    EXPECT_TRUE(listed(model.certificates("AddressBook", false), web));
    EXPECT_FALSE(rowOf(model.certificates("AddressBook", false), web).value().emailProtection);
    EXPECT_EQ(none.asked, 0);
    for (const auto &t : {web, mail}) EXPECT_TRUE(model.removeCertificate("AddressBook", t).ok);
}

TEST_F(CertManager, ImportOfEachKindOfFile) {
    const std::string mail = thumbprintOf(dir() / "mail.pem");
    const std::string pemBundle = read_file(dir() / "mail.pem") + read_file(dir() / "mail.key");
    const std::string der = [&] {
        auto c = tarmin::test::crypto::load_cert(dir() / "mail.pem");
        return std::string(c->der().begin(), c->der().end());
    }();
    struct Case {
        const char *what;
        std::string bytes;
        std::string store;     // where the certificate must land
        bool withKey;
    };
    const Case cases[] = {
        {"DER into the chosen store", der, "AddressBook", false},
        {"PEM without key into the chosen store", read_file(dir() / "mail.pem"), "Root", false},
        {"PEM with its key into MY", pemBundle, "MY", true},
    };
    for (const Case &c : cases) {
        Answer none;
        const Outcome o = model.importFile(c.store == "MY" ? "AddressBook" : c.store, c.bytes, none.source());
        EXPECT_TRUE(o.ok) << c.what << "\n" << joined(o);
        const std::optional<CertRow> r = rowOf(model.certificates(c.store, true), mail);
        ASSERT_TRUE(r.has_value()) << c.what;
        EXPECT_EQ(r->hasKey, c.withKey) << c.what;
        EXPECT_EQ(none.asked, 0) << c.what;
        EXPECT_TRUE(model.removeCertificate(c.store, mail).ok) << c.what;
        EXPECT_FALSE(listed(model.certificates(c.store, false), mail)) << c.what;
    }
    // Refused files write nothing.
    const size_t before = model.certificates("AddressBook", false).size();
    Answer none;
    const std::string strangerKey = read_file(dir() / "web.key");
    EXPECT_FALSE(model.importFile("AddressBook", read_file(dir() / "mail.pem") + strangerKey, none.source()).ok)
        << "a key of none of the file's certificates";
    EXPECT_FALSE(model.importFile("AddressBook", "not a certificate", none.source()).ok);
    EXPECT_FALSE(model.importFile("AddressBook", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n", none.source()).ok);
    EXPECT_EQ(model.certificates("AddressBook", false).size(), before);
    EXPECT_FALSE(listed(model.certificates("MY", false), mail));
}

TEST_F(CertManager, Pkcs12RoundTripWithItsPassword) {
    const std::string thumb = pki().thumb.at("operator512");
    const auto p12 = dir() / "op512.p12";
    EXPECT_TRUE(model.exportCertificate("MY", thumb, ExportFormat::pkcs12, p12.string(), "").lines.size() == 1);
    EXPECT_FALSE(std::filesystem::exists(p12)) << "an empty password protects nothing";
    const Outcome exported = model.exportCertificate("MY", thumb, ExportFormat::pkcs12, p12.string(), kPassword);
    ASSERT_TRUE(exported.ok) << joined(exported);
    struct stat st {};
    ASSERT_EQ(::stat(p12.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(model.removeCertificate("MY", thumb).ok);
    const std::string bytes = read_file(p12);

    Answer cancel{"", false};
    const Outcome withdrawn = model.importFile("AddressBook", bytes, cancel.source());
    EXPECT_TRUE(withdrawn.cancelled);
    EXPECT_EQ(cancel.asked, 1);
    Answer wrong{"wrong"};
    const Outcome refused = model.importFile("AddressBook", bytes, wrong.source());
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(joined(refused).find("неверный пароль"), std::string::npos) << joined(refused);
    EXPECT_FALSE(listed(model.certificates("MY", false), thumb));

    Answer right{kPassword};
    const Outcome imported = model.importFile("AddressBook", bytes, right.source());
    ASSERT_TRUE(imported.ok) << joined(imported);
    const std::optional<CertRow> r = rowOf(model.certificates("MY", true), thumb);
    ASSERT_TRUE(r.has_value()) << "a certificate with its key goes to MY";
    EXPECT_TRUE(r->hasKey);
    // tmncert reads the file the manager wrote.
    write_file(dir() / "pass.txt", std::string(kPassword) + "\n");
    run_tmncert({"import", "--store", "MY", "--password-file", (dir() / "pass.txt").string(), p12.string()});
}

TEST_F(CertManager, ExportWritesDerAndPemReplacingWhatStoodThere) {
    const std::string thumb = pki().thumb.at("alice");
    const auto der = dir() / "alice.cer", pem = dir() / "alice.pem";
    ASSERT_EQ(::mkfifo(der.c_str(), 0600), 0); // replaced, never written through
    EXPECT_TRUE(model.exportCertificate("AddressBook", thumb, ExportFormat::der, der.string(), "").ok);
    EXPECT_TRUE(std::filesystem::is_regular_file(der));
    EXPECT_EQ(read_file(der), pki().der("alice"));
    EXPECT_TRUE(model.exportCertificate("AddressBook", thumb, ExportFormat::pem, pem.string(), "").ok);
    EXPECT_EQ(read_file(pem).rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
    EXPECT_EQ(tarmin::test::crypto::load_cert(pem)->thumbprint(), thumb);
    EXPECT_FALSE(model.exportCertificate("AddressBook", thumb, ExportFormat::pkcs12, (dir() / "a.p12").string(), kPassword).ok)
        << "no key in the address book";
    EXPECT_FALSE(model.exportCertificate("AddressBook", "00", ExportFormat::der, der.string(), "").ok);
}

TEST_F(CertManager, RevocationListsAreRemovedAndAddedBack) {
    const std::string crl = read_file(pki().dir / "ca.crl");
    const std::string thumb = model.revocationLists().at(0).crl->thumbprint();
    EXPECT_TRUE(model.removeRevocationList(thumb).ok);
    EXPECT_TRUE(model.revocationLists().empty());
    EXPECT_FALSE(model.addRevocationList(pki().der("ca")).ok) << "a certificate is no revocation list";
    EXPECT_TRUE(model.addRevocationList(crl).ok);
    ASSERT_EQ(model.revocationLists().size(), 1u);
    EXPECT_EQ(model.revocationLists()[0].crl->thumbprint(), thumb);
}

TEST_F(CertManager, TheOwnCertificateIsWrittenAsTmncertWritesIt) {
    run_tmncert({"setmy", pki().thumb.at("operator2001")});
    const std::string serial = ownValue("CertSerialNumber"), issuer = ownValue("CertIssuer");
    ASSERT_FALSE(serial.empty());
    EXPECT_TRUE(rowOf(model.certificates("MY", true), pki().thumb.at("operator2001")).value().own);
    ASSERT_TRUE(model.setOwnCertificate(pki().thumb.at("operator")).ok);
    EXPECT_TRUE(rowOf(model.certificates("MY", true), pki().thumb.at("operator")).value().own);
    EXPECT_FALSE(rowOf(model.certificates("MY", true), pki().thumb.at("operator2001")).value().own);
    ASSERT_TRUE(model.setOwnCertificate(pki().thumb.at("operator2001")).ok);
    EXPECT_EQ(ownValue("CertSerialNumber"), serial);
    EXPECT_EQ(ownValue("CertIssuer"), issuer);
    EXPECT_FALSE(model.setOwnCertificate(pki().thumb.at("alice")).ok) << "not in MY";
}

// ---- The window ---------------------------------------------------------------

QTableWidget *tableOf(QDialog &d, const char *store) { return d.findChild<QTableWidget *>(QString::fromLatin1(store)); }
void showTab(QDialog &d, const char *store) { d.findChild<QTabWidget *>(QStringLiteral("Stores"))->setCurrentWidget(tableOf(d, store)); }
void press(QDialog &d, const char *name) { d.findChild<QPushButton *>(QString::fromLatin1(name))->click(); }
int rowNamed(QTableWidget *t, const QString &name) {
    for (int r = 0; r < t->rowCount(); ++r)
        if (t->item(r, 0)->text() == name) return r;
    return -1;
}

TEST_F(CertManager, WindowImportsAndDeletesAsTheOperatorAsks) {
    QStringList titles;
    int afterImport = -1, afterNo = -1, afterYes = -1;
    Operator user({[&](QDialog &d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Сертификаты"));
        auto *tabs = d.findChild<QTabWidget *>(QStringLiteral("Stores"));
        for (int i = 0; i < tabs->count(); ++i) titles << tabs->tabText(i);
        showTab(d, "AddressBook");
        press(d, "Import");
        QTableWidget *book = tableOf(d, "AddressBook");
        afterImport = rowNamed(book, QStringLiteral("mail"));
        book->selectRow(afterImport);
        press(d, "Delete"); // answered No
        afterNo = rowNamed(book, QStringLiteral("mail"));
        book->selectRow(afterNo);
        press(d, "Delete"); // answered Yes
        afterYes = rowNamed(book, QStringLiteral("mail"));
        return QDialog::Rejected;
    }});
    user.then(chooses(dir() / "mail.pem"));
    user.answer(TMN_IDOK);  // what was imported
    user.answer(TMN_IDNO);  // delete? no
    user.answer(TMN_IDYES); // delete? yes
    EXPECT_EQ(TMN_UIShowManager(), nullptr);
    EXPECT_EQ(titles, (QStringList{"Личные", "Другие пользователи", "Доверенные корневые центры сертификации",
                                   "Промежуточные центры сертификации", "Списки отзыва"}));
    EXPECT_EQ(user.dialogs, (std::vector<QString>{"CCertManagerDlg", "Open"}));
    ASSERT_EQ(user.boxes.size(), 3u);
    EXPECT_TRUE(user.boxes[0].text.contains(QStringLiteral("добавлен в хранилище \"Другие пользователи\""))) << user.boxes[0].text.toStdString();
    EXPECT_EQ(user.boxes[0].flags & 0xF0u, TMN_MB_ICONINFORMATION);
    EXPECT_TRUE(user.boxes[1].text.startsWith(QStringLiteral("Удалить сертификат \"mail\""))) << user.boxes[1].text.toStdString();
    EXPECT_EQ(user.boxes[1].flags & 0xFu, TMN_MB_YESNO);
    EXPECT_GE(afterImport, 0);
    EXPECT_GE(afterNo, 0) << "No keeps it";
    EXPECT_EQ(afterYes, -1) << "Yes deletes it";
    EXPECT_FALSE(listed(model.certificates("AddressBook", false), thumbprintOf(dir() / "mail.pem")));
}

TEST_F(CertManager, WindowAsksThePasswordOfAPkcs12FileAndSetsTheOwnCertificate) {
    const auto p12 = dir() / "op2001.p12";
    const std::string thumb = pki().thumb.at("operator2001");
    ASSERT_TRUE(model.exportCertificate("MY", thumb, ExportFormat::pkcs12, p12.string(), kPassword).ok);
    ASSERT_TRUE(model.removeCertificate("MY", thumb).ok);
    run_tmncert({"setmy", pki().thumb.at("operator")});
    QString keyColumn, ownColumn;
    bool setOwnEnabled = false;
    Operator user({[&](QDialog &d) {
        showTab(d, "MY");
        press(d, "Import");
        QTableWidget *my = tableOf(d, "MY");
        const int row = rowNamed(my, QStringLiteral("Operator 2001"));
        EXPECT_GE(row, 0);
        if (row < 0) return QDialog::Rejected;
        keyColumn = my->item(row, 5)->text();
        my->selectRow(row);
        setOwnEnabled = d.findChild<QPushButton *>(QStringLiteral("SetOwn"))->isEnabled();
        press(d, "SetOwn");
        ownColumn = my->item(rowNamed(my, QStringLiteral("Operator 2001")), 5)->text();
        // The certificate viewer on a double click.
        my->selectRow(rowNamed(my, QStringLiteral("Operator 2001")));
        press(d, "View");
        return QDialog::Rejected;
    }});
    user.then(chooses(p12));
    user.then([](QDialog &d) {
        EXPECT_EQ(d.objectName(), QStringLiteral("CPasswordDlg"));
        d.findChild<QLineEdit *>(QStringLiteral("Password"))->setText(QString::fromUtf8(kPassword));
        d.findChild<QPushButton *>(QStringLiteral("IDOK"))->click();
        return d.result();
    });
    user.then([](QDialog &) { return QDialog::Rejected; }); // the viewer
    EXPECT_EQ(TMN_UIShowManager(), nullptr);
    EXPECT_EQ(user.dialogs, (std::vector<QString>{"CCertManagerDlg", "Open", "CPasswordDlg", "CertificateViewer"}));
    EXPECT_EQ(keyColumn, QStringLiteral("есть"));
    EXPECT_TRUE(setOwnEnabled);
    EXPECT_EQ(ownColumn, QStringLiteral("есть, свой"));
    EXPECT_TRUE(rowOf(model.certificates("MY", true), thumb).value().own);
}

TEST_F(CertManager, WindowPurposeChoiceShowsEveryCertificate) {
    Answer none;
    ASSERT_TRUE(model.importFile("AddressBook", read_file(dir() / "web.pem"), none.source()).ok);
    int emailOnly = -2, all = -2;
    Operator user({[&](QDialog &d) {
        emailOnly = rowNamed(tableOf(d, "AddressBook"), QStringLiteral("web"));
        d.findChild<QComboBox *>(QStringLiteral("Purpose"))->setCurrentIndex(1);
        all = rowNamed(tableOf(d, "AddressBook"), QStringLiteral("web"));
        return QDialog::Rejected;
    }});
    TMN_UIShowManager();
    EXPECT_EQ(emailOnly, -1);
    EXPECT_GE(all, 0);
    EXPECT_TRUE(model.removeCertificate("AddressBook", thumbprintOf(dir() / "web.pem")).ok);
}

} // namespace
