// vfiles: order of files and lines, ties, refreshes, the day limit, pieces of
// long lines, insert results and the malformed input that gateways leave.
#include "log_fixture.h"

#include "monitor/core/DiagLog.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarmin::monitor;
using namespace tarmin::monitor::testing;
using tarmin::test::make_temp_dir;

namespace {

const std::string D = "05/03/2024";

std::vector<std::string> V(std::initializer_list<const char *> l) { return {l.begin(), l.end()}; }

// Bytes the process holds from the allocator now.
std::size_t allocatedBytes() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// Runs work on another thread and gives its result; false in `hung` when it
// did not end within seconds. A reader stuck opening the pipe is then let go
// (a writer opens and closes the pipe), so the test ends either way.
template <typename Work> int withinSeconds(const fs::path &pipe, Work work, bool &hung) {
    auto result = std::async(std::launch::async, work);
    hung = result.wait_for(std::chrono::seconds(10)) == std::future_status::timeout;
    if (hung) {
        int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
    }
    return result.get();
}

} // namespace

// ---- Order ----

TEST(VfilesOrder, FilesAreReadInTheOrderOfTheirFirstRecord) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "10:00:00", "a1"), errLine(D, "10:00:05", "a2")});
    writeLog(dir / "tarmin-gw-b.csv", {errLine(D, "09:00:00", "b1"), errLine(D, "09:00:05", "b2")});
    vfiles set;
    ASSERT_EQ(set.load(dirOf(dir).c_str(), "tarmin-gw", 0), 0);
    EXPECT_EQ(tags(readAll(set)), V({"b1", "b2", "a1", "a2"}));
    EXPECT_TRUE(set.atEnd());
}

TEST(VfilesOrder, InterleavedLinesComeOutInTimeOrder) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "09:00:00", "a09"), errLine(D, "11:00:00", "a11")});
    writeLog(dir / "tarmin-gw-b.csv", {errLine(D, "10:00:00", "b10")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a09", "b10", "a11"}));
}

TEST(VfilesOrder, ManyInterleavedFilesMergeInTimeOrder) {
    auto dir = make_temp_dir();
    // 5 files, file k holds the seconds k, k+5, k+10, ...
    for (int k = 0; k < 5; ++k) {
        std::vector<std::string> lines;
        for (int s = k; s < 60; s += 5) {
            char t[16];
            std::snprintf(t, sizeof t, "12:00:%02d", s);
            lines.push_back(errLine(D, t, std::to_string(s)));
        }
        writeLog(dir / ("tarmin-gw-" + std::to_string(k) + ".csv"), lines);
    }
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    auto got = tags(readAll(set));
    ASSERT_EQ(got.size(), 60u);
    for (int s = 0; s < 60; ++s) EXPECT_EQ(got[s], std::to_string(s));
}

TEST(VfilesOrder, LinesOfTheSameSecondAreAllReadOnce) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-a.csv",
             {errLine(D, "10:00:00", "a1"), errLine(D, "10:00:00", "a2"), errLine(D, "10:00:00", "a3")});
    writeLog(dir / "tarmin-gw-b.csv", {errLine(D, "10:00:00", "b1"), errLine(D, "10:00:00", "b2")});
    writeLog(dir / "tarmin-gw-c.csv", {errLine(D, "10:00:00", "c1"), errLine(D, "10:00:01", "c2")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    auto got = tags(readAll(set));
    std::vector<std::string> sorted = got;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, V({"a1", "a2", "a3", "b1", "b2", "c1", "c2"}));
    EXPECT_EQ(got.back(), "c2");
    // Lines of one file keep their order.
    EXPECT_LT(std::find(got.begin(), got.end(), "a1"), std::find(got.begin(), got.end(), "a3"));
}

