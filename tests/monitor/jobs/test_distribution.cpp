// Sending distribution packets without a window: one table of packet
// directories (missing, unreadable, only subdirectories, a named pipe, a file
// that vanishes before its copy, an unselected packet) with the state, job
// files, events and boxes each gives; a run over three packets that stops at
// a failure (the output directory gone between runs) and keeps or deletes the
// sources; a stop between packets; the result texts; and one signing context
// shared by copies of the data and released with the last of them.
#include "job_test_support.h"
#include "tests/capi/capi_test_support.h"

#include "common/codepage.h"
#include "monitor/jobs/Distribution.h"
#include "platform/faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>
#include <chrono>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarmin::monitor;
using namespace tarmin::test;
using namespace tarmin::cp::literals;
namespace fs = std::filesystem;
namespace pf = tarmin::platform;

namespace {

class Distribution : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new Pki(make_pki());
        init_product();
        set_my(*pki_, "operator");
    }
    static void TearDownTestSuite() {
        QZ_Finalize();
        delete pki_;
    }
    void SetUp() override {
        out_ = make_temp_dir("out");
        setOutput(out_.string());
        auto own = std::make_unique<OperatorContext>();
        ASSERT_EQ(own->open(), 0);
        context_ = ownedContext(std::move(own));
    }
    static void setOutput(const std::string &dir) {
        ASSERT_EQ(QZ_SetKeyString(QZ_GetProductKeyName(), "GWMonOutputDirectory", dir.c_str(), 0), 0);
    }
    CDistrib packet(const std::string &number, const fs::path &dir, bool keep = false, bool sign = false) const {
        PacketSettings s;
        s.packetNumber = number;
        s.path = dir.string();
        s.mask = "*.dat";
        s.subject = "Рассылка "_w + number;
        s.recipients = {"SMTP:a@b.ru"};
        s.keepFiles = keep;
        s.signAtWorkstation = sign;
        CDistrib p;
        p.settings = s;
        return p;
    }
    DistributionData data(std::vector<CDistrib> packets, bool periodic = false) const {
        DistributionData d;
        d.packets = std::move(packets);
        d.periodic = periodic;
        d.context = context_;
        return d;
    }
    // The job directories of the output directory, each as its file names.
    std::vector<std::vector<std::string>> jobs() const {
        std::vector<std::vector<std::string>> out;
        for (const std::string &name : names_in(out_)) out.push_back(names_in(out_ / name));
        return out;
    }
    std::vector<int> states(const DistributionData &d) const {
        std::vector<int> s;
        for (const CDistrib &p : d.packets) s.push_back(p.state);
        return s;
    }

    static Pki *pki_;
    fs::path out_;
    SharedOperatorContext context_;
    JobRecorder recorder_;
};
Pki *Distribution::pki_ = nullptr;

TEST_F(Distribution, PacketDirectoriesTable) {
    struct Case {
        const char *name;
        std::function<fs::path()> directory; // made for the case
        bool periodic;
        bool selected;
        int state;
        std::vector<std::vector<std::string>> jobs;
        std::vector<QZ_DWORD> events; // reported and shown, in order
        const char *box;              // start of the one message box, or null
    };
    auto withFiles = [](std::vector<std::string> names) {
        return [names] {
            fs::path dir = make_temp_dir("packet");
            for (const std::string &n : names) write_file(dir / n, "data of " + n);
            return dir;
        };
    };
    auto pipeBeside = [](bool file) {
        return [file] {
            fs::path dir = make_temp_dir("packet");
            EXPECT_EQ(::mkfifo((dir / "pipe.dat").c_str(), 0600), 0);
            if (file) write_file(dir / "a.dat", "a");
            return dir;
        };
    };
    const std::vector<Case> cases = {
        {"two files, the mask without regard to case", withFiles({"a.dat", "B.DAT", "c.txt"}), false, true, 1,
         {{"B.DAT", "a.dat", "tmninfo.txt"}}, {}, nullptr},
        {"missing directory", [] { return make_temp_dir("packet") / "none"; }, false, true, 2, {}, {0xA00E0001},
         nullptr},
        {"missing directory, periodic run", [] { return make_temp_dir("packet") / "none"; }, true, true, 2, {}, {},
         nullptr},
        {"only subdirectories",
         [] {
             fs::path dir = make_temp_dir("packet");
             fs::create_directories(dir / "x.dat");
             fs::create_directories(dir / "y.dat" / "z.dat");
             return dir;
         },
         false, true, 2, {}, {0xA00E0001}, nullptr},
        {"a named pipe only", pipeBeside(false), false, true, 2, {}, {0xA00E0001}, nullptr},
        {"a named pipe beside a file", pipeBeside(true), false, true, 1, {{"a.dat", "tmninfo.txt"}}, {}, nullptr},
        {"not selected", withFiles({"a.dat"}), false, false, 1, {}, {}, nullptr},
        {"a file vanishes between the search and the copy", withFiles({"a.dat"}), false, true, 0, {}, {0xE00C0009},
         "Ошибка перемещения файла с вложением"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string &name : names_in(out_)) fs::remove_all(out_ / name);
        recorder_.boxes.clear();
        recorder_.reports.clear();
        const fs::path dir = c.directory();
        DistributionData d = data({packet("7", dir)}, c.periodic);
        d.packets[0].selected = c.selected;
        {
            std::optional<pf::ScopedFault> vanish;
            if (c.state == 0) vanish.emplace(pf::FaultPoint::open, ENOENT);
            std::atomic<bool> stop{false};
            EXPECT_EQ(sendPackets(d, stop), 1u);
        }
        EXPECT_EQ(d.packets[0].state, c.state);
        EXPECT_EQ(jobs(), c.jobs);
        std::vector<QZ_DWORD> events;
        for (const ShownReports &r : recorder_.reports) events.insert(events.end(), r.codes.begin(), r.codes.end());
        EXPECT_EQ(events, c.events);
        if (c.events == std::vector<QZ_DWORD>{0xA00E0001}) {
            EXPECT_EQ(recorder_.reports[0].texts[0], "Рассылка 7: нет данных для отправки"_w);
        }
        ASSERT_EQ(recorder_.boxes.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(recorder_.boxes[0].text.rfind(tarmin::cp::utf8_to_cp1251(c.box), 0), 0u);
        }
        // Sent files are deleted; a failed or empty packet keeps its own.
        if (c.state == 1 && c.selected) {
            for (const std::string &f : d.packets[0].files) EXPECT_FALSE(fs::exists(f)) << f;
        }
    }
}

