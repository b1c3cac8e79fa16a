// Settings of the operator monitor, read from the settings key of the
// product "tarmin-operator" and the current profile through the common
// services (QZ_GetSettingsKey(0), QZ_GetDword, QZ_GetStringBuf).
//
// The monitor reads its settings in groups, each at its own moment:
//   readSetupFlag / clearSetupFlag   start-up, before anything else
//   readStartupSettings              start-up
//   readRefreshSettings              start-up and every refresh tick
//   readErrorsReadingSettings        every reading of the errors list
//   readDayLimit                     every inbound / outgoing reading, receipt batches
//   readNotificationsSettings        every reading of the notifications
//   readAlertDestination             each overdue alert
// Every value that is missing takes its default silently; only the gateway log
// directory is required (startupSettings.logDirectoryReadable).
//
// Texts are Windows-1251 as the store holds them. Directories use "/" (a
// trailing "\" is accepted where the original accepted it).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarmin::monitor {

// ProtectionFlags bits.
inline constexpr uint32_t kProtectionOpenContext = 1; // open the crypto context at start-up
inline constexpr uint32_t kProtectionBeep = 2;        // flash and beep on listed error codes
// PathsFlags bit: limit the reading to the last AnalyzeNday days.
inline constexpr uint32_t kPathsDayLimit = 1;
// KVITFlags bits.
inline constexpr uint32_t kKvitCheckOverdue = 1;
inline constexpr uint32_t kKvitReportOverdue = 2;
inline constexpr uint32_t kKvitSendOverdue = 4;
inline constexpr uint32_t kKvitCountErrors = 8;
inline constexpr uint32_t kKvitSendNumerous = 16;

// Defaults.
inline constexpr uint32_t kDefaultRefreshTimeout = 120; // seconds
inline constexpr uint32_t kDefaultAnalyzeNday = 90;     // days
inline constexpr uint32_t kDefaultKvitTimeout = 120;    // minutes
inline constexpr const char *kDefaultSeparator = ",";
inline constexpr const char *kDefaultTempDirectory = "%TEMP%";
inline constexpr const char *kDefaultTempDirectorySlash = "%TEMP%/";

// Buffer sizes of the text reads (characters, without the terminator).
inline constexpr uint32_t kSeparatorMax = 260;
inline constexpr uint32_t kBeepListMax = 4096;

// The refresh timer period while the receipt catch-up is pending (ms).
inline constexpr int kCatchUpRefreshMs = 100;

// "Setup": nonzero asks to run the configuration program at start-up.
uint32_t readSetupFlag();
// Writes "Setup" = 0 after the configuration program has run. 0 = success.
int clearSetupFlag();

struct StartupSettings {
    // GWMonGWLogDirectory, always ending in "/" (or "\" when the value did).
    std::string logDirectory;
    // False when GWMonGWLogDirectory could not be read or is empty; the
    // monitor then shows logDirectoryMissingMessage() and exits. The values
    // below are read only when it is true (they keep their defaults otherwise).
    bool logDirectoryReadable = false;
    uint32_t protectionFlags = 0;
    // The first character of Separator (',' when the value is empty).
    char separator = ',';
    // Filename: directory of the operator event files and of the diagnostic
    // log as a file-system (UTF-8) path, ending in "/" or "\".
    std::string eventDirectory;
    // dbglvl: diagnostic log level mask, 0 = off.
    uint32_t dbglvl = 0;
};
// GWMonGWLogDirectory, ProtectionFlags, Separator, Filename, dbglvl in this order.
StartupSettings readStartupSettings();

// Start-up: with a nonzero dbglvl, opens the diagnostic log in the event
// directory with base name "oper_events" and extension "txt" at that level
// (nothing happens when dbglvl is 0).
void openDiagnosticLog(const StartupSettings &settings);

struct RefreshSettings {
    bool beep = false;                          // ProtectionFlags bit 1
    uint32_t refreshSeconds = kDefaultRefreshTimeout; // GWMonRefreshTimeout
    std::string beepList;                       // GWMonBeepErrorsList, upper case

    // Period of the refresh timer in milliseconds: 100 while the receipt
    // catch-up is pending, otherwise the refresh period (at least 1 second, so
    // that a 0 in the store does not make the timer spin).
    int timerPeriodMs(bool catchUpPending) const;
};
// ProtectionFlags (bit 1 only), GWMonRefreshTimeout, GWMonBeepErrorsList.
RefreshSettings readRefreshSettings();

// Whether an error code is in the (upper-cased) beep list: the code written as
// "0X%08X" is searched as a substring, so any separator between codes works.
bool beepListContains(std::string_view upperBeepList, uint32_t code);

struct DayLimit {
    uint32_t analyzeNday = kDefaultAnalyzeNday; // AnalyzeNday
    uint32_t pathsFlags = 0;                    // PathsFlags

    // Whether the reading is limited to the last analyzeNday days.
    bool active() const { return (pathsFlags & kPathsDayLimit) && analyzeNday != 0; }
    // The `days` argument of vfiles::load: AnalyzeNday when bit 0 of
    // PathsFlags is set, otherwise 0 (no limit).
    unsigned loadDays() const { return (pathsFlags & kPathsDayLimit) ? analyzeNday : 0; }
};
// AnalyzeNday, PathsFlags.
DayLimit readDayLimit();

struct ErrorsReadingSettings {
    uint32_t kvitFlags = 0;
    uint32_t errPeriodRepeat = 0; // minutes
    uint32_t maxErrorRepeat = 0;  // 0 = counting off
    std::string outputDirectory;  // GWMonOutputDirectory, default "%TEMP%/"
    std::string admAddr;          // empty = no alert job
    DayLimit dayLimit;

    // Whether the records are counted for the numerous-error alert.
    bool countErrors() const { return (kvitFlags & kKvitCountErrors) && maxErrorRepeat != 0; }
    // The alert recipient: AdmAddr when bit 4 of KVITFlags is set, else empty.
    std::string numerousAlertRecipient() const {
        return (kvitFlags & kKvitSendNumerous) ? admAddr : std::string();
    }
};
// KVITFlags, ErrPeriodRepeat, MaxErrorRepeat, GWMonOutputDirectory, AdmAddr,
// AnalyzeNday, PathsFlags.
ErrorsReadingSettings readErrorsReadingSettings();

struct NotificationsSettings {
    uint32_t kvitFlags = 0;
    uint32_t kvitTimeout = kDefaultKvitTimeout; // minutes
};
// KVITFlags, KvitTimeout.
NotificationsSettings readNotificationsSettings();

struct AlertDestination {
    std::string outputDirectory; // GWMonOutputDirectory
    std::string admAddr;         // AdmAddr
};
// GWMonOutputDirectory (default "%TEMP%/" for alerts, "%TEMP%" for the
// wizards) and AdmAddr.
AlertDestination readAlertDestination(bool forWizard = false);

// "Path" under the product key (installation directory of the configuration
// program). Returns false when it cannot be read; `out` then holds "".
bool readInstallPath(std::string &out);
// Stores LastInitDir under the product key at exit. 0 = success.
int writeLastInitDir(const std::string &directory);

// The message shown when GWMonGWLogDirectory is missing (Windows-1251).
std::string logDirectoryMissingMessage();
// The message shown when the configuration program cannot be located.
const char *configProgramStartFailedMessage();

// Appends "/" to a directory unless it already ends in "/" or "\".
std::string withTrailingSlash(std::string directory);

} // namespace tarmin::monitor
