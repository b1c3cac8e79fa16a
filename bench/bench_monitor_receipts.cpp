// Receipt tracking catching up with a large backlog, as the monitor does it
// after a start: batches of 1,000 lines, ten batches per refresh tick.
//
// The logs come from the log generator: by default 2,000,000 sent messages
// over 30 days with the receipts their recipients return (about 3 million
// inbound lines). Printed:
//   - the whole catch-up: the time of all batches together (goal <= 5 s), and
//     beside it `sort -t, -k6,6` of the same files (sorting the same hashes)
//     with the ratio;
//   - the longest batch and the longest tick (up to ten batches, none begun
//     after 40 ms), the time the window's thread is held at once (goal <= 50
//     ms), in wall time and in the thread's processor time;
//   - the messages still waiting at the end, and the peak memory growth.
//
// Environment: BENCH_RECEIPT_MESSAGES (default 2000000), BENCH_KEEP=1 leaves
// the generated files in place.
#include "../tools/loggen/LogGenerator.h"
#include "monitor/alerts/ReceiptStore.h"
#include "qzcom.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace tarmin::monitor;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned kBatchLines = 1000;
constexpr int kBatchesPerTick = 10;
constexpr int kTickBudgetMs = 40;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The processor time of this thread (user and system), which a busy machine
// does not inflate by running others meanwhile.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

uint64_t messageCount() {
    const char *text = std::getenv("BENCH_RECEIPT_MESSAGES");
    return text && *text ? std::strtoull(text, nullptr, 10) : 2'000'000;
}

long peakKb() {
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// The files of both families, for the reference.
std::vector<std::string> logFiles(const fs::path &dir) {
    std::vector<std::string> files;
    for (const auto &e : fs::directory_iterator(dir))
        if (e.path().extension() == ".csv") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// `sort -t, -k6,6` over the same files: the hashes of the messages and of
// their receipts sorted, the work of matching them without a store.
double sortSeconds(const std::vector<std::string> &files) {
    const auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> argv{const_cast<char *>("sort"), const_cast<char *>("-t,"), const_cast<char *>("-k6,6"),
                                 const_cast<char *>("-o"), const_cast<char *>("/dev/null")};
        for (const std::string &f : files) argv.push_back(const_cast<char *>(f.c_str()));
        argv.push_back(nullptr);
        ::setenv("LC_ALL", "C", 1);
        execvp("sort", argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return seconds(Clock::now() - start);
}

} // namespace

int main() {
    const fs::path root = fs::temp_directory_path() / ("bench-monitor-receipts-" + std::to_string(::getpid()));
    fs::create_directories(root / "home");
    fs::permissions(root / "home", fs::perms::owner_all, fs::perm_options::replace); // a settings home is private
    ::setenv("TARMIN_HOME", (root / "home").c_str(), 1);
    if (QZ_Initialize("tarmin-operator", QZ_VERSION) != 0) {
        std::fprintf(stderr, "bench_monitor_receipts: the settings store cannot be opened\n");
        return 1;
    }
    const uint64_t messages = messageCount();
    const fs::path logs = root / "logs";
    std::printf("generating %llu sent messages and their receipts over 30 days ...\n",
                static_cast<unsigned long long>(messages));
    tarmin::loggen::Options o;
    o.dir = logs.string();
    o.days = 30;
    o.end = 1'709'251'200; // 01/03/2024
    o.outgoing = messages;
    o.inbound = 0;
    o.withErrors = false;
    std::atomic<bool> stop{false};
    const tarmin::loggen::Stats stats = tarmin::loggen::generate(o, stop);
    const std::vector<std::string> files = logFiles(logs);
    sortSeconds(files); // brings the files into the page cache
    const double sorted = sortSeconds(files);

    MonitorContext context;
    context.logDirectory = logs.string() + "/";
    const long before = peakKb();
    double work = 0, longestBatch = 0, longestTick = 0, cpuWork = 0, longestCpuBatch = 0, longestCpuTick = 0;
    std::size_t batches = 0, ticks = 0, longestAt = 0;
    {
        ReceiptStore store(context);
        // Start-up runs one batch; the refresh timer then runs ticks of up to
        // ten batches while the catch-up is pending.
        const auto first = Clock::now();
        const double firstCpu = cpuSeconds();
        store.runBatch(kBatchLines);
        longestBatch = longestTick = work = seconds(Clock::now() - first);
        longestCpuBatch = longestCpuTick = cpuWork = cpuSeconds() - firstCpu;
        batches = 1;
        while (store.catchUpPending()) {
            const auto tickStart = Clock::now();
            const double tickCpu = cpuSeconds();
            // As the monitor's tick does it (ReceiptTracking::runCatchUpTick),
            // each batch timed.
            for (int i = 0; i < kBatchesPerTick && store.catchUpPending(); ++i) {
                if (i > 0 && Clock::now() - tickStart >= std::chrono::milliseconds(kTickBudgetMs)) break;
                const auto start = Clock::now();
                const double startCpu = cpuSeconds();
                store.runBatch(kBatchLines);
                const double batch = seconds(Clock::now() - start);
                if (batch > longestBatch) longestBatch = batch, longestAt = batches;
                longestCpuBatch = std::max(longestCpuBatch, cpuSeconds() - startCpu);
                ++batches;
            }
            const double tick = seconds(Clock::now() - tickStart);
            longestTick = std::max(longestTick, tick);
            longestCpuTick = std::max(longestCpuTick, cpuSeconds() - tickCpu);
            cpuWork += cpuSeconds() - tickCpu;
            work += tick;
            ++ticks;
        }
        const long growthKb = peakKb() - before;
        std::printf("receipt tracking, %llu sent lines, %llu inbound lines (%llu receipts):\n",
                    static_cast<unsigned long long>(stats.outgoing.lines),
                    static_cast<unsigned long long>(stats.inbound.lines),
                    static_cast<unsigned long long>(stats.receipts));
        std::printf("  whole catch-up: %.2f s of work in %zu batches of %u lines (goal <= 5 s); "
                    "sort -t, -k6,6 of the same files %.2f s; ratio %.2f\n",
                    work, batches, kBatchLines, sorted, sorted > 0 ? work / sorted : 0.0);
        std::printf("  longest batch %.1f ms (batch %zu), longest tick of up to %d batches %.1f ms (goal <= 50 ms), "
                    "%zu ticks (%.1f s of 100 ms timer periods)\n",
                    longestBatch * 1e3, longestAt, kBatchesPerTick, longestTick * 1e3, ticks, ticks * 0.1);
        std::printf("  processor time of the thread: whole catch-up %.2f s, longest batch %.1f ms, longest tick "
                    "%.1f ms (the wall times above include waiting for the processor on a busy machine)\n",
                    cpuWork, longestCpuBatch * 1e3, longestCpuTick * 1e3);
        std::printf("  messages still waiting: %zu; peak memory growth %.1f MB\n", store.size(), growthKb / 1024.0);
    }
    QZ_Finalize();
    if (!std::getenv("BENCH_KEEP")) fs::remove_all(root);
    return 0;
}
