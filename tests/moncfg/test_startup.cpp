// Start-up of the configuration program on its real windows, with a scripted
// operator answering the password dialogs and message boxes: the caption
// with the profile, the settings password asked, accepted and refused with
// their texts and exit codes, the password set and removed on the root
// page, and a second start that brings the first one forward.
#include "moncfg/gui/CFpconfigDlg.h"
#include "moncfg/gui/CMainApp.h"
#include "moncfg/gui/CProtPass.h"
#include "moncfg/gui/CfgUi.h"
#include "platform/process.h"
#include "qzcom.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>
#include <deque>
#include <optional>
#include <string>
#include <vector>

using namespace tarmin::moncfg;

namespace {

struct Message {
    QString text;
    MsgIcon icon;
};

// Types the queued passwords into the password dialogs (nullopt: "Отмена")
// and notes every dialog caption and message.
class ScriptedOperator : public UiHook {
public:
    ScriptedOperator() { m_previous = setUiHook(this); }
    ~ScriptedOperator() override { setUiHook(m_previous); }

    std::deque<std::optional<QString>> passwords;
    std::vector<QString> captions;
    std::vector<Message> messages;

    int messageBox(QWidget *, const QString &text, MsgIcon icon, MsgButtons buttons) override {
        messages.push_back({text, icon});
        return buttons == MsgButtons::YesNo ? kAnswerNo : kAnswerOk;
    }
    int runDialog(QDialog &dialog) override {
        captions.push_back(dialog.windowTitle());
        EXPECT_FALSE(passwords.empty()) << "unexpected dialog " << dialog.windowTitle().toStdString();
        if (passwords.empty() || !passwords.front()) {
            if (!passwords.empty()) passwords.pop_front();
            dialog.reject();
        } else {
            auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("1160"));
            EXPECT_NE(edit, nullptr);
            EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
            edit->setText(*passwords.front());
            passwords.pop_front();
            dialog.accept();
        }
        return dialog.result();
    }

    // The only message shown since the last look, then forgets it.
    void expectOnlyMessage(const QString &text, MsgIcon icon) {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, text);
        EXPECT_EQ(messages[0].icon, icon);
        messages.clear();
    }

private:
    UiHook *m_previous = nullptr;
};

const QString kAsk = QStringLiteral("Введите пароль для настроек");
const QString kAskAgain = QStringLiteral("Введите пароль еще раз");

// The stored "Hash" of the running program's profile; nullopt when absent.
std::optional<std::string> storedHash() {
    char buffer[64];
    QZ_DWORD length = sizeof buffer;
    if (QZ_GetKeyBinary(QZ_GetProductKeyName(), "Hash", buffer, &length, 0) != 0) return std::nullopt;
    return std::string(buffer, length);
}

// Writes "Hash" of a profile before the program starts.
void writeHash(const std::string &profile, const std::string &bytes) {
    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", profile.c_str(), QZ_VERSION), 0);
    ASSERT_EQ(QZ_SetKeyBinary(QZ_GetProductKeyName(), "Hash", bytes.data(), bytes.size(), 3, 0), 0);
    QZ_Finalize();
}

std::string digestOf(const std::string &profile, const std::string &password) {
    EXPECT_EQ(QZ_InitializeWithProfile("tarmin-operator", profile.c_str(), QZ_VERSION), 0);
    unsigned char digest[32];
    EXPECT_EQ(QZ_HashPassword(password.data(), password.size(), digest), 0);
    QZ_Finalize();
    return std::string(reinterpret_cast<char *>(digest), sizeof digest);
}

QCheckBox *passwordBox(const CMainApp &app) { return app.mainDialog()->findChild<QCheckBox *>(QStringLiteral("1158")); }

} // namespace

