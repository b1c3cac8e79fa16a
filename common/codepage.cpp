// Code pages of the suite: Windows-1251, KOI8-R and UTF-8.
#include "common/codepage.h"

#include <algorithm>
#include <utility>

namespace tarmin::cp {

namespace {

constexpr char32_t kReplacementChar = 0xFFFD;

// (character, byte) pairs of the upper half of a code page, sorted by
// character, for the reverse lookup.
using ReverseTable = std::array<std::pair<char16_t, unsigned char>, 128>;

constexpr ReverseTable make_reverse(const std::array<char16_t, 128> &high) {
    ReverseTable t{};
    for (std::size_t i = 0; i < high.size(); ++i) t[i] = {high[i], static_cast<unsigned char>(0x80 + i)};
    std::sort(t.begin(), t.end());
    return t;
}

constexpr ReverseTable kCp1251Reverse = make_reverse(kCp1251High);
constexpr ReverseTable kKoi8rReverse = make_reverse(kKoi8rHigh);

int reverse_lookup(const ReverseTable &table, char32_t c) {
    if (c < 0x80) return static_cast<int>(c);
    if (c > 0xFFFF || c == kReplacementChar) return -1;
    auto it = std::lower_bound(table.begin(), table.end(), static_cast<char16_t>(c),
                               [](const auto &entry, char16_t key) { return entry.first < key; });
    if (it == table.end() || it->first != c) return -1;
    return it->second;
}

// Upper / lower case of every Windows-1251 byte, derived from the Unicode
// characters: Cyrillic U+0430..U+044F and U+0450..U+045F pair with
// U+0410..U+042F and U+0400..U+040F, U+0491 with U+0490.
constexpr char32_t unicode_upper(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c >= 0x0430 && c <= 0x044F) return c - 0x20;
    if (c >= 0x0450 && c <= 0x045F) return c - 0x50;
    if (c == 0x0491) return 0x0490;
    return c;
}

constexpr char32_t unicode_lower(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c >= 0x0410 && c <= 0x042F) return c + 0x20;
    if (c >= 0x0400 && c <= 0x040F) return c + 0x50;
    if (c == 0x0490) return 0x0491;
    return c;
}

template <typename Map> constexpr std::array<unsigned char, 256> make_case_table(Map map) {
    std::array<unsigned char, 256> t{};
    for (int b = 0; b < 256; ++b) {
        char32_t c = b < 0x80 ? static_cast<char32_t>(b) : kCp1251High[b - 0x80];
        char32_t mapped = map(c);
        int out = b;
        if (mapped != c) {
            if (mapped < 0x80) {
                out = static_cast<int>(mapped);
            } else {
                for (int i = 0; i < 128; ++i)
                    if (kCp1251High[i] == mapped) out = 0x80 + i;
            }
        }
        t[b] = static_cast<unsigned char>(out);
    }
    return t;
}

constexpr auto kUpper1251 = make_case_table(unicode_upper);
constexpr auto kLower1251 = make_case_table(unicode_lower);

// Decodes one UTF-8 sequence at text[pos]. On success returns the character
// and sets length; on failure returns -1 and sets length to the size of the
// longest valid beginning (at least 1), which is skipped as one error.
long decode_utf8(std::string_view text, std::size_t pos, std::size_t &length) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(pos);
    length = 1;
    if (lead < 0x80) return lead;
    std::size_t need;
    char32_t c;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        c = lead & 0x0F;
        if (lead == 0xE0) lo = 0xA0;      // overlong
        else if (lead == 0xED) hi = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        c = lead & 0x07;
        if (lead == 0xF0) lo = 0x90;      // overlong
        else if (lead == 0xF4) hi = 0x8F; // above U+10FFFF
    } else {
        return -1; // continuation byte, overlong C0/C1 or F5..FF
    }
    for (std::size_t k = 1; k <= need; ++k) {
        if (pos + k >= text.size()) return -1;
        unsigned char b = byte(pos + k);
        unsigned char min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
        if (b < min || b > max) return -1;
        c = (c << 6) | (b & 0x3F);
        length = k + 1;
    }
    return static_cast<long>(c);
}

} // namespace

namespace {

// Recodes the bytes of 0x80 and above from one single-byte code page to
// another through their Unicode characters; bytes below 0x80 are copied.
std::string recode_high(std::string_view text, char32_t (*from)(unsigned char), int (*to)(char32_t),
                        char replacement) {
    std::string out(text);
    for (char &ch : out) {
        auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) continue;
        int code = to(from(b));
        ch = code < 0 ? replacement : static_cast<char>(code);
    }
    return out;
}

} // namespace

char32_t from_cp1251(unsigned char b) { return b < 0x80 ? b : kCp1251High[b - 0x80]; }

char32_t from_koi8r(unsigned char b) { return b < 0x80 ? b : kKoi8rHigh[b - 0x80]; }

int to_cp1251(char32_t c) { return reverse_lookup(kCp1251Reverse, c); }

int to_koi8r(char32_t c) { return reverse_lookup(kKoi8rReverse, c); }

void append_utf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string cp1251_to_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char ch : text) append_utf8(out, from_cp1251(static_cast<unsigned char>(ch)));
    return out;
}

std::string utf8_to_cp1251(std::string_view text, char replacement) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t length;
        long c = decode_utf8(text, pos, length);
        int b = c < 0 ? -1 : to_cp1251(static_cast<char32_t>(c));
        out += b < 0 ? replacement : static_cast<char>(b);
        pos += length;
    }
    return out;
}

bool try_utf8_to_cp1251(std::string_view text, std::string &out) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t length;
        long c = decode_utf8(text, pos, length);
        if (c < 0) return false;
        int b = to_cp1251(static_cast<char32_t>(c));
        if (b < 0) return false;
        result += static_cast<char>(b);
        pos += length;
    }
    out = std::move(result);
    return true;
}

bool try_cp1251_to_utf8(std::string_view text, std::string &out) {
    std::string result;
    result.reserve(text.size() * 2);
    for (char ch : text) {
        char32_t c = from_cp1251(static_cast<unsigned char>(ch));
        if (c == kReplacementChar) return false;
        append_utf8(result, c);
    }
    out = std::move(result);
    return true;
}

std::string cp1251_to_koi8r(std::string_view text) { return recode_high(text, from_cp1251, to_koi8r, 'E'); }

std::string koi8r_to_cp1251(std::string_view text) { return recode_high(text, from_koi8r, to_cp1251, '?'); }

char upper_1251(char c) { return static_cast<char>(kUpper1251[static_cast<unsigned char>(c)]); }

char lower_1251(char c) { return static_cast<char>(kLower1251[static_cast<unsigned char>(c)]); }

std::string upper_1251(std::string_view text) {
    std::string out(text);
    for (char &c : out) c = upper_1251(c);
    return out;
}

std::string lower_1251(std::string_view text) {
    std::string out(text);
    for (char &c : out) c = lower_1251(c);
    return out;
}

bool iequals_1251(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower_1251(a[i]) != lower_1251(b[i])) return false;
    return true;
}

} // namespace tarmin::cp
