// SPDX-License-Identifier: MIT
// The model goes to libxlsxwriter in constant-memory mode: sheets in their final tab order (the
// library cannot reorder them), rows ascending, each row's options before its cells, so that the
// writer holds one row at a time besides the model itself.
#include "workbook/xlsx/xlsx_writer.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "workbook/errors.h"
#include "workbook/formula.h"
#include "workbook/temp_files.h"
#include "workbook/text.h"
#include "workbook/xlsx/package_writer.h"
#include "workbook/xlsx/xlsx_text.h"
#include "workbook/xlsx/zip_check.h"
#include "workbook/xlsx/zip_part.h"
#include "workbook/xlsx/zip_writer.h"

namespace workbook::xlsx {

namespace {

namespace fs = std::filesystem;

// Fixed document time (2000-01-01 00:00 UTC): equal models give byte-equal files.
constexpr time_t kDocumentTime = 946684800;
constexpr size_t kMaxFileName = 255;

// Our own failure, already worded for the user; anything else thrown while saving is wrapped,
// except an allocation failure, which the caller reports as such.
class SaveError : public WorkbookError {
public:
    using WorkbookError::WorkbookError;
};

[[noreturn]] void fail(const fs::path& target, const std::string& reason) {
    throw SaveError(
        fmt::format("Die Arbeitsmappe {} kann nicht gespeichert werden: {}.", target.string(), reason));
}

[[noreturn]] void fail_errno(const fs::path& target, int error) {
    if (error == ENOMEM) throw std::bad_alloc();
    fail(target, errno_text(error));
}

// The share of the save that is done, for the caller's display: rows written and packed (our
// writer packs them as they come; the library packs its temporary data afterwards), then our
// read-back of the archive.
class SaveMeter {
public:
    explicit SaveMeter(const SaveProgress* progress) : m_progress(progress) {}

    void rows(int64_t done, int64_t total) { report(kRowsEnd * done / std::max<int64_t>(total, 1)); }
    void rows_packed(int64_t done, int64_t total) {
        report(kPackingEnd * done / std::max<int64_t>(total, 1));
    }
    void packing(uint64_t done, uint64_t total) {
        report(kRowsEnd + share(kPackingEnd - kRowsEnd, done, total));
    }
    void checking(uint64_t done, uint64_t total) {
        report(kPackingEnd + share(kSaveSteps - kPackingEnd, done, total));
    }
    void finished() { report(kSaveSteps); }
    bool wanted() const { return m_progress != nullptr; }

private:
    static constexpr int64_t kRowsEnd = 300, kPackingEnd = 820;

    static int64_t share(int64_t steps, uint64_t done, uint64_t total) {
        if (total == 0) return steps;
        return static_cast<int64_t>(static_cast<double>(std::min(done, total)) / static_cast<double>(total) *
                                    static_cast<double>(steps));
    }
    void report(int64_t done) {
        if (!m_progress || done <= m_last) return;
        m_last = done;
        (*m_progress)(done, kSaveSteps);
    }

    const SaveProgress* m_progress;
    int64_t m_last = -1;
};

// What went wrong in the library's own files while the workbook was written: the first failed
// read, write, seek or close of its temporary data (it does not look at those results itself).
struct LibraryFiles {
    int first_error = 0;
    std::string folder;  // where its temporary data goes: the workbook's own folder
    // The files it has open. It leaves some open (the row data of a sheet without rows, and all
    // of them when a save fails half-way): they are closed when the save is over.
    std::vector<std::pair<int, FILE*>> open;
    // While the library packs its data into the archive: how much of it it has read back, of
    // how much it wrote, for the progress display; what the display threw, kept until the library
    // has returned (an exception must not pass through its frames).
    SaveMeter* meter = nullptr;
    uint64_t written = 0, read = 0, packing_total = 0;
    std::exception_ptr display_failure;

    void count_read(size_t n) {
        read += n;
        if (!meter || packing_total == 0 || display_failure) return;
        try {
            meter->packing(read, packing_total);
        } catch (...) {
            display_failure = std::current_exception();
        }
    }

