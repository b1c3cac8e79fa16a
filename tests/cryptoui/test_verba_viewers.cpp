// The viewers of the client's certificate and revocation-list records: the
// records filled from the certificates and the list of a tmncert PKI, every
// label of both pages, the printout written byte for byte, and the two file
// messages (a file that does not open, a write that fails).
#include "common/codepage.h"
#include "include/qzcom.h"
#include "include/qzvoui.h"
#include "operator_hook.h"
#include "platform/crypto/certificate.h"
#include "platform/faults.h"
#include "tests/capi/capi_test_support.h"

#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <sys/stat.h>

using namespace tarmin::test;
using namespace tarmin::cp::literals;
using tarmin::qzvoui::fromCp1251;

namespace {

struct CertFree {
    void operator()(TMN_VERBA_CERT *r) const { TMN_UIVerbaFreeCert(r); }
};
struct CrlFree {
    void operator()(TMN_VERBA_CRL *r) const { TMN_UIVerbaFreeCrl(r); }
};
using CertRecord = std::unique_ptr<TMN_VERBA_CERT, CertFree>;
using CrlRecord = std::unique_ptr<TMN_VERBA_CRL, CrlFree>;

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

CertRecord certRecord(const std::string &der) {
    TMN_VERBA_CERT *r = nullptr;
    EXPECT_EQ(TMN_UIVerbaCertFromDer(bytes(der), static_cast<uint32_t>(der.size()), &r), 0);
    return CertRecord(r);
}

QZ_FILETIME fileTime(time_t t) {
    QZ_FILETIME ft{};
    QZ_TimeToFileTime(t, &ft);
    return ft;
}

std::string text(const char *s) { return s ? s : ""; }

// The e-mail entries of a record as "type:address".
std::vector<std::string> emails(const TMN_VERBA_CERT &r) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < r.EmailCount; ++i) out.push_back(text(r.Emails[i].Type) + ":" + text(r.Emails[i].Address));
    return out;
}

// Field rows of the "Состав" page.
std::vector<std::pair<QString, QString>> fieldRows(QDialog &d) {
    std::vector<std::pair<QString, QString>> out;
    auto *t = d.findChild<QTableWidget *>(QStringLiteral("fields"));
    for (int r = 0; t && r < t->rowCount(); ++r) out.emplace_back(t->item(r, 0)->text(), t->item(r, 1)->text());
    return out;
}

QStringList labelTexts(QDialog &d) {
    QStringList out;
    for (auto *l : d.findChildren<QLabel *>()) out << l->text();
    return out;
}

QString valueOf(QDialog &d, const char *name) {
    auto *l = d.findChild<QLabel *>(QString::fromLatin1(name));
    return l ? l->text() : QStringLiteral("<none>");
}

void click(QDialog &d, const char *name) { d.findChild<QPushButton *>(QString::fromLatin1(name))->click(); }

class VerbaViewers : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pki_ = new Pki(make_pki()); }
    static const Pki &pki() { return *pki_; }
    static Pki *pki_;
    std::filesystem::path dir = make_temp_dir("printout");

    // 2026-01-05 10:01:02 UTC, and a year and two years later.
    static constexpr time_t kStart = 1767607262;
    // A record with every field, values fixed for the printout.
    struct Sample {
        TMN_VERBA_EMAIL mails[2] = {{const_cast<char *>("SMTP"), const_cast<char *>("ivanov@bank.example")},
                                    {const_cast<char *>("NOTES"), const_cast<char *>("CN=Ivanov/O=Bank")}};
        unsigned char key[4] = {0x04, 0x40, 0xAB, 0xCD};
        unsigned char signature[3] = {0x12, 0x34, 0x56};
        std::string owner = "Иванов Иван Иванович"_w;
        TMN_VERBA_CERT cert{};
        Sample() {
            cert.Version = 3;
            cert.Algorithm = 0x2E49;
            cert.Owner = owner.data();
            cert.OwnerSerial = const_cast<char *>("01A2 B3C4 ");
            cert.IssuerSerial = const_cast<char *>("0F0E 0D0C ");
            cert.Times[TMN_VERBA_TIME_START] = fileTime(kStart);
            cert.Times[TMN_VERBA_TIME_KEY_END] = fileTime(kStart + 365 * 86400);
            cert.Times[TMN_VERBA_TIME_CERT_END] = fileTime(kStart + 730 * 86400);
            cert.EmailCount = 2;
            cert.Emails = mails;
            cert.PublicKey = key;
            cert.PublicKeyLength = 4;
            cert.AuthAlias = const_cast<char *>("ivanov-and-more");
            cert.AuthAliasLength = 6;
            cert.WebAccess = 1;
            cert.Signature = signature;
            cert.SignatureLength = 3;
            cert.GatewayType = const_cast<char *>("SMTP");
            cert.GatewayAddress = const_cast<char *>("gw@bank.example");
        }
    };
};
Pki *VerbaViewers::pki_ = nullptr;

