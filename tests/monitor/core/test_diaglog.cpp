// The diagnostic log: levels, file names per day and thread, the line layout,
// the 8190-character cut, the 240-character rule and the temporary fallback,
// and the three call tracers.
#include "monitor/core/DiagLog.h"
#include "testsupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <thread>
#include <unistd.h>

using namespace tarmin::monitor;
namespace fs = std::filesystem;
using tarmin::test::make_temp_dir;
using tarmin::test::read_file;

namespace {

// 5 March 2024, 10:15:30 local time.
std::time_t fixedTime(int day = 5) {
    std::tm tm{};
    tm.tm_year = 124;
    tm.tm_mon = 2;
    tm.tm_mday = day;
    tm.tm_hour = 10;
    tm.tm_min = 15;
    tm.tm_sec = 30;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::vector<fs::path> filesIn(const fs::path &dir) {
    std::vector<fs::path> out;
    for (auto &e : fs::directory_iterator(dir)) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

std::string slash(const fs::path &p) { return p.string() + "/"; }

class DiagLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = make_temp_dir("diag");
        DiagLog::setClockForTesting([] { return fixedTime(); });
        DiagLog::setFile(slash(dir).c_str(), "oper_events", "txt");
    }
    void TearDown() override {
        DiagLog::setLevel(0);
        DiagLog::setClockForTesting(nullptr);
    }
    std::string expectedName() const {
        return slash(dir) + "oper_events.2024_03_05." + std::to_string(::gettid()) + ".txt";
    }
    fs::path dir;
};

int tracedPlain() {
    TMN_TRACE(tr, "tracedPlain");
    tr.setLine(__LINE__);
    return 0;
}
int tracedNumber() {
    TMN_TRACE_RETVAL(tr, "tracedNumber");
    return tr.ret(__LINE__, 42);
}
const char *tracedText() {
    TMN_TRACE_RET(tr, "tracedText");
    return tr.ret(__LINE__, "abc");
}

} // namespace

TEST_F(DiagLogTest, LevelZeroWritesNothing) {
    DiagLog::setLevel(0);
    TMN_DLOG(kDiagDetail, "detail %d", 1);
    tracedNumber();
    EXPECT_TRUE(filesIn(dir).empty());
}

TEST_F(DiagLogTest, FileNameAndLineLayout) {
    DiagLog::setLevel(1);
    DiagLog::write(1, "vfiles.cpp", 77, "fname: %s", "x.csv");
    ASSERT_EQ(filesIn(dir).size(), 1u);
    EXPECT_EQ(filesIn(dir)[0].string(), expectedName());
    EXPECT_EQ(DiagLog::currentFileName(), expectedName());
    EXPECT_EQ(read_file(expectedName()), "05/03/2024,10:15:30,[file:vfiles.cpp],[line:77] fname: x.csv\n");
}

TEST_F(DiagLogTest, LevelsSelectDetailAndCallLines) {
    auto run = [] {
        TMN_DLOG(kDiagDetail, "a detail");
        tracedNumber();
    };
    DiagLog::setLevel(1);
    run();
    std::string one = read_file(expectedName());
    EXPECT_NE(one.find("a detail"), std::string::npos);
    EXPECT_EQ(one.find("Enter"), std::string::npos);
    fs::remove(expectedName());

    DiagLog::setLevel(8);
    run();
    std::string eight = read_file(expectedName());
    EXPECT_EQ(eight.find("a detail"), std::string::npos);
    EXPECT_NE(eight.find("Enter tracedNumber"), std::string::npos);
    fs::remove(expectedName());

    DiagLog::setLevel(9);
    run();
    std::string nine = read_file(expectedName());
    EXPECT_NE(nine.find("a detail"), std::string::npos);
    EXPECT_NE(nine.find("Exit tracedNumber (retval 0x2A)"), std::string::npos);
}

TEST_F(DiagLogTest, DisabledLevelDoesNotEvaluateArguments) {
    DiagLog::setLevel(8);
    int evaluated = 0;
    TMN_DLOG(kDiagDetail, "%d", ++evaluated);
    EXPECT_EQ(evaluated, 0);
}

