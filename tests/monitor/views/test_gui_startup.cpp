// Start-up and main frame: the profile switch and the title, the missing log
// directory, the saved window placement, the commands, the timers and the
// About box, driven through the real main window.
#include "GuiTestSupport.h"
#include "testsupport.h"

#include "monitor/app/CAboutDlg.h"
#include "monitor/app/CMainApp.h"
#include "monitor/app/CMainFrame.h"
#include "monitor/app/CMyCommandLineInfo.h"
#include "monitor/views/CLeftView.h"
#include "monitor/views/CMonView.h"
#include "qzcom.h"

#include <QAction>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QToolBar>
#include <QTest>

#include <gtest/gtest.h>

using namespace tarmin::monitor;
using namespace tarmin::test;

namespace {

const std::string kPlacementSection = "Software\\KELVORIA\\tarmin-operator\\3.1\\Settings";

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        logs = make_temp_dir("gwlogs");
        setString("Test", "GWMonGWLogDirectory", logs.string());
    }
    void TearDown() override {
        if (app) app->ExitInstance();
    }
    std::filesystem::path logs;
    MessageRecorder messages;
    DialogScript dialogs;
    std::unique_ptr<CMainApp> app;
};

std::string profileOf(std::vector<std::string> args) {
    args.insert(args.begin(), "tmngwmon");
    CMyCommandLineInfo info;
    info.Parse(args);
    return info.profile();
}

} // namespace

TEST(CommandLine, ProfileSwitchInItsSpellings) {
    EXPECT_EQ(profileOf({"/profile=Test"}), "Test");
    EXPECT_EQ(profileOf({"-PROFILE:Test"}), "Test");
    EXPECT_EQ(profileOf({"-Profile=demo", "unrelated.txt"}), "demo");
    EXPECT_EQ(profileOf({"/profile"}), "");
    EXPECT_EQ(profileOf({"/profiles"}), "");
    EXPECT_EQ(profileOf({"profile=Test"}), ""); // not a flag
    EXPECT_EQ(profileOf({"/profile=A", "/profile=B"}), "B");
}

TEST(CommandLine, ScreenshotAndSelectOptions) {
    CMyCommandLineInfo info;
    info.Parse({"tmngwmon", "--screenshot", "/tmp/x.png", "--select=3", "--select=9"});
    EXPECT_EQ(info.screenshotFile(), "/tmp/x.png");
    EXPECT_EQ(info.initialCategory(), 3);
    ASSERT_EQ(info.unknown().size(), 1u);
    EXPECT_EQ(info.unknown()[0], "--select=9");
}

TEST(CommandLine, HelpVersionAndAScreenshotWithoutItsFile) {
    auto parsed = [](std::vector<std::string> args) {
        args.insert(args.begin(), "tmngwmon");
        CMyCommandLineInfo info;
        info.Parse(args);
        return info;
    };
    EXPECT_TRUE(parsed({"--help"}).helpRequested());
    EXPECT_TRUE(parsed({"/?"}).helpRequested());
    EXPECT_TRUE(parsed({"--version"}).versionRequested());
    EXPECT_TRUE(parsed({"--screenshot"}).screenshotWithoutFile());
    EXPECT_TRUE(parsed({"--screenshot="}).screenshotWithoutFile());
    const CMyCommandLineInfo followed = parsed({"--screenshot", "--select=4"});
    EXPECT_TRUE(followed.screenshotWithoutFile());
    EXPECT_EQ(followed.initialCategory(), 4);
    EXPECT_FALSE(parsed({"--screenshot", "/tmp/a.png"}).screenshotWithoutFile());
    EXPECT_EQ(parsed({"--bogus", "x.txt"}).unknown(), (std::vector<std::string>{"--bogus", "x.txt"}));
}

// The program itself, as a script or a demonstration runs it: nothing waits
// for an operator who is not there.
class ProgramRun : public ::testing::Test {
protected:
    int runMonitor(std::vector<std::string> args) {
        // A hang shows as the exit status 124 of timeout.
        args.insert(args.begin(), {"timeout", "120", built_program("tmngwmon").string()});
        out.clear();
        err.clear();
        return run(args, &out, &err);
    }
    std::string out, err;
};