TEST_F(Distribution, SourceWrittenAfterItsCopyIsKept) {
    // The first of many files grows once its copy is in the job directory,
    // while the others are still copied: the job sends what was copied, and
    // the source, which now holds more, is not deleted with the others.
    const fs::path dir = make_temp_dir("growing");
    write_file(dir / "a000.dat", "first part");
    constexpr int kOthers = 1500;
    for (int i = 0; i < kOthers; ++i) write_file(dir / ("f" + std::to_string(i) + ".dat"), "x");
    std::atomic<bool> appended{false}, done{false};
    std::thread writer([&] {
        while (!done && !appended) {
            for (const auto &entry : fs::directory_iterator(out_))
                if (fs::exists(entry.path() / "a000.dat")) {
                    std::ofstream(dir / "a000.dat", std::ios::app) << ", second part";
                    appended = true;
                }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    DistributionData d = data({packet("1", dir)}, true);
    std::atomic<bool> stop{false};
    sendPackets(d, stop);
    done = true;
    writer.join();
    ASSERT_TRUE(appended);
    EXPECT_EQ(d.packets[0].state, kPacketSent);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"a000.dat"});
    EXPECT_EQ(read_file(dir / "a000.dat"), "first part, second part");
    const std::vector<std::string> job = names_in(out_);
    ASSERT_EQ(job.size(), 1u);
    EXPECT_EQ(read_file(out_ / job[0] / "a000.dat"), "first part");
}

TEST_F(Distribution, UnreadableDirectoryHasNothingToSend) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every directory";
    fs::path dir = make_temp_dir("packet");
    write_file(dir / "a.dat", "a");
    fs::permissions(dir, fs::perms::none);
    DistributionData d = data({packet("1", dir)});
    std::atomic<bool> stop{false};
    sendPackets(d, stop);
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(d.packets[0].state, kPacketEmpty);
    EXPECT_TRUE(jobs().empty());
}

