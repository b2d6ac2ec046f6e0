// SPDX-License-Identifier: MIT
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "app/controller.h"
#include "bench/lvgen/lvgen.h"
#include "workbook/layout.h"
#include "workbook/numbers.h"
#include "workbook/text.h"

namespace testsupport {

std::filesystem::path data_dir() {
    return BREMORA_TEST_DATA;
}
std::filesystem::path samples_dir() {
    return BREMORA_SAMPLES;
}
bool have_samples() {
    std::error_code ec;
    return std::filesystem::is_directory(samples_dir(), ec);
}

namespace {

struct DirCleanup : ::testing::EmptyTestEventListener {
    std::vector<std::filesystem::path> dirs;
    void OnTestEnd(const ::testing::TestInfo&) override {
        for (const auto& d : dirs) {
            std::error_code ec;
            std::filesystem::remove_all(d, ec);
        }
        dirs.clear();
    }
};

DirCleanup& cleanup() {
    static DirCleanup* listener = [] {
        auto* l = new DirCleanup;
        ::testing::UnitTest::GetInstance()->listeners().Append(l);
        return l;
    }();
    return *listener;
}

std::string describe_format(const workbook::CellFormat& f) {
    std::string out;
    auto add = [&](const std::string& s) {
        if (!out.empty()) out += ' ';
        out += s;
    };
    if (f.bold) add(*f.bold ? "bold" : "bold=0");
    if (f.font_color) add("color=" + std::to_string(*f.font_color));
    if (f.fill) add("fill=" + std::to_string(*f.fill));
    if (f.border && *f.border) add("border");
    if (f.halign) {
        switch (*f.halign) {
            case workbook::HAlign::Left:
                add("align=left");
                break;
            case workbook::HAlign::Center:
                add("align=center");
                break;
            case workbook::HAlign::Right:
                add("align=right");
                break;
            case workbook::HAlign::General:
                add("align=general");
                break;
        }
    }
    if (f.number_format) add("fmt=" + *f.number_format);
    return out;
}

std::string cell_line(const workbook::Sheet& sheet, int32_t row, const workbook::Sheet::Cell& c) {
    std::string kind, value;
    switch (c.kind) {
        case workbook::CellKind::Text:
            kind = "t", value = std::string(sheet.cell_string(c));
            break;
        case workbook::CellKind::Number:
            kind = "n", value = workbook::format_number(c.num);
            break;
        case workbook::CellKind::Formula:
            kind = "f", value = std::string(sheet.cell_string(c));
            break;
        case workbook::CellKind::Empty:
            kind = "-";
            break;
    }
    return sheet.name() + "!" + workbook::column_letters(c.col) + std::to_string(row) + "\t" + kind + "\t" +
           value + "\t" + describe_format(sheet.format_of(c));
}

}  // namespace

std::filesystem::path fresh_dir() {
    static std::mt19937_64 rng{std::random_device{}()};
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bremora-test-" + std::to_string(rng()));
    std::filesystem::create_directories(dir);
    cleanup().dirs.push_back(dir);
    return dir;
}

std::string cli_for_other_users() {
    static const std::string copy = [] {
        namespace fs = std::filesystem;
        const fs::path dir = fresh_dir();
        const fs::path program = dir / "bremora-cli";
        fs::copy_file(BREMORA_CLI, program, fs::copy_options::overwrite_existing);
        const fs::perms open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec;
        fs::permissions(dir, open);
        fs::permissions(program, open);
        return program.string();
    }();
    return copy;
}

void write_file(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> cell_lines(const workbook::Sheet& sheet) {
    std::vector<std::string> lines;
    for (int32_t row = 1; row <= sheet.last_row(); ++row)
        for (const auto& c : sheet.row_cells(row))
            if (c.kind != workbook::CellKind::Empty || c.format != 0)
                lines.push_back(cell_line(sheet, row, c));
    return lines;
}

std::string dump_sheet(const workbook::Sheet& sheet) {
    std::string out;
    for (const auto& line : cell_lines(sheet)) out += line + "\n";
    for (int32_t col = 1; col <= 16; ++col) {
        const std::string f = describe_format(sheet.column_format(col));
        const auto width = sheet.column_width(col);
        if (f.empty() && !width) continue;
        out += sheet.name() + "!col:" + workbook::column_letters(col) + "\t" + f;
        if (width) out += (f.empty() ? "" : " ") + std::string("width=") + workbook::format_number(*width);
        out += "\n";
    }
    for (int32_t row = 1; row <= sheet.last_row(); ++row)
        if (sheet.outline_level(row) > 0)
            out += sheet.name() + "!row:" + std::to_string(row) +
                   "\toutline=" + std::to_string(sheet.outline_level(row)) + "\n";
    return out;
}

std::string dump_workbook(const workbook::Workbook& book) {
    std::string names;
    for (const auto* s : book.sheets_in_tab_order()) names += (names.empty() ? "" : ",") + s->name();
    std::string out = "#sheets " + names + "\n";
    for (const auto* s : book.sheets_in_tab_order()) out += dump_sheet(*s);
    return out;
}

workbook::StartupValues startup_values() {
    return {fresh_dir(), workbook::make_money_format(",", "."), workbook::make_quantity_format(".")};
}

Converted convert_in_memory(const std::filesystem::path& input, const workbook::ConversionOptions& options,
                            std::vector<bool> answers) {
    Converted result;
    result.excel = std::make_unique<workbook::ExcelSession>();
    result.ui = std::make_unique<workbook::RecordingFrontend>();
    result.ui->answers = std::move(answers);
    const workbook::StartupValues values = startup_values();
    workbook::open_session(*result.excel, *result.ui, values);
    app::ConversionController controller(*result.excel, *result.ui, values);
    result.end = controller.run(input, options);
    return result;
}

LayoutRun::LayoutRun(workbook::GaebFormat format, const workbook::ConversionOptions& options,
                     const std::filesystem::path& file)
    : values(startup_values()),
      c(excel, ui, values, format, options, file),
      layout(workbook::make_bill_layout(c)),
      run(ui),
      reading(*layout, run, c.place, format, workbook::read_options(options), file) {
    workbook::open_session(excel, ui, values);
}

int32_t count_items(const workbook::Workbook& book) {
    const workbook::Sheet* s = book.find_sheet("Positionsteil");
    int32_t items = 0;
    for (int32_t row = 8; s && row <= s->last_row(); ++row)
        if (!s->text(row, 1).empty()) ++items;
    return items;
}

std::optional<std::filesystem::path> generate_bill(const std::string& format, const std::string& args) {
    const std::optional<lvgen::Format> f = format == "90"     ? std::optional(lvgen::Format::Gaeb90)
                                           : format == "2000" ? std::optional(lvgen::Format::Gaeb2000)
                                           : format == "xml"  ? std::optional(lvgen::Format::Xml)
                                                              : std::nullopt;
    std::string error;
    const auto options = f ? lvgen::parse_arguments(*f, args, error) : std::nullopt;
    if (!options) {
        ADD_FAILURE() << "generate_bill(\"" << format << "\", \"" << args << "\"): " << error;
        return std::nullopt;
    }
    const std::filesystem::path path = fresh_dir() / ("lv." + lvgen::extension(*options));
    write_file(path, lvgen::make_bill(*options));
    return path;
}

CliRun run_cli(const std::vector<std::string>& args, std::string_view stdin_text) {
    CliRun run;
    const std::filesystem::path dir = fresh_dir();
    const std::filesystem::path in = dir / "stdin.txt", out = dir / "stdout.txt", err = dir / "stderr.txt";
    write_file(in, stdin_text);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(in.c_str(), "rb", stdin);
        std::freopen(out.c_str(), "wb", stdout);
        std::freopen(err.c_str(), "wb", stderr);
        std::vector<char*> argv;
        std::string program = BREMORA_CLI;
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = read_file(out);
    run.err = read_file(err);
    return run;
}

std::string xlsx_dump(const std::filesystem::path& xlsx) {
    const std::filesystem::path dir = fresh_dir();
    const std::string command = std::string("/usr/bin/python3 ") + BREMORA_XLSX_DUMP + " --styles --setup '" +
                                xlsx.string() + "' > '" + (dir / "dump.txt").string() + "' 2>&1";
    const int rc = std::system(command.c_str());
    std::string text = read_file(dir / "dump.txt");
    if (rc != 0) ADD_FAILURE() << "xlsx_dump failed for " << xlsx << ":\n" << text;
    return text;
}

std::string cli_result(const std::filesystem::path& input, const std::vector<std::string>& options,
                       int& exit_code) {
    const auto out = fresh_dir() / "lv.xlsx";
    std::vector<std::string> args{input.string()};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"-o", out.string()});
    const auto run = run_cli(args);
    exit_code = run.exit_code;
    // Paths depend on the temporary folder and on where the project lies.
    std::string err = workbook::replace_all(run.err, out.string(), "lv.xlsx");
    err = workbook::replace_all(err, data_dir().string(), "<data>");
    std::string text = "#stderr\n" + err;
    if (std::filesystem::exists(out)) text += "#workbook\n" + xlsx_dump(out);
    return text;
}

