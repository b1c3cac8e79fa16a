// vfiles under the usual limit of 1,024 open descriptors: five file sets over
// a family of 3,000 files (an hourly rotation kept for 125 days).
#include "log_fixture.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace tarmin::monitor;
using namespace tarmin::monitor::testing;
using tarmin::test::make_temp_dir;

namespace {

constexpr int kFiles = 3000;
constexpr int kLinesPerFile = 3;
const std::time_t kStart = 1'700'000'000;

std::string dateTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d,%02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

// Line "<date>,<time>,m,0,0,<seconds since kStart>".
std::string line(std::time_t t) { return dateTime(t) + ",m,0,0," + std::to_string(t - kStart) + "\n"; }

long secondsOf(const std::string &l) { return std::stol(l.substr(l.rfind(',') + 1)); }

int openDescriptorsOfProcess() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - 1;
}

class DescriptorLimit : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        struct rlimit rl {1024, 1024};
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &rl), 0);
    }
};

// File k holds lines at `time(k, i)` for i = 0..2.
template <class TimeOf> fs::path makeFamily(TimeOf time) {
    auto dir = make_temp_dir("family");
    for (int k = 0; k < kFiles; ++k) {
        std::string text = "Date,Time,A,B,Code,N\n";
        for (int i = 0; i < kLinesPerFile; ++i) text += line(time(k, i));
        char name[32];
        std::snprintf(name, sizeof name, "tmnsent_%05d.csv", k);
        writeText(dir / name, text);
    }
    return dir;
}

} // namespace

TEST_F(DescriptorLimit, FiveSetsOverThreeThousandRotatedFiles) {
    // File k covers hour k: rotation every hour.
    auto dir = makeFamily([](int k, int i) { return kStart + k * 3600L + i * 600L; });
    std::vector<std::unique_ptr<vfiles>> sets;
    for (int s = 0; s < 5; ++s) {
        sets.push_back(std::make_unique<vfiles>());
        ASSERT_EQ(sets.back()->load(dirOf(dir).c_str(), "tmnsent", 0), 0);
        EXPECT_LE(sets.back()->openDescriptors(), sets.back()->descriptorBudget());
    }
    EXPECT_LT(openDescriptorsOfProcess(), 1024 - 64);

    // Read the sets side by side, a line from each in turn.
    std::vector<std::vector<long>> seen(sets.size());
    bool any = true;
    int maxOpen = 0;
    for (long round = 0; any; ++round) {
        any = false;
        for (std::size_t s = 0; s < sets.size(); ++s) {
            std::string l;
            if (sets[s]->getline(l)) {
                seen[s].push_back(secondsOf(l));
                any = true;
            }
        }
        if (round % 500 == 0) maxOpen = std::max(maxOpen, openDescriptorsOfProcess());
    }
    EXPECT_LT(maxOpen, 1024 - 64);
    for (auto &s : seen) {
        ASSERT_EQ(s.size(), static_cast<std::size_t>(kFiles * kLinesPerFile));
        EXPECT_TRUE(std::is_sorted(s.begin(), s.end()));
    }

    // The files already queued are recognised without their descriptors:
    // loading again adds nothing, and an appended line is read once by each set.
    for (auto &set : sets) {
        set->load(dirOf(dir).c_str(), "tmnsent", 0);
        EXPECT_TRUE(readAll(*set).empty());
    }
    char newest[32];
    std::snprintf(newest, sizeof newest, "tmnsent_%05d.csv", kFiles - 1);
    appendText(dir / newest, line(kStart + kFiles * 3600L));
    for (auto &set : sets) {
        set->load(dirOf(dir).c_str(), "tmnsent", 0);
        auto lines = readAll(*set);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(secondsOf(lines[0]), kFiles * 3600L);
        EXPECT_LE(set->openDescriptors(), 2u);
    }
}

TEST_F(DescriptorLimit, ThreeThousandFilesWhoseLinesInterleave) {
    // Every file has a line in each of three rounds: reading switches files at
    // every line and has to open parked files again and again.
    auto dir = makeFamily([](int k, int i) { return kStart + i * kFiles + k; });
    vfiles set;
    ASSERT_EQ(set.load(dirOf(dir).c_str(), "tmnsent", 0), 0);
    std::vector<long> seen;
    std::string l;
    while (set.getline(l)) {
        seen.push_back(secondsOf(l));
        ASSERT_LE(set.openDescriptors(), set.descriptorBudget());
    }
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kFiles * kLinesPerFile));
    for (std::size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], static_cast<long>(i));
}
