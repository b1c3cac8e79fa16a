// Error statistics: the threshold, the quiet period, the codes that are never
// counted, the alert job only with bit 4 of KVITFlags, and the alert times
// and overdue hashes found again in event files that the common services
// wrote.
#include "tests/monitor/jobs/job_test_support.h"
#include "testsupport.h"

#include "common/codepage.h"
#include "monitor/alerts/ErrorStatistics.h"
#include "monitor/logs/CErrorRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>

using namespace tarmin::monitor;
using namespace tarmin::test;
using namespace tarmin::cp::literals;
namespace fs = std::filesystem;

namespace {

constexpr QZ_DWORD kNumerous = 0x600E0005;

class ErrorStatisticsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0); }
    static void TearDownTestSuite() { QZ_Finalize(); }
    void SetUp() override {
        out_ = make_temp_dir("out");
        events_ = make_temp_dir("events");
        ASSERT_EQ(QZ_SetKeyString(QZ_GetProductKeyName(), "Filename", (events_.string() + "/").c_str(), 0), 0);
    }

    // Counts a record as the errors reading does, threshold and quiet period
    // given, with a recipient.
    void record(const char *code, const char *date, const char *time, uint32_t threshold, uint32_t quietMinutes) {
        stats_.count(code, date, time, threshold, quietMinutes, out_.string(), "admin@bank.ru", "information");
    }
    // The texts of the numerous-error events reported since the last call.
    std::vector<std::string> alerts() {
        ShownReports kept = recorder_.takeKept();
        std::vector<std::string> texts;
        for (size_t i = 0; i < kept.codes.size(); ++i)
            if (kept.codes[i] == kNumerous) texts.push_back(kept.texts[i]);
        return texts;
    }
    const ERROR_STAT &entry(uint32_t code) { return stats_.entries().at(code); }

    fs::path out_, events_;
    JobRecorder recorder_;
    ErrorStatistics stats_;
};

TEST_F(ErrorStatisticsTest, ThresholdRaisesOneAlertAndTheSameSecondStaysQuiet) {
    record("E0030015", "05/03/2024", "10:00:00", 3, 0);
    record("0xE0030015", "05/03/2024", "10:00:00", 3, 0);
    EXPECT_TRUE(alerts().empty());
    EXPECT_EQ(entry(0xE0030015).count, 2);
    record("e0030015", "05/03/2024", "10:00:00", 3, 0);
    EXPECT_EQ(alerts(), (std::vector<std::string>{"Ошибка 0xE0030015 возникла 3 раз; последняя: 05/03/2024 10:00:00"_w}));
    EXPECT_EQ(names_in(out_).size(), 1u);
    EXPECT_EQ(entry(0xE0030015).count, 0);
    EXPECT_EQ(entry(0xE0030015).quiet, 1);

    // A fourth record of the same second is within the quiet period (0
    // minutes): not later than the alert.
    record("E0030015", "05/03/2024", "10:00:00", 3, 0);
    EXPECT_TRUE(alerts().empty());
    EXPECT_EQ(entry(0xE0030015).count, 0);
    // One second later counting starts again at 1.
    record("E0030015", "05/03/2024", "10:00:01", 3, 0);
    EXPECT_EQ(entry(0xE0030015).count, 1);
    EXPECT_EQ(names_in(out_).size(), 1u);

    // Codes 0 and E0020004 are never counted, whatever the threshold.
    for (int i = 0; i < 3; ++i) {
        record("E0020004", "05/03/2024", "10:00:00", 1, 0);
        record("0", "05/03/2024", "10:00:00", 1, 0);
        record("zz", "05/03/2024", "10:00:00", 1, 0); // no hexadecimal digit: code 0
    }
    EXPECT_TRUE(alerts().empty());
    EXPECT_EQ(stats_.entries().size(), 1u);
    EXPECT_EQ(names_in(out_).size(), 1u);
}

