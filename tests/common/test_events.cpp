// Operator event files: the lines QZ_ReportEvent appends, new files by size,
// day and month, deletion of old files, and writers in several threads and
// processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/codepage.h"
#include "common/event_file.h"
#include "qzcom.h"
#include "testsupport.h"

using namespace tarmin::cp::literals;
namespace fs = std::filesystem;

namespace {

constexpr time_t kDay = 24 * 60 * 60;
constexpr time_t kMarch5 = 1709633707; // 2024-03-05 10:15:07 UTC
std::atomic<time_t> g_now{kMarch5};
time_t test_clock() { return g_now.load(); }

void set_text(const char *name, const std::string &value) {
    ASSERT_EQ(QZ_SetKeyString(QZ_GetProductKeyName(), name, value.c_str(), 0), 0) << name;
}

void set_number(const char *name, QZ_DWORD value) {
    ASSERT_EQ(QZ_SetKeyDword(QZ_GetProductKeyName(), name, value, 0), 0) << name;
}

std::vector<std::string> files_in(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> lines_of(const fs::path &file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void set_mtime(const fs::path &p, time_t t) {
    struct timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << p;
}

// One event line of ours: date, time, code, level, text.
const std::regex kLine(R"(^\d\d/\d\d/\d{4},\d\d:\d\d:\d\d,0x[0-9A-F]+,\d,.*$)");

// Lines of all event files of a directory, each checked to be one whole event
// line, each file checked against the size limit.
std::size_t count_whole_lines(const fs::path &dir, std::uintmax_t size_limit) {
    std::size_t total = 0;
    for (const auto &n : files_in(dir)) {
        EXPECT_LE(fs::file_size(dir / n), size_limit) << n;
        for (const auto &l : lines_of(dir / n)) {
            EXPECT_TRUE(std::regex_match(l, kLine)) << l;
            ++total;
        }
    }
    return total;
}

class EventFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0);
    }
    static void TearDownTestSuite() { QZ_Finalize(); }

    void SetUp() override {
        g_now = kMarch5;
        tarmin::qzcom::set_event_clock(test_clock);
        dir = tarmin::test::make_temp_dir("events");
        set_text("Filename", dir.string() + "/");
        set_number("Update period", 1);
        set_number("Maximum file size", 512);
        set_number("DeleteFilePeriod", 30);
        QZ_ClearReports(3);
    }
    void TearDown() override {
        tarmin::qzcom::set_event_clock(nullptr);
        QZ_ClearReports(3);
    }

    fs::path dir;
};

} // namespace

TEST_F(EventFiles, LinesByteForByte) {
    QZ_ReportEvent(1, 0x600E0005, 0xE0030015u, 3u, "05/03/2024", "10:15:07");
    QZ_ReportEvent(1, 0xE00E0002, 120u, "Отчёт за март"_w, "08:00:00", "05/03/2024", "9F86D081884C7D65");
    QZ_ReportEvent(1, 0xE0030001, "CCA_init: provider not found");
    QZ_ReportEvent(3, 0xE0030001, static_cast<const char *>(nullptr));
    QZ_ReportEvent(1, 0xE0030015, "CCA_init", "SecurityInit");
    QZ_ReportEvent(3, 0xE0070006);
    QZ_ReportEvent(3, 0xE0070005);
    QZ_ReportEvent(1, 0xE00C0009, "Ошибка создания временного файла"_w, "/var/gw/out/TO123", 28u);
    QZ_ReportEvent(1, 0xA00E0001, "12");
    QZ_ReportEvent(3, 0xE0030021, "From: \"Ivanov\"\r\n <smtp:ivanov@example.ru>");
    QZ_ReportEvent(2, 0x12345678);
    QZ_ReportEvent(3, 0xE0030017, 4096u, 4093u);

    EXPECT_EQ(files_in(dir), std::vector<std::string>{"tarmin-operator20240305.csv"});
    EXPECT_EQ(tarmin::test::read_file(dir / "tarmin-operator20240305.csv"),
              tarmin::test::read_file(tarmin::test::source_dir() / "tests/common/expected/events.csv"));
    EXPECT_EQ(QZ_GetReportCount(), 12u);
}

