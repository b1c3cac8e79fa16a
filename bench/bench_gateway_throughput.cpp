// Throughput of the gateway pair: JOBS message jobs (signed and encrypted,
// one attachment of 10 KB) written by the monitor's job writer, sent by our
// gateway, received, verified and confirmed by the partner, the receipts
// verified and logged by ours; messages per second from the start of both
// gateways until the last receipt is logged. Beside it the S/MIME library's
// own encoding and decoding of the same messages in this process (the same
// parts, the same flags, the same certificates), and the ratio.
//     bench_gateway_throughput [JOBS [--no-sync]]
#include "bench/gateway_bench_support.h"

#include "gateway/JobIntake.h"
#include "include/tmnsmime.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstring>

using namespace tarmin;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

char *dup(const std::string &s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

MhaObject *object(uint32_t type) {
    auto *o = static_cast<MhaObject *>(std::calloc(1, sizeof(MhaObject)));
    o->Type = type;
    return o;
}

MhaObject *address(uint32_t type, const std::string &a) {
    MhaObject *o = object(type);
    char **f = type == MHA_OBJ_FROM ? &o->FromTypeAddress : &o->ToTypeAddress;
    f[0] = dup("SMTP");
    f[1] = dup("");
    f[2] = dup(a);
    return o;
}

// Encodes a job as a gateway would and decodes the result; false when
// either fails. Adds the times of each.
bool encodeAndDecode(MhaContext *ctx, const gateway::Job &job, double &encodeSeconds, double &decodeSeconds) {
    std::vector<MhaObject *> objects = {object(MHA_OBJ_START), address(MHA_OBJ_FROM, "operator@tarmin.test")};
    for (const gateway::JobAddress &r : job.info.recipients) objects.push_back(address(MHA_OBJ_TO, r.address));
    MhaObject *date = object(MHA_OBJ_DATE);
    const uint64_t ft = (static_cast<uint64_t>(std::time(nullptr)) + 11644473600ULL) * 10000000ULL;
    date->SendDate = {static_cast<uint32_t>(ft), static_cast<uint32_t>(ft >> 32)};
    objects.push_back(date);
    MhaObject *subject = object(MHA_OBJ_SUBJECT);
    subject->Subject = dup(job.info.subject);
    objects.push_back(subject);
    MhaObject *body = object(MHA_OBJ_BODY);
    body->Body = dup(job.info.body);
    body->BodyLength = static_cast<uint32_t>(job.info.body.size());
    objects.push_back(body);
    for (const gateway::JobFile &f : job.attachments) {
        MhaObject *a = object(MHA_OBJ_ATTACHMENT);
        a->AttachName = dup(f.name);
        a->AttachData = reinterpret_cast<unsigned char *>(dup(f.data));
        a->AttachLength = static_cast<uint32_t>(f.data.size());
        a->AttachRenderingPosition = -1;
        a->AttachMethod = 1;
        objects.push_back(a);
    }
    objects.push_back(object(MHA_OBJ_END));

    auto t = Clock::now();
    int32_t rc = MHA_encode_init(ctx, MHA_SIGN | MHA_ENCRYPT | MHA_CONFIRM);
    for (size_t i = 0; rc == 0 && i < objects.size(); ++i) rc = MHA_encode_add(ctx, objects[i]);
    MhaSmime *smime = nullptr;
    if (rc == 0) rc = MHA_encode_final(ctx, &smime);
    encodeSeconds += since(t);
    for (MhaObject *o : objects) MHA_object_free(ctx, o);
    if (rc != 0) return false;

    t = Clock::now();
    uint32_t flags = 0;
    MhaResult *result = nullptr;
    rc = MHA_decode_init(ctx, smime, &flags, &result, nullptr);
    size_t attachments = 0;
    for (MhaObject *o = nullptr; rc == 0 && MHA_decode_extract(ctx, &o) == 0 && o;) {
        attachments += o->Type == MHA_OBJ_ATTACHMENT;
        MHA_object_free(ctx, o);
    }
    MHA_decode_final(ctx);
    decodeSeconds += since(t);
    const bool ok = rc == 0 && result && result->SignStatus == 0 && result->DecryptStatus == 0 && attachments >= 1;
    MHA_result_free(ctx, result);
    MHA_smime_free(ctx, smime);
    QZ_ClearReports(2);
    return ok;
}

struct Usage {
    int status = -1;
    double cpu = 0;
};

Usage stopWithUsage(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    struct rusage ru {};
    Usage u;
    if (::wait4(pid, &status, 0, &ru) != pid) return u;
    u.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    u.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    return u;
}

} // namespace

