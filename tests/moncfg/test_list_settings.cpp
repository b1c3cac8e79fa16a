// The lists and pages of the configuration program without a window: the
// lists' registry layout written and read back, the distribution wizard's
// reading of packets and sender lists with its defaults, the page table's
// loading and saving, and the item dialogs' checks and texts.
#include "common/codepage.h"
#include "moncfg/ConfigTexts.h"
#include "moncfg/ListItems.h"
#include "moncfg/PageSettings.h"
#include "moncfg/PageTable.h"
#include "monitor/lists/ListSettings.h"
#include "monitor/lists/PacketSettings.h"
#include "qzcom.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace tarmin;
using namespace tarmin::moncfg;
using namespace tarmin::monitor;
using namespace tarmin::cp::literals;

namespace {

class Lists : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", "lists", QZ_VERSION), 0); }
    static void TearDownTestSuite() { QZ_Finalize(); }
    void SetUp() override {
        for (const ListLayout *layout : {&kAddressBookLayout, &kSenderListLayout, &kPacketListLayout})
            QZ_DeleteKey(listKeyPath(*layout, product()).c_str(), 0);
    }
    static std::string product() { return QZ_GetProductKeyName(); }
    static bool keyExists(const std::string &path) {
        QZ_HKEY key = nullptr;
        if (QZ_RegOpenKey(&key, path.c_str(), QZ_KEY_READ, nullptr) != 0) return false;
        QZ_RegCloseKey(key);
        return true;
    }
    static void set(const std::string &path, const char *name, const std::string &text) {
        ASSERT_EQ(QZ_SetKeyString(path.c_str(), name, text.c_str(), 0), 0);
    }
    static void set(const std::string &path, const char *name, QZ_DWORD value) {
        ASSERT_EQ(QZ_SetKeyDword(path.c_str(), name, value, 0), 0);
    }
};

ListRow packetRow(const std::string &number, const std::string &path, uint32_t protection,
                  std::vector<std::string> recipients) {
    return ListRow{{number, path, "Тема"_w, "*.xml", "SMTP:from@x", "+", "", ""}, protection, std::move(recipients)};
}

} // namespace

TEST_F(Lists, RowsRoundTripRenumberedWithNestedValuesAndLongTextsCut) {
    const std::string longText(300, 'x');
    std::vector<ListRow> packets{packetRow("1", "/a", 3, {"SMTP:a@b", longText}), packetRow("7", "/b", 0, {})};
    ASSERT_TRUE(saveListRows(kPacketListLayout, product(), packets));

    ListLoad loaded = loadListRows(kPacketListLayout, product());
    EXPECT_EQ(loaded.status, ListLoadStatus::Ok);
    ASSERT_EQ(loaded.rows.size(), 2u);
    EXPECT_EQ(loaded.rows[0].cells, packets[0].cells);
    EXPECT_EQ(loaded.rows[0].number, 3u);
    EXPECT_EQ(loaded.rows[0].nested, (std::vector<std::string>{"SMTP:a@b", longText.substr(0, kListTextMax)}));
    EXPECT_EQ(loaded.rows[1].number, 0u);
    EXPECT_TRUE(loaded.rows[1].nested.empty());
    QZ_DWORD protection = 9;
    EXPECT_EQ(QZ_GetKeyDword(itemKeyPath(kPacketListLayout, product(), 1).c_str(), "GWType", &protection), 0);
    EXPECT_EQ(protection, 0u);

    // Saving fewer rows removes the old items with everything under them.
    ASSERT_TRUE(saveListRows(kPacketListLayout, product(), {packets[1]}));
    EXPECT_FALSE(keyExists(itemKeyPath(kPacketListLayout, product(), 1)));
    EXPECT_FALSE(keyExists(itemKeyPath(kPacketListLayout, product(), 1) + "\\Email"));
    EXPECT_EQ(loadListRows(kPacketListLayout, product()).rows.size(), 1u);
}

