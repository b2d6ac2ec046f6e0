// SPDX-License-Identifier: MIT
// The model goes to libxlsxwriter in constant-memory mode: sheets in their final tab order (the
// library cannot reorder them), rows ascending, each row's options before its cells, so that the
// writer holds one row at a time besides the model itself.
#include "tests/support/reference/reference_writer.h"

#include <fmt/format.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "tests/support/reference/zip_part.h"
#include "workbook/cell_address.h"
#include "workbook/formula.h"
#include "workbook/xlsx/xlsx_text.h"

namespace testsupport {

namespace {

namespace fs = std::filesystem;
using namespace workbook;
using workbook::xlsx::document_text;
using workbook::xlsx::footer_codes;
using workbook::xlsx::TextCleaner;

// Fixed document time (2000-01-01 00:00 UTC): equal models give byte-equal files.
constexpr time_t kDocumentTime = 946684800;

// A library call's result.
void check(lxw_error error, const fs::path& target) {
    if (error == LXW_NO_ERROR) return;
    throw std::runtime_error(fmt::format("libxlsxwriter: {}: {}", target.string(), lxw_strerror(error)));
}

// Owns the library's workbook until it is closed.
struct LxwWorkbook {
    lxw_workbook* wb = nullptr;
    ~LxwWorkbook() {
        if (wb) lxw_workbook_free(wb);
    }
    // workbook_close writes the file and frees the workbook, successful or not.
    lxw_error close() {
        lxw_workbook* w = wb;
        wb = nullptr;
        return workbook_close(w);
    }
};

// The library names "Microsoft Excel" as the application that made every file; ours names the
// program that did.
std::string with_application(std::string_view app_xml, std::string_view application) {
    std::string name;
    for (const char ch : document_text(application)) {
        if (ch == '&')
            name += "&amp;";
        else if (ch == '<')
            name += "&lt;";
        else if (ch == '>')
            name += "&gt;";
        else
            name += ch;
    }
    std::string out(app_xml);
    const size_t open = out.find("<Application>");
    const size_t close = open == std::string::npos ? open : out.find("</Application>", open);
    if (close != std::string::npos) {
        const size_t from = open + std::strlen("<Application>");
        return out.replace(from, close - from, name);
    }
    const size_t root = out.find("<Properties");
    const size_t root_end = root == std::string::npos ? root : out.find('>', root);
    if (root_end != std::string::npos) out.insert(root_end + 1, "<Application>" + name + "</Application>");
    return out;
}

uint8_t lxw_alignment(HAlign a) {
    switch (a) {
        case HAlign::Left:
            return LXW_ALIGN_LEFT;
        case HAlign::Center:
            return LXW_ALIGN_CENTER;
        case HAlign::Right:
            return LXW_ALIGN_RIGHT;
        case HAlign::General:
            break;
    }
    return LXW_ALIGN_NONE;
}

// BGR as the model keeps font colours, RGB as the file wants them; the library reads 0 as
// "no colour" and spells black differently.
lxw_color_t rgb_of_bgr(int bgr) {
    const auto v = static_cast<uint32_t>(bgr) & 0xFFFFFF;
    const uint32_t rgb = ((v & 0xFF) << 16) | (v & 0xFF00) | (v >> 16);
    return rgb == 0 ? static_cast<lxw_color_t>(LXW_COLOR_BLACK) : rgb;
}

// One library format per distinct effective cell format, shared by all sheets.
class Formats {
public:
    Formats(lxw_workbook* wb, const ExcelSession& excel) : m_wb(wb), m_excel(excel) {}

