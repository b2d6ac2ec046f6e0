// SPDX-License-Identifier: MIT
// Building GAEB 90 input for tests: records with their fields at fixed columns, and a conversion
// of such input through the controller with a short look at the cells it wrote.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"
#include "workbook/conversion.h"

namespace gaeb90test {

// One record: type in columns 1-2, each field starting at its column (1-based), filled with blanks
// to 80 columns, CR LF at the end. `pad` false keeps the line as short as its last field.
std::string rec(std::string_view type, std::initializer_list<std::pair<int, std::string_view>> fields = {},
                bool pad = true);

// Record 00 with exchange phase (columns 11-12) and OZ mask (columns 63-71).
std::string opening(std::string_view phase = "83", std::string_view mask = "1122PPPPI");

// Record 21: OZ 3-11, kind 12-14, quantity 24-31 and 32-34, unit 35-38.
std::string item(std::string_view oz, std::string_view kind, std::string_view quantity_integer = "00000001",
                 std::string_view quantity_decimals = "000", std::string_view unit = "St");
// Record 23: OZ 3-11, unit price 12-20 and 21-23, total sign 24, total 25-34 and 35-36.
std::string prices(std::string_view oz, std::string_view unit_integer, std::string_view unit_decimals,
                   std::string_view total_sign = " ", std::string_view total_integer = "",
                   std::string_view total_decimals = "");
std::string short_text(std::string_view text);  // record 25, columns 3-72
std::string long_text(std::string_view text);   // record 26, columns 6-60

// A conversion of `input` through the controller, in memory. convert() ends the input with the
// closing record 99, as every whole bill ends; convert_cut_off() leaves it as it is.
struct Bill {
    testsupport::Converted conv;
    workbook::Workbook& book() { return conv.book(); }
    const std::vector<std::string>& messages() const { return conv.ui->messages; }
    bool has_sheet(std::string_view name) { return book().find_sheet(name) != nullptr; }
    // "t text", "n 12.5", "f =ROUND(...)" or "" for an empty cell, e.g. cell("Positionsteil", "A9").
    std::string cell(std::string_view sheet, std::string_view address);
    // The model dump lines of one row without the sheet name: "A8<TAB>t<TAB>01.01.0010<TAB>style".
    std::vector<std::string> row(std::string_view sheet, int32_t row);
    // The texts of one column from `first_row` to the sheet's last row ("" for an empty cell).
    std::vector<std::string> column(std::string_view sheet, int32_t col, int32_t first_row);
    // The explicit format of a cell, as the model dump writes it ("color=255", "fill=34 border").
    std::string style(std::string_view sheet, std::string_view address);
};

Bill convert(const std::string& input, workbook::ConversionOptions options = {},
             std::vector<bool> answers = {});
Bill convert_cut_off(const std::string& input, workbook::ConversionOptions options = {},
                     std::vector<bool> answers = {});

}  // namespace gaeb90test
