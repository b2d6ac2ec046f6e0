// SPDX-License-Identifier: MIT
// The shape of the output: which sheets, in which order, the header block and caption row 7.
#pragma once

#include <string_view>

#include "workbook/conversion.h"
#include "workbook/rows.h"

namespace workbook {

// Start-up: minimised application, one-sheet workbook, made visible. Reports its own failure
// ("GAEB90-Modul, Starten von Excel\n\n" + class + " : " + message).
void PrepareWorkbook(ExcelSession& excel, Frontend& ui);
// The session set-up of every front end: connected, given the locale's number formats and the
// program's name and version for the files it saves, then PrepareWorkbook. A failed connection is reported
// like a failed PrepareWorkbook.
void open_session(ExcelSession& excel, Frontend& ui, const StartupValues& values);

// Step 1 of CreateSheets: sheet 1 becomes "Positionsteil", whose text groups have their summary
// row, the item, above them. Throws; the layout reports.
void create_positions_sheet(Conversion& c);
// Steps 2 to 4: "Teilsummen", "Hinweistext", "Fehlerhafte Zeilen" (GAEB 90) as the options say.
void create_auxiliary_sheets(Conversion& c);
// Both steps.
void CreateSheets(Conversion& c);
void AddRulesSheet(Conversion& c);
// Select Positionsteil; columns A:B text; column A bold.
void PreparePositionsSheet(Conversion& c);
// Label into column A and value into column B of `row` (1 to 5) of Positionsteil.
void WriteHeaderBlock(Conversion& c, int row, std::string_view label, std::string_view value);

// WriteColumnHeaderRow in its three steps, which the layouts guard separately:
// captions of row 7 (Positions = 7) and the grey fill of G:H with CalcColumns;
void column_header_captions(Conversion& c, SheetRows& rows);
// the column formats of C and E to H (and width 12 of F for GAEB 90);
void column_header_formats(Conversion& c);
// the caption cells' fill, border, bold and centring, then Positions = 8.
void column_header_styles(Conversion& c, SheetRows& rows);
void WriteColumnHeaderRow(Conversion& c, SheetRows& rows);

}  // namespace workbook
