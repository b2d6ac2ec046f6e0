// SPDX-License-Identifier: MIT
#include "workbook/sheet.h"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "workbook/errors.h"
#include "workbook/numbers.h"
#include "workbook/text.h"
#include "workbook/workbook.h"

namespace workbook {

int palette_rgb(int color_index) {
    switch (color_index) {
        case 1:
            return 0x000000;
        case 2:
            return 0xFFFFFF;
        case 3:
            return 0xFF0000;
        case 15:
            return 0xC0C0C0;
        case 34:
            return 0xCCFFFF;
        case 36:
            return 0xFFFF99;
        default:
            return -1;
    }
}

namespace {

void check_cell(int32_t row, int32_t col) {
    if (row < 1 || row > kMaxRow || col < 1 || col > kMaxCol)
        throw WorkbookError(fmt::format("Ungültige Zellposition: Zeile {}, Spalte {}", row, col));
}

const CellFormat kNoFormat{};
const std::vector<Sheet::Cell> kNoCells{};

}  // namespace

CellFormat merged(const CellFormat& base, const CellFormat& over) {
    CellFormat m = base;
    if (over.bold) m.bold = over.bold;
    if (over.font_color) m.font_color = over.font_color;
    if (over.fill) m.fill = over.fill;
    if (over.border) m.border = over.border;
    if (over.halign) m.halign = over.halign;
    if (over.number_format) m.number_format = over.number_format;
    return m;
}

Sheet::Sheet(Workbook* book, std::string name) : m_book(book), m_name(std::move(name)) {}

void Sheet::set_name(std::string name) {
    if (name.empty() || utf8_length(name) > 31 || name.find_first_of(":\\/?*[]") != std::string::npos)
        throw WorkbookError(fmt::format("Ungültiger Tabellenname: {}", name));
    for (Sheet* other : m_book->sheets_in_tab_order())
        if (other != this && equals_ci(other->name(), name))
            throw WorkbookError(fmt::format("Der Tabellenname {} wird bereits verwendet.", name));
    m_name = std::move(name);
}

void Sheet::Select() {
    m_book->activate(*this);
}

// The row table grows to powers of two whatever order the rows come in (a layout may write its
// column heads before the rows above them): while it moves, old and new table stand side by side,
// and that peak then depends on the sheet's size only.
void Sheet::grow_rows(int32_t rows) {
    const auto n = static_cast<size_t>(rows);
    if (n <= m_rows.size()) return;
    if (n > m_rows.capacity()) m_rows.reserve(std::bit_ceil(n));
    m_rows.resize(n);
    m_outline.resize(n, 0);
}

Sheet::Cell& Sheet::cell_for_write(int32_t row, int32_t col) {
    check_cell(row, col);
    grow_rows(row);
    auto& cells = m_rows[static_cast<size_t>(row - 1)];
    auto it =
        std::lower_bound(cells.begin(), cells.end(), col, [](const Cell& c, int32_t k) { return c.col < k; });
    if (it != cells.end() && it->col == col) return *it;
    Cell fresh;
    fresh.col = col;
    return *cells.insert(it, fresh);
}

const Sheet::Cell* Sheet::find(int32_t row, int32_t col) const {
    if (row < 1 || static_cast<size_t>(row) > m_rows.size()) return nullptr;
    const auto& cells = m_rows[static_cast<size_t>(row - 1)];
    auto it =
        std::lower_bound(cells.begin(), cells.end(), col, [](const Cell& c, int32_t k) { return c.col < k; });
    return (it != cells.end() && it->col == col) ? &*it : nullptr;
}

void Sheet::set_value(int32_t row, int32_t col, std::string_view text) {
    Cell& c = cell_for_write(row, col);
    c.kind = CellKind::Text;
    c.str = m_book->strings().add(text);
    c.num = 0;
}

void Sheet::set_value(int32_t row, int32_t col, double number) {
    if (!std::isfinite(number)) throw WorkbookError("Ungültiger Zahlenwert");
    Cell& c = cell_for_write(row, col);
    c.kind = CellKind::Number;
    c.num = number;
    c.str = 0;
}

void Sheet::set_formula(int32_t row, int32_t col, std::string_view formula) {
    Cell& c = cell_for_write(row, col);
    if (formula.empty() || formula[0] != '=') {
        // The application takes a formula without "=" as a plain value.
        if (auto n = parse_decimal(formula)) {
            c.kind = CellKind::Number;
            c.num = *n;
        } else {
            c.kind = formula.empty() ? CellKind::Empty : CellKind::Text;
            c.str = m_book->strings().add(formula);
        }
        return;
    }
    c.kind = CellKind::Formula;
    c.str = m_book->strings().add(formula);
    c.num = 0;
}

void Sheet::clear(int32_t row, int32_t col) {
    check_cell(row, col);
    if (const Cell* found = find(row, col)) {
        Cell& c = const_cast<Cell&>(*found);
        c.kind = CellKind::Empty;
        c.str = 0;
        c.num = 0;
    }
}

CellValue Sheet::value(int32_t row, int32_t col) const {
    check_cell(row, col);
    CellValue v;
    const Cell* c = find(row, col);
    if (!c) return v;
    v.kind = c->kind;
    v.number = c->kind == CellKind::Number ? c->num : 0;
    if (c->kind == CellKind::Text || c->kind == CellKind::Formula) v.text = std::string(cell_string(*c));
    return v;
}

std::string Sheet::text(int32_t row, int32_t col) const {
    CellValue v = value(row, col);
    if (v.kind == CellKind::Number) return format_number(v.number);
    return v.text;
}

template <class F>
void Sheet::modify_format(int32_t row, int32_t col, F&& change) {
    Cell& c = cell_for_write(row, col);
    CellFormat f = m_book->format(c.format);
    change(f);
    c.format = m_book->intern_format(f);
}

template <class F>
void Sheet::modify_range_format(const Range& range, F&& change) {
    if (range.whole_columns()) {
        // Column default, and the same property on every cell already there.
        if (m_column_formats.size() < static_cast<size_t>(range.col2))
            m_column_formats.resize(static_cast<size_t>(range.col2));
        for (int32_t col = range.col1; col <= range.col2; ++col)
            change(m_column_formats[static_cast<size_t>(col - 1)]);
        for (auto& cells : m_rows)
            for (Cell& c : cells)
                if (c.col >= range.col1 && c.col <= range.col2 && c.format != 0) {
                    CellFormat f = m_book->format(c.format);
                    change(f);
                    c.format = m_book->intern_format(f);
                }
        return;
    }
    if (range.whole_rows()) {  // whole rows: the cells already there
        for (int32_t row = range.row1; row <= std::min<int32_t>(range.row2, last_row()); ++row)
            for (Cell& c : m_rows[static_cast<size_t>(row - 1)]) {
                CellFormat f = m_book->format(c.format);
                change(f);
                c.format = m_book->intern_format(f);
            }
        return;
    }
    for (int32_t row = range.row1; row <= range.row2; ++row)
        for (int32_t col = range.col1; col <= range.col2; ++col) modify_format(row, col, change);
}

void Sheet::set_bold(int32_t row, int32_t col, bool bold) {
    modify_format(row, col, [&](CellFormat& f) { f.bold = bold; });
}
void Sheet::set_font_color(int32_t row, int32_t col, int bgr) {
    modify_format(row, col, [&](CellFormat& f) { f.font_color = bgr; });
}
void Sheet::set_fill(int32_t row, int32_t col, int color_index) {
    modify_format(row, col, [&](CellFormat& f) { f.fill = color_index; });
}
void Sheet::border_around(int32_t row, int32_t col) {
    modify_format(row, col, [&](CellFormat& f) { f.border = true; });
}
void Sheet::set_halign(int32_t row, int32_t col, HAlign align) {
    modify_format(row, col, [&](CellFormat& f) { f.halign = align; });
}

void Sheet::set_number_format(const Range& range, std::string_view format) {
    const std::string fmt_text(format);
    modify_range_format(range, [&](CellFormat& f) { f.number_format = fmt_text; });
}
void Sheet::set_halign(const Range& range, HAlign align) {
    modify_range_format(range, [&](CellFormat& f) { f.halign = align; });
}
void Sheet::set_bold(const Range& range, bool bold) {
    modify_range_format(range, [&](CellFormat& f) { f.bold = bold; });
}
void Sheet::set_fill(const Range& range, int color_index) {
    modify_range_format(range, [&](CellFormat& f) { f.fill = color_index; });
}
void Sheet::set_font_color(const Range& range, int bgr) {
    modify_range_format(range, [&](CellFormat& f) { f.font_color = bgr; });
}

void Sheet::group_rows(int32_t row1, int32_t row2) {
    if (row1 > row2) std::swap(row1, row2);
    check_cell(row1, 1);
    check_cell(row2, 1);
    grow_rows(row2);
    for (int32_t r = row1; r <= row2; ++r) {
        uint8_t& level = m_outline[static_cast<size_t>(r - 1)];
        if (level < 7) ++level;  // the file format knows eight levels at most
    }
}

void Sheet::set_column_width(int32_t col1, int32_t col2, double width) {
    check_cell(1, col1);
    check_cell(1, col2);
    if (width < 0 || width > 255) throw WorkbookError("Ungültige Spaltenbreite");
    if (m_column_widths.size() < static_cast<size_t>(col2)) m_column_widths.resize(static_cast<size_t>(col2));
    for (int32_t c = col1; c <= col2; ++c) m_column_widths[static_cast<size_t>(c - 1)] = width;
}

double Sheet::autofit_width(int32_t col) const {
    size_t widest = 0;
    for (size_t r = 0; r < m_rows.size(); ++r) {
        for (const Cell& c : m_rows[r]) {
            if (c.col != col) continue;
            size_t len = 0;
            switch (c.kind) {
                case CellKind::Text: {
                    std::string_view s = cell_string(c);
                    // A text with line breaks is as wide as its widest line.
                    size_t line = 0;
                    for (size_t start = 0; start <= s.size();) {
                        size_t end = s.find('\n', start);
                        if (end == std::string_view::npos) end = s.size();
                        line = std::max(line, utf8_length(s.substr(start, end - start)));
                        start = end + 1;
                    }
                    len = line;
                    break;
                }
                case CellKind::Number: {
                    len = format_number(c.num).size();
                    const CellFormat f = effective_format(static_cast<int32_t>(r + 1), col);
                    if (f.number_format && f.number_format->size() > len) len = f.number_format->size() - 2;
                    break;
                }
                case CellKind::Formula:
                    len = 12;
                    break;
                case CellKind::Empty:
                    break;
            }
            const CellFormat f = effective_format(static_cast<int32_t>(r + 1), col);
            if (f.bold.value_or(false)) len += len / 10 + 1;
            widest = std::max(widest, len);
        }
    }
    if (widest == 0) return 8.43;
    return std::min(255.0, static_cast<double>(widest) * 1.1 + 1.0);
}

void Sheet::autofit_columns(int32_t col1, int32_t col2) {
    check_cell(1, col1);
    check_cell(1, col2);
    if (m_column_widths.size() < static_cast<size_t>(col2)) m_column_widths.resize(static_cast<size_t>(col2));
    for (int32_t c = col1; c <= col2; ++c) m_column_widths[static_cast<size_t>(c - 1)] = autofit_width(c);
}

void Sheet::autofit_used_range() {
    const int32_t last = last_col();
    if (last == 0) return;
    int32_t first = kMaxCol;
    for (const auto& cells : m_rows)
        if (!cells.empty()) first = std::min(first, cells.front().col);
    autofit_columns(first, last);
}

void Sheet::select_cell(int32_t row, int32_t col) {
    check_cell(row, col);
    m_selected = {row, col};
}

int32_t Sheet::last_col() const {
    int32_t last = 0;
    for (const auto& cells : m_rows)
        if (!cells.empty()) last = std::max(last, cells.back().col);
    return last;
}

const std::vector<Sheet::Cell>& Sheet::row_cells(int32_t row) const {
    if (row < 1 || static_cast<size_t>(row) > m_rows.size()) return kNoCells;
    return m_rows[static_cast<size_t>(row - 1)];
}

uint8_t Sheet::outline_level(int32_t row) const {
    if (row < 1 || static_cast<size_t>(row) > m_outline.size()) return 0;
    return m_outline[static_cast<size_t>(row - 1)];
}

std::optional<double> Sheet::column_width(int32_t col) const {
    if (col < 1 || static_cast<size_t>(col) > m_column_widths.size()) return std::nullopt;
    return m_column_widths[static_cast<size_t>(col - 1)];
}

const CellFormat& Sheet::column_format(int32_t col) const {
    if (col < 1 || static_cast<size_t>(col) > m_column_formats.size()) return kNoFormat;
    return m_column_formats[static_cast<size_t>(col - 1)];
}

const CellFormat& Sheet::format_of(const Cell& c) const {
    return m_book->format(c.format);
}

CellFormat Sheet::effective_format(int32_t row, int32_t col) const {
    const Cell* c = find(row, col);
    return merged(column_format(col), c ? format_of(*c) : kNoFormat);
}

std::string_view Sheet::cell_string(const Cell& c) const {
    if (c.kind != CellKind::Text && c.kind != CellKind::Formula) return {};
    return m_book->strings().get(c.str);
}

}  // namespace workbook
