#include "monitor/core/MonitorSettings.h"

#include "common/codepage.h"
#include "common/settings.h"
#include "monitor/core/DiagLog.h"
#include "monitor/core/FileNames.h"
#include "qzcom.h"

#include <climits>
#include <cstdio>
#include <vector>

namespace tarmin::monitor {

using namespace tarmin::cp::literals;

namespace {

QZ_HKEY settingsKey() { return QZ_GetSettingsKey(0); }

uint32_t readNumber(const char *name, uint32_t def) {
    QZ_DWORD value = def;
    QZ_HKEY key = settingsKey();
    if (!key) return def;
    if (QZ_GetDword(key, name, &value, def) != 0) return def;
    return value;
}

// A text value; returns false when the value could not be read (out then
// holds the default as the common services hand it back).
bool readText(const char *name, const char *def, std::string &out) {
    QZ_HKEY key = settingsKey();
    char *text = nullptr;
    int rc = key ? QZ_GetString(key, name, &text, def) : -1;
    if (text) {
        out = text;
        QZ_Free(text);
    } else {
        char *expanded = QZ_ExpandEnvironment(def);
        out = expanded ? expanded : def;
        QZ_Free(expanded);
    }
    return rc == 0;
}

// A text value read into a buffer of `max` characters (longer values are cut).
bool readTextBuf(const char *name, const char *def, uint32_t max, std::string &out) {
    std::vector<char> buffer(max + 1, '\0');
    QZ_HKEY key = settingsKey();
    int rc = key ? QZ_GetStringBuf(key, name, buffer.data(), max + 1, def) : -1;
    if (!key) std::snprintf(buffer.data(), buffer.size(), "%s", def);
    out = buffer.data();
    return rc == 0;
}

// A directory setting, environment references expanded whatever the value's
// type; returns false when the value could not be read (out then holds the
// default, expanded).
bool readDirectory(const char *name, const char *def, std::string &out) {
    bool read = false;
    out = tarmin::qzcom::setting_directory(name, def, &read);
    return read;
}

bool endsInSlash(const std::string &s) { return !s.empty() && (s.back() == '/' || s.back() == '\\'); }

} // namespace

std::string withTrailingSlash(std::string directory) {
    if (!endsInSlash(directory)) directory += '/';
    return directory;
}

uint32_t readSetupFlag() {
    QZ_HKEY key = settingsKey();
    QZ_DWORD value = 0;
    if (!key || QZ_QueryDword(key, "Setup", &value) != 0) return 0;
    return value;
}

int clearSetupFlag() {
    QZ_HKEY key = settingsKey();
    return key ? QZ_SetDword(key, "Setup", 0) : -1;
}

StartupSettings readStartupSettings() {
    StartupSettings s;
    std::string dir;
    bool ok = readDirectory("GWMonGWLogDirectory", kDefaultTempDirectory, dir);
    if (!ok || dir.empty()) return s;
    s.logDirectory = withTrailingSlash(dir);
    s.logDirectoryReadable = true;

    s.protectionFlags = readNumber("ProtectionFlags", 0);
    std::string sep;
    readTextBuf("Separator", kDefaultSeparator, kSeparatorMax, sep);
    // Only the first character counts; an empty value would leave the lines
    // unsplittable, so it falls back to the default comma.
    s.separator = sep.empty() ? ',' : sep[0];
    std::string events;
    readDirectory("Filename", kDefaultTempDirectorySlash, events);
    // Only files are made of this directory (event files, the diagnostic log).
    s.eventDirectory = withTrailingSlash(fileSystemPath(events));
    s.dbglvl = readNumber("dbglvl", 0);
    return s;
}

void openDiagnosticLog(const StartupSettings &settings) {
    if (settings.dbglvl == 0) return;
    DiagLog::setFile(settings.eventDirectory.c_str(), "oper_events", "txt");
    DiagLog::setLevel(settings.dbglvl);
}

int RefreshSettings::timerPeriodMs(bool catchUpPending) const {
    if (catchUpPending) return kCatchUpRefreshMs;
    uint32_t seconds = refreshSeconds == 0 ? 1 : refreshSeconds;
    if (seconds > static_cast<uint32_t>(INT_MAX / 1000)) return INT_MAX / 1000 * 1000;
    return static_cast<int>(seconds) * 1000;
}

RefreshSettings readRefreshSettings() {
    RefreshSettings s;
    s.beep = (readNumber("ProtectionFlags", 0) & kProtectionBeep) != 0;
    s.refreshSeconds = readNumber("GWMonRefreshTimeout", kDefaultRefreshTimeout);
    std::string list;
    readTextBuf("GWMonBeepErrorsList", "", kBeepListMax, list);
    s.beepList = tarmin::cp::upper_1251(list);
    return s;
}

bool beepListContains(std::string_view upperBeepList, uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0X%08X", code);
    return upperBeepList.find(text) != std::string_view::npos;
}

DayLimit readDayLimit() {
    DayLimit d;
    d.analyzeNday = readNumber("AnalyzeNday", kDefaultAnalyzeNday);
    d.pathsFlags = readNumber("PathsFlags", 0);
    return d;
}

ErrorsReadingSettings readErrorsReadingSettings() {
    ErrorsReadingSettings s;
    s.kvitFlags = readNumber("KVITFlags", 0);
    s.errPeriodRepeat = readNumber("ErrPeriodRepeat", 0);
    s.maxErrorRepeat = readNumber("MaxErrorRepeat", 0);
    readDirectory("GWMonOutputDirectory", kDefaultTempDirectorySlash, s.outputDirectory);
    readText("AdmAddr", "", s.admAddr);
    s.dayLimit = readDayLimit();
    return s;
}

NotificationsSettings readNotificationsSettings() {
    NotificationsSettings s;
    s.kvitFlags = readNumber("KVITFlags", 0);
    s.kvitTimeout = readNumber("KvitTimeout", kDefaultKvitTimeout);
    return s;
}

AlertDestination readAlertDestination(bool forWizard) {
    AlertDestination d;
    readDirectory("GWMonOutputDirectory", forWizard ? kDefaultTempDirectory : kDefaultTempDirectorySlash,
             d.outputDirectory);
    readText("AdmAddr", "", d.admAddr);
    return d;
}

bool readInstallPath(std::string &out) {
    out.clear();
    const char *product = QZ_GetProductKeyName();
    if (!product) return false;
    char *text = nullptr;
    int rc = QZ_GetKeyString(product, "Path", &text, "");
    if (rc == 0 && text) out = text;
    QZ_Free(text);
    return rc == 0;
}

int writeLastInitDir(const std::string &directory) {
    const char *product = QZ_GetProductKeyName();
    if (!product) return -1;
    QZ_HKEY key = nullptr;
    if (QZ_RegOpenKey(&key, product, QZ_KEY_WRITE_READ, nullptr) != 0 || !key) return -1;
    int rc = QZ_RegSetString(key, "LastInitDir", directory.c_str());
    QZ_RegCloseKey(key);
    return rc;
}

std::string logDirectoryMissingMessage() {
    const char *format = "Необходимо запустить программу конфигурации и выполнить настройку каталога с "
                         "протоколами Шлюза.\nОшибка чтения из системного реестра (параметр %s)."_w;
    std::string text = format;
    text.replace(text.find("%s"), 2, "GWMonGWLogDirectory");
    return text;
}

const char *configProgramStartFailedMessage() {
    return "Ошибка запуска программы конфигурации. Попробуйте запустить программу конфигурации вручную "
           "или переустановите ПО."_w;
}

} // namespace tarmin::monitor
