// QZ_Trace: trace lines into the file named by TARMIN_TRACE ("-" for
// standard error).
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include <sys/syscall.h>
#include <unistd.h>

#include "qzcom.h"

namespace {

std::mutex g_trace_mutex;
// The open trace file and the name it was opened under; reopened when the
// variable changes.
std::FILE *g_trace_file = nullptr;
std::string g_trace_name;

std::FILE *trace_stream(const char *name) {
    if (std::string_view(name) == "-") return stderr;
    if (g_trace_file && g_trace_name == name) return g_trace_file;
    if (g_trace_file) std::fclose(g_trace_file);
    g_trace_file = std::fopen(name, "ae");
    g_trace_name = g_trace_file ? name : "";
    return g_trace_file;
}

// "2024-03-05 10:15:00.123 4711/4712 " : time, process and thread.
void write_prefix(std::FILE *out) {
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    std::fprintf(out, "%04d-%02d-%02d %02d:%02d:%02d.%03d %ld/%ld ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                 tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms), static_cast<long>(::getpid()),
                 static_cast<long>(::syscall(SYS_gettid)));
}

// The formatted line, with a line feed at its end.
std::string format_line(const char *format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n < 0) return {};
    std::string line(static_cast<std::size_t>(n), '\0');
    std::vsnprintf(line.data(), line.size() + 1, format, args);
    if (line.empty() || line.back() != '\n') line += '\n';
    return line;
}

} // namespace

extern "C" void QZ_Trace(const char *format, ...) {
    if (!format) return;
    try {
        std::lock_guard guard(g_trace_mutex);
        const char *name = std::getenv("TARMIN_TRACE");
        if (!name || !*name) return;
        std::FILE *out = trace_stream(name);
        if (!out) return;
        va_list args;
        va_start(args, format);
        std::string line = format_line(format, args);
        va_end(args);
        if (line.empty()) return; // a format the C library refused
        write_prefix(out);
        std::fputs(line.c_str(), out);
        std::fflush(out);
    } catch (...) {
        // Exhausted memory: the trace line is dropped.
    }
}