TEST(VfilesOrder, FileQueuedAgainAtTheTimeOfAQueuedFileKeepsItsLines) {
    // A's second line (10:00) is later than B's first record (09:30), so A is
    // queued again at 10:00, the time at which C is queued already.
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "09:00:00", "a1"), errLine(D, "10:00:00", "a2")});
    writeLog(dir / "tarmin-gw-b.csv", {errLine(D, "09:30:00", "b1")});
    writeLog(dir / "tarmin-gw-c.csv", {errLine(D, "10:00:00", "c1")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a1", "b1", "c1", "a2"}));
}

TEST(VfilesOrder, FilesWithTheSameFirstSecondAreBothRead) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "10:00:00", "a1")});
    writeLog(dir / "tarmin-gw-b.csv", {errLine(D, "10:00:00", "b1")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a1", "b1"}));
}

TEST(VfilesOrder, MergeFollowsTheQueueRuleWhateverTheQueueSize) {
    // Random files (lines out of order within a file, many ties) read through
    // a queue that starts with room for 2 entries and through the default
    // one, against the rule itself: the file of the earliest entry hands out
    // lines while they are not later than the next entry; otherwise it is
    // queued again after every entry that is not later than its line.
    auto dir = make_temp_dir();
    uint32_t x = 12345;
    auto next = [&x] { return x = x * 1664525 + 1013904223; };
    struct Line {
        int seconds;
        std::string text;
    };
    std::vector<std::vector<Line>> files(23);
    int tag = 0;
    for (std::size_t k = 0; k < files.size(); ++k) {
        int t = static_cast<int>(next() % 7200);
        std::vector<std::string> texts;
        for (int n = static_cast<int>(next() % 40); n >= 0; --n) {
            t = std::max(0, t + static_cast<int>(next() % 400) - 100);
            char hms[16];
            std::snprintf(hms, sizeof hms, "%02d:%02d:%02d", 9 + t / 3600, t / 60 % 60, t % 60);
            texts.push_back(errLine(D, hms, std::to_string(tag++)));
            files[k].push_back({t, texts.back()});
        }
        char name[48];
        std::snprintf(name, sizeof name, "tarmin-gw-%03zu.csv", k);
        writeLog(dir / name, texts);
    }

    struct Entry {
        int t;
        std::size_t file;
    };
    std::vector<Entry> queue;
    auto put = [&queue](Entry e) {
        auto at = std::upper_bound(queue.begin(), queue.end(), e.t, [](int t, const Entry &q) { return t < q.t; });
        queue.insert(at, e);
    };
    for (std::size_t k = 0; k < files.size(); ++k) put({files[k][0].seconds, k});
    std::vector<std::size_t> pos(files.size(), 0);
    std::vector<std::string> expected;
    while (!queue.empty()) {
        std::size_t k = queue.front().file;
        if (pos[k] == files[k].size()) {
            queue.erase(queue.begin());
            continue;
        }
        const Line &line = files[k][pos[k]];
        if (queue.size() > 1 && queue[1].t < line.seconds) {
            queue.erase(queue.begin());
            put({line.seconds, k});
            continue;
        }
        expected.push_back(line.text);
        ++pos[k];
    }

    for (std::size_t room : {std::size_t{2}, std::size_t{1000}}) {
        vfiles set(room);
        set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
        EXPECT_EQ(set.entryCount(), files.size());
        EXPECT_EQ(readAll(set), expected) << "room for " << room;
        EXPECT_EQ(set.entryCount(), 1u);
    }
}

TEST(LineTime, LineTimeAgreesWithTheGeneralReader) {
    // Lines of the usual layout and others, across hours, days and a change
    // of the hour within the same minutes and seconds.
    const char *lines[] = {
        "05/03/2024,10:15:00,x", "05/03/2024,10:59:59,x", "05/03/2024,11:00:00,x", "05/03/2024,10:15:07,x",
        " 5/03/2024,10:15:07,x", "05/03/2024 10:15:08,x", "05/03/2024,11:15:08,x", "5/3/2024,11:15:09,x",
        "06/03/2024,11:15:09,x", "05/03/2024,10:7:09,x",  "05/03/2024,10:75:09,x", "Date,Time,Module",
        "05/03/2024,11:15:0",    "05/03/2024,11:15:aa,x", "05/13/2024,23:15:09,x", "06/03/2024,11:15:10,x",
    };
    LocalTimeConverter conv;
    for (int round = 0; round < 2; ++round)
        for (const char *line : lines) {
            std::time_t got = -1;
            LineDateTime v;
            bool has = parseLineDateTime(line, v);
            ASSERT_EQ(conv.lineTime(line, got), has) << line;
            if (!has) continue;
            std::tm tm{};
            tm.tm_year = v.year - 1900;
            tm.tm_mon = v.month - 1;
            tm.tm_mday = v.day;
            tm.tm_hour = v.hour;
            tm.tm_min = v.minute;
            tm.tm_sec = v.second;
            tm.tm_isdst = -1;
            EXPECT_EQ(got, std::mktime(&tm)) << line;
        }
}

// ---- Refreshing ----

TEST(VfilesRefresh, LoadingTwiceDoesNotDuplicateFiles) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "09:00:00", "a1")});
    writeLog(dir / "tarmin-gw-b.csv", {errLine(D, "10:00:00", "b1")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(set.entryCount(), 2u);
    EXPECT_EQ(tags(readAll(set)), V({"a1", "b1"}));
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_TRUE(readAll(set).empty());
}

TEST(VfilesRefresh, LineAppendedToTheNewestFileIsReturnedNext) {
    auto dir = make_temp_dir();
    auto b = dir / "tarmin-gw-b.csv";
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "09:00:00", "a1")});
    writeLog(b, {errLine(D, "10:00:00", "b1")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a1", "b1"}));
    EXPECT_TRUE(set.atEnd());
    appendText(b, errLine(D, "10:00:01", "b2"));
    char buf[256];
    ASSERT_NE(set.fgets(buf, sizeof buf), nullptr);
    EXPECT_EQ(std::string(buf), errLine(D, "10:00:01", "b2"));
    EXPECT_FALSE(set.atEnd());
    EXPECT_EQ(set.fgets(buf, sizeof buf), nullptr);
    EXPECT_TRUE(set.atEnd());
}

TEST(VfilesRefresh, NewFilesArePickedUpByTheNextLoad) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-1.csv", {errLine(D, "09:00:00", "a1")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a1"}));
    writeLog(dir / "tarmin-gw-2.csv", {errLine(D, "10:00:00", "b1"), errLine(D, "10:00:01", "b2")});
    EXPECT_TRUE(readAll(set).empty());
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"b1", "b2"}));
}