    // nullptr for the default format.
    lxw_format* get(const CellFormat& f) {
        if (f == CellFormat{}) return nullptr;
        const std::string key =
            fmt::format("{}|{}|{}|{}|{}|{}", f.bold ? int(*f.bold) : -1, f.font_color ? *f.font_color : -1,
                        f.fill ? *f.fill : -1, f.border ? int(*f.border) : -1, f.halign ? int(*f.halign) : 0,
                        f.number_format ? "=" + *f.number_format : std::string());
        auto [it, fresh] = m_by_key.try_emplace(key, nullptr);
        if (fresh) it->second = make(f);
        return it->second;
    }

private:
    lxw_format* make(const CellFormat& f) {
        lxw_format* x = workbook_add_format(m_wb);
        if (f.bold.value_or(false)) format_set_bold(x);
        if (f.font_color) format_set_font_color(x, rgb_of_bgr(*f.font_color));
        if (f.fill) {
            const int rgb = palette_rgb(*f.fill);
            if (rgb >= 0) {
                format_set_pattern(x, LXW_PATTERN_SOLID);
                format_set_bg_color(
                    x, rgb == 0 ? static_cast<lxw_color_t>(LXW_COLOR_BLACK) : static_cast<lxw_color_t>(rgb));
            }
        }
        if (f.border.value_or(false)) format_set_border(x, LXW_BORDER_THIN);
        if (f.halign) format_set_align(x, lxw_alignment(*f.halign));
        if (f.number_format) {
            // The model keeps the locale's notation; the file keeps the invariant one.
            const std::string invariant = m_excel.invariant_number_format(*f.number_format);
            format_set_num_format(x, m_cleaner.clean(invariant, false).c_str());
        }
        return x;
    }

    lxw_workbook* m_wb;
    const ExcelSession& m_excel;
    std::map<std::string, lxw_format*> m_by_key;
    TextCleaner m_cleaner;
};

class SheetWriter {
public:
    SheetWriter(const Sheet& sheet, lxw_worksheet* ws, Formats& formats, FormulaEvaluator& eval,
                const fs::path& target)
        : m_sheet(sheet), m_ws(ws), m_formats(formats), m_eval(eval), m_target(target) {}

    void write() {
        columns();
        view_and_print();
        for (int32_t row = 1; row <= m_sheet.last_row(); ++row) write_row(row);
    }

private:
    // Column defaults and widths, runs of equal columns in one entry.
    void columns() {
        int32_t last = m_sheet.last_col();
        for (int32_t col = 1; col <= kMaxCol; ++col)
            if (m_sheet.column_width(col) || m_sheet.column_format(col) != CellFormat{})
                last = std::max(last, col);
        int32_t run_start = 0;
        double run_width = 0;
        lxw_format* run_format = nullptr;
        auto flush = [&](int32_t run_end) {
            if (run_start == 0) return;
            check(worksheet_set_column(m_ws, static_cast<lxw_col_t>(run_start - 1),
                                       static_cast<lxw_col_t>(run_end - 1), run_width, run_format),
                  m_target);
            run_start = 0;
        };
        for (int32_t col = 1; col <= last; ++col) {
            const std::optional<double> width = m_sheet.column_width(col);
            const CellFormat& format = m_sheet.column_format(col);
            if (!width && format == CellFormat{}) {
                flush(col - 1);
                continue;
            }
            const double w = width.value_or(LXW_DEF_COL_WIDTH);
            lxw_format* f = m_formats.get(format);
            if (run_start != 0 && (w != run_width || f != run_format)) flush(col - 1);
            if (run_start == 0) {
                run_start = col;
                run_width = w;
                run_format = f;
            }
        }
        flush(last);
    }

