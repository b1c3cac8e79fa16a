// The S/MIME encoder beside the cryptographic primitives it needs, on the same
// data in the same run (best of several rounds, taken in turn):
//   one message with a 50 MB attachment, signed and encrypted for one
//   recipient, against CCA_hash_mem of the data, two CCA_sign_mem_sep (the
//   attachment's signature and the message signature) and one
//   CCA_encrypt_mem of the signed message (goal: at most 1.3 times), and the
//   encoder's peak memory (goal: at most 3 times the attachment);
//   1,000 small messages (1 KB body, one 10 KB attachment, signed and
//   encrypted for one recipient): messages per second and the time per
//   message against its primitives (goal: at most 2 times).
//
// The test PKI is made by tmncert (next to this program) in a private
// TARMIN_HOME that is removed at the end; the work files go to its tmp/.
#include "bench/capi_bench_support.h"
#include "include/tmnsmime.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <cstring>
#include <deque>
#include <functional>

using namespace tarmin::bench;

namespace {

constexpr size_t kSmallMessages = 1000;
constexpr int kBigRounds = 3;
constexpr int kSmallRounds = 3;

long max_rss_kb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// The host's texts (the library may turn an address type to upper case in place).
// Wall-clock and processor time of an operation (the processor time, user
// and system, is what the other programs of a busy machine leave alone).
struct Cost {
    double wall = 1e300, cpu = 1e300;
    void best(const Cost &c) {
        wall = std::min(wall, c.wall);
        cpu = std::min(cpu, c.cpu);
    }
};
double cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
Cost measure(const std::function<void()> &op) {
    const double cpu = cpu_ms();
    const auto start = Clock::now();
    op();
    return {ms_since(start), cpu_ms() - cpu};
}

// The peak resident memory an operation adds, in MB: run in a child process,
// whose high-water mark starts at what it inherits at the fork.
double peak_added_mb(const std::function<void()> &op) {
    int fds[2];
    if (::pipe(fds) != 0) fail("pipe");
    pid_t pid = ::fork();
    if (pid < 0) fail("fork");
    if (pid == 0) {
        const long before = max_rss_kb();
        op();
        const double mb = (max_rss_kb() - before) / 1024.0;
        if (::write(fds[1], &mb, sizeof mb) != sizeof mb) ::_exit(1);
        ::_exit(0);
    }
    ::close(fds[1]);
    double mb = -1;
    if (::read(fds[0], &mb, sizeof mb) != sizeof mb) mb = -1;
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return mb;
}

char *text(const char *s) {
    static std::deque<std::string> kept; // elements never move
    for (std::string &k : kept)
        if (k == s) return k.data();
    kept.emplace_back(s);
    return kept.back().data();
}

struct Bench : CapiBench {
    MhaContext *mha = nullptr;
    PCCERT_CONTEXT me = nullptr, alice = nullptr;

    void setup() {
        CapiBench::setup("/tmp/tarmin-bench-smime-XXXXXX", 0x2545F491);
        fs::create_directories(home / "tmp");
        ::setenv("TMP", (home / "tmp").c_str(), 1);
        const char *key = QZ_GetProductKeyName();
        QZ_SetKeyDword(key, "CertificateFlags", 0, 1);
        QZ_SetKeyDword(key, "OutputMessageFlags", 0, 1);
        QZ_SetKeyDword(key, "ArchiveFlags", 0, 1);
        if (MHA_create_context(&mha) != 0 || MHA_vcert_init(mha) != 0) fail("MHA_vcert_init failed");
        SignerSerial *serial = nullptr;
        if (CCA_get_my_cert(ctx, &me, &serial) != 0) fail(CCA_get_debug_error(ctx));
        CCA_serial_free(ctx, serial);
        PCCERT_CONTEXT found[CCA_MAX_CERTS] = {};
        uint32_t count = 0;
        if (CCA_find_cert_by_address(ctx, 0, CCA_ADDRESS_SMTP, "alice@tarmin.test", found, &count) != 0 || !count)
            fail("no certificate for alice");
        alice = found[0];
        for (uint32_t i = 1; i < count; ++i) CCA_cert_free(ctx, found[i]);
    }

    void teardown() {
        MHA_vcert_final(mha);
        MHA_close_context(mha);
        CCA_cert_free(ctx, alice);
        CCA_cert_free(ctx, me);
        CapiBench::teardown();
    }

