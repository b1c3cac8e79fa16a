#include "monitor/logs/RecordFilter.h"

#include "common/codepage.h"
#include "monitor/logs/GWRecords.h"
#include "monitor/logs/LineTime.h"

#include <algorithm>

namespace tarmin::monitor {

using namespace tarmin::cp::literals;
using tarmin::cp::upper_1251;

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whether `upperNeedle` occurs in `haystack` compared in upper case.
bool findUpper(std::string_view haystack, std::string_view upperNeedle) {
    if (upperNeedle.empty()) return true;
    if (haystack.size() < upperNeedle.size()) return false;
    for (std::size_t i = 0; i + upperNeedle.size() <= haystack.size(); ++i) {
        std::size_t j = 0;
        while (j < upperNeedle.size() && upper_1251(haystack[i + j]) == upperNeedle[j]) ++j;
        if (j == upperNeedle.size()) return true;
    }
    return false;
}

// Wildcard match of an upper-case pattern against a name compared in upper
// case: linear backtracking to the last "*", no exponential blow-up.
bool wildcardUpper(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == upper_1251(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool attachmentsMatchUpper(std::string_view upperPattern, std::string_view attachmentsText) {
    if (upperPattern.empty()) return true;
    for (std::string_view piece : splitList(attachmentsText)) {
        piece = trimBlanks(piece);
        if (!piece.empty() && wildcardUpper(upperPattern, piece)) return true;
    }
    return false;
}

std::string formatError(const char *prefix, std::string_view text) {
    std::string message = prefix;
    message.append(text);
    return message;
}

} // namespace

// ---- Single tests ----

bool containsNoCase(std::string_view member, std::string_view condition) {
    if (condition.empty()) return true;
    return findUpper(member, upper_1251(condition));
}

uint64_t readFilterNumber(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint64_t v = 0;
        for (std::size_t i = 2; i < text.size() && isHexDigit(text[i]); ++i)
            v = v * 16 + static_cast<uint64_t>(hexValue(text[i]));
        return v;
    }
    if (!text.empty() && text[0] == '0') return 0;
    uint64_t v = 0;
    for (char c : text) {
        int d = hexValue(c);
        if (d < 0) continue;
        v = v * 10 + static_cast<uint64_t>(d);
    }
    return v;
}

bool isValidResultCodeText(std::string_view text) {
    if (text.empty()) return true;
    if (text[0] == '0') {
        if (text.size() == 1) return true;
        if (text[1] != 'x' && text[1] != 'X') return false;
        if (text.size() == 2) return false;
        for (std::size_t i = 2; i < text.size(); ++i)
            if (!isHexDigit(text[i])) return false;
        return true;
    }
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

bool processingResultAccepts(int choice, bool recordIsError) {
    switch (choice) {
    case FilterConditions::kResultOk: return !recordIsError;
    case FilterConditions::kResultError: return recordIsError;
    default: return true;
    }
}

bool notificationResultAccepts(int choice, std::string_view member) {
    std::string upper = upper_1251(member);
    switch (choice) {
    case FilterConditions::kNotifOk: return upper == "OK";
    case FilterConditions::kNotifEr: return upper == "ER";
    case FilterConditions::kNotifNone: return upper.empty();
    default: return true;
    }
}

bool wildcardMatch(std::string_view pattern, std::string_view name) { return wildcardUpper(upper_1251(pattern), name); }

bool attachmentsMatch(std::string_view pattern, std::string_view attachmentsText) {
    return attachmentsMatchUpper(upper_1251(pattern), attachmentsText);
}

// ---- Interval ----

bool IntervalFilter::set(std::string_view startDate, std::string_view startTime, std::string_view endDate,
                         std::string_view endTime, std::string *error) {
    *this = IntervalFilter();
    const char *badDate = "Неправильный формат даты - "_w;
    const char *badTime = "Неправильный формат времени - "_w;
    struct Check {
        std::string_view text;
        std::size_t length;
        const char *message;
    } checks[] = {{startDate, 10, badDate}, {startTime, 8, badTime}, {endDate, 10, badDate}, {endTime, 8, badTime}};
    for (const Check &c : checks) {
        if (!c.text.empty() && c.text.size() != c.length) {
            if (error) *error = formatError(c.message, c.text);
            return false;
        }
    }
    m_startDate = startDate.empty() ? std::string() : comparableDate(startDate);
    m_startTime = startTime;
    m_endDate = endDate.empty() ? std::string() : comparableDate(endDate);
    m_endTime = endTime;
    return true;
}

bool IntervalFilter::accepts(std::string_view date, std::string_view time) const {
    if (empty()) return true;
    std::string recordDate = comparableDate(date);
    if (!m_startDate.empty() && !m_startTime.empty()) {
        if (recordDate + std::string(time) < m_startDate + m_startTime) return false;
    } else if (!m_startDate.empty()) {
        if (recordDate < m_startDate) return false;
    } else if (!m_startTime.empty()) {
        if (time < std::string_view(m_startTime)) return false;
    }
    if (!m_endDate.empty() && !m_endTime.empty()) {
        if (recordDate + std::string(time) > m_endDate + m_endTime) return false;
    } else if (!m_endDate.empty()) {
        if (recordDate > m_endDate) return false;
    } else if (!m_endTime.empty()) {
        if (time > std::string_view(m_endTime)) return false;
    }
    return true;
}

// ---- RecordFilter ----

bool RecordFilter::set(const FilterConditions &c, std::string *error) {
    *this = RecordFilter();
    if (!m_interval.set(c.startDate, c.startTime, c.endDate, c.endTime, error)) return false;
    m_conditions = c;
    m_module = upper_1251(c.module);
    m_information = upper_1251(c.information);
    m_address = upper_1251(c.address);
    m_subject = upper_1251(c.subject);
    m_attachments = upper_1251(c.attachments);
    m_hasCode = !c.resultCode.empty();
    m_code = readFilterNumber(c.resultCode);
    return true;
}

bool RecordFilter::accepts(const CErrorRecord &r) const {
    if (!m_interval.accepts(r.date(), r.time())) return false;
    if (!findUpper(r.module(), m_module)) return false;
    // The code as the list shows it ("80000001") is read by the filter's own
    // rule, as the typed condition is; the number the gateway means is its
    // hexadecimal reading ("0x80000001" typed, or the code in decimal). Either
    // reading that matches lets the record through.
    if (m_hasCode && (r.codeText().empty() || (readFilterNumber(r.codeText()) != m_code &&
                                               static_cast<uint64_t>(r.codeNumber()) != m_code)))
        return false;
    return findUpper(r.information(), m_information);
}

bool RecordFilter::accepts(const COutRecord &r) const {
    return m_interval.accepts(r.date(), r.time()) &&
           processingResultAccepts(m_conditions.processingResult, r.isError()) &&
           findUpper(r.recipients(), m_address) && findUpper(r.subject(), m_subject) &&
           attachmentsMatchUpper(m_attachments, r.attachmentsText());
}

bool RecordFilter::accepts(const CInRecord &r) const {
    return m_interval.accepts(r.date(), r.time()) &&
           processingResultAccepts(m_conditions.processingResult, r.isError()) &&
           findUpper(r.address(), m_address) && findUpper(r.subject(), m_subject) &&
           notificationResultAccepts(m_conditions.notificationResult, r.notificationResult()) &&
           attachmentsMatchUpper(m_attachments, r.attachmentsText());
}

bool RecordFilter::accepts(const CNotifRecord &r) const {
    return m_interval.accepts(r.date(), r.time()) && findUpper(r.subject(), m_subject);
}

bool RecordFilter::accepts(const CGWRecord &r) const {
    if (auto *e = dynamic_cast<const CErrorRecord *>(&r)) return accepts(*e);
    if (auto *o = dynamic_cast<const COutRecord *>(&r)) return accepts(*o);
    if (auto *i = dynamic_cast<const CInRecord *>(&r)) return accepts(*i);
    if (auto *n = dynamic_cast<const CNotifRecord *>(&r)) return accepts(*n);
    return true;
}

// ---- Day window ----

DayWindow::DayWindow(uint32_t pathsFlags, uint32_t analyzeNday, std::time_t now) {
    if (!(pathsFlags & 1u) || analyzeNday == 0) return;
    std::tm tm{};
    localtime_r(&now, &tm);
    // More than ten thousand years reaches back before any log.
    tm.tm_mday -= static_cast<int>(std::min<uint32_t>(analyzeNday, 3650000) - 1);
    tm.tm_hour = 12; // away from a daylight-saving change at midnight
    tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    std::mktime(&tm);
    m_firstDay = (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

bool DayWindow::accepts(std::string_view lineOrDate) const {
    if (!active()) return true;
    int d, m, y;
    if (!parseLineDate(lineOrDate, d, m, y)) return true;
    return y * 10000 + m * 100 + d >= m_firstDay;
}

} // namespace tarmin::monitor
