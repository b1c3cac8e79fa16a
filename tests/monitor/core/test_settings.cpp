// The monitor's settings: every value with its default, the reading groups
// and the beep-list test.
#include "monitor/core/DiagLog.h"
#include "monitor/core/MonitorSettings.h"
#include "common/codepage.h"
#include "qzcom.h"

#include <gtest/gtest.h>

using namespace tarmin::monitor;
using namespace tarmin::cp::literals;

namespace {

class Settings : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TEMP", "/tmp/tarmin-temp", 1);
        ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0);
    }
    static void TearDownTestSuite() { QZ_Finalize(); }
    void SetUp() override { QZ_DeleteKey(key(), 0); }

    static const char *key() { return QZ_GetProductKeyName(); }
    static void setNumber(const char *name, uint32_t v) { ASSERT_EQ(QZ_SetKeyDword(key(), name, v, 0), 0); }
    static void setText(const char *name, const char *v) { ASSERT_EQ(QZ_SetKeyString(key(), name, v, 0), 0); }
};

} // namespace

TEST_F(Settings, DefaultsWhenNothingIsStored) {
    EXPECT_EQ(readSetupFlag(), 0u);
    StartupSettings s = readStartupSettings();
    EXPECT_FALSE(s.logDirectoryReadable); // required: missing is an error
    RefreshSettings r = readRefreshSettings();
    EXPECT_FALSE(r.beep);
    EXPECT_EQ(r.refreshSeconds, 120u);
    EXPECT_EQ(r.beepList, "");
    DayLimit d = readDayLimit();
    EXPECT_EQ(d.analyzeNday, 90u);
    EXPECT_EQ(d.pathsFlags, 0u);
    EXPECT_FALSE(d.active());
    EXPECT_EQ(d.loadDays(), 0u);
    ErrorsReadingSettings e = readErrorsReadingSettings();
    EXPECT_EQ(e.kvitFlags, 0u);
    EXPECT_EQ(e.errPeriodRepeat, 0u);
    EXPECT_EQ(e.maxErrorRepeat, 0u);
    EXPECT_EQ(e.outputDirectory, "/tmp/tarmin-temp/");
    EXPECT_EQ(e.admAddr, "");
    EXPECT_FALSE(e.countErrors());
    NotificationsSettings n = readNotificationsSettings();
    EXPECT_EQ(n.kvitFlags, 0u);
    EXPECT_EQ(n.kvitTimeout, 120u);
    EXPECT_EQ(readAlertDestination().outputDirectory, "/tmp/tarmin-temp/");
    EXPECT_EQ(readAlertDestination(true).outputDirectory, "/tmp/tarmin-temp");
}

TEST_F(Settings, StartupGroup) {
    setText("GWMonGWLogDirectory", "/var/gw/logs");
    setNumber("ProtectionFlags", 3);
    setText("Separator", ";|");
    setText("Filename", "/var/tmn/events\\");
    setNumber("dbglvl", 9);
    StartupSettings s = readStartupSettings();
    ASSERT_TRUE(s.logDirectoryReadable);
    EXPECT_EQ(s.logDirectory, "/var/gw/logs/");
    EXPECT_EQ(s.protectionFlags, 3u);
    EXPECT_EQ(s.separator, ';');
    EXPECT_EQ(s.eventDirectory, "/var/tmn/events\\");
    EXPECT_EQ(s.dbglvl, 9u);

    setText("Filename", "/var/tmn/events");
    setText("Separator", "");
    s = readStartupSettings();
    EXPECT_EQ(s.eventDirectory, "/var/tmn/events/");
    EXPECT_EQ(s.separator, ',');
}

// The configuration program writes "%TEMP%\" as a plain text: every
// directory setting names the temporary directory whichever type holds it.
TEST_F(Settings, DirectoriesExpandReferencesOfEitherType) {
    for (QZ_DWORD type : {QZ_REG_SZ, QZ_REG_EXPAND_SZ}) {
        SCOPED_TRACE(type);
        for (const char *name : {"GWMonGWLogDirectory", "Filename", "GWMonOutputDirectory"})
            ASSERT_EQ(QZ_SetKeyBinary(key(), name, "%TEMP%\\", 8, type, 0), 0);
        StartupSettings s = readStartupSettings();
        EXPECT_EQ(s.logDirectory, "/tmp/tarmin-temp\\");
        EXPECT_EQ(s.eventDirectory, "/tmp/tarmin-temp\\");
        EXPECT_EQ(readErrorsReadingSettings().outputDirectory, "/tmp/tarmin-temp\\");
        EXPECT_EQ(readAlertDestination().outputDirectory, "/tmp/tarmin-temp\\");
        EXPECT_EQ(readAlertDestination(true).outputDirectory, "/tmp/tarmin-temp\\");
    }
}

TEST_F(Settings, EmptyLogDirectoryIsAnError) {
    setText("GWMonGWLogDirectory", "");
    EXPECT_FALSE(readStartupSettings().logDirectoryReadable);
    EXPECT_EQ(logDirectoryMissingMessage(),
              std::string("Необходимо запустить программу конфигурации и выполнить настройку каталога с "
                          "протоколами Шлюза.\nОшибка чтения из системного реестра (параметр "
                          "GWMonGWLogDirectory)."_w));
}

