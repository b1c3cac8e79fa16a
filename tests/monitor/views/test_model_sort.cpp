// Sort keys and CSortClassEx: the orders the record list's columns sort by.
#include "common/codepage.h"
#include "monitor/views/model/CSortClassEx.h"
#include "monitor/views/model/Categories.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace tarmin::monitor;
using namespace tarmin::cp::literals;

namespace {

std::vector<uint32_t> sortRows(const std::vector<std::string> &texts, SortKind kind, bool ascending) {
    std::vector<uint32_t> rows(texts.size());
    for (uint32_t i = 0; i < rows.size(); ++i) rows[i] = i;
    CSortClassEx sorter(rows, [&](uint32_t r) { return std::string_view(texts[r]); }, kind);
    sorter.Sort(ascending);
    return rows;
}

std::vector<std::string> inOrder(const std::vector<std::string> &texts, const std::vector<uint32_t> &rows) {
    std::vector<std::string> out;
    for (uint32_t r : rows) out.push_back(texts[r]);
    return out;
}

} // namespace

TEST(SortKeys, WholeNumberReadsTheLeadingNumberOnly) {
    EXPECT_EQ(sortkey::wholeNumber("12abc"), 12);
    EXPECT_EQ(sortkey::wholeNumber("  -5"), -5);
    EXPECT_EQ(sortkey::wholeNumber("E0020004"), 0);
    EXPECT_EQ(sortkey::wholeNumber(""), 0);
    EXPECT_EQ(sortkey::wholeNumber("99999999999999999999999"), sortkey::wholeNumber("9999999999999999999"));
}

// The errors list's "Результат" column holds hexadecimal codes.
TEST(SortKeys, ResultCodesSortAsHexadecimalNumbers) {
    const std::vector<std::string> codes{"E0030001", "C00A0001", "0", "1F", "0x20", "80000001"};
    EXPECT_EQ(inOrder(codes, sortRows(codes, columnsOf(Category::Errors)[3].sortKind, true)),
              (std::vector<std::string>{"0", "1F", "0x20", "80000001", "C00A0001", "E0030001"}));
    EXPECT_EQ(sortkey::hexCode("E0030001"), 0xE0030001);
    EXPECT_EQ(sortkey::hexCode("zz"), 0);
}

TEST(SortKeys, DatesAndTimesCompareAsPointsInTime) {
    // Text order would put 31/12/2023 after 01/01/2024.
    EXPECT_LT(sortkey::dateTime("31/12/2023"), sortkey::dateTime("01/01/2024"));
    EXPECT_LT(sortkey::dateTime("28/02/2024"), sortkey::dateTime("29/02/2024"));
    EXPECT_LT(sortkey::dateTime("09:59:59"), sortkey::dateTime("10:00:00"));
    EXPECT_EQ(sortkey::dateTime("9:05:00"), sortkey::dateTime("09:05:00"));
    EXPECT_EQ(sortkey::dateTime("05.03.2024"), sortkey::dateTime("05/03/2024"));
    EXPECT_LT(sortkey::dateTime("05/03/2024 23:59:59"), sortkey::dateTime("06/03/2024 00:00:00"));
    for (const char *bad : {"", "abc", "32/01/2024", "29/02/2023", "05/13/2024", "24:00:00", "05/03/24", "10:00:00x"})
        EXPECT_EQ(sortkey::dateTime(bad), sortkey::kUnreadable) << bad;
}

TEST(SortKeys, DecimalNumbersAcceptPointOrComma) {
    EXPECT_LT(sortkey::decimal("1.5"), sortkey::decimal("1,75"));
    EXPECT_LT(sortkey::decimal("-2"), sortkey::decimal("0.1"));
    EXPECT_EQ(sortkey::decimal("abc"), 0);
}

TEST(SortKeys, TextComparisonIgnoresCaseAndPutsYoAfterYe) {
    EXPECT_EQ(sortkey::compareNoCase("Report", "REPORT"), 0);
    EXPECT_EQ(sortkey::compareNoCase("тема письма"_w, "ТЕМА ПИСЬМА"_w), 0);
    EXPECT_EQ(sortkey::compareNoCase("ёлка"_w, "ЁЛКА"_w), 0);
    EXPECT_LT(sortkey::compareNoCase("Е"_w, "Ё"_w), 0);
    EXPECT_LT(sortkey::compareNoCase("Ё"_w, "Ж"_w), 0);
    EXPECT_LT(sortkey::compareNoCase("9", "A"), 0);        // digits before letters
    EXPECT_LT(sortkey::compareNoCase("Z", "А"_w), 0);      // Latin before Cyrillic
    EXPECT_LT(sortkey::compareNoCase("-x", "0"), 0);       // signs before digits
    EXPECT_LT(sortkey::compareNoCase("abc", "abcd"), 0);   // a prefix first
}

TEST(CSortClassEx, DateColumnSortsBothWays) {
    const std::vector<std::string> dates = {"01/01/2024", "31/12/2023", "15/06/2023", "bad", "02/01/2024"};
    EXPECT_EQ(inOrder(dates, sortRows(dates, SortKind::DateTime, true)),
              (std::vector<std::string>{"bad", "15/06/2023", "31/12/2023", "01/01/2024", "02/01/2024"}));
    EXPECT_EQ(inOrder(dates, sortRows(dates, SortKind::DateTime, false)),
              (std::vector<std::string>{"02/01/2024", "01/01/2024", "31/12/2023", "15/06/2023", "bad"}));
}

TEST(CSortClassEx, TextSortMatchesTheFullComparisonBeyondEightCharacters) {
    // Subjects that share long prefixes exercise the comparison past the
    // eight characters kept in the quick key.
    std::mt19937 rng(7);
    const std::vector<std::string> stems = {"Отчёт за "_w, "ОТЧЕТ ЗА "_w, "Report for ", "report for", "Отчет"_w, ""};
    const std::vector<std::string> tails = {"январь"_w, "Февраль"_w, "МАРТ"_w, "march", "1", "10", "2", ""};
    std::vector<std::string> texts;
    for (int i = 0; i < 2000; ++i) texts.push_back(stems[rng() % stems.size()] + tails[rng() % tails.size()]);
    for (bool ascending : {true, false}) {
        const std::vector<std::string> sorted = inOrder(texts, sortRows(texts, SortKind::TextNoCase, ascending));
        for (size_t i = 1; i < sorted.size(); ++i) {
            const int c = sortkey::compareNoCase(sorted[i - 1], sorted[i]);
            EXPECT_TRUE(ascending ? c <= 0 : c >= 0) << i;
        }
    }
}

TEST(CSortClassEx, WholeNumberColumnSortsByLeadingNumbers) {
    const std::vector<std::string> codes = {"10", "9", "-3", "x", "100"};
    EXPECT_EQ(inOrder(codes, sortRows(codes, SortKind::WholeNumber, true)),
              (std::vector<std::string>{"-3", "x", "9", "10", "100"}));
}