TEST_F(ProgramRun, HelpAndVersionPrintWithoutAWindow) {
    EXPECT_EQ(runMonitor({"--help"}), 0);
    EXPECT_NE(out.find("--screenshot FILE"), std::string::npos) << out;
    EXPECT_EQ(err, "");
    EXPECT_EQ(runMonitor({"--version"}), 0);
    EXPECT_EQ(out, "tmngwmon 3.1.0.0\n");
    EXPECT_EQ(runMonitor({"--screenshot"}), 2);
    EXPECT_NE(err.find("--screenshot needs the name of the file"), std::string::npos) << err;
}

TEST_F(ProgramRun, ScreenshotWritesEveryMessageToStandardErrorAndFails) {
    const auto shot = make_temp_dir("shots") / "shot.png";
    // A mistyped option is refused before anything starts.
    EXPECT_EQ(runMonitor({"/profile=NoLogsAtAll", "--bogus", "--screenshot", shot.string()}), 2) << err;
    EXPECT_NE(err.find("unknown option --bogus"), std::string::npos) << err;
    // No log directory setting: the start-up message.
    EXPECT_EQ(runMonitor({"/profile=NoLogsAtAll", "--screenshot", shot.string()}), 1) << err;
    EXPECT_NE(err.find("Необходимо запустить программу конфигурации и выполнить настройку каталога"), std::string::npos)
        << err;
    EXPECT_FALSE(std::filesystem::exists(shot));
    // The settings ask for the configuration program first.
    setString("WantsSetup", "GWMonGWLogDirectory", make_temp_dir("gwlogs").string());
    setDword("WantsSetup", "Setup", 1);
    EXPECT_EQ(runMonitor({"/profile=WantsSetup", "--screenshot", shot.string()}), 1) << err;
    EXPECT_NE(err.find("Setup"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(shot));
    // The operator's context would need a certificate chosen (or, without
    // one, report its failure): a screenshot leaves it closed.
    setString("WantsContext", "GWMonGWLogDirectory", make_temp_dir("gwlogs").string());
    setDword("WantsContext", "ProtectionFlags", 1);
    EXPECT_EQ(runMonitor({"/profile=WantsContext", "--screenshot", shot.string()}), 0) << err;
    EXPECT_TRUE(std::filesystem::exists(shot));
}

TEST_F(ProgramRun, NotificationsScreenshotWaitsForTheReceiptCatchUp) {
    GatewayLogs logs(make_temp_dir("gwlogs"));
    std::vector<std::string> sent;
    for (int i = 0; i < 2500; ++i)
        sent.push_back(GatewayLogs::outLine(dayText(), "10:00:00", "0", "H" + std::to_string(i), "a@x.ru", "Отчёт", "", "1"));
    logs.write("tmnsent-1.csv", sent);
    setString("ShotOfNotifications", "GWMonGWLogDirectory", logs.dir().string());
    const auto shot = make_temp_dir("shots") / "notifications.png";
    EXPECT_EQ(runMonitor({"/profile=ShotOfNotifications", "--select=4", "--screenshot", shot.string()}), 0) << err;
    EXPECT_NE(err.find("(category 4, 2500 rows)"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::exists(shot));
}

// Every button of the toolbar has a picture of its own ("Конфигурация" and
// "Таблица", "Мелкие значки" and "Список" looked alike).
TEST_F(StartupTest, ToolbarButtonsHavePicturesOfTheirOwn) {
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    const auto *bar = app->mainFrame()->findChild<QToolBar *>(QStringLiteral("toolBar128"));
    ASSERT_TRUE(bar);
    std::vector<std::pair<QString, QImage>> pictures;
    for (QAction *action : bar->actions())
        if (!action->isSeparator()) pictures.emplace_back(action->toolTip(), action->icon().pixmap(16, 16).toImage());
    ASSERT_GE(pictures.size(), 10u);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        EXPECT_FALSE(pictures[i].second.isNull()) << pictures[i].first.toStdString();
        for (std::size_t j = i + 1; j < pictures.size(); ++j)
            EXPECT_NE(pictures[i].second, pictures[j].second)
                << pictures[i].first.toStdString() << " / " << pictures[j].first.toStdString();
    }
}

TEST_F(StartupTest, TitleCarriesTheProfile) {
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    EXPECT_EQ(app->mainFrame()->windowTitle(), QStringLiteral("АРМ Оператора Тармин-Шлюз - [Test]"));
    EXPECT_EQ(app->stage(), CMainApp::kStageCommonServices);
    EXPECT_TRUE(app->initialised());
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(StartupTest, TitleWithoutProfileIsTheFrameTitle) {
    setString("", "GWMonGWLogDirectory", logs.string());
    app = startMonitor({});
    ASSERT_TRUE(app);
    EXPECT_EQ(app->mainFrame()->windowTitle(), QStringLiteral("АРМ Оператора Тармин-Шлюз"));
}

TEST_F(StartupTest, InitialisationIsTracedWithTheProfile) {
    const auto trace = home() / "trace.txt";
    setString("", "GWMonGWLogDirectory", logs.string());
    qputenv("TARMIN_TRACE", QByteArray::fromStdString(trace.string()));
    auto withProfile = startMonitor({"/profile=Test"});
    ASSERT_TRUE(withProfile);
    withProfile->ExitInstance();
    withProfile.reset();
    auto without = startMonitor({});
    ASSERT_TRUE(without);
    without->ExitInstance();
    qunsetenv("TARMIN_TRACE");
    const std::string text = read_file(trace);
    const size_t first = text.find("QZ_InitializeWithProfile (Test)\n");
    const size_t second = text.find("QZ_Initialize\n");
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_NE(second, std::string::npos) << text;
    EXPECT_LT(first, second);
}

TEST_F(StartupTest, ExitStoresTheLastDialogDirectoryAndFinalises) {
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    app->context().lastDialogDirectory = w("/home/operator/Документы");
    app->mainFrame()->close();
    app->ExitInstance();
    EXPECT_EQ(app->stage(), CMainApp::kStageNone);
    EXPECT_EQ(QZ_GetProductKeyName(), nullptr); // the common services are finalised
    app.reset();
    EXPECT_EQ(getString(productKey("Test"), "LastInitDir"), "/home/operator/Документы");
}

TEST_F(StartupTest, DiagnosticLevelOpensTheLogInTheEventDirectory) {
    const auto events = make_temp_dir("events");
    setString("Test", "Filename", events.string());
    setDword("Test", "dbglvl", 9);
    write_file(logs / "tarmin-gw1.csv", "header\n01/01/2024,10:00:00,smtp,err,1,x\n");
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    ASSERT_TRUE(app->mainFrame()->leftView()->selectCategory(1));
    std::string written;
    for (const auto &entry : std::filesystem::directory_iterator(events))
        if (entry.path().filename().string().rfind("oper_events.", 0) == 0) written += read_file(entry.path());
    EXPECT_NE(written.find("Enter vfiles::load"), std::string::npos) << written;
}

TEST_F(StartupTest, MissingLogDirectoryShowsTheMessageAndEnds) {
    bool started = true;
    // Another test of this process may have saved a placement: none before.
    setKeyString(kPlacementSection, "WndPos", "");
    // The profile "Empty" has no GWMonGWLogDirectory; an empty value is the same case.
    setString("Blank", "GWMonGWLogDirectory", "");
    for (const char *profile : {"/profile=Empty", "/profile=Blank"}) {
        messages.messages.clear();
        auto failed = startMonitor({profile}, &started);
        EXPECT_FALSE(started);
        EXPECT_FALSE(failed);
        ASSERT_EQ(messages.messages.size(), 1u) << profile;
        EXPECT_EQ(messages.messages[0].icon, MsgIcon::Error);
        EXPECT_EQ(messages.messages[0].text,
                  QStringLiteral("Необходимо запустить программу конфигурации и выполнить настройку каталога с "
                                 "протоколами Шлюза.\nОшибка чтения из системного реестра (параметр "
                                 "GWMonGWLogDirectory)."));
    }
    // A failed start leaves no saved placement behind.
    EXPECT_EQ(getString(kPlacementSection, "WndPos"), "");
}

TEST_F(StartupTest, PlacementIsSavedOnCloseAndRestoredAtTheNextStart) {
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    app->mainFrame()->setGeometry(120, 90, 700, 500);
    app->mainFrame()->close();
    app->ExitInstance();
    app.reset();
    const std::string saved = getString(kPlacementSection, "WndPos");
    EXPECT_EQ(saved, "0,1,-1,-1,-1,-1,120,90,820,590");

    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    EXPECT_EQ(app->mainFrame()->geometry(), QRect(120, 90, 700, 500));
}

TEST_F(StartupTest, BarStateIsSavedOnCloseAndRestored) {
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    app->mainFrame()->command(kCmdToolBar)->trigger();
    app->mainFrame()->command(kCmdStatusBar)->trigger();
    EXPECT_TRUE(app->mainFrame()->statusBar()->isHidden());
    app->mainFrame()->close();
    app->ExitInstance();
    app.reset();
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    EXPECT_TRUE(app->mainFrame()->findChild<QToolBar *>(QStringLiteral("toolBar128"))->isHidden());
    EXPECT_FALSE(app->mainFrame()->command(kCmdToolBar)->isChecked());
    EXPECT_TRUE(app->mainFrame()->statusBar()->isHidden());
    EXPECT_FALSE(app->mainFrame()->command(kCmdStatusBar)->isChecked());
}

TEST_F(StartupTest, MaximisedPlacementIsRestoredMaximised) {
    setKeyString(kPlacementSection, "WndPos", "0,3,-1,-1,-1,-1,10,20,610,420");
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    EXPECT_TRUE(app->mainFrame()->isMaximized());
    EXPECT_EQ(app->mainFrame()->normalGeometry(), QRect(10, 20, 600, 400));
}

TEST_F(StartupTest, PlacementWithFewerThanTenNumbersIsIgnored) {
    setKeyString(kPlacementSection, "WndPos", "0,1,-1,-1,-1,-1,10,20,610");
    auto reference = startMonitor({"/profile=Test"});
    ASSERT_TRUE(reference);
    EXPECT_NE(reference->mainFrame()->geometry(), QRect(10, 20, 600, 400));
    EXPECT_FALSE(reference->mainFrame()->isMaximized());
    reference->mainFrame()->destroyWithoutSaving();
    reference->ExitInstance();
}

TEST_F(StartupTest, CommandStatesAndFilterFollowsTheTree) {
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    CMainFrame *frame = app->mainFrame();
    EXPECT_TRUE(frame->command(kCmdSignMessage)->isEnabled());
    EXPECT_TRUE(frame->command(kCmdSendPacket)->isEnabled());
    EXPECT_TRUE(frame->command(kCmdConfiguration)->isEnabled());
    EXPECT_TRUE(frame->command(kCmdRefresh)->isEnabled());
    EXPECT_EQ(frame->command(kCmdRefresh)->shortcut(), QKeySequence(Qt::Key_F5));
    // The root is selected: no filter, the details style: no arranging.
    EXPECT_EQ(frame->leftView()->selectedCategory(), 0);
    EXPECT_FALSE(frame->command(kCmdFilter)->isEnabled());
    EXPECT_FALSE(frame->command(kCmdArrange)->isEnabled());
    ASSERT_TRUE(frame->leftView()->selectCategory(1));
    EXPECT_TRUE(frame->command(kCmdFilter)->isEnabled());
    frame->command(kCmdLargeIcons)->trigger();
    EXPECT_TRUE(frame->command(kCmdArrange)->isEnabled());
    EXPECT_TRUE(frame->command(kCmdLargeIcons)->isChecked());
    frame->command(kCmdDetails)->trigger();
    EXPECT_FALSE(frame->command(kCmdArrange)->isEnabled());
    ASSERT_TRUE(frame->leftView()->selectCategory(0));
    EXPECT_FALSE(frame->command(kCmdFilter)->isEnabled());
}

TEST_F(StartupTest, RefreshTimerFollowsTheSettingAndClockShowsTheTime) {
    setDword("Test", "GWMonRefreshTimeout", 120);
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    CMainFrame *frame = app->mainFrame();
    EXPECT_TRUE(frame->refreshTimer().isActive());
    EXPECT_EQ(frame->refreshTimer().interval(), 120000);
    EXPECT_EQ(frame->clockTimer().interval(), 1000);
    EXPECT_TRUE(frame->statusPane(kClockPane)->text().contains(
        QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d$"))))
        << frame->statusPane(kClockPane)->text().toStdString();
    // A refresh reads the period again.
    setDword("Test", "GWMonRefreshTimeout", 30);
    frame->command(kCmdRefresh)->trigger();
    EXPECT_EQ(frame->refreshTimer().interval(), 30000);
}

TEST_F(StartupTest, AboutBoxShowsTheVersion) {
    app = startMonitor({"/profile=Test"});
    ASSERT_TRUE(app);
    QString version;
    dialogs.on(QStringLiteral("CAboutDlg"), [&](QDialog &d) {
        version = d.findChild<QLabel *>(QStringLiteral("version"))->text();
        return QDialog::Accepted;
    });
    app->mainFrame()->command(kCmdAbout)->trigger();
    EXPECT_TRUE(version.contains(QRegularExpression(QStringLiteral("^Версия \\d+\\.\\d+\\.\\d+\\.\\d+$"))))
        << version.toStdString();
}
