// Code pages of the suite: Windows-1251 (the system code page), KOI8-R
// (RFC 1489) and UTF-8. One table serves every module.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// Every module links these from qzcom, whatever the default symbol visibility.
#pragma GCC visibility push(default)

namespace tarmin::cp {

// The Unicode character of a Windows-1251 / KOI8-R byte (bytes below 0x80 are
// ASCII). A Windows-1251 byte without a character (0x98) gives U+FFFD.
char32_t from_cp1251(unsigned char b);
char32_t from_koi8r(unsigned char b);
// The byte of a character, or -1 when the code page lacks it.
int to_cp1251(char32_t c);
int to_koi8r(char32_t c);

// Windows-1251 <-> UTF-8. A character that Windows-1251 lacks, and every
// invalid UTF-8 sequence, becomes the system default character '?'.
std::string cp1251_to_utf8(std::string_view text);
std::string utf8_to_cp1251(std::string_view text, char replacement = '?');

// Windows-1251 <-> KOI8-R, byte by byte; bytes below 0x80 are copied.
// A character without a KOI8-R code becomes 'E'; a character that
// Windows-1251 lacks becomes '?'.
std::string cp1251_to_koi8r(std::string_view text);
std::string koi8r_to_cp1251(std::string_view text);

// Case of Windows-1251 text (Latin and Cyrillic letters, Ё/ё included).
char upper_1251(char c);
char lower_1251(char c);
std::string upper_1251(std::string_view text);
std::string lower_1251(std::string_view text);
bool iequals_1251(std::string_view a, std::string_view b);

// Exact conversions for callers that must pass a text on unchanged when it
// does not convert: false (out untouched) for malformed UTF-8 (overlong
// forms, surrogates, values above 0x10FFFF, cut sequences) or a character
// that the target code page lacks.
bool try_utf8_to_cp1251(std::string_view text, std::string &out);
bool try_cp1251_to_utf8(std::string_view text, std::string &out);

// One UTF-8 sequence of a character (1 to 4 bytes) appended to out.
void append_utf8(std::string &out, char32_t c);

// Unicode characters of the bytes 0x80..0xFF.
inline constexpr std::array<char16_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};
inline constexpr std::array<char16_t, 128> kKoi8rHigh = {
    0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x251C, 0x2524,
    0x252C, 0x2534, 0x253C, 0x2580, 0x2584, 0x2588, 0x258C, 0x2590,
    0x2591, 0x2592, 0x2593, 0x2320, 0x25A0, 0x2219, 0x221A, 0x2248,
    0x2264, 0x2265, 0x00A0, 0x2321, 0x00B0, 0x00B2, 0x00B7, 0x00F7,
    0x2550, 0x2551, 0x2552, 0x0451, 0x2553, 0x2554, 0x2555, 0x2556,
    0x2557, 0x2558, 0x2559, 0x255A, 0x255B, 0x255C, 0x255D, 0x255E,
    0x255F, 0x2560, 0x2561, 0x0401, 0x2562, 0x2563, 0x2564, 0x2565,
    0x2566, 0x2567, 0x2568, 0x2569, 0x256A, 0x256B, 0x256C, 0x00A9,
    0x044E, 0x0430, 0x0431, 0x0446, 0x0434, 0x0435, 0x0444, 0x0433,
    0x0445, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E,
    0x043F, 0x044F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0436, 0x0432,
    0x044C, 0x044B, 0x0437, 0x0448, 0x044D, 0x0449, 0x0447, 0x044A,
    0x042E, 0x0410, 0x0411, 0x0426, 0x0414, 0x0415, 0x0424, 0x0413,
    0x0425, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E,
    0x041F, 0x042F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0416, 0x0412,
    0x042C, 0x042B, 0x0417, 0x0428, 0x042D, 0x0429, 0x0427, 0x042A,
};

namespace detail {
// A string literal as a template argument, for the _w literal below.
template <std::size_t N> struct Utf8Literal {
    char text[N]{};
    constexpr Utf8Literal(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
};

constexpr int cp1251_byte_of(char32_t c) {
    if (c < 0x80) return static_cast<int>(c);
    for (std::size_t i = 0; i < kCp1251High.size(); ++i)
        if (kCp1251High[i] == c && c != 0xFFFD) return static_cast<int>(0x80 + i);
    return '?';
}

// UTF-8 source text to Windows-1251 bytes at compile time.
template <Utf8Literal S> struct Cp1251Literal {
    static constexpr auto make() {
        std::array<char, sizeof(S.text)> out{};
        std::size_t o = 0;
        for (std::size_t i = 0; i + 1 < sizeof(S.text);) {
            auto b = static_cast<unsigned char>(S.text[i]);
            char32_t c;
            if (b < 0x80) { c = b; i += 1; }
            else if ((b & 0xE0) == 0xC0) { c = ((b & 0x1F) << 6) | (S.text[i + 1] & 0x3F); i += 2; }
            else if ((b & 0xF0) == 0xE0) { c = ((b & 0x0F) << 12) | ((S.text[i + 1] & 0x3F) << 6) | (S.text[i + 2] & 0x3F); i += 3; }
            else { c = '?'; i += 4; }
            out[o++] = static_cast<char>(cp1251_byte_of(c));
        }
        out[o] = '\0';
        return out;
    }
    static constexpr auto bytes = make();
};
} // namespace detail

// "Текст"_w : the Windows-1251 bytes of a UTF-8 source literal, converted at
// compile time; a zero-terminated const char* in static storage. Sources are
// UTF-8; every text the libraries hand out or write is Windows-1251.
template <detail::Utf8Literal S> constexpr const char *operator""_w() {
    return detail::Cp1251Literal<S>::bytes.data();
}

} // namespace tarmin::cp

#pragma GCC visibility pop

// Brings the _w literal into scope: using namespace tarmin::cp::literals;
namespace tarmin::cp::literals {
using tarmin::cp::operator""_w;
}
