// SPDX-License-Identifier: MIT
// The finishing pass after a complete read, and the tidying after an abort.
#pragma once

#include "workbook/conversion.h"
#include "workbook/rows.h"

namespace workbook {

struct FinishInfo {
    int mask_length = 0;  // GAEB DA XML: length of the OZ mask (column A width)
};

// Grand total, deletion of empty auxiliary sheets, print layout, widths, frozen caption rows,
// zoom, completion message; then the run is Completed.
void FinishWorkbook(Conversion& c, const SheetRows& rows, FinishInfo info = {});

// Tidies the sheets that exist after a reader gave up; the run becomes Aborted.
void FormatNachFehler(Conversion& c);

}  // namespace workbook
