// Events and reports: QZ_ReportEvent keeps each event for QZ_ShowReports and
// appends it to the operator event file.
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "common/event_file.h"
#include "common/event_texts.h"
#include "qzcom.h"

using namespace tarmin::cp::literals;

namespace {

struct KeptReport {
    int level;
    QZ_DWORD code;
    std::string text;
    std::time_t time;
};

// A program that never shows its reports (a gateway host) must not grow
// without end: beyond this many the oldest are dropped. The event files keep
// every event.
constexpr std::size_t kMaxKeptReports = 10000;

std::mutex g_mutex;
std::deque<KeptReport> g_reports;
QZ_REPORT_PRESENTER g_presenter = nullptr;
void *g_presenter_user = nullptr;

// Set while this thread writes an event file line: an event reported from
// inside (the settings store failing) is kept but not written again.
thread_local bool t_writing_event = false;

void write_to_event_file(std::time_t now, int level, QZ_DWORD code, const std::string &text) {
    if (t_writing_event) return;
    t_writing_event = true;
    tarmin::qzcom::EventFileSettings settings;
    if (tarmin::qzcom::read_event_file_settings(settings)) {
        std::string line = tarmin::qzcom::event_line(now, level, code, text);
        if (!tarmin::qzcom::append_event_line(settings, now, line))
            QZ_Trace("event 0x%X not written to the event files of %s\n", code, settings.directory.c_str());
    }
    t_writing_event = false;
}

void print_report(const QZ_REPORT &r, const char *indent) {
    std::string text = tarmin::cp::cp1251_to_utf8(r.text ? r.text : "");
    std::fprintf(stderr, "%s0x%08X %s\n", indent, r.code, text.c_str());
}

// Without a presenter of the program's own: standard error, in UTF-8.
void present_on_stderr(QZ_HWND, int mode, const QZ_REPORT *reports, size_t count, void *) {
    if (mode != QZ_LEVEL_SUMMARY) {
        for (size_t i = 0; i < count; ++i) print_report(reports[i], "");
        return;
    }
    bool details = false;
    for (size_t i = 0; i < count; ++i) {
        if (reports[i].level == QZ_LEVEL_SUMMARY) print_report(reports[i], "");
        else details = true;
    }
    if (!details) return;
    std::fprintf(stderr, "  %s\n", tarmin::cp::cp1251_to_utf8("Подробности:"_w).c_str());
    for (size_t i = 0; i < count; ++i)
        if (reports[i].level != QZ_LEVEL_SUMMARY) print_report(reports[i], "  ");
    std::fflush(stderr);
}

} // namespace

extern "C" {

void QZ_ReportEventV(int level, QZ_DWORD code, va_list args) {
    try {
        va_list copy;
        va_copy(copy, args);
        std::string text = tarmin::qzcom::format_event_text(code, copy);
        va_end(copy);
        const std::time_t now = tarmin::qzcom::event_clock_now();
        {
            std::lock_guard guard(g_mutex);
            if (g_reports.size() >= kMaxKeptReports) g_reports.pop_front();
            g_reports.push_back({level, code, text, now});
        }
        QZ_Trace("event %d 0x%X: %s\n", level, code, text.c_str());
        write_to_event_file(now, level, code, text);
    } catch (...) {
        // Out of memory: the event is lost, the caller goes on.
    }
}

void QZ_ReportEvent(int level, QZ_DWORD code, ...) {
    va_list args;
    va_start(args, code);
    QZ_ReportEventV(level, code, args);
    va_end(args);
}

void QZ_SetReportPresenter(QZ_REPORT_PRESENTER presenter, void *user) {
    std::lock_guard guard(g_mutex);
    g_presenter = presenter;
    g_presenter_user = user;
}

void QZ_ShowReports(QZ_HWND owner, int mode) {
    try {
        std::deque<KeptReport> shown;
        QZ_REPORT_PRESENTER presenter;
        void *user;
        {
            std::lock_guard guard(g_mutex);
            shown.swap(g_reports);
            presenter = g_presenter ? g_presenter : present_on_stderr;
            user = g_presenter_user;
        }
        if (shown.empty()) return;
        std::vector<QZ_REPORT> reports;
        reports.reserve(shown.size());
        for (const auto &r : shown) reports.push_back({r.level, r.code, r.text.c_str(), r.time});
        // Outside the lock: the presenter may report events of its own.
        presenter(owner, mode, reports.data(), reports.size(), user);
    } catch (...) {
        // A presenter's exception or exhausted memory: the reports are dropped.
    }
}

void QZ_ClearReports(int) {
    std::lock_guard guard(g_mutex);
    g_reports.clear();
}

size_t QZ_GetReportCount(void) {
    std::lock_guard guard(g_mutex);
    return g_reports.size();
}

} // extern "C"
