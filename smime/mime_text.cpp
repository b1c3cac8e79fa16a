#include "smime/mime_text.h"

#include <array>
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "common/codepage.h"

using namespace tarmin::cp::literals;

namespace tarmin::smime {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Base64 of n bytes at out (4 characters for every 3 bytes or part of them);
// returns the end.
char *base64_write(char *out, const unsigned char *p, size_t n) {
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    if (n - i == 1) {
        uint32_t v = uint32_t(p[i]) << 16;
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (n - i == 2) {
        uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8);
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = '=';
    }
    return out;
}

void base64_append(std::string &out, const unsigned char *p, size_t n) {
    const size_t at = out.size();
    out.resize(at + (n + 2) / 3 * 4);
    base64_write(out.data() + at, p, n);
}

constexpr std::array<int8_t, 256> make_decode_table() {
    std::array<int8_t, 256> t{};
    for (auto &v : t) v = -1;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return t;
}
constexpr auto kDecode = make_decode_table();

constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDelta = 11644473600LL;

} // namespace

size_t base64_lines_size(size_t n) {
    const size_t rest = n % 48;
    return n / 48 * 66 + (rest ? (rest + 2) / 3 * 4 + 2 : 0);
}

char *base64_lines_into(char *out, std::string_view data) {
    const auto *p = reinterpret_cast<const unsigned char *>(data.data());
    for (size_t off = 0; off < data.size(); off += 48) {
        out = base64_write(out, p + off, std::min<size_t>(48, data.size() - off));
        *out++ = '\r';
        *out++ = '\n';
    }
    return out;
}

std::string base64_lines(std::string_view data) {
    std::string out(base64_lines_size(data.size()), '\0');
    base64_lines_into(out.data(), data);
    return out;
}

std::optional<std::string> base64_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t acc = 0;
    int bits = 0, quantum = 0, pad = 0;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        if (c == '=') {
            // Padding ends a quantum of two or three characters; a text decoded
            // line by line may go on with a new quantum after it.
            if (quantum < 2) return std::nullopt;
            ++pad;
            if (++quantum == 4) quantum = 0, pad = 0, bits = 0, acc = 0;
            continue;
        }
        if (pad) return std::nullopt; // data inside a padded quantum
        int v = kDecode[c];
        if (v < 0) return std::nullopt;
        acc = ((acc << 6) | static_cast<uint32_t>(v)) & 0xFFFFFFu;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
        if (++quantum == 4) quantum = 0, bits = 0, acc = 0;
    }
    if (quantum != 0) return std::nullopt;
    return out;
}

std::string rfc2047_koi8r(std::string_view name_1251) {
    const std::string koi = cp::cp1251_to_koi8r(name_1251);
    std::string out;
    for (size_t off = 0; off < koi.size(); off += 30) {
        if (off) out += "\r\n";
        out += "=?koi8-r?B?";
        base64_append(out, reinterpret_cast<const unsigned char *>(koi.data()) + off, std::min<size_t>(30, koi.size() - off));
        out += "?=";
    }
    return out;
}

std::string hex_text(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

std::optional<std::string> hex_bytes(std::string_view text) {
    if (text.size() % 2) return std::nullopt;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = digit(text[i]), lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

std::string hash_text(std::string_view hash) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : hash) {
        if (!out.empty()) out += ' ';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

std::string gmt_date(std::time_t utc) {
    std::tm tm{};
    gmtime_r(&utc, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7], tm.tm_mday,
                  kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::time_t filetime_to_time(uint64_t filetime) {
    return static_cast<std::time_t>(static_cast<int64_t>(filetime / 10000000ULL) - kEpochDelta);
}

uint64_t time_to_filetime(std::time_t t) {
    return static_cast<uint64_t>(static_cast<int64_t>(t) + kEpochDelta) * 10000000ULL;
}

std::optional<std::time_t> parse_gmt_date(std::string_view text) {
    auto name_index = [](std::string_view s, const char *const *names, int count) -> int {
        for (int i = 0; i < count; ++i)
            if (s == names[i]) return i;
        return -1;
    };
    size_t pos = 0;
    auto skip_blanks = [&] {
        while (pos < text.size() && text[pos] == ' ') ++pos;
    };
    auto number = [&](int max_digits) -> std::optional<int> {
        size_t start = pos;
        int v = 0;
        while (pos < text.size() && pos - start < static_cast<size_t>(max_digits) && text[pos] >= '0' &&
               text[pos] <= '9')
            v = v * 10 + (text[pos++] - '0');
        if (pos == start) return std::nullopt;
        return v;
    };
    if (text.size() < 4 || name_index(text.substr(0, 3), kDays, 7) < 0 || text[3] != ',') return std::nullopt;
    pos = 4;
    skip_blanks();
    auto day = number(2);
    skip_blanks();
    if (!day || pos + 3 > text.size()) return std::nullopt;
    int month = name_index(text.substr(pos, 3), kMonths, 12);
    if (month < 0) return std::nullopt;
    pos += 3;
    skip_blanks();
    auto year = number(4);
    skip_blanks();
    auto hour = number(2);
    if (!hour || pos >= text.size() || text[pos++] != ':') return std::nullopt;
    auto minute = number(2);
    if (!minute || pos >= text.size() || text[pos++] != ':') return std::nullopt;
    auto second = number(2);
    if (!year || !second || pos >= text.size() || text[pos] != ' ') return std::nullopt;
    if (*day == 0 || *year == 0 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
    std::tm tm{};
    tm.tm_mday = *day;
    tm.tm_mon = month;
    tm.tm_year = *year - 1900;
    tm.tm_hour = *hour;
    tm.tm_min = *minute;
    tm.tm_sec = *second;
    return timegm(&tm);
}

std::string printf_string(const char *format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return std::string(buf, n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

bool is_cp1251_charset(std::string_view charset) { return charset.empty() || iequals(charset, "windows-1251"); }

std::string to_charset(std::string_view text_1251, std::string_view charset) {
    if (is_cp1251_charset(charset)) return std::string(text_1251);
    std::string out;
    return cp::try_cp1251_to_utf8(text_1251, out) ? out : std::string(text_1251);
}

std::string from_charset(std::string_view text, std::string_view charset) {
    if (is_cp1251_charset(charset)) return std::string(text);
    std::string out;
    return cp::try_utf8_to_cp1251(text, out) ? out : std::string(text);
}

bool iequals(std::string_view a, std::string_view b) { return cp::iequals_1251(a, b); }

bool is_sign_file_name(std::string_view name_1251) {
    return iequals(name_1251, "TMNSIGN.TMS") || name_1251 == "ЭЦП.tms"_w;
}

} // namespace tarmin::smime
