// The GOST provider layer (tmncrypto) beside references measured in the same
// run:
//   hashing 50 MB (GOST R 34.11-94, 34.11-2012-256)  beside  openssl dgst
//   GOST 28147-89 CFB over 50 MB                      beside  openssl enc -gost89
//   CMS enveloped data of 50 MB, one recipient        beside  openssl cms -encrypt / -decrypt
//   signatures and verifications per second (CMS)     beside  the engine's raw sign / verify
//   SIMPLEBLOB export + import per second
// The openssl figures include starting the program and reading the file;
// each figure is the best of three.
#include "platform/crypto/envelope.h"
#include "platform/crypto/message.h"
#include "platform/crypto/provider.h"
#include "platform/crypto/symmetric.h"
#include "tools/tmncert/issuer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace tarmin::crypto;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kDataSize = 50u * 1000u * 1000u;
constexpr double kMb = 1e6;

double seconds(const std::function<void()> &f, int rounds = 3) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "bench_crypto: %s\n", what.c_str());
    std::exit(1);
}

// Runs a command line through the shell, its output thrown away.
void shell(const std::string &command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) fail("failed: " + command);
}

void write(const fs::path &p, const void *data, size_t n) {
    std::ofstream out(p, std::ios::binary);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(n));
}

void line(const char *what, double ours, double reference, const char *unit, const char *reference_name) {
    std::printf("%-44s %10.1f %-6s  %-34s %10.1f %-6s  ratio %.2f\n", what, ours, unit, reference_name, reference, unit,
                reference > 0 ? ours / reference : 0.0);
}

} // namespace

