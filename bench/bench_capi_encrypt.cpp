// qzms encryption against the openssl command line (GOST engine) on the same
// 50 MB in the same run, best of five each, taken in turn:
//   CCA_encrypt_mem (one recipient)  beside  openssl cms -encrypt -gost89
//   CCA_decrypt_mem                  beside  openssl cms -decrypt
//   CCA_encrypt_session              beside  openssl enc -gost89 (CryptoPro-A),
//                                            and beside enc plus the MAC
//                                            (openssl dgst -mac gost-mac)
// and CCA_decrypt_session for information.
//
// The test PKI is made by tmncert (next to this program) in a private
// TARMIN_HOME that is removed at the end.
#include "include/qzcom.h"
#include "include/qzms.h"

#include <algorithm>
#include <chrono>
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

namespace fs = std::filesystem;

namespace {

constexpr size_t kDataSize = 50u * 1000u * 1000u;
constexpr int kRounds = 5;
constexpr double kRatioGoal = 1.1;

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "bench_capi_encrypt: %s\n", what.c_str());
    std::exit(1);
}

// Runs a program with stdout to `out` and stderr to /dev/null; its exit status.
int run(const std::vector<std::string> &args, const std::string &out = "/dev/null") {
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

double time_ms(const std::function<void()> &op) {
    auto start = Clock::now();
    op();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Best times of ours and of the reference, run in turn so that a busy moment
// of the shared machine weighs on both alike.
struct Pair {
    double ours = 1e300, ref = 1e300;
};
Pair compare(const std::function<void()> &ours, const std::function<void()> &ref) {
    Pair p;
    for (int i = 0; i < kRounds; ++i) {
        p.ours = std::min(p.ours, time_ms(ours));
        p.ref = std::min(p.ref, time_ms(ref));
    }
    return p;
}

std::string slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const fs::path &p, const void *data, size_t size) {
    std::ofstream out(p, std::ios::binary);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    if (!out) fail("cannot write " + p.string());
}

double mb_per_s(double ms) { return kDataSize / 1e3 / ms; }

void print_pair(const char *ours_name, const Pair &t, const char *ref_name, bool with_goal) {
    double ratio = t.ours / t.ref;
    std::printf("%-20s %8.1f ms %6.1f MB/s | %-30s %8.1f ms %6.1f MB/s | ratio %.3f", ours_name, t.ours,
                mb_per_s(t.ours), ref_name, t.ref, mb_per_s(t.ref), ratio);
    if (with_goal) std::printf(" (goal <= %.1f) %s", kRatioGoal, ratio <= kRatioGoal ? "ok" : "OVER");
    std::printf("\n");
}

struct Bench {
    fs::path home, pki, work;
    std::map<std::string, std::string> thumb;
    CapiContext *ctx = nullptr;
    std::vector<unsigned char> data;
    fs::path data_file;

    void setup() {
        char dir[] = "/tmp/tarmin-bench-enc-XXXXXX";
        if (!::mkdtemp(dir)) fail("no temporary directory");
        home = dir;
        ::setenv("TARMIN_HOME", dir, 1);
        ::setenv("LANG", "C.UTF-8", 1);
        // The reference commands load the engine themselves.
        ::setenv("OPENSSL_CONF", "/dev/null", 1);
        pki = home / "pki";
        work = home / "work";
        fs::create_directories(work);
        fs::path tmncert = fs::read_symlink("/proc/self/exe").parent_path() / "tmncert";
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
        uint32_t x = 0x9E3779B9;
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

    void enveloped() {
        PCCERT_CONTEXT me = nullptr;
        SignerSerial *serial = nullptr;
        if (CCA_get_my_cert(ctx, &me, &serial) != 0) fail(CCA_get_debug_error(ctx));
        CapiBlob in = data_blob();
        CapiBlob env{};
        const std::string cert = (pki / "operator.pem").string(), key = (pki / "operator.key").string();
        Pair enc = compare(
            [&] {
                CCA_free(ctx, env.pbData);
                env = {};
                if (CCA_encrypt_mem(ctx, &in, nullptr, &me, 1, &env) != 0) fail(CCA_get_debug_error(ctx));
            },
            [&] {
                if (run({"openssl", "cms", "-encrypt", "-engine", "gost", "-gost89", "-binary", "-in",
                         data_file.string(), "-outform", "DER", "-out", (work / "ref.p7m").string(), cert}) != 0)
                    fail("openssl cms -encrypt failed");
            });
        print_pair("CCA_encrypt_mem", enc, "openssl cms -encrypt -gost89", true);

        // Both open the same message: ours.
        fs::path ours = work / "ours.p7m";
        spit(ours, env.pbData, env.cbData);
        Pair dec = compare(
            [&] {
                CapiBlob out{};
                if (CCA_decrypt_mem(ctx, &env, nullptr, nullptr, &out) != 0 || out.cbData != kDataSize)
                    fail(CCA_get_debug_error(ctx));
                CCA_free(ctx, out.pbData);
            },
            [&] {
                if (run({"openssl", "cms", "-decrypt", "-engine", "gost", "-binary", "-inform", "DER", "-in",
                         ours.string(), "-recip", cert, "-inkey", key, "-out", "/dev/null"}) != 0)
                    fail("openssl cms -decrypt failed");
            });
        print_pair("CCA_decrypt_mem", dec, "openssl cms -decrypt", true);
        CCA_free(ctx, env.pbData);
        CCA_serial_free(ctx, serial);
        CCA_cert_free(ctx, me);
    }

    void session() {
        HCRYPTKEY key = nullptr;
        if (CCA_create_session(ctx, &key) != 0) fail(CCA_get_debug_error(ctx));
        CapiBlob in = data_blob();
        CapiBlob container{};
        // GOST 28147-89 CFB with CryptoPro key meshing on the CryptoPro-A
        // parameter set, as the session containers use it.
        fs::path conf = work / "openssl.cnf";
        std::string text = "openssl_conf = openssl_def\n[openssl_def]\nengines = engine_section\n"
                           "[engine_section]\ngost = gost_section\n"
                           "[gost_section]\nengine_id = gost\ndefault_algorithms = ALL\n"
                           "CRYPT_PARAMS = id-Gost28147-89-CryptoPro-A-ParamSet\n";
        spit(conf, text.data(), text.size());
        Pair enc = compare(
            [&] {
                CCA_free(ctx, container.pbData);
                container = {};
                if (CCA_encrypt_session(ctx, &in, key, nullptr, &container) != 0) fail(CCA_get_debug_error(ctx));
            },
            [&] {
                ::setenv("OPENSSL_CONF", conf.c_str(), 1);
                int rc = run({"openssl", "enc", "-gost89", "-K",
                              "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", "-iv",
                              "0102030405060708", "-in", data_file.string(), "-out", (work / "enc.bin").string()});
                ::setenv("OPENSSL_CONF", "/dev/null", 1);
                if (rc != 0) fail("openssl enc -gost89 failed");
            });
        print_pair("CCA_encrypt_session", enc, "openssl enc -gost89", false);
        // A session container also carries the MAC of the plaintext: the
        // same work on the command line is enc plus dgst -mac gost-mac.
        double mac = 1e300;
        for (int i = 0; i < kRounds; ++i)
            mac = std::min(mac, time_ms([&] {
                ::setenv("OPENSSL_CONF", conf.c_str(), 1);
                int rc = run({"openssl", "dgst", "-mac", "gost-mac", "-macopt",
                              "hexkey:0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
                              data_file.string()});
                ::setenv("OPENSSL_CONF", "/dev/null", 1);
                if (rc != 0) fail("openssl dgst -mac gost-mac failed");
            }));
        print_pair("CCA_encrypt_session", Pair{enc.ours, enc.ref + mac}, "openssl enc + dgst -mac gost-mac", false);
        double dec = 1e300;
        for (int i = 0; i < kRounds; ++i)
            dec = std::min(dec, time_ms([&] {
                CapiBlob out{};
                if (CCA_decrypt_session(ctx, &container, key, nullptr, &out) != 0 || out.cbData != kDataSize)
                    fail(CCA_get_debug_error(ctx));
                CCA_free(ctx, out.pbData);
            }));
        std::printf("%-20s %8.1f ms %6.1f MB/s\n", "CCA_decrypt_session", dec, mb_per_s(dec));
        CCA_free(ctx, container.pbData);
        CCA_session_free(ctx, key);
    }
};

} // namespace

int main() {
    Bench b;
    b.setup();
    std::printf("qzms encryption against the openssl command line, %zu bytes, best of %d\n", kDataSize, kRounds);
    b.enveloped();
    b.session();
    b.teardown();
    return 0;
}
