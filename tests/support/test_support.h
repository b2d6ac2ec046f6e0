// SPDX-License-Identifier: MIT
// Helpers shared by the tests of every folder.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/bill_layout.h"
#include "workbook/conversion.h"
#include "workbook/excel_session.h"
#include "workbook/frontend.h"
#include "workbook/reading.h"

namespace testsupport {

std::filesystem::path data_dir();     // tests/data
std::filesystem::path samples_dir();  // ../shared/samples; may not exist
bool have_samples();
// A fresh, empty folder under the system's temporary folder, removed when the test ends.
std::filesystem::path fresh_dir();
void write_file(const std::filesystem::path& path, std::string_view bytes);
std::string read_file(const std::filesystem::path& path);

// Canonical text of the model, one line per non-empty cell:
//   Positionsteil!E9<TAB>f<TAB>=ROUND($G$9*$H$9,2)<TAB>fill=34 border
// kinds: t text, n number (shortest form), f formula; the last field lists the cell's explicit
// format (bold, color=BGR, fill=index, border, align=left|center|right, fmt=...), or is empty.
// Then per sheet its column formats ("Positionsteil!col:C<TAB>align=right fmt=...") and outline
// rows ("Positionsteil!row:21<TAB>outline=1"). Sheets in tab order, first line "#sheets a,b,c".
std::string dump_sheet(const workbook::Sheet& sheet);
std::string dump_workbook(const workbook::Workbook& book);
// Only the cell lines of one sheet, for compact expectations.
std::vector<std::string> cell_lines(const workbook::Sheet& sheet);

// Start-up values as in the "C" locale, with a fresh temporary folder.
workbook::StartupValues startup_values();

// A whole conversion in memory through the controller, as the console runs it but unsaved.
struct Converted {
    std::unique_ptr<workbook::ExcelSession> excel;
    std::unique_ptr<workbook::RecordingFrontend> ui;
    workbook::RunEnd end = workbook::RunEnd::Running;
    workbook::Workbook& book() { return *excel->result(); }
};
Converted convert_in_memory(const std::filesystem::path& input,
                            const workbook::ConversionOptions& options = {}, std::vector<bool> answers = {});

// One reader run on an in-memory session of its own, as the controller makes it: the format's
// workbook layout as the sink, a recording front end. After the reader: `reading.end`.
struct LayoutRun {
    explicit LayoutRun(workbook::GaebFormat format, const workbook::ConversionOptions& options = {},
                       const std::filesystem::path& file = {});
    workbook::StartupValues values;
    workbook::ExcelSession excel;
    workbook::RecordingFrontend ui;
    workbook::Conversion c;
    std::unique_ptr<workbook::BillLayout> layout;
    workbook::FrontendRun run;
    workbook::Reading reading;
    workbook::Workbook& book() { return *excel.result(); }
};

// Item rows of Positionsteil: the rows from 8 on with an ordinal number in column A.
int32_t count_items(const workbook::Workbook& book);

// A bill made by the project's generator (bremora-lvgen FORMAT ARGS, bench/lvgen/lvgen.h) in a
// fresh folder, named lv.<extension of its format and phase>; FORMAT "90", "2000" or "xml". Arguments
// that make no bill fail the test and give nullopt.
std::optional<std::filesystem::path> generate_bill(const std::string& format, const std::string& args);

// The console program.
struct CliRun {
    int exit_code = -1;
    std::string out, err;
};
CliRun run_cli(const std::vector<std::string>& args, std::string_view stdin_text = "");
// The console program as another user (nobody) can run it: a copy in a folder anyone may enter,
// made once. The build folder may lie below a folder only its owner may enter.
std::string cli_for_other_users();

// The saved .xlsx read back by an independent reader (openpyxl), in the format of
// tests/support/xlsx_dump.py: one line per non-empty cell, "Sheet!A1<TAB>kind<TAB>value..."
std::string xlsx_dump(const std::filesystem::path& xlsx);

// The console program's messages and its saved workbook as one text: "#stderr" and the messages
// (the saved file named "lv.xlsx", the test data folder "<data>"), then "#workbook" and the
// xlsx_dump of the file when one was written.
std::string cli_result(const std::filesystem::path& input, const std::vector<std::string>& options,
                       int& exit_code);

// A run through the console program compared with its reviewed dump, the golden file
// tests/support/golden/<golden>.txt. With BREMORA_UPDATE_GOLDEN=1 in the environment the golden
// files are written from what the runs give instead: only when a change of a workbook is meant.
struct GoldenRun {
    std::string golden;  // "gaeb90/kalkulation_standard"
    std::filesystem::path input;
    std::vector<std::string> options;
    int exit_code = 0;
};
void expect_golden_runs(const std::vector<GoldenRun>& runs);
// Any text compared with its reviewed golden file tests/support/golden/<golden>.txt, written
// instead with BREMORA_UPDATE_GOLDEN=1.
void expect_golden_text(const std::string& golden, const std::string& actual);

}  // namespace testsupport