int main() {
    if (!ensure_provider()) fail(provider_error_text());
    char tmpl[] = "/tmp/bench-crypto-XXXXXX";
    if (!::mkdtemp(tmpl)) fail("no temporary directory");
    fs::path dir = tmpl;
    ::setenv("OPENSSL_CONF", (dir / "openssl.cnf").c_str(), 1);
    {
        // The engine for every algorithm, GOST 28147-89 on CryptoPro-A as ours.
        std::ofstream cnf(dir / "openssl.cnf");
        cnf << "openssl_conf = openssl_def\n[openssl_def]\nengines = engine_section\n"
               "[engine_section]\ngost = gost_section\n[gost_section]\nengine_id = gost\n"
               "default_algorithms = ALL\nCRYPT_PARAMS = id-Gost28147-89-CryptoPro-A-ParamSet\n";
    }

    Bytes data(kDataSize);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    write(dir / "data", data.data(), data.size());

    // Hashing.
    for (auto [alg, name, cli] : {std::tuple{HashAlg::Gost94, "GOST R 34.11-94", "md_gost94"},
                                  std::tuple{HashAlg::Streebog256, "GOST R 34.11-2012-256", "md_gost12_256"}}) {
        double ours = seconds([&] {
            if (!hash(alg, data.data(), data.size())) fail("hash");
        });
        double theirs = seconds([&] { shell("openssl dgst -" + std::string(cli) + " " + (dir / "data").string()); });
        line((std::string("hash ") + name + " 50 MB, MB/s").c_str(), kDataSize / kMb / ours, kDataSize / kMb / theirs,
             "MB/s", (std::string("openssl dgst -") + cli).c_str());
    }

    // GOST 28147-89 CFB.
    uint8_t value[kGostKeySize], iv[kGostIvSize];
    random_bytes(value, sizeof value);
    random_bytes(iv, sizeof iv);
    auto key = SymmetricKey::from_value(value, iv, true);
    double enc = seconds([&] {
        if (!key->encrypt(data.data(), data.size())) fail("encrypt");
    });
    std::string hexkey, hexiv;
    for (uint8_t b : value) hexkey += "0123456789abcdef"[b >> 4], hexkey += "0123456789abcdef"[b & 15];
    for (uint8_t b : iv) hexiv += "0123456789abcdef"[b >> 4], hexiv += "0123456789abcdef"[b & 15];
    double enc_cli = seconds([&] {
        shell("openssl enc -gost89 -K " + hexkey + " -iv " + hexiv + " -in " + (dir / "data").string() + " -out " +
              (dir / "enc").string());
    });
    line("GOST 28147-89 CFB encrypt 50 MB, MB/s", kDataSize / kMb / enc, kDataSize / kMb / enc_cli, "MB/s",
         "openssl enc -gost89");
    double mac = seconds([&] {
        if (!key->mac(data.data(), data.size())) fail("mac");
    });
    std::printf("%-44s %10.1f MB/s\n", "GOST 28147-89 MAC 50 MB, MB/s", kDataSize / kMb / mac);

    // Certificates for signing and enveloping.
    tarmin::tmncert::CertSpec spec;
    spec.subject = "CN=Bench, O=Tarmin Test, C=RU";
    spec.key_usage = kKuDigitalSignature | kKuKeyEncipherment | kKuKeyAgreement;
    std::string error;
    auto user = tarmin::tmncert::issue(spec, &error);
    spec.alg = KeyAlg::Gost2001;
    auto user2001 = tarmin::tmncert::issue(spec, &error);
    if (!user || !user2001) fail("issue: " + error);
    std::ofstream(dir / "user.crt") << user->cert->pem();
    std::ofstream(dir / "user.key") << *private_key_to_pem(user->key.get());

    // Enveloped data of 50 MB.
    std::optional<Bytes> env;
    double env_ours = seconds([&] {
        env = envelope_encrypt(data.data(), data.size(), {user->cert.get()});
        if (!env) fail("envelope_encrypt");
    });
    double env_cli = seconds([&] {
        shell("openssl cms -encrypt -gost89 -binary -in " + (dir / "data").string() + " -outform DER -out " +
              (dir / "env.der").string() + " " + (dir / "user.crt").string());
    });
    line("CMS envelope 50 MB, s", env_ours, env_cli, "s", "openssl cms -encrypt -gost89");
    double dec_ours = seconds([&] {
        if (!envelope_decrypt(env->data(), env->size(), *user->cert, user->key.get())) fail("envelope_decrypt");
    });
    double dec_cli = seconds([&] {
        shell("openssl cms -decrypt -binary -inform DER -in " + (dir / "env.der").string() + " -recip " +
              (dir / "user.crt").string() + " -inkey " + (dir / "user.key").string() + " -out " +
              (dir / "dec").string());
    });
    line("CMS open envelope 50 MB, s", dec_ours, dec_cli, "s", "openssl cms -decrypt");

    // Signatures per second over a short document, CMS beside the raw key operation.
    const int kSignatures = 500;
    for (auto [u, alg, name] : {std::tuple{&*user, HashAlg::Streebog256, "34.10-2012-256"},
                                std::tuple{&*user2001, HashAlg::Gost94, "34.10-2001"}}) {
        SignParams p;
        p.signer = u->cert.get();
        p.key = u->key.get();
        p.hash = alg;
        std::optional<Bytes> sig;
        double cms_sign = seconds([&] {
            for (int i = 0; i < kSignatures; ++i) sig = sign_message(p, "document", 8);
        });
        const EVP_MD *md = digest_of(alg);
        std::vector<uint8_t> raw(256);
        size_t raw_len = 0;
        double raw_sign = seconds([&] {
            for (int i = 0; i < kSignatures; ++i) {
                EVP_MD_CTX *ctx = EVP_MD_CTX_new();
                raw_len = raw.size();
                EVP_DigestSignInit(ctx, nullptr, md, nullptr, u->key.get());
                EVP_DigestSign(ctx, raw.data(), &raw_len, reinterpret_cast<const uint8_t *>("document"), 8);
                EVP_MD_CTX_free(ctx);
            }
        });
        line((std::string("CMS sign ") + name + ", per s").c_str(), kSignatures / cms_sign, kSignatures / raw_sign,
             "/s", "EVP_DigestSign");
        auto msg = SignedMessage::decode(sig->data(), sig->size());
        double cms_verify = seconds([&] {
            for (int i = 0; i < kSignatures; ++i)
                if (!msg->verify_detached(0, *u->cert, "document", 8)) fail("verify");
        });
        double raw_verify = seconds([&] {
            for (int i = 0; i < kSignatures; ++i) {
                EVP_MD_CTX *ctx = EVP_MD_CTX_new();
                EVP_DigestVerifyInit(ctx, nullptr, md, nullptr, u->cert->public_key());
                if (EVP_DigestVerify(ctx, raw.data(), raw_len, reinterpret_cast<const uint8_t *>("document"), 8) != 1)
                    fail("raw verify");
                EVP_MD_CTX_free(ctx);
            }
        });
        line((std::string("CMS verify ") + name + ", per s").c_str(), kSignatures / cms_verify,
             kSignatures / raw_verify, "/s", "EVP_DigestVerify");
    }

    // Key wrap.
    auto kek = SymmetricKey::generate(kAlgGost28147, true);
    kek->set_alg_id(kAlgProExport);
    const int kWraps = 2000;
    double wraps = seconds([&] {
        for (int i = 0; i < kWraps; ++i) {
            auto blob = key->export_simple_blob(*kek);
            if (!blob || !SymmetricKey::import_simple_blob(*kek, blob->data(), blob->size(), true)) fail("wrap");
        }
    });
    std::printf("%-44s %10.1f /s\n", "SIMPLEBLOB export + import, per s", kWraps / wraps);

    fs::remove_all(dir);
    return 0;
}