    // One message as a gateway hands it over; the attachment buffer stays ours.
    // Returns the message (null on failure, reported).
    MhaSmime *encode(uint32_t flags, const unsigned char *attachment, size_t length, const std::string &body) {
        MhaObject objs[7] = {};
        objs[0].Type = MHA_OBJ_START;
        objs[1].Type = MHA_OBJ_FROM;
        objs[1].FromTypeAddress = text("SMTP");
        objs[1].FromName = text("Operator");
        objs[1].FromAddress = text("operator@tarmin.test");
        objs[2].Type = MHA_OBJ_TO;
        objs[2].ToTypeAddress = text("SMTP");
        objs[2].ToName = text("Alice");
        objs[2].ToAddress = text("alice@tarmin.test");
        objs[3].Type = MHA_OBJ_SUBJECT;
        objs[3].Subject = text("Report");
        objs[4].Type = MHA_OBJ_BODY;
        objs[4].Body = const_cast<char *>(body.c_str());
        objs[4].BodyLength = static_cast<uint32_t>(body.size());
        objs[5].Type = MHA_OBJ_ATTACHMENT;
        objs[5].AttachName = text("report.bin");
        objs[5].AttachData = const_cast<unsigned char *>(attachment);
        objs[5].AttachLength = static_cast<uint32_t>(length);
        objs[5].AttachMethod = 1;
        objs[5].AttachRenderingPosition = -1;
        objs[6].Type = MHA_OBJ_END;
        if (MHA_encode_init(mha, flags) != 0) return nullptr;
        for (MhaObject &o : objs)
            if (MHA_encode_add(mha, &o) != 0) return nullptr;
        MhaSmime *out = nullptr;
        MHA_encode_final(mha, &out);
        return out;
    }

    MhaSmime *must_encode(uint32_t flags, const unsigned char *attachment, size_t length, const std::string &body) {
        MhaSmime *m = encode(flags, attachment, length, body);
        if (!m) {
            QZ_ShowReports(nullptr, 1);
            fail("MHA_encode failed");
        }
        return m;
    }

    // The primitives of one signed and encrypted message: the hash of the
    // data, the attachment's and the message's signatures, the envelope of
    // the signed message (for the own certificate and the recipient's, as the
    // encoder makes it).
    void primitives(CapiBlob data, CapiBlob attachment, CapiBlob signed_message) {
        CapiBlob hash{}, sig1{}, sig2{}, env{};
        PCCERT_CONTEXT recipients[2] = {me, alice};
        if (CCA_hash_mem(ctx, &data, &hash) != 0 || CCA_sign_mem_sep(ctx, &attachment, me, &sig1) != 0 ||
            CCA_sign_mem_sep(ctx, &data, me, &sig2) != 0 ||
            CCA_encrypt_mem(ctx, &signed_message, me, recipients, 2, &env) != 0)
            fail(CCA_get_debug_error(ctx));
        CCA_free(ctx, hash.pbData);
        CCA_free(ctx, sig1.pbData);
        CCA_free(ctx, sig2.pbData);
        CCA_free(ctx, env.pbData);
    }

    void big() {
        const std::string body(1024, 'b');
        // The signed message, the input of the envelope.
        MhaSmime *signed_message = must_encode(MHA_SIGN, data.data(), data.size(), body);
        const CapiBlob sm{signed_message->Data, signed_message->Length};
        const CapiBlob all = data_blob();

        // Memory above the host's data: the encoder, and for comparison the
        // envelope primitive alone above its input (the signed message).
        size_t message_size = 0;
        const double encoder_mb = peak_added_mb([&] {
            MhaSmime *m = must_encode(MHA_SIGN | MHA_ENCRYPT, data.data(), data.size(), body);
            message_size = m->Length;
            MHA_smime_free(mha, m);
        });
        const double envelope_mb = peak_added_mb([&] {
            PCCERT_CONTEXT recipients[2] = {me, alice};
            CapiBlob env{};
            if (CCA_encrypt_mem(ctx, &sm, me, recipients, 2, &env) != 0) fail(CCA_get_debug_error(ctx));
            CCA_free(ctx, env.pbData);
        });

        Cost ours, prims, attachment_hash;
        for (int i = 0; i < kBigRounds; ++i) {
            ours.best(measure([&] {
                MhaSmime *m = must_encode(MHA_SIGN | MHA_ENCRYPT, data.data(), data.size(), body);
                message_size = m->Length;
                MHA_smime_free(mha, m);
            }));
            prims.best(measure([&] { primitives(all, all, sm); }));
            attachment_hash.best(measure([&] {
                CapiBlob hash{};
                if (CCA_hash_mem(ctx, &all, &hash) != 0) fail(CCA_get_debug_error(ctx));
                CCA_free(ctx, hash.pbData);
            }));
        }
        const double ratio = ours.wall / prims.wall, cpu_ratio = ours.cpu / prims.cpu;
        const double all_ratio = ours.wall / (prims.wall + attachment_hash.wall);
        const double all_cpu_ratio = ours.cpu / (prims.cpu + attachment_hash.cpu);
        const double attachment_mb = kDataSize / 1048576.0;
        std::printf("50 MB attachment, signed and encrypted, one recipient (best of %d; wall clock, processor)\n",
                    kBigRounds);
        std::printf("  encoder              %8.1f ms %8.1f ms  message %zu bytes, signed message %u bytes\n",
                    ours.wall, ours.cpu, message_size, signed_message->Length);
        std::printf("  primitives           %8.1f ms %8.1f ms  (hash of the data, two signatures, envelope)\n",
                    prims.wall, prims.cpu);
        std::printf("  ratio                %8.3f    %8.3f     (goal <= 1.3) %s\n", ratio, cpu_ratio,
                    ratio <= 1.3 ? "ok" : "OVER");
        std::printf("  attachment's hash    %8.1f ms %8.1f ms  (its record's Hash-Value: a second pass)\n",
                    attachment_hash.wall, attachment_hash.cpu);
        std::printf("  ratio to all         %8.3f    %8.3f     (the attachment's hash counted)\n", all_ratio,
                    all_cpu_ratio);
        std::printf("  peak memory          %8.1f MB  = %.2f x the attachment (goal <= 3) %s\n", encoder_mb,
                    encoder_mb / attachment_mb, encoder_mb <= 3 * attachment_mb ? "ok" : "OVER");
        std::printf("  envelope alone       %8.1f MB  above its input of %.1f MB\n", envelope_mb,
                    signed_message->Length / 1048576.0);
        MHA_smime_free(mha, signed_message);
    }