    void close_left_open() {
        const auto left = std::move(open);
        open.clear();
        for (const auto& [fd, file] : left) std::fclose(file);
    }
};
thread_local LibraryFiles* t_library_files = nullptr;

void note_library_error(int error) {
    if (t_library_files && t_library_files->first_error == 0)
        t_library_files->first_error = error ? error : EIO;
}

// The cookie of a temporary stream is its descriptor.
int fd_of(void* cookie) {
    return static_cast<int>(reinterpret_cast<intptr_t>(cookie));
}

ssize_t temp_read(void* cookie, char* data, size_t size) {
    while (true) {
        const ssize_t n = ::read(fd_of(cookie), data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) note_library_error(errno);
        if (n > 0 && t_library_files) t_library_files->count_read(static_cast<size_t>(n));
        return n;
    }
}

ssize_t temp_write(void* cookie, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_of(cookie), data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            note_library_error(n < 0 ? errno : EIO);
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (t_library_files) t_library_files->written += done;
    return static_cast<ssize_t>(done);
}

int temp_seek(void* cookie, off64_t* offset, int whence) {
    const off64_t at = ::lseek64(fd_of(cookie), *offset, whence);
    if (at < 0) {
        note_library_error(errno);
        return -1;
    }
    *offset = at;
    return 0;
}

int temp_close(void* cookie) {
    const int fd = fd_of(cookie);
    if (t_library_files)
        std::erase_if(t_library_files->open, [fd](const auto& entry) { return entry.first == fd; });
    const int status = ::close(fd);
    if (status != 0) note_library_error(errno);
    return status;
}

// A file without a name in `folder` (O_TMPFILE); where the filesystem has none, a listed
// temporary file unlinked at once. -1 with errno set on failure.
int unnamed_file(const char* folder) noexcept {
    const int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    try {
        TempFile named;
        const int named_fd = named.create(folder, ".bremora-", ".tmp");
        named.remove();  // the descriptor keeps the data
        return named_fd;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }
}

// libxlsxwriter's errors in plain words, for those that name no system error.
std::string library_reason(lxw_error error) {
    switch (error) {
        case LXW_ERROR_CREATING_XLSX_FILE:
            return "Die Datei kann nicht angelegt werden";
        case LXW_ERROR_CREATING_TMPFILE:
        case LXW_ERROR_READING_TMPFILE:
            return "Die Zwischendaten können nicht geschrieben werden";
        case LXW_ERROR_ZIP_FILE_OPERATION:
        case LXW_ERROR_ZIP_FILE_ADD:
        case LXW_ERROR_ZIP_CLOSE:
            return "Die Datei kann nicht vollständig geschrieben werden";
        case LXW_ERROR_SHEETNAME_LENGTH_EXCEEDED:
        case LXW_ERROR_INVALID_SHEETNAME_CHARACTER:
        case LXW_ERROR_SHEETNAME_START_END_APOSTROPHE:
        case LXW_ERROR_SHEETNAME_ALREADY_USED:
            return "Ungültiger Tabellenname";
        default:
            return fmt::format("Interner Fehler der Schreibbibliothek ({})", static_cast<int>(error));
    }
}

// The library reports its failures in English on standard error; ours come as one German
// message, so its lines go nowhere while it works.
class LibraryQuiet {
public:
    LibraryQuiet() {
        const std::lock_guard<std::mutex> lock(s_mutex);
        if (s_depth++ > 0) return;
        s_null = std::fopen("/dev/null", "w");
        if (!s_null) return;
        s_saved = stderr;
        stderr = s_null;
    }
    ~LibraryQuiet() {
        const std::lock_guard<std::mutex> lock(s_mutex);
        if (--s_depth > 0 || !s_null) return;
        stderr = s_saved;
        std::fclose(s_null);
        s_null = nullptr;
    }
    LibraryQuiet(const LibraryQuiet&) = delete;
    LibraryQuiet& operator=(const LibraryQuiet&) = delete;

private:
    static inline std::mutex s_mutex;
    static inline int s_depth = 0;
    static inline std::FILE* s_null = nullptr;
    static inline std::FILE* s_saved = nullptr;
};

// A library call's result: an allocation failure as such, a file error with the system's reason
// (the first one met in the library's own files, else the one the call left in errno).
void check(lxw_error error, const fs::path& target, int call_errno = 0) {
    if (error == LXW_NO_ERROR) return;
    if (error == LXW_ERROR_MEMORY_MALLOC_FAILED) throw std::bad_alloc();
    const int system =
        t_library_files && t_library_files->first_error ? t_library_files->first_error : call_errno;
    const bool file_error = error == LXW_ERROR_CREATING_XLSX_FILE || error == LXW_ERROR_CREATING_TMPFILE ||
                            error == LXW_ERROR_READING_TMPFILE || error == LXW_ERROR_ZIP_FILE_OPERATION ||
                            error == LXW_ERROR_ZIP_FILE_ADD || error == LXW_ERROR_ZIP_CLOSE;
    if (file_error && system != 0) fail_errno(target, system);
    fail(target, library_reason(error));
}

// True when the filesystem of `folder` has no room left for a block.
bool folder_full(const fs::path& folder) {
    struct statvfs st {};
    return ::statvfs(folder.c_str(), &st) == 0 && st.f_bavail == 0;
}

// The uniquely named file beside the target that the workbook is written to; listed among the
// program's temporary files and removed unless it was renamed into place.
class WorkbookFile {
public:
    explicit WorkbookFile(const fs::path& target) : m_target(target) {
        m_folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        std::string prefix = target.filename().string() + ".";
        if (prefix.size() + 10 > kMaxFileName) prefix = ".bremora.";
        const int fd = m_temp.create(m_folder, prefix, ".tmp");
        if (fd < 0) fail_errno(target, errno);
        ::close(fd);
    }

