// SPDX-License-Identifier: MIT
// A sheet of the in-memory workbook: its cells, their formats, outline, column widths, page and
// window settings, with the operations the readers call on a spreadsheet's sheet.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "workbook/cell_address.h"

namespace workbook {

// Horizontal alignment, numbered as the spreadsheet application numbers it.
enum class HAlign : int { General = 1, Left = -4131, Center = -4108, Right = -4152 };

// Font colours are BGR integers, fills palette indices.
inline constexpr int kColorRed = 255;
inline constexpr int kColorBlue = 16711680;
inline constexpr int kColorPurple = 8388736;
inline constexpr int kFillGrey = 15;
inline constexpr int kFillTurquoise = 34;
inline constexpr int kFillYellow = 36;

// RGB (0xRRGGBB) of the palette indices the program uses; -1 for an unknown index.
int palette_rgb(int color_index);

// The explicit format of a cell or a column; unset fields fall back to the column's.
struct CellFormat {
    std::optional<bool> bold;
    std::optional<int> font_color;
    std::optional<int> fill;
    std::optional<bool> border;
    std::optional<HAlign> halign;
    std::optional<std::string> number_format;
    bool operator==(const CellFormat&) const = default;
};

// `base` with the fields set in `over` replacing its own.
CellFormat merged(const CellFormat& base, const CellFormat& over);

enum class CellKind : uint8_t { Empty, Number, Text, Formula };

// A cell as read back.
struct CellValue {
    CellKind kind = CellKind::Empty;
    double number = 0;
    std::string text;  // text, or the formula
    bool is_empty() const { return kind == CellKind::Empty; }
};

inline constexpr int kPaperA4 = 9;  // PageSetup.PaperSize, numbered as the spreadsheet application numbers it

struct PageSetup {
    int zoom = 100;  // print scale in percent; 0 ("Zoom = False"): the fit to pages below decides
    int fit_to_pages_wide = 1, fit_to_pages_tall = 1;  // with zoom 0; 0 pages: as many as needed
    int paper_size = 0;                                // 0: the application's default paper
    int orientation = 1;                               // 1 portrait, 2 landscape
    // The three parts of the footer in footer codes: "&P" the page, "&N" the number of pages,
    // "&&" an ampersand.
    std::string left_footer, center_footer, right_footer;
    std::string print_title_rows;
    std::string print_area;
    bool center_horizontally = false;
    double left_margin = 54, right_margin = 54, top_margin = 72, bottom_margin = 72;  // points
    double header_margin = 21.6, footer_margin = 21.6;
};

// Outline.SummaryRow: whether the summary row of a group of rows stands below it (the
// application's default) or above it, which puts the outline button beside the row above.
struct OutlineSettings {
    bool summary_row_below = true;
};

struct WindowSettings {
    int zoom = 100;
    int split_row = 0, split_column = 0;
    bool freeze_panes = false;
};

class Workbook;

class Sheet {
public:
    const std::string& name() const { return m_name; }
    void set_name(std::string name);  // Sheets.Item(n).Name = ...
    void Select();

    // Cells.Item(row, col).Value / .Formula
    void set_value(int32_t row, int32_t col, std::string_view text);
    void set_value(int32_t row, int32_t col, double number);
    void set_formula(int32_t row, int32_t col, std::string_view formula);
    void clear(int32_t row, int32_t col);
    CellValue value(int32_t row, int32_t col) const;
    // The cell read back as text: a number in its shortest form, a formula's text, "" when empty.
    std::string text(int32_t row, int32_t col) const;

    // Cell formats (Font.Bold, Font.Color, Interior.ColorIndex, HorizontalAlignment, BorderAround).
    void set_bold(int32_t row, int32_t col, bool bold);
    void set_font_color(int32_t row, int32_t col, int bgr);
    void set_fill(int32_t row, int32_t col, int color_index);
    void border_around(int32_t row, int32_t col);
    void set_halign(int32_t row, int32_t col, HAlign align);

    // Range formats. Whole-column ranges set the column's default too, which every cell later
    // written there inherits, as in the spreadsheet application.
    void set_number_format(const Range& range, std::string_view format);
    void set_halign(const Range& range, HAlign align);
    void set_bold(const Range& range, bool bold);
    void set_fill(const Range& range, int color_index);
    void set_font_color(const Range& range, int bgr);
    void group_rows(int32_t row1, int32_t row2);  // Range("r1:r2").Rows.Group
    void group_rows(std::string_view address) {
        Range r = Range::parse(address);
        group_rows(r.row1, r.row2);
    }

    // Columns(...).ColumnWidth, Columns(...).EntireColumn.AutoFit, UsedRange.Columns.AutoFit
    void set_column_width(int32_t col1, int32_t col2, double width);
    void autofit_columns(int32_t col1, int32_t col2);
    void autofit_used_range();
    void select_cell(int32_t row, int32_t col);  // Range("A1").Select

    PageSetup& page_setup() { return m_page; }
    const PageSetup& page_setup() const { return m_page; }
    WindowSettings& window() { return m_window; }
    const WindowSettings& window() const { return m_window; }
    OutlineSettings& outline_settings() { return m_outline_settings; }
    const OutlineSettings& outline_settings() const { return m_outline_settings; }

    // What the saver and the tests read.
    struct Cell {
        uint64_t str = 0;  // text or formula handle in the workbook's string store
        double num = 0;    // number, or a formula's cached value
        int32_t col = 0;
        uint32_t format = 0;  // explicit format id, 0 = none
        CellKind kind = CellKind::Empty;
    };
    int32_t last_row() const { return static_cast<int32_t>(m_rows.size()); }
    int32_t last_col() const;
    const std::vector<Cell>& row_cells(int32_t row) const;
    uint8_t outline_level(int32_t row) const;
    std::optional<double> column_width(int32_t col) const;
    const CellFormat& column_format(int32_t col) const;
    const CellFormat& format_of(const Cell& c) const;
    CellFormat effective_format(int32_t row, int32_t col) const;
    std::string_view cell_string(const Cell& c) const;
    std::pair<int32_t, int32_t> selected_cell() const { return m_selected; }
    Workbook& workbook() const { return *m_book; }

private:
    friend class Workbook;
    Sheet(Workbook* book, std::string name);
    Cell& cell_for_write(int32_t row, int32_t col);
    void grow_rows(int32_t rows);  // rows 1 to `rows` exist
    const Cell* find(int32_t row, int32_t col) const;
    template <class F>
    void modify_format(int32_t row, int32_t col, F&& change);
    template <class F>
    void modify_range_format(const Range& range, F&& change);
    double autofit_width(int32_t col) const;

    Workbook* m_book;
    std::string m_name;
    std::vector<std::vector<Cell>> m_rows;     // index row - 1, cells sorted by column
    std::vector<uint8_t> m_outline;            // index row - 1
    std::vector<CellFormat> m_column_formats;  // index col - 1
    std::vector<std::optional<double>> m_column_widths;
    PageSetup m_page;
    WindowSettings m_window;
    OutlineSettings m_outline_settings;
    std::pair<int32_t, int32_t> m_selected{1, 1};
};

}  // namespace workbook