TEST_F(Lists, LoadingStopsAtAMissingItemAndAMissingListIsEmpty) {
    ListLoad none = loadListRows(kAddressBookLayout, product());
    EXPECT_EQ(none.status, ListLoadStatus::KeyMissing);
    EXPECT_TRUE(none.rows.empty());

    const std::string list = listKeyPath(kAddressBookLayout, product());
    set(list, "GWMonEmailListNum", 4);
    set(list + "\\0", "CName", "Иванов"_w);
    set(list + "\\0", "Email", "SMTP:i@x");
    set(list + "\\1", "Email", "SMTP:nameless@x"); // a missing column reads empty
    set(list + "\\3", "CName", "after the gap");
    ListLoad partial = loadListRows(kAddressBookLayout, product());
    EXPECT_EQ(partial.status, ListLoadStatus::ItemMissing);
    ASSERT_EQ(partial.rows.size(), 2u);
    EXPECT_EQ(partial.rows[0].cells, (std::vector<std::string>{"Иванов"_w, "SMTP:i@x"}));
    EXPECT_EQ(partial.rows[1].cells, (std::vector<std::string>{"", "SMTP:nameless@x"}));
}

TEST_F(Lists, WizardReadsPacketsWithTheirDefaultsAndSkipsThoseWithoutDirectory) {
    const std::string list = listKeyPath(kPacketListLayout, product());
    EXPECT_EQ(readPacketCount(), std::nullopt);
    set(list, "PacketListNum", 0u);
    EXPECT_EQ(readPacketCount(), std::nullopt);
    set(list, "PacketListNum", 4u);
    EXPECT_EQ(readPacketCount(), 4u);

    // Item 0 holds only its directory: every other value takes its default.
    set(list + "\\0", "Path", "/srv/a");
    // Item 1 holds everything; empty texts count as missing where the
    // wizard gives a default.
    set(list + "\\1", "Path", "/srv/b/");
    set(list + "\\1", "PacketNum", "12");
    set(list + "\\1", "Mask", "");
    set(list + "\\1", "Subject", "Отчёт"_w);
    set(list + "\\1", "SenderAddress", "SMTP:oper@x");
    set(list + "\\1", "GWType", 0u);
    set(list + "\\1", "OPType", "+");
    set(list + "\\1", "NotDelSended", "++");
    set(list + "\\1\\Email", "EmailNum", 3u);
    set(list + "\\1\\Email", "0", "SMTP:r0@x");
    set(list + "\\1\\Email", "2", "SMTP:r2@x");
    // Item 2 has an empty directory, item 3 no key at all.
    set(list + "\\2", "Path", "");

    std::vector<PacketSettings> packets = loadPackets(4);
    ASSERT_EQ(packets.size(), 2u);
    const PacketSettings &first = packets[0];
    EXPECT_EQ(first.position, 0u);
    EXPECT_EQ(first.path, "/srv/a/");
    EXPECT_EQ(first.mask, "*");
    EXPECT_EQ(first.packetNumber, "1");
    EXPECT_EQ(first.subject, "Рассылка 1"_w);
    EXPECT_EQ(first.from, "");
    EXPECT_EQ(first.gatewayProtection, 3u);
    EXPECT_FALSE(first.signAtWorkstation);
    EXPECT_FALSE(first.keepFiles);
    EXPECT_TRUE(first.recipients.empty());
    const PacketSettings &second = packets[1];
    EXPECT_EQ(second.path, "/srv/b/");
    EXPECT_EQ(second.mask, "*");
    EXPECT_EQ(second.packetNumber, "12");
    EXPECT_EQ(second.subject, "Отчёт"_w);
    EXPECT_EQ(second.from, "SMTP:oper@x");
    EXPECT_EQ(second.gatewayProtection, 0u);
    EXPECT_TRUE(second.signAtWorkstation);
    EXPECT_FALSE(second.keepFiles) << "only \"+\" keeps the files";
    EXPECT_EQ(second.recipients, (std::vector<std::string>{"SMTP:r0@x", "SMTP:r2@x"}));
}

