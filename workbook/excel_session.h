// SPDX-License-Identifier: MIT
// The spreadsheet session: an in-memory workbook with the operations the readers call on a
// spreadsheet application, saved as a real .xlsx file by workbook/xlsx.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/errors.h"

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
inline constexpr int kWindowMinimized = -4140;
inline constexpr int kWindowMaximized = -4137;

// RGB (0xRRGGBB) of the palette indices the program uses; -1 for an unknown index.
int palette_rgb(int color_index);

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

enum class CellKind : uint8_t { Empty, Number, Text, Formula };

// A cell as read back.
struct CellValue {
    CellKind kind = CellKind::Empty;
    double number = 0;
    std::string text;  // text, or the formula
    bool is_empty() const { return kind == CellKind::Empty; }
};

struct PageSetup {
    int zoom = 100;
    int orientation = 1;  // 1 portrait, 2 landscape
    std::string print_title_rows;
    std::string print_area;
    bool center_horizontally = false;
    double left_margin = 54, right_margin = 54, top_margin = 72, bottom_margin = 72;  // points
    double header_margin = 21.6, footer_margin = 21.6;
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
    std::pair<int32_t, int32_t> m_selected{1, 1};
};

// The string store: every text and formula of the workbook, append-only, in large chunks.
class StringStore {
public:
    uint64_t add(std::string_view s);
    std::string_view get(uint64_t handle) const;

private:
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::vector<size_t> m_sizes;
    size_t m_used = 0;
};

class Workbook {
public:
    Workbook();
    // Sheets.Add: a new sheet in front of the active one, selected.
    Sheet& add_sheet();
    // Sheets.Item(n), 1-based in tab order; Sheets.Item(name). Throw WorkbookError when missing.
    Sheet& sheet(int index);
    Sheet& sheet(std::string_view name);
    Sheet* find_sheet(std::string_view name);
    const Sheet* find_sheet(std::string_view name) const;
    int count() const { return static_cast<int>(m_sheets.size()); }
    // Sheets(name).Delete; the application asks first unless alerts are off: we record that.
    void delete_sheet(std::string_view name);
    Sheet* active() { return m_active; }
    const Sheet* active() const { return m_active; }
    void activate(Sheet& sheet) { m_active = &sheet; }
    std::vector<Sheet*> sheets_in_tab_order() const;

    uint32_t intern_format(const CellFormat& f);
    const CellFormat& format(uint32_t id) const { return m_formats[id]; }
    StringStore& strings() { return m_strings; }
    const StringStore& strings() const { return m_strings; }

    bool display_alerts = true;
    int deletions_with_alerts_on = 0;  // deletions that would have asked the user

private:
    std::vector<std::unique_ptr<Sheet>> m_sheets;  // tab order
    Sheet* m_active = nullptr;
    std::vector<CellFormat> m_formats;  // id 0 = no explicit format
    StringStore m_strings;
    int m_next_sheet_number = 1;
};

// The application object. Without a connection every call throws.
class ExcelSession {
public:
    // Connect: attaches to our in-memory application; never fails here.
    void Connect();
    void Release();  // the connection is released; the workbook stays for saving
    bool connected() const { return m_connected; }

    void set_window_state(int state);
    int window_state() const { return m_window_state; }
    void set_visible(bool v);
    bool visible() const { return m_visible; }
    void set_screen_updating(bool v);
    bool screen_updating() const { return m_screen_updating; }
    void set_display_alerts(bool v);
    void set_sheets_in_new_workbook(int n);
    double InchesToPoints(double inches) const { return inches * 72.0; }

    void add_workbook();  // Workbooks.Add with SheetsInNewWorkBook sheets
    int workbooks_count() const { return static_cast<int>(m_workbooks.size()); }
    void activate_workbook(int index);  // 1-based

    // The active workbook; throws without connection or without workbook.
    Workbook& workbook();
    // The workbook even after the connection was released (for saving); null when none.
    Workbook* result() { return m_active; }

    // Number formats as the locale writes them, and their invariant forms for the file.
    void set_locale_number_formats(std::string money_local, std::string quantity_local);
    std::string invariant_number_format(std::string_view local) const;

private:
    void require() const;
    bool m_connected = false;
    int m_window_state = -4143;
    bool m_visible = false;
    bool m_screen_updating = true;
    bool m_display_alerts = true;
    int m_sheets_in_new = 3;
    std::vector<std::unique_ptr<Workbook>> m_workbooks;
    Workbook* m_active = nullptr;
    std::string m_money_local, m_quantity_local;
};

}  // namespace workbook
