// Starting or activating the configuration program: at start-up when
// "Setup" asks for it (waiting until it exits, so that the settings it wrote
// are read), from the configuration command, and the messages when it
// cannot be located or started. A small stand-in program plays the
// configuration program.
#include "GuiTestSupport.h"
#include "testsupport.h"

#include "monitor/app/CMainApp.h"
#include "monitor/app/CMainFrame.h"
#include "platform/single_instance.h"
#include "qzcom.h"

#include <QAction>
#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tarmin::monitor;
using namespace tarmin::test;
namespace fs = std::filesystem;

namespace {

// The stand-in is built next to this test program.
fs::path fakeProgram() {
    return fs::path(QCoreApplication::applicationDirPath().toStdString()) / "fake_tmnmoncfg";
}

const QString kStartFailed = QStringLiteral(
    "Ошибка запуска программы конфигурации. Попробуйте запустить программу конфигурации вручную или "
    "переустановите ПО.");

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        profile = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        logs = make_temp_dir("gwlogs");
        install = make_temp_dir("install");
        fs::create_symlink(fakeProgram(), install / "tmnmoncfg");
        noteFile = home() / (profile + ".log");
        qputenv("FAKE_TMNMONCFG_LOG", QByteArray::fromStdString(noteFile.string()));
        qunsetenv("FAKE_TMNMONCFG_LOGDIR");
        qputenv("FAKE_TMNMONCFG_LIFETIME", "600");
    }
    void TearDown() override {
        if (app) app->ExitInstance();
        if (background.state() != QProcess::NotRunning) {
            background.kill();
            background.waitForFinished();
        }
    }
    std::vector<std::string> notes() const {
        std::vector<std::string> lines;
        std::string text = read_file(noteFile);
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(text.substr(start, nl - start));
        return lines;
    }
    uint32_t setupFlag() {
        uint32_t value = 99;
        QZ_InitializeWithProfile("tarmin-operator", profile.c_str(), QZ_VERSION);
        QZ_QueryDword(QZ_GetSettingsKey(0), "Setup", &value);
        QZ_Finalize();
        return value;
    }
    void startInBackground(int lifetimeMs) {
        background.setProgram(QString::fromStdString(fakeProgram().string()));
        background.setArguments({QStringLiteral("-profile=") + QString::fromStdString(profile)});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("FAKE_TMNMONCFG_LIFETIME"), QString::number(lifetimeMs));
        background.setProcessEnvironment(environment);
        background.start();
        ASSERT_TRUE(background.waitForStarted());
        // Ready once its socket takes connections.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return tarmin::platform::SingleInstanceClient::instance_running("tmnmoncfg", profile, 50); }, 5000));
    }

    std::string profile;
    fs::path logs, install, noteFile;
    MessageRecorder messages;
    DialogScript dialogs;
    std::unique_ptr<CMainApp> app;
    QProcess background;
};

} // namespace

TEST_F(ConfigTest, SetupRunsTheProgramWaitsForItAndReadsWhatItWrote) {
    // No log directory yet: the configuration program writes it before it exits.
    setDword(profile, "Setup", 1);
    setString(profile, "Path", install.string());
    qputenv("FAKE_TMNMONCFG_LOGDIR", QByteArray::fromStdString(logs.string()));
    app = startMonitor({"-profile=" + profile});
    ASSERT_TRUE(app) << (messages.messages.empty() ? "" : messages.messages[0].text.toStdString());
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(notes(), (std::vector<std::string>{"start -profile=" + profile, "raise", "exit"}));
    EXPECT_EQ(app->startupSettings().logDirectory, logs.string() + "/");
    app->ExitInstance();
    app.reset();
    EXPECT_EQ(setupFlag(), 0u);
}

TEST_F(ConfigTest, SetupWithTheProgramRunningActivatesItAndStartsNoSecondCopy) {
    setString(profile, "GWMonGWLogDirectory", logs.string());
    setDword(profile, "Setup", 1);
    setString(profile, "Path", install.string());
    startInBackground(1500);
    app = startMonitor({"-profile=" + profile});
    ASSERT_TRUE(app);
    // It was raised and waited for; it was not started again.
    EXPECT_EQ(notes(), (std::vector<std::string>{"start -profile=" + profile, "raise", "exit"}));
    // The "exit" note above shows that the monitor waited for the program's
    // end; the process itself ends a moment later (the sanitizers' exit checks).
    // (waitForFinished is false for a process whose end was already seen.)
    EXPECT_TRUE(background.state() == QProcess::NotRunning || background.waitForFinished(10000));
}

TEST_F(ConfigTest, CommandStartsTheProgramWhenItIsNotRunning) {
    setString(profile, "GWMonGWLogDirectory", logs.string());
    setString(profile, "Path", install.string());
    app = startMonitor({"-profile=" + profile});
    ASSERT_TRUE(app);
    app->mainFrame()->command(kCmdConfiguration)->trigger();
    EXPECT_TRUE(messages.messages.empty());
    // The program notes the request when it reads it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return notes().size() >= 2; }, 3000));
    auto n = notes();
    EXPECT_EQ(n[0], "start -profile=" + profile);
    EXPECT_EQ(n[1], "raise");
    // Not waited for: the monitor goes on while the program runs.
    EXPECT_TRUE(app->mainFrame()->isEnabled());
}

TEST_F(ConfigTest, CommandActivatesTheRunningProgram) {
    setString(profile, "GWMonGWLogDirectory", logs.string());
    setString(profile, "Path", install.string());
    startInBackground(5000);
    app = startMonitor({"-profile=" + profile});
    ASSERT_TRUE(app);
    app->mainFrame()->command(kCmdConfiguration)->trigger();
    app->mainFrame()->command(kCmdConfiguration)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return notes().size() >= 3; }, 3000));
    EXPECT_EQ(notes(), (std::vector<std::string>{"start -profile=" + profile, "raise", "raise"}));
}

TEST_F(ConfigTest, MissingPathShowsTheMessageAndStartUpGoesOn) {
    setString(profile, "GWMonGWLogDirectory", logs.string());
    setDword(profile, "Setup", 1);
    app = startMonitor({"-profile=" + profile});
    ASSERT_TRUE(app);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, kStartFailed);
    EXPECT_EQ(messages.messages[0].icon, MsgIcon::Error);
    app->ExitInstance();
    app.reset();
    EXPECT_EQ(setupFlag(), 1u); // still asks for the configuration at the next start
}

TEST_F(ConfigTest, ProgramMissingFromPathShowsTheMessageWithTheReason) {
    setString(profile, "GWMonGWLogDirectory", logs.string());
    setString(profile, "Path", (install / "nowhere").string());
    app = startMonitor({"-profile=" + profile});
    ASSERT_TRUE(app);
    app->mainFrame()->command(kCmdConfiguration)->trigger();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(messages.messages[0].text.startsWith(kStartFailed));
    EXPECT_TRUE(messages.messages[0].text.contains(QStringLiteral("nowhere/tmnmoncfg"))) << messages.messages[0].text.toStdString();
    EXPECT_FALSE(fs::exists(noteFile));
}
