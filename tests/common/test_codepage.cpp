// Code pages: Windows-1251, KOI8-R and UTF-8 conversions, case rules.
#include <gtest/gtest.h>

#include "common/codepage.h"

using namespace tarmin::cp;
using namespace tarmin::cp::literals;

namespace {

std::string all_high_bytes() {
    std::string s;
    for (int b = 0x80; b <= 0xFF; ++b) s += static_cast<char>(b);
    return s;
}

} // namespace

TEST(CodePageKoi8r, CyrillicLettersMapAsRfc1489) {
    EXPECT_EQ(cp1251_to_koi8r("\xC0"), "\xE1"); // А
    EXPECT_EQ(koi8r_to_cp1251("\xE1"), "\xC0");
    EXPECT_EQ(cp1251_to_koi8r("\xE0"), "\xC1"); // а
    EXPECT_EQ(cp1251_to_koi8r("\xA8\xB8"), "\xB3\xA3"); // Ё ё
    EXPECT_EQ(cp1251_to_koi8r("\xDF\xFF"), "\xF1\xD1"); // Я я
    EXPECT_EQ(cp1251_to_koi8r("Hello, 123!"), "Hello, 123!");
}

TEST(CodePageKoi8r, EveryRussianLetterRoundTrips) {
    std::string letters = "\xA8\xB8";
    for (int b = 0xC0; b <= 0xFF; ++b) letters += static_cast<char>(b);
    std::string koi = cp1251_to_koi8r(letters);
    EXPECT_EQ(koi.find('E'), std::string::npos);
    EXPECT_EQ(koi8r_to_cp1251(koi), letters);
    EXPECT_EQ(cp1251_to_koi8r("Проверка"_w), "\xF0\xD2\xCF\xD7\xC5\xD2\xCB\xC1");
}

TEST(CodePageKoi8r, CharactersWithoutKoi8rCodeBecomeE) {
    // Ђ (0x80), № (0xB9), € (0x88), Ґ (0xA5) and the unassigned 0x98 have no KOI8-R code.
    EXPECT_EQ(cp1251_to_koi8r("\x80\xB9\x88\xA5\x98"), "EEEEE");
    // No byte of the upper half ever passes unconverted into KOI8-R text
    // except through a real character.
    std::string koi = cp1251_to_koi8r(all_high_bytes());
    ASSERT_EQ(koi.size(), 128u);
    for (std::size_t i = 0; i < koi.size(); ++i) {
        unsigned char k = static_cast<unsigned char>(koi[i]);
        if (k == 'E') continue;
        EXPECT_EQ(from_koi8r(k), from_cp1251(static_cast<unsigned char>(0x80 + i))) << i;
    }
}

TEST(CodePageKoi8r, BoxDrawingBecomesDefaultCharacter) {
    EXPECT_EQ(koi8r_to_cp1251("\x80\x81"), "??"); // ─ │
    EXPECT_EQ(koi8r_to_cp1251("\x9A"), "\xA0");   // no-break space exists in both
    EXPECT_EQ(koi8r_to_cp1251("\xBF"), "\xA9");   // ©
}

TEST(CodePageTables, ReverseLookupsInvertTheTables) {
    for (int b = 0; b < 256; ++b) {
        auto byte = static_cast<unsigned char>(b);
        if (b != 0x98) {
            EXPECT_EQ(to_cp1251(from_cp1251(byte)), b) << b;
        }
        EXPECT_EQ(to_koi8r(from_koi8r(byte)), b) << b;
    }
    EXPECT_EQ(from_cp1251(0x98), U'\uFFFD');
    EXPECT_EQ(to_cp1251(U'\uFFFD'), -1);
    EXPECT_EQ(to_cp1251(U'\u65E5'), -1);
    EXPECT_EQ(to_koi8r(U'\u0402'), -1);
    EXPECT_EQ(to_cp1251(U'\U0001F600'), -1);
}

TEST(CodePageUtf8, Cp1251RoundTripsThroughUtf8) {
    EXPECT_EQ(cp1251_to_utf8("Привет"_w), "Привет");
    EXPECT_EQ(utf8_to_cp1251("Привет, мир! № 5 — «ёлка» €"), "Привет, мир! № 5 — «ёлка» €"_w);
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x98) all += static_cast<char>(b);
    EXPECT_EQ(utf8_to_cp1251(cp1251_to_utf8(all)), all);
    EXPECT_EQ(cp1251_to_utf8("\x98"), "\xEF\xBF\xBD");
}