TEST(MoncfgStartup, CaptionCarriesTheProfileAndNoPasswordIsAsked) {
    ScriptedOperator op;
    {
        CMainApp app;
        ASSERT_TRUE(app.InitInstance({"tmnmoncfg", "/profile=plain", "-Profile:ignored"}));
        EXPECT_EQ(app.mainDialog()->windowTitle(), QStringLiteral("Тармин-Оператор - [plain]"));
        EXPECT_TRUE(app.mainDialog()->isVisible());
        EXPECT_FALSE(passwordBox(app)->isChecked());
        EXPECT_TRUE(app.isSingleInstance());
        app.mainDialog()->accept();
        EXPECT_EQ(app.ExitInstance(), CMainApp::kExitOk);
    }
    {
        CMainApp app;
        ASSERT_TRUE(app.InitInstance({"tmnmoncfg"}));
        EXPECT_EQ(app.mainDialog()->windowTitle(), QStringLiteral("Тармин-Оператор"));
        EXPECT_EQ(app.ExitInstance(), CMainApp::kExitOk);
    }
    EXPECT_TRUE(op.captions.empty());
    EXPECT_TRUE(op.messages.empty());
}

TEST(MoncfgStartup, FailedInitialisationNamesTheProfile) {
    ScriptedOperator op;
    CMainApp app;
    // A backslash cannot be part of a key name.
    EXPECT_FALSE(app.InitInstance({"tmnmoncfg", "-profile:a\\b"}));
    EXPECT_EQ(app.mainDialog(), nullptr);
    EXPECT_EQ(app.ExitInstance(), CMainApp::kExitInitFailed);
    op.expectOnlyMessage(QStringLiteral("Ошибка инициализации QZ_InitializeWithProfile a\\b"), MsgIcon::Stop);
}

TEST(MoncfgPassword, SetOnTheRootPageThenAskedAcceptedAndRemoved) {
    ScriptedOperator op;
    {
        CMainApp app;
        ASSERT_TRUE(app.InitInstance({"tmnmoncfg", "-profile=guarded"}));
        // Two different texts: refused, nothing written.
        op.passwords = {QStringLiteral("секрет"), QStringLiteral("другой")};
        passwordBox(app)->click();
        op.expectOnlyMessage(QStringLiteral("Введенные пароли не совпадают!"), MsgIcon::Information);
        EXPECT_FALSE(passwordBox(app)->isChecked());
        EXPECT_EQ(storedHash(), std::nullopt);
        // "Отмена" at the second prompt changes nothing either.
        op.passwords = {QStringLiteral("секрет"), std::nullopt};
        passwordBox(app)->click();
        EXPECT_EQ(storedHash(), std::nullopt);
        // The same text twice: its digest is stored at once.
        op.passwords = {QStringLiteral("секрет"), QStringLiteral("секрет")};
        passwordBox(app)->click();
        EXPECT_TRUE(passwordBox(app)->isChecked());
        EXPECT_EQ(storedHash().value_or("").size(), 32u);
        EXPECT_EQ(op.captions, (std::vector<QString>{kAsk, kAskAgain, kAsk, kAskAgain, kAsk, kAskAgain}));
        EXPECT_FALSE(app.mainDialog()->isModified());
        EXPECT_EQ(app.ExitInstance(), CMainApp::kExitOk);
    }
    op.captions.clear();
    {
        CMainApp app;
        op.passwords = {QStringLiteral("секрет")};
        ASSERT_TRUE(app.InitInstance({"tmnmoncfg", "-profile=guarded"}));
        EXPECT_EQ(op.captions, std::vector<QString>{kAsk});
        EXPECT_TRUE(passwordBox(app)->isChecked());
        // Removing asks for nothing and writes the single zero byte.
        passwordBox(app)->click();
        EXPECT_FALSE(passwordBox(app)->isChecked());
        EXPECT_EQ(storedHash(), std::string(1, '\0'));
        EXPECT_EQ(op.captions.size(), 1u);
        EXPECT_EQ(app.ExitInstance(), CMainApp::kExitOk);
    }
    EXPECT_TRUE(op.messages.empty());
}

