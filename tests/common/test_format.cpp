// Formatting helpers: file times, hexadecimal, sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/codepage.h"
#include "qzcom.h"

using namespace tarmin::cp::literals;

namespace {

// 2024-03-05 10:15:07 UTC.
constexpr time_t kSample = 1709633707;

QZ_FILETIME file_time(unsigned long long ticks) {
    return {static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

unsigned long long ticks_of(const QZ_FILETIME &ft) {
    return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::string formatted(const QZ_FILETIME &ft, int format) {
    char *text = nullptr;
    int rc = QZ_FormatFileTime(&ft, format, &text);
    std::string s = rc == 0 && text ? text : "<error>";
    QZ_Free(text);
    return s;
}

std::string hex(const std::string &bytes) {
    char *text = nullptr;
    if (QZ_FormatHex(bytes.data(), bytes.size(), &text) != 0) return "<error>";
    std::string s = text;
    QZ_Free(text);
    return s;
}

std::string size_text(QZ_DWORD bytes) {
    char buffer[128];
    EXPECT_EQ(QZ_FormatSize(buffer, sizeof buffer, bytes), buffer);
    return buffer;
}

} // namespace

TEST(FormatTime, UnixTimeAndFileTimeConvertBothWays) {
    QZ_FILETIME ft{};
    QZ_TimeToFileTime(0, &ft);
    EXPECT_EQ(ticks_of(ft), 116444736000000000ull);
    QZ_TimeToFileTime(kSample, &ft);
    EXPECT_EQ(ticks_of(ft), (kSample + 11644473600ull) * 10000000ull);
    EXPECT_EQ(QZ_FileTimeToTime(&ft), kSample);
    // Sub-second parts are cut, not rounded.
    QZ_FILETIME later = file_time(ticks_of(ft) + 9999999);
    EXPECT_EQ(QZ_FileTimeToTime(&later), kSample);
    // Before 1970 and back to 1601.
    QZ_TimeToFileTime(-86400, &ft);
    EXPECT_EQ(QZ_FileTimeToTime(&ft), -86400);
    QZ_FILETIME zero = file_time(0);
    EXPECT_EQ(QZ_FileTimeToTime(&zero), -11644473600LL);
    // Times that a file time cannot hold give 0.
    QZ_TimeToFileTime(-11644473601LL, &ft);
    EXPECT_EQ(ticks_of(ft), 0u);
    EXPECT_EQ(QZ_FileTimeToTime(nullptr), 0);
}

TEST(FormatTime, FileTimeTextsOfBothFormats) {
    QZ_FILETIME ft{};
    QZ_TimeToFileTime(kSample, &ft);
    EXPECT_EQ(formatted(ft, 5), "05.03.2024 10:15:07");
    EXPECT_EQ(formatted(ft, 3), "05.03.2024 10:15");
    EXPECT_EQ(formatted(file_time(0), 5), "01.01.1601 00:00:00");
    QZ_TimeToFileTime(951782399, &ft); // 2000-02-28 23:59:59
    EXPECT_EQ(formatted(ft, 5), "28.02.2000 23:59:59");
    QZ_TimeToFileTime(951782400 + 86399, &ft);
    EXPECT_EQ(formatted(ft, 5), "29.02.2000 23:59:59");
    QZ_TimeToFileTime(4102444799, &ft); // last second of 2099
    EXPECT_EQ(formatted(ft, 5), "31.12.2099 23:59:59");
    QZ_TimeToFileTime(-1, &ft);
    EXPECT_EQ(formatted(ft, 3), "31.12.1969 23:59");
}

TEST(FormatTime, RefusesOtherFormatsAndUnrepresentableTimes) {
    QZ_FILETIME ft{};
    QZ_TimeToFileTime(kSample, &ft);
    char *text = reinterpret_cast<char *>(&ft); // must be reset
    EXPECT_NE(QZ_FormatFileTime(&ft, 4, &text), 0);
    EXPECT_EQ(text, nullptr);
    // Year 10000 and later do not fit "dd.mm.yyyy".
    QZ_FILETIME far = file_time(0xFFFFFFFFFFFFFFFFull);
    text = reinterpret_cast<char *>(&ft);
    EXPECT_NE(QZ_FormatFileTime(&far, 5, &text), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_NE(QZ_FormatFileTime(nullptr, 5, &text), 0);
    EXPECT_NE(QZ_FormatFileTime(&ft, 5, nullptr), 0);
}

TEST(FormatHex, UpperCaseBytesSeparatedByBlanks) {
    EXPECT_EQ(hex(std::string("\x0A\x1B\xFF", 3)), "0A 1B FF");
    EXPECT_EQ(hex(std::string("\x00", 1)), "00");
    EXPECT_EQ(hex(""), "");
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    std::string text = hex(all);
    EXPECT_EQ(text.size(), 256u * 3 - 1);
    EXPECT_EQ(text.substr(0, 12), "00 01 02 03 ");
    EXPECT_EQ(text.substr(text.size() - 5), "FE FF");
    char *out = nullptr;
    EXPECT_NE(QZ_FormatHex(nullptr, 3, &out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(QZ_FormatHex(nullptr, 0, &out), 0);
    EXPECT_STREQ(out, "");
    QZ_Free(out);
}

TEST(FormatSize, UnitsAndRounding) {
    EXPECT_EQ(size_text(0), "0 байт"_w);
    EXPECT_EQ(size_text(512), "512 байт"_w);
    EXPECT_EQ(size_text(1023), "1023 байт"_w);
    EXPECT_EQ(size_text(1024), "1,0 КБ"_w);
    EXPECT_EQ(size_text(1536), "1,5 КБ"_w);
    EXPECT_EQ(size_text(1100), "1,1 КБ"_w);
    EXPECT_EQ(size_text(1048064), "1023,5 КБ"_w);
    // A size that rounds up to 1024 of a unit is shown in the next unit.
    EXPECT_EQ(size_text(1048575), "1,0 МБ"_w);
    EXPECT_EQ(size_text(20u * 1024 * 1024), "20,0 МБ"_w);
    EXPECT_EQ(size_text(2254857830u), "2,1 ГБ"_w);
    EXPECT_EQ(size_text(0xFFFFFFFFu), "4,0 ГБ"_w);
}

TEST(FormatSize, SmallBufferIsCutAndTerminated) {
    char buffer[5];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(QZ_FormatSize(buffer, sizeof buffer, 1536), buffer);
    EXPECT_EQ(std::strlen(buffer), 4u);
    EXPECT_EQ(std::string(buffer), std::string("1,5 КБ"_w).substr(0, 4));
    EXPECT_EQ(QZ_FormatSize(nullptr, 128, 1), nullptr);
    EXPECT_EQ(QZ_FormatSize(buffer, 0, 1), buffer);
    QZ_Free(nullptr);
}
