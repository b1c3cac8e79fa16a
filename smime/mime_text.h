// Text encodings of the S/MIME messages: base64 in 64-character lines,
// RFC 2047 encoded words in KOI8-R for part names, hexadecimal names, the
// date format, and the message charset.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tarmin::smime {

// Standard base64 with '=' padding, 48 input bytes (64 characters) to a line,
// every line ending in CR LF, the last one too; nothing for no input.
std::string base64_lines(std::string_view data);
// The length of base64_lines of n bytes, and the same text written to out
// (room for that length); returns the end of what was written.
size_t base64_lines_size(size_t n);
char *base64_lines_into(char *out, std::string_view data);
// Decodes base64 text, ignoring line ends and blanks; nullopt for any other
// character outside the alphabet or a cut quantum.
std::optional<std::string> base64_decode(std::string_view text);

// A part name as RFC 2047 encoded words: Windows-1251 to KOI8-R (characters
// without a KOI8-R code become 'E'), at most 30 bytes a word, words joined by
// CR LF.
std::string rfc2047_koi8r(std::string_view name_1251);
// Every byte as two upper-case hexadecimal digits.
std::string hex_text(std::string_view bytes);
// The bytes of hexadecimal text (either case); nullopt for an odd length or
// a character that is not a digit.
std::optional<std::string> hex_bytes(std::string_view text);
// The hash text: each byte "%02X", bytes separated by one blank.
std::string hash_text(std::string_view hash);

// "Sun, 5 Jan 2025 10:01:02 GMT" of a UTC time.
std::string gmt_date(std::time_t utc);
// 100-nanosecond intervals since 1601 <-> seconds since 1970.
std::time_t filetime_to_time(uint64_t filetime);
uint64_t time_to_filetime(std::time_t t);
// Parses "Sun, 5 Jan 2025 10:01:02 ..." (day and month names in exact case,
// day and year not 0, the zone ignored) as UTC; nullopt otherwise.
std::optional<std::time_t> parse_gmt_date(std::string_view text);

// The message charset: empty or "windows-1251" (any case) keeps Windows-1251.
bool is_cp1251_charset(std::string_view charset);
// Windows-1251 text into the charset (UTF-8 for any other charset); a text
// that does not convert is passed on unchanged.
std::string to_charset(std::string_view text_1251, std::string_view charset);
// Text of the charset back into Windows-1251, likewise.
std::string from_charset(std::string_view text, std::string_view charset);

// printf into a string (texts of headers and detail lines, cut at 512 bytes).
std::string printf_string(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Case-insensitive comparison (Latin and Cyrillic, Windows-1251).
bool iequals(std::string_view a, std::string_view b);
// Whether a part name is a signature file: "TMNSIGN.TMS" in any case, or
// exactly "ЭЦП.tms".
bool is_sign_file_name(std::string_view name_1251);

} // namespace tarmin::smime