TEST(VfilesRefresh, NewFileOlderThanTheReadingPositionIsStillRead) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-b.csv", {errLine(D, "10:00:00", "b1")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"b1"}));
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "09:30:00", "a1"), errLine(D, "09:31:00", "a2")});
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a1", "a2"}));
    appendText(dir / "tarmin-gw-b.csv", errLine(D, "10:00:05", "b2"));
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"b2"}));
}

TEST(VfilesRefresh, LinesAppendedToAFileReadToItsEndAreNotLost) {
    // Two writers: a line reaches the older file after the reader moved on.
    auto dir = make_temp_dir();
    auto a = dir / "tarmin-gw-a.csv";
    writeLog(a, {errLine(D, "09:00:00", "a1")});
    writeLog(dir / "tarmin-gw-b.csv", {errLine(D, "10:00:00", "b1")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a1", "b1"}));
    appendText(a, errLine(D, "10:00:02", "a2"));
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a2"}));
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_TRUE(readAll(set).empty());
}

TEST(VfilesRefresh, ClearAndLoadReadsEverythingAgain) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "09:00:00", "a1"), errLine(D, "09:00:01", "a2")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(readAll(set).size(), 2u);
    set.clear();
    EXPECT_EQ(set.entryCount(), 0u);
    EXPECT_FALSE(set.atEnd());
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a1", "a2"}));
}

TEST(VfilesRefresh, RenamedOrCopiedFileIsNotReadAgain) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "09:00:00", "a1"), errLine(D, "09:00:01", "a2")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(readAll(set).size(), 2u);
    fs::rename(dir / "tarmin-gw-a.csv", dir / "tarmin-gw-a-old.csv");
    fs::copy_file(dir / "tarmin-gw-a-old.csv", dir / "tarmin-gw-copy.csv");
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_TRUE(readAll(set).empty());
    // The renamed file is still followed under its new name.
    appendText(dir / "tarmin-gw-a-old.csv", errLine(D, "09:00:02", "a3"));
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a3"}));
}

// A file that merely starts with another's first record is no copy of it:
// its own lines are read, whether it comes after the other was read or in the
// same load.
TEST(VfilesRefresh, FileStartingWithTheSameRecordIsReadWhenItsBytesDiffer) {
    auto dir = make_temp_dir();
    const std::string first = errLine(D, "09:00:00", "same");
    writeLog(dir / "tarmin-gw-a.csv", {first, errLine(D, "09:00:01", "a2")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"same", "a2"}));
    writeLog(dir / "tarmin-gw-b.csv", {first, errLine(D, "09:00:02", "b2")});
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"same", "b2"}));

    auto other = make_temp_dir();
    writeLog(other / "tarmin-gw-a.csv", {first, errLine(D, "09:00:01", "a2")});
    writeLog(other / "tarmin-gw-b.csv", {first, errLine(D, "09:00:02", "b2")});
    fs::copy_file(other / "tarmin-gw-a.csv", other / "tarmin-gw-c.csv"); // a true copy
    vfiles both;
    both.load(dirOf(other).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(both)), V({"same", "same", "a2", "b2"}));
}