    void small() {
        const std::string body(1024, 'b');
        const std::vector<unsigned char> attachment(data.begin(), data.begin() + 10 * 1024);
        MhaSmime *signed_message = must_encode(MHA_SIGN, attachment.data(), attachment.size(), body);
        const CapiBlob sm{signed_message->Data, signed_message->Length};
        const CapiBlob att{const_cast<unsigned char *>(attachment.data()), static_cast<uint32_t>(attachment.size())};
        // The data file: the attachment, the description and the signature file.
        const CapiBlob data_file{signed_message->Data, static_cast<uint32_t>(attachment.size() + 1024 + 400)};

        Cost ours, prims;
        for (int i = 0; i < kSmallRounds; ++i) {
            ours.best(measure([&] {
                for (size_t n = 0; n < kSmallMessages; ++n)
                    MHA_smime_free(mha, must_encode(MHA_SIGN | MHA_ENCRYPT, attachment.data(), attachment.size(), body));
            }));
            prims.best(measure([&] {
                for (size_t n = 0; n < kSmallMessages; ++n) primitives(data_file, att, sm);
            }));
        }
        const double ratio = ours.wall / prims.wall, cpu_ratio = ours.cpu / prims.cpu;
        std::printf("%zu small messages (1 KB body, 10 KB attachment), signed and encrypted (best of %d; wall "
                    "clock, processor)\n",
                    kSmallMessages, kSmallRounds);
        std::printf("  encoder              %8.1f ms %8.1f ms  %.0f messages/s, %.3f ms a message\n", ours.wall,
                    ours.cpu, kSmallMessages * 1000.0 / ours.wall, ours.wall / kSmallMessages);
        std::printf("  primitives           %8.1f ms %8.1f ms  %.3f ms a message\n", prims.wall, prims.cpu,
                    prims.wall / kSmallMessages);
        std::printf("  ratio                %8.3f    %8.3f     (goal <= 2) %s\n", ratio, cpu_ratio,
                    ratio <= 2 ? "ok" : "OVER");
        MHA_smime_free(mha, signed_message);
    }
};

} // namespace

// Arguments: "big" or "small" runs one half; "profile-big" encodes the big
// message once and "profile-small" the small ones once, nothing else (for a
// profiler).
int main(int argc, char **argv) {
    const bool only_big = argc > 1 && std::strcmp(argv[1], "big") == 0;
    const bool only_small = argc > 1 && std::strcmp(argv[1], "small") == 0;
    Bench b;
    b.setup();
    if (argc > 1 && std::strncmp(argv[1], "profile-", 8) == 0) {
        const bool big = std::strcmp(argv[1], "profile-big") == 0;
        const size_t size = big ? b.data.size() : 10 * 1024;
        for (size_t n = 0; n < (big ? 1 : kSmallMessages); ++n)
            MHA_smime_free(b.mha, b.must_encode(MHA_SIGN | MHA_ENCRYPT, b.data.data(), size, std::string(1024, 'b')));
        b.teardown();
        return 0;
    }
    std::printf("tmnsmime encoder against its primitives (qzms), same data, same run\n");
    if (!only_small) b.big();
    if (!only_big) b.small();
    b.teardown();
    return 0;
}
