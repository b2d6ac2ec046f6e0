// SPDX-License-Identifier: MIT
// Cell addresses: the size of a sheet, rectangles of cells and the A1 notation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace workbook {

// A rectangle of cells; whole columns have rows 1..kMaxRow, whole rows columns 1..kMaxCol.
inline constexpr int32_t kMaxRow = 1048576;
inline constexpr int32_t kMaxCol = 16384;

struct Range {
    int32_t row1 = 1, col1 = 1, row2 = 1, col2 = 1;
    bool whole_columns() const { return row1 == 1 && row2 == kMaxRow; }
    bool whole_rows() const { return col1 == 1 && col2 == kMaxCol; }

    static Range cell(int32_t row, int32_t col) { return {row, col, row, col}; }
    static Range columns(int32_t col1, int32_t col2) { return {1, col1, kMaxRow, col2}; }
    static Range rows(int32_t row1, int32_t row2) { return {row1, 1, row2, kMaxCol}; }
    // "A1", "A1:B1", "C:C", "E:H", "12:20", with or without "$". Throws WorkbookError.
    static Range parse(std::string_view address);
};

// Column letters of a 1-based column number: 1 -> "A", 28 -> "AB".
std::string column_letters(int32_t col);

}  // namespace workbook
