#include "monitor/logs/LineTime.h"

namespace tarmin::monitor {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One "%Nd" conversion: leading white space is skipped (not counted in the
// width), then an optional sign and digits, at most `width` characters in all,
// at least one digit.
bool scanInt(std::string_view s, std::size_t &pos, int width, int &out) {
    while (pos < s.size() && isSpace(s[pos])) ++pos;
    std::size_t start = pos;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        negative = s[pos] == '-';
        ++pos;
    }
    int value = 0;
    std::size_t digits = 0;
    while (pos < s.size() && pos - start < static_cast<std::size_t>(width) && s[pos] >= '0' && s[pos] <= '9') {
        value = value * 10 + (s[pos] - '0');
        ++pos;
        ++digits;
    }
    if (digits == 0) return false;
    out = negative ? -value : value;
    return true;
}

bool scanLiteral(std::string_view s, std::size_t &pos, char c) {
    if (pos >= s.size() || s[pos] != c) return false;
    ++pos;
    return true;
}

bool scanDate(std::string_view s, std::size_t &pos, int &d, int &m, int &y) {
    return scanInt(s, pos, 2, d) && scanLiteral(s, pos, '/') && scanInt(s, pos, 2, m) &&
           scanLiteral(s, pos, '/') && scanInt(s, pos, 4, y);
}

} // namespace

bool parseLineDate(std::string_view text, int &day, int &month, int &year) {
    std::size_t pos = 0;
    return scanDate(text, pos, day, month, year);
}

bool parseLineDateTime(std::string_view text, LineDateTime &out) {
    std::size_t pos = 0;
    LineDateTime v;
    if (!scanDate(text, pos, v.day, v.month, v.year)) return false;
    // %*c: any one character, white space included.
    if (pos >= text.size()) return false;
    ++pos;
    if (!scanInt(text, pos, 2, v.hour) || !scanLiteral(text, pos, ':') || !scanInt(text, pos, 2, v.minute) ||
        !scanLiteral(text, pos, ':') || !scanInt(text, pos, 2, v.second))
        return false;
    out = v;
    return true;
}

std::time_t LocalTimeConverter::toTime(const LineDateTime &v) {
    if (v.year != m_year || v.month != m_month || v.day != m_day || v.hour != m_hour) {
        std::tm tm{};
        tm.tm_year = v.year - 1900;
        tm.tm_mon = v.month - 1;
        tm.tm_mday = v.day;
        tm.tm_hour = v.hour;
        tm.tm_isdst = -1;
        m_hourStart = std::mktime(&tm);
        m_year = v.year;
        m_month = v.month;
        m_day = v.day;
        m_hour = v.hour;
    }
    return m_hourStart + static_cast<std::time_t>(v.minute) * 60 + v.second;
}

} // namespace tarmin::monitor
