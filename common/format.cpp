// Formatting helpers: file times, hexadecimal, sizes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/codepage.h"
#include "qzcom.h"

using namespace tarmin::cp::literals;

namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;          // file time units
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

std::uint64_t ticks_of(const QZ_FILETIME &ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

struct CivilTime {
    std::int64_t year;
    int month, day, hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
void civil_from_days(std::int64_t z, std::int64_t &y, int &m, int &d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

CivilTime civil_of(const QZ_FILETIME &ft) {
    const std::int64_t seconds = static_cast<std::int64_t>(ticks_of(ft) / kTicksPerSecond) - kSecondsFrom1601To1970;
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        days -= 1;
    }
    CivilTime c{};
    civil_from_days(days, c.year, c.month, c.day);
    c.hour = static_cast<int>(rest / 3600);
    c.minute = static_cast<int>(rest / 60 % 60);
    c.second = static_cast<int>(rest % 60);
    return c;
}

char *copy_out(const std::string &text) {
    char *p = static_cast<char *>(std::malloc(text.size() + 1));
    if (p) std::memcpy(p, text.c_str(), text.size() + 1);
    return p;
}

} // namespace

extern "C" {

int QZ_FormatFileTime(const QZ_FILETIME *ft, int format, char **out) {
    if (out) *out = nullptr;
    if (!ft || !out || (format != 5 && format != 3)) return -1;
    const CivilTime c = civil_of(*ft);
    if (c.year > 9999) return -1; // beyond the four digits of the text
    char text[32];
    if (format == 5)
        std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", c.day, c.month, static_cast<int>(c.year),
                      c.hour, c.minute, c.second);
    else
        std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d", c.day, c.month, static_cast<int>(c.year),
                      c.hour, c.minute);
    *out = copy_out(text);
    return *out ? 0 : -1;
}

int QZ_FormatHex(const void *data, size_t length, char **out) {
    if (out) *out = nullptr;
    if (!out || (!data && length > 0) || length > (SIZE_MAX - 1) / 3) return -1;
    static const char kDigits[] = "0123456789ABCDEF";
    char *text = static_cast<char *>(std::malloc(length ? length * 3 : 1));
    if (!text) return -1;
    const auto *bytes = static_cast<const unsigned char *>(data);
    char *p = text;
    for (size_t i = 0; i < length; ++i) {
        if (i) *p++ = ' ';
        *p++ = kDigits[bytes[i] >> 4];
        *p++ = kDigits[bytes[i] & 0x0F];
    }
    *p = '\0';
    *out = text;
    return 0;
}

void QZ_TimeToFileTime(time_t t, QZ_FILETIME *out) {
    if (!out) return;
    // Times before 1601 or too far ahead for 64 bits of 100 ns give 0.
    constexpr std::int64_t kLatest =
        static_cast<std::int64_t>(UINT64_MAX / kTicksPerSecond) - kSecondsFrom1601To1970;
    std::uint64_t ticks = 0;
    if (t >= -kSecondsFrom1601To1970 && t <= kLatest)
        ticks = static_cast<std::uint64_t>(t + kSecondsFrom1601To1970) * kTicksPerSecond;
    out->dwLowDateTime = static_cast<std::uint32_t>(ticks);
    out->dwHighDateTime = static_cast<std::uint32_t>(ticks >> 32);
}

time_t QZ_FileTimeToTime(const QZ_FILETIME *ft) {
    if (!ft) return 0;
    return static_cast<time_t>(static_cast<std::int64_t>(ticks_of(*ft) / kTicksPerSecond) - kSecondsFrom1601To1970);
}

char *QZ_FormatSize(char *buffer, size_t size, QZ_DWORD bytes) {
    if (!buffer || size == 0) return buffer;
    if (bytes < 1024) {
        std::snprintf(buffer, size, "%u %s", bytes, "байт"_w);
        return buffer;
    }
    // One decimal, rounded; a value that rounds up to 1024 moves to the next unit.
    static const char *const kUnits[] = {"КБ"_w, "МБ"_w, "ГБ"_w};
    std::uint64_t unit = 1024;
    std::size_t u = 0;
    std::uint64_t tenths = (static_cast<std::uint64_t>(bytes) * 10 + unit / 2) / unit;
    while (tenths >= 10240 && u + 1 < std::size(kUnits)) {
        unit *= 1024;
        ++u;
        tenths = (static_cast<std::uint64_t>(bytes) * 10 + unit / 2) / unit;
    }
    std::snprintf(buffer, size, "%llu,%llu %s", static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10), kUnits[u]);
    return buffer;
}

void QZ_Free(void *p) { std::free(p); }

} // extern "C"
