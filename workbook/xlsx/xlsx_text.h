// SPDX-License-Identifier: MIT
// Texts on their way into the file: cell texts made safe for the file format, the document
// properties and the page footer. Shared by both writers, so that they put the same text in.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "workbook/sheet.h"

namespace workbook::xlsx {

// The file format holds at most 32767 characters per cell and 255 per header or footer.
inline constexpr size_t kMaxCellCharacters = 32767;
inline constexpr size_t kMaxFooter = 255;

// Texts as the file format wants them: valid UTF-8 without characters XML cannot hold, a
// literal "_xHHHH_" protected from being read as an escape (the library escapes only control
// characters), and at most 32767 characters.
class TextCleaner {
public:
    const std::string& clean(std::string_view in, bool limit_length) {
        m_out.clear();
        size_t characters = 0;
        for (size_t i = 0; i < in.size();) {
            if (limit_length && characters == kMaxCellCharacters) break;
            const auto b = static_cast<unsigned char>(in[i]);
            if (b < 0x80) {
                if (b == 0) {
                    m_out += kReplacement;
                } else {
                    if (b == '_' && is_escape_lookalike(in, i)) m_out += "_x005F";
                    m_out.push_back(static_cast<char>(b));
                }
                ++i;
            } else if (const size_t n = sequence_length(in, i)) {
                const uint32_t cp = code_point(in, i, n);
                if (cp == 0xFFFE || cp == 0xFFFF)
                    m_out += kReplacement;
                else
                    m_out.append(in.data() + i, n);
                i += n;
            } else {
                m_out += kReplacement;
                ++i;
            }
            ++characters;
        }
        return m_out;
    }

private:
    static constexpr const char* kReplacement = "\xEF\xBF\xBD";

    static bool is_escape_lookalike(std::string_view s, size_t i) {
        if (i + 7 > s.size() || s[i + 1] != 'x' || s[i + 6] != '_') return false;
        for (size_t k = i + 2; k < i + 6; ++k)
            if (!std::isxdigit(static_cast<unsigned char>(s[k]))) return false;
        return true;
    }

    // Length of a well-formed UTF-8 sequence at i (no overlongs, no surrogates), or 0.
    static size_t sequence_length(std::string_view s, size_t i) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        size_t n;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF)
            n = 2;
        else if (b0 == 0xE0)
            n = 3, lo = 0xA0;
        else if (b0 == 0xED)
            n = 3, hi = 0x9F;
        else if (b0 >= 0xE1 && b0 <= 0xEF)
            n = 3;
        else if (b0 == 0xF0)
            n = 4, lo = 0x90;
        else if (b0 >= 0xF1 && b0 <= 0xF3)
            n = 4;
        else if (b0 == 0xF4)
            n = 4, hi = 0x8F;
        else
            return 0;
        if (i + n > s.size()) return 0;
        const auto b1 = static_cast<unsigned char>(s[i + 1]);
        if (b1 < lo || b1 > hi) return 0;
        for (size_t k = 2; k < n; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if (b < 0x80 || b > 0xBF) return 0;
        }
        return n;
    }

    static uint32_t code_point(std::string_view s, size_t i, size_t n) {
        static constexpr unsigned char kLeadMask[] = {0, 0, 0x1F, 0x0F, 0x07};
        uint32_t cp = static_cast<unsigned char>(s[i]) & kLeadMask[n];
        for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        return cp;
    }

    std::string m_out;
};

// Text for the document properties and the page footer: valid UTF-8 without control characters,
// which those parts of the file cannot hold (the library escapes them only in cells).
std::string document_text(std::string_view in);

// The footer as the file holds it: "&L", "&C" and "&R" before the parts there are, at most
// the 255 characters the file format allows, never ending in half an "&&".
std::string footer_codes(const PageSetup& p);

}  // namespace workbook::xlsx
