// The key-number prompt with its remembered history, the splash window that
// closes itself, and the save-as prompt, on the real dialogs offscreen with
// the operator's part played by a hook.
#include "common/codepage.h"
#include "include/qzcom.h"
#include "include/qzvoui.h"
#include "operator_hook.h"
#include "testsupport.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

using namespace tarmin::test;
using namespace tarmin::cp::literals;

namespace {

constexpr const char *kHistory = "Software\\KELVORIA\\common-M";

// Every value of the history key, as text ("NumOfKeys" as its number).
std::map<std::string, std::string> historyValues() {
    std::map<std::string, std::string> out;
    char name[256];
    QZ_DWORD type = 0;
    for (QZ_DWORD i = 0; QZ_RegEnumValue(kHistory, i, name, sizeof name, &type) == 0; ++i) {
        if (type == QZ_REG_DWORD) {
            QZ_DWORD v = 0;
            QZ_GetKeyDword(kHistory, name, &v);
            out[name] = std::to_string(v);
        } else {
            char *text = nullptr;
            QZ_GetKeyString(kHistory, name, &text, "");
            out[name] = text ? text : "";
            QZ_Free(text);
        }
    }
    return out;
}

void writeHistory(const std::vector<std::string> &entries, const std::string &current) {
    QZ_DeleteKey(kHistory, 0);
    QZ_SetKeyDword(kHistory, "NumOfKeys", static_cast<QZ_DWORD>(entries.size()), 0);
    for (size_t i = 0; i < entries.size(); ++i) QZ_SetKeyString(kHistory, std::to_string(i).c_str(), entries[i].c_str(), 0);
    if (!current.empty()) QZ_SetKeyString(kHistory, "CurrentKey", current.c_str(), 0);
}

std::string keyNumber(int n) {
    char s[16];
    std::snprintf(s, sizeof s, "%06dAB%04d", n, n);
    return s;
}

std::vector<std::string> keyNumbers(int from, int to) {
    std::vector<std::string> v;
    for (int i = from; i <= to; ++i) v.push_back(keyNumber(i));
    return v;
}

QComboBox *keyList(QDialog &d) { return d.findChild<QComboBox *>(QStringLiteral("KeyNumber")); }

// Types an entry and presses OK; the dialog's answer.
int typeAndConfirm(QDialog &d, const QString &entry) {
    keyList(d)->setEditText(entry);
    d.findChild<QPushButton *>(QStringLiteral("IDOK"))->click();
    return d.result() == QDialog::Accepted ? QDialog::Accepted : QDialog::Rejected;
}

class KeyNumber : public ::testing::Test {
protected:
    void SetUp() override { QZ_DeleteKey(kHistory, 0); }
};

TEST_F(KeyNumber, OpensWithTheHistoryAndTheCurrentEntryLimitedToTheLength) {
    writeHistory(keyNumbers(1, 3), keyNumber(2));
    QStringList items;
    QString shown, explanation;
    int maxLength = 0;
    Operator op({[&](QDialog &d) {
        for (int i = 0; i < keyList(d)->count(); ++i) items << keyList(d)->itemText(i);
        shown = keyList(d)->currentText();
        maxLength = keyList(d)->lineEdit()->maxLength();
        explanation = d.findChild<QLabel *>(QStringLiteral("Explanation"))->text();
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Укажите номер ключа"));
        return QDialog::Rejected;
    }});
    char buffer[13] = "unchanged";
    EXPECT_EQ(TMN_UIGetUserKeyNumber(buffer, 12, 1), 2);
    EXPECT_STREQ(buffer, "unchanged");
    EXPECT_EQ(items, (QStringList{"000001AB0001", "000002AB0002", "000003AB0003"}));
    EXPECT_EQ(shown, QStringLiteral("000002AB0002"));
    EXPECT_EQ(maxLength, 12);
    EXPECT_EQ(explanation, QStringLiteral("Укажите номер ключа в формате \"NNNNNNCCCCCC\"\nгде: N - номер ключа\n        C - серия ключа"));
}

// What confirming an entry does to a history.
struct Confirmation {
    const char *name;
    std::vector<std::string> before;
    std::string typed;
    std::vector<std::string> after;
};

TEST_F(KeyNumber, ConfirmedEntriesAreRememberedAtMostTen) {
    const Confirmation cases[] = {
        {"first entry of an empty history", {}, keyNumber(7), {keyNumber(7)}},
        {"a new entry goes last", keyNumbers(1, 3), keyNumber(9), {keyNumber(1), keyNumber(2), keyNumber(3), keyNumber(9)}},
        {"a known entry is not added again", keyNumbers(1, 3), keyNumber(1), keyNumbers(1, 3)},
        {"the eleventh pushes the oldest out", keyNumbers(1, 10), keyNumber(11), keyNumbers(2, 11)},
        {"a known entry of a full list keeps it", keyNumbers(1, 10), keyNumber(5), keyNumbers(1, 10)},
    };
    for (const auto &c : cases) {
        writeHistory(c.before, c.before.empty() ? "" : c.before.front());
        Operator op({[&](QDialog &d) { return typeAndConfirm(d, QString::fromStdString(c.typed)); }});
        char buffer[13] = {};
        EXPECT_EQ(TMN_UIGetUserKeyNumber(buffer, 12, 1), 1) << c.name;
        EXPECT_EQ(std::string(buffer), c.typed) << c.name;
        EXPECT_TRUE(op.boxes.empty()) << c.name;
        std::map<std::string, std::string> expected{{"NumOfKeys", std::to_string(c.after.size())}, {"CurrentKey", c.typed}};
        for (size_t i = 0; i < c.after.size(); ++i) expected[std::to_string(i)] = c.after[i];
        EXPECT_EQ(historyValues(), expected) << c.name;
    }
}

TEST_F(KeyNumber, AnEntryOfAnotherLengthIsRefusedAndNothingIsWritten) {
    writeHistory(keyNumbers(1, 2), keyNumber(1));
    const auto before = historyValues();
    int afterShort = -1;
    Operator op({[&](QDialog &d) {
        afterShort = typeAndConfirm(d, QStringLiteral("00000AB0001")); // one character short
        EXPECT_EQ(typeAndConfirm(d, QStringLiteral("")), QDialog::Rejected);
        return QDialog::Rejected; // the operator gives up
    }});
    char buffer[13] = "x";
    EXPECT_EQ(TMN_UIGetUserKeyNumber(buffer, 12, 1), 2);
    EXPECT_EQ(afterShort, QDialog::Rejected) << "the entry stays open";
    ASSERT_EQ(op.boxes.size(), 2u);
    EXPECT_EQ(op.boxes[0].text, QStringLiteral("Неправильно введены номер  и серия ключа."));
    EXPECT_EQ(op.boxes[0].flags & 0xF0u, TMN_MB_ICONERROR);
    EXPECT_EQ(historyValues(), before);
    EXPECT_STREQ(buffer, "x");
}

TEST_F(KeyNumber, MissingArgumentsShowNothing) {
    Operator op({[](QDialog &) { return QDialog::Accepted; }});
    char buffer[8];
    EXPECT_EQ(TMN_UIGetUserKeyNumber(nullptr, 4, 1), 2);
    EXPECT_EQ(TMN_UIGetUserKeyNumber(buffer, 0, 1), 2);
    EXPECT_EQ(TMN_UIGetUserKeyNumber(buffer, 4, 0), 2);
    EXPECT_TRUE(op.dialogs.empty());
}

TEST_F(KeyNumber, ADamagedCountReadsAtMostTenEntries) {
    writeHistory(keyNumbers(1, 12), keyNumber(1));
    QZ_SetKeyDword(kHistory, "NumOfKeys", 0xFFFFFFFFu, 0);
    int count = 0;
    Operator op({[&](QDialog &d) {
        count = keyList(d)->count();
        return QDialog::Rejected;
    }});
    char buffer[13];
    EXPECT_EQ(TMN_UIGetUserKeyNumber(buffer, 12, 1), 2);
    EXPECT_EQ(count, 10);
}

TEST(Splash, ClosesItselfAfterItsSeconds) {
    const struct {
        int seconds;
        qint64 atLeast, below;
    } cases[] = {{0, 0, 900}, {-5, 0, 900}, {1, 950, 5000}};
    for (const auto &c : cases) {
        qint64 elapsed = -1;
        int interval = -1;
        QString title, text;
        Operator op({[&](QDialog &d) {
            auto *timer = d.findChild<QTimer *>(QStringLiteral("101"));
            interval = timer ? timer->interval() : -1;
            title = d.windowTitle();
            text = d.findChild<QLabel *>(QStringLiteral("SplashText"))->text();
            QElapsedTimer clock;
            clock.start();
            const int r = d.exec();
            elapsed = clock.elapsed();
            return r;
        }});
        EXPECT_EQ(TMN_UIShowSplash("Тармин"_w, "Идёт проверка ключа..."_w, c.seconds), 1);
        EXPECT_EQ(interval, std::max(0, c.seconds) * 1000) << c.seconds;
        EXPECT_GE(elapsed, c.atLeast) << c.seconds;
        EXPECT_LT(elapsed, c.below) << c.seconds;
        EXPECT_EQ(title, QStringLiteral("Тармин"));
        EXPECT_EQ(text, QStringLiteral("Идёт проверка ключа..."));
    }
}

TEST(Splash, NullTitleOrTextShowsNothing) {
    Operator op;
    EXPECT_EQ(TMN_UIShowSplash(nullptr, "x", 0), 1);
    EXPECT_EQ(TMN_UIShowSplash("x", nullptr, 0), 1);
    EXPECT_TRUE(op.dialogs.empty());
}

class SaveAs : public ::testing::Test {
protected:
    std::filesystem::path dir = make_temp_dir("saveas");
    std::string title = "Сохранить как"_w;
    std::string filter = "Файл распечатки (*.txt)|*.txt|Все файлы (*.*)|*.*||"_w;
    int32_t ask(char *name, char *out) {
        return TMN_GetNameFileSaveAs(name, dir.c_str(), "txt", title.c_str(), filter.c_str(), out);
    }
};

TEST_F(SaveAs, ChosenNameGetsTheDefaultExtensionAndTheFullPath) {
    QStringList filters;
    QString caption, proposed;
    Operator op({[&](QDialog &d) {
        auto &files = static_cast<QFileDialog &>(d);
        filters = files.nameFilters();
        caption = files.windowTitle();
        EXPECT_EQ(files.directory().absolutePath().toStdString(), dir.string());
        EXPECT_EQ(files.defaultSuffix(), QStringLiteral("txt"));
        return chooseFile(d, dir / "отчёт");
    }});
    char name[TMN_MAX_PATH] = "proposed.txt";
    char out[TMN_MAX_PATH] = {};
    EXPECT_EQ(ask(name, out), 1);
    const std::string expected = tarmin::cp::utf8_to_cp1251((dir / "отчёт.txt").string());
    EXPECT_EQ(std::string(name), expected);
    EXPECT_EQ(std::string(out), expected);
    EXPECT_EQ(caption, QStringLiteral("Сохранить как"));
    EXPECT_EQ(filters, (QStringList{"Файл распечатки (*.txt *.TXT)", "Все файлы (*)"}));
}

TEST_F(SaveAs, AnExistingFileIsReplacedOnlyWhenTheOperatorAgrees) {
    write_file(dir / "old.txt", "keep");
    for (int answer : {TMN_IDNO, TMN_IDYES}) {
        Operator op({chooses(dir / "old.txt")});
        op.answer(answer);
        char name[TMN_MAX_PATH] = "";
        EXPECT_EQ(ask(name, nullptr), answer == TMN_IDYES ? 1 : 2);
        ASSERT_EQ(op.boxes.size(), 1u);
        EXPECT_TRUE(op.boxes[0].text.contains(QStringLiteral("уже существует"))) << op.boxes[0].text.toStdString();
        EXPECT_EQ(op.boxes[0].flags & 0xFu, TMN_MB_YESNO);
        EXPECT_EQ(std::string(name), answer == TMN_IDYES ? (dir / "old.txt").string() : "");
    }
    EXPECT_EQ(read_file(dir / "old.txt"), "keep") << "the prompt only names the file";
}

TEST_F(SaveAs, ANameThatWindows1251CannotHoldIsRefusedWithAMessage) {
    Operator op({chooses(dir / "报告.txt")});
    char name[TMN_MAX_PATH] = "before";
    EXPECT_EQ(ask(name, nullptr), 2);
    EXPECT_STREQ(name, "before");
    ASSERT_EQ(op.boxes.size(), 1u);
    EXPECT_TRUE(op.boxes[0].text.contains(QStringLiteral("Windows-1251")));
    EXPECT_EQ(op.boxes[0].flags & 0xF0u, TMN_MB_ICONERROR);
}

TEST_F(SaveAs, CancelLeavesTheNameAsItWas) {
    Operator op({[](QDialog &) { return QDialog::Rejected; }});
    char name[TMN_MAX_PATH] = "before";
    EXPECT_EQ(ask(name, nullptr), 2);
    EXPECT_STREQ(name, "before");
    EXPECT_EQ(TMN_GetNameFileSaveAs(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 2);
}

} // namespace

namespace {

// Without a hook the box runs its own loop: the button the operator presses
// comes back as the system's answer, and closing it gives the cancelling one.
TEST(MessageBoxButtons, TheRealBoxAnswersWithTheButtonPressed) {
    const struct {
        uint32_t flags;
        const char *press; // null: closed with Escape
        int answer;
    } cases[] = {
        {TMN_MB_YESNO, "Нет", TMN_IDNO},          {TMN_MB_YESNO, "Да", TMN_IDYES},
        {TMN_MB_OKCANCEL, "Отмена", TMN_IDCANCEL}, {TMN_MB_OKCANCEL, "OK", TMN_IDOK},
        {TMN_MB_OKCANCEL, nullptr, TMN_IDCANCEL},  {TMN_MB_OK, nullptr, TMN_IDOK},
    };
    for (const auto &c : cases) {
        QStringList buttons;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !buttons.isEmpty()) return;
            for (auto *b : box->buttons()) buttons << b->text();
            if (!c.press) {
                box->reject();
                return;
            }
            for (auto *b : box->buttons())
                if (b->text() == QString::fromUtf8(c.press)) b->click();
        });
        poll.start();
        EXPECT_EQ(tarmin::qzvoui::showMessageBox(QStringLiteral("Вопрос"), QStringLiteral("Тармин"),
                                                 c.flags | TMN_MB_ICONQUESTION),
                  c.answer)
            << c.press;
        EXPECT_EQ(buttons.size(), (c.flags & 0xF) == TMN_MB_OK ? 1 : 2);
    }
}

} // namespace
