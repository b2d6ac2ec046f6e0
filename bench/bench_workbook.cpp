// SPDX-License-Identifier: MIT
// What the workbook model costs on top of libxlsxwriter: the same cells (item rows of eight
// cells: ordinal number, label, quantity, unit, two price formulas, base price, factor) written
// through the model and saved, and directly with libxlsxwriter: in constant-memory mode (as the
// saver uses it) and in its default mode, which holds every cell in memory as the model does.
// Each run happens in its own child process, so that its peak memory is its own; times are the
// best of the repetitions. The model's peak after filling shows what saving adds to it.
//
//   bench_workbook [CELLS] [--repeat N] [--keep DIR]     CELLS 1000000, N 3 by default
#include <fmt/format.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "workbook/excel_session.h"
#include "workbook/numbers.h"
#include "workbook/xlsx/xlsx_writer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int32_t kCellsPerRow = 8;
constexpr int32_t kFirstRow = 8;
const char* const kUnits[] = {"m2", "m3", "St", "psch", "m", "kg", "h"};

struct Timing {
    double fill = 0, save = 0;
    long fill_peak_kb = 0;  // peak memory when the cells are written, before saving
};

long peak_kb_so_far() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The item of row r, the same in both runs.
struct Item {
    std::string oz, label;
    double quantity, price;
    const char* unit;
};

Item item(int32_t r) {
    const int32_t n = r - kFirstRow;
    return {fmt::format("{:02}.{:02}.{:04}", n / 100000 % 100, n / 1000 % 100, n % 1000 * 10),
            fmt::format("Position {} Mauerwerk aus Kalksandstein, Wanddicke {} cm", n, 11 + n % 30),
            static_cast<double>(n % 9973) / 8.0, static_cast<double>(n % 100003) / 100.0, kUnits[n % 7]};
}

Timing run_model(int32_t rows, const fs::path& file) {
    const auto start = Clock::now();
    workbook::ExcelSession excel;
    excel.Connect();
    excel.set_locale_number_formats("#.###.##0,00", "#######0,000");
    excel.set_sheets_in_new_workbook(1);
    excel.add_workbook();
    workbook::Sheet& s = excel.workbook().sheet(1);
    s.set_name("Positionsteil");
    s.set_number_format(workbook::Range::columns(1, 2), "@");
    s.set_bold(workbook::Range::columns(1, 1), true);
    s.set_halign(workbook::Range::columns(3, 3), workbook::HAlign::Right);
    s.set_number_format(workbook::Range::columns(3, 3), "#######0,000");
    s.set_halign(workbook::Range::columns(5, 8), workbook::HAlign::Right);
    s.set_number_format(workbook::Range::columns(5, 8), "#.###.##0,00");
    for (int32_t r = kFirstRow; r < kFirstRow + rows; ++r) {
        const Item it = item(r);
        s.set_value(r, 1, it.oz);
        s.set_value(r, 2, it.label);
        s.set_font_color(r, 2, workbook::kColorRed);
        s.set_value(r, 3, it.quantity);
        s.set_value(r, 4, it.unit);
        s.set_formula(r, 5, fmt::format("=ROUND($G${}*$H${},2)", r, r));
        s.set_formula(r, 6, fmt::format("=ROUND($C${}*$E${},2)", r, r));
        s.set_value(r, 7, it.price);
        s.set_value(r, 8, 1.0);
        for (int32_t col : {7, 8}) {
            s.set_fill(r, col, workbook::kFillTurquoise);
            s.border_around(r, col);
        }
    }
    Timing t;
    t.fill = seconds_since(start);
    t.fill_peak_kb = peak_kb_so_far();
    const auto save_start = Clock::now();
    workbook::xlsx::save(excel, excel.workbook(), file, workbook::xlsx::Existing::Replace);
    t.save = seconds_since(save_start);
    return t;
}

Timing run_direct(int32_t rows, const fs::path& file, bool constant_memory) {
    const auto start = Clock::now();
    lxw_workbook_options options{};
    options.constant_memory = constant_memory ? LXW_TRUE : LXW_FALSE;
    lxw_workbook* wb = workbook_new_opt(file.c_str(), &options);
    lxw_worksheet* ws = workbook_add_worksheet(wb, "Positionsteil");
    auto format = [wb](bool bold, bool right, const char* num, lxw_color_t color, bool input) {
        lxw_format* f = workbook_add_format(wb);
        if (bold) format_set_bold(f);
        if (right) format_set_align(f, LXW_ALIGN_RIGHT);
        if (num) format_set_num_format(f, num);
        if (color) format_set_font_color(f, color);
        if (input) {
            format_set_bg_color(f, 0xCCFFFF);
            format_set_border(f, LXW_BORDER_THIN);
        }
        return f;
    };
    lxw_format* oz = format(true, false, "@", 0, false);
    lxw_format* label = format(false, false, "@", 0xFF0000, false);
    lxw_format* quantity = format(false, true, "#######0.000", 0, false);
    lxw_format* money = format(false, true, "#,###,##0.00", 0, false);
    lxw_format* input = format(false, true, "#,###,##0.00", 0, true);
    worksheet_set_column(ws, 0, 0, LXW_DEF_COL_WIDTH, oz);
    worksheet_set_column(ws, 1, 1, LXW_DEF_COL_WIDTH, format(false, false, "@", 0, false));
    worksheet_set_column(ws, 2, 2, LXW_DEF_COL_WIDTH, quantity);
    worksheet_set_column(ws, 4, 7, LXW_DEF_COL_WIDTH, money);
    for (int32_t r = kFirstRow; r < kFirstRow + rows; ++r) {
        const Item it = item(r);
        const auto row = static_cast<lxw_row_t>(r - 1);
        const double unit_price = workbook::excel_round(it.price * 1.0, 2);
        worksheet_write_string(ws, row, 0, it.oz.c_str(), oz);
        worksheet_write_string(ws, row, 1, it.label.c_str(), label);
        worksheet_write_number(ws, row, 2, it.quantity, quantity);
        worksheet_write_string(ws, row, 3, it.unit, nullptr);
        worksheet_write_formula_num(ws, row, 4, fmt::format("=ROUND($G${}*$H${},2)", r, r).c_str(), money,
                                    unit_price);
        worksheet_write_formula_num(ws, row, 5, fmt::format("=ROUND($C${}*$E${},2)", r, r).c_str(), money,
                                    workbook::excel_round(it.quantity * unit_price, 2));
        worksheet_write_number(ws, row, 6, it.price, input);
        worksheet_write_number(ws, row, 7, 1.0, input);
    }
    Timing t;
    t.fill = seconds_since(start);
    t.fill_peak_kb = peak_kb_so_far();
    const auto save_start = Clock::now();
    if (workbook_close(wb) != LXW_NO_ERROR) std::exit(2);
    t.save = seconds_since(save_start);
    return t;
}

