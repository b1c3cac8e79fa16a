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
#include "bench/capi_bench_support.h"

#include <algorithm>
#include <cstdio>
#include <string>

using namespace tarmin::bench;

namespace {

void print_pair(const char *ours_name, const Pair &t, const char *ref_name, bool with_goal) {
    double ratio = t.ours / t.ref;
    std::printf("%-20s %8.1f ms %6.1f MB/s | %-30s %8.1f ms %6.1f MB/s | ratio %.3f", ours_name, t.ours,
                mb_per_s(t.ours), ref_name, t.ref, mb_per_s(t.ref), ratio);
    if (with_goal) std::printf(" (goal <= %.1f) %s", kRatioGoal, ratio <= kRatioGoal ? "ok" : "OVER");
    std::printf("\n");
}

struct Bench : CapiBench {
    void setup() {
        // The reference commands load the engine themselves.
        ::setenv("OPENSSL_CONF", "/dev/null", 1);
        CapiBench::setup("/tmp/tarmin-bench-enc-XXXXXX", 0x9E3779B9);
    }


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
