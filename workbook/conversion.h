// SPDX-License-Identifier: MIT
// The spreadsheet session of one conversion, as the workbook's layout writes it: options, the
// session, the front end, the program-wide values, the place of the reader in its input for the
// messages of failed steps, and how the workbook was ended.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "workbook/excel_session.h"
#include "workbook/frontend.h"
#include "workbook/function_ref.h"
#include "workbook/input_place.h"
#include "workbook/reading.h"

namespace workbook {

// "#" + t + "###" + t + "##0" + d + "00" and "#######0" + d + "000".
std::string make_money_format(std::string_view thousands, std::string_view decimal);
std::string make_quantity_format(std::string_view decimal);

// Program-wide values set up at start-up, which every conversion takes over.
struct StartupValues {
    std::filesystem::path temp_folder;    // TempFolder
    std::string money_format;             // MoneyFormat, the locale's notation
    std::string quantity_format;          // QuantityFormat
    std::string application = "Bremora";  // the program and its version, as the saved files name it
};

struct Conversion {
    // One conversion of the user's file `input`.
    Conversion(ExcelSession& excel_session, Frontend& frontend, const StartupValues& values,
               GaebFormat gaeb_format, const ConversionOptions& conversion_options,
               const std::filesystem::path& input)
        : excel(excel_session),
          ui(frontend),
          options(conversion_options),
          format(gaeb_format),
          input_path(input),
          temp_folder(values.temp_folder),
          money_format(values.money_format),
          quantity_format(values.quantity_format) {}

    ExcelSession& excel;
    Frontend& ui;
    ConversionOptions options;
    GaebFormat format = GaebFormat::None;
    std::filesystem::path input_path;   // the user's input file, always
    std::filesystem::path temp_folder;  // TempFolder
    std::string money_format;           // MoneyFormat, in the locale's notation
    std::string quantity_format;        // QuantityFormat
    RunEnd end = RunEnd::Running;
    // Where the reader stands in the input, put in front of the reports of failed steps.
    InputPlace place;

    // Sheets created by CreateSheets/AddRulesSheet in this run.
    bool has_subtotals_sheet = false;
    bool has_notes_sheet = false;
    bool has_faulty_sheet = false;
    bool has_rules_sheet = false;

    // "Ending the program": the run is over, nothing after the current handler is read.
    void end_program(RunEnd how) {
        if (end == RunEnd::Running) end = how;
    }
    bool ended() const { return end != RunEnd::Running; }
    Workbook& book() { return excel.workbook(); }
};

// A guarded step while the workbook is written from a reader's events: `prefix` + where the reader
// stands in the input (c.place) + class + " : " + message, as in "Zeile 1234, Spalte 17:
// EDOMParseError : ...", shown as a message.
bool guarded(Conversion& c, std::string_view prefix, FunctionRef<void()> step);

}  // namespace workbook
