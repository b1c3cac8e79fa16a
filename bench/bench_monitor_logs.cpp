// Gateway log reading: vfiles into COutRecord, each figure beside its
// reference measured in the same run.
//
//   1. Full reading of an outgoing family of 2,000,000 lines in 20 files
//      (written by loggen): lines per second, the ratio of our time to
//      `awk -F, '{n+=NF}'` over the same files (goal <= 1.0), and the peak
//      memory growth against the bytes read (goal <= 2.0).
//   2. Refresh after 1,000 appended lines: its time against the full reading
//      (goal <= 1/100).
//   3. Merging: 20 files whose lines interleave in time against one file of
//      the same lines (goal: the same speed).
//
// Options: --lines N (default 2000000), --merge-lines N (default 500000),
// --keep (leave the generated files), plus Google Benchmark's own.
#include "monitor/logs/GWRecords.h"
#include "monitor/logs/COutRecord.h"
#include "monitor/logs/vfiles.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace tarmin::monitor;
using Clock = std::chrono::steady_clock;

namespace {

struct Config {
    long lines = 2'000'000;
    long mergeLines = 500'000;
    bool keep = false;
    fs::path root;
} g_config;

struct Summary {
    std::vector<std::string> rows;
    void add(const char *format, ...) __attribute__((format(printf, 2, 3))) {
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        rows.emplace_back(text);
    }
} g_summary;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs a program, returns its exit status (stdout discarded unless `out`).
int run(const std::vector<std::string> &argv, std::string *out = nullptr) {
    int pipefd[2];
    if (pipe(pipefd) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipefd[1], 1);
        close(pipefd[0]);
        close(pipefd[1]);
        std::vector<char *> args;
        for (auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipefd[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(pipefd[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    close(pipefd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path loggenPath() {
    fs::path self = fs::read_symlink("/proc/self/exe");
    return self.parent_path() / "loggen";
}

void loggen(const fs::path &dir, std::vector<std::string> extra) {
    std::vector<std::string> argv = {loggenPath().string(), "--dir", dir.string(), "--families", "out", "--quiet",
                                     "--end", "01/03/2024 00:00:00"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (run(argv) != 0) {
        std::fprintf(stderr, "loggen failed: %s\n", loggenPath().c_str());
        std::exit(1);
    }
}

std::vector<std::string> familyFiles(const fs::path &dir) {
    std::vector<std::string> files;
    for (auto &e : fs::directory_iterator(dir))
        if (e.path().extension() == ".csv") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

uint64_t bytesOf(const std::vector<std::string> &files) {
    uint64_t n = 0;
    for (auto &f : files) n += fs::file_size(f);
    return n;
}

// awk -F, counting the fields of every line of the files: the reference.
double awkSeconds(const std::vector<std::string> &files) {
    std::vector<std::string> argv = {"awk", "-F,", "{n+=NF} END{print n}"};
    argv.insert(argv.end(), files.begin(), files.end());
    auto t0 = Clock::now();
    std::string out;
    if (run(argv, &out) != 0) return -1;
    return seconds(Clock::now() - t0);
}

long residentKb() {
    long pages = 0, resident = 0;
    std::FILE *f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakKb() {
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// Reads everything the set has now into records kept like the list keeps them.
std::size_t readRecords(vfiles &set, std::vector<std::unique_ptr<CGWRecord>> &records) {
    std::size_t lines = 0;
    std::string_view line;
    while (set.readLine(line)) {
        ++lines;
        if (auto r = parseRecord(LogKind::Outgoing, line, ',')) records.push_back(std::move(r));
    }
    return lines;
}

// ---- State shared by the benchmarks ----
struct FullFamily {
    fs::path dir;
    std::vector<std::string> files;
    uint64_t bytes = 0;
    std::unique_ptr<vfiles> set;
    std::vector<std::unique_ptr<CGWRecord>> records;
    double readSeconds = 0;
} g_full;

void BM_FullReading(benchmark::State &state) {
    auto &f = g_full;
    double awk = awkSeconds(f.files); // also brings the files into the page cache
    double first = 0;
    std::size_t lines = 0;
    int pass = 0;
    for (auto _ : state) {
        awk = std::min(awk, awkSeconds(f.files));
        f.records.clear();
        f.records.shrink_to_fit();
        f.set = std::make_unique<vfiles>();
        long before = residentKb();
        auto t0 = Clock::now();
        f.set->load((f.dir.string() + "/").c_str(), "tmnsent", 0);
        lines = readRecords(*f.set, f.records);
        double s = seconds(Clock::now() - t0);
        state.SetIterationTime(s);
        f.readSeconds = f.readSeconds > 0 ? std::min(f.readSeconds, s) : s;
        if (pass++ == 0) {
            // The first pass sets the high-water mark of the process; later
            // passes reuse the memory the previous one freed.
            first = s;
            long growthKb = peakKb() - before;
            double memRatio = static_cast<double>(growthKb) * 1024.0 / static_cast<double>(f.bytes);
            state.counters["peak_mem_ratio"] = memRatio;
            g_summary.add("full reading: %zu lines, %.1f MB read, peak memory growth %.1f MB = %.2f x bytes read "
                          "(goal <= 2.0)",
                          lines, f.bytes / 1e6, growthKb / 1024.0, memRatio);
        }
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.counters["lines_per_s"] = static_cast<double>(lines) / f.readSeconds;
    state.counters["awk_s"] = awk;
    state.counters["ratio_to_awk"] = f.readSeconds / awk;
    g_summary.add("full reading into kept records: first pass (fresh heap) %.3f s = %.2f M lines/s, best of %d "
                  "passes %.3f s; awk -F, counting fields: %.3f s; ratio first pass %.2f, best %.2f (goal <= 1.0)",
                  first, static_cast<double>(lines) / first / 1e6, pass, f.readSeconds, awk, first / awk,
                  f.readSeconds / awk);
}

// The same files and awk reference, without keeping the records: what the
// reading and parsing cost by themselves, apart from the memory that holds
// 2,000,000 records.
void BM_ReadingWithoutKeeping(benchmark::State &state) {
    auto &f = g_full;
    double awk = awkSeconds(f.files);
    double bestLines = 1e9, bestParse = 1e9;
    std::size_t lines = 0, parsed = 0;
    for (auto _ : state) {
        awk = std::min(awk, awkSeconds(f.files));
        {
            vfiles set;
            auto t0 = Clock::now();
            set.load((f.dir.string() + "/").c_str(), "tmnsent", 0);
            std::string_view line;
            lines = 0;
            while (set.readLine(line)) ++lines;
            bestLines = std::min(bestLines, seconds(Clock::now() - t0));
        }
        {
            vfiles set;
            COutRecord record;
            auto t0 = Clock::now();
            set.load((f.dir.string() + "/").c_str(), "tmnsent", 0);
            std::string_view line;
            parsed = 0;
            while (set.readLine(line)) parsed += record.Parse(line, ',') ? 1 : 0;
            double s = seconds(Clock::now() - t0);
            bestParse = std::min(bestParse, s);
            state.SetIterationTime(s);
        }
    }
    state.counters["lines_per_s"] = static_cast<double>(lines) / bestLines;
    state.counters["parsed_per_s"] = static_cast<double>(parsed) / bestParse;
    g_summary.add("lines only: %.3f s (%.2f M lines/s, ratio to awk %.2f); lines parsed into one reused "
                  "COutRecord: %.3f s (ratio to awk %.2f)",
                  bestLines, lines / bestLines / 1e6, bestLines / awk, bestParse, bestParse / awk);
}

void BM_Refresh1000(benchmark::State &state) {
    auto &f = g_full;
    // 1,000 later lines of the same kind, appended to the newest file.
    fs::path extra = g_config.root / "extra";
    loggen(extra, {"--outgoing", "1000", "--days", "0.01", "--end", "02/03/2024 00:00:00", "--no-header",
                   "--rotate-hours", "0"});
    std::string appended;
    for (auto &p : familyFiles(extra)) {
        std::ifstream in(p, std::ios::binary);
        appended.append(std::istreambuf_iterator<char>(in), {});
    }
    double best = 1e9;
    std::size_t lines = 0;
    for (auto _ : state) {
        {
            std::ofstream out(f.files.back(), std::ios::binary | std::ios::app);
            out << appended;
        }
        auto t0 = Clock::now();
        f.set->load((f.dir.string() + "/").c_str(), "tmnsent", 0);
        lines = readRecords(*f.set, f.records);
        double s = seconds(Clock::now() - t0);
        state.SetIterationTime(s);
        best = std::min(best, s);
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.counters["ratio_to_full"] = best / f.readSeconds;
    g_summary.add("refresh after %zu appended lines: %.2f ms; full reading %.0f ms; ratio %.5f (goal <= 0.01)", lines,
                  best * 1e3, f.readSeconds * 1e3, best / f.readSeconds);
}

struct MergeCase {
    fs::path interleaved, single;
} g_merge;

// Reads a family into records in a child process, so that every reading
// starts from a fresh heap as the first reading of a list does; the child
// reports its time and line count.
double timeMerge(const fs::path &dir, std::size_t &lines) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::vector<std::unique_ptr<CGWRecord>> records;
        vfiles set;
        auto t0 = Clock::now();
        set.load((dir.string() + "/").c_str(), "tmnsent", 0);
        std::size_t n = readRecords(set, records);
        double s = seconds(Clock::now() - t0);
        ssize_t ignored = write(fds[1], &s, sizeof s);
        ignored = write(fds[1], &n, sizeof n);
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    double s = -1;
    if (read(fds[0], &s, sizeof s) != sizeof s || read(fds[0], &lines, sizeof lines) != sizeof lines) s = -1;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return s;
}

void BM_Merge(benchmark::State &state) {
    std::size_t linesI = 0, linesS = 0;
    double bestI = 1e9, bestS = 1e9;
    for (auto _ : state) {
        bestS = std::min(bestS, timeMerge(g_merge.single, linesS));
        double i = timeMerge(g_merge.interleaved, linesI);
        bestI = std::min(bestI, i);
        state.SetIterationTime(i);
    }
    state.counters["interleaved_lines_per_s"] = static_cast<double>(linesI) / bestI;
    state.counters["single_lines_per_s"] = static_cast<double>(linesS) / bestS;
    state.counters["ratio"] = bestI / bestS;
    g_summary.add("merge: 20 interleaved files %.3f s (%.2f M lines/s); one file of the same %zu lines %.3f s "
                  "(%.2f M lines/s); ratio %.2f (goal about 1.0)",
                  bestI, linesI / bestI / 1e6, linesS, bestS, linesS / bestS / 1e6, bestI / bestS);
}

} // namespace

BENCHMARK(BM_FullReading)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadingWithoutKeeping)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Refresh1000)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Merge)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--lines") && i + 1 < argc) g_config.lines = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--merge-lines") && i + 1 < argc) g_config.mergeLines = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--keep")) g_config.keep = true;
        else rest.push_back(argv[i]);
    }
    int restc = static_cast<int>(rest.size());
    benchmark::Initialize(&restc, rest.data());

    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench-monitor-logs-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    g_config.root = buf.data();

    std::printf("generating test data with loggen in %s ...\n", g_config.root.c_str());
    std::fflush(stdout);
    g_full.dir = g_config.root / "full";
    loggen(g_full.dir, {"--outgoing", std::to_string(g_config.lines), "--rotate-lines",
                        std::to_string((g_config.lines + 19) / 20), "--rotate-hours", "0", "--days", "30"});
    g_full.files = familyFiles(g_full.dir);
    g_full.bytes = bytesOf(g_full.files);
    g_merge.interleaved = g_config.root / "interleaved";
    g_merge.single = g_config.root / "single";
    std::string merge = std::to_string(g_config.mergeLines);
    loggen(g_merge.interleaved, {"--outgoing", merge, "--interleave", "20", "--rotate-hours", "0", "--days", "1"});
    loggen(g_merge.single, {"--outgoing", merge, "--rotate-hours", "0", "--days", "1"});
    // Written data goes to the disk now, not while the readings are timed.
    sync();

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n== monitor log reading: figures and references\n");
    for (auto &row : g_summary.rows) std::printf("  %s\n", row.c_str());
    if (!g_config.keep) fs::remove_all(g_config.root);
    return 0;
}