TEST(MoncfgPassword, WrongOrCancelledPasswordEndsTheProgram) {
    ScriptedOperator op;
    writeHash("locked", digestOf("locked", "верный"));
    {
        CMainApp app;
        op.passwords = {QStringLiteral("неверный")};
        EXPECT_FALSE(app.InitInstance({"tmnmoncfg", "-profile=locked"}));
        EXPECT_EQ(app.mainDialog(), nullptr);
        EXPECT_EQ(app.ExitInstance(), CMainApp::kExitWrongPassword);
        op.expectOnlyMessage(QStringLiteral("Неверный пароль"), MsgIcon::Stop);
    }
    {
        CMainApp app;
        op.passwords = {std::nullopt};
        EXPECT_FALSE(app.InitInstance({"tmnmoncfg", "-profile=locked"}));
        EXPECT_EQ(app.ExitInstance(), CMainApp::kExitPasswordCancelled);
        EXPECT_TRUE(op.messages.empty());
    }
    // The digest is salted with the profile's key: the right password of
    // another profile's digest does not open this one.
    writeHash("locked2", digestOf("locked", "верный"));
    {
        CMainApp app;
        op.passwords = {QStringLiteral("верный")};
        EXPECT_FALSE(app.InitInstance({"tmnmoncfg", "-profile=locked2"}));
        EXPECT_EQ(app.ExitInstance(), CMainApp::kExitWrongPassword);
    }
}

TEST(MoncfgPassword, EmptyPasswordAndDigestsOfOtherLengths) {
    ScriptedOperator op;
    // An empty text confirmed twice is a password like any other.
    {
        CMainApp app;
        ASSERT_TRUE(app.InitInstance({"tmnmoncfg", "-profile=empty"}));
        op.passwords = {QString(), QString()};
        passwordBox(app)->click();
        EXPECT_EQ(storedHash().value_or("").size(), 32u);
        app.ExitInstance();
    }
    {
        CMainApp app;
        op.passwords = {QString()};
        EXPECT_TRUE(app.InitInstance({"tmnmoncfg", "-profile=empty"}));
        EXPECT_EQ(app.ExitInstance(), CMainApp::kExitOk);
    }
    {
        CMainApp app;
        op.passwords = {QStringLiteral("x")};
        EXPECT_FALSE(app.InitInstance({"tmnmoncfg", "-profile=empty"}));
        EXPECT_EQ(app.ExitInstance(), CMainApp::kExitWrongPassword);
    }
    // A stored value of any length but 1 asks for the password, and only a
    // 32-byte digest can match: the right digest with a byte more, or cut
    // short, opens nothing.
    const std::string digest = digestOf("odd", "pw");
    for (const std::string &stored : {digest + '\0', digest.substr(0, 31), std::string()}) {
        writeHash("odd", stored);
        CMainApp app;
        op.captions.clear();
        op.passwords = {QStringLiteral("pw")};
        EXPECT_FALSE(app.InitInstance({"tmnmoncfg", "-profile=odd"})) << stored.size();
        EXPECT_EQ(op.captions, std::vector<QString>{kAsk});
        EXPECT_EQ(app.ExitInstance(), CMainApp::kExitWrongPassword);
    }
}

TEST(MoncfgInstance, SecondStartBringsTheFirstForwardAndEnds) {
    ScriptedOperator op;
    CMainApp app;
    ASSERT_TRUE(app.InitInstance({"tmnmoncfg", "-profile=single"}));
    QSignalSpy activated(&app, &CMainApp::activated);

    tarmin::platform::Process second;
    ASSERT_TRUE(second.start(tarmin::test::built_program("tmnmoncfg").string(), {"/profile:single"}));
    // The first instance answers from its event loop while the second waits.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !second.running(); }, 20000));
    EXPECT_EQ(second.exit_code(), CMainApp::kExitOk);
    EXPECT_EQ(activated.count(), 1);
    EXPECT_TRUE(app.mainDialog()->isVisible());

    // A start of the same program for another profile is not this one: it
    // does not end on its own.
    tarmin::platform::Process other;
    ASSERT_TRUE(other.start(tarmin::test::built_program("tmnmoncfg").string(), {"-profile=another"}));
    EXPECT_FALSE(QTest::qWaitFor([&] { return !other.running(); }, 1500));
    other.terminate();
    other.wait();
    EXPECT_EQ(activated.count(), 1);
    EXPECT_EQ(app.ExitInstance(), CMainApp::kExitOk);
}