// Copy-and-truncate rotation: the writer's file is copied, then emptied and
// started again. The lines written after the last reading are read from the
// copy, whichever is noticed first and whatever the copy is called.
TEST(VfilesRefresh, CopyAndTruncateRotationLosesNothing) {
    enum class Order { CopyFirst, CopyLast, TruncationReadFirst, CopySeenBeforeTruncation };
    for (const char *copyName : {"tarmin-gw-0.csv", "tarmin-gw-b.csv"})
        for (Order order : {Order::CopyFirst, Order::CopyLast, Order::TruncationReadFirst,
                            Order::CopySeenBeforeTruncation}) {
            SCOPED_TRACE(std::string(copyName) + " " + std::to_string(static_cast<int>(order)));
            auto dir = make_temp_dir();
            const auto log = dir / "tarmin-gw-a.csv";
            writeLog(log, {errLine(D, "09:00:00", "a1"), errLine(D, "09:00:01", "a2")});
            vfiles set;
            set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
            EXPECT_EQ(tags(readAll(set)), V({"a1", "a2"}));
            appendText(log, errLine(D, "09:00:02", "a3") + errLine(D, "09:00:03", "a4"));
            fs::copy_file(log, dir / copyName);
            if (order == Order::CopySeenBeforeTruncation) {
                // The copy of a file still whole is a copy: the file's new
                // lines are queued from the file itself.
                set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
            }
            writeLog(log, {errLine(D, "10:00:00", "n1")}); // emptied and started again, in place
            if (order == Order::TruncationReadFirst || order == Order::CopySeenBeforeTruncation) {
                auto early = tags(readAll(set));
                set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
                auto later = tags(readAll(set));
                early.insert(early.end(), later.begin(), later.end());
                std::sort(early.begin(), early.end());
                EXPECT_EQ(early, V({"a3", "a4", "n1"}));
                continue;
            }
            if (order == Order::CopyLast) {
                fs::path hidden = dir / "hidden";
                fs::rename(dir / copyName, hidden);
                set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
                fs::rename(hidden, dir / copyName);
            }
            set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
            auto lines = tags(readAll(set));
            std::sort(lines.begin(), lines.end());
            EXPECT_EQ(lines, V({"a3", "a4", "n1"}));
            // Nothing is read twice afterwards.
            set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
            EXPECT_TRUE(readAll(set).empty());
        }
}

// ---- Loading and inserting ----

TEST(VfilesLoad, PatternAndResults) {
    auto dir = make_temp_dir();
    vfiles set;
    EXPECT_EQ(set.load(dirOf(dir).c_str(), "tarmin-gw", 0), -1);
    writeLog(dir / "other.csv", {errLine(D, "09:00:00", "x")});
    writeLog(dir / "tarmin-gw.txt", {errLine(D, "09:00:00", "x")});
    EXPECT_EQ(set.load(dirOf(dir).c_str(), "tarmin-gw", 0), -1);
    writeLog(dir / "TARMIN-GW-Upper.CSV", {errLine(D, "09:00:00", "upper")});
    fs::create_directory(dir / "tarmin-gw-dir.csv");
    EXPECT_EQ(set.load(dir.c_str(), "tarmin-gw", 0), 0); // without the trailing slash
    EXPECT_EQ(tags(readAll(set)), V({"upper"}));
}

TEST(VfilesLoad, InsertTellsWhichFilesCanBeUsed) {
    auto dir = make_temp_dir();
    std::string d = dirOf(dir);
    writeText(dir / "empty.csv", "");
    writeText(dir / "header.csv", kErrorsHeader);
    writeLog(dir / "nodate.csv", {"not a date,10:00:00,x,err,0,y\n"});
    writeLog(dir / "good.csv", {errLine(D, "09:00:00", "g1")});
    vfiles set;
    EXPECT_EQ(set.insert(d.c_str(), "missing.csv"), -1);
    EXPECT_EQ(set.insert(d.c_str(), "empty.csv"), -1);
    EXPECT_EQ(set.insert(d.c_str(), "header.csv"), -1);
    EXPECT_EQ(set.insert(d.c_str(), "nodate.csv"), -1);
    EXPECT_EQ(set.insert(d.c_str(), "good.csv"), 0);
    EXPECT_EQ(set.insert(d.c_str(), "good.csv"), 0);
    EXPECT_EQ(set.entryCount(), 1u);
    EXPECT_EQ(tags(readAll(set)), V({"g1"}));
}

