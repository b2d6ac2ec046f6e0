// SPDX-License-Identifier: MIT
#include "workbook/text.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace workbook {
namespace {

// The 256 characters of a single-byte code page, read once from glibc's iconv; bytes the code
// page leaves undefined map to the code point of the same number.
using CodePage = std::array<std::string, 256>;

CodePage load_code_page(const char* name) {
    CodePage table;
    iconv_t cd = iconv_open("UTF-8", name);
    for (int b = 0; b < 256; ++b) {
        std::string fallback;
        append_utf8(fallback, static_cast<char32_t>(b));
        table[static_cast<size_t>(b)] = fallback;
        if (cd == reinterpret_cast<iconv_t>(-1)) continue;
        char in = static_cast<char>(b);
        char out[8] = {};
        char* in_ptr = &in;
        char* out_ptr = out;
        size_t in_left = 1, out_left = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) != static_cast<size_t>(-1) && in_left == 0)
            table[static_cast<size_t>(b)] = std::string(out, static_cast<size_t>(out_ptr - out));
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    return table;
}

const CodePage& cp850() {
    static const CodePage table = load_code_page("CP850");
    return table;
}
const CodePage& cp1252() {
    static const CodePage table = load_code_page("WINDOWS-1252");
    return table;
}

std::string decode(std::string_view bytes, const CodePage& table) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (unsigned char b : bytes) {
        if (b < 0x80)
            out.push_back(static_cast<char>(b));
        else
            out += table[b];
    }
    return out;
}

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t utf8_sequence(std::string_view s, size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return 1;
    size_t n = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

}  // namespace

void append_utf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string cp850_to_utf8(std::string_view bytes) {
    return decode(bytes, cp850());
}
std::string cp1252_to_utf8(std::string_view bytes) {
    return decode(bytes, cp1252());
}

bool is_valid_utf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = utf8_sequence(bytes, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string repair_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = utf8_sequence(bytes, i);
        if (n == 0) {
            out += cp1252()[static_cast<unsigned char>(bytes[i])];
            ++i;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string utf16_to_utf8(std::string_view bytes, bool big_endian) {
    std::string out;
    out.reserve(bytes.size());
    const size_t units = bytes.size() / 2;
    auto unit = [&](size_t i) -> uint32_t {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return big_endian ? (uint32_t{a} << 8 | b) : (uint32_t{b} << 8 | a);
    };
    for (size_t i = 0; i < units; ++i) {
        const uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const uint32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        append_utf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
    }
    if (bytes.size() % 2 != 0) append_utf8(out, 0xFFFD);  // a dangling byte at the end
    return out;
}

std::string utf32_to_utf8(std::string_view bytes, bool big_endian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        uint32_t cp = 0;
        for (size_t k = 0; k < 4; ++k)
            cp |= uint32_t{static_cast<unsigned char>(bytes[i + k])} << (big_endian ? 8 * (3 - k) : 8 * k);
        append_utf8(out, cp);
    }
    if (bytes.size() % 4 != 0) append_utf8(out, 0xFFFD);
    return out;
}

size_t utf8_length(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

size_t utf8_offset(std::string_view s, size_t n) {
    size_t count = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (count == n) return i;
            ++count;
        }
    }
    return s.size();
}

std::string_view utf8_prefix(std::string_view s, size_t n) {
    return s.substr(0, utf8_offset(s, n));
}

std::string_view utf8_substr(std::string_view s, size_t first, size_t count) {
    const size_t begin = utf8_offset(s, first);
    std::string_view rest = s.substr(begin);
    return rest.substr(0, utf8_offset(rest, count));
}

size_t find_ci(std::string_view hay, std::string_view needle, size_t from) {
    if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
    if (needle.size() > hay.size()) return std::string_view::npos;
    const unsigned char first = lower(static_cast<unsigned char>(needle[0]));
    for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
        if (lower(static_cast<unsigned char>(hay[i])) != first) continue;
        size_t k = 1;
        while (k < needle.size() &&
               lower(static_cast<unsigned char>(hay[i + k])) == lower(static_cast<unsigned char>(needle[k])))
            ++k;
        if (k == needle.size()) return i;
    }
    return std::string_view::npos;
}

bool contains_ci(std::string_view hay, std::string_view needle) {
    return find_ci(hay, needle) != std::string_view::npos;
}

bool equals_ci(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

std::string to_upper_ascii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
}

std::string_view trim_left_ctl(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
    return s.substr(i);
}

std::string_view trim_right_ctl(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && static_cast<unsigned char>(s[n - 1]) <= 32) --n;
    return s.substr(0, n);
}

std::string_view trim_ctl(std::string_view s) {
    return trim_right_ctl(trim_left_ctl(s));
}

std::string replace_all(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(s);
    std::string out;
    out.reserve(s.size());
    size_t pos = 0;
    while (true) {
        const size_t hit = s.find(from, pos);
        if (hit == std::string_view::npos) break;
        out.append(s.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(s.substr(pos));
    return out;
}

}  // namespace workbook
