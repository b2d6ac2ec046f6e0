// SPDX-License-Identifier: MIT
// What a reader gets for one run, and nothing of the spreadsheet: the options that change what is
// read, the input, where the reader stands in it, the sink it reports the bill to and the run it
// reports its progress to; and what it learns of the bill for the run's report.
#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "bill/sink.h"
#include "workbook/function_ref.h"
#include "workbook/input_place.h"

namespace workbook {

// GaebFormat: 0 undetected, 90, 2000, 2010 (GAEB DA XML).
enum class GaebFormat : int { None = 0, Gaeb90 = 90, Gaeb2000 = 2000, Xml = 2010 };

// How a run ended, for the front end: the console's exit status, the window's last message.
enum class RunEnd {
    Running,    // the reader has not ended the run yet
    Completed,  // FinishWorkbook ran: the workbook is complete
    Aborted,    // a reader gave up mid-way; the tidied partial workbook is to be saved
    Refused,    // input refused before anything was converted: nothing is saved
};
RunEnd run_end(bill::Ending how);

// The six option controls of the main window, as every conversion sees them.
struct ConversionOptions {
    bool OnlyShortText = false;
    bool ExportNotesText = false;
    bool LogFaultyLines = true;
    bool RoundPrices = true;
    bool SubtotalsSheet = false;
    bool CalcColumns = true;
    bool operator==(const ConversionOptions&) const = default;
};

// The options that change what a reader reads; the others change only the workbook.
struct ReadOptions {
    bool OnlyShortText = false;    // long texts are not read
    bool ExportNotesText = false;  // GAEB 2000 and DA XML read notes only when they are wanted
    bool LogFaultyLines = true;    // GAEB 90: a faulty record is reported and reading goes on
};
ReadOptions read_options(const ConversionOptions& options);

// One run of a reader.
struct Reading {
    Reading(bill::Sink& to, bill::Run& progress, InputPlace& where, GaebFormat gaeb_format,
            ReadOptions read_options, const std::filesystem::path& input)
        : sink(to),
          run(progress),
          place(where),
          format(gaeb_format),
          options(read_options),
          file_name(input),
          input_path(input) {}

    bill::Sink& sink;
    bill::Run& run;
    // Where the reader stands in the input, put in front of the messages of failed steps.
    InputPlace& place;
    GaebFormat format;
    ReadOptions options;
    std::filesystem::path file_name;   // what the reader opens: the input, for GAEB 90 its copy
    std::filesystem::path input_path;  // the user's input file, always

    // What the bill says of itself, for the run's report: its exchange phase as the reader read
    // it ("83"), and the total it states, where it states one (GAEB DA XML: the bill's Totals).
    std::string exchange_phase;
    std::optional<double> declared_total;
    RunEnd end = RunEnd::Running;

    bool ended() const { return end != RunEnd::Running; }
    // A fault at the reader's place, with the message as it is shown.
    void fault(std::string text, bool error = false);
    // The reader's place with the line and column of this offset of its text (a value inside
    // the item it stands at), where it can be located.
    bill::Place place_at(int64_t offset) const;
    // The last event of the run: reported to the sink and kept. Once only.
    void finish(const bill::End& how);
};

// The place of a fault in the model.
bill::Place place_of(const InputPlace& place);

// A guarded step of a reader: a std::exception that leaves `step` is reported to the sink as
// `prefix` + the place + class + " : " + message. Returns whether the step ran to its end.
bool guarded(Reading& r, std::string_view prefix, FunctionRef<void()> step);

// The entry of a reader: runs `read`. A sink that stops the run (bill::Stop) has ended it as the
// stop says; a std::exception that no step caught goes to `unexpected`.
void run_reader(Reading& r, FunctionRef<void()> read, FunctionRef<void(const std::exception&)> unexpected);

}  // namespace workbook