int main(int argc, char **argv) {
    const unsigned jobs = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 10000;
    const bool noSync = argc > 2 && std::strcmp(argv[2], "--no-sync") == 0;
    gwtest::Pair p;
    if (!gwbench::setUpPair(p, "bench_gateway_throughput")) return 1;
    if (noSync) p.extraArgs = {"--no-sync"};
    int status = 0;
    {
        gwtest::JobSource source(p.ourSpool / "out", p.ourSpool.parent_path() / "sources");
        if (!source.ok()) return 1;
        auto t = Clock::now();
        for (unsigned i = 0; i < jobs; ++i)
            if (!source.write(cp::utf8_to_cp1251("Сообщение " + std::to_string(i)), {"alice@tarmin.test"},
                              {{"data" + std::to_string(i) + ".bin", gwtest::content(i, 10240)}}, true, true,
                              cp::utf8_to_cp1251("Текст сообщения " + std::to_string(i) + "\n"))) {
                std::fprintf(stderr, "job %u was not written\n", i);
                return 1;
            }
        std::printf("%u jobs written by the monitor's job writer in %.2f s\n", jobs, since(t));

        // The library alone on the same messages (the jobs as the gateway reads them).
        MhaContext *ctx = nullptr;
        if (MHA_create_context(&ctx) != 0 || MHA_vcert_init(ctx) != 0) {
            QZ_ShowReports(nullptr, 1);
            return 1;
        }
        double encodeSeconds = 0, decodeSeconds = 0;
        unsigned referenced = 0;
        for (const std::string &name : gateway::completeJobs((p.ourSpool / "out").string())) {
            std::string why;
            std::optional<gateway::Job> job = gateway::readJob((p.ourSpool / "out" / name).string(), why);
            if (!job || !encodeAndDecode(ctx, *job, encodeSeconds, decodeSeconds)) {
                std::fprintf(stderr, "the library could not encode and decode %s %s\n", name.c_str(), why.c_str());
                QZ_ShowReports(nullptr, 1);
                return 1;
            }
            ++referenced;
        }
        MHA_vcert_final(ctx);
        MHA_close_context(ctx);
        const double library = encodeSeconds + decodeSeconds;
        std::printf("tmnsmime alone, %u messages: encode %.2f s + decode %.2f s = %.2f s (%.0f messages/s)\n",
                    referenced, encodeSeconds, decodeSeconds, library, referenced / library);

        t = Clock::now();
        pid_t our = p.start(true), partner = p.start(false);
        // Watched cheaply (line feeds of our inbound log, which holds only
        // the receipts here, twice a second), so as not to take processor
        // time from the gateways; counted fully at the end.
        auto receipts = [&] {
            size_t lines = 0;
            std::error_code ec;
            for (const auto &e : gwtest::fs::directory_iterator(p.ourSpool / "logs", ec))
                if (e.path().filename().string().rfind("tmnrecv_", 0) == 0) {
                    const std::string text = gwtest::readAll(e.path());
                    lines += static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) - 1;
                }
            return lines;
        };
        bool done = false;
        while (!done && since(t) < 3600) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            done = receipts() >= jobs;
        }
        const double endToEnd = since(t);
        Usage u1 = stopWithUsage(our), u2 = stopWithUsage(partner);
        gwtest::Counts c = gwtest::count(p);
        std::printf("gateways%s: %s\n", noSync ? " (--no-sync)" : "", gwtest::describe(c).c_str());
        std::printf("end to end: %u messages in %.2f s = %.0f messages/s; processor time ours %.2f s, partner %.2f s\n",
                    jobs, endToEnd, jobs / endToEnd, u1.cpu, u2.cpu);
        std::printf("ratio to the library's encode + decode: wall clock %.2f, processor time %.2f (goal <= 1.5)\n",
                    endToEnd / library, (u1.cpu + u2.cpu) / library);
        status = done && c.receiptsOk == jobs && u1.status == 0 && u2.status == 0 ? 0 : 1;
    }
    QZ_Finalize();
    return status;
}
