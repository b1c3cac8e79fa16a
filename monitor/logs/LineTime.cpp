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

// The layout every gateway writes, "dd/mm/yyyy?hh:mm:ss".
bool usualLayout(std::string_view text) {
    if (text.size() < 19) return false;
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    auto digit = [p](int i) { return static_cast<unsigned>(p[i] - '0'); };
    return digit(0) < 10 && digit(1) < 10 && p[2] == '/' && digit(3) < 10 && digit(4) < 10 && p[5] == '/' &&
           digit(6) < 10 && digit(7) < 10 && digit(8) < 10 && digit(9) < 10 && digit(11) < 10 && digit(12) < 10 &&
           p[13] == ':' && digit(14) < 10 && digit(15) < 10 && p[16] == ':' && digit(17) < 10 && digit(18) < 10;
}

} // namespace

bool parseLineDate(std::string_view text, int &day, int &month, int &year) {
    std::size_t pos = 0;
    return scanDate(text, pos, day, month, year);
}

bool parseLineDateTime(std::string_view text, LineDateTime &out) {
    // The usual layout is read directly; the general reader below gives the
    // same values for it.
    if (usualLayout(text)) {
        const auto *p = reinterpret_cast<const unsigned char *>(text.data());
        auto digit = [p](int i) { return static_cast<unsigned>(p[i] - '0'); };
        auto two = [&](int i) { return static_cast<int>(digit(i) * 10 + digit(i + 1)); };
        out.day = two(0);
        out.month = two(3);
        out.year = two(6) * 100 + two(8);
        out.hour = two(11);
        out.minute = two(14);
        out.second = two(17);
        return true;
    }
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
        m_prefixValid = false;
    }
    return m_hourStart + static_cast<std::time_t>(v.minute) * 60 + v.second;
}

bool LocalTimeConverter::lineTimeSlow(std::string_view text, std::time_t &out) {
    LineDateTime v;
    if (!parseLineDateTime(text, v)) return false;
    out = toTime(v);
    if (usualLayout(text)) {
        // m_hourStart is now this line's hour.
        m_prefixHead = load8(text.data());
        m_prefixTail = load8(text.data() + kPrefix - 8);
        m_prefixValid = true;
    }
    return true;
}

} // namespace tarmin::monitor
