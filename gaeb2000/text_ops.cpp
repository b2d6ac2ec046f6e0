// SPDX-License-Identifier: MIT
#include "gaeb2000/text_ops.h"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include "workbook/errors.h"
#include "workbook/numbers.h"
#include "workbook/oz.h"
#include "workbook/text.h"

namespace gaeb2000 {
namespace {

// The k-th mask character (0-based) as a level length.
int mask_digit(std::string_view maske, size_t k) {
    const std::string_view ch = workbook::utf8_substr(maske, k, 1);
    if (ch.size() != 1 || ch[0] < '0' || ch[0] > '9')
        throw workbook::ConvertError(fmt::format("'{}' ist kein gültiger ganzzahliger Wert", ch));
    return ch[0] - '0';
}

}  // namespace

std::string field(std::string_view s, size_t capacity) {
    return std::string(workbook::utf8_prefix(s, capacity));
}

std::string DeleteLineKey(std::string_view textkey, std::string_view textline) {
    const size_t at = find_key(textline, textkey);
    if (at == std::string_view::npos) return std::string(textline);
    std::string out;
    out.reserve(textline.size() - textkey.size());
    out.append(textline.substr(0, at));
    out.append(textline.substr(at + textkey.size()));
    return out;
}

std::string key_value(std::string_view line, std::string_view key) {
    return DeleteLineKey("[end]", DeleteLineKey(key, line));
}

std::string key_value(std::string_view line, std::string_view key, size_t capacity) {
    // Removing keys only shortens the text: one cut of the line equals a cut after every step.
    return key_value(workbook::utf8_prefix(line, capacity), key);
}

std::string key_text(const LineList& lines, int64_t first, std::string_view key, size_t capacity,
                     int64_t* last) {
    if (last) *last = first;
    const std::string_view head = lines.line(first);
    const auto single = [&] { return capacity > 0 ? key_value(head, key, capacity) : key_value(head, key); };
    const std::string from_key = DeleteLineKey(key, head);
    if (holds_key(from_key, "[end]")) return single();
    std::string text(workbook::trim_right_ctl(from_key));
    for (int64_t j = first + 1; j < lines.size(); ++j) {
        const std::string_view piece = workbook::trim_ctl(lines.line(j));
        const size_t end = find_key(piece, "[end]");
        // Another key or a block line: the text has ended without "[end]".
        if (piece.starts_with('#') || (piece.starts_with('[') && end != 0)) break;
        const std::string_view part =
            workbook::trim_right_ctl(end == std::string_view::npos ? piece : piece.substr(0, end));
        if (!part.empty() && !text.empty()) text.push_back(' ');
        text.append(part);
        if (end != std::string_view::npos) {
            // What follows "[end]" on its line stays, as key_value keeps it.
            text.append(piece.substr(end + 5));
            if (last) *last = j;
            return capacity > 0 ? field(text, capacity) : text;
        }
    }
    return single();
}

void MoveBereich(LineList& source, int64_t b, int64_t e, LineList& target) {
    if (e < b) return;
    for (int64_t i = b; i <= e; ++i) target.append(workbook::trim_left_ctl(source.line(i)));
    source.erase(b, e);
}

void move_lines_untrimmed(LineList& source, int64_t b, int64_t e, LineList& target) {
    if (e < b) return;
    for (int64_t i = b; i <= e; ++i) target.append(source.line(i));
    source.erase(b, e);
}

namespace {

// The number less its blanks and control characters.
std::string without_blanks(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s)
        if (static_cast<unsigned char>(ch) > 32) out.push_back(ch);
    return out;
}

// Characters [from, from + count) of s, counted as characters; "" past the end.
std::string_view chars(std::string_view s, size_t from, size_t count) {
    return workbook::utf8_substr(s, from, count);
}

}  // namespace

std::string FormatBereich(std::string_view bereich, std::string_view maske) {
    if (bereich.empty()) return {};
    if (maske.empty()) return without_blanks(bereich);
    const size_t length = workbook::utf8_length(bereich);
    const size_t levels = workbook::utf8_length(maske) - 1;
    std::string out;
    size_t at = 0;
    for (size_t k = 0; k < levels && at < length; ++k) {
        const int width = mask_digit(maske, k);
        out += workbook::oz_range_part(without_blanks(chars(bereich, at, static_cast<size_t>(width))), width);
        at += static_cast<size_t>(width);
    }
    if (at < length) out += without_blanks(chars(bereich, at, length - at));
    return out;
}

std::string FormatPosition(std::string_view position, std::string_view maske) {
    if (position.empty()) return {};
    if (maske.empty()) return without_blanks(position);
    const size_t length = workbook::utf8_length(position);
    const size_t levels = workbook::utf8_length(maske) - 1;
    std::string out;
    size_t at = 0;
    for (size_t k = 0; k < levels; ++k) {
        const int width = mask_digit(maske, k);
        out +=
            workbook::oz_range_part(without_blanks(chars(position, at, static_cast<size_t>(width))), width);
        at += static_cast<size_t>(width);
    }
    const std::string item = at < length ? without_blanks(chars(position, at, length - at)) : std::string();
    return out + workbook::oz_item_part(item, mask_digit(maske, levels));
}

