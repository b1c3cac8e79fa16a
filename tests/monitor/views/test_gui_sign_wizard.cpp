// The signing wizard in the running program on a test PKI: its pages, the
// attachment and recipient lists with their checks, the summary, and the
// message job that Finish places (information file and signatures checked
// with the crypto library); Cancel places nothing.
#include "GuiTestSupport.h"
#include "tests/capi/capi_test_support.h"

#include "common/codepage.h"
#include "monitor/core/OperatorContext.h"
#include "monitor/app/CMainApp.h"
#include "monitor/app/CMainFrame.h"
#include "monitor/views/CSignWizard.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <deque>

using namespace tarmin::monitor;
using namespace tarmin::test;
using namespace tarmin::cp::literals;
namespace fs = std::filesystem;

namespace {

const std::string kProfile = "SignWizard";

QStringList texts(const QTreeWidget *list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(0);
    return out;
}

// The file dialog's answer: these names of one directory, or Cancel.
DialogScript::Handler choose(const fs::path &dir, const QStringList &names) {
    return [=](QDialog &d) {
        if (names.isEmpty()) return int(QDialog::Rejected);
        auto &dialog = static_cast<QFileDialog &>(d);
        dialog.setDirectory(QString::fromStdString(dir.string()));
        dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
            ->setText(QLatin1Char('"') + names.join(QStringLiteral("\" \"")) + QLatin1Char('"'));
        return int(QDialog::Accepted);
    };
}

class SignWizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        setString(kProfile, "Path", make_temp_dir("install").string());
        logs_ = std::make_unique<GatewayLogs>(make_temp_dir("gwlogs"));
        setString(kProfile, "GWMonGWLogDirectory", logs_->dir().string());
        setDword(kProfile, "ProtectionFlags", 0); // the wizard opens a context of its own
        out_ = make_temp_dir("out");
        setString(kProfile, "GWMonOutputDirectory", out_.string());
        src_ = make_temp_dir("src");
        other_ = make_temp_dir("other");
    }
    void TearDown() override {
        if (app_) app_->ExitInstance();
    }
    void start() {
        app_ = std::make_unique<CMainApp>();
        ASSERT_TRUE(app_->InitInstance({"tmngwmon", "/profile=" + kProfile}));
        // No address book unless the test writes one.
        QZ_DeleteKey((productKey(kProfile) + "\\GWMonEmailList").c_str(), 1);
    }
    void addressBook(const std::vector<std::pair<std::string, std::string>> &entries) {
        const std::string key = productKey(kProfile) + "\\GWMonEmailList";
        for (size_t i = 0; i < entries.size(); ++i) {
            const std::string sub = key + "\\" + std::to_string(i);
            QZ_SetKeyString(sub.c_str(), "CName", w(entries[i].first).c_str(), 0);
            QZ_SetKeyString(sub.c_str(), "Email", entries[i].second.c_str(), 0);
        }
        QZ_SetKeyDword(key.c_str(), "GWMonEmailListNum", static_cast<QZ_DWORD>(entries.size()), 0);
    }
    fs::path file(const fs::path &dir, const std::string &name, const std::string &bytes) {
        write_file(dir / name, bytes);
        return dir / name;
    }
    QStringList messageTexts() const {
        QStringList out;
        for (const auto &m : messages_.messages) out << m.text;
        return out;
    }

    std::unique_ptr<GatewayLogs> logs_;
    fs::path out_, src_, other_;
    MessageRecorder messages_;
    DialogScript dialogs_;
    std::unique_ptr<CMainApp> app_;
};

} // namespace

