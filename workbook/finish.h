// SPDX-License-Identifier: MIT
// The finishing pass after a complete read, and the tidying after an abort.
#pragma once

#include <string>
#include <string_view>

#include "workbook/conversion.h"
#include "workbook/rows.h"

namespace workbook {

struct FinishInfo {
    int mask_length = 0;  // GAEB DA XML: length of the OZ mask (column A width)
};

// The bold row below the last row of Positionsteil that sums column F of the item rows.
inline constexpr std::string_view kGrandTotalLabel = "Summe Leistungsverzeichnis";

// The bill's name in the printout's footer and as the file's title: the header's
// "LV-Bezeichnung", else the input file's name; "" for standard input. Control characters become
// blanks; at most 100 characters.
std::string bill_name(Conversion& c);

// Grand total, deletion of empty auxiliary sheets, print layout, widths, frozen caption rows,
// zoom, completion message; then the run is Completed. Every sheet is printed on A4 with the
// bill's name and the page count in the footer; the workbook carries the bill's name as its title.
void FinishWorkbook(Conversion& c, const SheetRows& rows, FinishInfo info = {});

// Tidies the sheets that exist after a reader gave up; the run becomes Aborted.
void FormatNachFehler(Conversion& c);

}  // namespace workbook