namespace {

bool update_golden() {
    const char* v = std::getenv("BREMORA_UPDATE_GOLDEN");
    return v != nullptr && std::string(v) == "1";
}

}  // namespace

void expect_golden_runs(const std::vector<GoldenRun>& runs) {
    for (const GoldenRun& r : runs) {
        SCOPED_TRACE(r.golden);
        int exit_code = -1;
        const std::string actual = cli_result(r.input, r.options, exit_code);
        EXPECT_EQ(exit_code, r.exit_code) << actual;
        const std::filesystem::path golden = std::filesystem::path(BREMORA_GOLDEN) / (r.golden + ".txt");
        if (update_golden()) {
            std::filesystem::create_directories(golden.parent_path());
            write_file(golden, actual);
            continue;
        }
        EXPECT_EQ(actual, read_file(golden)) << "BREMORA_UPDATE_GOLDEN=1 writes " << golden;
    }
}

void expect_golden_text(const std::string& golden, const std::string& actual) {
    const std::filesystem::path file = std::filesystem::path(BREMORA_GOLDEN) / (golden + ".txt");
    if (update_golden()) {
        std::filesystem::create_directories(file.parent_path());
        write_file(file, actual);
        return;
    }
    EXPECT_EQ(actual, read_file(file)) << "BREMORA_UPDATE_GOLDEN=1 writes " << file;
}

}  // namespace testsupport
