// SPDX-License-Identifier: MIT
// The model goes to libxlsxwriter in constant-memory mode: sheets in their final tab order (the
// library cannot reorder them), rows ascending, each row's options before its cells, so that the
// writer holds one row at a time besides the model itself.
#include "workbook/xlsx/xlsx_writer.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "workbook/formula.h"

namespace workbook::xlsx {

namespace {

namespace fs = std::filesystem;

// Fixed document time (2000-01-01 00:00 UTC): equal models give byte-equal files.
constexpr time_t kDocumentTime = 946684800;
// The file format holds at most 32767 characters per cell.
constexpr size_t kMaxCellCharacters = 32767;
constexpr size_t kMaxFileName = 255;

std::string reason_of_errno(int error) {
    switch (error) {
        case ENOENT:
            return "Ordner nicht gefunden";
        case EACCES:
        case EPERM:
            return "Zugriff verweigert";
        case ENOSPC:
        case EDQUOT:
            return "kein Speicherplatz";
        case EROFS:
            return "Datenträger schreibgeschützt";
        case EISDIR:
            return "das Ziel ist ein Ordner";
        case ENAMETOOLONG:
            return "Dateiname zu lang";
        default:
            return std::strerror(error);
    }
}

// Our own failure, already worded for the user; anything else thrown while saving is wrapped.
class SaveError : public WorkbookError {
public:
    using WorkbookError::WorkbookError;
};

[[noreturn]] void fail(const fs::path& target, const std::string& reason) {
    throw SaveError(
        fmt::format("Die Arbeitsmappe kann nicht gespeichert werden: {} ({})", target.string(), reason));
}

void check(lxw_error error, const fs::path& target) {
    if (error != LXW_NO_ERROR) fail(target, lxw_strerror(error));
}

// The uniquely named file beside the target that libxlsxwriter writes; removed unless renamed.
class TempFile {
public:
    explicit TempFile(const fs::path& target) : m_target(target) {
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        std::string pattern = target.filename().string() + ".XXXXXX.tmp";
        if (pattern.size() > kMaxFileName) pattern = ".bremora.XXXXXX.tmp";
        std::string path = (folder / pattern).string();
        const int fd = ::mkstemps(path.data(), 4);
        if (fd < 0) fail(target, reason_of_errno(errno));
        ::close(fd);
        m_path = path;
    }
    ~TempFile() {
        if (m_path.empty()) return;
        std::error_code ec;
        fs::remove(m_path, ec);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const fs::path& path() const { return m_path; }

    // mkstemp creates the file readable by its owner only: give it the mode of the file it
    // replaces, or the one a new file would get.
    void commit() {
        struct stat existing {};
        mode_t mode;
        if (::stat(m_target.c_str(), &existing) == 0) {
            mode = existing.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::chmod(m_path.c_str(), mode);
        std::error_code ec;
        fs::rename(m_path, m_target, ec);
        if (ec) fail(m_target, reason_of_errno(ec.value()));
        m_path.clear();
    }

private:
    fs::path m_target;
    fs::path m_path;
};

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

// Texts as the file format wants them: valid UTF-8 without characters XML cannot hold, a
// literal "_xHHHH_" protected from being read as an escape (the library escapes only control
// characters), and at most 32767 characters.
class TextCleaner {
public:
    const char* clean(std::string_view in, bool limit_length) {
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
        return m_out.c_str();
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
            format_set_num_format(x, m_cleaner.clean(invariant, false));
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

        const PageSetup& p = m_sheet.page_setup();
        if (p.orientation == 2) worksheet_set_landscape(m_ws);
        if (p.zoom != 100)
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
                    if (c.format != 0) check(worksheet_write_blank(m_ws, r, col, f), m_target);
                    break;
                case CellKind::Number:
                    check(worksheet_write_number(m_ws, r, col, c.num, f), m_target);
                    break;
                case CellKind::Text:
                    check(worksheet_write_string(m_ws, r, col, m_cleaner.clean(m_sheet.cell_string(c), true),
                                                 f),
                          m_target);
                    break;
                case CellKind::Formula: {
                    // Every formula carries its result, so that no viewer has to recalculate.
                    const FormulaResult result = m_eval.evaluate(m_sheet, row, c.col);
                    const char* formula = m_cleaner.clean(m_sheet.cell_string(c), false);
                    if (result.is_error)
                        check(worksheet_write_formula_str(m_ws, r, col, formula, f, result.error.c_str()),
                              m_target);
                    else
                        check(worksheet_write_formula_num(m_ws, r, col, formula, f, result.value), m_target);
                    break;
                }
            }
        }
    }

    const Sheet& m_sheet;
    lxw_worksheet* m_ws;
    Formats& m_formats;
    FormulaEvaluator& m_eval;
    const fs::path& m_target;
    std::unordered_map<uint64_t, lxw_format*> m_cell_formats;
    TextCleaner m_cleaner;
};

void write_file(const ExcelSession& excel, const Workbook& book, const fs::path& file,
                const fs::path& target) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    LxwWorkbook lxw;
    const std::string file_name = file.string();
    lxw.wb = workbook_new_opt(file_name.c_str(), &options);
    if (!lxw.wb) fail(target, "Arbeitsmappe kann nicht angelegt werden");

    lxw_doc_properties properties{};
    properties.created = kDocumentTime;
    check(workbook_set_properties(lxw.wb, &properties), target);

    Formats formats(lxw.wb, excel);
    FormulaEvaluator eval(book);
    size_t formula_cells = 0;
    for (const Sheet* sheet : book.sheets_in_tab_order())
        for (int32_t row = 1; row <= sheet->last_row(); ++row)
            for (const Sheet::Cell& c : sheet->row_cells(row)) formula_cells += c.kind == CellKind::Formula;
    eval.reserve(formula_cells);
    TextCleaner names;
    lxw_worksheet* active = nullptr;
    for (const Sheet* sheet : book.sheets_in_tab_order()) {
        lxw_worksheet* ws = workbook_add_worksheet(lxw.wb, names.clean(sheet->name(), false));
        if (!ws) fail(target, fmt::format("ungültiger Tabellenname \"{}\"", sheet->name()));
        SheetWriter(*sheet, ws, formats, eval, target).write();
        if (sheet == book.active()) active = ws;
    }
    if (active) worksheet_activate(active);
    check(lxw.close(), target);
}

}  // namespace

void save(const ExcelSession& excel, const Workbook& book, const fs::path& target) {
    try {
        std::error_code ec;
        if (fs::is_directory(target, ec)) fail(target, reason_of_errno(EISDIR));
        TempFile temp(target);
        write_file(excel, book, temp.path(), target);
        temp.commit();
    } catch (const SaveError&) {
        throw;
    } catch (const std::exception& e) {
        fail(target, e.what());
    }
}

}  // namespace workbook::xlsx
