// SPDX-License-Identifier: MIT
#include "gaeb90/record_text.h"

#include <array>
#include <utility>

#include "workbook/errors.h"
#include "workbook/numbers.h"
#include "workbook/oz.h"
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

void text_cleanup(std::string& text) {
    for (char& ch : text)
        if (ch == '\t') ch = ' ';
}

bool all_blanks(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

std::string_view trim_trailing_blanks(std::string_view text) {
    const size_t end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::string cell_text(std::string_view text) {
    return std::string(trim_trailing_blanks(ASCII2ANSI(text)));
}

std::string cell_text_as_read(std::string_view bytes) {
    return std::string(trim_trailing_blanks(as_read(bytes)));
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

// A level of an OZ as its digits: the blanks of a right-aligned field dropped.
std::string without_blanks(std::string_view part) {
    std::string out;
    for (char ch : part)
        if (ch != ' ') out += ch;
    return out;
}

}  // namespace

std::string group_oz_dotted(std::string_view group_oz, const MaskWidths& w) {
    const auto p = oz_parts(group_oz, w);
    const size_t len = group_oz.size();
    const std::array<int, 4> widths{w.level1, w.level2, w.level3, w.level4};
    std::string dotted;
    auto join = [&](size_t levels) {
        dotted.clear();
        for (size_t k = 0; k < levels; ++k)
            dotted += workbook::oz_range_part(without_blanks(p[k]), widths[k]);
        dotted.pop_back();  // the dot after the last level
    };
    // Each test that holds replaces the result of the ones before.
    size_t sum = 0;
    for (size_t k = 0; k < widths.size(); ++k) {
        sum += static_cast<size_t>(widths[k]);
        if (widths[k] > 0 && len == sum) join(k + 1);
    }
    return dotted;
}

std::string group_label(std::string_view group_oz_dotted, std::string_view title) {
    std::string label = "LV-Gruppe ";
    label += group_oz_dotted;
    if (!all_blanks(title)) {
        label += " - ";
        label += title;
    }
    return cell_text(label);
}

std::string format_item_oz(std::string_view oz_field, const MaskWidths& w) {
    const auto p = oz_parts(oz_field, w);
    const std::array<int, 4> levels{w.level1, w.level2, w.level3, w.level4};
    std::string result;
    for (size_t k = 0; k < levels.size(); ++k)
        if (levels[k] > 0) result += workbook::oz_range_part(without_blanks(p[k]), levels[k]);
    result += workbook::oz_item_part(without_blanks(p[4]), w.item);
    // The index only counts when its last character, at position L1+L2+L3+L4+P+X, is no blank.
    const auto last = static_cast<size_t>(w.level1 + w.level2 + w.level3 + w.level4 + w.item + w.index);
    if (w.index > 0 && last <= oz_field.size() && oz_field[last - 1] != ' ')
        result += "." + workbook::oz_item_part(without_blanks(p[5]), w.index);
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

}  // namespace gaeb90