    const fs::path& path() const { return m_temp.path(); }
    const fs::path& folder() const { return m_folder; }

    // Makes the written file durable and proves it complete before anything is replaced.
    void verify(const ZipExpectation& expected, SaveMeter& meter) {
        const int fd = ::open(path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) fail_errno(m_target, errno);
        const int synced = ::fsync(fd) == 0 ? 0 : errno;
        ::close(fd);
        if (synced != 0 && synced != EINVAL) fail_errno(m_target, synced);
        const ZipCheck check =
            meter.wanted()
                ? check_zip(path(), expected,
                            [&meter](uint64_t done, uint64_t total) { meter.checking(done, total); })
                : check_zip(path(), expected);
        if (check.ok) return;
        if (check.read_error != 0) fail_errno(m_target, check.read_error);
        if (folder_full(m_folder)) fail_errno(m_target, ENOSPC);
        fail(m_target, "Die geschriebene Datei ist unvollständig (" + check.fault + ")");
    }

    // The mode of the file it replaces, or the one a new file gets (mkstemp gives 0600), then
    // the rename: over an existing regular file only when `replace` says so.
    void commit(bool replace) {
        struct stat existing {};
        mode_t mode;
        if (::lstat(m_target.c_str(), &existing) == 0) {
            if (!replace) fail_errno(m_target, EEXIST);
            if (!S_ISREG(existing.st_mode)) fail(m_target, "Das Ziel ist keine gewöhnliche Datei");
            mode = existing.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::chmod(path().c_str(), mode);
        if (replace) {
            if (::rename(path().c_str(), m_target.c_str()) != 0) fail_errno(m_target, errno);
        } else {
            move_without_replacing();
        }
        m_temp.release();
        // The new name on disk as well; the file itself is already synced.
        const int dir = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }

private:
    // A name that appeared since the start is never replaced, where the filesystem can tell.
    void move_without_replacing() {
        if (::renameat2(AT_FDCWD, path().c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE) == 0) return;
        if (errno != EINVAL && errno != ENOSYS) fail_errno(m_target, errno);
        if (::link(path().c_str(), m_target.c_str()) == 0) {
            ::unlink(path().c_str());
            return;
        }
        if (errno != EPERM && errno != EOPNOTSUPP) fail_errno(m_target, errno);
        struct stat st {};
        if (::lstat(m_target.c_str(), &st) == 0) fail_errno(m_target, EEXIST);
        if (::rename(path().c_str(), m_target.c_str()) != 0) fail_errno(m_target, errno);
    }

    fs::path m_target;
    fs::path m_folder;
    TempFile m_temp;
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

    // The number of cell elements written. `row_written` is told of every row.
    template <class RowWritten>
    int64_t write(RowWritten&& row_written) {
        columns();
        view_and_print();
        for (int32_t row = 1; row <= m_sheet.last_row(); ++row) {
            write_row(row);
            row_written();
        }
        return m_cells;
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

    // One cell element in the file for each cell written.
    void write(lxw_error error) {
        check(error, m_target);
        ++m_cells;
    }

    const Sheet& m_sheet;
    lxw_worksheet* m_ws;
    Formats& m_formats;
    FormulaEvaluator& m_eval;
    const fs::path& m_target;
    std::unordered_map<uint64_t, lxw_format*> m_cell_formats;
    TextCleaner m_cleaner;
    int64_t m_cells = 0;
};

// Writes the workbook to `file` with the library's temporary data in `folder`; returns the parts
// the finished file must hold.
ZipExpectation write_file(const ExcelSession& excel, const Workbook& book, const fs::path& file,
                          const fs::path& folder, const fs::path& target, SaveMeter& meter) {
    LibraryFiles library_files;
    library_files.folder = folder.string();
    t_library_files = &library_files;
    // Declared before the library's workbook, so that it runs after the workbook is freed.
    struct Reset {
        LibraryFiles& files;
        ~Reset() {
            files.close_left_open();
            t_library_files = nullptr;
        }
    } reset{library_files};
    const LibraryQuiet quiet;

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = library_files.folder.data();
    LxwWorkbook lxw;
    const std::string file_name = file.string();
    errno = 0;
    lxw.wb = workbook_new_opt(file_name.c_str(), &options);
    if (!lxw.wb) fail_errno(target, errno ? errno : EIO);

    const std::string title = document_text(book.properties().title);
    const std::string subject = document_text(book.properties().subject);
    lxw_doc_properties properties{};
    properties.created = kDocumentTime;
    if (!title.empty()) properties.title = const_cast<char*>(title.c_str());
    if (!subject.empty()) properties.subject = const_cast<char*>(subject.c_str());
    check(workbook_set_properties(lxw.wb, &properties), target);

    ZipExpectation expected;
    for (const char* part :
         {"[Content_Types].xml", "_rels/.rels", "docProps/app.xml", "docProps/core.xml", "xl/workbook.xml",
          "xl/_rels/workbook.xml.rels", "xl/styles.xml", "xl/theme/theme1.xml"})
        expected.parts[part] = -1;

    Formats formats(lxw.wb, excel);
    FormulaEvaluator eval(book);
    size_t formula_cells = 0;
    int64_t rows_total = 0, rows_written = 0;
    for (const Sheet* sheet : book.sheets_in_tab_order()) {
        rows_total += sheet->last_row();
        for (int32_t row = 1; row <= sheet->last_row(); ++row)
            for (const Sheet::Cell& c : sheet->row_cells(row)) formula_cells += c.kind == CellKind::Formula;
    }
    eval.reserve(formula_cells);
    const auto row_written = [&] { meter.rows(++rows_written, rows_total); };
    TextCleaner names;
    lxw_worksheet* active = nullptr;
    int sheet_number = 0;
    for (const Sheet* sheet : book.sheets_in_tab_order()) {
        const char* name = names.clean(sheet->name(), false).c_str();
        if (workbook_validate_sheet_name(lxw.wb, name) != LXW_NO_ERROR)
            fail(target, fmt::format("Ungültiger Tabellenname \"{}\"", sheet->name()));
        lxw_worksheet* ws = workbook_add_worksheet(lxw.wb, name);
        if (!ws) {
            // A valid name: the sheet's temporary data could not be created, or memory ran out.
            if (library_files.first_error) fail_errno(target, library_files.first_error);
            throw std::bad_alloc();
        }
        const int64_t cells = SheetWriter(*sheet, ws, formats, eval, target).write(row_written);
        expected.parts[fmt::format("xl/worksheets/sheet{}.xml", ++sheet_number)] = cells;
        if (sheet == book.active()) active = ws;
    }
    if (active) worksheet_activate(active);
    library_files.meter = &meter;
    // The library reads what it wrote twice: the rows' data is copied into the sheet's part,
    // which is then read again to be packed.
    library_files.packing_total = 2 * library_files.written;
    library_files.read = 0;
    errno = 0;
    const lxw_error closed = lxw.close();
    library_files.meter = nullptr;
    if (library_files.display_failure) std::rethrow_exception(library_files.display_failure);
    check(closed, target, errno);
    // The library finished, but one of its temporary files may have lost data on the way.
    if (library_files.first_error) fail_errno(target, library_files.first_error);
    return expected;
}

// The creating application written into the finished archive, in place.
void name_application(const fs::path& file, const fs::path& target, std::string_view application) {
    const ZipEdit edit = rewrite_zip_part(file, "docProps/app.xml", [application](std::string_view xml) {
        return with_application(xml, application);
    });
    if (edit.ok) return;
    if (edit.error != 0) fail_errno(target, edit.error);
    fail(target, "Die geschriebene Datei ist unvollständig (" + edit.fault + ")");
}

// Our own writer: the package straight into the file beside the target.
ZipExpectation write_own(const ExcelSession& excel, const Workbook& book, const fs::path& file,
                         const fs::path& target, SaveMeter& meter) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) fail_errno(target, errno);
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{fd};
    try {
        const ZipExpectation expected = write_package(
            fd, excel, book, [&meter](int64_t done, int64_t total) { meter.rows_packed(done, total); });
        closer.fd = -1;
        if (::close(fd) != 0 && errno != EINTR) fail_errno(target, errno);
        return expected;
    } catch (const std::system_error& e) {
        fail_errno(target, e.code().value());
    } catch (const ZipTooLarge&) {
        fail(target, "Die Arbeitsmappe würde größer als 4 GiB, mehr fasst eine .xlsx-Datei ohne Zip64 nicht");
    } catch (const InvalidSheetName& e) {
        fail(target, fmt::format("Ungültiger Tabellenname \"{}\"", e.name));
    }
}

void save_with(const ExcelSession& excel, const Workbook& book, const fs::path& target, Existing existing,
               const SaveProgress* progress, Writer writer) {
    SaveMeter meter(progress);
    try {
        struct stat st {};
        if (::lstat(target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) fail_errno(target, EISDIR);
            if (existing == Existing::Keep) fail_errno(target, EEXIST);
            if (!S_ISREG(st.st_mode)) fail(target, "Das Ziel ist keine gewöhnliche Datei");
        }
        WorkbookFile file(target);
        ZipExpectation expected;
        if (writer == Writer::Own) {
            expected = write_own(excel, book, file.path(), target, meter);
        } else {
            expected = write_file(excel, book, file.path(), file.folder(), target, meter);
            name_application(file.path(), target, book.properties().application);
        }
        file.verify(expected, meter);
        file.commit(existing == Existing::Replace);
    } catch (const SaveError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        fail(target, e.what());
    }
    meter.finished();
}

}  // namespace

void save(const ExcelSession& excel, const Workbook& book, const fs::path& target, Existing existing) {
    save_with(excel, book, target, existing, nullptr, Writer::Own);
}

void save(const ExcelSession& excel, const Workbook& book, const fs::path& target, Existing existing,
          SaveProgress progress) {
    save_with(excel, book, target, existing, &progress, Writer::Own);
}

void save(const ExcelSession& excel, const Workbook& book, const fs::path& target, Existing existing,
          Writer writer) {
    save_with(excel, book, target, existing, nullptr, writer);
}

}  // namespace workbook::xlsx

