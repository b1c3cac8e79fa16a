// Filter tests of the record list, the result-code check of the filter
// dialog and the day window of a reading.
#include "common/codepage.h"
#include "monitor/logs/GWRecords.h"
#include "monitor/logs/RecordFilter.h"

#include <chrono>
#include <gtest/gtest.h>

using namespace tarmin::monitor;
using namespace tarmin::cp::literals;

namespace {

CErrorRecord errorRecord(const std::string &date, const std::string &time, const std::string &module = "smtp",
                         const std::string &code = "E0020004", const std::string &info = "Connection refused") {
    CErrorRecord r;
    EXPECT_TRUE(r.Parse(date + "," + time + "," + module + ",err," + code + "," + info, ','));
    return r;
}

COutRecord outRecord(const std::string &code, const std::string &recipients, const std::string &subject,
                     const std::string &attachments) {
    COutRecord r;
    EXPECT_TRUE(r.Parse("05/03/2024,10:15:00,s,id," + code + ",H," + recipients + "," + subject + "," +
                            attachments + ",3",
                        ','));
    return r;
}

CInRecord inRecord(const std::string &notif, const std::string &attachments = "a.txt") {
    CInRecord r;
    EXPECT_TRUE(r.Parse("05/03/2024,10:15:00,s,id,0,H," + notif + ",c@z.ru,Subj," + attachments + ",1", ','));
    return r;
}

RecordFilter filterOf(const FilterConditions &c) {
    RecordFilter f;
    EXPECT_TRUE(f.set(c));
    return f;
}

} // namespace

TEST(ResultCodeCheck, DialogRule) {
    for (const char *ok : {"", "0", "0x1F", "0X1f", "12", "3758227460"}) EXPECT_TRUE(isValidResultCodeText(ok)) << ok;
    for (const char *bad : {"01", "0x", "x1F", "12a", "-5", "0x1G", " 1", "00"})
        EXPECT_FALSE(isValidResultCodeText(bad)) << bad;
}

TEST(ResultCodeCheck, NumberReading) {
    EXPECT_EQ(readFilterNumber("0x1F"), 31u);
    EXPECT_EQ(readFilterNumber("0XE0020004"), 0xE0020004u);
    EXPECT_EQ(readFilterNumber("0"), 0u);
    EXPECT_EQ(readFilterNumber("012"), 0u);
    EXPECT_EQ(readFilterNumber("12"), 12u);
    EXPECT_EQ(readFilterNumber("1a"), 20u); // letters count as digit values 10 to 15
    EXPECT_EQ(readFilterNumber("1-2"), 12u);
    EXPECT_EQ(readFilterNumber(""), 0u);
}

TEST(Filter, ResultCodeMatchesTheRecordsCode) {
    FilterConditions c;
    c.resultCode = "0xE0020004";
    RecordFilter f = filterOf(c);
    EXPECT_TRUE(f.accepts(errorRecord("05/03/2024", "10:00:00")));
    EXPECT_TRUE(f.accepts(errorRecord("05/03/2024", "10:00:00", "m", "0xe0020004")));
    EXPECT_FALSE(f.accepts(errorRecord("05/03/2024", "10:00:00", "m", "E0030001")));
    EXPECT_FALSE(f.accepts(errorRecord("05/03/2024", "10:00:00", "m", "")));
    c.resultCode = "3758227460"; // the same code in decimal
    EXPECT_TRUE(filterOf(c).accepts(errorRecord("05/03/2024", "10:00:00")));
    c.resultCode = "0";
    EXPECT_TRUE(filterOf(c).accepts(errorRecord("05/03/2024", "10:00:00", "m", "0")));
    EXPECT_FALSE(filterOf(c).accepts(errorRecord("05/03/2024", "10:00:00")));

    // Typed as the list shows it: the code text read by the filter's rule
    // matches too.
    c.resultCode = "80000001";
    EXPECT_TRUE(filterOf(c).accepts(errorRecord("05/03/2024", "10:00:00", "m", "80000001")));
    EXPECT_FALSE(filterOf(c).accepts(errorRecord("05/03/2024", "10:00:00", "m", "80000002")));
    c.resultCode = "0x80000001";
    EXPECT_TRUE(filterOf(c).accepts(errorRecord("05/03/2024", "10:00:00", "m", "80000001")));
    EXPECT_TRUE(filterOf(c).accepts(errorRecord("05/03/2024", "10:00:00", "m", "0x80000001")));
}

