// What the qzms benchmarks against the openssl command line share: running a
// reference command, timing ours and the reference in turn, and a private
// TARMIN_HOME with the test PKI of tmncert (next to the program), an
// initialised context and 50 MB of pseudo-random data, removed at the end.
#pragma once

#include "include/qzcom.h"
#include "include/qzms.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace tarmin::bench {

namespace fs = std::filesystem;

inline constexpr size_t kDataSize = 50u * 1000u * 1000u;
inline constexpr int kRounds = 5;
inline constexpr double kRatioGoal = 1.1;

using Clock = std::chrono::steady_clock;

inline double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline double mb_per_s(double ms) { return kDataSize / 1e3 / ms; }

// Reports on stderr under the program's name and ends the program.
[[noreturn]] inline void fail(const std::string &what) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what.c_str());
    std::exit(1);
}

// Runs a program; stdout goes to `out` when given, else to /dev/null; stderr
// to /dev/null. Returns the exit status.
inline int run(const std::vector<std::string> &args, const std::string &out = "/dev/null") {
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline double time_ms(const std::function<void()> &op) {
    auto start = Clock::now();
    op();
    return ms_since(start);
}

// Best times of our operation and of its reference, run in turn, so that a
// busy moment of the shared machine weighs on both alike.
struct Pair {
    double ours = 1e300, ref = 1e300;
};
inline Pair compare(const std::function<void()> &ours, const std::function<void()> &ref) {
    Pair p;
    for (int i = 0; i < kRounds; ++i) {
        p.ours = std::min(p.ours, time_ms(ours));
        p.ref = std::min(p.ref, time_ms(ref));
    }
    return p;
}

inline std::string slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void spit(const fs::path &p, const void *data, size_t size) {
    std::ofstream out(p, std::ios::binary);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    if (!out) fail("cannot write " + p.string());
}

// The private home, the test PKI with "operator" as the own certificate, a
// context of the operator and the data (in memory and in a file).
struct CapiBench {
    fs::path home, pki, work, tmncert;
    std::map<std::string, std::string> thumb; // name of a PKI certificate -> its thumbprint
    CapiContext *ctx = nullptr;
    std::vector<unsigned char> data;
    fs::path data_file;

    // `home_template` is a mkdtemp template; `seed` starts the data generator.
    void setup(std::string home_template, uint32_t seed) {
        if (!::mkdtemp(home_template.data())) fail("no temporary directory");
        home = home_template;
        ::setenv("TARMIN_HOME", home_template.c_str(), 1);
        ::setenv("LANG", "C.UTF-8", 1);
        pki = home / "pki";
        work = home / "work";
        fs::create_directories(work);
        tmncert = fs::read_symlink("/proc/self/exe").parent_path() / "tmncert";

        fs::path listing = work / "pki.txt";
        if (run({tmncert.string(), "pki", "--out", pki.string()}, listing.string()) != 0) fail("tmncert pki failed");
        std::istringstream lines(slurp(listing));
        std::string name, tp;
        while (lines >> name >> tp) thumb[name] = tp;
        if (run({tmncert.string(), "setmy", thumb.at("operator")}) != 0) fail("tmncert setmy failed");

        if (QZ_Initialize("tarmin-operator", QZ_VERSION) != 0) fail("QZ_Initialize failed");
        fs::create_directories(home / "install");
        QZ_SetKeyString(QZ_GetProductKeyName(), "Path", (home / "install").c_str(), 1);
        if (CCA_create_context(&ctx) != 0 || CCA_init(ctx) != 0)
            fail(std::string("CCA_init failed: ") + CCA_get_debug_error(ctx));

        data.resize(kDataSize);
        uint32_t x = seed;
        for (auto &b : data) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<unsigned char>(x >> 24);
        }
        data_file = work / "data.bin";
        spit(data_file, data.data(), data.size());
    }

    void teardown() {
        CCA_final(ctx);
        CCA_close_context(ctx);
        QZ_Finalize();
        fs::remove_all(home);
    }

    CapiBlob data_blob() { return CapiBlob{data.data(), static_cast<uint32_t>(data.size())}; }
};

} // namespace tarmin::bench
