// The line layout of the gateway logs, shared by the log generator and the
// gateway host: the three families' file prefixes and header lines, the
// date and time fields, and the number formats of the fields.
//
// Every line begins "dd/mm/yyyy<sep>hh:mm:ss" (local time) and continues with
// the family's fields, separated by the separator; texts are Windows-1251.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace tarmin::gwlog {

enum class Family { Errors, Inbound, Outgoing };

// "tarmin-gw", "tmnrecv", "tmnsent": the monitor reads prefix + "*.csv".
const char *familyPrefix(Family family);
// The header line of a family's files (without line end).
std::string familyHeader(Family family, char separator);

void appendUnsigned(std::string &out, uint64_t v);
// `width` upper-case hexadecimal digits.
void appendHex(std::string &out, uint64_t v, int width);
void appendTwo(std::string &out, int v);
// A result code: "0" for success, eight upper-case hexadecimal digits else.
void appendCode(std::string &out, uint32_t code);

// Local date and time texts, converted once per minute.
class TimeText {
public:
    // Appends "dd/mm/yyyy<sep>hh:mm:ss".
    void append(std::string &out, std::time_t t, char sep);

private:
    int64_t m_minute = INT64_MIN;
    std::string m_prefix;
};

// "yyyymmdd" of the local date of t.
std::string localDay(std::time_t t);

} // namespace tarmin::gwlog