// libxlsxwriter keeps each part of the file in a temporary file before it zips it, and leaves the
// function that makes them open to replacement. Ours have no name (nothing to leave behind, even
// when the program is killed), lie in the folder given (the workbook's own), and report every
// failed read, write, seek and close to the running save.
extern "C" FILE* lxw_tmpfile(char* tmpdir) {
    const char* folder = tmpdir && *tmpdir ? tmpdir : std::getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    const int fd = workbook::xlsx::unnamed_file(folder);
    if (fd < 0) {
        workbook::xlsx::note_library_error(errno);
        return nullptr;
    }
    FILE* file = ::fopencookie(reinterpret_cast<void*>(static_cast<intptr_t>(fd)), "w+",
                               {workbook::xlsx::temp_read, workbook::xlsx::temp_write,
                                workbook::xlsx::temp_seek, workbook::xlsx::temp_close});
    if (!file) {
        workbook::xlsx::note_library_error(ENOMEM);
        ::close(fd);
        return nullptr;
    }
    if (workbook::xlsx::t_library_files) {
        try {
            workbook::xlsx::t_library_files->open.emplace_back(fd, file);
        } catch (const std::bad_alloc&) {
            workbook::xlsx::note_library_error(ENOMEM);
            std::fclose(file);
            return nullptr;
        }
    }
    std::setvbuf(file, nullptr, _IOFBF, size_t{1} << 16);
    return file;
}

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
