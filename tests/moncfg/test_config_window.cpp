// The configuration window on its real pages and item dialogs, offscreen,
// with a scripted operator: list rows deleted and renumbered, the packet
// dialog's protection boxes and number check, a sender list picked from the
// packets, read-only mode, the first set-up, the modified flag and the
// leaving question, the dependent controls, and texts that Windows-1251
// cannot hold.
#include "common/codepage.h"
#include "moncfg/gui/CAddPacket.h"
#include "moncfg/gui/CConfigPage.h"
#include "moncfg/gui/CFpconfigDlg.h"
#include "moncfg/gui/CListPage.h"
#include "moncfg/gui/CNumberEdit.h"
#include "moncfg/gui/CProtPass.h"
#include "moncfg/gui/FolderBrowser.h"
#include "monitor/lists/ListSettings.h"
#include "qzcom.h"
#include "scripted_operator.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdlib>
#include <optional>
#include <string>

using namespace tarmin;
using namespace tarmin::moncfg;
using namespace tarmin::moncfg::test;
using namespace tarmin::cp::literals;
using monitor::ListRow;

namespace {

const QString kQuestion = QStringLiteral("В процессе редактирования параметров конфигурации, были сделаны изменения. "
                                         "Хотите сохранить их сейчас?");

// One profile per test, so that every window starts from an empty store.
class ConfigWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string profile = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", profile.c_str(), QZ_VERSION), 0);
    }
    void TearDown() override { QZ_Finalize(); }

    static std::string product() { return QZ_GetProductKeyName(); }
    static std::optional<QZ_DWORD> number(const std::string &path, const char *name) {
        QZ_DWORD value = 0;
        if (QZ_GetKeyDword(path.c_str(), name, &value) != 0) return std::nullopt;
        return value;
    }
    static std::optional<std::string> text(const std::string &path, const char *name) {
        char *value = nullptr;
        const int rc = QZ_GetKeyString(path.c_str(), name, &value, nullptr);
        std::optional<std::string> result;
        if (rc == 0 && value) result = value;
        QZ_Free(value);
        return result;
    }
    static std::string item(const monitor::ListLayout &layout, uint32_t i) {
        return monitor::itemKeyPath(layout, product(), i);
    }
    static QString cell(const CListPage &page, int row, int column) {
        return page.list()->topLevelItem(row)->text(column);
    }
    static void selectRows(const CListPage &page, std::initializer_list<int> rows) {
        page.list()->clearSelection();
        for (int row : rows) page.list()->topLevelItem(row)->setSelected(true);
    }
    static void writePackets(int count) {
        std::vector<ListRow> rows;
        for (int i = 1; i <= count; ++i)
            rows.push_back({{std::to_string(i), "/srv/p" + std::to_string(i), "", "*", "", "", "", ""}, 3, {"SMTP:r@x"}});
        ASSERT_TRUE(monitor::saveListRows(monitor::kPacketListLayout, product(), rows));
    }
};

// Fills the address book's e-mail dialog and confirms it.
ScriptedOperator::Script email(const QString &type, const QString &address, const QString &name) {
    return [=](QDialog &dialog) {
        child<QComboBox>(dialog, QStringLiteral("type"))->setCurrentText(type);
        typeInto(child(dialog, QStringLiteral("email")), address);
        if (auto *recipient = dialog.findChild<QLineEdit *>(QStringLiteral("name"))) typeInto(recipient, name);
        dialog.accept();
    };
}

} // namespace

