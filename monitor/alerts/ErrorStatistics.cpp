#include "monitor/alerts/ErrorStatistics.h"

#include "monitor/jobs/AlertJobs.h"
#include "monitor/logs/CErrorRecord.h"
#include "platform/files.h"
#include "qzcom.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmin::monitor {

namespace pf = tarmin::platform;

namespace {

constexpr QZ_DWORD kEventNumerousError = 0x600E0005;
// Gateway codes that never raise the alert: no error, and E0020004.
constexpr uint32_t kNeverCounted = 0xE0020004;
constexpr uint64_t kFileTimePerSecond = 10'000'000;
// Lines of the event files are read in pieces of at most this many characters.
constexpr int kEventLineMax = 4095;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

// Days from 1 January 1601 to the given date (proleptic Gregorian).
int64_t daysSince1601(int y, int m, int d) {
    // Days from civil, counted from 1 March of year 0, minus the same for 1601-01-01.
    auto civil = [](int64_t yy, int64_t mm, int64_t dd) {
        yy -= mm <= 2;
        const int64_t era = yy / 400;
        const int64_t yoe = yy - era * 400;
        const int64_t doy = (153 * (mm + (mm > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
        const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return era * 146097 + doe;
    };
    return civil(y, m, d) - civil(1601, 1, 1);
}

// Opens an event file for reading when it is a regular file of this user.
// The event directory may be shared (the temporary directory by default):
// another user's file there could forge alert times or reported hashes, a
// link could point anywhere, and a pipe would block the open or the reads.
FILE *openOwnEventFile(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    FILE *in = nullptr;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) in = ::fdopen(fd, "r");
    if (!in) ::close(fd);
    return in;
}

} // namespace

bool textToFileTime(std::string_view date, std::string_view time, uint64_t &out) {
    const std::string d(date), t(time);
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(d.c_str(), "%02d/%02d/%04d", &day, &month, &year) != 3) return false;
    if (std::sscanf(t.c_str(), "%02d:%02d:%02d", &hour, &minute, &second) != 3) return false;
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    const int64_t seconds = daysSince1601(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    out = static_cast<uint64_t>(seconds) * kFileTimePerSecond;
    return true;
}

uint32_t statisticsCode(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    uint32_t code = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        code = code * 16 + static_cast<uint32_t>(digit < 0 ? 0 : digit);
    }
    return code;
}

void ErrorStatistics::resetForPass() {
    for (auto &[code, entry] : m_entries) {
        entry.count = 0;
        entry.quiet = 1;
    }
}

void ErrorStatistics::count(const CErrorRecord &record, const ErrorsReadingSettings &settings) {
    count(record.codeText(), record.date(), record.time(), settings.maxErrorRepeat, settings.errPeriodRepeat,
          settings.outputDirectory, settings.numerousAlertRecipient(), record.information());
}

void ErrorStatistics::count(std::string_view codeText, std::string_view date, std::string_view time,
                            uint32_t threshold, uint32_t quietMinutes, const std::string &outputDirectory,
                            const std::string &recipient, std::string_view information) {
    if (threshold == 0) return;
    const uint32_t code = statisticsCode(codeText);
    if (code == 0 || code == kNeverCounted) return;

    uint64_t recordTime = 0;
    const bool timed = textToFileTime(date, time, recordTime);
    auto found = m_entries.find(code);
    ERROR_STAT entry;
    if (found != m_entries.end()) {
        entry = found->second;
        // Within the quiet period after the last alert (log time); a record
        // whose time cannot be read is always counted.
        if (entry.quiet && timed &&
            (recordTime <= entry.lastAlertTime ||
             recordTime - entry.lastAlertTime <= uint64_t{quietMinutes} * 60 * kFileTimePerSecond))
            return;
        entry.count += 1;
        entry.quiet = 0;
    } else {
        entry.count = 1;
    }
    if (static_cast<uint32_t>(entry.count) < threshold) {
        m_entries[code] = entry;
        return;
    }

    if (timed && recordTime > entry.lastAlertTime) entry.lastAlertTime = recordTime;
    entry.quiet = 1;
    entry.count = 0;
    m_entries[code] = entry;
    const std::string dateText(date), timeText(time);
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kEventNumerousError, static_cast<QZ_DWORD>(code), static_cast<QZ_DWORD>(threshold),
                   dateText.c_str(), timeText.c_str());
    if (!recipient.empty())
        SendMailAboutNumerousError(outputDirectory, recipient, code, static_cast<int>(threshold), dateText, timeText,
                                   std::string(information));
}

std::vector<std::string> ErrorStatistics::restoreFromEventFiles(const std::string &eventDirectory) {
    std::vector<std::string> hashes;
    const auto files = pf::find_files(eventDirectory, "tarmin-operator*.csv");
    if (!files) return hashes;
    char line[kEventLineMax + 1];
    for (const pf::DirEntry &file : *files) {
        if (file.is_directory) continue;
        std::unique_ptr<FILE, int (*)(FILE *)> in(openOwnEventFile(pf::join_path(eventDirectory, file.name)),
                                                 &std::fclose);
        if (!in) continue;
        while (std::fgets(line, sizeof line, in.get())) restoreLine(line, hashes);
    }
    return hashes;
}

void ErrorStatistics::restoreLine(std::string_view line, std::vector<std::string> &hashes) {
    static constexpr std::string_view kHash = " hash=";
    // The hash ends the event's text; a subject before it may hold " hash=" too.
    if (const size_t at = line.rfind(kHash); at != std::string_view::npos) {
        std::string_view hash = line.substr(at + kHash.size());
        while (!hash.empty() && static_cast<unsigned char>(hash.back()) <= ' ') hash.remove_suffix(1);
        if (!hash.empty()) hashes.emplace_back(hash);
        return;
    }

    // ",0x600E0005," (or ",0X600E0005,") as the event file writes the code.
    char marker[24];
    std::snprintf(marker, sizeof marker, ",0x%X,", kEventNumerousError);
    size_t at = line.find(marker);
    if (at == std::string_view::npos) {
        marker[2] = 'X';
        at = line.find(marker);
    }
    if (at == std::string_view::npos) return;
    line.remove_prefix(at + std::strlen(marker));

    // The event text: "... 0x<code> ...: <date> <time>".
    const size_t codeAt = line.find(" 0x");
    if (codeAt == std::string_view::npos) return;
    line.remove_prefix(codeAt + 3);
    const size_t codeEnd = line.find(' ');
    if (codeEnd == std::string_view::npos) return;
    const uint32_t code = statisticsCode(line.substr(0, codeEnd));
    line.remove_prefix(codeEnd);
    const size_t timeAt = line.find(": ");
    if (timeAt == std::string_view::npos) return;
    const std::string rest(line.substr(timeAt + 2));
    char date[33] = {}, time[17] = {};
    if (std::sscanf(rest.c_str(), "%32s %16s", date, time) != 2) return;
    uint64_t alertTime = 0;
    if (!textToFileTime(date, time, alertTime)) return;

    ERROR_STAT &entry = m_entries[code];
    entry.count = 0;
    entry.quiet = 1;
    if (alertTime > entry.lastAlertTime) entry.lastAlertTime = alertTime;
}

} // namespace tarmin::monitor