TEST(CodePageUtf8, MalformedSequencesBecomeReplacement) {
    EXPECT_EQ(utf8_to_cp1251("a\xC0\xAF" "b"), "a??b");           // overlong '/'
    EXPECT_EQ(utf8_to_cp1251("\xE0\x80\xAF"), "???");             // overlong, three bytes
    EXPECT_EQ(utf8_to_cp1251("\xED\xA0\x80"), "???");             // surrogate U+D800
    EXPECT_EQ(utf8_to_cp1251("\xF4\x90\x80\x80"), "????");        // above U+10FFFF
    EXPECT_EQ(utf8_to_cp1251("x\xD0"), "x?");                     // cut at the end
    EXPECT_EQ(utf8_to_cp1251("\xE2\x82" "A"), "?A");              // cut before an ASCII byte
    EXPECT_EQ(utf8_to_cp1251("\x80\xBF"), "??");                  // lone continuation bytes
    EXPECT_EQ(utf8_to_cp1251("\xFF" "z", '#'), "#z");             // caller's replacement
    EXPECT_EQ(utf8_to_cp1251("日本"), "??");                      // characters 1251 lacks
}

TEST(CodePageUtf8, ExactConversionsRefuseAndLeaveOutputAlone) {
    std::string out = "unchanged";
    EXPECT_FALSE(try_utf8_to_cp1251("ok\xC0\xAF", out));
    EXPECT_FALSE(try_utf8_to_cp1251("日", out));
    EXPECT_FALSE(try_utf8_to_cp1251("\xED\xBF\xBF", out));
    EXPECT_FALSE(try_cp1251_to_utf8("a\x98", out));
    EXPECT_EQ(out, "unchanged");
    ASSERT_TRUE(try_utf8_to_cp1251("Тема: отчёт", out));
    EXPECT_EQ(out, "Тема: отчёт"_w);
    ASSERT_TRUE(try_cp1251_to_utf8("Тема: отчёт"_w, out));
    EXPECT_EQ(out, "Тема: отчёт");
    ASSERT_TRUE(try_utf8_to_cp1251("", out));
    EXPECT_EQ(out, "");
}

TEST(CodePageUtf8, AppendsEveryEncodingLength) {
    std::string s;
    append_utf8(s, U'A');
    append_utf8(s, U'\u0416');
    append_utf8(s, U'\u20AC');
    append_utf8(s, U'\U0001F600');
    EXPECT_EQ(s, "A\xD0\x96\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(CodePageCase, RussianAndLatinLetters) {
    EXPECT_EQ(upper_1251("абвгдеёжзийклмнопрстуфхцчшщъыьэюя"_w), "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"_w);
    EXPECT_EQ(lower_1251("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"_w), "абвгдеёжзийклмнопрстуфхцчшщъыьэюя"_w);
    EXPECT_EQ(upper_1251("smtp:user@host"), "SMTP:USER@HOST");
    EXPECT_EQ(lower_1251("ЎЈҐЄЇІЅЂЃЉЊЌЋЏ"_w), "ўјґєїіѕђѓљњќћџ"_w);
    // Non-letters stay as they are.
    EXPECT_EQ(upper_1251("123 №«»—"_w), "123 №«»—"_w);
    EXPECT_EQ(lower_1251("123 №«»—"_w), "123 №«»—"_w);
    EXPECT_EQ(upper_1251('\xE0'), '\xC0');
    EXPECT_EQ(lower_1251('\xC0'), '\xE0');
}

TEST(CodePageCase, CaseInsensitiveComparison) {
    EXPECT_TRUE(iequals_1251("Software\\KELVORIA\\Тармин"_w, "software\\kelvoria\\тАРМИН"_w));
    EXPECT_TRUE(iequals_1251("Ёлка"_w, "ЁЛКА"_w));
    EXPECT_FALSE(iequals_1251("Ёлка"_w, "Елка"_w));
    EXPECT_FALSE(iequals_1251("abc", "abcd"));
    EXPECT_TRUE(iequals_1251("", ""));
}

TEST(CodePageLiteral, ConvertsAtCompileTime) {
    constexpr const char *text = "Аб Ё"_w;
    EXPECT_STREQ(text, "\xC0\xE1 \xA8");
    EXPECT_STREQ("plain"_w, "plain");
}
