// SPDX-License-Identifier: MIT
// Text helpers: decoding of the input code pages into UTF-8, UTF-8 character counts, and the
// letter-case-insensitive searches (A to Z only) the readers use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace workbook {

// Code page 850 (GAEB 90) and Windows-1252 to UTF-8; one character per byte, so the character
// count of the result equals the byte count of the input. Bytes that Windows-1252 leaves
// undefined become the C1 control of the same number.
std::string cp850_to_utf8(std::string_view bytes);
std::string cp1252_to_utf8(std::string_view bytes);
// Invalid UTF-8 sequences replaced byte by byte as Windows-1252.
std::string repair_utf8(std::string_view bytes);
bool is_valid_utf8(std::string_view bytes);

// Appends one code point as UTF-8; surrogates and values past U+10FFFF become U+FFFD.
void append_utf8(std::string& out, char32_t cp);
// UTF-16 and UTF-32 (without byte-order mark) to UTF-8: unpaired surrogates and code units cut off
// at the end become U+FFFD.
std::string utf16_to_utf8(std::string_view bytes, bool big_endian);
std::string utf32_to_utf8(std::string_view bytes, bool big_endian);

// Number of characters (code points) of UTF-8 text.
size_t utf8_length(std::string_view s);
// Byte offset of character `n` (or s.size()).
size_t utf8_offset(std::string_view s, size_t n);
// The first n characters: a fixed-capacity text field of n characters.
std::string_view utf8_prefix(std::string_view s, size_t n);
std::string_view utf8_substr(std::string_view s, size_t first, size_t count);

// ASCII letters compared without case; other bytes exactly.
size_t find_ci(std::string_view hay, std::string_view needle, size_t from = 0);
bool contains_ci(std::string_view hay, std::string_view needle);
bool equals_ci(std::string_view a, std::string_view b);
std::string to_upper_ascii(std::string_view s);

// Leading / trailing characters of code 0 to 32 removed.
std::string_view trim_left_ctl(std::string_view s);
std::string_view trim_right_ctl(std::string_view s);
std::string_view trim_ctl(std::string_view s);

// Every occurrence of `from` replaced by `to`.
std::string replace_all(std::string_view s, std::string_view from, std::string_view to);

}  // namespace workbook