TEST_F(EventFiles, MonitorFindsAlertAndHashAgain) {
    // Read the lines back the way the monitor does at start-up.
    QZ_ReportEvent(1, 0x600E0005, 0xE003000Bu, 25u, "04/03/2024", "23:59:58");
    QZ_ReportEvent(1, 0xE00E0002, 60u, "Тема, с запятой"_w, "08:00:00", "05/03/2024", "ABCDEF0123  ");
    auto lines = lines_of(dir / "tarmin-operator20240305.csv");
    ASSERT_EQ(lines.size(), 2u);

    const std::string &alert = lines[0];
    auto at = alert.find(",0x600E0005,");
    ASSERT_NE(at, std::string::npos);
    auto code_at = alert.find(" 0x", at);
    ASSERT_NE(code_at, std::string::npos);
    auto code_end = alert.find(' ', code_at + 3);
    EXPECT_EQ(std::stoul(alert.substr(code_at + 3, code_end - code_at - 3), nullptr, 16), 0xE003000Bu);
    auto colon = alert.find(": ", code_end);
    ASSERT_NE(colon, std::string::npos);
    auto date_end = alert.find(' ', colon + 2);
    EXPECT_EQ(alert.substr(colon + 2, date_end - colon - 2), "04/03/2024");
    EXPECT_EQ(alert.substr(date_end + 1), "23:59:58");

    const std::string &overdue = lines[1];
    auto hash_at = overdue.find(" hash=");
    ASSERT_NE(hash_at, std::string::npos);
    std::string hash = overdue.substr(hash_at + 6);
    while (!hash.empty() && static_cast<unsigned char>(hash.back()) <= ' ') hash.pop_back();
    EXPECT_EQ(hash, "ABCDEF0123");
}

TEST_F(EventFiles, NewFileWhenTheSizeLimitIsReached) {
    set_number("Update period", 2);
    set_number("Maximum file size", 10);
    for (int i = 0; i < 300; ++i) QZ_ReportEvent(1, 0xE0030003, ("/data/file-" + std::to_string(i)).c_str());

    auto names = files_in(dir);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "tarmin-operator20240305.csv");
    EXPECT_EQ(names[1], "tarmin-operator20240305_2.csv");
    std::vector<std::string> all;
    // Numbered files in their order: _2 ... _9 sort before _10, not a concern at this count.
    for (const auto &n : names) {
        EXPECT_LE(fs::file_size(dir / n), 10u * 1024) << n;
        for (const auto &l : lines_of(dir / n)) all.push_back(l);
    }
    ASSERT_EQ(all.size(), 300u);
    for (int i = 0; i < 300; ++i) {
        EXPECT_TRUE(std::regex_match(all[i], kLine)) << all[i];
        EXPECT_NE(all[i].find("/data/file-" + std::to_string(i)), std::string::npos) << i;
    }
}

TEST_F(EventFiles, NewFileEveryDay) {
    set_number("Update period", 4);
    QZ_ReportEvent(1, 0xE0030002);
    g_now = kMarch5 + 10 * 60 * 60; // 20:15 the same day
    QZ_ReportEvent(1, 0xE0030004);
    g_now = kMarch5 + kDay;
    QZ_ReportEvent(1, 0xE0030005);
    g_now = kMarch5 + 27 * kDay; // April 1st
    QZ_ReportEvent(1, 0xE0030006);

    EXPECT_EQ(files_in(dir), (std::vector<std::string>{"tarmin-operator20240305.csv", "tarmin-operator20240306.csv",
                                                       "tarmin-operator20240401.csv"}));
    auto first = lines_of(dir / "tarmin-operator20240305.csv");
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1].substr(0, 31), "05/03/2024,20:15:07,0xE0030004,");
    EXPECT_EQ(lines_of(dir / "tarmin-operator20240306.csv").size(), 1u);
}

TEST_F(EventFiles, NewFileEveryMonth) {
    set_number("Update period", 8);
    QZ_ReportEvent(1, 0xE0030002);
    g_now = kMarch5 + 20 * kDay; // March 25th
    QZ_ReportEvent(1, 0xE0030004);
    g_now = kMarch5 + 27 * kDay; // April 1st
    QZ_ReportEvent(1, 0xE0030005);

    EXPECT_EQ(files_in(dir), (std::vector<std::string>{"tarmin-operator20240305.csv", "tarmin-operator20240401.csv"}));
    EXPECT_EQ(lines_of(dir / "tarmin-operator20240305.csv").size(), 2u);
}

TEST_F(EventFiles, NeverANewFile) {
    QZ_ReportEvent(1, 0xE0030002); // "Update period" 1
    g_now = kMarch5 + 40 * kDay;
    QZ_ReportEvent(1, 0xE0030004);
    set_number("Maximum file size", 10);
    for (int i = 0; i < 200; ++i) QZ_ReportEvent(1, 0xE0030003, "/data/a-rather-long-file-name-to-fill-the-file");

    EXPECT_EQ(files_in(dir), std::vector<std::string>{"tarmin-operator20240305.csv"});
    EXPECT_EQ(lines_of(dir / "tarmin-operator20240305.csv").size(), 202u);
    EXPECT_GT(fs::file_size(dir / "tarmin-operator20240305.csv"), 10u * 1024);
}