TEST_F(ErrorStatisticsTest, QuietPeriodInLogTimeAcrossReadings) {
    record("E0030015", "05/03/2024", "10:00:00", 2, 60);
    record("E0030015", "05/03/2024", "10:00:00", 2, 60);
    ASSERT_EQ(alerts().size(), 1u);

    // A new reading: the quiet period still holds; 60 minutes after the
    // alert is still inside it.
    stats_.resetForPass();
    record("E0030015", "05/03/2024", "10:30:00", 2, 60);
    record("E0030015", "05/03/2024", "11:00:00", 2, 60);
    EXPECT_EQ(entry(0xE0030015).count, 0);
    // The first record after it starts a new count at 1; the next one alerts.
    record("E0030015", "05/03/2024", "11:00:01", 2, 60);
    EXPECT_EQ(entry(0xE0030015).count, 1);
    EXPECT_TRUE(alerts().empty());
    record("E0030015", "05/03/2024", "11:20:00", 2, 60);
    EXPECT_EQ(alerts(), (std::vector<std::string>{"Ошибка 0xE0030015 возникла 2 раз; последняя: 05/03/2024 11:20:00"_w}));

    // A reading starts every known code quiet again with count 0; a record
    // whose time cannot be read is never ignored.
    record("E0030015", "05/03/2024", "11:25:00", 2, 60); // quiet: ignored
    EXPECT_EQ(entry(0xE0030015).count, 0);
    record("E0030015", "31/02/2024", "11:25:00", 2, 60);
    EXPECT_EQ(entry(0xE0030015).count, 1);
    stats_.resetForPass();
    EXPECT_EQ(entry(0xE0030015).count, 0);
    EXPECT_EQ(entry(0xE0030015).quiet, 1);
}

TEST_F(ErrorStatisticsTest, AlertJobOnlyWithBitFourAndAnAddress) {
    CErrorRecord rec;
    ASSERT_NE(rec.Parse("05/03/2024,09:05:07,smime,err,E0030015,Нет сертификата получателя"_w, ','), 0);
    ErrorsReadingSettings settings;
    settings.kvitFlags = kKvitCountErrors;
    settings.maxErrorRepeat = 1;
    settings.outputDirectory = out_.string();
    settings.admAddr = "admin@bank.ru";

    // Bit 4 clear: the event, but no job directory.
    stats_.count(rec, settings);
    EXPECT_EQ(alerts().size(), 1u);
    EXPECT_TRUE(names_in(out_).empty());

    // Bit 4 set: the job carries the record's information text.
    stats_.resetForPass();
    ASSERT_NE(rec.Parse("05/03/2024,09:05:08,smime,err,E0030015,Нет сертификата получателя"_w, ','), 0);
    settings.kvitFlags |= kKvitSendNumerous;
    stats_.count(rec, settings);
    EXPECT_EQ(alerts().size(), 1u);
    std::vector<std::string> jobs = names_in(out_);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(jobs[0].ends_with("E0030015090508")) << jobs[0];
    std::string info = read_file(out_ / jobs[0] / "tmninfo.txt");
    EXPECT_NE(info.find("email:admin@bank.ru\r\n"), std::string::npos);
    EXPECT_TRUE(info.ends_with("Нет сертификата получателя\r\n"_w));
}