std::string remove_pictures(std::string_view text) {
    static constexpr std::string_view kPict = "{\\pict";
    if (text.find(kPict) == std::string_view::npos) return std::string(text);
    const size_t n = text.size();
    std::string out;
    size_t from = 0;
    for (size_t at; (at = text.find(kPict, from)) != std::string_view::npos;) {
        // The picture ends with its own closing brace: braces counted forward, escaped braces and
        // \bin data skipped. What follows the picture is text again.
        size_t i = at + 1;
        int64_t depth = 1;
        while (i < n && depth > 0) {
            const char ch = text[i++];
            if (ch == '{') {
                ++depth;
            } else if (ch == '}') {
                --depth;
            } else if (ch == '\\' && i < n) {
                if (text.compare(i, 3, "bin") != 0) {
                    ++i;
                    continue;
                }
                i += 3;
                uint64_t count = 0;
                while (i < n && text[i] >= '0' && text[i] <= '9') {
                    if (count < n) count = count * 10 + static_cast<uint64_t>(text[i] - '0');
                    ++i;
                }
                if (i < n && text[i] == ' ') ++i;
                i += static_cast<size_t>(std::min<uint64_t>(count, n - i));
            }
        }
        if (depth > 0) break;  // the picture's end cannot be found: the removal ends, the rest stays
        out.append(text.substr(from, at - from));
        from = i;
    }
    out.append(text.substr(from));
    return out;
}

std::string delete_all(std::string_view s, std::string_view what) {
    return workbook::replace_all(s, what, "");
}

std::string tabs_to_blanks(std::string_view text) {
    std::string s(text);
    std::replace(s.begin(), s.end(), '\t', ' ');
    if (workbook::trim_left_ctl(s).substr(0, 5) != "{\\rtf" && s.find("\\tab") != std::string::npos)
        s = workbook::replace_all(s, "\\tab", " ");
    return s;
}

std::string clean_long_text(std::string_view text) {
    std::string s = remove_pictures(text);
    size_t lead = 0;
    while (s.compare(lead, 2, "\r\n") == 0) lead += 2;
    s.erase(0, lead);
    s = tabs_to_blanks(s);
    auto remove = [&s](std::string_view what) {
        if (s.find(what) != std::string::npos) s = workbook::replace_all(s, what, "");
    };
    if (s.find("TB") != std::string::npos)
        for (int n = 61; n <= 80; ++n) remove(fmt::format("TB{}", n));
    if (s.find("Feld") != std::string::npos)
        for (int n = 61; n <= 80; ++n) remove(fmt::format("Feld{}", n));
    return s;
}

namespace {

// The character of a numeric reference; 128 to 159 as Windows-1252 bytes.
void append_reference(std::string& out, uint64_t value) {
    if (value >= 128 && value <= 159) {
        const char byte = static_cast<char>(value);
        out += workbook::cp1252_to_utf8(std::string_view(&byte, 1));
    } else if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        out += "\uFFFD";
    } else {
        workbook::append_utf8(out, static_cast<char32_t>(value));
    }
}

// The length of the reference that starts at text[at] ("&"), its character appended to out; 0
// when no reference starts there.
size_t reference_at(std::string_view text, size_t at, std::string& out) {
    static constexpr std::pair<std::string_view, std::string_view> kEntities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""}, {"&apos;", "'"}};
    const std::string_view rest = text.substr(at);
    for (const auto& [name, character] : kEntities)
        if (rest.substr(0, name.size()) == name) {
            out += character;
            return name.size();
        }
    if (rest.size() < 4 || rest[1] != '#') return 0;
    const bool hex = rest[2] == 'x' || rest[2] == 'X';
    size_t i = hex ? 3 : 2;
    const size_t first = i;
    uint64_t value = 0;
    for (; i < rest.size(); ++i) {
        const char ch = rest[i];
        int digit = -1;
        if (ch >= '0' && ch <= '9')
            digit = ch - '0';
        else if (hex && ch >= 'a' && ch <= 'f')
            digit = ch - 'a' + 10;
        else if (hex && ch >= 'A' && ch <= 'F')
            digit = ch - 'A' + 10;
        if (digit < 0) break;
        if (value <= 0x10FFFF) value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    }
    if (i == first || i >= rest.size() || rest[i] != ';') return 0;
    append_reference(out, value);
    return i + 1;
}

}  // namespace

std::string decode_references(std::string_view text) {
    if (text.find('&') == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t from = 0;
    for (size_t at; (at = text.find('&', from)) != std::string_view::npos;) {
        out.append(text.substr(from, at - from));
        const size_t n = reference_at(text, at, out);
        if (n == 0) out.push_back('&');
        from = at + std::max<size_t>(n, 1);
    }
    out.append(text.substr(from));
    return out;
}

std::string cell_text(std::string_view text) {
    std::string s = decode_references(text);
    std::replace(s.begin(), s.end(), '\t', ' ');
    return s;
}

double gaeb_number(std::string_view text) {
    std::string s(workbook::trim_ctl(text));
    if (s.find('.') == std::string::npos) {
        const size_t comma = s.find(',');
        if (comma != std::string::npos && s.find(',', comma + 1) == std::string::npos) s[comma] = '.';
    }
    const std::optional<double> value = workbook::parse_decimal(s);
    if (!value) throw workbook::ConvertError(fmt::format("'{}' ist kein gültiger Gleitkommawert", text));
    return *value;
}

std::optional<std::string> long_text_of(const LineList& holder, int64_t bB, int64_t eB) {
    // In RTF the line breaks of the source only end a control word; the reader drops them.
    std::string joined;
    for (int64_t i = bB + 1; i <= eB - 1; ++i) {
        joined.append(holder.line(i));
        joined.append("\r\n");
    }
    const std::string_view trimmed = workbook::trim_left_ctl(joined);
    const size_t at = find_key(trimmed, "[Langtext]");
    if (at == std::string_view::npos) return std::nullopt;
    const std::string from_key = DeleteLineKey("[end]", DeleteLineKey("[Langtext]", trimmed.substr(at)));
    return clean_long_text(from_key);
}

}  // namespace gaeb2000