TEST(VfilesLoad, UnusableFilesDoNotStopTheFamily) {
    auto dir = make_temp_dir();
    writeText(dir / "tarmin-gw-0empty.csv", "");
    writeText(dir / "tarmin-gw-1header.csv", kErrorsHeader);
    writeLog(dir / "tarmin-gw-2good.csv", {errLine(D, "09:00:00", "g1")});
    vfiles set;
    EXPECT_EQ(set.load(dirOf(dir).c_str(), "tarmin-gw", 0), 0);
    EXPECT_EQ(tags(readAll(set)), V({"g1"}));
    // The header-only file gets its first record later.
    appendText(dir / "tarmin-gw-1header.csv", errLine(D, "09:00:05", "h1"));
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"h1"}));
}

// A named pipe among the logs (another user may place one in a shared log
// directory) is passed over: opening it must not wait for a writer.
TEST(VfilesLoad, PipeAmongTheLogsIsPassedOver) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-1.csv", {errLine(D, "09:00:00", "g1")});
    const fs::path pipe = dir / "tarmin-gw-2.csv";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
    vfiles set;
    bool hung = false;
    EXPECT_EQ(withinSeconds(pipe, [&] { return set.load(dirOf(dir).c_str(), "tarmin-gw", 0); }, hung), 0);
    EXPECT_FALSE(hung) << "load waited on the pipe";
    EXPECT_EQ(tags(readAll(set)), V({"g1"}));
    EXPECT_EQ(withinSeconds(pipe, [&] { return set.insert(dirOf(dir).c_str(), "tarmin-gw-2.csv"); }, hung), -1);
    EXPECT_FALSE(hung) << "insert waited on the pipe";
    EXPECT_EQ(set.entryCount(), 1u);
}

TEST(VfilesLoad, DayLimitGoesByTheLastWriteTime) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-old.csv", {errLine(D, "09:00:00", "old")});
    writeLog(dir / "tarmin-gw-new.csv", {errLine(D, "10:00:00", "new")});
    ageFile(dir / "tarmin-gw-old.csv", 91L * 86400);
    ageFile(dir / "tarmin-gw-new.csv", 89L * 86400);
    {
        vfiles set;
        set.load(dirOf(dir).c_str(), "tarmin-gw", 90);
        EXPECT_EQ(tags(readAll(set)), V({"new"}));
    }
    {
        vfiles set;
        set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
        EXPECT_EQ(tags(readAll(set)), V({"old", "new"}));
    }
}

TEST(VfilesLoad, CheckNdays) {
    std::time_t now = 1'700'000'000;
    EXPECT_TRUE(vfiles::CheckNdays(now - 1000L * 86400, 0, now));
    EXPECT_TRUE(vfiles::CheckNdays(now - 90L * 86400, 90, now));
    EXPECT_FALSE(vfiles::CheckNdays(now - 90L * 86400 - 1, 90, now));
    EXPECT_TRUE(vfiles::CheckNdays(now + 3600, 1, now)); // a clock ahead of ours
}

TEST(VfilesLoad, FileWithoutHeaderLosesNoRecord) {
    auto dir = make_temp_dir();
    writeText(dir / "tarmin-gw-a.csv", errLine(D, "09:00:00", "a1") + errLine(D, "09:00:01", "a2"));
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a1", "a2"}));
}

// ---- Lines ----

