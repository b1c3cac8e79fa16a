// The signing wizard's logic without windows: the address book read from the
// registry, the refusal of a second attachment of the same file name, the
// summary lines and the information file of the message job it builds.
#include "testsupport.h"

#include "common/codepage.h"
#include "monitor/jobs/SignMessage.h"
#include "qzcom.h"

#include <gtest/gtest.h>

using namespace tarmin::monitor;
using namespace tarmin::test;
using namespace tarmin::cp::literals;

namespace {

class SignMessage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0); }
    static void TearDownTestSuite() { QZ_Finalize(); }
    void SetUp() override { QZ_DeleteKey(bookKey().c_str(), 1); }
    static std::string bookKey() { return std::string(QZ_GetProductKeyName()) + "\\GWMonEmailList"; }
    static void entry(int i, const std::string &name, const std::string &email) {
        const std::string key = bookKey() + "\\" + std::to_string(i);
        ASSERT_EQ(QZ_SetKeyString(key.c_str(), "CName", name.c_str(), 0), 0);
        ASSERT_EQ(QZ_SetKeyString(key.c_str(), "Email", email.c_str(), 0), 0);
    }
};

} // namespace

TEST_F(SignMessage, AddressBookEntriesInNumberOrderMissingKeySkipped) {
    AddressBook none = readAddressBook();
    EXPECT_FALSE(none.opened);
    EXPECT_TRUE(none.entries.empty());
    EXPECT_EQ(addressBookMissingMessage(),
              "Необходимо запустить программу конфигурации и выполнить необходимую настройку.\nОшибка открытия "
              "ключа настройки со списком зарегистрированных адресов из системного реестра (ключ GWMonEmailList)."_w);

    const std::string longName(300, 'N');
    entry(0, "Иванов И.И."_w, "SMTP:ivanov@bank.ru");
    entry(2, longName, "NOTES:x@y");
    entry(3, "beyond the count", "SMTP:z@z");
    ASSERT_EQ(QZ_SetKeyDword(bookKey().c_str(), "GWMonEmailListNum", 3, 0), 0);
    AddressBook book = readAddressBook();
    EXPECT_TRUE(book.opened);
    EXPECT_EQ(book.entries, (std::vector<std::string>{"Иванов И.И. (SMTP:ivanov@bank.ru)"_w, longName + " (NOTES:x@y)"}));
}

TEST_F(SignMessage, SecondAttachmentOfTheSameNameIsRefusedWithoutRegardToCase) {
    // Paths come from the file system (UTF-8); Cyrillic letters fold too.
    const std::vector<std::string> listed{"/a/Отчёт.TXT"};
    // Another directory, other letter case: the first selected file is the duplicate.
    EXPECT_EQ(firstDuplicateAttachment(listed, {"/b/оТЧЁТ.txt", "/b/c.bin"}), 0u);
    EXPECT_EQ(firstDuplicateAttachment(listed, {"/b/ОТЧЁТ.txt"}), 0u);
    // The files before the duplicate are added.
    EXPECT_EQ(firstDuplicateAttachment(listed, {"/b/c.bin", "/b/d.bin", "/c/отчёт.txt", "/b/e.bin"}), 2u);
    // Two of one selection collide with each other.
    EXPECT_EQ(firstDuplicateAttachment({}, {"/x/C.BIN", "/y/c.bin"}), 1u);
    EXPECT_EQ(firstDuplicateAttachment(listed, {"/b/Отчёт.txt.bak", "/b/c.bin", "/b/Отчет.txt"}), 3u);

    // A name that Windows-1251 cannot hold is refused with its name in the text.
    EXPECT_EQ(firstUnrepresentableAttachment({"/a/Отчёт.txt", "/a/b\xff.txt", "/a/Ωmega.txt"}), 1u);
    EXPECT_EQ(firstUnrepresentableAttachment({"/a/Отчёт.txt"}), 1u);
    EXPECT_EQ(unrepresentableAttachmentMessage("/d/Ωmega.txt"),
              "Имя файла ?mega.txt нельзя записать в кодировке Windows-1251, в которой шлюз принимает имена "
              "вложений. Переименуйте файл."_w);
}

TEST_F(SignMessage, SummaryLinesAndAJobWithoutProtectionOrRecipients) {
    SignMessageData data;
    data.signOnGateway = data.encryptOnGateway = false;
    data.body = "Текст"_w;
    EXPECT_EQ(signSummaryLines(data),
              (std::vector<std::string>{"Тема сообщения: <По умолчанию>"_w, "Получатели сообщения: "_w,
                                        "\t<По умолчанию>"_w, "Список вложений: "_w, "\tНет вложений"_w,
                                        "Обработка на шлюзе: "_w}));
    GatewayJob job = messageJob(data, nullptr, nullptr, "");
    EXPECT_TRUE(job.signAtWorkstation);
    EXPECT_FALSE(job.deleteSources);
    EXPECT_EQ(jobInfoLines(job), (std::vector<std::string>{"Body:\r\n", "Текст"_w}));

    data.subject = "Платёжки"_w;
    data.from = "SMTP:op@bank.ru";
    data.recipients = {"Петров (SMTP:p@bank.ru)"_w, "Петров (SMTP:p@bank.ru)"_w, "Банк (NOTES:bank)"_w};
    data.attachments = {"/d/b.txt", "/d/Акт.txt"};
    data.signOnGateway = data.encryptOnGateway = true;
    EXPECT_EQ(signSummaryLines(data),
              (std::vector<std::string>{"Тема сообщения: Платёжки"_w, "Получатели сообщения: "_w,
                                        "\tПетров (SMTP:p@bank.ru)"_w, "\tПетров (SMTP:p@bank.ru)"_w,
                                        "\tБанк (NOTES:bank)"_w, "Список вложений: "_w, "    /d/b.txt", "    /d/Акт.txt"_w,
                                        "Обработка на шлюзе: "_w, "\tВыполнить ЭП сообщения"_w,
                                        "\tВыполнить шифрование сообщения"_w}));
}
