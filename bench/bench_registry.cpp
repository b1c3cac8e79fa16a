// Settings reads per second: QZ_GetDword on an existing value of the settings
// key, beside the goal of 100,000 reads per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "qzcom.h"

namespace {

constexpr double kReferenceReadsPerSecond = 100000.0;

void BM_GetDword(benchmark::State &state) {
    QZ_HKEY key = QZ_GetSettingsKey(0);
    QZ_DWORD value = 0;
    for (auto _ : state) {
        QZ_GetDword(key, "GWMonRefreshTimeout", &value, 120);
        benchmark::DoNotOptimize(value);
    }
    state.counters["reads_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate);
    state.counters["reference_per_s"] = kReferenceReadsPerSecond;
}
BENCHMARK(BM_GetDword)->MinTime(1.0);

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
BENCHMARK(BM_GetStringBuf)->MinTime(0.5);

} // namespace

int main(int argc, char **argv) {
    // A private store, so that the figure does not depend on the user's settings.
    char dir[] = "/tmp/tarmin-bench-XXXXXX";
    if (!::mkdtemp(dir)) return 1;
    ::setenv("TARMIN_HOME", dir, 1);
    if (QZ_InitializeWithProfile("tarmin-operator", "bench", QZ_VERSION) != 0) return 1;
    QZ_SetDword(QZ_GetSettingsKey(0), "GWMonRefreshTimeout", 30);
    QZ_SetKeyString(QZ_GetProductKeyName(), "GWMonGWLogDirectory", "/var/log/gateway", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("reference: QZ_GetDword goal %.0f reads/s (see reads_per_s above)\n", kReferenceReadsPerSecond);
    QZ_Finalize();
    std::filesystem::remove_all(dir);
    return 0;
}