TEST(VfilesLines, LongLineComesInPiecesAndOnlyItsFirstPieceIsTested) {
    auto dir = make_temp_dir();
    // The second 31-character piece of a1 looks like a later date; taking it
    // for one would let b1 into the middle of a1.
    std::string a1 = D + ",09:00:00,mod,err,0,X01/01/2030 23:59:59 and more text\n";
    writeLog(dir / "tarmin-gw-a.csv", {a1, errLine(D, "09:00:01", "a2")});
    writeLog(dir / "tarmin-gw-b.csv", {errLine(D, "09:00:00", "b1")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    std::string all;
    char buf[32];
    int pieces = 0;
    while (set.fgets(buf, sizeof buf)) {
        EXPECT_LE(std::strlen(buf), 31u);
        all += buf;
        ++pieces;
    }
    EXPECT_EQ(all, a1 + errLine(D, "09:00:00", "b1") + errLine(D, "09:00:01", "a2"));
    EXPECT_EQ(pieces, 7); // 31 + 31 + 4 characters of a1, two pieces each of b1 and a2
}

TEST(VfilesLines, TinyBuffersAreRefused) {
    auto dir = make_temp_dir();
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "09:00:00", "a1")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    char buf[2];
    EXPECT_EQ(set.fgets(buf, 1), nullptr);
    EXPECT_EQ(set.fgets(nullptr, 10), nullptr);
    ASSERT_NE(set.fgets(buf, 2), nullptr);
    EXPECT_STREQ(buf, "0");
}

TEST(VfilesLines, CarriageReturnLineFeedBecomesLineFeed) {
    auto dir = make_temp_dir();
    writeText(dir / "tarmin-gw-a.csv", "Header\r\n" + D + ",09:00:00,m,err,0,x\r\n" + D + ",09:00:01,m,err,0,y\r\n");
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    char buf[256];
    ASSERT_TRUE(set.fgets(buf, sizeof buf));
    EXPECT_EQ(std::string(buf), D + ",09:00:00,m,err,0,x\n");
    std::string line;
    ASSERT_TRUE(set.getline(line));
    EXPECT_EQ(line, D + ",09:00:01,m,err,0,y\n");
}

// A CR LF line counts its line end as one character, as a text-mode reader
// does: a line that fits the buffer once CR LF is one line feed comes whole,
// never as a piece ending in CR and a piece "\n".
TEST(VfilesLines, CarriageReturnLineFeedAtTheBufferEndComesWithItsLine) {
    auto dir = make_temp_dir();
    std::string a = D + ",09:00:00,m,err,0,", b = D + ",09:00:01,m,err,0,";
    a.resize(4094, 'a');
    b.resize(4094 + 4095, 'b');
    ASSERT_EQ(a.size(), 4094u);
    writeText(dir / "tarmin-gw-a.csv", "Header\r\n" + a + "\r\n" + b + "\r\n" + D + ",09:00:02,m,err,0,c\r\n");
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    std::vector<std::string> pieces;
    char buf[4096];
    while (set.fgets(buf, sizeof buf)) pieces.emplace_back(buf);
    EXPECT_EQ(pieces, (std::vector<std::string>{a + "\n", b.substr(0, 4095), b.substr(4095) + "\n", D + ",09:00:02,m,err,0,c\n"}));
    // Without CR the same line is one character too long for the buffer.
    writeText(dir / "tarmin-gw-b.csv", "Header\n" + a + "x\n");
    set.clear();
    set.load(dirOf(dir).c_str(), "tarmin-gw-b", 0);
    pieces.clear();
    while (set.fgets(buf, sizeof buf)) pieces.emplace_back(buf);
    EXPECT_EQ(pieces, (std::vector<std::string>{a + "x", "\n"}));
}

TEST(VfilesLines, LastLineWithoutLineFeedIsReturned) {
    auto dir = make_temp_dir();
    writeText(dir / "tarmin-gw-a.csv", kErrorsHeader + errLine(D, "09:00:00", "a1") + D + ",09:00:01,m,err,0,a2");
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    auto lines = readAll(set);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], D + ",09:00:01,m,err,0,a2");
}

// ---- Robustness ----

TEST(VfilesRobust, LineBeingWrittenIsReturnedOnceComplete) {
    auto dir = make_temp_dir();
    auto p = dir / "tarmin-gw-a.csv";
    writeLog(p, {errLine(D, "09:00:00", "a1")});
    int fd = ::open(p.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    std::string part1 = D + ",09:00:01,m,err,0,par", part2 = "tial\n";
    ASSERT_EQ(::write(fd, part1.data(), part1.size()), static_cast<ssize_t>(part1.size()));

    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"a1"}));
    ASSERT_EQ(::write(fd, part2.data(), part2.size()), static_cast<ssize_t>(part2.size()));
    EXPECT_EQ(tags(readAll(set)), V({"partial"}));
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

