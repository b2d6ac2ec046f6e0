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
    Number,               // a number, or the cached number of a formula
    Text,                 // a text, or a formula's text result
    Boolean,              // TRUE/FALSE; number is 1 or 0
    Error,                // "#DIV/0!", "#WERT!", ... in text, as the file holds it
    FormulaWithoutValue,  // a formula the file holds no result for
    NumberOutOfRange      // a number no bid can carry: beyond the range of a double, subnormal,
                          // infinite or NaN; text as the file holds it
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
    // Where the unit price is the product of the calculation columns of its own row (E =
    // ROUND(G*H,n) or G*H): what the estimator typed into them. Both empty otherwise.
    bool calculated_price = false;
    CellContent base_price, factor;
};

struct PricedWorkbook {
    // Columns, 1-based: found by their captions "Ordnungszahl", "Menge", "E-Preis", "G-Preis",
    // "Basispreis", "Faktor" in the caption row, else A, C, E, F, G and H.
    int32_t oz_col = 1, quantity_col = 3, price_col = 5, total_col = 6, base_col = 7, factor_col = 8;
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

// Reads the priced workbook; throws AngebotError with a German message when the file is no .xlsx
// (an OpenDocument file or any other), is damaged (also: a part twice in the archive) or too
// large, or has no sheet "Positionsteil"; std::bad_alloc when memory runs out.
PricedWorkbook read_priced_workbook(const std::filesystem::path& path, const ReadLimits& limits = {});
// The same from the bytes of the file.
PricedWorkbook read_priced_workbook_bytes(std::string_view bytes, const ReadLimits& limits = {});

// The same from the parts of a package already unpacked (part name -> bytes), for tests and fuzzing.
PricedWorkbook read_priced_workbook_parts(const std::map<std::string, std::string>& parts);

// Column letters and row of "E12": {12, 5}; {0, 0} for anything that is no cell address.
std::pair<int32_t, int32_t> parse_cell_address(std::string_view address);

// A number as a cell of the workbook holds it ("12.5", "-1.25E+1", "+3"): decimal or exponent
// form with an optional sign; blanks and control characters around it are ignored. The only way
// numbers of the workbook are read; never throws.
struct ParsedNumber {
    enum class Kind : uint8_t {
        NotANumber,  // anything else ("12,50", "", "0x10")
        Usable,      // value is 0 or a normal finite double
        OutOfRange   // a number no bid can carry: beyond the double's range, subnormal, inf or nan
    };
    Kind kind = Kind::NotANumber;
    double value = 0;  // when usable
};
ParsedNumber parse_number(std::string_view text) noexcept;

// The name the spreadsheet shows in German for an error value as the file stores it:
// "#VALUE!" -> "#WERT!", "#N/A" -> "#NV"; other texts as they are.
std::string german_error_name(std::string_view stored);

}  // namespace angebot
