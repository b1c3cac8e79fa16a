// One sort of the record list by one column. Every row is paired with a key
// made from its text in the sort column, by the column's sort kind; the rows
// are then ordered by those keys. No Qt here: the list view hands in the
// rows and a way to read their texts.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace tarmin::monitor {

// Sort kinds of the list columns.
enum class SortKind : int {
    WholeNumber = 1, // the leading whole numbers of the texts
    TextNoCase = 2,  // the texts, without regard to letter case
    DateTime = 3,    // dates or times
    Decimal = 4,     // decimal numbers
    HexCode = 5,     // result codes, hexadecimal ("E0030001", "0x1F")
};

class CSortClassEx {
public:
    // rows: the list's rows, top first, identified by the caller's numbers;
    // text: the text of a row in the sort column (Windows-1251).
    using TextOf = std::function<std::string_view(uint32_t row)>;

    CSortClassEx(std::vector<uint32_t> &rows, TextOf text, SortKind kind);

    // Reorders the rows, ascending or descending. Rows with equal keys keep
    // no particular order.
    void Sort(bool ascending);

private:
    void sortByNumber(bool ascending, int64_t (*key)(std::string_view));
    void sortByText(bool ascending);

    std::vector<uint32_t> &m_rows;
    TextOf m_text;
    SortKind m_kind;
};

// The keys, exposed for the tests of their edge cases.
namespace sortkey {
// Leading whole number: blanks, an optional sign, then digits ("12abc" is 12,
// "abc" is 0).
int64_t wholeNumber(std::string_view text);
// Date, time, or date and time: "dd/mm/yyyy", "dd.mm.yyyy", "hh:mm:ss",
// "hh:mm", or a date followed by a blank and a time. Seconds since the year
// 0; a text that is none of these gives kUnreadable, which sorts first.
inline constexpr int64_t kUnreadable = INT64_MIN;
int64_t dateTime(std::string_view text);
// A result code as the gateway writes it: hexadecimal, an optional "0x",
// 32 bits ("E0030001" is 0xE0030001; a text without digits gives 0).
int64_t hexCode(std::string_view text);
// Decimal number with "." or "," as the decimal sign, as a fixed-point value
// (millionths); a text without a number gives 0.
int64_t decimal(std::string_view text);
// Compares two Windows-1251 texts without regard to case, in the order a
// Russian reader expects: signs, digits, Latin letters, Cyrillic letters
// (Ё after Е). Negative, zero or positive.
int compareNoCase(std::string_view a, std::string_view b);
// The collation weight of one Windows-1251 byte (equal for both cases).
uint8_t weightOf(char c);
// The first eight weights of a text as one big-endian number (zeros after
// its end), so that most comparisons of a text sort are one integer
// comparison.
uint64_t textPrefix(std::string_view text);
} // namespace sortkey

} // namespace tarmin::monitor