struct Result {
    Timing t;
    long peak_kb = 0;
    bool ok = false;
};

// Runs one variant in a child process: its times come through a pipe, its peak memory from wait4.
template <class F>
Result measure_once(F&& run, const fs::path& file) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const Timing t = run(file);
        const ssize_t written = ::write(fds[1], &t, sizeof t);
        ::_exit(written == static_cast<ssize_t>(sizeof t) ? 0 : 1);
    }
    ::close(fds[1]);
    Result r;
    const bool got = ::read(fds[0], &r.t, sizeof r.t) == static_cast<ssize_t>(sizeof r.t);
    ::close(fds[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    r.peak_kb = usage.ru_maxrss;
    r.ok = got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

template <class F>
Result measure(int repeat, F&& run, const fs::path& file) {
    Result best = measure_once(run, file);
    for (int i = 1; i < repeat && best.ok; ++i) {
        const Result r = measure_once(run, file);
        if (!r.ok) return r;
        if (r.t.fill + r.t.save < best.t.fill + best.t.save) best.t = r.t;
        best.peak_kb = std::max(best.peak_kb, r.peak_kb);
    }
    return best;
}

double mib(long kb) {
    return static_cast<double>(kb) / 1024.0;
}

void print(const char* name, const Result& r) {
    fmt::print(
        "{:<26} write {:6.2f} s  save {:6.2f} s  total {:6.2f} s  peak {:7.1f} MiB ({:.1f} before saving)\n",
        name, r.t.fill, r.t.save, r.t.fill + r.t.save, mib(r.peak_kb), mib(r.t.fill_peak_kb));
}

}  // namespace

int main(int argc, char** argv) {
    long cells = 1000000;
    int repeat = 3;
    fs::path keep;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        char* end = nullptr;
        if (arg == "--keep" && i + 1 < argc) {
            keep = argv[++i];
        } else if (arg == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if ((cells = std::strtol(arg.c_str(), &end, 10)) <= 0 || *end != '\0') {
            std::fprintf(stderr, "usage: bench_workbook [CELLS] [--repeat N] [--keep DIR]\n");
            return 2;
        }
    }
    const auto rows = static_cast<int32_t>((cells + kCellsPerRow - 1) / kCellsPerRow);
    if (rows > workbook::kMaxRow - kFirstRow) {
        std::fprintf(stderr, "at most %d cells\n", (workbook::kMaxRow - kFirstRow) * kCellsPerRow);
        return 2;
    }
    const fs::path dir =
        keep.empty() ? fs::temp_directory_path() / fmt::format("bremora-bench-{}", ::getpid()) : keep;
    fs::create_directories(dir);

    fmt::print("{} cells in {} item rows of {} cells, one sheet; best of {}\n",
               static_cast<long>(rows) * kCellsPerRow, rows, kCellsPerRow, repeat);
    const Result direct = measure(
        repeat, [rows](const fs::path& f) { return run_direct(rows, f, true); }, dir / "direct.xlsx");
    const Result in_memory = measure(
        repeat, [rows](const fs::path& f) { return run_direct(rows, f, false); }, dir / "in_memory.xlsx");
    const Result model = measure(
        repeat, [rows](const fs::path& f) { return run_model(rows, f); }, dir / "model.xlsx");
    print("libxlsxwriter (constant)", direct);
    print("libxlsxwriter (in memory)", in_memory);
    print("model, saved", model);
    std::error_code ec;
    fmt::print("file {:.1f} MiB\n",
               static_cast<double>(fs::file_size(dir / "model.xlsx", ec)) / (1024.0 * 1024.0));
    const bool ok = direct.ok && in_memory.ok && model.ok;
    if (ok) {
        const double model_time = model.t.fill + model.t.save;
        fmt::print("model / libxlsxwriter constant:  time {:.2f}\n",
                   model_time / (direct.t.fill + direct.t.save));
        fmt::print("model / libxlsxwriter in memory: time {:.2f}  peak memory {:.2f}\n",
                   model_time / (in_memory.t.fill + in_memory.t.save),
                   static_cast<double>(model.peak_kb) / static_cast<double>(in_memory.peak_kb));
        fmt::print("saving adds {:.1f} MiB to the model's {:.1f} MiB\n",
                   mib(model.peak_kb - model.t.fill_peak_kb), mib(model.t.fill_peak_kb));
    }
    if (keep.empty()) fs::remove_all(dir);
    return ok ? 0 : 1;
}