TEST(Filter, Interval) {
    auto rec = [](const char *d, const char *t) { return errorRecord(d, t); };
    FilterConditions c;
    c.startDate = "05/03/2024";
    c.startTime = "10:00:00";
    RecordFilter f = filterOf(c);
    EXPECT_TRUE(f.accepts(rec("05/03/2024", "10:00:00")));
    EXPECT_FALSE(f.accepts(rec("05/03/2024", "09:59:59")));
    EXPECT_TRUE(f.accepts(rec("06/03/2024", "01:00:00")));
    EXPECT_FALSE(f.accepts(rec("31/12/2023", "23:00:00")));

    FilterConditions timeOnly;
    timeOnly.startTime = "10:00:00";
    timeOnly.endTime = "11:00:00";
    f = filterOf(timeOnly);
    EXPECT_TRUE(f.accepts(rec("01/01/2020", "10:30:00")));
    EXPECT_FALSE(f.accepts(rec("01/01/2030", "11:00:01")));
    EXPECT_FALSE(f.accepts(rec("01/01/2030", "09:00:00")));

    FilterConditions dates;
    dates.startDate = "01/03/2024";
    dates.endDate = "05/03/2024";
    f = filterOf(dates);
    EXPECT_TRUE(f.accepts(rec("05/03/2024", "23:59:59")));
    EXPECT_TRUE(f.accepts(rec("01/03/2024", "00:00:00")));
    EXPECT_FALSE(f.accepts(rec("06/03/2024", "00:00:00")));
    EXPECT_FALSE(f.accepts(rec("29/02/2024", "23:59:59")));

    FilterConditions end;
    end.endDate = "05/03/2024";
    end.endTime = "10:00:00";
    f = filterOf(end);
    EXPECT_TRUE(f.accepts(rec("05/03/2024", "10:00:00")));
    EXPECT_FALSE(f.accepts(rec("05/03/2024", "10:00:01")));
    EXPECT_TRUE(f.accepts(rec("04/03/2024", "23:00:00")));
}

TEST(Filter, MalformedIntervalTexts) {
    std::string error;
    RecordFilter f;
    FilterConditions c;
    c.startDate = "5/3/2024";
    EXPECT_FALSE(f.set(c, &error));
    EXPECT_EQ(error, std::string("Неправильный формат даты - "_w) + "5/3/2024");
    c = FilterConditions();
    c.endTime = "10:00";
    EXPECT_FALSE(f.set(c, &error));
    EXPECT_EQ(error, std::string("Неправильный формат времени - "_w) + "10:00");
    // The start date is checked before the end time.
    c.startDate = "x";
    EXPECT_FALSE(f.set(c, &error));
    EXPECT_EQ(error, std::string("Неправильный формат даты - "_w) + "x");
}

TEST(Filter, ContainmentWithoutRegardToCase) {
    EXPECT_TRUE(containsNoCase("Connection refused", "REFUSED"));
    EXPECT_TRUE(containsNoCase("Отчёт за МАРТ"_w, "отчёт за март"_w));
    EXPECT_FALSE(containsNoCase("", "x"));
    EXPECT_TRUE(containsNoCase("", ""));
    EXPECT_TRUE(containsNoCase("abc", ""));
    EXPECT_FALSE(containsNoCase("ab", "abc"));

    FilterConditions c;
    c.module = "SMT";
    c.information = "refused";
    RecordFilter f = filterOf(c);
    EXPECT_TRUE(f.accepts(errorRecord("05/03/2024", "10:00:00")));
    EXPECT_FALSE(f.accepts(errorRecord("05/03/2024", "10:00:00", "pop3")));
    EXPECT_FALSE(f.accepts(errorRecord("05/03/2024", "10:00:00", "smtp", "0", "")));
}

TEST(Filter, ProcessingAndNotificationResults) {
    EXPECT_TRUE(processingResultAccepts(FilterConditions::kAny, true));
    EXPECT_TRUE(processingResultAccepts(FilterConditions::kResultOk, false));
    EXPECT_FALSE(processingResultAccepts(FilterConditions::kResultOk, true));
    EXPECT_TRUE(processingResultAccepts(FilterConditions::kResultError, true));
    EXPECT_FALSE(processingResultAccepts(FilterConditions::kResultError, false));

    EXPECT_TRUE(notificationResultAccepts(FilterConditions::kNotifOk, "ok"));
    EXPECT_FALSE(notificationResultAccepts(FilterConditions::kNotifOk, "ER"));
    EXPECT_TRUE(notificationResultAccepts(FilterConditions::kNotifEr, "Er"));
    EXPECT_TRUE(notificationResultAccepts(FilterConditions::kNotifNone, ""));
    EXPECT_FALSE(notificationResultAccepts(FilterConditions::kNotifNone, "OK"));
    EXPECT_TRUE(notificationResultAccepts(FilterConditions::kAny, "whatever"));

    FilterConditions c;
    c.processingResult = FilterConditions::kResultError;
    RecordFilter f = filterOf(c);
    EXPECT_TRUE(f.accepts(outRecord("E0030001", "a@x", "S", "")));
    EXPECT_FALSE(f.accepts(outRecord("0", "a@x", "S", "")));
    c = FilterConditions();
    c.notificationResult = FilterConditions::kNotifEr;
    f = filterOf(c);
    EXPECT_TRUE(f.accepts(inRecord("ER")));
    EXPECT_FALSE(f.accepts(inRecord("OK")));
    EXPECT_FALSE(f.accepts(inRecord("")));
}