TEST_F(SignWizardTest, FinishSignsTheAttachmentsAndPlacesTheMessageJob) {
    // Subjects the gateway sent protected messages with.
    auto [date, time] = local_date_time(60);
    logs_->write("tmnsent-1.csv", {GatewayLogs::outLine(date, time, "0", "AA01", "a@x.ru", "Отчёт", "", "1"),
                                   GatewayLogs::outLine(date, time, "0", "AA02", "a@x.ru", "", "", "1"),
                                   GatewayLogs::outLine(date, time, "0", "AA03", "a@x.ru", "Акт", "", "1"),
                                   GatewayLogs::outLine(date, time, "0", "AA04", "b@x.ru", "Отчёт", "", "1")});
    const std::string a = "первое вложение", b(70000, 'b'), c = "третье";
    file(src_, "b.txt", b);
    file(src_, "a.txt", a);
    file(other_, "c.bin", c);
    file(other_, "A.TXT", "другое");
    file(other_, "d.bin", "не добавлен");
    run_tmncert({"setmy", "--profile", kProfile, make_pki().thumb.at("operator")});
    ASSERT_NO_FATAL_FAILURE(start());
    addressBook({{"Петров Пётр", "SMTP:petrov@bank.ru"}, {"Банк", "NOTES:bank"}});
    QAction *command = app_->mainFrame()->command(kCmdSignMessage);
    ASSERT_TRUE(command->isEnabled());

    // The file dialogs' answers in turn (handlers are registered before the
    // wizard runs).
    std::deque<DialogScript::Handler> fileAnswers{choose(src_, {}), choose(src_, {"b.txt", "a.txt"}),
                                                  choose(other_, {"c.bin", "A.TXT", "d.bin"})};
    dialogs_.on(QStringLiteral("AddFileDialog"), [&](QDialog &d) {
        DialogScript::Handler answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer(d);
    });
    QStringList summary;
    dialogs_.on(QStringLiteral("CSignWizard"), [&](QDialog &d) {
        auto &wizard = static_cast<QWizard &>(d);
        wizard.show();
        EXPECT_EQ(wizard.windowTitle(), QStringLiteral("Мастер выполнения ЭП"));
        QLabel *title = control<QLabel>(*wizard.currentPage(), 1000);
        EXPECT_EQ(title->text(), QStringLiteral("Мастер выполнения ЭП документа"));
        EXPECT_TRUE(title->font().bold());
        EXPECT_EQ(wizardButtons(wizard), QStringLiteral("Next"));
        // The greeting asks for the button "Далее".
        EXPECT_EQ(wizard.button(QWizard::NextButton)->text().remove(QLatin1Char('&')), QStringLiteral("Далее >"));
        wizard.next();

        QWizardPage *page = wizard.currentPage();
        EXPECT_EQ(page->title(), QStringLiteral("Создание защищенного сообщения"));
        EXPECT_EQ(wizardButtons(wizard), QStringLiteral("Back Next"));
        // Next without attachments opens the file dialog; cancelled, the page stays.
        wizard.next();
        EXPECT_EQ(wizard.currentId(), CSignWizard::kMessagePage);
        EXPECT_EQ(messageTexts(),
                  QStringList{QStringLiteral("Защищенное сообщение обязательно должно содержать хотя бы одно вложение")});
        EXPECT_EQ(messages_.messages.back().icon, MsgIcon::Error);
        messages_.messages.clear();

        // Each file goes to the top; a name already listed (other directory,
        // other case) stops the adding.
        auto *attachments = control<QTreeWidget>(*page, 1007);
        control<QAbstractButton>(*page, 1003)->click();
        control<QAbstractButton>(*page, 1003)->click();
        EXPECT_EQ(messageTexts(), QStringList{QStringLiteral("Защищенное сообщение не может содержать несколько "
                                                             "вложений с одинаковым именем.")});
        EXPECT_EQ(messages_.messages.back().icon, MsgIcon::Warning);
        messages_.messages.clear();
        const QString srcDir = QString::fromStdString(src_.string()), otherDir = QString::fromStdString(other_.string());
        EXPECT_EQ(texts(attachments), (QStringList{otherDir + "/c.bin", srcDir + "/a.txt", srcDir + "/b.txt"}));
        EXPECT_EQ(attachments->topLevelItem(2)->text(1).isEmpty(), false);
        EXPECT_EQ(app_->context().lastDialogDirectory, other_.string() + "/");
        // A selected attachment is removed.
        attachments->topLevelItem(0)->setSelected(true);
        control<QAbstractButton>(*page, 1002)->click();
        EXPECT_EQ(texts(attachments), (QStringList{srcDir + "/a.txt", srcDir + "/b.txt"}));

        auto *subject = control<QComboBox>(*page, 1004);
        QStringList offered;
        for (int i = 0; i < subject->count(); ++i) offered << subject->itemText(i);
        EXPECT_EQ(offered, (QStringList{QStringLiteral("Акт"), QStringLiteral("Отчёт")}));
        EXPECT_EQ(subject->lineEdit()->maxLength(), 255);
        EXPECT_EQ(control<QLineEdit>(*page, 1034)->maxLength(), 255);
        subject->setEditText(QStringLiteral("Платёжки"));
        control<QPlainTextEdit>(*page, 1009)->setPlainText(QStringLiteral("Строка 1\nСтрока 2"));
        control<QLineEdit>(*page, 1034)->setText(QStringLiteral("SMTP:op@bank.ru"));
        wizard.next();

        page = wizard.currentPage();
        EXPECT_EQ(page->title(), QStringLiteral("Выбор абонента"));
        EXPECT_EQ(wizardButtons(wizard), QStringLiteral("Back Next"));
        auto *book = control<QTreeWidget>(*page, 1008);
        auto *recipients = control<QTreeWidget>(*page, 1014);
        EXPECT_EQ(texts(book), (QStringList{QStringLiteral("Петров Пётр (SMTP:petrov@bank.ru)"),
                                            QStringLiteral("Банк (NOTES:bank)")}));
        EXPECT_TRUE(control<QCheckBox>(*page, 1010)->isChecked());
        EXPECT_TRUE(control<QCheckBox>(*page, 1011)->isChecked());
        book->topLevelItem(0)->setSelected(true);
        control<QAbstractButton>(*page, 1015)->click();
        control<QAbstractButton>(*page, 1015)->click();
        book->topLevelItem(0)->setSelected(false);
        book->topLevelItem(1)->setSelected(true);
        control<QAbstractButton>(*page, 1015)->click();
        EXPECT_EQ(texts(recipients), (QStringList{QStringLiteral("Банк (NOTES:bank)"),
                                                  QStringLiteral("Петров Пётр (SMTP:petrov@bank.ru)"),
                                                  QStringLiteral("Петров Пётр (SMTP:petrov@bank.ru)")}));
        control<QCheckBox>(*page, 1011)->setChecked(false);
        wizard.next();

        EXPECT_EQ(wizardButtons(wizard), QStringLiteral("Back Finish"));
        auto *list = control<QListWidget>(*wizard.currentPage(), 1017);
        for (int i = 0; i < list->count(); ++i) summary << list->item(i)->text();
        // Back to the recipients: Finish stays and ends the wizard from there.
        wizard.back();
        EXPECT_EQ(wizard.currentId(), CSignWizard::kRecipientPage);
        EXPECT_EQ(wizardButtons(wizard), QStringLiteral("Back Finish"));
        wizard.button(QWizard::FinishButton)->click();
        return wizard.result();
    });
    command->trigger();

    EXPECT_EQ(summary,
              (QStringList{"Тема сообщения: Платёжки", "Получатели сообщения: ", "\tБанк (NOTES:bank)",
                           "\tПетров Пётр (SMTP:petrov@bank.ru)", "\tПетров Пётр (SMTP:petrov@bank.ru)",
                           "Список вложений: ", "    " + QString::fromStdString((src_ / "a.txt").string()),
                           "    " + QString::fromStdString((src_ / "b.txt").string()), "Обработка на шлюзе: ",
                           "\tВыполнить ЭП сообщения"}));
    EXPECT_EQ(dialogs_.shown.size(), 4u); // the wizard and three file dialogs
    EXPECT_TRUE(fileAnswers.empty());
    ASSERT_EQ(messageTexts(), QStringList{QStringLiteral("Размещение защищенного сообщения на шлюзе успешно завершено")});
    EXPECT_EQ(messages_.messages.back().icon, MsgIcon::Information);

    const std::vector<std::string> jobs = names_in(out_);
    ASSERT_EQ(jobs.size(), 1u);
    const fs::path dir = out_ / jobs[0];
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"TMNSIGN.TMS", "a.txt", "b.txt", "tmninfo.txt"}));
    EXPECT_EQ(read_file(dir / "tmninfo.txt"), "Subject:Платёжки\r\nFrom:SMTP:op@bank.ru\r\nProtection:Sign\r\n"
                                              "Email:NOTES:bank\r\nEmail:SMTP:petrov@bank.ru\r\n"
                                              "Email:SMTP:petrov@bank.ru\r\nBody:\r\nСтрока 1\r\nСтрока 2"_w);

    // One record per attachment in list order, signed by the operator.
    OperatorContext verifier;
    ASSERT_EQ(verifier.open(), 0);
    const std::string signatures = read_file(dir / "TMNSIGN.TMS");
    size_t at = 0;
    auto line = [&](const std::string &key) {
        const size_t end = signatures.find("\r\n", at);
        EXPECT_EQ(signatures.compare(at, key.size(), key), 0) << signatures.substr(at, 40);
        std::string value = signatures.substr(at + key.size(), end - at - key.size());
        at = end + 2;
        return value;
    };
    for (const auto &[name, content] : {std::pair{std::string("a.txt"), a}, {std::string("b.txt"), b}}) {
        EXPECT_EQ(line("Name-Signer:"), verifier.subjectName());
        EXPECT_FALSE(line("Hash-Value:").empty());
        EXPECT_EQ(line("Name-Attachment:"), name);
        const size_t length = std::stoul(line("Length-Sign:"));
        EXPECT_EQ(line("Sign:"), "");
        ASSERT_LE(at + length, signatures.size());
        const std::string signature = signatures.substr(at, length);
        at += length;
        CapiBlob data = blob_of(content), sig = blob_of(signature);
        CheckResult result{};
        EXPECT_EQ(CCA_check_mem_sep(verifier.handle(), &data, &sig, verifier.certificate(), &result), 0)
            << CCA_get_debug_error(verifier.handle());
        CCA_cert_free(verifier.handle(), result.SignerCert);
    }
    EXPECT_EQ(at, signatures.size());
}

