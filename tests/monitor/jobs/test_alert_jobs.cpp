// Alert jobs: the directory names, the information file byte for byte, and
// the failures, which are reported as events and never shown.
#include "job_test_support.h"
#include "testsupport.h"

#include "common/codepage.h"
#include "monitor/jobs/AlertJobs.h"
#include "platform/faults.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarmin::monitor;
using namespace tarmin::test;
using namespace tarmin::cp::literals;
namespace fs = std::filesystem;
namespace pf = tarmin::platform;

namespace {

class AlertJobs : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0); }
    static void TearDownTestSuite() { QZ_Finalize(); }
    void SetUp() override { out_ = make_temp_dir("out"); }

    fs::path out_;
    JobRecorder recorder_;
};

TEST_F(AlertJobs, OverdueAlertNameAndInformationFile) {
    // The output directory without a trailing separator gets one.
    std::string dir = SendMailAboutOverdue(out_.string(), "SMTP:admin@bank.ru", 120, "Платёж 15"_w, "10:20:30",
                                           "01/02/2026", "0123456789ABCDEF0123");
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(fs::path(dir).parent_path(), out_);
    std::string name = fs::path(dir).filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex("TO[0-9]+0123456789ABCDEF"))) << name;
    EXPECT_EQ(read_file(fs::path(dir) / "tmninfo.txt"),
              std::string("subject: notification overdue\r\nprotection: Plain\r\nemail:SMTP:admin@bank.ru\r\nbody:\r\n") +
                  "Истёк таймаут 120 минут на получение квитанции на письмо 'Платёж 15', отправленное 10:20:30 01/02/2026\r\n"_w +
                  "hash=0123456789ABCDEF0123");

    // A hash shorter than 16 characters is used whole; "\" ends a directory too.
    std::string shortHash = SendMailAboutOverdue(out_.string() + "\\", "a", 1, "x", "t", "d", "AB12");
    EXPECT_TRUE(std::regex_match(fs::path(shortHash).filename().string(), std::regex("TO[0-9]+AB12")));
    EXPECT_EQ(fs::path(shortHash).parent_path(), out_);
    EXPECT_TRUE(recorder_.takeKept().codes.empty());
}

TEST_F(AlertJobs, NumerousErrorAlertNameAndInformationFile) {
    std::string dir = SendMailAboutNumerousError(out_.string() + "/", "SMTP:admin@bank.ru", 0x1F, 7, "03/04/2026",
                                                 "09:05:07", "Нет сертификата получателя"_w);
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(std::regex_match(fs::path(dir).filename().string(), std::regex("TO[0-9]+1F090507")));
    EXPECT_EQ(read_file(fs::path(dir) / "tmninfo.txt"),
              std::string("subject: numerious errors\r\nprotection: Plain\r\nemail:SMTP:admin@bank.ru\r\nbody:\r\n") +
                  "Ошибка 0x1F возникла 7 раз; последняя: 03/04/2026 09:05:07\r\n"_w +
                  "Нет сертификата получателя\r\n"_w);

    // Without the date or the time nothing is written.
    EXPECT_EQ(SendMailAboutNumerousError(out_.string(), "a", 1, 2, "", "09:05:07", "x"), "");
    EXPECT_EQ(SendMailAboutNumerousError(out_.string(), "a", 1, 2, "03/04/2026", "", "x"), "");
    EXPECT_EQ(names_in(out_).size(), 1u);
}

TEST_F(AlertJobs, FailuresAreReportedWithTheFailedOperation) {
    auto expectReported = [&](const char *operation, uint32_t error, QZ_DWORD notSent, const char *writer) {
        ShownReports kept = recorder_.takeKept();
        ASSERT_EQ(kept.codes, (std::vector<QZ_DWORD>{0xE00E0003, notSent})) << operation;
        EXPECT_EQ(kept.texts[0], "Системная ошибка "_w + std::to_string(error) + " при выполнении "_w + operation +
                                     " в "_w + writer);
    };
    // No output directory: the directory cannot be created.
    EXPECT_EQ(SendMailAboutOverdue((out_ / "missing").string(), "a", 1, "x", "t", "d", "H"), "");
    expectReported("CreateDirectory", ENOENT, 0xE00E0004, "CMainApp::SendMailAboutOverdue");

    // A directory of the same name exists already: the alert fails.
    // (names for every tick from now until 300 ms ahead of the clock)
    for (uint32_t next = pf::tick_count(); next < pf::tick_count() + 300; ++next)
        fs::create_directory(out_ / ("TO" + std::to_string(next) + "HASH"));
    EXPECT_EQ(SendMailAboutOverdue(out_.string(), "a", 1, "x", "t", "d", "HASH"), "");
    expectReported("CreateDirectory", EEXIST, 0xE00E0004, "CMainApp::SendMailAboutOverdue");
    fs::remove_all(out_);
    fs::create_directory(out_);

    {
        pf::ScopedFault openFails(pf::FaultPoint::create, EACCES, 1, 1); // the file, after the directory
        EXPECT_EQ(SendMailAboutNumerousError(out_.string(), "a", 1, 2, "03/04/2026", "09:05:07", "x"), "");
    }
    expectReported("fopen", EACCES, 0xE00E0006, "CMainApp::SendMailAboutNumerousError");
    {
        pf::ScopedFault full(pf::FaultPoint::write, ENOSPC);
        EXPECT_EQ(SendMailAboutNumerousError(out_.string(), "a", 1, 2, "03/04/2026", "09:05:08", "x"), "");
    }
    expectReported("fclose", ENOSPC, 0xE00E0006, "CMainApp::SendMailAboutNumerousError");
    // Nothing was shown, and the partly written directories stay, without
    // anything that looks like a complete alert (or a temporary file).
    EXPECT_TRUE(recorder_.boxes.empty());
    ASSERT_EQ(names_in(out_).size(), 2u);
    for (const std::string &name : names_in(out_)) EXPECT_TRUE(names_in(out_ / name).empty()) << name;

    // The close fails (the write is deferred, as on a full disk): no
    // "tmninfo.txt" either.
    {
        pf::ScopedFault renameFails(pf::FaultPoint::rename, ENOSPC);
        EXPECT_EQ(SendMailAboutOverdue(out_.string(), "a", 1, "x", "t", "d", "RENAME"), "");
    }
    expectReported("fclose", ENOSPC, 0xE00E0004, "CMainApp::SendMailAboutOverdue");
    for (const std::string &name : names_in(out_)) EXPECT_TRUE(names_in(out_ / name).empty()) << name;
}

// The gateway may run under another account in the output directory's group.
TEST_F(AlertJobs, AlertFilesAreForTheOutputDirectorysGroup) {
    constexpr gid_t kGatewayGroup = 4243;
    if (::chown(out_.c_str(), static_cast<uid_t>(-1), kGatewayGroup) != 0) GTEST_SKIP() << "cannot chown";
    const mode_t oldMask = ::umask(077);
    std::string dir = SendMailAboutNumerousError(out_.string(), "a", 1, 2, "03/04/2026", "09:05:07", "x");
    ::umask(oldMask);
    ASSERT_FALSE(dir.empty());
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(st.st_gid, kGatewayGroup);
    ASSERT_EQ(names_in(dir), std::vector<std::string>{"tmninfo.txt"});
    ASSERT_EQ(::stat((fs::path(dir) / "tmninfo.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_gid, kGatewayGroup);
}

} // namespace
