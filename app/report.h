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

// A file a folder search passed over, and why ("Austauschphase 89 wird nicht umgewandelt").
struct SkippedFile {
    std::string path;
    std::string reason;
};

// The report of `entries` with the program's exit status, as indented JSON text; with several
// inputs also the files passed over (`skipped`, present only when `batch`). Text that is no valid
// UTF-8 (a file name in another encoding) is written with replacement characters; a path that
// is no valid UTF-8 gets its exact bytes beside it ("eingabe_bytes", "arbeitsmappe_bytes",
// "pfad_bytes"), written by percent_bytes.
std::string report_json(const std::vector<ReportEntry>& entries, int status, bool batch = false,
                        const std::vector<SkippedFile>& skipped = {});
// The first entry of a report as report_json writes it; nothing when the text is no such report.
std::optional<ReportEntry> parse_report_entry(std::string_view json);

// True for well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool valid_utf8(std::string_view text);
// The bytes of `text` as ASCII: every byte from 0x20 to 0x7E except "%" as it is, every other byte
// as "%XX" with two upper-case hex digits (what Python's urllib.parse.unquote_to_bytes undoes).
std::string percent_bytes(std::string_view text);
// The bytes percent_bytes wrote; nothing for a malformed escape.
std::optional<std::string> from_percent_bytes(std::string_view text);

// Why the report cannot go to `path`, or nothing; the same rule as a workbook named with -o: one
// of the `inputs`, a folder, a link, a pipe or device, an existing file without `overwrite`, a
// write-protected one, or a folder that cannot be written; and never one of the `workbooks` this
// call writes. "-" (standard output) is always fine.
std::optional<std::string> refuse_report(const std::filesystem::path& path,
                                         const std::vector<std::filesystem::path>& inputs,
                                         const std::vector<std::filesystem::path>& workbooks, bool overwrite);
// Writes `text` to `path` through a temporary file in the same folder, renamed into place once it
// is complete: over an existing file only with `overwrite`, and never over one of the files in
// `keep` (the inputs and the workbooks just written); "-" writes to standard output. Returns the
// German message of a failure, or nothing.
std::optional<std::string> write_report(const std::filesystem::path& path, std::string_view text,
                                        const std::vector<std::filesystem::path>& keep, bool overwrite);

}  // namespace app
