// SPDX-License-Identifier: MIT
// The finishing pass after a complete read, and the tidying after an abort.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "workbook/conversion.h"
#include "workbook/rows.h"

namespace workbook {

struct FinishInfo {
    int mask_length = 0;  // GAEB DA XML: length of the OZ mask (column A width)
    // The input ended before its closing record (GAEB 90: record 99; GAEB 2000: "#end[GAEB]"):
    // the bill may be incomplete.
    bool cut_off = false;
};

// The bold row below the last row of Positionsteil that sums column F of the item rows.
inline constexpr std::string_view kGrandTotalLabel = "Summe Leistungsverzeichnis";

// The bill's name in the printout's footer and as the file's title: the header's
// "LV-Bezeichnung", else the input file's name; "" for standard input. Control characters become
// blanks; at most 100 characters.
std::string bill_name(Conversion& c);

// "Die Datei endet ohne Schlusssatz: sie ist möglicherweise unvollständig. 12 Positionen wurden
// gelesen." for a bill cut off after `items` items; it begins with kCutOffNoteStart.
inline constexpr std::string_view kCutOffNoteStart = "Die Datei endet ohne Schlusssatz:";
std::string cut_off_note(int64_t items);

// Item rows of Positionsteil: the rows from 8 on with an ordinal number in column A; 0 without
// the sheet.
int64_t item_rows(const Workbook& book);

// Grand total, deletion of empty auxiliary sheets, print layout, widths, frozen caption rows,
// zoom, completion message; then the run is Completed. Every sheet is printed on A4 with the
// bill's name and the page count in the footer; the workbook carries the bill's name as its title.
// A bill cut off (info.cut_off) is finished alike, but in place of the completion message the
// cut-off note says how many items were read (also on "Fehlerhafte Zeilen" when that sheet is
// kept), and the run is Aborted: what was read is saved, and the run does not end as a success.
void FinishWorkbook(Conversion& c, const SheetRows& rows, FinishInfo info = {});

// Tidies the sheets that exist after a reader gave up; the run becomes Aborted.
void FormatNachFehler(Conversion& c);

}  // namespace workbook
