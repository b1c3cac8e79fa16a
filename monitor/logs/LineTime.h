// Date and time at the start of a gateway log line.
//
// Every record line begins with "dd/mm/yyyy<any one character>hh:mm:ss"
// (local time). The reader here accepts exactly what the C library's
// sscanf("%02d/%02d/%04d%*c%02d:%02d:%02d") accepts, without its cost: it is
// called for every line that the merged reading compares.
#pragma once

#include <cstddef>
#include <cstdint>
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

private:
    int m_year = -1, m_month = -1, m_day = -1, m_hour = -1;
    std::time_t m_hourStart = 0;
};

} // namespace tarmin::monitor