    void view_and_print() {
        const WindowSettings& w = m_sheet.window();
        if (w.zoom != 100) worksheet_set_zoom(m_ws, static_cast<uint16_t>(std::clamp(w.zoom, 10, 400)));
        if (w.freeze_panes && (w.split_row > 0 || w.split_column > 0))
            worksheet_freeze_panes(m_ws, static_cast<lxw_row_t>(std::clamp(w.split_row, 0, kMaxRow - 1)),
                                   static_cast<lxw_col_t>(std::clamp(w.split_column, 0, kMaxCol - 1)));
        const auto [sel_row, sel_col] = m_sheet.selected_cell();
        if (sel_row != 1 || sel_col != 1)
            worksheet_set_selection(m_ws, static_cast<lxw_row_t>(sel_row - 1),
                                    static_cast<lxw_col_t>(sel_col - 1), static_cast<lxw_row_t>(sel_row - 1),
                                    static_cast<lxw_col_t>(sel_col - 1));

        if (!m_sheet.outline_settings().summary_row_below)
            worksheet_outline_settings(m_ws, LXW_TRUE, LXW_FALSE, LXW_TRUE, LXW_FALSE);

        const PageSetup& p = m_sheet.page_setup();
        if (p.orientation == 2) worksheet_set_landscape(m_ws);
        if (p.paper_size > 0 && p.paper_size <= 255)
            worksheet_set_paper(m_ws, static_cast<uint8_t>(p.paper_size));
        if (p.zoom == 0)
            worksheet_fit_to_pages(m_ws, static_cast<uint16_t>(std::clamp(p.fit_to_pages_wide, 0, 32767)),
                                   static_cast<uint16_t>(std::clamp(p.fit_to_pages_tall, 0, 32767)));
        else if (p.zoom != 100)
            worksheet_set_print_scale(m_ws, static_cast<uint16_t>(std::clamp(p.zoom, 10, 400)));
        if (!p.print_title_rows.empty()) {
            const Range r = Range::parse(p.print_title_rows);
            check(worksheet_repeat_rows(m_ws, static_cast<lxw_row_t>(r.row1 - 1),
                                        static_cast<lxw_row_t>(r.row2 - 1)),
                  m_target);
        }
        if (!p.print_area.empty()) {
            const Range r = Range::parse(p.print_area);
            check(worksheet_print_area(m_ws, static_cast<lxw_row_t>(r.row1 - 1),
                                       static_cast<lxw_col_t>(r.col1 - 1), static_cast<lxw_row_t>(r.row2 - 1),
                                       static_cast<lxw_col_t>(r.col2 - 1)),
                  m_target);
        }
        if (p.center_horizontally) worksheet_center_horizontally(m_ws);
        const std::string footer = footer_codes(p);
        if (!footer.empty()) check(worksheet_set_footer(m_ws, footer.c_str()), m_target);
        constexpr double kPointsPerInch = 72.0;
        worksheet_set_margins(m_ws, p.left_margin / kPointsPerInch, p.right_margin / kPointsPerInch,
                              p.top_margin / kPointsPerInch, p.bottom_margin / kPointsPerInch);
        // worksheet_set_header_opt refuses a margin of 0, which the finishing pass sets; the
        // library writes these fields as they stand.
        m_ws->margin_header = p.header_margin / kPointsPerInch;
        m_ws->margin_footer = p.footer_margin / kPointsPerInch;
    }

    lxw_format* format_of(int32_t row, const Sheet::Cell& c) {
        const uint64_t key = (static_cast<uint64_t>(c.col) << 32) | c.format;
        auto [it, fresh] = m_cell_formats.try_emplace(key, nullptr);
        if (fresh) it->second = m_formats.get(m_sheet.effective_format(row, c.col));
        return it->second;
    }

    void write_row(int32_t row) {
        const auto r = static_cast<lxw_row_t>(row - 1);
        // Row options must precede the row's cells in constant-memory mode.
        if (const uint8_t level = m_sheet.outline_level(row)) {
            lxw_row_col_options options{};
            options.level = std::min<uint8_t>(level, 7);
            check(worksheet_set_row_opt(m_ws, r, LXW_DEF_ROW_HEIGHT, nullptr, &options), m_target);
        }
        for (const Sheet::Cell& c : m_sheet.row_cells(row)) {
            const auto col = static_cast<lxw_col_t>(c.col - 1);
            lxw_format* f = format_of(row, c);
            switch (c.kind) {
                case CellKind::Empty:
                    // The library drops a blank cell without a format.
                    if (c.format != 0 && f) write(worksheet_write_blank(m_ws, r, col, f));
                    break;
                case CellKind::Number:
                    write(worksheet_write_number(m_ws, r, col, c.num, f));
                    break;
                case CellKind::Text: {
                    // ... and an empty text without one.
                    const char* text = m_cleaner.clean(m_sheet.cell_string(c), true).c_str();
                    if (*text || f) write(worksheet_write_string(m_ws, r, col, text, f));
                    break;
                }
                case CellKind::Formula: {
                    // Every formula carries its result, so that no viewer has to recalculate.
                    const FormulaResult result = m_eval.evaluate(m_sheet, row, c.col);
                    const char* formula = m_cleaner.clean(m_sheet.cell_string(c), false).c_str();
                    if (result.is_error)
                        write(worksheet_write_formula_str(m_ws, r, col, formula, f, result.error.c_str()));
                    else
                        write(worksheet_write_formula_num(m_ws, r, col, formula, f, result.value));
                    break;
                }
            }
        }
    }

