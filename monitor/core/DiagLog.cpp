#include "monitor/core/DiagLog.h"

#include "platform/files.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace tarmin::monitor {

namespace {

// The file settings are set at start-up and read by every writer; the mutex
// keeps a test that changes them between writes well defined.
std::mutex g_mutex;
std::string g_basePath;
std::string g_extension;
std::function<std::time_t()> g_clock;

constexpr std::size_t kTempPathBuffer = 243;

std::time_t now() { return g_clock ? g_clock() : std::time(nullptr); }

// The user's temporary directory with a trailing "/", read as into the
// logger's buffer of 243 characters: empty when it does not fit.
std::string temporaryDirectory() {
    std::string dir = platform::temp_directory();
    return dir.size() >= kTempPathBuffer ? std::string() : dir;
}

void setFileLocked(const char *directory, const char *baseName, const char *extension) {
    g_basePath.clear();
    g_extension.clear();
    if (!directory || !baseName || !extension || !*directory || !*baseName || !*extension) return;
    if (std::strlen(directory) + std::strlen(baseName) + std::strlen(extension) > kDiagMaxPath) return;
    g_basePath = std::string(directory) + baseName;
    g_extension = extension;
}

std::string fileNameLocked(const std::tm &t) {
    if (g_basePath.empty() || g_extension.empty()) return {};
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%04d_%02d_%02d.%d.", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  static_cast<int>(::gettid()));
    return g_basePath + suffix + g_extension;
}

} // namespace

void DiagLog::setFile(const char *directory, const char *baseName, const char *extension) {
    std::lock_guard lock(g_mutex);
    setFileLocked(directory, baseName, extension);
}

void DiagLog::setLevel(uint32_t mask) {
    {
        std::lock_guard lock(g_mutex);
        if (g_basePath.empty() || g_extension.empty()) {
            std::string temp = temporaryDirectory();
            if (!temp.empty()) setFileLocked(temp.c_str(), "tmpdebug", "dlog.txt");
        }
    }
    s_mask.store(mask, std::memory_order_relaxed);
}

std::string DiagLog::basePath() {
    std::lock_guard lock(g_mutex);
    return g_basePath;
}

std::string DiagLog::extension() {
    std::lock_guard lock(g_mutex);
    return g_extension;
}

std::string DiagLog::currentFileName() {
    std::time_t t = now();
    std::tm tm{};
    localtime_r(&t, &tm);
    std::lock_guard lock(g_mutex);
    return fileNameLocked(tm);
}

void DiagLog::setClockForTesting(std::function<std::time_t()> clock) {
    std::lock_guard lock(g_mutex);
    g_clock = std::move(clock);
}

void DiagLog::write(uint32_t bits, const char *sourceFile, int line, const char *format, ...) {
    if (!enabled(bits)) return;

    char message[kDiagMaxMessage + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    std::string fileName;
    std::tm tm{};
    {
        std::lock_guard lock(g_mutex);
        std::time_t t = g_clock ? g_clock() : std::time(nullptr);
        localtime_r(&t, &tm);
        fileName = fileNameLocked(tm);
    }
    if (fileName.empty()) return;

    std::FILE *f = std::fopen(fileName.c_str(), "a");
    if (!f) return;
    std::fprintf(f, "%02d/%02d/%04d,%02d:%02d:%02d,[file:%s],[line:%d] %s\n", tm.tm_mday, tm.tm_mon + 1,
                 tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, sourceFile ? sourceFile : "", line,
                 message);
    std::fclose(f);
}

} // namespace tarmin::monitor
