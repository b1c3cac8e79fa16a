// Settings reads per second: QZ_GetDword on an existing value of the settings
// key, beside the goal of 100,000 reads per second and beside a reference
// measured in the same run: the same row read by a bare prepared SQLite
// statement on the same database file (what the store cannot beat).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sqlite3.h>
#include <string>
#include <unistd.h>

#include "common/settings.h"
#include "qzcom.h"

namespace {

constexpr double kGoalReadsPerSecond = 100000.0;

void BM_GetDword(benchmark::State &state) {
    QZ_HKEY key = QZ_GetSettingsKey(0);
    QZ_DWORD value = 0;
    for (auto _ : state) {
        if (QZ_GetDword(key, "GWMonRefreshTimeout", &value, 120) != 0 || value != 30) {
            state.SkipWithError("the value was not read");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
    state.counters["reads_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GetDword)->MinTime(1.0)->UseRealTime();

void BM_GetStringBuf(benchmark::State &state) {
    QZ_HKEY key = QZ_GetSettingsKey(0);
    char buf[260];
    for (auto _ : state) {
        QZ_GetStringBuf(key, "GWMonGWLogDirectory", buf, sizeof buf, "%TEMP%");
        benchmark::DoNotOptimize(buf);
    }
    state.counters["reads_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GetStringBuf)->MinTime(0.5)->UseRealTime();

// The reference: one prepared SELECT of the same row, stepped and reset.
void BM_SqliteSelectReference(benchmark::State &state) {
    sqlite3 *db = nullptr;
    sqlite3_stmt *s = nullptr;
    std::string path = tarmin::qzcom::settings_store_path();
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "SELECT type, data FROM vals WHERE key=?1 AND fold=?2", -1, &s, nullptr) !=
            SQLITE_OK) {
        state.SkipWithError("cannot open the store directly");
        sqlite3_close(db);
        return;
    }
    std::string key = "software\\kelvoria\\tarmin-operator\\profiles\\bench", name = "gwmonrefreshtimeout";
    for (auto _ : state) {
        sqlite3_bind_text(s, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        sqlite3_bind_text(s, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
        if (sqlite3_step(s) != SQLITE_ROW) {
            state.SkipWithError("the row was not found");
            break;
        }
        benchmark::DoNotOptimize(sqlite3_column_blob(s, 1));
        sqlite3_reset(s);
    }
    state.counters["reads_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate);
    sqlite3_finalize(s);
    sqlite3_close(db);
}
BENCHMARK(BM_SqliteSelectReference)->MinTime(1.0)->UseRealTime();

// Keeps the reads per second of each benchmark for the summary.
class Collector : public benchmark::ConsoleReporter {
public:
    Collector() : ConsoleReporter(::isatty(1) ? OO_ColorTabular : OO_Tabular) {}
    std::map<std::string, double> rates;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs)
            if (auto it = run.counters.find("reads_per_s"); it != run.counters.end() && !run.error_occurred)
                rates[run.benchmark_name()] = it->second;
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv) {
    // A private store, so that the figure does not depend on the user's settings.
    char dir[] = "/tmp/tarmin-bench-XXXXXX";
    if (!::mkdtemp(dir)) return 1;
    ::setenv("TARMIN_HOME", dir, 1);
    if (QZ_InitializeWithProfile("tarmin-operator", "bench", QZ_VERSION) != 0) return 1;
    QZ_SetDword(QZ_GetSettingsKey(0), "GWMonRefreshTimeout", 30);
    QZ_SetKeyString(QZ_GetProductKeyName(), "GWMonGWLogDirectory", "/var/log/gateway", 0);
    // Some neighbours, so that the lookup is not in a one-row table.
    for (int i = 0; i < 200; ++i)
        QZ_SetDword(QZ_GetSettingsKey(0), ("Value" + std::to_string(i)).c_str(), static_cast<QZ_DWORD>(i));

    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    double reads = collector.rates["BM_GetDword/min_time:1.000/real_time"];
    double reference = collector.rates["BM_SqliteSelectReference/min_time:1.000/real_time"];
    if (reads > 0) {
        std::printf("QZ_GetDword on an existing value: %.0f reads/s; goal %.0f reads/s: %.1f times the goal%s\n",
                    reads, kGoalReadsPerSecond, reads / kGoalReadsPerSecond,
                    reads >= kGoalReadsPerSecond ? "" : "  ** BELOW THE GOAL **");
        if (reference > 0)
            std::printf("reference in this run, a bare prepared SQLite SELECT of the same row: %.0f reads/s "
                        "(QZ_GetDword reaches %.0f%% of it)\n",
                        reference, 100.0 * reads / reference);
    }
    QZ_Finalize();
    std::filesystem::remove_all(dir);
    return reads >= kGoalReadsPerSecond || reads == 0 ? 0 : 2;
}
