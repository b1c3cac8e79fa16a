// Saving and loading the configuration program's lists: an address book of
// 10,000 entries and a packet list of 1,000 packets (two recipients each),
// through the lists' settings module and through the configuration window
// (opening it loads every page into its controls; "&Применить" saves them).
// Goals: loading at most 1 s, saving at most 2 s. The reference, measured in
// the same run: the same values written to a bare SQLite table in one
// transaction, and read back with one SELECT.
#include "common/codepage.h"
#include "moncfg/gui/CConfigPage.h"
#include "moncfg/gui/CFpconfigDlg.h"
#include "moncfg/gui/CfgUi.h"
#include "monitor/lists/ListSettings.h"
#include "qzcom.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDialog>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarmin;
using namespace tarmin::cp::literals;
using monitor::ListRow;

namespace {

constexpr int kEntries = 10000;
constexpr int kPackets = 1000;
constexpr double kLoadGoal = 1.0;
constexpr double kSaveGoal = 2.0;

std::vector<ListRow> addressBook() {
    std::vector<ListRow> rows;
    for (int i = 0; i < kEntries; ++i)
        rows.push_back({{"Получатель номер "_w + std::to_string(i), "SMTP:recipient" + std::to_string(i) + "@bank.example"},
                        0,
                        {}});
    return rows;
}

std::vector<ListRow> packets() {
    std::vector<ListRow> rows;
    for (int i = 1; i <= kPackets; ++i)
        rows.push_back({{std::to_string(i), "/srv/out/packet" + std::to_string(i), "Ежедневная отчётность"_w + std::to_string(i),
                         "*.xml", "SMTP:oper@bank.example", "+", "", ""},
                        3,
                        {"SMTP:reports@cb.example", "SMTP:copy" + std::to_string(i) + "@cb.example"}});
    return rows;
}

const std::vector<ListRow> &book() {
    static const std::vector<ListRow> rows = addressBook();
    return rows;
}
const std::vector<ListRow> &packetRows() {
    static const std::vector<ListRow> rows = packets();
    return rows;
}

std::string product() { return QZ_GetProductKeyName(); }

void saveBoth(benchmark::State &state) {
    if (!monitor::saveListRows(monitor::kAddressBookLayout, product(), book()) ||
        !monitor::saveListRows(monitor::kPacketListLayout, product(), packetRows()))
        state.SkipWithError("the lists were not saved");
}

void BM_SaveLists(benchmark::State &state) {
    for (auto _ : state) saveBoth(state);
}
BENCHMARK(BM_SaveLists)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadLists(benchmark::State &state) {
    saveBoth(state);
    for (auto _ : state) {
        const monitor::ListLoad a = monitor::loadListRows(monitor::kAddressBookLayout, product());
        const monitor::ListLoad b = monitor::loadListRows(monitor::kPacketListLayout, product());
        if (a.rows.size() != kEntries || b.rows.size() != kPackets) state.SkipWithError("the lists were not read");
        benchmark::DoNotOptimize(a.rows.data());
    }
}
BENCHMARK(BM_LoadLists)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Opening the window: every page loaded, the lists shown in their controls.
void BM_WindowOpen(benchmark::State &state) {
    saveBoth(state);
    for (auto _ : state) {
        moncfg::CFpconfigDlg window("bench", false);
        benchmark::DoNotOptimize(&window);
    }
}
BENCHMARK(BM_WindowOpen)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// "&Применить" with a change: every page written, the lists replaced.
void BM_WindowSave(benchmark::State &state) {
    saveBoth(state);
    moncfg::CFpconfigDlg window("bench", false);
    for (auto _ : state) {
        window.page(138)->markModified();
        if (!window.saveAll()) state.SkipWithError("the window did not save");
    }
}
BENCHMARK(BM_WindowSave)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same values as rows of a bare table: one transaction, prepared insert.
struct Reference {
    sqlite3 *db = nullptr;
    sqlite3_stmt *insert = nullptr;
    sqlite3_stmt *select = nullptr;

