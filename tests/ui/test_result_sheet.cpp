// The sheet of the result of processing a protected message, fed from the
// result of a message really encoded and decoded by tmnsmime (signed,
// encrypted, with a signed attachment), and from records made by hand: its
// two pages, the certificates shown through the S/MIME library, the details
// saved unchanged, and the records it refuses.
#include "include/tmnui.h"
#include "platform/faults.h"
#include "tests/cryptoui/operator_hook.h"
#include "tests/smime/decode_test_support.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include <cerrno>

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;
using tarmin::qzvoui::fromCp1251;

namespace {

QString text(QDialog &d, const char *name) {
    auto *l = d.findChild<QLabel *>(QString::fromLatin1(name));
    return l ? l->text() : QStringLiteral("<none>");
}
QString icon(QDialog &d, const char *name) { return d.findChild<QLabel *>(QString::fromLatin1(name))->property("icon").toString(); }
QWidget *widget(QDialog &d, const char *name) { return d.findChild<QWidget *>(QString::fromLatin1(name)); }
QPushButton *pushButton(QDialog &d, const char *name) { return d.findChild<QPushButton *>(QString::fromLatin1(name)); }
QTableWidget *signers(QDialog &d) { return d.findChild<QTableWidget *>(QStringLiteral("Signers")); }

// Records the subject shown by the certificate viewer of the system.
Operator::Act viewer(QStringList &shown) {
    return [&shown](QDialog &d) {
        EXPECT_EQ(d.objectName(), QStringLiteral("CertificateViewer"));
        QStringList labels;
        for (auto *l : d.findChildren<QLabel *>()) labels << l->text();
        shown << labels.join(QLatin1Char('|'));
        return QDialog::Rejected;
    };
}

class ResultSheet : public ::testing::Test {
protected:
    static void SetUpTestSuite() { suite_pki(); }
};

TEST_F(ResultSheet, ADecodedMessageShowsItsResultSignersAndDetails) {
    Session s;
    const std::string message =
        encode(s, MHA_SIGN | MHA_ENCRYPT,
               objects(start(), address(MHA_OBJ_FROM, "SMTP", "Оператор"_w, "operator@tarmin.test"),
                       address(MHA_OBJ_TO, "SMTP", "Алиса"_w, "alice@tarmin.test"), date(kSampleDate),
                       subject("Отчёт за декабрь"_w), body("Текст"_w), attachment("отчёт.txt"_w, sample_text(300)), end()));
    ASSERT_FALSE(message.empty()) << reports_text(take_reports());
    Decoded decoded = decode(s, message);
    ASSERT_EQ(decoded.rc, 0) << reports_text(take_reports());
    ASSERT_NE(decoded.result, nullptr);
    const MhaResult &m = *decoded.result;
    ASSERT_NE(m.AttachSigners, nullptr);
    ProcessResult r{};
    TMN_UIResultFromMha(&m, &r);

    const auto saved = make_temp_dir("result") / "result.txt";
    QStringList certificatesShown;
    bool showEnabledBefore = true, showEnabledAfter = false;
    Operator user({[&](QDialog &d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Результат разбора сообщения"));
        auto *tabs = d.findChild<QTabWidget *>();
        EXPECT_EQ(tabs->tabText(0), QStringLiteral("Общие"));
        EXPECT_EQ(tabs->tabText(1), QStringLiteral("Состав"));
        // General page.
        EXPECT_EQ(text(d, "DecryptResult"), QStringLiteral("OK"));
        EXPECT_EQ(icon(d, "DecryptIcon"), QString());
        EXPECT_FALSE(widget(d, "DecryptGroup")->isHidden());
        EXPECT_TRUE(widget(d, "EncryptorLine")->isHidden());
        EXPECT_EQ(text(d, "SignResult"), QStringLiteral("OK"));
        EXPECT_EQ(text(d, "SignerName"), fromCp1251(m.SignerName));
        EXPECT_TRUE(text(d, "SignerName").contains(QStringLiteral("Оператор шлюза")));
        EXPECT_EQ(text(d, "SignTime"),
                  fromCp1251(tarmin::qzvoui::timeText(static_cast<std::time_t>(m.CheckValue), 5)) + QStringLiteral(" GMT"));
        EXPECT_EQ(text(d, "From"), fromCp1251(m.FromText));
        EXPECT_TRUE(text(d, "From").contains(QStringLiteral("operator@tarmin.test")));
        EXPECT_EQ(text(d, "To"), fromCp1251(m.ToText));
        EXPECT_EQ(text(d, "Subject"), QStringLiteral("Отчёт за декабрь"));
        EXPECT_EQ(text(d, "Sent"), fromCp1251(m.DateText));
        pushButton(d, "SignCertButton")->click();
        // Details page.
        QTableWidget *list = signers(d);
        EXPECT_FALSE(list->isHidden());
        EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QStringLiteral("Результат проверки"));
        EXPECT_EQ(list->columnWidth(0), 120);
        EXPECT_EQ(list->rowCount(), 1);
        EXPECT_EQ(list->item(0, 0)->text(), QStringLiteral("OK"));
        EXPECT_EQ(list->item(0, 0)->data(Qt::UserRole).toString(), QStringLiteral("ok"));
        EXPECT_EQ(list->item(0, 1)->text(), fromCp1251(m.AttachSigners->SignerName));
        showEnabledBefore = pushButton(d, "ShowSignerCert")->isEnabled();
        list->selectRow(0);
        showEnabledAfter = pushButton(d, "ShowSignerCert")->isEnabled();
        pushButton(d, "ShowSignerCert")->click();
        emit list->cellDoubleClicked(0, 1);
        EXPECT_EQ(d.findChild<QPlainTextEdit *>(QStringLiteral("Details"))->toPlainText(),
                  fromCp1251(m.ResultDetail).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        pushButton(d, "SaveDetails")->click();
        pushButton(d, "IDOK")->click();
        return d.result();
    }});
    user.then(viewer(certificatesShown)); // the signer's button
    user.then(viewer(certificatesShown)); // the attachment signer's button
    user.then(viewer(certificatesShown)); // its row double-clicked
    user.then([&](QDialog &d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Выбор файла для сохранения результата обработки"));
        EXPECT_EQ(static_cast<QFileDialog &>(d).nameFilters(),
                  (QStringList{"Файлы результатов обработки (*.TXT *.txt)", "Все файлы (*)"}));
        return chooseFile(d, saved);
    });
    EXPECT_EQ(TMN_UIShowResult(nullptr, s, &r), 1);
    EXPECT_EQ(user.dialogs, (std::vector<QString>{"CResultSheet", "CertificateViewer", "CertificateViewer",
                                                  "CertificateViewer", "SaveAs"}));
    ASSERT_EQ(certificatesShown.size(), 3);
    for (const QString &shown : certificatesShown) EXPECT_TRUE(shown.contains(QStringLiteral("Оператор шлюза"))) << shown.toStdString();
    EXPECT_FALSE(showEnabledBefore);
    EXPECT_TRUE(showEnabledAfter);
    EXPECT_EQ(read_file(saved), std::string(m.ResultDetail)) << "written unchanged";
    EXPECT_TRUE(user.boxes.empty());
    MHA_result_free(s, decoded.result);
}

TEST_F(ResultSheet, NeitherEncryptedNorSignedWithoutAttachmentSigners) {
    Session s;
    ProcessResult r{};
    r.DecryptStatus = -1;
    r.SignStatus = -1;
    r.From = const_cast<char *>("Alice <SMTP:alice@tarmin.test>");
    Operator user({[&](QDialog &d) {
        EXPECT_EQ(text(d, "DecryptResult"), QStringLiteral("Сообщение не зашифровано"));
        EXPECT_EQ(text(d, "SignResult"), QStringLiteral("Сообщение не подписано"));
        EXPECT_TRUE(widget(d, "DecryptGroup")->isHidden());
        EXPECT_TRUE(widget(d, "SignGroup")->isHidden());
        EXPECT_EQ(icon(d, "DecryptIcon"), QString());
        EXPECT_EQ(icon(d, "SignIcon"), QString());
        EXPECT_EQ(text(d, "From"), QStringLiteral("Alice <SMTP:alice@tarmin.test>"));
        EXPECT_EQ(text(d, "Subject"), QString());
        EXPECT_EQ(text(d, "SignersLabel"), QStringLiteral("Нет подписанных вложений"));
        EXPECT_TRUE(signers(d)->isHidden());
        EXPECT_TRUE(pushButton(d, "ShowSignerCert")->isHidden());
        pushButton(d, "IDCANCEL")->click();
        return d.result();
    }});
    EXPECT_EQ(TMN_UIShowResult(nullptr, s, &r), 2);
}

TEST_F(ResultSheet, FailedChecksShowTheirTextsAndErrorIcons) {
    Session s;
    MhaAttachSigner second{2, const_cast<char *>("Без сертификата"), nullptr, nullptr};
    MhaAttachSigner first{0, const_cast<char *>("Первый"), nullptr, &second};
    const struct {
        int32_t status;
        const char *text;
    } cases[] = {{1, "Подпись неверна"}, {2, "Открытый ключ не найден"}, {3, "Неверный открытый ключ "}, {4, "Ошибка"}, {9, "Ошибка"}};
    for (const auto &c : cases) {
        ProcessResult r{};
        r.DecryptStatus = c.status;
        r.SignStatus = c.status;
        r.AttachSigners = &first;
        Operator user({[&](QDialog &d) {
            EXPECT_EQ(text(d, "DecryptResult"), QString::fromUtf8(c.text)) << c.status;
            EXPECT_EQ(text(d, "SignResult"), QString::fromUtf8(c.text)) << c.status;
            EXPECT_EQ(icon(d, "DecryptIcon"), QStringLiteral("error"));
            EXPECT_EQ(icon(d, "SignIcon"), QStringLiteral("error"));
            EXPECT_EQ(text(d, "SignTime"), QString()) << "no time";
            EXPECT_FALSE(pushButton(d, "SignCertButton")->isEnabled()) << "no certificate";
            QTableWidget *list = signers(d);
            EXPECT_EQ(list->rowCount(), 2);
            EXPECT_EQ(list->item(1, 0)->text(), QStringLiteral("Открытый ключ не найден"));
            EXPECT_EQ(list->item(1, 0)->data(Qt::UserRole).toString(), QStringLiteral("error"));
            list->selectRow(1);
            EXPECT_FALSE(pushButton(d, "ShowSignerCert")->isEnabled()) << "a row without a certificate";
            return QDialog::Rejected;
        }});
        EXPECT_EQ(TMN_UIShowResult(nullptr, s, &r), 2);
        EXPECT_EQ(user.dialogs.size(), 1u) << "no viewer without a certificate";
    }
}

TEST_F(ResultSheet, ASaveThatFailsIsTold) {
    Session s;
    ProcessResult r{};
    r.DecryptStatus = -1;
    r.SignStatus = -1;
    r.Details = const_cast<char *>("detail");
    tarmin::platform::ScopedFault full(tarmin::platform::FaultPoint::write, ENOSPC);
    Operator user({[](QDialog &d) {
        pushButton(d, "SaveDetails")->click();
        return QDialog::Rejected;
    }});
    user.then(chooses(make_temp_dir("full") / "r.txt"));
    EXPECT_EQ(TMN_UIShowResult(nullptr, s, &r), 2);
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(user.boxes[0].text, QStringLiteral("Ошибка сохранения результата обработки зашифрованного сообщения"));
    EXPECT_EQ(user.boxes[0].flags & 0xF0u, TMN_MB_ICONERROR);
}

TEST_F(ResultSheet, NullRecordOrContextGives87WithoutWindow) {
    Session s;
    ProcessResult r{};
    Operator user;
    EXPECT_EQ(TMN_UIShowResult(nullptr, s, nullptr), 87);
    EXPECT_EQ(TMN_UIShowResult(nullptr, nullptr, &r), 87);
    EXPECT_TRUE(user.dialogs.empty());
}

} // namespace
