#include "monitor/jobs/AlertJobs.h"

#include "common/codepage.h"
#include "monitor/core/FileNames.h"
#include "monitor/jobs/JobFiles.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "qzcom.h"

#include <cstdio>
#include <vector>

namespace tarmin::monitor {

using namespace tarmin::cp::literals;
namespace pf = tarmin::platform;

namespace {

constexpr QZ_DWORD kEventAlertFailed = 0xE00E0003;
constexpr QZ_DWORD kEventOverdueNotSent = 0xE00E0004;
constexpr QZ_DWORD kEventNumerousNotSent = 0xE00E0006;

std::string format(const char *fmt, auto... args) {
    int n = std::snprintf(nullptr, 0, fmt, args...);
    if (n <= 0) return {};
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), fmt, args...);
    text.resize(static_cast<size_t>(n));
    return text;
}

// The output directory (a setting's Windows-1251 text) as a file-system path
// with a trailing "/".
std::string outputPath(const std::string &outputDirectory) {
    return pf::with_trailing_slash(fileSystemPath(outputDirectory));
}

// "TO<tick count>"
std::string alertNameBase() { return "TO" + std::to_string(pf::tick_count()); }

// Creates the directory and writes the information file of the given lines
// under a temporary name inside it, then renames it: a full disk or a failed
// close leaves the directory without "tmninfo.txt", never with a partial one.
std::string writeAlert(const std::string &output, const std::string &name, const std::vector<std::string> &lines,
                       const char *writer, QZ_DWORD notSent) {
    const gid_t group = jobGroupOf(output);
    const std::string directory = output + name;
    const char *operation = "CreateDirectory";
    if (createJobDirectory(directory, group)) {
        operation = "fopen";
        JobFileWriter file;
        if (file.create(directory, "tmm", group)) {
            operation = "fclose";
            std::string content;
            for (const std::string &line : lines) content += line;
            if (file.write(content) && file.close() && file.commit(pf::join_path(directory, "tmninfo.txt")))
                return directory;
        }
    }
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kEventAlertFailed, static_cast<QZ_DWORD>(pf::last_error()), operation, writer);
    QZ_ReportEvent(QZ_LEVEL_DETAIL, notSent);
    return {};
}

} // namespace

std::string SendMailAboutOverdue(const std::string &outputDirectory, const std::string &adminAddress,
                                 int timeoutMinutes, const std::string &letterId, const std::string &sendTime,
                                 const std::string &sendDate, const std::string &letterHash) {
    const std::string name = alertNameBase() + letterHash.substr(0, 16);
    std::vector<std::string> lines{
        "subject: notification overdue\r\n",
        "protection: Plain\r\n",
        "email:" + adminAddress + "\r\n",
        "body:\r\n",
        format("Истёк таймаут %d минут на получение квитанции на письмо '%s', отправленное %s %s\r\n"_w,
               timeoutMinutes, letterId.c_str(), sendTime.c_str(), sendDate.c_str()),
        "hash=" + letterHash,
    };
    return writeAlert(outputPath(outputDirectory), name, lines, "CMainApp::SendMailAboutOverdue",
                      kEventOverdueNotSent);
}

std::string SendMailAboutNumerousError(const std::string &outputDirectory, const std::string &adminAddress,
                                       uint32_t errorCode, int count, const std::string &date,
                                       const std::string &time, const std::string &text) {
    if (date.empty() || time.empty()) return {};
    int hour = 0, minute = 0, second = 0;
    std::sscanf(time.c_str(), "%02d:%02d:%02d", &hour, &minute, &second);
    const std::string name = alertNameBase() + format("%X%02d%02d%02d", errorCode, hour, minute, second);
    std::vector<std::string> lines{
        "subject: numerious errors\r\n",
        "protection: Plain\r\n",
        "email:" + adminAddress + "\r\n",
        "body:\r\n",
        format("Ошибка 0x%X возникла %d раз; последняя: %s %s\r\n"_w, errorCode, count, date.c_str(), time.c_str()),
        text + "\r\n",
    };
    return writeAlert(outputPath(outputDirectory), name, lines, "CMainApp::SendMailAboutNumerousError",
                      kEventNumerousNotSent);
}

} // namespace tarmin::monitor