TEST_F(EventFiles, OldEventFilesAreDeleted) {
    const time_t old = kMarch5 - 31 * kDay, recent = kMarch5 - 10 * kDay;
    fs::path outside = tarmin::test::make_temp_dir("outside") / "precious.csv";
    tarmin::test::write_file(outside, "keep me\n");
    set_mtime(outside, old);
    for (const char *name : {"tarmin-operator20240101.csv", "TARMIN-OPERATOR-old.CSV", "oper_events20240101.txt",
                             "tarmin-operator.txt", "tarmin-operator20240201.csv"})
        tarmin::test::write_file(dir / name, "x\n");
    fs::create_symlink(outside, dir / "tarmin-operator-link.csv");
    for (const char *name : {"tarmin-operator20240101.csv", "TARMIN-OPERATOR-old.CSV", "oper_events20240101.txt",
                             "tarmin-operator.txt"})
        set_mtime(dir / name, old);
    set_mtime(dir / "tarmin-operator20240201.csv", recent);
    set_mtime(dir / "tarmin-operator-link.csv", old);

    set_number("Update period", 4); // today's events in a file of their own
    QZ_ReportEvent(1, 0xE0030002);
    // Only the product's old "*.csv" files go; the link and what it names stay.
    EXPECT_EQ(files_in(dir), (std::vector<std::string>{"oper_events20240101.txt", "tarmin-operator-link.csv",
                                                       "tarmin-operator.txt", "tarmin-operator20240201.csv",
                                                       "tarmin-operator20240305.csv"}));
    EXPECT_EQ(tarmin::test::read_file(outside), "keep me\n");

    set_number("DeleteFilePeriod", 5);
    QZ_ReportEvent(1, 0xE0030002);
    EXPECT_FALSE(fs::exists(dir / "tarmin-operator20240201.csv"));
    EXPECT_EQ(lines_of(dir / "tarmin-operator20240305.csv").size(), 2u);
}

TEST_F(EventFiles, NothingFollowsALinkUnderOurName) {
    fs::path outside = tarmin::test::make_temp_dir("outside") / "victim.txt";
    tarmin::test::write_file(outside, "victim\n");
    fs::create_symlink(outside, dir / "tarmin-operator20240305.csv");
    QZ_ReportEvent(1, 0xE0030002);
    EXPECT_EQ(tarmin::test::read_file(outside), "victim\n");
    EXPECT_EQ(lines_of(dir / "tarmin-operator20240305_2.csv").size(), 1u);
}

// A shared event directory is no place for a lock that others can take:
// whoever locks the directory does not hold up the reports, and the writer
// leaves nothing but its event files there.
TEST_F(EventFiles, LocksOfOthersDoNotHoldUpReports) {
    int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir_fd, 0);
    ASSERT_EQ(::flock(dir_fd, LOCK_EX), 0);
    auto start = std::chrono::steady_clock::now();
    QZ_ReportEvent(1, 0xE0030002);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    ::close(dir_fd);
    EXPECT_EQ(files_in(dir), std::vector<std::string>{"tarmin-operator20240305.csv"});
    EXPECT_EQ(lines_of(dir / "tarmin-operator20240305.csv").size(), 1u);
}

TEST_F(EventFiles, FilesDatedLaterThanTodayAreLeftAlone) {
    set_number("Update period", 4);
    tarmin::test::write_file(dir / "tarmin-operator20991231.csv", "");
    for (int i = 0; i < 3; ++i) QZ_ReportEvent(1, 0xE0030002);
    EXPECT_EQ(files_in(dir), (std::vector<std::string>{"tarmin-operator20240305.csv", "tarmin-operator20991231.csv"}));
    EXPECT_EQ(lines_of(dir / "tarmin-operator20240305.csv").size(), 3u);
}

TEST_F(EventFiles, UnwritableDirectoryKeepsTheReport) {
    fs::path blocker = dir / "plain-file";
    tarmin::test::write_file(blocker, "");
    set_text("Filename", (blocker / "events").string() + "/");
    QZ_ReportEvent(3, 0xE0030019);
    EXPECT_EQ(QZ_GetReportCount(), 1u);
    EXPECT_EQ(files_in(dir), std::vector<std::string>{"plain-file"});
}