    explicit Reference(const std::string &path) {
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db,
                     "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                     "CREATE TABLE IF NOT EXISTS vals(key TEXT NOT NULL, name TEXT NOT NULL, type INTEGER, data BLOB,"
                     " PRIMARY KEY(key, name)) WITHOUT ROWID;",
                     nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO vals VALUES(?1, ?2, ?3, ?4)", -1, &insert, nullptr);
        sqlite3_prepare_v2(db, "SELECT key, name, type, data FROM vals", -1, &select, nullptr);
    }
    ~Reference() {
        sqlite3_finalize(insert);
        sqlite3_finalize(select);
        sqlite3_close(db);
    }
    void put(const std::string &key, const char *name, int type, const std::string &data) {
        sqlite3_bind_text(insert, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, name, -1, SQLITE_STATIC);
        sqlite3_bind_int(insert, 3, type);
        sqlite3_bind_blob(insert, 4, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    void write(const monitor::ListLayout &layout, const std::vector<ListRow> &rows) {
        const std::string list = monitor::listKeyPath(layout, "bench");
        put(list, layout.countValue, 4, std::to_string(rows.size()));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string item = list + "\\" + std::to_string(i);
            for (std::size_t c = 0; c < layout.columns.size(); ++c)
                put(item, layout.columns[c].value, layout.columns[c].kind == monitor::ColumnKind::Number ? 4 : 1,
                    layout.columns[c].kind == monitor::ColumnKind::Number ? std::to_string(rows[i].number)
                                                                          : rows[i].cells[c]);
            if (!layout.nested) continue;
            const std::string nested = item + "\\" + layout.nested->key;
            put(nested, layout.nested->countValue, 4, std::to_string(rows[i].nested.size()));
            for (std::size_t j = 0; j < rows[i].nested.size(); ++j)
                put(nested, std::to_string(j).c_str(), 1, rows[i].nested[j]);
        }
    }
};

std::string referencePath() {
    return (std::filesystem::path(std::getenv("TARMIN_HOME")) / "reference.db").string();
}

void BM_SqliteWriteReference(benchmark::State &state) {
    Reference reference(referencePath());
    for (auto _ : state) {
        sqlite3_exec(reference.db, "BEGIN IMMEDIATE; DELETE FROM vals;", nullptr, nullptr, nullptr);
        reference.write(monitor::kAddressBookLayout, book());
        reference.write(monitor::kPacketListLayout, packetRows());
        sqlite3_exec(reference.db, "COMMIT;", nullptr, nullptr, nullptr);
    }
}
BENCHMARK(BM_SqliteWriteReference)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SqliteReadReference(benchmark::State &state) {
    Reference reference(referencePath());
    for (auto _ : state) {
        std::size_t values = 0;
        while (sqlite3_step(reference.select) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_blob(reference.select, 3));
            ++values;
        }
        sqlite3_reset(reference.select);
        if (values == 0) state.SkipWithError("nothing to read");
    }
}
BENCHMARK(BM_SqliteReadReference)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps the seconds per iteration of each benchmark for the summary.
class Collector : public benchmark::ConsoleReporter {
public:
    Collector() : ConsoleReporter(::isatty(1) ? OO_ColorTabular : OO_Tabular) {}
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            std::string name = run.benchmark_name();
            seconds[name.substr(0, name.find('/'))] = run.GetAdjustedRealTime() / 1000.0;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

bool line(const char *what, double measured, double goal, double reference) {
    const bool met = measured > 0 && measured <= goal;
    std::printf("%-52s %6.3f s; goal %.0f s%s; bare SQLite %6.3f s (%.1f times)\n", what, measured, goal,
                met ? "" : "  ** ABOVE THE GOAL **", reference, reference > 0 ? measured / reference : 0.0);
    return met;
}

} // namespace

int main(int argc, char **argv) {
    // A private store, so that the figures do not depend on the user's settings.
    char dir[] = "/tmp/tarmin-bench-XXXXXX";
    if (!::mkdtemp(dir)) return 1;
    ::setenv("TARMIN_HOME", dir, 1);
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    if (QZ_InitializeWithProfile("tarmin-operator", "bench", QZ_VERSION) != 0) return 1;

    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    const double write = collector.seconds["BM_SqliteWriteReference"];
    const double read = collector.seconds["BM_SqliteReadReference"];
    std::printf("\n%d address-book entries and %d packets:\n", kEntries, kPackets);
    bool met = line("saved (lists module)", collector.seconds["BM_SaveLists"], kSaveGoal, write);
    met = line("loaded (lists module)", collector.seconds["BM_LoadLists"], kLoadGoal, read) && met;
    met = line("saved with \"Применить\" (every page of the window)", collector.seconds["BM_WindowSave"], kSaveGoal,
               write) && met;
    met = line("loaded by opening the window (every page shown)", collector.seconds["BM_WindowOpen"], kLoadGoal,
               read) && met;
    QZ_Finalize();
    std::filesystem::remove_all(dir);
    return met ? 0 : 2;
}