TEST_F(Distribution, RunsStopAtAFailureAndKeepOrDeleteTheirSources) {
    const fs::path keep = make_temp_dir("keep"), once = make_temp_dir("once"), third = make_temp_dir("third");
    write_file(keep / "k.dat", "kept");
    write_file(once / "o.dat", "once");
    write_file(third / "t.dat", "third");
    DistributionData d = data({packet("1", keep, true, true), packet("2", once), packet("3", third)}, true);

    // The first run on the worker thread: every packet sent, the finish
    // called from that thread.
    DistributionRun run;
    std::atomic<bool> finishedOnWorker{false};
    const std::thread::id self = std::this_thread::get_id();
    ASSERT_TRUE(run.start(d, [&] { finishedOnWorker = std::this_thread::get_id() != self; }));
    run.join();
    EXPECT_FALSE(run.running());
    EXPECT_TRUE(finishedOnWorker);
    EXPECT_EQ(states(d), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(overallState(d.packets), kPacketSent);
    const auto first = jobs();
    ASSERT_EQ(first.size(), 3u);
    EXPECT_TRUE(fs::exists(keep / "k.dat"));
    EXPECT_FALSE(fs::exists(once / "o.dat"));
    // The packet signed at the workstation carries the signature file.
    int signedJobs = 0;
    for (const auto &files : first) signedJobs += std::count(files.begin(), files.end(), "TMNSIGN.TMS");
    EXPECT_EQ(signedJobs, 1);

    // The output directory disappears: the first packet fails and ends the
    // run; the others keep the states of the run before.
    fs::remove_all(out_);
    std::atomic<bool> stop{false};
    EXPECT_EQ(sendPackets(d, stop), 1u);
    EXPECT_EQ(states(d), (std::vector<int>{0, 1, 1}));
    EXPECT_EQ(overallState(d.packets), kPacketFailed);
    ASSERT_EQ(recorder_.boxes.size(), 1u);
    EXPECT_EQ(recorder_.boxes[0].text.rfind("Ошибка создания каталога"_w, 0), 0u);

    // Back again: the kept file is sent again, the deleted ones are gone
    // (nothing reported in a periodic run).
    fs::create_directories(out_);
    recorder_.reports.clear();
    EXPECT_EQ(sendPackets(d, stop), 3u);
    EXPECT_EQ(states(d), (std::vector<int>{1, 2, 2}));
    EXPECT_EQ(jobs().size(), 1u);
    EXPECT_TRUE(recorder_.reports.empty());
    EXPECT_EQ(overallState(d.packets), kPacketSent);

    // A stop asked for before a packet begins leaves every packet as it was.
    stop = true;
    d.packets[0].state = 9;
    EXPECT_EQ(sendPackets(d, stop), 0u);
    EXPECT_EQ(d.packets[0].state, 9);
}

TEST_F(Distribution, ResultTexts) {
    std::vector<CDistrib> packets{packet("1", "/a"), packet("2", "/b"), packet("10", "/c")};
    const struct {
        std::vector<int> states;
        std::vector<bool> selected;
        int overall;
        std::vector<std::string> lines;
    } cases[] = {
        {{1, 2, 1}, {true, true, false}, 1, {"Рассылка 1: OK"_w, "Рассылка 2: Нет данных"_w}},
        {{2, 2, 1}, {true, true, false}, 2, {"Рассылка 1: Нет данных"_w, "Рассылка 2: Нет данных"_w}},
        {{1, 0, 1}, {true, true, true}, 0, {"Рассылка 1: OK"_w, "Рассылка 2: Ошибка"_w, "Рассылка 10: OK"_w}},
        // A packet that never ran counts as failed even when not selected.
        {{1, 1, 0}, {true, true, false}, 0, {"Рассылка 1: OK"_w, "Рассылка 2: OK"_w}},
    };
    for (const auto &c : cases) {
        for (size_t i = 0; i < packets.size(); ++i) {
            packets[i].state = c.states[i];
            packets[i].selected = c.selected[i];
        }
        EXPECT_EQ(overallState(packets), c.overall);
        EXPECT_EQ(packetResultLines(packets), c.lines);
    }
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 7;
    t.tm_min = 3;
    t.tm_sec = 9;
    EXPECT_EQ(runTimeText(t), "2026.01.05 07:03:09");
}

TEST_F(Distribution, CopiesShareOneContextReleasedWithTheLast) {
    const fs::path dir = make_temp_dir("signed");
    std::weak_ptr<const OperatorContext> watch = context_;
    auto first = std::make_unique<DistributionData>(data({packet("1", dir, true, true)}, true));
    context_.reset();
    DistributionData second = *first; // the next automatic sending window's copy
    EXPECT_EQ(second.context, first->context);
    first.reset();
    ASSERT_FALSE(watch.expired());
    ASSERT_TRUE(second.context->isOpen());
    // The remaining copy still signs with it.
    write_file(dir / "s.dat", "signed");
    std::atomic<bool> stop{false};
    sendPackets(second, stop);
    EXPECT_EQ(second.packets[0].state, kPacketSent);
    const auto made = jobs();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0], (std::vector<std::string>{"TMNSIGN.TMS", "s.dat", "tmninfo.txt"}));
    second.context.reset();
    EXPECT_TRUE(watch.expired());

    // The start-up context is borrowed: copies never release it.
    OperatorContext startup;
    ASSERT_EQ(startup.open(), 0);
    { SharedOperatorContext borrowed = borrowedContext(startup); }
    EXPECT_TRUE(startup.isOpen());
    startup.release();
}

} // namespace
