#include "monitor/views/model/CSortClassEx.h"

#include "monitor/logs/CGWRecord.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tarmin::monitor {

namespace sortkey {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly `count` digits at `pos`; -1 when they are not all digits.
int digitsAt(std::string_view text, size_t pos, size_t count) {
    if (pos + count > text.size()) return -1;
    int value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (!isDigit(text[i])) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Reads 1 or 2 digits at pos, advancing it; -1 when there is none.
int shortNumber(std::string_view text, size_t &pos) {
    int value = -1;
    size_t start = pos;
    while (pos < text.size() && pos - start < 2 && isDigit(text[pos])) {
        value = (value < 0 ? 0 : value * 10) + (text[pos] - '0');
        ++pos;
    }
    return value;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

// Days from 0000-03-01 style civil calendar (Howard Hinnant's algorithm).
int64_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

// "dd/mm/yyyy" or "dd.mm.yyyy" (one- or two-digit day and month); the day
// number, or -1.
int64_t readDate(std::string_view text, size_t &pos) {
    int d = shortNumber(text, pos);
    if (d < 0 || pos >= text.size() || (text[pos] != '/' && text[pos] != '.')) return -1;
    const char sep = text[pos++];
    int m = shortNumber(text, pos);
    if (m < 0 || pos >= text.size() || text[pos] != sep) return -1;
    ++pos;
    int y = digitsAt(text, pos, 4);
    if (y < 0) return -1;
    pos += 4;
    if (m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m)) return -1;
    return daysFromCivil(y, m, d);
}

// "hh:mm:ss" or "hh:mm"; seconds of the day, or -1.
int64_t readTime(std::string_view text, size_t &pos) {
    int h = shortNumber(text, pos);
    if (h < 0 || pos >= text.size() || text[pos] != ':') return -1;
    ++pos;
    int m = digitsAt(text, pos, 2);
    if (m < 0) return -1;
    pos += 2;
    int s = 0;
    if (pos < text.size() && text[pos] == ':') {
        s = digitsAt(text, pos + 1, 2);
        if (s < 0) return -1;
        pos += 3;
    }
    if (h > 23 || m > 59 || s > 59) return -1;
    return h * 3600 + m * 60 + s;
}

std::string_view trimmed(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r' || t.back() == '\n'))
        t.remove_suffix(1);
    return t;
}

// Collation weights of the upper-cased Windows-1251 bytes: every sign keeps
// its byte order and comes before the digits, then the Latin letters, then
// the Cyrillic letters with Ё placed right after Е.
struct Weights {
    std::array<uint8_t, 256> of{};
    Weights() {
        int next = 1;
        auto place = [&](int byte) { of[byte] = static_cast<uint8_t>(next++); };
        auto isAlnum = [](int b) {
            return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b >= 0xC0 ||
                   b == 0xA8 || b == 0xB8;
        };
        for (int b = 1; b < 256; ++b)
            if (!isAlnum(b)) place(b);
        for (int b = '0'; b <= '9'; ++b) place(b);
        for (int b = 'A'; b <= 'Z'; ++b) place(b);
        for (int b = 0xC0; b <= 0xDF; ++b) {
            place(b);
            if (b == 0xC5) place(0xA8); // Ё after Е
        }
        // Lower-case letters weigh as their capitals.
        for (int b = 'a'; b <= 'z'; ++b) of[b] = of[b - 32];
        for (int b = 0xE0; b <= 0xFF; ++b) of[b] = of[b - 32];
        of[0xB8] = of[0xA8];
    }
};

const Weights &weights() {
    static const Weights w;
    return w;
}

} // namespace

uint8_t weightOf(char c) { return weights().of[static_cast<unsigned char>(c)]; }

int64_t wholeNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        if (value > (INT64_MAX - 9) / 10) break; // keep the largest value rather than overflow
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

int64_t dateTime(std::string_view text) {
    text = trimmed(text);
    size_t pos = 0;
    const int64_t day = readDate(text, pos);
    if (day >= 0) {
        if (pos == text.size()) return day * 86400;
        if (text[pos] != ' ') return kUnreadable;
        while (pos < text.size() && text[pos] == ' ') ++pos;
        const int64_t seconds = readTime(text, pos);
        if (seconds < 0 || pos != text.size()) return kUnreadable;
        return day * 86400 + seconds;
    }
    pos = 0;
    const int64_t seconds = readTime(text, pos);
    if (seconds < 0 || pos != text.size()) return kUnreadable;
    return seconds;
}

int64_t hexCode(std::string_view text) { return static_cast<int64_t>(readHexCode(text)); }

int64_t decimal(std::string_view text) {
    text = trimmed(text);
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t whole = 0;
    for (; i < text.size() && isDigit(text[i]); ++i)
        if (whole < INT64_MAX / 10'000'000) whole = whole * 10 + (text[i] - '0');
    int64_t fraction = 0;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        int64_t scale = 100000;
        for (++i; i < text.size() && isDigit(text[i]); ++i, scale /= 10) fraction += (text[i] - '0') * scale;
    }
    const int64_t value = whole * 1'000'000 + fraction;
    return negative ? -value : value;
}

int compareNoCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int d = int(weightOf(a[i])) - int(weightOf(b[i]));
        if (d != 0) return d;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

uint64_t textPrefix(std::string_view text) {
    uint64_t key = 0;
    for (size_t i = 0; i < 8; ++i) key = (key << 8) | (i < text.size() ? weightOf(text[i]) : 0);
    return key;
}

} // namespace sortkey

CSortClassEx::CSortClassEx(std::vector<uint32_t> &rows, TextOf text, SortKind kind)
    : m_rows(rows), m_text(std::move(text)), m_kind(kind) {}

void CSortClassEx::Sort(bool ascending) {
    switch (m_kind) {
    case SortKind::WholeNumber: sortByNumber(ascending, sortkey::wholeNumber); break;
    case SortKind::TextNoCase: sortByText(ascending); break;
    case SortKind::DateTime: sortByNumber(ascending, sortkey::dateTime); break;
    case SortKind::Decimal: sortByNumber(ascending, sortkey::decimal); break;
    case SortKind::HexCode: sortByNumber(ascending, sortkey::hexCode); break;
    }
}

void CSortClassEx::sortByNumber(bool ascending, int64_t (*key)(std::string_view)) {
    struct Keyed {
        int64_t key;
        uint32_t row;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(m_rows.size());
    for (uint32_t row : m_rows) keyed.push_back({key(m_text(row)), row});
    if (ascending)
        std::sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) { return a.key < b.key; });
    else
        std::sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) { return a.key > b.key; });
    for (size_t i = 0; i < keyed.size(); ++i) m_rows[i] = keyed[i].row;
}

void CSortClassEx::sortByText(bool ascending) {
    // Every text is turned into its collation weights once, all of them in
    // one buffer; a comparison is then one integer comparison of the first
    // eight weights and, for texts alike that far, one memcmp of the rest.
    struct Keyed {
        uint64_t prefix;
        std::size_t offset;
        uint32_t length;
        uint32_t row;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(m_rows.size());
    std::size_t total = 0;
    for (uint32_t row : m_rows) total += m_text(row).size();
    std::vector<uint8_t> weights(total);
    std::size_t offset = 0;
    for (uint32_t row : m_rows) {
        const std::string_view text = m_text(row);
        for (std::size_t i = 0; i < text.size(); ++i) weights[offset + i] = sortkey::weightOf(text[i]);
        keyed.push_back({sortkey::textPrefix(text), offset, static_cast<uint32_t>(text.size()), row});
        offset += text.size();
    }
    const uint8_t *base = weights.data();
    auto less = [base](const Keyed &a, const Keyed &b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        if (a.length <= 8 || b.length <= 8) return a.length < b.length;
        const uint32_t common = std::min(a.length, b.length) - 8;
        const int c = std::memcmp(base + a.offset + 8, base + b.offset + 8, common);
        return c != 0 ? c < 0 : a.length < b.length;
    };
    if (ascending)
        std::sort(keyed.begin(), keyed.end(), less);
    else
        std::sort(keyed.begin(), keyed.end(), [&](const Keyed &a, const Keyed &b) { return less(b, a); });
    for (std::size_t i = 0; i < keyed.size(); ++i) m_rows[i] = keyed[i].row;
}

} // namespace tarmin::monitor
