// libFuzzer target: MHA_decode_init, MHA_decode_extract and
// MHA_decode_extract_tmnfile on arbitrary messages and on mutated signed,
// encrypted and plain messages from the encoder. Whatever the input, the
// decoder returns one of its statuses, hands out objects only on 0, and
// leaks nothing (LeakSanitizer runs at exit).
//
// An input's first byte picks how the rest is used:
//   0: the bytes themselves;
//   1..3: the signed, encrypted or plain seed with the rest as (2-byte
//         offset, xor byte) patches;
//   4: a seed cut at a length from the next two bytes, the rest appended.
#include "include/qzcom.h"
#include "include/tmnsmime.h"

#include <cstdint>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

[[noreturn]] void setup_failed(const char *why) {
    std::fprintf(stderr, "fuzz set-up: %s\n", why);
    std::abort();
}

MhaContext *g_ctx = nullptr;
std::vector<std::string> g_seeds;

char *dup(const char *s) {
    char *p = static_cast<char *>(std::malloc(std::strlen(s) + 1));
    std::strcpy(p, s);
    return p;
}

std::string encode(uint32_t flags) {
    std::vector<MhaObject> objects(6);
    for (auto &o : objects) o = MhaObject{};
    objects[0].Type = MHA_OBJ_START;
    objects[1].Type = MHA_OBJ_FROM;
    objects[1].FromTypeAddress = dup("SMTP"), objects[1].FromName = dup("Fuzz"), objects[1].FromAddress = dup("operator@tarmin.test");
    objects[2].Type = MHA_OBJ_TO;
    objects[2].ToTypeAddress = dup("SMTP"), objects[2].ToName = dup(""), objects[2].ToAddress = dup("alice@tarmin.test");
    objects[3].Type = MHA_OBJ_SUBJECT;
    objects[3].Subject = dup("fuzz");
    objects[4].Type = MHA_OBJ_ATTACHMENT;
    objects[4].AttachName = dup("a.txt");
    objects[4].AttachData = reinterpret_cast<unsigned char *>(dup("attachment of the fuzz seed"));
    objects[4].AttachLength = 27;
    objects[5].Type = MHA_OBJ_END;
    MhaObject end = objects[5];
    MhaSmime *out = nullptr;
    bool ok = MHA_encode_init(g_ctx, flags) == 0;
    for (auto &o : objects) ok = ok && MHA_encode_add(g_ctx, &o) == 0;
    ok = ok && MHA_encode_final(g_ctx, &out) == 0;
    for (auto &o : objects) {
        std::free(o.FromTypeAddress), std::free(o.FromName), std::free(o.FromAddress);
        std::free(o.ToTypeAddress), std::free(o.ToName), std::free(o.ToAddress);
        std::free(o.Subject), std::free(o.AttachName), std::free(o.AttachData);
    }
    (void)end;
    if (!ok) setup_failed("cannot encode a seed");
    std::string text(reinterpret_cast<char *>(out->Data), out->Length);
    MHA_smime_free(g_ctx, out);
    return text;
}

int run(const std::string &command) { return std::system(command.c_str()); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static char home[] = "/tmp/tarmin-fuzz-smime-XXXXXX";
    if (!::mkdtemp(home)) setup_failed("no temporary directory");
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    });
    ::setenv("TARMIN_HOME", home, 1);
    ::setenv("TMP", home, 1);
    ::setenv("LANG", "C.UTF-8", 1);
    // The test PKI and the own certificate, by the suite's tool beside this program.
    std::filesystem::path self = std::filesystem::canonical("/proc/self/exe").parent_path();
    std::string tmncert = (self / "tmncert").string();
    std::string pki = std::string(home) + "/pki";
    if (run(tmncert + " pki --out " + pki + " > " + home + "/pki.txt 2>/dev/null") != 0) setup_failed("tmncert pki");
    FILE *f = std::fopen((std::string(home) + "/pki.txt").c_str(), "r");
    char name[64], thumb[128];
    std::string operator_thumb;
    while (f && std::fscanf(f, "%63s %127s", name, thumb) == 2)
        if (std::string(name) == "operator") operator_thumb = thumb;
    if (f) std::fclose(f);
    if (operator_thumb.empty() || run(tmncert + " setmy " + operator_thumb + " >/dev/null 2>&1") != 0)
        setup_failed("tmncert setmy");
    if (QZ_Initialize("tarmin-operator", QZ_VERSION) != 0) setup_failed("QZ_Initialize");
    const char *key = QZ_GetProductKeyName();
    QZ_SetKeyDword(key, "CertificateFlags", 0, 1);
    QZ_SetKeyString(key, "Path", home, 1); // the installation directory (no address file there)
    // Event lines go nowhere: the fuzzer reports thousands of failures.
    QZ_SetKeyString(key, "Filename", "/proc/tarmin-no-events/", 1);
    if (MHA_create_context(&g_ctx) != 0 || MHA_vcert_init(g_ctx) != 0) {
        QZ_ShowReports(nullptr, 1);
        setup_failed("MHA_vcert_init");
    }
    g_seeds = {encode(MHA_SIGN), encode(MHA_SIGN | MHA_ENCRYPT), encode(MHA_ENCRYPT)};
    QZ_ClearReports(2);
    (void)argc, (void)argv;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    std::string input;
    const unsigned mode = data[0] % 5;
    if (mode == 0) {
        input.assign(reinterpret_cast<const char *>(data + 1), size - 1);
    } else if (mode <= 3) {
        input = g_seeds[mode - 1];
        for (size_t i = 1; i + 3 <= size; i += 3) {
            size_t at = (size_t(data[i]) << 8 | data[i + 1]) % input.size();
            input[at] = static_cast<char>(input[at] ^ data[i + 2]);
        }
    } else {
        if (size < 3) return 0;
        const std::string &seed = g_seeds[data[1] % g_seeds.size()];
        input = seed.substr(0, (size_t(data[1]) << 8 | data[2]) % (seed.size() + 1));
        input.append(reinterpret_cast<const char *>(data + 3), size - 3);
    }
    MhaSmime smime{};
    smime.Data = reinterpret_cast<unsigned char *>(input.data());
    smime.Length = static_cast<uint32_t>(input.size());
    uint32_t flags = (data[0] & 0x80) ? MHD_SKIP_SIGN_FILES : 0;
    MhaResult *result = nullptr;
    MhaSmime *inner = nullptr;
    int32_t rc = MHA_decode_init(g_ctx, &smime, &flags, &result, &inner);
    if (rc != 0 && rc != 1 && rc != -1 && static_cast<uint32_t>(rc) != 0xE0030011u) std::abort();
    if ((rc == 0 || rc == 1) != (result != nullptr)) std::abort();
    size_t handed_out = 0;
    for (MhaObject *o = nullptr;
         ((data[0] & 0x40) ? MHA_decode_extract_tmnfile(g_ctx, &o) : MHA_decode_extract(g_ctx, &o)) == 0 && o;) {
        ++handed_out;
        MHA_object_free(g_ctx, o);
    }
    if (rc != 0 && handed_out != 0) std::abort();
    MHA_decode_final(g_ctx);
    MHA_result_free(g_ctx, result);
    MHA_smime_free(g_ctx, inner);
    QZ_ClearReports(2);
    return 0;
}
