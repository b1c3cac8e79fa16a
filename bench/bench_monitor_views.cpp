// The record list with millions of rows, measured in the real list view on
// the offscreen platform:
//   1. selecting "Исходящие сообщения" on a family of 2,000,000 lines until the
//      list shows its rows, against the log core's bare reading of the same
//      files (vfiles + COutRecord) in the same run (goal: ratio <= 1.3);
//   2. a refresh tick that finds 1,000 new lines, with the selection kept
//      (goal: <= 100 ms);
//   3. sorting 1,000,000 rows by "Дата" and by "Тема сообщения" (goal: <= 1 s
//      each), beside std::sort of the same subjects as plain strings.
// Environment: BENCH_MONITOR_LINES overrides the 2,000,000 lines (and half of
// it the sorted rows), for a quick run.
#include "monitor/logs/GWRecords.h"
#include "monitor/logs/vfiles.h"
#include "monitor/views/CMonView.h"
#include "monitor/views/RecordTableModel.h"
#include "monitor/core/MonitorContext.h"
#include "qzcom.h"
#include "tools/loggen/LogGenerator.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarmin::monitor;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

uint64_t lineCount() {
    const char *text = std::getenv("BENCH_MONITOR_LINES");
    return text && *text ? std::strtoull(text, nullptr, 10) : 2'000'000;
}

// An outgoing family of `lines` lines in files of 100,000 lines over 30 days.
fs::path makeFamily(const fs::path &dir, uint64_t lines) {
    fs::create_directories(dir);
    tarmin::loggen::Options o;
    o.dir = dir.string();
    o.days = 30;
    o.outgoing = lines;
    o.withErrors = o.withInbound = false;
    o.rotateLines = 100'000;
    o.rotateHours = 0;
    std::atomic<bool> stop{false};
    tarmin::loggen::generate(o, stop);
    return dir;
}

// The log core alone: every line of the family becomes a COutRecord.
double bareReading(const fs::path &dir, std::size_t &records) {
    const auto start = Clock::now();
    vfiles files;
    const std::string directory = dir.string() + "/";
    files.load(directory.c_str(), "tmnsent", 0);
    std::vector<std::unique_ptr<CGWRecord>> out;
    std::string_view line;
    while (files.readLine(line))
        if (auto r = parseRecord(LogKind::Outgoing, line, ',')) out.push_back(std::move(r));
    records = out.size();
    const double ms = msSince(start);
    return ms;
}

// The view as the main window holds it, shown on the offscreen screen.
struct ShownList {
    explicit ShownList(const fs::path &dir) : view(context) {
        context.logDirectory = dir.string() + "/";
        context.initialised = true;
        view.resize(1200, 800);
        view.show();
        QApplication::processEvents();
    }
    // Until the list has drawn its rows.
    void settle() {
        view.reportView()->viewport()->repaint();
        QApplication::processEvents();
    }
    MonitorContext context;
    CMonView view;
};

void appendLines(const fs::path &dir, int count) {
    // The newest file of the family gets the new lines, dated now.
    fs::path newest;
    for (const auto &e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("tmnsent", 0) == 0 && (newest.empty() || e.path() > newest))
            newest = e.path();
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d,%02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::ofstream out(newest, std::ios::binary | std::ios::app);
    for (int i = 0; i < count; ++i)
        out << stamp << ",1,gw,0,NEW" << i << ",new@example.ru,Refresh " << i << ",n.txt,2\n";
}

void clickHeader(CMonView &view, int column) {
    QHeaderView *header = view.reportView()->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

int main(int argc, char **argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (QZ_Initialize("tarmin-operator", QZ_VERSION) != 0) {
        std::fprintf(stderr, "bench_monitor_views: the settings store cannot be opened\n");
        return 1;
    }
    const uint64_t lines = lineCount();
    const fs::path root = fs::temp_directory_path() / ("bench-monitor-views-" + std::to_string(::getpid()));
    std::printf("generating %llu outgoing lines ...\n", static_cast<unsigned long long>(lines));
    const fs::path family = makeFamily(root / "out", lines);

    // 1. Showing the outgoing category against the bare reading.
    std::size_t records = 0;
    bareReading(family, records); // warms the page cache for both runs
    const double bare = bareReading(family, records);
    double shown;
    {
        ShownList list(family);
        const auto start = Clock::now();
        list.view.OnCategorySelected(3);
        list.settle();
        shown = msSince(start);
        std::printf("select \"Исходящие сообщения\", %zu rows: %.0f ms; bare reading (vfiles + COutRecord): %.0f ms; "
                    "ratio %.2f (goal <= 1.3)\n",
                    static_cast<std::size_t>(list.view.recordModel()->rowCount()), shown, bare, shown / bare);

        // 2. A refresh tick with 1,000 new lines, the selection kept.
        list.view.selectRow(100);
        const CGWRecord *selected = list.view.recordModel()->recordAt(100);
        appendLines(family, 1000);
        const auto tick = Clock::now();
        list.view.Refresh();
        list.settle();
        const double refresh = msSince(tick);
        const int row = list.view.selectedRow();
        const bool kept = row == 1100 && list.view.recordModel()->recordAt(row) == selected;
        std::printf("refresh with 1000 new lines: %.1f ms (goal <= 100 ms), selection %s; full reading: %.0f ms\n",
                    refresh, kept ? "kept" : "LOST", shown);
    }

    // 3. Sorting a million rows.
    const uint64_t sortLines = lines / 2;
    const fs::path sortFamily = makeFamily(root / "sort", sortLines);
    {
        ShownList list(sortFamily);
        list.view.OnCategorySelected(3);
        list.settle();
        const RecordTableModel &model = *list.view.recordModel();
        std::vector<std::string> subjects;
        subjects.reserve(static_cast<std::size_t>(model.rowCount()));
        for (std::size_t r = 0; r < model.list().size(); ++r) subjects.emplace_back(model.list().text(r, 4));
        auto start = Clock::now();
        std::sort(subjects.begin(), subjects.end());
        const double reference = msSince(start);
        for (const auto &[column, name] : {std::pair{0, "Дата"}, std::pair{4, "Тема сообщения"}}) {
            for (bool secondClick : {false, true}) {
                start = Clock::now();
                clickHeader(list.view, column);
                list.settle();
                const double ms = msSince(start);
                std::printf("sort %d rows by \"%s\" %s: %.0f ms (goal <= 1000 ms); std::sort of the subjects as "
                            "plain strings: %.0f ms\n",
                            model.rowCount(), name, secondClick ? "descending" : "ascending", ms, reference);
            }
        }
    }
    QZ_Finalize();
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