TEST_F(VerbaViewers, RecordsFromStoreCertificatesCarryTheirFields) {
    auto op = tarmin::crypto::Certificate::from_der(pki().der("operator").data(), pki().der("operator").size());
    ASSERT_TRUE(op);
    CertRecord r = certRecord(pki().der("operator"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Version, 3);
    EXPECT_EQ(r->Algorithm, 0x2E49);
    EXPECT_EQ(text(r->Owner), op->subject_name());
    EXPECT_EQ(text(r->OwnerSerial), op->serial_hex());
    EXPECT_EQ(emails(*r), (std::vector<std::string>{"SMTP:operator@tarmin.test"})) << "the subject's address is listed once";
    EXPECT_EQ(std::string(r->AuthAlias, r->AuthAliasLength), "Оператор шлюза"_w);
    const QZ_FILETIME from = fileTime(op->not_before()), to = fileTime(op->not_after());
    EXPECT_EQ(r->Times[TMN_VERBA_TIME_START].dwLowDateTime, from.dwLowDateTime);
    EXPECT_EQ(r->Times[TMN_VERBA_TIME_CERT_END].dwHighDateTime, to.dwHighDateTime);
    EXPECT_EQ(r->Times[TMN_VERBA_TIME_KEY_END].dwLowDateTime, to.dwLowDateTime) << "no key usage period: the certificate's end";
    EXPECT_EQ(r->PublicKeyLength, 66u) << "a 256-bit key as an octet string";
    EXPECT_EQ(r->SignatureLength, 64u);
    EXPECT_EQ(r->WebAccess, 0);
    EXPECT_EQ(r->GatewayAddress, nullptr);

    // The issuer's serial is its key identifier: the CA's names the root's,
    // which the self-signed root names itself.
    CertRecord ca = certRecord(pki().der("ca")), root = certRecord(pki().der("root"));
    EXPECT_FALSE(text(root->IssuerSerial).empty());
    EXPECT_EQ(text(ca->IssuerSerial), text(root->IssuerSerial));
    EXPECT_NE(text(r->IssuerSerial), text(ca->IssuerSerial));

    CertRecord alice = certRecord(pki().der("alice"));
    EXPECT_EQ(emails(*alice), (std::vector<std::string>{"SMTP:alice@tarmin.test", "EX:/o=Tarmin/ou=Gateway/cn=Recipients/cn=alice",
                                                        "NOTES:CN=Alice Notes/O=Tarmin"}));
    CertRecord forward = certRecord(pki().der("forward"));
    EXPECT_EQ(text(forward->GatewayType) + ":" + text(forward->GatewayAddress), "SMTP:bob@tarmin.test");
    CertRecord op2001 = certRecord(read_file(pki().dir / "operator2001.cer"));
    EXPECT_EQ(op2001->Algorithm, 0x2E23);
}

TEST_F(VerbaViewers, BytesThatDoNotDecodeGiveNoRecord) {
    const std::string crl = read_file(pki().dir / "ca.crl"), cert = pki().der("operator");
    TMN_VERBA_CERT *c = reinterpret_cast<TMN_VERBA_CERT *>(1);
    TMN_VERBA_CRL *l = reinterpret_cast<TMN_VERBA_CRL *>(1);
    EXPECT_EQ(TMN_UIVerbaCertFromDer(bytes(crl), static_cast<uint32_t>(crl.size()), &c), -1);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(TMN_UIVerbaCertFromDer(bytes(cert), static_cast<uint32_t>(cert.size() - 1), &c), -1);
    EXPECT_EQ(TMN_UIVerbaCrlFromDer(bytes(cert), static_cast<uint32_t>(cert.size()), &l), -1);
    EXPECT_EQ(l, nullptr);
    EXPECT_EQ(TMN_UIVerbaCrlFromDer(nullptr, 10, &l), -1);
}

TEST_F(VerbaViewers, GeneralPageShowsEveryLabelAndTheAuthorityButton) {
    CertRecord op = certRecord(pki().der("operator")), ca = certRecord(pki().der("ca"));
    QString nestedOwner;
    bool nestedHasButton = true;
    Operator user({[&](QDialog &d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Сертификат"));
        auto *tabs = d.findChild<QTabWidget *>();
        EXPECT_EQ(tabs->tabText(0), QStringLiteral("Общие"));
        EXPECT_EQ(tabs->tabText(1), QStringLiteral("Состав"));
        const QStringList labels = labelTexts(d);
        for (const char *l : {"Сведения о сертификате", "Владелец:", "Серийный номер владельца:", "Серийный номер издателя:",
                              "Ключ действителен с:", "Ключ действителен по:", "Сертификат действителен с:",
                              "Сертификат действителен по:", "Список адресов электронной почты владельца:",
                              "Состав сертификата:"})
            EXPECT_TRUE(labels.contains(QString::fromUtf8(l))) << l;
        EXPECT_EQ(valueOf(d, "Owner"), fromCp1251(op->Owner));
        EXPECT_EQ(valueOf(d, "OwnerSerial"), fromCp1251(op->OwnerSerial));
        EXPECT_EQ(valueOf(d, "CertTo"), fromCp1251(tarmin::qzvoui::fileTimeText(op->Times[2].dwLowDateTime, op->Times[2].dwHighDateTime, 5)));
        auto *mails = d.findChild<QTreeWidget *>(QStringLiteral("emails"));
        EXPECT_EQ(mails->headerItem()->text(0), QStringLiteral("Тип"));
        EXPECT_EQ(mails->headerItem()->text(1), QStringLiteral("Адрес электронной почты"));
        EXPECT_EQ(mails->columnWidth(0), 40);
        EXPECT_EQ(mails->columnWidth(1), 300);
        EXPECT_EQ(mails->topLevelItemCount(), 1);
        EXPECT_EQ(mails->topLevelItem(0)->text(1), QStringLiteral("operator@tarmin.test"));
        auto *button = d.findChild<QPushButton *>(QStringLiteral("CaCert"));
        EXPECT_EQ(button->text(), QStringLiteral("Сертификат ЦС..."));
        EXPECT_FALSE(button->isHidden());
        button->click();
        click(d, "IDOK");
        return d.result();
    }});
    user.then([&](QDialog &d) {
        nestedOwner = valueOf(d, "Owner");
        nestedHasButton = !d.findChild<QPushButton *>(QStringLiteral("CaCert"))->isHidden();
        return QDialog::Rejected;
    });
    EXPECT_EQ(TMN_UIVerbaShowCert(ca.get(), op.get()), 1);
    EXPECT_EQ(nestedOwner, fromCp1251(ca->Owner));
    EXPECT_FALSE(nestedHasButton);

    // Without the authority's record there is no button; Cancel gives 2.
    bool hidden = false;
    Operator again({[&](QDialog &d) {
        hidden = d.findChild<QPushButton *>(QStringLiteral("CaCert"))->isHidden();
        click(d, "IDCANCEL");
        return d.result();
    }});
    EXPECT_EQ(TMN_UIVerbaShowCert(nullptr, op.get()), 2);
    EXPECT_TRUE(hidden);
    EXPECT_EQ(TMN_UIVerbaShowCert(ca.get(), nullptr), 2);
}

TEST_F(VerbaViewers, FieldsPageRowsAndPrintoutByteForByte) {
    Sample sample;
    std::vector<std::pair<QString, QString>> rows;
    const auto file = dir / "Иванов Иван Иванович.txt";
    QString proposed;
    Operator user({[&](QDialog &d) {
        rows = fieldRows(d);
        click(d, "Save");
        return QDialog::Accepted;
    }});
    user.then([&](QDialog &d) {
        auto &files = static_cast<QFileDialog &>(d);
        EXPECT_EQ(files.windowTitle(), QStringLiteral("Выбор файла для сохранения распечатки"));
        EXPECT_EQ(files.nameFilters(), QStringList{QStringLiteral("Файл распечатки (*.txt *.TXT)")});
        proposed = files.selectedFiles().value(0);
        return chooseFile(d, file);
    });
    EXPECT_EQ(TMN_UIVerbaShowCert(nullptr, &sample.cert), 1);
    EXPECT_TRUE(proposed.endsWith(QStringLiteral("/Иванов Иван Иванович.txt"))) << proposed.toStdString();
    const std::vector<std::pair<QString, QString>> expected{
        {"Версия", "3"},
        {"Алгоритм", "11849"},
        {"Серийный номер", "01A2 B3C4 "},
        {"Владелец", "Иванов Иван Иванович"},
        {"Серийный номер издателя", "0F0E 0D0C "},
        {"Действителен с", "05.01.2026 10:01:02"},
        {"Действителен по", "05.01.2028 10:01:02"},
        {"Адреса электронной почты", "SMTP:ivanov@bank.example\u00A0NOTES:CN=Ivanov/O=Bank\u00A0"},
        {"Адрес шлюза", "SMTP:gw@bank.example"},
        {"Ключ действителен с", "05.01.2026 10:01:02"},
        {"Ключ действителен по", "05.01.2027 10:01:02"},
        {"Открытый ключ ЭП", "04 40 AB CD"},
        {"Подпись издателя", "12 34 56"},
        {"Псевдоним аутентификации", "ivanov"},
        {"Доступ к защищенным файлам WEB сервера", "Разрешен"},
    };
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(read_file(file), read_file(source_dir() / "tests/cryptoui/expected/verba_cert_printout.txt"));

    // Without alias and gateway address their rows and line are left out.
    sample.cert.AuthAlias = nullptr;
    sample.cert.GatewayAddress = nullptr;
    sample.cert.WebAccess = 0;
    Operator second({[&](QDialog &d) {
        rows = fieldRows(d);
        click(d, "Print");
        return QDialog::Accepted;
    }});
    second.then(chooses(dir / "second.txt"));
    EXPECT_EQ(TMN_UIVerbaShowCert(nullptr, &sample.cert), 1);
    EXPECT_EQ(rows.size(), expected.size() - 2);
    EXPECT_EQ(rows.back(), std::make_pair(QStringLiteral("Доступ к защищенным файлам WEB сервера"), QStringLiteral("Запрещен")));
    const std::string printout = read_file(dir / "second.txt");
    EXPECT_EQ(printout.find("Псевдоним"_w), std::string::npos);
    EXPECT_NE(printout.find("    Доступ к защищенным файлам WEB сервера: Запрещен\n"_w), std::string::npos);
}

TEST_F(VerbaViewers, AFileThatDoesNotOpenOrAWriteThatFailsIsTold) {
    Sample sample;
    // A link into a directory that does not exist: opening it fails.
    const auto dangling = dir / "dangling.txt";
    std::filesystem::create_symlink(dir / "missing" / "out.txt", dangling);
    const auto full = dir / "full.txt";
    const auto pipe = dir / "pipe.txt";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const struct {
        std::filesystem::path path;
        bool failWrite;
        const char *message;
    } cases[] = {
        {dangling, false, "Ошибка открытия файла %1"},
        {pipe, false, "Ошибка открытия файла %1"}, // never waits for a reader
        {full, true, "Ошибка записи в файл %1"},
    };
    for (const auto &c : cases) {
        std::unique_ptr<tarmin::platform::ScopedFault> fault;
        if (c.failWrite) fault = std::make_unique<tarmin::platform::ScopedFault>(tarmin::platform::FaultPoint::write, ENOSPC);
        Operator user({[](QDialog &d) {
            click(d, "Save");
            return QDialog::Rejected;
        }});
        user.then(chooses(c.path));
        EXPECT_EQ(TMN_UIVerbaShowCert(nullptr, &sample.cert), 2);
        ASSERT_FALSE(user.boxes.empty()) << c.path;
        const auto &box = user.boxes.back();
        EXPECT_EQ(box.text, QString::fromUtf8(c.message).arg(QString::fromStdString(c.path.string())));
        EXPECT_EQ(box.flags & 0xF0u, TMN_MB_ICONERROR);
    }
}

TEST_F(VerbaViewers, RevocationListPagesAndPrintout) {
    const std::string der = read_file(pki().dir / "ca.crl");
    TMN_VERBA_CRL *raw = nullptr;
    ASSERT_EQ(TMN_UIVerbaCrlFromDer(bytes(der), static_cast<uint32_t>(der.size()), &raw), 0);
    CrlRecord crl(raw);
    auto revoked = tarmin::crypto::Certificate::from_der(pki().der("revoked").data(), pki().der("revoked").size());
    auto ca = tarmin::crypto::Certificate::from_der(pki().der("ca").data(), pki().der("ca").size());
    EXPECT_EQ(crl->Version, 2);
    EXPECT_EQ(crl->Algorithm, 0x2E49);
    EXPECT_EQ(text(crl->Issuer), ca->subject_name());
    ASSERT_EQ(crl->RevokedCount, 1);
    EXPECT_EQ(text(crl->RevokedSerials[0]), revoked->serial_hex());

    Operator user({[&](QDialog &d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Список отозванных сертификатов"));
        const QStringList labels = labelTexts(d);
        for (const char *l : {"Сведения о списке отозванных сертификатов", "Издатель:", "Вступает в силу:",
                              "Всего отозвано сертификатов:", "Состав списка отозванных сертификатов:"})
            EXPECT_TRUE(labels.contains(QString::fromUtf8(l))) << l;
        EXPECT_EQ(valueOf(d, "Issuer"), fromCp1251(crl->Issuer));
        EXPECT_TRUE(d.findChild<QLabel *>(QStringLiteral("NextUpdate"))->isHidden());
        EXPECT_EQ(valueOf(d, "Count"), QStringLiteral("1"));
        auto *serials = d.findChild<QTreeWidget *>(QStringLiteral("serials"));
        EXPECT_EQ(serials->headerItem()->text(0), QStringLiteral("Серийный номер сертификата"));
        EXPECT_EQ(serials->columnWidth(0), 340);
        EXPECT_EQ(serials->topLevelItem(0)->text(0), fromCp1251(crl->RevokedSerials[0]));
        auto rows = fieldRows(d);
        std::vector<QString> names;
        for (auto &r : rows) names.push_back(r.first);
        EXPECT_EQ(names, (std::vector<QString>{"Версия", "Алгоритм", "Серийный номер издателя", "Действителен с", "Подпись издателя"}));
        EXPECT_EQ(d.findChild<QTableWidget *>(QStringLiteral("fields"))->columnWidth(0), 170);
        return QDialog::Accepted;
    }});
    EXPECT_EQ(TMN_UIVerbaShowCrl(crl.get(), crl->RevokedSerials, crl->RevokedCount), 1);

    // The printout of a record with fixed values.
    unsigned char signature[] = {0x9A, 0xBC};
    TMN_VERBA_CRL fixed{};
    fixed.Version = 2;
    fixed.Algorithm = 0x2E43;
    fixed.Issuer = const_cast<char *>("CN=CA");
    fixed.IssuerSerial = const_cast<char *>("0F0E 0D0C ");
    fixed.Time = fileTime(kStart);
    fixed.Signature = signature;
    fixed.SignatureLength = 2;
    const char *serials[] = {"01 ", "02 "};
    QString count;
    Operator print({[&](QDialog &d) {
        count = valueOf(d, "Count");
        click(d, "Print");
        return QDialog::Rejected;
    }});
    print.then(chooses(dir / "crl.txt"));
    EXPECT_EQ(TMN_UIVerbaShowCrl(&fixed, serials, 2), 2);
    EXPECT_EQ(count, QStringLiteral("2"));
    EXPECT_EQ(read_file(dir / "crl.txt"), read_file(source_dir() / "tests/cryptoui/expected/verba_crl_printout.txt"));
    EXPECT_EQ(TMN_UIVerbaShowCrl(&fixed, nullptr, 2), 2) << "serials missing";
    EXPECT_EQ(print.dialogs.size(), 2u);
}

} // namespace
