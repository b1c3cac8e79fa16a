// Both gateways killed (SIGKILL) at moments drawn from a fixed seed while
// jobs flow, and started again each time: every job arrives once, is logged
// as sent once and is confirmed by exactly one receipt. (bench/ has the
// longer run of 1,000 jobs.)
#include "gateway_harness.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace tarmin;
using namespace tarmin::gwtest;

namespace {

TEST(GatewayKill, NothingLostNothingTwiceWhenKilledAtRandomMoments) {
    Pair p;
    p.bin = test::built_program("tmngwd").parent_path();
    p.source = test::source_dir();
    p.ourHome = test::home();
    const fs::path root = test::make_temp_dir("pair");
    ASSERT_TRUE(p.setUp(root)) << readAll(root / "setup.log");
    ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0);
    {
        JobSource source(p.ourSpool / "out", root / "sources");
        ASSERT_TRUE(source.ok());
        constexpr unsigned kJobs = 150;
        KillRun run = killRun(p, source, kJobs, 4, 17, 60, 150, 600);
        const Counts &c = run.counts;
        SCOPED_TRACE(describe(c) + ", kills " + std::to_string(run.kills[0]) + "/" + std::to_string(run.kills[1]));
        std::printf("kill run: %s, kills %u (ours) / %u (partner), %.1f s\n", describe(c).c_str(), run.kills[0],
                    run.kills[1], run.seconds);
        ASSERT_TRUE(run.written);
        ASSERT_TRUE(run.finished) << readAll(p.ourSpool / "tmngwd.out") << readAll(p.partnerSpool / "tmngwd.out");
        // Enough kills of each to have hit every step some time.
        EXPECT_GE(run.kills[0], 10u);
        EXPECT_GE(run.kills[1], 10u);
        EXPECT_EQ(run.exitOur, 0);
        EXPECT_EQ(run.exitPartner, 0);
        EXPECT_EQ(c.sentLines, kJobs);
        EXPECT_EQ(c.sentIds, kJobs);
        EXPECT_EQ(c.sentErrors, 0u);
        EXPECT_EQ(c.receiptLines, kJobs);
        EXPECT_EQ(c.receiptIds, kJobs);
        EXPECT_EQ(c.receiptHashes, kJobs);
        EXPECT_EQ(c.receiptsOk, kJobs);
        EXPECT_EQ(c.receiptsForUnknownHash, 0u);
        EXPECT_EQ(c.partnerInboundLines, kJobs);
        EXPECT_EQ(c.partnerInboundIds, kJobs);
        EXPECT_EQ(c.mailbox, kJobs);
        EXPECT_EQ(c.failed, 0u);
        // Each job's attachment arrived once, unchanged.
        std::map<std::string, int> arrived;
        for (const auto &e : fs::directory_iterator(p.partnerSpool / "mailbox"))
            for (const auto &a : fs::directory_iterator(e.path() / "attachments"))
                if (a.path().filename() != "TMNSIGN.TMS") {
                    const std::string name = a.path().filename().string();
                    ASSERT_EQ(name[0], 'a') << a.path();
                    const unsigned i = static_cast<unsigned>(std::stoul(name.substr(1)));
                    EXPECT_EQ(readAll(a.path()), content(17 + i, 512 + i % 97)) << name;
                    arrived[name]++;
                }
        EXPECT_EQ(arrived.size(), kJobs);
        for (const auto &[name, n] : arrived) EXPECT_EQ(n, 1) << name;
    }
    QZ_Finalize();
}

} // namespace