    void write(lxw_error error) { check(error, m_target); }

    const Sheet& m_sheet;
    lxw_worksheet* m_ws;
    Formats& m_formats;
    FormulaEvaluator& m_eval;
    const fs::path& m_target;
    std::unordered_map<uint64_t, lxw_format*> m_cell_formats;
    TextCleaner m_cleaner;
};

}  // namespace

void save_with_libxlsxwriter(const ExcelSession& excel, const Workbook& book, const fs::path& target) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    LxwWorkbook lxw;
    lxw.wb = workbook_new_opt(target.c_str(), &options);
    if (!lxw.wb)
        throw std::runtime_error("libxlsxwriter: " + target.string() + " kann nicht angelegt werden");

    const std::string title = document_text(book.properties().title);
    const std::string subject = document_text(book.properties().subject);
    lxw_doc_properties properties{};
    properties.created = kDocumentTime;
    if (!title.empty()) properties.title = const_cast<char*>(title.c_str());
    if (!subject.empty()) properties.subject = const_cast<char*>(subject.c_str());
    check(workbook_set_properties(lxw.wb, &properties), target);

    Formats formats(lxw.wb, excel);
    FormulaEvaluator eval(book);
    TextCleaner names;
    lxw_worksheet* active = nullptr;
    for (const Sheet* sheet : book.sheets_in_tab_order()) {
        const char* name = names.clean(sheet->name(), false).c_str();
        if (workbook_validate_sheet_name(lxw.wb, name) != LXW_NO_ERROR)
            throw std::runtime_error(fmt::format("Ungültiger Tabellenname \"{}\"", sheet->name()));
        lxw_worksheet* ws = workbook_add_worksheet(lxw.wb, name);
        if (!ws) throw std::runtime_error("libxlsxwriter: workbook_add_worksheet");
        SheetWriter(*sheet, ws, formats, eval, target).write();
        if (sheet == book.active()) active = ws;
    }
    if (active) worksheet_activate(active);
    check(lxw.close(), target);

    // The application that made the file, which the library names "Microsoft Excel".
    const ZipEdit edit = rewrite_zip_part(target, "docProps/app.xml", [&book](std::string_view xml) {
        return with_application(xml, book.properties().application);
    });
    if (!edit.ok) throw std::runtime_error(target.string() + ": " + edit.fault);
}

}  // namespace testsupport

#if LXW_VERSION_ID == 114
// libxlsxwriter 1.1.4 writes numbers and formula results with 16 significant digits, which does
// not give every double back. These two replace its cell writers of the same names: the value
// goes in its shortest exact form, so that whoever reads the file sees exactly the number in the
// model and exactly the result its formula computes.
namespace {

struct ExactNumber {
    explicit ExactNumber(double value) { *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0'; }
    char text[32];
};

}  // namespace

extern "C" void _write_number_cell(lxw_worksheet* self, char* range, int32_t style_index, lxw_cell* cell) {
    const ExactNumber value(cell->u.number);
    if (style_index)
        std::fprintf(self->file, "<c r=\"%s\" s=\"%d\"><v>%s</v></c>", range, style_index, value.text);
    else
        std::fprintf(self->file, "<c r=\"%s\"><v>%s</v></c>", range, value.text);
}

extern "C" void _write_formula_num_cell(lxw_worksheet* self, lxw_cell* cell) {
    const ExactNumber value(cell->formula_result);
    lxw_xml_data_element(self->file, "f", cell->u.string, nullptr);
    lxw_xml_data_element(self->file, "v", value.text, nullptr);
}
#endif