TEST_F(EventFiles, DirectoryWithBackslashOrEnvironmentReference) {
    set_text("Filename", dir.string() + "\\");
    QZ_ReportEvent(1, 0xE0030002);
    EXPECT_EQ(files_in(dir), std::vector<std::string>{"tarmin-operator20240305.csv"});

    fs::path other = tarmin::test::make_temp_dir("env");
    ::setenv("TARMIN_EVENTS_TEST_DIR", other.c_str(), 1);
    set_text("Filename", "%TARMIN_EVENTS_TEST_DIR%/sub\\");
    QZ_ReportEvent(1, 0xE0030002);
    EXPECT_EQ(files_in(other / "sub"), std::vector<std::string>{"tarmin-operator20240305.csv"});

    // The setting is Windows-1251 text; the directory is made under its UTF-8 name.
    set_text("Filename", other.string() + "/события/"_w);
    QZ_ReportEvent(1, 0xE0030002);
    EXPECT_EQ(files_in(other / "события"), std::vector<std::string>{"tarmin-operator20240305.csv"});
}

TEST_F(EventFiles, DefaultDirectoryIsTemp) {
    fs::path temp = tarmin::test::make_temp_dir("temp");
    ::setenv("TEMP", temp.c_str(), 1);
    // A profile of its own has no "Filename" value.
    QZ_Finalize();
    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", "events-default", QZ_VERSION), 0);
    QZ_ReportEvent(1, 0xE0030002);
    QZ_Finalize();
    ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0);
    EXPECT_EQ(files_in(temp), std::vector<std::string>{"tarmin-operator20240305.csv"});
}

TEST_F(EventFiles, ThreadsWriteWholeLines) {
    set_number("Update period", 2);
    set_number("Maximum file size", 16);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 150; ++i)
                QZ_ReportEvent(1, 0xE0030015, ("step-" + std::to_string(t)).c_str(), std::to_string(i).c_str());
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(count_whole_lines(dir, 16 * 1024), 600u);
}

constexpr int kEventsPerWriter = 500;

// Waits for the start time that ProcessesWriteWholeLines gives its writers.
void wait_for_start() {
    const char *start = std::getenv("TARMIN_EVENTS_START_MS");
    if (!start) return;
    std::this_thread::sleep_until(std::chrono::system_clock::time_point(std::chrono::milliseconds(std::atoll(start))));
}

// Runs as a separate process for ProcessesWriteWholeLines.
TEST_F(EventFiles, ChildWriter) {
    const char *target = std::getenv("TARMIN_EVENTS_CHILD_DIR");
    if (!target) GTEST_SKIP() << "runs only as the writer process of ProcessesWriteWholeLines";
    set_text("Filename", target);
    set_number("Update period", 2);
    set_number("Maximum file size", 10);
    wait_for_start();
    for (int i = 0; i < kEventsPerWriter; ++i) QZ_ReportEvent(1, 0xE0030015, "child", std::to_string(i).c_str());
}

TEST_F(EventFiles, ProcessesWriteWholeLines) {
    set_number("Update period", 2);
    set_number("Maximum file size", 10);
    ::setenv("TARMIN_EVENTS_CHILD_DIR", dir.c_str(), 1);
    // All three writers start together, once the children are up.
    const auto start = std::chrono::system_clock::now() + std::chrono::seconds(2);
    ::setenv("TARMIN_EVENTS_START_MS",
             std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(start.time_since_epoch()).count())
                 .c_str(),
             1);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::vector<std::thread> children;
    std::atomic<int> failures{0};
    for (int c = 0; c < 2; ++c)
        children.emplace_back([&] {
            if (tarmin::test::run({self, "--gtest_filter=EventFiles.ChildWriter"}) != 0) ++failures;
        });
    wait_for_start();
    for (int i = 0; i < kEventsPerWriter; ++i) QZ_ReportEvent(1, 0xE0030015, "parent", std::to_string(i).c_str());
    for (auto &c : children) c.join();
    ::unsetenv("TARMIN_EVENTS_CHILD_DIR");
    ::unsetenv("TARMIN_EVENTS_START_MS");
    EXPECT_EQ(failures.load(), 0);

    EXPECT_EQ(count_whole_lines(dir, 10 * 1024), 3u * kEventsPerWriter);
}

TEST(EventFileNames, WriterUsesItsOwnSettingsDirectly) {
    // The writer without the settings store: the directory is created.
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    tarmin::qzcom::EventFileSettings settings;
    settings.directory = (tarmin::test::make_temp_dir("direct") / "a" / "b").string();
    std::string written;
    ASSERT_TRUE(tarmin::qzcom::append_event_line(settings, kMarch5, "line\n", &written));
    EXPECT_EQ(written, settings.directory + "/tarmin-operator20240305.csv");
    EXPECT_EQ(tarmin::test::read_file(written), "line\n");
    EXPECT_EQ(tarmin::qzcom::event_line(kMarch5, 3, 0xE0030002, "a\tb\x7F"), "05/03/2024,10:15:07,0xE0030002,3,a b \n");
}