TEST(VfilesRobust, FirstRecordBeingWrittenIsQueuedOnceComplete) {
    auto dir = make_temp_dir();
    auto p = dir / "tarmin-gw-a.csv";
    writeText(p, kErrorsHeader + D + ",09:00:00,m,err,0,fir");
    int fd = ::open(p.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    vfiles set;
    EXPECT_EQ(set.load(dirOf(dir).c_str(), "tarmin-gw", 0), 0);
    EXPECT_TRUE(readAll(set).empty());
    ASSERT_EQ(::write(fd, "st\n", 3), 3);
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(tags(readAll(set)), V({"first"}));
    ::close(fd);
}

TEST(VfilesRobust, FileRemovedWhileOpenIsReadToItsEnd) {
    auto dir = make_temp_dir();
    auto p = dir / "tarmin-gw-a.csv";
    std::vector<std::string> lines;
    for (int i = 0; i < 2000; ++i) lines.push_back(errLine(D, "09:00:00", "line" + std::to_string(i)));
    writeLog(p, lines);
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    std::string first;
    ASSERT_TRUE(set.getline(first));
    fs::remove(p);
    EXPECT_EQ(readAll(set).size(), 1999u);
}

TEST(VfilesRobust, TruncatedAndRewrittenFileGivesOnlyItsNewLines) {
    auto dir = make_temp_dir();
    auto p = dir / "tarmin-gw-a.csv";
    writeLog(p, {errLine(D, "09:00:00", "a1"), errLine(D, "09:00:01", "a2"), errLine(D, "09:00:02", "a3")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(readAll(set).size(), 3u);
    // The gateway empties the file and starts it again.
    writeLog(p, {errLine(D, "11:00:00", "n1")});
    EXPECT_EQ(tags(readAll(set)), V({"n1"}));
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    appendText(p, errLine(D, "11:00:01", "n2"));
    EXPECT_EQ(tags(readAll(set)), V({"n2"}));
}

TEST(VfilesRobust, FileEmptiedThenRefilledIsFollowed) {
    auto dir = make_temp_dir();
    auto p = dir / "tarmin-gw-a.csv";
    writeLog(p, {errLine(D, "09:00:00", "a1")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(readAll(set).size(), 1u);
    writeText(p, "");
    EXPECT_TRUE(readAll(set).empty());
    writeText(p, kErrorsHeader);
    EXPECT_TRUE(readAll(set).empty());
    appendText(p, errLine(D, "12:00:00", "b1"));
    EXPECT_EQ(tags(readAll(set)), V({"b1"}));
}

TEST(VfilesRobust, FileCutBackToItsHeadContinuesAtTheCut) {
    auto dir = make_temp_dir();
    auto p = dir / "tarmin-gw-a.csv";
    std::string l1 = errLine(D, "09:00:00", "a1");
    writeLog(p, {l1, errLine(D, "09:00:01", "a2"), errLine(D, "09:00:02", "a3")});
    vfiles set;
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    EXPECT_EQ(readAll(set).size(), 3u);
    fs::resize_file(p, kErrorsHeader.size() + l1.size());
    EXPECT_TRUE(readAll(set).empty());
    appendText(p, errLine(D, "09:00:03", "a4"));
    EXPECT_EQ(tags(readAll(set)), V({"a4"}));
}

TEST(VfilesRobust, BinaryGarbageNeitherCrashesNorHidesOtherFiles) {
    auto dir = make_temp_dir();
    std::string garbage;
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) {
        x = x * 1103515245 + 12345;
        char c = static_cast<char>(x >> 24);
        garbage += c == '\r' ? 'r' : c; // keep the byte count exact: "\r\n" would become "\n"
    }
    writeText(dir / "tarmin-gw-0garbage.csv", garbage);
    // Garbage in the middle of a valid file is handed out as lines too.
    writeText(dir / "tarmin-gw-1mixed.csv",
              kErrorsHeader + errLine(D, "09:00:00", "m1") + garbage + "\n" + errLine(D, "09:00:02", "m2"));
    writeLog(dir / "tarmin-gw-2good.csv", {errLine(D, "10:00:00", "g1")});
    vfiles set;
    EXPECT_EQ(set.load(dirOf(dir).c_str(), "tarmin-gw", 0), 0);
    auto lines = readAll(set);
    std::string joined;
    for (auto &l : lines) joined += l;
    EXPECT_EQ(lines.front(), errLine(D, "09:00:00", "m1"));
    EXPECT_EQ(lines.back(), errLine(D, "10:00:00", "g1"));
    EXPECT_NE(joined.find(errLine(D, "09:00:02", "m2")), std::string::npos);
    // Every byte of the mixed file's records came out once.
    EXPECT_EQ(joined.size(), errLine(D, "09:00:00", "m1").size() + garbage.size() + 1 +
                                 errLine(D, "09:00:02", "m2").size() + errLine(D, "10:00:00", "g1").size());
}

TEST(VfilesRobust, OneMegabyteLine) {
    auto dir = make_temp_dir();
    std::string big = D + ",09:00:00,mod,err,0," + std::string(1 << 20, 'x') + "\n";
    writeLog(dir / "tarmin-gw-a.csv", {big, errLine(D, "09:00:01", "after")});
    {
        vfiles set;
        set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
        auto lines = readAll(set);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], big);
        EXPECT_EQ(tags({lines[1]}), V({"after"}));
    }
    {
        vfiles set;
        set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
        char buf[4096];
        std::string all;
        int pieces = 0;
        while (set.fgets(buf, sizeof buf)) {
            all += buf;
            ++pieces;
        }
        EXPECT_EQ(all, big + errLine(D, "09:00:01", "after"));
        EXPECT_EQ(pieces, static_cast<int>((big.size() + 4094) / 4095) + 1);
    }
}

// Thousands of files whose lines interleave, all open at once: the files
// waiting their turn do not each hold a full reading buffer.
TEST(VfilesRobust, InterleavedFilesShareTheirBufferMemory) {
    auto dir = make_temp_dir();
    constexpr int kFiles = 3000;
    for (int k = 0; k < kFiles; ++k) {
        std::string lines;
        for (int round = 0; round < 3; ++round) {
            char time[16];
            const int second = round * kFiles + k;
            std::snprintf(time, sizeof time, "%02d:%02d:%02d", 8 + second / 3600, second / 60 % 60, second % 60);
            lines += errLine(D, time, std::to_string(second));
        }
        char name[32];
        std::snprintf(name, sizeof name, "tarmin-gw%05d.csv", k);
        writeText(dir / name, kErrorsHeader + lines);
    }
    vfiles set;
    set.setDescriptorBudget(kFiles + 100);
    const std::size_t before = allocatedBytes();
    set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
    std::string line;
    for (int i = 0; i < kFiles + kFiles / 2; ++i) ASSERT_TRUE(set.getline(line));
    const std::size_t held = allocatedBytes() - before;
    EXPECT_LT(held, 40u << 20) << held;
    int read = kFiles + kFiles / 2;
    while (set.getline(line)) ++read;
    EXPECT_EQ(read, 3 * kFiles);
    EXPECT_EQ(tags({line}), V({std::to_string(3 * kFiles - 1).c_str()}));
}

// ---- Diagnostics ----

TEST(VfilesTrace, DetailAndCallLines) {
    auto dir = make_temp_dir();
    auto logDir = make_temp_dir("diag");
    writeLog(dir / "tarmin-gw-a.csv", {errLine(D, "09:00:00", "a1"), errLine(D, "11:00:00", "a2")});
    writeLog(dir / "tarmin-gw-b.csv", {errLine(D, "10:00:00", "b1")});
    DiagLog::setFile(dirOf(logDir).c_str(), "oper_events", "txt");
    DiagLog::setLevel(9);
    {
        vfiles set;
        set.load(dirOf(dir).c_str(), "tarmin-gw", 0);
        readAll(set);
        set.clear();
    }
    std::string file = DiagLog::currentFileName();
    DiagLog::setLevel(0);
    std::string text = tarmin::test::read_file(file);
    for (const char *piece : {"Enter vfiles::load", "Exit vfiles::load (retval 0x0)", "Enter vfiles::insert",
                              "Enter CheckNdays", "Exit CheckNdays (retval 0x1)", "Enter vfiles::fgets",
                              "Exit vfiles::fgets", "Enter vfiles::clear", "fname: ", "1st rec: 05/03/2024,09:00:00",
                              "m_tCreationTime: 05/03/2024 09:00:00; m_fhFile: 0x", "m_szCurrentIndex: 1",
                              "ref counter(0x", "fclose(m_fhFile= 0x"})
        EXPECT_NE(text.find(piece), std::string::npos) << piece;
}
