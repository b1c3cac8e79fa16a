// Starting programs, waiting with and without a limit, exit codes, and
// finding a program in its installation directory.
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "platform/process.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tarmin::platform;
namespace tt = tarmin::test;

namespace {

const std::string kShell = "/bin/sh";

fs::path make_script(const fs::path &dir, const std::string &name, const std::string &body, mode_t mode) {
    fs::path p = dir / name;
    tt::write_file(p, "#!/bin/sh\n" + body + "\n");
    ::chmod(p.c_str(), mode);
    return p;
}

} // namespace

TEST(PlatformFindProgram, FindsTheFileWithoutExe) {
    fs::path dir = tt::make_temp_dir("inst");
    fs::path prog = make_script(dir, "tmnmoncfg", "exit 0", 0755);
    for (std::string name : {"tmnmoncfg.exe", "tmnmoncfg.EXE", "tmnmoncfg"}) {
        auto found = find_program(dir.string(), name);
        ASSERT_TRUE(found) << name;
        EXPECT_EQ(*found, prog.string());
    }
    // The installation directory as the settings keep it, with a backslash.
    EXPECT_EQ(find_program(dir.string() + "\\", "tmnmoncfg.exe").value_or(""), prog.string());
}

TEST(PlatformFindProgram, MissingOrNotExecutable) {
    fs::path dir = tt::make_temp_dir("inst");
    EXPECT_FALSE(find_program(dir.string(), "tmnmoncfg.exe"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
    make_script(dir, "plain", "exit 0", 0644);
    EXPECT_FALSE(find_program(dir.string(), "plain"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EACCES));
    fs::create_directory(dir / "subdir");
    EXPECT_FALSE(find_program(dir.string(), "subdir"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EACCES));
    EXPECT_FALSE(find_program(dir.string(), ".exe"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
}

TEST(PlatformProcess, ExitCodesAndArguments) {
    fs::path dir = tt::make_temp_dir("p");
    fs::path out = dir / "args.txt";
    Process p;
    ASSERT_TRUE(p.start(kShell, {"-c", "printf '%s|' \"$@\" > \"$0\"; exit 3", out.string(), "a b", "", "c"}))
        << error_text_utf8(last_error());
    EXPECT_GT(p.pid(), 0);
    EXPECT_FALSE(p.exit_code());
    ASSERT_TRUE(p.wait());
    EXPECT_EQ(p.exit_code().value_or(-1), 3);
    EXPECT_FALSE(p.running());
    EXPECT_EQ(tt::read_file(out), "a b||c|");
    EXPECT_TRUE(p.wait(0)); // an ended program stays ended

    Process ok;
    ASSERT_TRUE(ok.start("/bin/true"));
    ASSERT_TRUE(ok.wait(10000));
    EXPECT_EQ(ok.exit_code().value_or(-1), 0);
}

TEST(PlatformProcess, WorkingDirectory) {
    fs::path dir = tt::make_temp_dir("p");
    Process p;
    ASSERT_TRUE(p.start(kShell, {"-c", "pwd > where.txt"}, dir.string()));
    ASSERT_TRUE(p.wait(10000));
    EXPECT_EQ(p.exit_code().value_or(-1), 0);
    EXPECT_EQ(tt::read_file(dir / "where.txt"), fs::canonical(dir).string() + "\n");
}

TEST(PlatformProcess, TimeoutThenTermination) {
    Process p;
    ASSERT_TRUE(p.start("/bin/sleep", {"30"}));
    EXPECT_TRUE(p.running());
    uint64_t before = tick_count64();
    EXPECT_FALSE(p.wait(150));
    uint64_t waited = tick_count64() - before;
    EXPECT_EQ(last_error(), kErrorWaitTimeout);
    EXPECT_GE(waited, 140u);
    EXPECT_LT(waited, 5000u);
    EXPECT_FALSE(p.wait(0));
    EXPECT_EQ(last_error(), kErrorWaitTimeout);
    EXPECT_FALSE(p.exit_code());
    ASSERT_TRUE(p.terminate());
    ASSERT_TRUE(p.wait(10000));
    EXPECT_EQ(p.exit_code().value_or(-1), 128 + SIGTERM);
    EXPECT_FALSE(p.terminate());
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ESRCH));
}

TEST(PlatformProcess, StartFailuresAreReportedAtOnce) {
    fs::path dir = tt::make_temp_dir("p");
    Process p;
    EXPECT_FALSE(p.start((dir / "missing").string()));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));
    EXPECT_FALSE(p.started());

    fs::path plain = make_script(dir, "plain", "exit 0", 0644);
    EXPECT_FALSE(p.start(plain.string()));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EACCES));

    EXPECT_FALSE(p.start("/bin/true", {}, (dir / "nowhere").string()));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));

    EXPECT_FALSE(p.start(""));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));

    EXPECT_FALSE(p.wait(0));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ECHILD));

    ScopedFault f(FaultPoint::spawn, EAGAIN);
    EXPECT_FALSE(p.start("/bin/true"));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(EAGAIN));
    EXPECT_TRUE(p.start("/bin/true"));
    EXPECT_TRUE(p.wait(10000));
}

TEST(PlatformProcess, DroppedProcessRunsOnAndIsReaped) {
    fs::path dir = tt::make_temp_dir("p");
    int pid = 0;
    {
        Process p;
        ASSERT_TRUE(p.start(kShell, {"-c", "sleep 0.2; echo done > \"$0\"", (dir / "done").string()}));
        pid = p.pid();
    }
    // Still running after its object is gone, then ends and leaves no zombie.
    // The shell creates the file before it writes the line: wait for the line.
    for (int i = 0; i < 500 && (!fs::exists(dir / "done") || tt::read_file(dir / "done") != "done\n"); ++i)
        ::usleep(10000);
    EXPECT_EQ(tt::read_file(dir / "done"), "done\n");
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = ::kill(pid, 0) != 0 && errno == ESRCH;
        if (!gone) ::usleep(10000);
    }
    EXPECT_TRUE(gone);
}

TEST(PlatformProcess, MovedProcessKeepsItsChild) {
    Process a;
    ASSERT_TRUE(a.start(kShell, {"-c", "exit 7"}));
    Process b = std::move(a);
    EXPECT_FALSE(a.started());
    ASSERT_TRUE(b.wait(10000));
    EXPECT_EQ(b.exit_code().value_or(-1), 7);
}
