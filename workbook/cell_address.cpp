// SPDX-License-Identifier: MIT
#include "workbook/cell_address.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "workbook/errors.h"

namespace workbook {

std::string column_letters(int32_t col) {
    std::string letters;
    while (col > 0) {
        const int32_t rem = (col - 1) % 26;
        letters.insert(letters.begin(), static_cast<char>('A' + rem));
        col = (col - 1) / 26;
    }
    return letters;
}

namespace {

// One side of an address: "$A$1", "A1", "C", "$7".
struct AddressPart {
    int32_t row = 0, col = 0;
};

AddressPart parse_part(std::string_view s, std::string_view whole) {
    AddressPart p;
    size_t i = 0;
    if (i < s.size() && s[i] == '$') ++i;
    int64_t col = 0;
    while (i < s.size() && ((s[i] >= 'A' && s[i] <= 'Z') || (s[i] >= 'a' && s[i] <= 'z'))) {
        col = col * 26 + (std::toupper(static_cast<unsigned char>(s[i])) - 'A' + 1);
        if (col > kMaxCol) throw WorkbookError(fmt::format("Ungültiger Bereich: {}", whole));
        ++i;
    }
    if (i < s.size() && s[i] == '$') ++i;
    int64_t row = 0;
    size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        row = row * 10 + (s[i] - '0');
        if (row > kMaxRow) throw WorkbookError(fmt::format("Ungültiger Bereich: {}", whole));
        ++i, ++digits;
    }
    if (i != s.size() || (col == 0 && digits == 0) || (digits > 0 && row == 0))
        throw WorkbookError(fmt::format("Ungültiger Bereich: {}", whole));
    p.col = static_cast<int32_t>(col);
    p.row = static_cast<int32_t>(row);
    return p;
}

}  // namespace

Range Range::parse(std::string_view address) {
    const size_t colon = address.find(':');
    const std::string_view a = address.substr(0, colon);
    const std::string_view b = colon == std::string_view::npos ? a : address.substr(colon + 1);
    AddressPart p1 = parse_part(a, address), p2 = parse_part(b, address);
    Range r;
    if (p1.row == 0 && p2.row == 0) {  // whole columns
        r = Range::columns(p1.col, p2.col);
    } else if (p1.col == 0 && p2.col == 0) {  // whole rows
        r = Range::rows(p1.row, p2.row);
    } else if (p1.row && p1.col && p2.row && p2.col) {
        r = {p1.row, p1.col, p2.row, p2.col};
    } else {
        throw WorkbookError(fmt::format("Ungültiger Bereich: {}", address));
    }
    if (r.row1 > r.row2) std::swap(r.row1, r.row2);
    if (r.col1 > r.col2) std::swap(r.col1, r.col2);
    return r;
}

}  // namespace workbook