TEST_F(DiagLogTest, TracerExitLines) {
    DiagLog::setLevel(8);
    tracedPlain();
    tracedNumber();
    tracedText();
    std::string text = read_file(expectedName());
    std::regex enter(R"(\[file:test_diaglog\.cpp\],\[line:\d+\] Enter tracedPlain\n)");
    EXPECT_TRUE(std::regex_search(text, enter)) << text;
    EXPECT_NE(text.find("Exit tracedPlain\n"), std::string::npos);
    EXPECT_NE(text.find("Exit tracedNumber (retval 0x2A)\n"), std::string::npos);
    EXPECT_NE(text.find("Exit tracedText (ret abc)\n"), std::string::npos);
    // The exit line names the line of the return.
    std::regex exitLine(R"(\[line:(\d+)\] Enter tracedNumber\n.*\[line:(\d+)\] Exit tracedNumber)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, exitLine));
    EXPECT_EQ(std::stoi(m[2]) - std::stoi(m[1]), 1);
}

TEST_F(DiagLogTest, LongMessageIsCut) {
    DiagLog::setLevel(1);
    std::string big(10000, 'x');
    DiagLog::write(1, "f", 1, "%s", big.c_str());
    std::string text = read_file(expectedName());
    std::string prefix = "05/03/2024,10:15:30,[file:f],[line:1] ";
    EXPECT_EQ(text, prefix + std::string(8190, 'x') + "\n");
}

TEST_F(DiagLogTest, OneFilePerDayAndThread) {
    DiagLog::setLevel(1);
    DiagLog::write(1, "f", 1, "day five");
    DiagLog::setClockForTesting([] { return fixedTime(6); });
    DiagLog::write(1, "f", 1, "day six");
    std::thread([] { DiagLog::write(1, "f", 1, "other thread"); }).join();
    auto files = filesIn(dir);
    ASSERT_EQ(files.size(), 3u);
    std::string tid = std::to_string(::gettid());
    EXPECT_EQ(read_file(slash(dir) + "oper_events.2024_03_05." + tid + ".txt").find("day five") != std::string::npos,
              true);
    std::string six = read_file(slash(dir) + "oper_events.2024_03_06." + tid + ".txt");
    EXPECT_NE(six.find("06/03/2024,10:15:30"), std::string::npos);
    EXPECT_EQ(six.find("day five"), std::string::npos);
}

TEST_F(DiagLogTest, OverlongPathFallsBackToTheTemporaryDirectory) {
    auto temp = make_temp_dir("tmp");
    setenv("TMP", temp.c_str(), 1);
    std::string longDir = slash(dir) + std::string(240 - dir.string().size(), 'd') + "/";
    DiagLog::setFile(longDir.c_str(), "oper_events", "txt");
    EXPECT_EQ(DiagLog::basePath(), "");
    DiagLog::setLevel(1);
    EXPECT_EQ(DiagLog::basePath(), slash(temp) + "tmpdebug");
    EXPECT_EQ(DiagLog::extension(), "dlog.txt");
    DiagLog::write(1, "f", 1, "to temp");
    std::string name = slash(temp) + "tmpdebug.2024_03_05." + std::to_string(::gettid()) + ".dlog.txt";
    EXPECT_NE(read_file(name).find("to temp"), std::string::npos);
    unsetenv("TMP");
}

TEST_F(DiagLogTest, SetFileRules) {
    DiagLog::setFile(slash(dir).c_str(), "", "txt");
    EXPECT_EQ(DiagLog::basePath(), "");
    DiagLog::setFile(nullptr, "b", "txt");
    EXPECT_EQ(DiagLog::basePath(), "");
    // Exactly 240 characters is accepted.
    std::string d(240 - 4, 'd');
    DiagLog::setFile(("/" + d.substr(1)).c_str(), "b", "txt");
    EXPECT_EQ(DiagLog::basePath(), "/" + d.substr(1) + "b");
    EXPECT_EQ(DiagLog::extension(), "txt");
}