TEST_F(Lists, SenderListsNameTheirPacketsByNumber) {
    const std::string senders = listKeyPath(kSenderListLayout, product());
    set(senders, "SenderListNum", 3u);
    set(senders + "\\0", "SenderListName", "Утро"_w);
    set(senders + "\\0", "SenderPackets", " 3, 1,1\t x 0 99999999999 ");
    set(senders + "\\2", "SenderPackets", "1"); // no name: not offered
    const std::vector<SenderListName> names = readSenderListNames();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].index, 0u);
    EXPECT_EQ(names[0].name, "Утро"_w);
    EXPECT_EQ(readSenderPackets(1), std::nullopt);

    const std::optional<std::string> text = readSenderPackets(0);
    ASSERT_TRUE(text);
    const std::vector<uint32_t> numbers = senderPacketNumbers(*text);
    EXPECT_EQ(numbers, (std::vector<uint32_t>{3, 1, 1}));

    // Packets numbered by position, as the configuration program offers
    // them, and one whose number was changed to 5.
    ASSERT_TRUE(saveListRows(kPacketListLayout, product(),
                             {packetRow("1", "/one", 3, {}), packetRow("5", "/five", 3, {}),
                              packetRow("3", "/three", 3, {})}));
    const std::vector<PacketSettings> chosen = packetsByNumber({3, 1, 1, 2, 5}, loadPackets(*readPacketCount()));
    std::vector<std::string> paths;
    for (const PacketSettings &packet : chosen) paths.push_back(packet.path);
    // 2 is no packet's number: it names the packet at position 2.
    EXPECT_EQ(paths, (std::vector<std::string>{"/three/", "/one/", "/one/", "/five/", "/five/"}));
}

TEST_F(Lists, PagesLoadDefaultsAndSaveOnlyTheirBoxesAndFields) {
    const PageSpec &protocol = pageSpec(PageId::Protocol);
    QZ_DeleteValue(product().c_str(), "Filename");
    QZ_DeleteValue(product().c_str(), "Update period");
    {
        ProductKey key = ProductKey::forLoading();
        ASSERT_EQ(key.access(), KeyAccess::ReadWrite);
        PageValues values = loadPage(protocol, key);
        EXPECT_EQ(values.flags, 1u);
        EXPECT_EQ(values.fields, (std::vector<std::string>{"%TEMP%/", "512", "30"}));
    }
    // Bits of no box are dropped; a text with a reference stays expandable;
    // a number field's text is read as far as it is a number.
    PageValues values;
    values.flags = 0x102;
    values.fields = {"%TEMP%/журналы"_w, "2048", "4294967296"};
    ASSERT_TRUE(savePage(protocol, values, ProductKey::forSaving()));
    QZ_DWORD number = 0;
    EXPECT_EQ(QZ_GetKeyDword(product().c_str(), "Update period", &number), 0);
    EXPECT_EQ(number, 2u);
    EXPECT_EQ(QZ_GetKeyDword(product().c_str(), "Maximum file size", &number), 0);
    EXPECT_EQ(number, 2048u);
    EXPECT_EQ(QZ_GetKeyDword(product().c_str(), "DeleteFilePeriod", &number), 0);
    EXPECT_EQ(number, 4294967295u);
    char raw[64];
    QZ_DWORD length = sizeof raw, type = 0;
    ASSERT_EQ(QZ_GetKeyValue(product().c_str(), "Filename", raw, &length, &type, nullptr, 0, 0, 0), 0);
    EXPECT_EQ(type, QZ_REG_EXPAND_SZ);
    EXPECT_EQ(std::string(raw), "%TEMP%/журналы"_w);
    // Shown again as written, not expanded.
    EXPECT_EQ(loadPage(protocol, ProductKey::forLoading()).fields[0], "%TEMP%/журналы"_w);

    EXPECT_EQ(fieldNumber(""), 0u);
    EXPECT_EQ(fieldNumber("0120"), 120u);
    EXPECT_EQ(fieldNumber("12x3"), 12u);
}