TEST_F(ErrorStatisticsTest, RestoreFromEventFilesWrittenByTheCommonServices) {
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kNumerous, 0xE0030015u, 3u, "05/03/2024", "10:15:07");
    QZ_ReportEvent(QZ_LEVEL_DETAIL, 0xE00E0002, 120u, "Отчёт за март"_w, "08:00:00", "05/03/2024",
                   "9F86D081884C7D65");
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kNumerous, 0xE0030015u, 3u, "05/03/2024", "09:00:00"); // earlier: kept later one
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kNumerous, 0x1Fu, 5u, "04/03/2024", "23:59:59");
    QZ_ReportEvent(QZ_LEVEL_DETAIL, 0xE0030015, "CCA_init", "SecurityInit");
    // An event file of another day, with the code's "X" in upper case, and
    // a file of another product that is not read.
    write_file(events_ / "tarmin-operator20240301.csv",
               "01/03/2024,12:00:00,0X600E0005,1,Ошибка 0xA1 возникла 2 раз; последняя: 01/03/2024 12:00:00\n"_w
               "01/03/2024,12:00:01,0x600E0005,1,broken: no code\n"
               "01/03/2024,12:00:02,0xE00E0002,1,old hash=ABCDEF01  \r\n");
    write_file(events_ / "other20240301.csv",
               "01/03/2024,12:00:00,0x600E0005,1,Ошибка 0xB2 возникла 2 раз; последняя: 01/03/2024 12:00:00\n"_w);
    recorder_.takeKept();

    std::vector<std::string> hashes = stats_.restoreFromEventFiles(events_.string() + "/");
    std::sort(hashes.begin(), hashes.end());
    EXPECT_EQ(hashes, (std::vector<std::string>{"9F86D081884C7D65", "ABCDEF01"}));
    std::vector<uint32_t> codes;
    for (const auto &[code, e] : stats_.entries()) {
        codes.push_back(code);
        EXPECT_EQ(e.count, 0);
        EXPECT_EQ(e.quiet, 1);
    }
    EXPECT_EQ(codes, (std::vector<uint32_t>{0x1F, 0xA1, 0xE0030015}));

    // After the restart records up to the last alert plus the quiet period
    // are not counted again; the next ones are.
    stats_.resetForPass();
    for (const char *time : {"10:15:07", "10:15:07", "10:15:07", "11:15:07"}) record("E0030015", "05/03/2024", time, 3, 60);
    EXPECT_TRUE(alerts().empty());
    for (const char *time : {"11:15:08", "11:15:09", "11:15:10"}) record("E0030015", "05/03/2024", time, 3, 60);
    EXPECT_EQ(alerts(), (std::vector<std::string>{"Ошибка 0xE0030015 возникла 3 раз; последняя: 05/03/2024 11:15:10"_w}));

    // A directory without event files gives nothing.
    ErrorStatistics empty;
    EXPECT_TRUE(empty.restoreFromEventFiles((out_ / "missing").string()).empty());
    EXPECT_TRUE(empty.entries().empty());
}

// The event directory may be shared (the temporary directory by default):
// only the user's own regular files are read back, so that another user
// cannot silence an alert or mark a letter as reported, and a pipe under an
// event file's name does not hold up the start-up. A subject that holds
// " hash=" does not hide the hash at the end of its line.
TEST_F(ErrorStatisticsTest, RestoreReadsOnlyTheUsersOwnEventFiles) {
    QZ_ReportEvent(QZ_LEVEL_DETAIL, 0xE00E0002, 120u, "Отчёт hash=FORGED"_w, "08:00:00", "05/03/2024", "5A5A5A5A");
    const std::string forged = "01/03/2024,12:00:00,0x600E0005,1,Ошибка 0xC1 возникла 2 раз; последняя: 01/01/2099 12:00:00\n"
                               "01/03/2024,12:00:01,0xE00E0002,1,old hash=0THER\n"_w;
    // A link to a file elsewhere, and a pipe that no one writes.
    write_file(out_ / "elsewhere.csv", forged);
    fs::create_symlink(out_ / "elsewhere.csv", events_ / "tarmin-operator20240302.csv");
    const fs::path pipe = events_ / "tarmin-operator20240303.csv";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
    // Another user's file.
    if (::geteuid() == 0) {
        write_file(events_ / "tarmin-operator20240304.csv", forged);
        ASSERT_EQ(::chown((events_ / "tarmin-operator20240304.csv").c_str(), 54321, 54321), 0);
    }
    recorder_.takeKept();

    auto restoring = std::async(std::launch::async, [&] { return stats_.restoreFromEventFiles(events_.string() + "/"); });
    const bool hung = restoring.wait_for(std::chrono::seconds(10)) == std::future_status::timeout;
    if (hung) {
        // Let the reader that waits on the pipe go, so that the test can end.
        int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
    }
    const std::vector<std::string> hashes = restoring.get();
    EXPECT_FALSE(hung) << "the start-up scan waited on a pipe";
    EXPECT_EQ(hashes, std::vector<std::string>{"5A5A5A5A"});
    EXPECT_TRUE(stats_.entries().empty());
}

} // namespace
