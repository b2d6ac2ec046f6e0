// SPDX-License-Identifier: MIT
// The machine-readable report of a run (--bericht): per input its format, exchange phase, items,
// totals, faulty lines, every message shown, the workbook written and the exit status, as JSON.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/console_frontend.h"
#include "workbook/conversion.h"
#include "workbook/workbook.h"

namespace app {

struct ReportEntry {
    std::string input;                          // as named on the command line or found in a folder
    std::optional<std::string> format;          // "GAEB 90", "GAEB 2000", "GAEB DA XML"
    std::optional<std::string> exchange_phase;  // as the bill gives it: "83"
    std::optional<int64_t> items;
    std::optional<double> total;           // the sum of the items' totals
    std::optional<double> declared_total;  // the total the bill states, where it states one
    std::optional<int64_t> faulty_lines;
    std::vector<ShownMessage> messages;
    std::optional<std::string> workbook;  // the file written
    int status = 0;
};

// What a conversion's workbook holds: the item rows of "Positionsteil" (from row 8 on, with an
// ordinal number in column A), the sum of their totals in column F as the workbook computes them,
// rounded to cents (empty when one of them is an error value), and the rows of "Fehlerhafte
// Zeilen", one for each faulty line (0 without that sheet).
struct WorkbookFigures {
    int64_t items = 0;
    std::optional<double> total;
    int64_t faulty_lines = 0;
};
WorkbookFigures workbook_figures(const workbook::Workbook& book);

// "GAEB 90", "GAEB 2000", "GAEB DA XML"; empty when undetected.
std::optional<std::string> format_name(workbook::GaebFormat format);
// The word for an exit status in the table and the report: "abgeschlossen", "abgewiesen", ...
std::string status_word(int status);

// The report of `entries` with the program's exit status, as indented JSON text. Text that is no
// valid UTF-8 (a file name in another encoding) is written with replacement characters.
std::string report_json(const std::vector<ReportEntry>& entries, int status);
// The first entry of a report as report_json writes it; nothing when the text is no such report.
std::optional<ReportEntry> parse_report_entry(std::string_view json);

// Why the report cannot go to `path`, or nothing: a folder, a link, a pipe or device, one of the
// `inputs`, or a folder that cannot be written. "-" (standard output) is always fine.
std::optional<std::string> refuse_report(const std::filesystem::path& path,
                                         const std::vector<std::filesystem::path>& inputs);
// Writes `text` to `path` through a temporary file in the same folder, renamed into place once it
// is complete (an existing report is replaced, never one of the files in `keep`: the inputs and
// the workbooks just written); "-" writes to standard output. Returns the German message of a
// failure, or nothing.
std::optional<std::string> write_report(const std::filesystem::path& path, std::string_view text,
                                        const std::vector<std::filesystem::path>& keep);

}  // namespace app
