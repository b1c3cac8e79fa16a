// Code pages of the suite: Windows-1251 (the system code page), KOI8-R
// (RFC 1489) and UTF-8. One table serves every module.
#pragma once

#include <string>
#include <string_view>

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

} // namespace tarmin::cp
