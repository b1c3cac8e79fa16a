// The UI-free part of the record list: a reading pass of a category (new
// lines only, day window, filter, beep list, error statistics) and the rows
// of the list (newest at the top, kept distance from the end, full list,
// sorting).
#include "common/codepage.h"
#include "monitor/logs/GWRecords.h"
#include "monitor/logs/RecordFilter.h"
#include "monitor/views/model/CategoryReader.h"
#include "monitor/core/MonitorContext.h"
#include "monitor/views/model/RecordList.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>

using namespace tarmin::monitor;
using namespace tarmin::cp::literals;
namespace fs = std::filesystem;

namespace {

std::string today(int offset = 0) {
    std::time_t t = std::time(nullptr) + offset * 86400;
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[40];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
    return text;
}

std::string errorLine(const std::string &time, const std::string &code, const std::string &module = "smtp",
                      const std::string &date = today()) {
    return date + "," + time + "," + module + ",err," + code + ",info " + time + "\n";
}

void writeFile(const fs::path &p, const std::string &lines, bool append = false) {
    std::ofstream out(p, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    if (!append) out << "Date,Time,Module,Kind,Code,Information\n";
    out << lines;
}

std::vector<std::string> times(const ReadingPass &pass) {
    std::vector<std::string> out;
    for (const auto &r : pass.records) out.emplace_back(r->time());
    return out;
}

std::vector<std::string> times(const RecordList &list) {
    std::vector<std::string> out;
    for (std::size_t row = 0; row < list.size(); ++row) out.emplace_back(list.text(row, 1));
    return out;
}

class CountingStatistics : public ErrorStatisticsSink {
public:
    void resetForPass() override { ++resets; }
    void count(const CErrorRecord &record, const ErrorsReadingSettings &) override {
        counted.push_back(record.codeNumber());
    }
    int resets = 0;
    std::vector<uint32_t> counted;
};

class ReadingTest : public ::testing::Test {
protected:
    fs::path dir = tarmin::test::make_temp_dir("gwlogs");
    std::string directory = dir.string() + "/";
    CategoryReader reader{LogKind::Errors};
    RecordFilter everything;
    PassOptions options;
};

} // namespace

TEST_F(ReadingTest, PassesReadOnlyWhatWasWrittenSinceAndRestartReadsAll) {
    writeFile(dir / "tarmin-gw1.csv", errorLine("10:00:00", "0") + errorLine("10:02:00", "0"));
    EXPECT_EQ(times(reader.read(directory, everything, options)), (std::vector<std::string>{"10:00:00", "10:02:00"}));
    EXPECT_TRUE(reader.read(directory, everything, options).records.empty());
    writeFile(dir / "tarmin-gw1.csv", errorLine("10:03:00", "0"), true);
    writeFile(dir / "tarmin-gw2.csv", errorLine("10:04:00", "0"));
    EXPECT_EQ(times(reader.read(directory, everything, options)), (std::vector<std::string>{"10:03:00", "10:04:00"}));
    reader.restart();
    EXPECT_EQ(reader.read(directory, everything, options).records.size(), 4u);
}

// The rest of a line over 64 MiB comes as a piece of its own; however much it
// looks like a record, it is none.
TEST_F(ReadingTest, RestOfAnOverlongLineIsNoRecord) {
    std::string huge = errorLine("10:00:00", "0");
    huge.pop_back();
    huge.resize((64u << 20) - 1, 'x');
    huge += errorLine("10:30:00", "E0020004"); // the piece after the first 64 MiB
    writeFile(dir / "tarmin-gw1.csv", huge + errorLine("11:00:00", "0"));
    EXPECT_EQ(times(reader.read(directory, everything, options)), (std::vector<std::string>{"10:00:00", "11:00:00"}));

    vfiles files;
    files.load(directory.c_str(), "tarmin-gw", 0);
    std::vector<bool> marks;
    std::string_view line;
    while (files.readLine(line)) marks.push_back(files.continuesLine());
    EXPECT_EQ(marks, (std::vector<bool>{false, true, false}));
}

TEST_F(ReadingTest, EmptyDirectoryGivesAnEmptyPass) {
    const ReadingPass pass = reader.read(directory, everything, options);
    EXPECT_TRUE(pass.noFiles);
    EXPECT_TRUE(pass.records.empty());
}

TEST_F(ReadingTest, DayWindowFilterAndMalformedLines) {
    writeFile(dir / "tarmin-gw1.csv", errorLine("23:00:00", "0", "smtp", today(-1)) + errorLine("08:00:00", "0", "pop3") +
                                          "garbage without fields\n" + errorLine("09:00:00", "0", "smtp"));
    options.dayLimit.pathsFlags = kPathsDayLimit;
    options.dayLimit.analyzeNday = 1;
    FilterConditions c;
    c.module = "SMT";
    RecordFilter smtpOnly;
    ASSERT_TRUE(smtpOnly.set(c));
    EXPECT_EQ(times(reader.read(directory, smtpOnly, options)), (std::vector<std::string>{"09:00:00"}));
    reader.restart();
    options.dayLimit.analyzeNday = 2;
    EXPECT_EQ(times(reader.read(directory, everything, options)),
              (std::vector<std::string>{"23:00:00", "08:00:00", "09:00:00"}));
}

TEST_F(ReadingTest, BeepListNotesTheLastListedRecord) {
    writeFile(dir / "tarmin-gw1.csv", errorLine("10:00:00", "E0020004") + errorLine("10:01:00", "E0030015") +
                                          errorLine("10:02:00", "0"));
    options.beep = true;
    options.beepList = "0XE0020004;0XE0030015";
    ReadingPass pass = reader.read(directory, everything, options);
    EXPECT_TRUE(pass.listedRecordRead);
    EXPECT_EQ(pass.listedTime, "10:01:00");
    writeFile(dir / "tarmin-gw1.csv", errorLine("10:03:00", "0"), true);
    pass = reader.read(directory, everything, options);
    EXPECT_FALSE(pass.listedRecordRead);
    EXPECT_EQ(pass.listedTime, "");
    // The flag off: nothing is noted, whatever the list says.
    writeFile(dir / "tarmin-gw1.csv", errorLine("10:04:00", "E0020004"), true);
    options.beep = false;
    EXPECT_FALSE(reader.read(directory, everything, options).listedRecordRead);
}

TEST_F(ReadingTest, ErrorStatisticsCountFilteredRecordsWhenCountingIsOn) {
    writeFile(dir / "tarmin-gw1.csv", errorLine("10:00:00", "E0030015", "smtp") + errorLine("10:01:00", "E0030016", "pop3"));
    CountingStatistics statistics;
    ErrorsReadingSettings settings;
    options.statistics = &statistics;
    options.errorsSettings = &settings;
    reader.read(directory, everything, options); // counting off (KVITFlags bit 3 clear)
    EXPECT_TRUE(statistics.counted.empty());
    settings.kvitFlags = kKvitCountErrors;
    settings.maxErrorRepeat = 3;
    reader.restart();
    FilterConditions c;
    c.module = "smtp";
    RecordFilter smtpOnly;
    ASSERT_TRUE(smtpOnly.set(c));
    reader.read(directory, smtpOnly, options);
    EXPECT_EQ(statistics.counted, (std::vector<uint32_t>{0xE0030015u})); // the hidden record is not counted
}

TEST(RecordListTest, NewestAtTopAndRowsKeepTheirDistanceFromTheEnd) {
    RecordList list(Category::Errors);
    auto pass = [](std::initializer_list<const char *> timesOfPass) {
        std::vector<std::unique_ptr<CGWRecord>> records;
        for (const char *t : timesOfPass)
            records.push_back(parseRecord(LogKind::Errors, errorLine(t, "0"), ','));
        return records;
    };
    EXPECT_EQ(list.prepend(pass({"10:00:00", "10:01:00", "10:02:00"})), 3u);
    EXPECT_EQ(times(list), (std::vector<std::string>{"10:02:00", "10:01:00", "10:00:00"}));
    const std::size_t distance = list.distanceFromEnd(1); // 10:01:00
    list.prepend(pass({"10:03:00", "10:04:00"}));
    EXPECT_EQ(list.text(list.rowAtDistanceFromEnd(distance), 1), "10:01:00");
    EXPECT_EQ(list.rowAtDistanceFromEnd(distance), 3u);

    list.sort(1, true);
    EXPECT_EQ(times(list), (std::vector<std::string>{"10:00:00", "10:01:00", "10:02:00", "10:03:00", "10:04:00"}));
    // A refresh after a sort puts the new records on top, as read.
    list.prepend(pass({"09:00:00"}));
    EXPECT_EQ(list.text(0, 1), "09:00:00");

    // A full list keeps the newest records of a pass.
    list.setCapacity(8);
    EXPECT_EQ(list.prepend(pass({"11:00:00", "11:01:00", "11:02:00", "11:03:00"})), 2u);
    EXPECT_EQ(list.size(), 8u);
    EXPECT_EQ(list.text(0, 1), "11:03:00");
    EXPECT_EQ(list.text(1, 1), "11:02:00");
    EXPECT_EQ(list.prepend(pass({"12:00:00"})), 0u);

    list.reset(Category::Outbound);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.category(), Category::Outbound);
}

TEST(RecordListTest, CellTextsOfEachCategory) {
    auto out = parseRecord(LogKind::Outgoing, today() + ",12:00:00,1,gw,E0030001,H,a@x;b@x,Тема,f.txt,1"_w, ',');
    ASSERT_TRUE(out);
    EXPECT_EQ(cellText(*out, Category::Outbound, 2), "Ошибка"_w);
    EXPECT_EQ(cellText(*out, Category::Outbound, 3), "a@x;b@x");
    EXPECT_EQ(cellText(*out, Category::Outbound, 4), "Тема"_w);
    EXPECT_EQ(cellText(*out, Category::Outbound, 5), "f.txt");
    EXPECT_EQ(cellText(*out, Category::Outbound, 6), "");
    auto in = parseRecord(LogKind::Inbound, today() + ",12:00:00,1,gw,0,H,ER,c@x,Тема,,2"_w, ',');
    ASSERT_TRUE(in);
    EXPECT_EQ(cellText(*in, Category::Inbound, 2), "OK");
    EXPECT_EQ(cellText(*in, Category::Inbound, 3), "c@x");
    EXPECT_EQ(cellText(*in, Category::Inbound, 5), "ER");
    EXPECT_EQ(cellText(*in, Category::Inbound, 6), "");
}
