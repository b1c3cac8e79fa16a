// Date and time at the start of a gateway log line.
//
// Every record line begins with "dd/mm/yyyy<any one character>hh:mm:ss"
// (local time). The reader here accepts exactly what the C library's
// sscanf("%02d/%02d/%04d%*c%02d:%02d:%02d") accepts, without its cost: it is
// called for every line that the merged reading compares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string_view>

namespace tarmin::monitor {

struct LineDateTime {
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
};

// Reads the date and time at the start of text. True when all 6 values were
// read.
bool parseLineDateTime(std::string_view text, LineDateTime &out);
// Reads only the date "%02d/%02d/%04d" at the start of text.
bool parseLineDate(std::string_view text, int &day, int &month, int &year);

// Converts local date and time values to seconds since 1970 as mktime does
// (out-of-range values are normalised). Conversions are cached per hour, so a
// stream of lines in time order costs one mktime call per hour of log.
class LocalTimeConverter {
public:
    std::time_t toTime(const LineDateTime &v);

    // parseLineDateTime and toTime in one step: the time at the start of a
    // line, false when it has no date. A line of the usual layout that starts
    // with the same date and hour as the last one read here costs only its
    // minutes and seconds.
    bool lineTime(std::string_view text, std::time_t &out) {
        if (m_prefixValid && text.size() >= 19 && load8(text.data()) == m_prefixHead &&
            load8(text.data() + kPrefix - 8) == m_prefixTail) {
            const auto *p = reinterpret_cast<const unsigned char *>(text.data());
            unsigned m1 = p[14] - '0', m2 = p[15] - '0', s1 = p[17] - '0', s2 = p[18] - '0';
            if (p[13] == ':' && p[16] == ':' && m1 < 10 && m2 < 10 && s1 < 10 && s2 < 10) {
                out = m_hourStart + static_cast<std::time_t>(m1 * 10 + m2) * 60 + (s1 * 10 + s2);
                return true;
            }
        }
        return lineTimeSlow(text, out);
    }

private:
    bool lineTimeSlow(std::string_view text, std::time_t &out);

    int m_year = -1, m_month = -1, m_day = -1, m_hour = -1;
    std::time_t m_hourStart = 0;
    static uint64_t load8(const char *p) {
        uint64_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }

    // "dd/mm/yyyy?hh" of the hour in m_hourStart, when a line of the usual
    // layout gave it: its first and its last 8 bytes.
    static constexpr std::size_t kPrefix = 13;
    uint64_t m_prefixHead = 0, m_prefixTail = 0;
    bool m_prefixValid = false;
};

} // namespace tarmin::monitor