TEST(Filter, AttachmentPattern) {
    EXPECT_TRUE(wildcardMatch("*.TXT", "report.txt"));
    EXPECT_TRUE(wildcardMatch("r?port.*", "REPORT.doc"));
    EXPECT_FALSE(wildcardMatch("*.txt", "report.txt.bak"));
    EXPECT_TRUE(wildcardMatch("*", ""));
    EXPECT_FALSE(wildcardMatch("?", ""));
    EXPECT_TRUE(wildcardMatch("a*b*c", "aXXbYYc"));
    EXPECT_FALSE(wildcardMatch("a*b*c", "aXXbYY"));
    EXPECT_TRUE(wildcardMatch("отчёт*"_w, "ОТЧЁТ.doc"_w));
    // A pattern that would take exponential time with naive backtracking.
    std::string name(5000, 'a');
    EXPECT_FALSE(wildcardMatch("*a*a*a*a*a*a*a*a*a*b", name));

    EXPECT_TRUE(attachmentsMatch("b.doc", "a.txt; b.doc "));
    EXPECT_TRUE(attachmentsMatch("*.TXT", "a.txt;b.doc"));
    EXPECT_FALSE(attachmentsMatch("*.pdf", "a.txt;b.doc"));
    EXPECT_FALSE(attachmentsMatch("*", ""));
    EXPECT_FALSE(attachmentsMatch("*", " ; "));
    EXPECT_TRUE(attachmentsMatch("", ""));

    FilterConditions c;
    c.attachments = "*.doc";
    RecordFilter f = filterOf(c);
    EXPECT_TRUE(f.accepts(outRecord("0", "a@x", "S", "a.txt;b.DOC")));
    EXPECT_FALSE(f.accepts(outRecord("0", "a@x", "S", "")));
}

TEST(Filter, ConditionsByCategory) {
    FilterConditions c;
    c.address = "X.RU";
    c.subject = "report";
    c.module = "never matches"; // not a condition of messages
    RecordFilter f = filterOf(c);
    EXPECT_TRUE(f.accepts(outRecord("0", "a@x.ru;b@y.ru", "Monthly Report", "")));
    EXPECT_FALSE(f.accepts(outRecord("0", "a@y.ru", "Monthly Report", "")));
    // Notifications: interval and subject only.
    c.processingResult = FilterConditions::kResultError;
    f = filterOf(c);
    CNotifRecord n("05/03/2024", "10:15:00", "H", "1", "Report");
    EXPECT_TRUE(f.accepts(n));
    EXPECT_TRUE(f.accepts(static_cast<const CGWRecord &>(n)));
    CNotifRecord other("05/03/2024", "10:15:00", "H", "1", "Other");
    EXPECT_FALSE(f.accepts(other));
    // Cleared conditions pass everything.
    c.clear();
    f = filterOf(c);
    EXPECT_TRUE(f.accepts(errorRecord("01/01/1999", "00:00:00", "", "", "")));
    EXPECT_EQ(c, FilterConditions());
}

TEST(DayWindowRule, LastCalendarDays) {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 5;
    tm.tm_hour = 0;
    tm.tm_min = 30;
    tm.tm_isdst = -1;
    std::time_t now = std::mktime(&tm); // 05/03/2024 00:30 local time

    DayWindow today(1, 1, now);
    EXPECT_TRUE(today.active());
    EXPECT_EQ(today.firstDay(), 20240305);
    EXPECT_TRUE(today.accepts("05/03/2024,00:00:00,m,err,0,x"));
    EXPECT_FALSE(today.accepts("04/03/2024,23:59:59,m,err,0,x"));

    DayWindow week(1, 7, now);
    EXPECT_EQ(week.firstDay(), 20240228);
    EXPECT_TRUE(week.accepts("28/02/2024"));
    EXPECT_FALSE(week.accepts("27/02/2024"));

    EXPECT_FALSE(DayWindow(0, 1, now).active());
    EXPECT_FALSE(DayWindow(1, 0, now).active());
    EXPECT_TRUE(DayWindow(0, 1, now).accepts("01/01/1990"));
    EXPECT_TRUE(today.accepts("no date at all")); // the record parser decides
    EXPECT_TRUE(DayWindow(1, 0xFFFFFFFFu, now).accepts("01/01/1990"));
}