TEST_F(ConfigWindow, DeletingTheMiddleRowRenumbersAndRemovesTheLastItem) {
    ScriptedOperator op;
    CFpconfigDlg window("", false);
    auto &page = *static_cast<CListPage *>(window.page(138));
    op.dialogs = {email(QStringLiteral("SMTP:"), QStringLiteral("first@x"), QStringLiteral("Первый")),
                  email(QStringLiteral("NOTES:"), QStringLiteral("Second/Org"), QStringLiteral("Второй")),
                  email(QStringLiteral("SMTP:"), QStringLiteral("third@x"), QStringLiteral("Третий"))};
    for (int i = 0; i < 3; ++i) click(page, 1206);
    ASSERT_EQ(page.list()->topLevelItemCount(), 3);
    EXPECT_EQ(cell(page, 1, 1), QStringLiteral("NOTES:Second/Org"));
    EXPECT_TRUE(window.applyButton()->isEnabled());
    window.applyButton()->click();
    EXPECT_FALSE(window.applyButton()->isEnabled());
    EXPECT_EQ(text(item(monitor::kAddressBookLayout, 2), "CName"), "Третий"_w);

    // "Нет" keeps the row; "Да" deletes it.
    selectRows(page, {1});
    click(page, 1208);
    EXPECT_EQ(page.list()->topLevelItemCount(), 3);
    op.answers = {kAnswerYes};
    click(page, 1208);
    EXPECT_EQ(op.takeMessages(), (std::vector<QString>{QStringLiteral("Вы действительно хотите удалить выбранные E-mail?"),
                                                       QStringLiteral("Вы действительно хотите удалить выбранные E-mail?")}));
    ASSERT_EQ(page.list()->topLevelItemCount(), 2);
    EXPECT_EQ(cell(page, 1, 0), QStringLiteral("Третий"));
    window.applyButton()->click();

    const std::string list = monitor::listKeyPath(monitor::kAddressBookLayout, product());
    EXPECT_EQ(number(list, "GWMonEmailListNum"), 2u);
    EXPECT_EQ(text(item(monitor::kAddressBookLayout, 0), "Email"), "SMTP:first@x");
    EXPECT_EQ(text(item(monitor::kAddressBookLayout, 1), "CName"), "Третий"_w);
    EXPECT_EQ(text(item(monitor::kAddressBookLayout, 1), "Email"), "SMTP:third@x");
    QZ_HKEY gone = nullptr;
    EXPECT_NE(QZ_RegOpenKey(&gone, item(monitor::kAddressBookLayout, 2).c_str(), QZ_KEY_READ, nullptr), 0);
    // Nothing is deleted without a selection, and nothing is asked.
    page.list()->clearSelection();
    click(page, 1208);
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(ConfigWindow, PacketDialogProtectionBoxesAndItsNumberCheck) {
    ScriptedOperator op;
    writePackets(2);
    CFpconfigDlg window("", false);
    auto &page = *static_cast<CListPage *>(window.page(175));

    // A new packet is offered the next number; both protection boxes
    // cleared store 0 and show nothing.
    std::vector<QString> seenInDialog;
    op.dialogs = {[&](QDialog &dialog) {
                      EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Добавление правила"));
                      EXPECT_EQ(child<QLineEdit>(dialog, QStringLiteral("number"))->text(), QStringLiteral("3"));
                      // A number that another row has is refused, the dialog stays.
                      typeInto(child(dialog, QStringLiteral("number")), QStringLiteral("2"));
                      typeInto(child(dialog, QStringLiteral("path")), QStringLiteral("/srv/новый"));
                      child<QCheckBox>(dialog, QStringLiteral("encrypt"))->setChecked(false);
                      child<QCheckBox>(dialog, QStringLiteral("sign"))->setChecked(false);
                      child<QCheckBox>(dialog, QStringLiteral("keepFiles"))->setChecked(true);
                      typeInto(child(dialog, QStringLiteral("sender")), QStringLiteral("Oper/Bank"));
                      child<QComboBox>(dialog, QStringLiteral("senderType"))->setCurrentIndex(1);
                      dialog.accept();
                      EXPECT_EQ(dialog.result(), QDialog::Rejected);
                      seenInDialog = op.takeMessages();
                      typeInto(child(dialog, QStringLiteral("number")), QStringLiteral("3"));
                      dialog.accept(); // no recipient yet
                      click(dialog, QStringLiteral("addRecipient"));
                      dialog.accept();
                  },
                  email(QStringLiteral("SMTP:"), QStringLiteral("r1@x"), {})};
    click(page, 1175);
    EXPECT_EQ(seenInDialog, std::vector<QString>{QStringLiteral("Такой номер рассылки уже существует")});
    EXPECT_EQ(op.takeMessages(), std::vector<QString>{QStringLiteral("Список адресов пуст")});
    ASSERT_EQ(page.list()->topLevelItemCount(), 3);
    EXPECT_EQ(page.selectedRows(), std::vector<std::size_t>{2});
    EXPECT_EQ(cell(page, 2, 6), QString());
    EXPECT_EQ(cell(page, 2, 7), QStringLiteral("+"));
    EXPECT_EQ(cell(page, 0, 6), QStringLiteral("Зашифрованные, Подписанные"));

    // Editing a row and keeping its own number is accepted; the edited row
    // becomes the only selected one.
    selectRows(page, {0, 1});
    page.list()->setCurrentItem(page.list()->topLevelItem(1), 0, QItemSelectionModel::NoUpdate);
    op.dialogs = {[](QDialog &dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Редактирование правила"));
        EXPECT_EQ(child<QLineEdit>(dialog, QStringLiteral("number"))->text(), QStringLiteral("2"));
        child<QCheckBox>(dialog, QStringLiteral("sign"))->setChecked(false);
        dialog.accept();
    }};
    click(page, 1176);
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(page.selectedRows(), std::vector<std::size_t>{1});
    EXPECT_EQ(cell(page, 1, 6), QStringLiteral("Зашифрованные"));

    window.applyButton()->click();
    EXPECT_EQ(number(item(monitor::kPacketListLayout, 2), "GWType"), 0u);
    EXPECT_EQ(number(item(monitor::kPacketListLayout, 1), "GWType"), 1u);
    EXPECT_EQ(text(item(monitor::kPacketListLayout, 2), "Path"), "/srv/новый"_w);
    EXPECT_EQ(text(item(monitor::kPacketListLayout, 2), "SenderAddress"), "NOTES:Oper/Bank");
    EXPECT_EQ(text(item(monitor::kPacketListLayout, 2), "NotDelSended"), "+");
    EXPECT_EQ(text(item(monitor::kPacketListLayout, 2), "OPType"), "");
    EXPECT_EQ(text(item(monitor::kPacketListLayout, 2) + "\\Email", "0"), "SMTP:r1@x");
    EXPECT_EQ(number(item(monitor::kPacketListLayout, 2) + "\\Email", "EmailNum"), 1u);
}

TEST_F(ConfigWindow, SenderListOfPacketsTwoFiveAndSeven) {
    ScriptedOperator op;
    writePackets(7);
    CFpconfigDlg window("", false);
    auto &page = *static_cast<CListPage *>(window.page(178));
    auto pick = [](std::vector<int> rows) {
        return [rows](QDialog &dialog) {
            EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Выберите списки рассылки"));
            auto *list = child<QTreeWidget>(dialog, QStringLiteral("list"));
            EXPECT_EQ(list->topLevelItemCount(), 7);
            for (int row : rows) list->topLevelItem(row)->setSelected(true);
            dialog.accept();
        };
    };
    op.dialogs = {[&](QDialog &dialog) {
                      dialog.accept();
                      EXPECT_EQ(op.takeMessages(), std::vector<QString>{QStringLiteral("Не введено наименование пакета")});
                      typeInto(child(dialog, QStringLiteral("name")), QStringLiteral("Вечерний"));
                      dialog.accept();
                      EXPECT_EQ(op.takeMessages(), std::vector<QString>{QStringLiteral("Список номеров рассылки пуст")});
                      click(dialog, QStringLiteral("add"));
                      click(dialog, QStringLiteral("add")); // 5 again: listed once
                      EXPECT_EQ(child<QListWidget>(dialog, QStringLiteral("numbers"))->count(), 3);
                      dialog.accept();
                  },
                  pick({1, 4}), pick({4, 6})};
    click(page, 1175);
    ASSERT_EQ(page.list()->topLevelItemCount(), 1);
    EXPECT_EQ(cell(page, 0, 1), QStringLiteral("2,5,7"));
    window.applyButton()->click();
    EXPECT_EQ(text(item(monitor::kSenderListLayout, 0), "SenderPackets"), "2,5,7");
    EXPECT_EQ(text(item(monitor::kSenderListLayout, 0), "SenderListName"), "Вечерний"_w);

    // Editing shows the numbers again; "Удалить" takes the selected ones off.
    page.list()->setCurrentItem(page.list()->topLevelItem(0));
    op.dialogs = {[](QDialog &dialog) {
        auto *numbers = child<QListWidget>(dialog, QStringLiteral("numbers"));
        ASSERT_EQ(numbers->count(), 3);
        numbers->item(1)->setSelected(true);
        click(dialog, QStringLiteral("remove"));
        dialog.accept();
    }};
    click(page, 1176);
    EXPECT_EQ(cell(page, 0, 1), QStringLiteral("2,7"));
}

TEST_F(ConfigWindow, ReadOnlyStoreShowsEverythingDisabled) {
    ASSERT_EQ(QZ_SetKeyDword(product().c_str(), "GWMonRefreshTimeout", 30, 0), 0);
    ASSERT_EQ(QZ_SetKeyDword(product().c_str(), "KVITFlags", 1 | 2 | 4, 0), 0);
    writePackets(1);
    const std::string profile = product().substr(product().rfind('\\') + 1);
    QZ_Finalize();
    ::setenv("TARMIN_REGISTRY_READONLY", "1", 1);
    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", profile.c_str(), QZ_VERSION), 0);
    {
        ScriptedOperator op;
        CFpconfigDlg window("", false);
        EXPECT_TRUE(op.messages.empty());
        EXPECT_TRUE(window.isReadOnly());
        for (const CFpconfigDlg::PageRow &row : window.pages()) EXPECT_TRUE(row.page->isReadOnly());
        auto *refresh = child<CNumberEdit>(*window.page(142), 1238);
        EXPECT_EQ(refresh->text(), QStringLiteral("30"));
        EXPECT_FALSE(refresh->isEnabled());
        EXPECT_TRUE(refresh->isReadOnly());
        EXPECT_FALSE(child(*window.page(142), 1158)->isEnabled());
        EXPECT_TRUE(child(*window.page(142), 1173)->isEnabled()) << "the provider's own window stays at hand";
        const CConfigPage &kvit = *window.page(184);
        EXPECT_TRUE(child<QCheckBox>(kvit, 1246)->isChecked());
        for (int control : {1241, 1245, 1246, 1243, 1251}) EXPECT_FALSE(child(kvit, control)->isEnabled()) << control;
        const auto &packets = *static_cast<const CListPage *>(window.page(175));
        EXPECT_EQ(packets.list()->topLevelItemCount(), 1);
        EXPECT_FALSE(child(packets, 1175)->isEnabled());
        EXPECT_TRUE(packets.list()->isEnabled()) << "a read-only list still scrolls";
        EXPECT_FALSE(window.applyButton()->isEnabled());
        // What little could still change never enables "&Применить".
        window.page(175)->markModified();
        EXPECT_FALSE(window.applyButton()->isEnabled());
        window.accept();
        EXPECT_TRUE(op.messages.empty());
    }
    QZ_Finalize();
    // A profile that was never written cannot even be read.
    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", "never-written", QZ_VERSION), 0);
    {
        ScriptedOperator op;
        CFpconfigDlg window("", false);
        EXPECT_EQ(op.takeMessages(), std::vector<QString>{QStringLiteral("Ошибка получения доступа к реестру на чтение")});
        EXPECT_FALSE(window.applyButton()->isEnabled());
    }
    QZ_Finalize();
    ::unsetenv("TARMIN_REGISTRY_READONLY");
    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", profile.c_str(), QZ_VERSION), 0);
}

TEST_F(ConfigWindow, FirstSetUpWritesEveryValueAsShown) {
    ASSERT_EQ(QZ_SetKeyDword(product().c_str(), "Setup", 1, 0), 0);
    ASSERT_EQ(QZ_SetKeyDword(product().c_str(), "AnalyzeNday", 14, 0), 0);
    ScriptedOperator op;
    CFpconfigDlg window("", false);
    EXPECT_TRUE(op.messages.empty());
    EXPECT_FALSE(window.applyButton()->isEnabled());
    EXPECT_EQ(number(product(), "GWMonRefreshTimeout"), 120u);
    EXPECT_EQ(number(product(), "ProtectionFlags"), 0u);
    EXPECT_EQ(number(product(), "AnalyzeNday"), 14u);
    EXPECT_EQ(number(product(), "PathsFlags"), 0u);
    EXPECT_EQ(number(product(), "Update period"), 1u);
    EXPECT_EQ(number(product(), "Maximum file size"), 512u);
    EXPECT_EQ(number(product(), "DeleteFilePeriod"), 30u);
    EXPECT_EQ(number(product(), "KvitTimeout"), 120u);
    EXPECT_EQ(number(product(), "MaxErrorRepeat"), 0u);
    EXPECT_EQ(number(product(), "ErrPeriodRepeat"), 0u);
    EXPECT_EQ(number(product(), "KVITFlags"), 0u);
    EXPECT_EQ(text(product(), "GWMonOutputDirectory"), "");
    EXPECT_EQ(text(product(), "AdmAddr"), "");
    EXPECT_EQ(number(monitor::listKeyPath(monitor::kPacketListLayout, product()), "PacketListNum"), 0u);
    EXPECT_EQ(number(monitor::listKeyPath(monitor::kAddressBookLayout, product()), "GWMonEmailListNum"), 0u);
    EXPECT_EQ(number(monitor::listKeyPath(monitor::kSenderListLayout, product()), "SenderListNum"), 0u);
}

TEST_F(ConfigWindow, ChangesAskBeforeLeavingAndCancelLeavesQuietly) {
    ScriptedOperator op;
    auto changeRefresh = [](CFpconfigDlg &window, const QString &value) {
        typeInto(child(*window.page(142), 1238), value);
    };
    {
        CFpconfigDlg window("", false);
        changeRefresh(window, QStringLiteral("45"));
        EXPECT_TRUE(window.isModified());
        window.reject(); // "&Отменить"
        EXPECT_TRUE(op.messages.empty());
    }
    {
        CFpconfigDlg window("", false);
        EXPECT_FALSE(window.isModified()) << "loading is no change";
        changeRefresh(window, QStringLiteral("46"));
        window.accept(); // "Нет"
        EXPECT_EQ(op.takeMessages(), std::vector<QString>{kQuestion});
        EXPECT_EQ(number(product(), "GWMonRefreshTimeout"), std::nullopt);
    }
    {
        CFpconfigDlg window("", false);
        changeRefresh(window, QStringLiteral("47"));
        op.answers = {kAnswerYes};
        window.show();
        window.close();
        EXPECT_EQ(op.takeMessages(), std::vector<QString>{kQuestion});
        EXPECT_EQ(number(product(), "GWMonRefreshTimeout"), 47u);
    }
    {
        // Stepping with the arrows stays within the spin's range.
        CFpconfigDlg window("", false);
        auto *refresh = child<CNumberEdit>(*window.page(142), 1238);
        EXPECT_EQ(refresh->text(), QStringLiteral("47"));
        typeInto(refresh, QStringLiteral("5000"));
        refresh->stepBy(1);
        EXPECT_EQ(refresh->text(), QStringLiteral("1000"));
        typeInto(refresh, QStringLiteral("4294967296"));
        EXPECT_EQ(refresh->text(), QStringLiteral("429496729")) << "no number beyond 32 bits can be typed";
        window.reject();
    }
}

TEST_F(ConfigWindow, ControlsFollowTheBoxesTheyDependOn) {
    ScriptedOperator op;
    CFpconfigDlg window("", false);
    const CConfigPage &kvit = *window.page(184);
    auto enabled = [&](const CConfigPage &page, int control) { return child(page, control)->isEnabled(); };
    EXPECT_FALSE(enabled(kvit, 1243));
    EXPECT_FALSE(enabled(kvit, 1245));
    click(kvit, 1241);
    EXPECT_TRUE(enabled(kvit, 1243));
    EXPECT_TRUE(enabled(kvit, 1245));
    EXPECT_FALSE(enabled(kvit, 1246));
    click(kvit, 1245);
    EXPECT_TRUE(enabled(kvit, 1246));
    click(kvit, 1241);
    EXPECT_FALSE(enabled(kvit, 1246)) << "1246 needs both boxes";
    EXPECT_FALSE(enabled(kvit, 1253));
    click(kvit, 1252);
    for (int control : {1253, 1255, 1257, 1260}) EXPECT_TRUE(enabled(kvit, control)) << control;
    EXPECT_TRUE(window.isModified());

    const CConfigPage &protocol = *window.page(140);
    EXPECT_TRUE(child<QAbstractButton>(protocol, 1078)->isChecked());
    EXPECT_FALSE(enabled(protocol, 1044));
    click(protocol, 1039);
    EXPECT_TRUE(enabled(protocol, 1044));
    EXPECT_FALSE(child<QAbstractButton>(protocol, 1078)->isChecked());

    const CConfigPage &paths = *window.page(136);
    EXPECT_FALSE(enabled(paths, 1265));
    click(paths, 1263);
    EXPECT_TRUE(enabled(paths, 1265));

    window.applyButton()->click();
    EXPECT_EQ(number(product(), "KVITFlags"), 2u | 8u);
    EXPECT_EQ(number(product(), "Update period"), 2u);
    EXPECT_EQ(number(product(), "PathsFlags"), 1u);

    // "&Пролистать" puts the chosen directory into its field.
    installFolderBrowser();
    const auto chosen = tarmin::test::make_temp_dir("каталог");
    op.dialogs = {[&](QDialog &dialog) {
        auto &files = static_cast<QFileDialog &>(dialog);
        files.setDirectory(QString::fromStdString(chosen.parent_path().string()));
        files.selectFile(QString::fromStdString(chosen.string()));
        dialog.accept();
    }};
    window.applyButton()->click();
    click(paths, 1170);
    EXPECT_EQ(child<QLineEdit>(paths, 1169)->text(), QString::fromStdString(chosen.string()));
    EXPECT_TRUE(window.applyButton()->isEnabled());
    QZ_SetFolderBrowser(nullptr, nullptr);

    // The administrator's address comes from the e-mail dialog.
    op.dialogs = {email(QStringLiteral("NOTES:"), QStringLiteral("Admin/Bank"), {})};
    click(kvit, 1251);
    EXPECT_EQ(child<QLineEdit>(kvit, 1249)->text(), QStringLiteral("NOTES:Admin/Bank"));
    EXPECT_TRUE(window.applyButton()->isEnabled());
}

TEST_F(ConfigWindow, TextsOutsideWindows1251AreRefusedWithTheirCharacter) {
    ScriptedOperator op;
    CFpconfigDlg window("", false);
    CConfigPage &paths = *window.page(136);
    typeInto(child(paths, 1167), QStringLiteral("/srv/вход✓"));
    window.applyButton()->click();
    const std::vector<QString> refused = op.takeMessages();
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_TRUE(refused[0].contains(QStringLiteral("«✓» (U+2713)"))) << refused[0].toStdString();
    EXPECT_TRUE(refused[0].contains(QStringLiteral("Windows-1251")));
    EXPECT_TRUE(window.isModified());
    EXPECT_EQ(text(product(), "GWMonOutputDirectory"), std::nullopt) << "nothing is saved";
    EXPECT_TRUE(paths.isVisibleTo(&window));

    // "OK" with the question answered "Да" keeps the window while the text
    // cannot be saved.
    op.answers = {kAnswerYes};
    window.accept();
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_EQ(op.takeMessages().size(), 2u);

    // In an item dialog the text is refused and the dialog stays.
    auto &book = *static_cast<CListPage *>(window.page(138));
    op.dialogs = {[&](QDialog &dialog) {
        typeInto(child(dialog, QStringLiteral("email")), QStringLiteral("a@b"));
        // Outside the basic plane: set whole, as an input method would.
        child<QLineEdit>(dialog, QStringLiteral("name"))->setText(QStringLiteral("Ivan 😀"));
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        const std::vector<QString> shown = op.takeMessages();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_TRUE(shown[0].contains(QStringLiteral("«Имя получателя»")));
        EXPECT_TRUE(shown[0].contains(QStringLiteral("U+1F600")));
        typeInto(child(dialog, QStringLiteral("name")), QStringLiteral("Иван Ёжиков"));
        dialog.accept();
    }};
    click(book, 1206);
    EXPECT_EQ(cell(book, 0, 0), QStringLiteral("Иван Ёжиков"));

    // A password is refused too, without naming its character.
    const QString askPassword = QStringLiteral("Введите пароль для настроек");
    op.dialogs = {[&](QDialog &dialog) {
        EXPECT_EQ(dialog.windowTitle(), askPassword);
        typeInto(child(dialog, 1160), QStringLiteral("пароль✓"));
        dialog.accept();
    }};
    window.rootPage()->passwordBox()->click();
    const std::vector<QString> password = op.takeMessages();
    ASSERT_EQ(password.size(), 1u);
    EXPECT_FALSE(password[0].contains(QStringLiteral("✓")));
    EXPECT_TRUE(password[0].contains(QStringLiteral("Windows-1251")));
    EXPECT_FALSE(window.rootPage()->passwordBox()->isChecked());
}
