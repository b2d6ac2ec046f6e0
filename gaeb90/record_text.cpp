// SPDX-License-Identifier: MIT
#include "gaeb90/record_text.h"

#include <array>
#include <initializer_list>
#include <utility>

#include "workbook/errors.h"
#include "workbook/numbers.h"
#include "workbook/text.h"

namespace gaeb90 {

std::string_view field(std::string_view data_part, int first, int last) {
    // The data part begins at column 3.
    const auto offset = static_cast<size_t>(first - 3);
    if (first < 3 || last < first || offset >= data_part.size()) return {};
    return data_part.substr(offset, static_cast<size_t>(last - first + 1));
}

std::string ASCII2ANSI(std::string_view text) {
    if (text.empty()) return {};
    return workbook::cp850_to_utf8(text.substr(0, text.find('\0')));
}

std::string as_read(std::string_view bytes) {
    return workbook::cp850_to_utf8(bytes);
}

void text_cleanup(std::string& text, size_t capacity) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            text.replace(i, 1, "''");
            if (text.size() > capacity) text.resize(capacity);
            ++i;  // go on after the second apostrophe
        } else if (text[i] == '\t') {
            text[i] = ' ';
        }
    }
}

bool all_blanks(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

std::string_view trim_trailing_blanks(std::string_view text) {
    const size_t end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

MaskWidths count_mask(std::string_view mask) {
    MaskWidths w;
    for (char ch : mask) {
        switch (ch) {
            case '1':
                ++w.level1;
                break;
            case '2':
                ++w.level2;
                break;
            case '3':
                ++w.level3;
                break;
            case '4':
                ++w.level4;
                break;
            case 'P':
                ++w.item;
                break;
            case 'I':
                ++w.index;
                break;
            default:
                break;
        }
    }
    return w;
}

namespace {

// The parts of an OZ in mask order: level 1 to 4, item, index; each cut from where the previous
// one ended, shorter or empty where the text ends early.
std::array<std::string_view, 6> oz_parts(std::string_view oz, const MaskWidths& w) {
    const std::array<int, 6> widths{w.level1, w.level2, w.level3, w.level4, w.item, w.index};
    std::array<std::string_view, 6> parts;
    size_t pos = 0;
    for (size_t k = 0; k < parts.size(); ++k) {
        const auto n = static_cast<size_t>(widths[k]);
        parts[k] = pos < oz.size() ? oz.substr(pos, n) : std::string_view();
        pos += n;
    }
    return parts;
}

}  // namespace

std::string group_oz_dotted(std::string_view group_oz, const MaskWidths& w) {
    const auto p = oz_parts(group_oz, w);
    const size_t len = group_oz.size();
    const auto L1 = static_cast<size_t>(w.level1), L2 = static_cast<size_t>(w.level2);
    const auto L3 = static_cast<size_t>(w.level3), L4 = static_cast<size_t>(w.level4);
    std::string dotted;
    auto join = [&](size_t levels) {
        dotted.clear();
        for (size_t k = 0; k < levels; ++k) {
            if (k > 0) dotted += '.';
            dotted += p[k];
        }
    };
    // Each test that holds replaces the result of the ones before.
    if (L1 > 0 && len == L1) join(1);
    if (L2 > 0 && len == L1 + L2) join(2);
    if (L3 > 0 && len == L1 + L2 + L3) join(3);
    if (L4 > 0 && len == L1 + L2 + L3 + L4) join(4);
    return dotted;
}

std::string format_item_oz(std::string_view oz_field, const MaskWidths& w) {
    const auto p = oz_parts(oz_field, w);
    const int L1 = w.level1, L2 = w.level2, L3 = w.level3, L4 = w.level4, P = w.item, X = w.index;
    std::string result;
    auto append = [&result](std::initializer_list<std::string_view> pieces) {
        for (std::string_view piece : pieces) result += piece;
    };
    // Each step that applies changes the result.
    if (L1 > 0) result = std::string(p[0]) + ".";
    if (L1 > 0 && L2 == 0 && L3 == 0 && P > 0) append({p[4]});
    if (L2 > 0 && L3 == 0) append({p[1], ".", p[4]});
    if (L2 > 0 && L3 > 0 && L4 == 0) append({p[1], ".", p[2], ".", p[4]});
    if (L2 > 0 && L3 > 0 && L4 > 0) append({p[1], ".", p[2], ".", p[3], ".", p[4]});
    if (L1 == 0 && L2 == 0 && L3 == 0 && L4 == 0) result = std::string(p[4]);
    // The index only counts when its last character, at position L1+L2+L3+L4+P+X, is no blank.
    const auto last = static_cast<size_t>(L1 + L2 + L3 + L4 + P + X);
    if (X > 0 && last <= oz_field.size() && oz_field[last - 1] != ' ') append({".", p[5]});
    return result;
}

std::string number_text(std::string_view integer_part, std::string_view decimal_part) {
    std::string text;
    text.reserve(integer_part.size() + decimal_part.size() + 1);
    text += integer_part;
    text += '.';
    text += decimal_part;
    return std::string(workbook::trim_ctl(text));
}

double to_number(std::string_view text) {
    // Digits, sign and point are the same in code page 850 and UTF-8.
    return workbook::require_decimal(as_read(text));
}

std::string_view kind_label(std::string_view code) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kKinds{{
        {"NNN", "*** Normalposition, Typ NNN"},
        {"NEN", "*** Bedarfsposition ohne G-Preis, Typ NEN"},
        {"NMN", "*** Bedarfsposition mit G-Preis, Typ NMN"},
        {"ANN", "*** Alternativposition, Typ ANN"},
        {"GNN", "*** Grundposition, Typ GNN"},
        {"NNL", "*** Leitende Position, Typ NNL"},
    }};
    for (const auto& [kind, label] : kKinds)
        if (code == kind) return label;
    return {};
}

}  // namespace gaeb90