TEST_F(SignWizardTest, CancelPlacesNothingAndAMissingAddressBookIsReported) {
    file(src_, "a.txt", "x");
    ASSERT_NO_FATAL_FAILURE(start());
    dialogs_.on(QStringLiteral("AddFileDialog"), choose(src_, {"a.txt"}));
    dialogs_.on(QStringLiteral("CSignWizard"), [&](QDialog &d) {
        auto &wizard = static_cast<QWizard &>(d);
        wizard.show();
        wizard.next();
        wizard.next(); // the file dialog adds the attachment first
        EXPECT_EQ(wizard.currentId(), CSignWizard::kRecipientPage);
        EXPECT_EQ(control<QTreeWidget>(*wizard.currentPage(), 1008)->topLevelItemCount(), 0);
        wizard.reject();
        return wizard.result();
    });
    app_->mainFrame()->OnServiceSignMsg();
    EXPECT_EQ(messageTexts(), QStringList{QStringLiteral(
                                  "Необходимо запустить программу конфигурации и выполнить необходимую настройку.\n"
                                  "Ошибка открытия ключа настройки со списком зарегистрированных адресов из "
                                  "системного реестра (ключ GWMonEmailList).")});
    EXPECT_EQ(messages_.messages.back().icon, MsgIcon::Error);
    EXPECT_TRUE(names_in(out_).empty());
}

TEST_F(SignWizardTest, ContextThatCannotBeOpenedIsReportedAndNothingIsPlaced) {
    file(src_, "a.txt", "x");
    // An empty personal store (another test of this process may have made a
    // PKI): no own certificate.
    HiddenCertificateStores empty;
    ASSERT_NO_FATAL_FAILURE(start());
    QStringList reports;
    dialogs_.keepReports(reports);
    dialogs_.on(QStringLiteral("AddFileDialog"), choose(src_, {"a.txt"}));
    dialogs_.on(QStringLiteral("CSignWizard"), [&](QDialog &d) {
        auto &wizard = static_cast<QWizard &>(d);
        wizard.show();
        for (int i = 0; i < 3; ++i) wizard.next();
        EXPECT_EQ(wizard.currentId(), CSignWizard::kFinishPage);
        wizard.accept();
        return wizard.result();
    });
    app_->mainFrame()->OnServiceSignMsg();
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].contains(QStringLiteral("0xE0070006"))) << reports[0].toStdString();
    EXPECT_TRUE(names_in(out_).empty());
    EXPECT_EQ(messages_.messages.size(), 1u); // the missing address book, no success
}