TEST_F(Settings, SetupFlagIsClearedAfterUse) {
    setNumber("Setup", 1);
    EXPECT_EQ(readSetupFlag(), 1u);
    EXPECT_EQ(clearSetupFlag(), 0);
    EXPECT_EQ(readSetupFlag(), 0u);
}

TEST_F(Settings, RefreshGroup) {
    setNumber("ProtectionFlags", 1); // bit 0 only: no beep
    setNumber("GWMonRefreshTimeout", 30);
    setText("GWMonBeepErrorsList", "0xe0020004, 0xE0030001");
    RefreshSettings r = readRefreshSettings();
    EXPECT_FALSE(r.beep);
    EXPECT_EQ(r.refreshSeconds, 30u);
    EXPECT_EQ(r.beepList, "0XE0020004, 0XE0030001");
    EXPECT_EQ(r.timerPeriodMs(false), 30000);
    EXPECT_EQ(r.timerPeriodMs(true), 100);
    setNumber("ProtectionFlags", 2);
    setNumber("GWMonRefreshTimeout", 0);
    r = readRefreshSettings();
    EXPECT_TRUE(r.beep);
    EXPECT_EQ(r.timerPeriodMs(false), 1000);
}

TEST_F(Settings, BeepListTest) {
    EXPECT_TRUE(beepListContains("0XE0020004", 0xE0020004u));
    EXPECT_TRUE(beepListContains("0X00000001;0XE0020004", 0xE0020004u));
    EXPECT_FALSE(beepListContains("0XE0020004", 0xE0020005u));
    EXPECT_TRUE(beepListContains("0X00000005", 5u));
    EXPECT_FALSE(beepListContains("0X5", 5u));
    EXPECT_FALSE(beepListContains("", 0u));
}

TEST_F(Settings, ReadingGroups) {
    setNumber("KVITFlags", 8 | 16);
    setNumber("ErrPeriodRepeat", 60);
    setNumber("MaxErrorRepeat", 3);
    setText("GWMonOutputDirectory", "/var/gw/out");
    setText("AdmAddr", "admin@example.ru");
    setNumber("AnalyzeNday", 7);
    setNumber("PathsFlags", 1);
    setNumber("KvitTimeout", 45);
    ErrorsReadingSettings e = readErrorsReadingSettings();
    EXPECT_EQ(e.errPeriodRepeat, 60u);
    EXPECT_EQ(e.maxErrorRepeat, 3u);
    EXPECT_EQ(e.outputDirectory, "/var/gw/out");
    EXPECT_TRUE(e.countErrors());
    EXPECT_EQ(e.numerousAlertRecipient(), "admin@example.ru");
    EXPECT_EQ(e.dayLimit.loadDays(), 7u);
    EXPECT_TRUE(e.dayLimit.active());
    NotificationsSettings n = readNotificationsSettings();
    EXPECT_EQ(n.kvitFlags, 24u);
    EXPECT_EQ(n.kvitTimeout, 45u);

    setNumber("KVITFlags", 8);
    EXPECT_EQ(readErrorsReadingSettings().numerousAlertRecipient(), "");
    setNumber("MaxErrorRepeat", 0);
    EXPECT_FALSE(readErrorsReadingSettings().countErrors());
    setNumber("AnalyzeNday", 0);
    EXPECT_FALSE(readDayLimit().active());
    EXPECT_EQ(readDayLimit().loadDays(), 0u);
    setNumber("PathsFlags", 0);
    setNumber("AnalyzeNday", 7);
    EXPECT_EQ(readDayLimit().loadDays(), 0u);
}

TEST_F(Settings, InstallPathAndLastInitDir) {
    std::string path;
    EXPECT_FALSE(readInstallPath(path)); // missing: the configuration program cannot be located
    EXPECT_EQ(path, "");
    setText("Path", "/opt/tarmin/bin");
    EXPECT_TRUE(readInstallPath(path));
    EXPECT_EQ(path, "/opt/tarmin/bin");
    EXPECT_EQ(writeLastInitDir("/home/op/docs"), 0);
    char *text = nullptr;
    ASSERT_EQ(QZ_GetKeyString(key(), "LastInitDir", &text, ""), 0);
    EXPECT_STREQ(text, "/home/op/docs");
    QZ_Free(text);
}

TEST_F(Settings, DiagnosticLogOpensOnlyWithALevel) {
    StartupSettings s;
    s.eventDirectory = "/nonexistent/";
    s.dbglvl = 0;
    openDiagnosticLog(s);
    EXPECT_EQ(DiagLog::level(), 0u);
    s.dbglvl = 9;
    openDiagnosticLog(s);
    EXPECT_EQ(DiagLog::level(), 9u);
    EXPECT_EQ(DiagLog::basePath(), "/nonexistent/oper_events");
    EXPECT_EQ(DiagLog::extension(), "txt");
    DiagLog::setLevel(0);
}
