// SPDX-License-Identifier: MIT
// The workbook the estimator priced: the rows of "Positionsteil" that carry an OZ in column A,
// with the quantity, unit price and total the file holds for them (numbers, texts, the cached
// results of formulas), read from an .xlsx as LibreOffice Calc or the spreadsheet save it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace angebot {

inline constexpr std::string_view kSheetName = "Positionsteil";

// What a cell holds as far as a price is concerned.
enum class CellType : uint8_t {
    Empty,
    Number,              // a number, or the cached number of a formula
    Text,                // a text, or a formula's text result
    Boolean,             // TRUE/FALSE; number is 1 or 0
    Error,               // "#DIV/0!", "#WERT!", ... in text
    FormulaWithoutValue  // a formula the file holds no result for
};

struct CellContent {
    CellType type = CellType::Empty;
    double number = 0;
    std::string text;
};

struct PricedRow {
    int32_t row = 0;
    std::string oz;  // column A, trimmed
    CellContent quantity, unit_price, total;
};

struct PricedWorkbook {
    // Columns, 1-based: found by their captions "Ordnungszahl", "Menge", "E-Preis", "G-Preis" in
    // the caption row, else A, C, E and F.
    int32_t oz_col = 1, quantity_col = 3, price_col = 5, total_col = 6;
    int32_t caption_row = 0;      // 0: no caption row found
    std::vector<PricedRow> rows;  // every row below the caption row with a text in the OZ column

    // "Positionsteil!E12".
    std::string address(int32_t row, int32_t col) const;
};

// Limits against damaged and hostile files: a zip entry may claim any size, so they hold for
// the bytes actually decompressed.
struct ReadLimits {
    uint64_t part_bytes = uint64_t{1} << 30;   // one part of the package, uncompressed
    uint64_t total_bytes = uint64_t{2} << 30;  // all parts read, uncompressed
    uint64_t file_bytes = uint64_t{2} << 30;   // the .xlsx file itself
};

// Reads the priced workbook; throws AngebotError with a German message when the file is no .xlsx,
// is damaged or too large, or has no sheet "Positionsteil".
PricedWorkbook read_priced_workbook(const std::filesystem::path& path, const ReadLimits& limits = {});
// The same from the bytes of the file.
PricedWorkbook read_priced_workbook_bytes(std::string_view bytes, const ReadLimits& limits = {});

// The same from the parts of a package already unpacked (part name -> bytes), for tests and fuzzing.
PricedWorkbook read_priced_workbook_parts(const std::map<std::string, std::string>& parts);

// Column letters and row of "E12": {12, 5}; {0, 0} for anything that is no cell address.
std::pair<int32_t, int32_t> parse_cell_address(std::string_view address);

}  // namespace angebot