TEST(ListItems, ChecksComeInTheirOrderWithTheirTexts) {
    EXPECT_STREQ(checkEmail("", "", true)->message, "Не введен e-mail"_w);
    EXPECT_EQ(checkEmail("", "", true)->field, ItemField::Address);
    EXPECT_STREQ(checkEmail("a@b", "", true)->message, "Не введено имя получателя"_w);
    EXPECT_FALSE(checkEmail("a@b", "", false));

    EXPECT_STREQ(checkSenderList("", {})->message, "Не введено наименование пакета"_w);
    EXPECT_STREQ(checkSenderList("n", {})->message, "Список номеров рассылки пуст"_w);
    EXPECT_FALSE(checkSenderList("n", {"1"}));
    EXPECT_EQ(checkSenderList("n", std::vector<std::string>(60, "12345"))->field, ItemField::PacketNumbers);

    const std::vector<ListRow> rows{packetRow("1", "/a", 3, {"x"}), packetRow("2", "/b", 3, {"x"})};
    EXPECT_STREQ(checkPacket("", rows, std::nullopt, "", 0)->message, "Не введен номер рассылки"_w);
    EXPECT_STREQ(checkPacket("2", rows, std::nullopt, "", 0)->message, "Такой номер рассылки уже существует"_w);
    EXPECT_STREQ(checkPacket("2", rows, 0, "/c", 1)->message, "Такой номер рассылки уже существует"_w);
    EXPECT_FALSE(checkPacket("2", rows, 1, "/c", 1)) << "a row keeps its own number";
    EXPECT_STREQ(checkPacket("02", rows, std::nullopt, "", 1)->message, "Не установлен каталог для файлов"_w);
    EXPECT_STREQ(checkPacket("3", rows, std::nullopt, "/c", 0)->message, "Список адресов пуст"_w);
}

TEST(ListItems, CellsAddressesAndNumbers) {
    EXPECT_EQ(protectionText(0), "");
    EXPECT_EQ(protectionText(1), "Зашифрованные"_w);
    EXPECT_EQ(protectionText(2), "Подписанные"_w);
    EXPECT_EQ(protectionText(7), "Зашифрованные, Подписанные"_w);
    EXPECT_EQ(cellText(kPacketListLayout, packetRow("1", "/a", 0, {}), kPacketProtection), "");
    EXPECT_EQ(cellText(kPacketListLayout, packetRow("1", "/a", 0, {}), kPacketPath), "/a");

    EXPECT_EQ(splitAddress("notes:Ivanov/Bank").type, 1u);
    EXPECT_EQ(splitAddress("notes:Ivanov/Bank").address, "Ivanov/Bank");
    EXPECT_EQ(splitAddress("plain@x").type, 0u);
    EXPECT_EQ(splitAddress("plain@x").address, "plain@x");
    EXPECT_EQ(joinAddress(1, "a"), "NOTES:a");

    EXPECT_EQ(joinPacketNumbers({"2", "5", "7"}), "2,5,7");
    EXPECT_EQ(splitPacketNumbers(" 2, 5\t7,,"), (std::vector<std::string>{"2", "5", "7"}));

    std::vector<ListRow> rows(5);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i].number = static_cast<uint32_t>(i);
    removeRows(rows, {3, 1, 3, 9});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].number, 2u);

    EXPECT_EQ(texts::outsideCodePageMessage("E-mail", U"ivanov@банк.рф"), "");
    EXPECT_EQ(texts::outsideCodePageMessage("E-mail", U"a€b№"), "") << "both are in the code page";
    const std::string refused = texts::outsideCodePageMessage("Тема", U"ok ✓");
    EXPECT_NE(refused.find("«Тема»"), std::string::npos);
    EXPECT_NE(refused.find("«✓» (U+2713)"), std::string::npos);
    EXPECT_NE(refused.find("Windows-1251"), std::string::npos);
}
