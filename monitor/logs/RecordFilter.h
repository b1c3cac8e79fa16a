// Filter tests of the record list and the day window of a log reading.
//
// The filter dialog edits a FilterConditions per category; the list view
// prepares a RecordFilter from it (set(), which also checks the interval
// texts) and asks accepts() for every record it reads. An empty condition
// passes everything. Which conditions count depends on the record:
//   errors         interval, module, result code, information
//   inbound        interval, processing result, address, subject,
//                  notification result, attachments
//   outgoing       interval, processing result, recipients (the address
//                  condition), subject, attachments
//   notifications  interval, subject
// Texts are Windows-1251; comparisons without regard to case use its upper case.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace tarmin::monitor {

class CGWRecord;
class CErrorRecord;
class COutRecord;
class CInRecord;
class CNotifRecord;

struct FilterConditions {
    static constexpr int kAny = -1;
    // Processing result choices.
    static constexpr int kResultOk = 0;
    static constexpr int kResultError = 1;
    // Notification result choices.
    static constexpr int kNotifOk = 0;
    static constexpr int kNotifEr = 1;
    static constexpr int kNotifNone = 2;

    // Interval limits; an empty text is no limit. Dates "dd/mm/yyyy" (10
    // characters), times "hh:mm:ss" (8 characters).
    std::string startDate, startTime, endDate, endTime;
    std::string module;      // occurs in the module
    std::string resultCode;  // equals the code text read as the filter reads numbers, or the code
    std::string information; // occurs in the information
    int processingResult = kAny;
    std::string address;     // occurs in the address (inbound) or recipients (outgoing)
    std::string subject;     // occurs in the subject
    int notificationResult = kAny;
    std::string attachments; // file-name pattern with "*" and "?"

    // Every condition off ("Очистить всё").
    void clear() { *this = FilterConditions(); }
    bool operator==(const FilterConditions &) const = default;
};

// The date and time interval of a filter.
class IntervalFilter {
public:
    // Checks the texts; on a malformed one returns false and sets *error to
    // "Неправильный формат даты - <text>" or "Неправильный формат времени -
    // <text>" (Windows-1251), checking start date, start time, end date, end
    // time in this order.
    bool set(std::string_view startDate, std::string_view startTime, std::string_view endDate,
             std::string_view endTime, std::string *error);
    // Start: with date and time, the record's date and time must not be
    // earlier; with a date only, its date must not be earlier; with a time
    // only, its time of day must not be earlier (on any day). End: the same
    // with "not later".
    bool accepts(std::string_view date, std::string_view time) const;
    bool empty() const { return m_startDate.empty() && m_startTime.empty() && m_endDate.empty() && m_endTime.empty(); }

private:
    std::string m_startDate, m_startTime, m_endDate, m_endTime; // dates as yyyymmdd
};

class RecordFilter {
public:
    // Prepares the conditions. Returns false (and the message in *error) when
    // an interval text is malformed; the filter then passes everything.
    bool set(const FilterConditions &conditions, std::string *error = nullptr);
    const FilterConditions &conditions() const { return m_conditions; }

    bool accepts(const CErrorRecord &record) const;
    bool accepts(const COutRecord &record) const;
    bool accepts(const CInRecord &record) const;
    bool accepts(const CNotifRecord &record) const;
    // By the record's class.
    bool accepts(const CGWRecord &record) const;

private:
    FilterConditions m_conditions;
    IntervalFilter m_interval;
    std::string m_module, m_information, m_address, m_subject, m_attachments; // upper case
    bool m_hasCode = false;
    uint64_t m_code = 0;
};

// ---- The single tests, for the views and the dialogs ----

// Whether `condition` occurs in `member`, both compared in upper case. An
// empty condition passes; an empty member fails a non-empty condition.
bool containsNoCase(std::string_view member, std::string_view condition);

// Reads a result-code text of the filter as a number: "0x"/"0X" and then
// hexadecimal; any other text beginning with "0" is 0; anything else is read
// in base 10 with the letters a to f (either case) as the digit values 10 to
// 15 and other characters skipped.
uint64_t readFilterNumber(std::string_view text);

// The result-code check of the filter dialog: empty is valid; a text that
// begins with "0" must be "0" alone or "0x"/"0X" followed by at least one
// hexadecimal digit and nothing else; any other text must be decimal digits.
bool isValidResultCodeText(std::string_view text);

// Processing result: kAny passes; kResultOk passes only "OK" records,
// kResultError only "Ошибка" records.
bool processingResultAccepts(int choice, bool recordIsError);

// Notification result: kAny passes; kNotifOk needs "OK", kNotifEr "ER",
// kNotifNone an empty member (the member compared in upper case).
bool notificationResultAccepts(int choice, std::string_view member);

// Whether name matches pattern as a whole ("*" any run of characters, "?"
// any one character), without regard to case.
bool wildcardMatch(std::string_view pattern, std::string_view name);

// Whether one attachment of a ";"-separated attachments text (each piece
// trimmed of blanks) matches the pattern. An empty pattern passes; a record
// without attachments fails a non-empty pattern.
bool attachmentsMatch(std::string_view pattern, std::string_view attachmentsText);

// The day window of a reading: with bit 0 of PathsFlags set and AnalyzeNday
// nonzero, only lines dated on the last AnalyzeNday calendar days (today
// included) are read.
class DayWindow {
public:
    DayWindow() = default; // no limit
    DayWindow(uint32_t pathsFlags, uint32_t analyzeNday, std::time_t now = std::time(nullptr));

    bool active() const { return m_firstDay != 0; }
    // The first day of the window as yyyymmdd (0 when there is no limit).
    int firstDay() const { return m_firstDay; }
    // Whether a line (or a date text) dated "dd/mm/yyyy" at its start lies in
    // the window. A line without a readable date is kept: the record parser
    // decides about it.
    bool accepts(std::string_view lineOrDate) const;

private:
    int m_firstDay = 0;
};

} // namespace tarmin::monitor
