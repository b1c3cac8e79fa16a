// The notification, initialisation, send-confirmation and send-parameter
// dialogs of the UI module, offscreen: the receipt entries with every length
// they state checked against their buffer, the status table, the modeless
// window's life, the eight texts of the confirmation, the flag rules.
#include "common/codepage.h"
#include "include/tmnui.h"
#include "tests/cryptoui/operator_hook.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <cstring>

using namespace tarmin::test;

namespace {

QString text(QWidget &d, const char *name) {
    auto *l = d.findChild<QLabel *>(QString::fromLatin1(name));
    return l ? l->text() : QStringLiteral("<none>");
}

// One packed entry, its fields as the caller writes them.
struct Entry {
    std::string name, address, type;
    uint32_t recipientType = 0, result = 0;
    int64_t signTime = 0;
    // Lengths as stated; -1: the real length (name with its zero byte).
    int64_t nameLength = -1, addressLength = -1, typeLength = -1;
};

std::string pack(const std::vector<Entry> &entries) {
    std::string out;
    for (const Entry &e : entries) {
        const std::string name = e.name + std::string(1, '\0');
        TmnNotifyEntryHead head{};
        head.NameLength = static_cast<uint32_t>(e.nameLength < 0 ? name.size() : e.nameLength);
        head.AddressLength = static_cast<uint32_t>(e.addressLength < 0 ? e.address.size() : e.addressLength);
        head.AddressTypeLength = static_cast<uint32_t>(e.typeLength < 0 ? e.type.size() : e.typeLength);
        head.RecipientType = e.recipientType;
        head.ReceiptResult = e.result;
        head.SignTime = e.signTime;
        out.append(reinterpret_cast<const char *>(&head), sizeof head);
        out += name + e.address + e.type;
    }
    return out;
}

// 2026-01-05 10:01:02 UTC.
constexpr int64_t kSigned = 1767607262;

TEST(NotificationStatus, ShowsTheCountsAndOneRowPerRecipient) {
    const std::vector<Entry> entries{
        {"Иванов", "ivanov@bank.example", "SMTP", 2, 2, kSigned},
        {"Общий ящик", "/o=Bank/cn=Shared", "EX", 1, 1, kSigned},
        {"Петров", "Petrov/Bank", "NOTES", 0, 0, 0},
    };
    std::vector<Entry> cp1251 = entries;
    for (Entry &e : cp1251) e.name = tarmin::cp::utf8_to_cp1251(e.name);
    const std::string packed = pack(cp1251);
    const TmnNotifyHeader header{3, 1, 1};
    std::vector<std::vector<QString>> rows;
    std::vector<QString> icons;
    std::vector<double> shares;
    QString heading;
    Operator user({[&](QDialog &d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Тармин"));
        auto *h = d.findChild<QLabel *>(QStringLiteral("Heading"));
        heading = h->text();
        EXPECT_EQ(h->font().family(), QStringLiteral("MS Sans Serif"));
        EXPECT_EQ(h->font().pointSize(), 8);
        EXPECT_TRUE(h->font().bold());
        EXPECT_EQ(text(d, "Recipients"), QStringLiteral("3"));
        EXPECT_EQ(text(d, "Received"), QStringLiteral("2"));
        EXPECT_EQ(text(d, "Successes"), QStringLiteral("1"));
        EXPECT_EQ(text(d, "Errors"), QStringLiteral("1"));
        auto *list = d.findChild<QTableWidget *>(QStringLiteral("Receipts"));
        for (int r = 0; r < list->rowCount(); ++r) {
            std::vector<QString> row;
            for (int c = 0; c < 6; ++c) row.push_back(list->item(r, c)->text());
            rows.push_back(row);
            icons.push_back(list->item(r, 0)->data(Qt::UserRole).toString());
        }
        d.show();
        d.resize(1000, 400);
        QApplication::processEvents();
        const int width = list->viewport()->width();
        for (int c = 0; c < 6; ++c) shares.push_back(100.0 * list->columnWidth(c) / width);
        d.findChild<QPushButton *>(QStringLiteral("IDOK"))->click();
        return d.result();
    }});
    EXPECT_EQ(TMN_UIShowNotificationStatus(nullptr, &header, static_cast<uint32_t>(packed.size()), packed.data()), 1);
    EXPECT_EQ(heading, QStringLiteral("Уведомления о криптографической проверке"));
    const std::vector<std::vector<QString>> expected{
        {"Иванов", "05.01.2026 10:01 GMT", "SMTP", "ivanov@bank.example", "Пользователь", "OK"},
        {"Общий ящик", "05.01.2026 10:01 GMT", "EX", "/o=Bank/cn=Shared", "Общая папка", "Ошибка"},
        {"Петров", "", "NOTES", "Petrov/Bank", "Пользователь", "Отсутствует"},
    };
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(icons, (std::vector<QString>{"ok", "error", ""}));
    const double kShares[] = {24, 12, 7, 40, 10, 18};
    ASSERT_EQ(shares.size(), 6u);
    for (int c = 0; c < 6; ++c) EXPECT_NEAR(shares[c], kShares[c], 0.5) << c;
}

TEST(NotificationStatus, EntriesNeedNotBeAlignedAndCancelGivesTwo) {
    const std::string packed = pack({{"a", "b", "c", 0, 2, 0}});
    std::string shifted = "x" + packed;
    const TmnNotifyHeader header{1, 0, 1};
    QString name;
    Operator user({[&](QDialog &d) {
        name = d.findChild<QTableWidget *>(QStringLiteral("Receipts"))->item(0, 3)->text();
        return QDialog::Rejected;
    }});
    EXPECT_EQ(TMN_UIShowNotificationStatus(nullptr, &header, static_cast<uint32_t>(packed.size()), shifted.data() + 1), 2);
    EXPECT_EQ(name, QStringLiteral("b"));
}

TEST(NotificationStatus, LengthsThatDoNotFitTheBufferShowNothing) {
    const std::string good = pack({{"Иванов", "ivanov@bank.example", "SMTP", 0, 2, kSigned}, {"b", "c", "d"}});
    const struct {
        const char *what;
        std::string buffer;
        uint32_t recipients;
    } cases[] = {
        {"name length past the end", pack({{"a", "b", "c", 0, 0, 0, 1000}}), 1},
        {"address length past the end", pack({{"a", "b", "c", 0, 0, 0, -1, 100}}), 1},
        {"type length past the end", pack({{"a", "b", "c", 0, 0, 0, -1, -1, 5}}), 1},
        {"lengths that wrap around in 32 bits", pack({{"a", "b", "c", 0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 3}}), 1},
        {"more recipients than entries", good, 3},
        {"a count no buffer could hold", good, 0xFFFFFFFFu},
    };
    for (const auto &c : cases) {
        const TmnNotifyHeader header{c.recipients, 0, 0};
        Operator user;
        EXPECT_EQ(TMN_UIShowNotificationStatus(nullptr, &header, static_cast<uint32_t>(c.buffer.size()), c.buffer.data()), -1)
            << c.what;
        EXPECT_TRUE(user.dialogs.empty()) << c.what;
    }
    // Every buffer cut short of its two entries is refused; the whole one is shown.
    const TmnNotifyHeader two{2, 0, 1};
    for (size_t length = 0; length <= good.size(); ++length) {
        Operator user({[](QDialog &) { return QDialog::Accepted; }});
        const int32_t rc = TMN_UIShowNotificationStatus(nullptr, &two, static_cast<uint32_t>(length), good.data());
        EXPECT_EQ(rc, length == good.size() ? 1 : -1) << length;
    }
    Operator user;
    EXPECT_EQ(TMN_UIShowNotificationStatus(nullptr, nullptr, 0, nullptr), -1);
    const TmnNotifyHeader none{0, 0, 0};
    user.then([](QDialog &) { return QDialog::Accepted; });
    EXPECT_EQ(TMN_UIShowNotificationStatus(nullptr, &none, 0, nullptr), 1) << "no recipients: an empty list";
    const TmnNotifyHeader one{1, 0, 0};
    EXPECT_EQ(TMN_UIShowNotificationStatus(nullptr, &one, 64, nullptr), -1) << "entries missing";
}

TEST(Init, StatusZeroReturnsAtOnce) {
    Operator user({[](QDialog &) { return QDialog::Accepted; }});
    EXPECT_EQ(TMN_UIShowInit(nullptr, "a", "b", 0), 1);
    EXPECT_TRUE(user.dialogs.empty());
}

TEST(Init, EachStatusShowsItsMessageIconAndHint) {
    const QString errorHint = QStringLiteral("Для определения причины возникновения ошибки посмотрите протокол работы "
                                             "системы. После этого необходимо нажать кнопку \"OK\" и перезапустить приложение.");
    const struct {
        int32_t status;
        const char *message;
    } cases[] = {
        {1, "Ошибка инициализации системы криптографической защиты."},
        {2, "Персональный справочник пользователя не создан. Для его создания необходимо запустить менеджер сертификатов."},
        {3, "Отсутствует локальный справочник пользователя. Для его создания необходимо запустить менеджер сертификатов."},
        {4, "Отсутствует личный сертификат пользователя. Для добавления личного сертификата в справочник необходимо "
            "запустить менеджер сертификатов."},
        {5, "Ошибка проверки персонального справочника пользователя. Необходимо запустить менеджер сертификатов."},
        {-1, "Ошибка инициализации. Необходимо запустить менеджер сертификатов."},
        {6, "Ошибка инициализации. Необходимо запустить менеджер сертификатов."},
        {7, ""},
    };
    const std::string text1 = tarmin::cp::utf8_to_cp1251("Проверка справочника"), text2 = "v3.1";
    for (const auto &c : cases) {
        Operator user({[&](QDialog &d) {
            EXPECT_EQ(d.windowTitle(), QStringLiteral("Инициализация"));
            EXPECT_EQ(text(d, "Status"), QString::fromUtf8(c.message)) << c.status;
            EXPECT_EQ(text(d, "Hint"), errorHint) << c.status;
            EXPECT_EQ(d.findChild<QLabel *>(QStringLiteral("StatusIcon"))->property("icon").toString(), QStringLiteral("error"));
            EXPECT_EQ(text(d, "Text1"), QStringLiteral("Проверка справочника"));
            EXPECT_EQ(text(d, "Text2"), QStringLiteral("v3.1"));
            auto *title = d.findChild<QLabel *>(QStringLiteral("Title"));
            EXPECT_EQ(title->text(), QStringLiteral("Система Тармин\nИнициализация"));
            EXPECT_EQ(title->font().family(), QStringLiteral("Arial"));
            EXPECT_EQ(title->font().pointSize(), 16);
            EXPECT_TRUE(title->font().bold());
            EXPECT_TRUE(d.findChild<QPushButton *>(QStringLiteral("Manager"))->isHidden());
            d.findChild<QPushButton *>(QStringLiteral("IDOK"))->click();
            return d.result();
        }});
        EXPECT_EQ(TMN_UIShowInit(nullptr, text1.c_str(), text2.c_str(), c.status), 1) << c.status;
    }
}

TEST(Init, TheModelessWindowIsShownAtOnceAndDestroyedByItsHandle) {
    const std::string t1 = tarmin::cp::utf8_to_cp1251("Подождите"), t2 = "2", t3 = "3";
    QZ_HWND handle = TMN_UIShowUnmodalInit(nullptr, t1.c_str(), t2.c_str(), t3.c_str());
    ASSERT_NE(handle, nullptr);
    QPointer<QWidget> window(static_cast<QWidget *>(handle));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Инициализация"));
    EXPECT_EQ(text(*window, "Title"), QStringLiteral("Система \"Тармин\"\nИнициализация"));
    EXPECT_EQ(text(*window, "Prompt"), QStringLiteral("Вставьте ключевую дискету"));
    EXPECT_EQ(text(*window, "Text1"), QStringLiteral("Подождите"));
    EXPECT_EQ(text(*window, "Text3"), QStringLiteral("3"));
    // A handle that is not such a window is left alone.
    QWidget other;
    TMN_UIDeleteUnmodalInit(&other);
    TMN_UIDeleteUnmodalInit(nullptr);
    EXPECT_FALSE(window.isNull());
    TMN_UIDeleteUnmodalInit(handle);
    EXPECT_TRUE(window.isNull());
    TMN_UIDeleteUnmodalInit(handle); // once more: nothing left to destroy
}

TEST(SendNotifyBox, EightTextsByFlags) {
    const struct {
        uint32_t flags;
        const char *text;
    } cases[] = {
        {0x00, "Сообщение будет отправлено в открытом виде."},
        {0x01, "Сообщение будет отправлено в зашифрованном виде."},
        {0x02, "Сообщение будет отправлено в подписанном виде."},
        {0x03, "Сообщение будет отправлено в зашифрованном и подписанном виде."},
        {0x10, "Сообщение будет сохранено в открытом виде."},
        {0x11, "Сообщение будет сохранено в зашифрованном виде."},
        {0x12, "Сообщение будет сохранено в подписанном виде."},
        {0x13, "Сообщение будет сохранено в зашифрованном и подписанном виде."},
        {0xE7, "Сообщение будет отправлено в зашифрованном и подписанном виде."}, // other bits ignored
    };
    for (const auto &c : cases) {
        Operator user;
        EXPECT_EQ(TMN_UISendNotifyBox(nullptr, c.flags), 1) << c.flags;
        ASSERT_EQ(user.boxes.size(), 1u);
        const auto &box = user.boxes[0];
        EXPECT_EQ(box.text, QString::fromUtf8(c.text)) << c.flags;
        EXPECT_EQ(box.caption, QStringLiteral("Система защиты"));
        EXPECT_EQ(box.flags & 0xFu, TMN_MB_OKCANCEL);
        EXPECT_EQ(box.flags & 0xF0u, (c.flags & 3) ? TMN_MB_ICONINFORMATION : TMN_MB_ICONWARNING) << c.flags;
        EXPECT_TRUE(box.flags & TMN_MB_TOPMOST);
        EXPECT_TRUE(box.flags & TMN_MB_TASKMODAL) << "no owner";
    }
    Operator cancel;
    cancel.answer(TMN_IDCANCEL);
    QWidget owner;
    EXPECT_EQ(TMN_UISendNotifyBox(&owner, 0x03), 2);
    EXPECT_FALSE(cancel.boxes[0].flags & TMN_MB_TASKMODAL) << "modal for its owner only";
}

TEST(GetUserInput, FlagsCheckAndFixTheBoxes) {
    const struct {
        uint32_t flags;
        bool signedChecked, signedEnabled, encryptedChecked, encryptedEnabled;
        uint32_t out;
    } cases[] = {
        {0x00, false, true, false, true, 0x00}, {0x08, true, true, false, true, 0x02},
        {0x10, true, false, false, true, 0x02}, {0x01, false, true, true, true, 0x01},
        {0x02, false, true, true, false, 0x01}, {0x09, true, true, true, true, 0x03},
        {0x12, true, false, true, false, 0x03}, {0x1B, true, false, true, false, 0x03},
    };
    for (const auto &c : cases) {
        Operator user({[&](QDialog &d) {
            EXPECT_EQ(d.windowTitle(), QStringLiteral("Параметры отправлемого сообщения"));
            auto *s = d.findChild<QCheckBox *>(QStringLiteral("Signed"));
            auto *e = d.findChild<QCheckBox *>(QStringLiteral("Encrypted"));
            EXPECT_EQ(s->text(), QStringLiteral("Подписано"));
            EXPECT_EQ(e->text(), QStringLiteral("Зашифровано"));
            EXPECT_EQ(s->isChecked(), c.signedChecked) << c.flags;
            EXPECT_EQ(s->isEnabled(), c.signedEnabled) << c.flags;
            EXPECT_EQ(e->isChecked(), c.encryptedChecked) << c.flags;
            EXPECT_EQ(e->isEnabled(), c.encryptedEnabled) << c.flags;
            d.findChild<QPushButton *>(QStringLiteral("IDOK"))->click();
            return d.result();
        }});
        uint32_t out = 0xDEAD;
        EXPECT_EQ(GetUserInput(nullptr, c.flags, &out), 0) << c.flags;
        EXPECT_EQ(out, c.out) << c.flags;
    }
}

TEST(GetUserInput, TheOperatorsChoiceAndCancel) {
    Operator user({[](QDialog &d) {
        d.findChild<QCheckBox *>(QStringLiteral("Signed"))->click();    // unchecks
        d.findChild<QCheckBox *>(QStringLiteral("Encrypted"))->click(); // checks
        return QDialog::Accepted;
    }});
    uint32_t out = 0;
    EXPECT_EQ(GetUserInput(nullptr, 0x08, &out), 0);
    EXPECT_EQ(out, 0x01u);
    user.then([](QDialog &) { return QDialog::Rejected; });
    out = 0x77;
    EXPECT_EQ(GetUserInput(nullptr, 0x08, &out), 1);
    EXPECT_EQ(out, 0x77u);
    EXPECT_EQ(GetUserInput(nullptr, 0x08, nullptr), 1);
    EXPECT_EQ(user.dialogs.size(), 2u);
}

} // namespace
