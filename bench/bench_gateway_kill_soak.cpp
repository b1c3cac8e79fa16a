// The long kill run: 1,000 jobs through both gateways, one of them killed
// (SIGKILL) after every 4 jobs at a moment drawn from the seed and started
// again; prints what arrived, what was logged and the kills.
//     bench_gateway_kill_soak [JOBS [SEED]]
#include "bench/gateway_bench_support.h"

#include <cstdio>
#include <cstdlib>

using namespace tarmin;

int main(int argc, char **argv) {
    const unsigned jobs = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 1000;
    const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 17;
    gwtest::Pair p;
    if (!gwbench::setUpPair(p, "bench_gateway_kill_soak")) return 1;
    int status = 0;
    {
        gwtest::JobSource source(p.ourSpool / "out", p.ourSpool.parent_path() / "sources");
        if (!source.ok()) return 1;
        gwtest::KillRun run = gwtest::killRun(p, source, jobs, 4, seed, 600, 150, 600);
        const gwtest::Counts &c = run.counts;
        std::printf("jobs %u, seed %llu, kills %u (ours) + %u (partner), %.1f s\n", jobs,
                    static_cast<unsigned long long>(seed), run.kills[0], run.kills[1], run.seconds);
        std::printf("%s\n", gwtest::describe(c).c_str());
        const bool exact = run.written && run.finished && c.sentLines == jobs && c.sentIds == jobs &&
                           c.receiptLines == jobs && c.receiptIds == jobs && c.receiptHashes == jobs &&
                           c.receiptsForUnknownHash == 0 && c.partnerInboundLines == jobs && c.mailbox == jobs &&
                           c.failed == 0 && run.exitOur == 0 && run.exitPartner == 0;
        std::printf("lost %lld, sent twice %lld, receipts lost %lld, receipts twice %lld: %s\n",
                    static_cast<long long>(jobs) - static_cast<long long>(c.mailbox),
                    static_cast<long long>(c.sentLines) - static_cast<long long>(c.sentIds),
                    static_cast<long long>(jobs) - static_cast<long long>(c.receiptIds),
                    static_cast<long long>(c.receiptLines) - static_cast<long long>(c.receiptIds),
                    exact ? "exactly once" : "NOT exactly once");
        status = exact ? 0 : 1;
    }
    QZ_Finalize();
    return status;
}
