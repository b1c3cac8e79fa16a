// loggen run as a program and read back through vfiles and the records: the
// families, rotation, receipts, repeatable output, and follow mode read live.
#include "log_fixture.h"

#include "monitor/logs/GWRecords.h"

#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <signal.h>
#include <sys/wait.h>
#include <thread>

using namespace tarmin::monitor;
using namespace tarmin::monitor::testing;
using tarmin::test::built_program;
using tarmin::test::make_temp_dir;
using tarmin::test::run;

namespace {

int loggen(const std::vector<std::string> &args, std::string *out = nullptr, std::string *err = nullptr) {
    std::vector<std::string> argv = {built_program("loggen").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, out, err);
}

std::vector<fs::path> filesOf(const fs::path &dir, const std::string &prefix) {
    std::vector<fs::path> files;
    for (auto &e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind(prefix, 0) == 0) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string allBytes(const fs::path &dir) {
    std::string all;
    for (auto &f : filesOf(dir, "")) all += f.filename().string() + "\n" + tarmin::test::read_file(f);
    return all;
}

struct Family {
    std::vector<std::unique_ptr<CGWRecord>> records;
    std::vector<std::string> times; // comparable date and time of each line
    std::size_t lines = 0;
};

Family readFamily(const fs::path &dir, LogKind kind) {
    Family f;
    vfiles set;
    set.load(dirOf(dir).c_str(), logPrefix(kind), 0);
    std::string_view line;
    while (set.readLine(line)) {
        ++f.lines;
        auto r = parseRecord(kind, line, ',');
        if (!r) continue;
        f.times.push_back(comparableDateTime(r->date(), r->time()));
        f.records.push_back(std::move(r));
    }
    return f;
}

uint64_t summaryLines(const std::string &summary, const std::string &prefix) {
    auto at = summary.find(prefix + ": ");
    if (at == std::string::npos) return 0;
    auto comma = summary.find(" files, ", at);
    return std::stoull(summary.substr(comma + 8));
}

} // namespace

TEST(Loggen, HelpAndBadOptions) {
    std::string out, err;
    EXPECT_EQ(loggen({"--help"}, &out), 0);
    for (const char *option : {"--dir", "--days", "--end", "--rotate-lines", "--rotate-hours", "--interleave",
                               "--receipts", "--seed", "--follow", "--duration", "--error-codes"})
        EXPECT_NE(out.find(option), std::string::npos) << option;
    EXPECT_EQ(loggen({"--outgoing", "10"}, &out, &err), 2);
    EXPECT_NE(err.find("--dir is required"), std::string::npos);
    auto dir = make_temp_dir();
    EXPECT_EQ(loggen({"--dir", dir.string(), "--outgoing", "x"}, &out, &err), 2);
    EXPECT_NE(err.find("invalid value for --outgoing: x"), std::string::npos);
    EXPECT_EQ(loggen({"--dir", dir.string(), "--families", "err,bad"}, &out, &err), 2);
    EXPECT_EQ(loggen({"--dir", dir.string(), "--receipts", "90,20"}, &out, &err), 2);
    // An unknown option is refused with the usage on standard error.
    for (const char *unknown : {"--bogus", "--password=x", "-x"}) {
        out.clear();
        EXPECT_EQ(loggen({"--dir", dir.string(), unknown}, &out, &err), 2) << unknown;
        EXPECT_NE(err.find("Usage: loggen"), std::string::npos) << unknown << ": " << err;
        EXPECT_EQ(out, "") << unknown;
    }
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(loggen({"--version"}, &out, &err), 0);
    EXPECT_TRUE(std::regex_match(out, std::regex("loggen [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << out;
}

TEST(Loggen, SameSeedSameBytes) {
    auto a = make_temp_dir(), b = make_temp_dir(), c = make_temp_dir();
    std::vector<std::string> common = {"--outgoing", "300", "--inbound", "100", "--errors", "100", "--days", "2",
                                       "--end", "05/03/2024 12:00:00", "--rotate-lines", "70", "--quiet"};
    auto with = [&](const fs::path &d, const char *seed) {
        auto args = common;
        args.insert(args.end(), {"--dir", d.string(), "--seed", seed});
        return loggen(args);
    };
    ASSERT_EQ(with(a, "7"), 0);
    ASSERT_EQ(with(b, "7"), 0);
    ASSERT_EQ(with(c, "8"), 0);
    EXPECT_EQ(allBytes(a), allBytes(b));
    EXPECT_NE(allBytes(a), allBytes(c));
}

TEST(Loggen, HistoryReadsBackAsRecords) {
    auto dir = make_temp_dir();
    std::string summary;
    ASSERT_EQ(loggen({"--dir", dir.string(), "--outgoing", "2000", "--inbound", "500", "--errors", "800", "--days",
                      "5", "--end", "05/03/2024 12:00:00", "--rotate-lines", "250", "--error-codes", "5",
                      "--receipts", "70,20", "--receipt-delay", "60:600"},
                     &summary),
              0);
    // Rotation: 2,000 outgoing lines in files of 250 lines, each with a header.
    auto sent = filesOf(dir, "tmnsent");
    EXPECT_GE(sent.size(), 8u);
    for (auto &f : sent) {
        std::string text = tarmin::test::read_file(f);
        EXPECT_EQ(text.rfind("\xC4\xE0\xF2\xE0,", 0), 0u) << f; // "Дата," in Windows-1251
        EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 251);
    }

    Family out = readFamily(dir, LogKind::Outgoing);
    Family in = readFamily(dir, LogKind::Inbound);
    Family err = readFamily(dir, LogKind::Errors);
    EXPECT_EQ(out.lines, 2000u);
    EXPECT_EQ(out.records.size(), 2000u);
    EXPECT_EQ(err.records.size(), 800u);
    EXPECT_EQ(in.records.size(), in.lines);
    EXPECT_EQ(in.lines, summaryLines(summary, "tmnrecv"));
    for (Family *f : {&out, &in, &err}) EXPECT_TRUE(std::is_sorted(f->times.begin(), f->times.end()));
    EXPECT_LE(err.times.back(), std::string("2024030512:00:00"));
    EXPECT_GE(err.times.front(), std::string("2024022812:00:00"));

    // Error codes repeat; a few of them.
    std::map<uint32_t, int> codes;
    for (auto &r : err.records) codes[static_cast<CErrorRecord &>(*r).codeNumber()]++;
    EXPECT_LE(codes.size(), 5u);
    EXPECT_GE(codes.size(), 3u);
    for (auto &[code, n] : codes) EXPECT_GT(n, 20) << std::hex << code;

    // Outgoing messages: 1 to 3 recipients, Windows-1251 subjects; receipts
    // refer to protected messages sent without error.
    std::map<std::string, const COutRecord *> owed;
    for (auto &r : out.records) {
        auto &o = static_cast<COutRecord &>(*r);
        auto recipients = std::count(o.recipients().begin(), o.recipients().end(), ';') + 1;
        EXPECT_GE(recipients, 1);
        EXPECT_LE(recipients, 3);
        EXPECT_TRUE(std::any_of(o.subject().begin(), o.subject().end(),
                                [](char c) { return static_cast<unsigned char>(c) >= 0xC0; }) ||
                    o.subject().find("Quarterly") == 0);
        EXPECT_EQ(o.hash().size(), 64u);
        if (o.protectionKind() != '0' && o.codeNumber() == 0) owed[std::string(o.hash())] = &o;
    }
    int ok = 0, er = 0;
    for (auto &r : in.records) {
        auto &i = static_cast<CInRecord &>(*r);
        if (i.notificationResult().empty()) continue;
        (i.notificationResult() == "OK" ? ok : er)++;
        auto it = owed.find(std::string(i.hash()));
        ASSERT_NE(it, owed.end()) << "receipt for an unknown message";
        EXPECT_NE(it->second->recipients().find(i.address()), std::string_view::npos);
        EXPECT_GT(comparableDateTime(i.date(), i.time()),
                  comparableDateTime(it->second->date(), it->second->time()));
    }
    EXPECT_GT(ok, 3 * er);
    EXPECT_GT(er, 0);
    // Some recipients never answer.
    std::size_t recipientsOwed = 0;
    for (auto &[hash, o] : owed) recipientsOwed += std::count(o->recipients().begin(), o->recipients().end(), ';') + 1;
    EXPECT_LT(static_cast<std::size_t>(ok + er), recipientsOwed);
}

TEST(Loggen, HistoryFilesCarryTheTimeOfTheirLastLine) {
    auto dir = make_temp_dir();
    ASSERT_EQ(loggen({"--dir", dir.string(), "--families", "err", "--errors", "100", "--days", "100", "--quiet",
                      "--rotate-hours", "240"}),
              0);
    auto files = filesOf(dir, "tarmin-gw");
    ASSERT_GE(files.size(), 10u);
    vfiles recent;
    recent.load(dirOf(dir).c_str(), "tarmin-gw", 30);
    vfiles all;
    all.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    auto recentLines = readAll(recent).size(), allLines = readAll(all).size();
    EXPECT_EQ(allLines, 100u);
    EXPECT_GT(recentLines, 15u);
    EXPECT_LT(recentLines, 50u);
}

TEST(Loggen, InterleavedFilesMergeInTimeOrder) {
    auto dir = make_temp_dir();
    ASSERT_EQ(loggen({"--dir", dir.string(), "--families", "out", "--outgoing", "3000", "--interleave", "20",
                      "--days", "1", "--rotate-hours", "0", "--quiet"}),
              0);
    EXPECT_EQ(filesOf(dir, "tmnsent").size(), 20u);
    Family out = readFamily(dir, LogKind::Outgoing);
    EXPECT_EQ(out.records.size(), 3000u);
    EXPECT_TRUE(std::is_sorted(out.times.begin(), out.times.end()));
}

TEST(Loggen, FollowModeIsReadLiveWithoutLossOrRepeats) {
    auto dir = make_temp_dir();
    pid_t pid = fork();
    if (pid == 0) {
        std::string program = built_program("loggen").string(), d = dir.string();
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execl(program.c_str(), program.c_str(), "--dir", d.c_str(), "--outgoing", "50", "--inbound", "20", "--errors",
              "20", "--days", "0.1", "--follow", "400", "--duration", "2.5", "--follow-rotate-lines", "60",
              "--receipt-delay", "0:1", static_cast<char *>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    std::map<LogKind, std::unique_ptr<vfiles>> sets;
    std::map<LogKind, std::vector<std::string>> lines;
    for (LogKind k : {LogKind::Errors, LogKind::Inbound, LogKind::Outgoing}) sets[k] = std::make_unique<vfiles>();
    auto poll = [&] {
        for (auto &[kind, set] : sets) {
            set->load(dirOf(dir).c_str(), logPrefix(kind), 0);
            for (auto &l : readAll(*set)) lines[kind].push_back(l);
        }
    };
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    poll();

    std::size_t total = 0;
    for (auto &[kind, got] : lines) {
        // Every line that the files hold now was read once, whole.
        std::vector<std::string> inFiles;
        for (auto &f : filesOf(dir, logPrefix(kind))) {
            std::istringstream text(tarmin::test::read_file(f));
            std::string l;
            std::getline(text, l); // header
            while (std::getline(text, l)) inFiles.push_back(l + "\n");
        }
        std::vector<std::string> read = got;
        std::sort(read.begin(), read.end());
        std::sort(inFiles.begin(), inFiles.end());
        EXPECT_EQ(read.size(), inFiles.size()) << logPrefix(kind);
        EXPECT_TRUE(read == inFiles) << logPrefix(kind);
        for (auto &l : got) EXPECT_TRUE(parseRecord(kind, l, ',')) << l;
        total += got.size();
    }
    EXPECT_GT(filesOf(dir, "tmnsent").size(), 4u); // rotation in follow mode
    EXPECT_GT(total, 600u);
}

TEST(Loggen, ASecondRunKeepsTheFilesOfTheFirst) {
    auto dir = make_temp_dir();
    std::vector<std::string> args = {"--dir", dir.string(), "--families", "err", "--errors", "10", "--days", "0",
                                     "--end", "05/03/2024 12:00:00", "--quiet"};
    ASSERT_EQ(loggen(args), 0);
    ASSERT_EQ(loggen(args), 0);
    EXPECT_EQ(filesOf(dir, "tarmin-gw").size(), 2u);
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    // Same content twice: the copy is recognised and not read again.
    EXPECT_EQ(readAll(set).size(), 10u);
}
