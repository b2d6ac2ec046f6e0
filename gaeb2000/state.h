// SPDX-License-Identifier: MIT
// The state of one GAEB 2000 conversion: the text holders and the reader-wide values, shared by
// the driver, the header sections, the ranges, the items and the notes.
#pragma once

#include <cstdint>
#include <string>

#include "gaeb2000/line_list.h"
#include "workbook/rows.h"

namespace gaeb2000 {

// Made fresh for each conversion. A string list fails past its end; a memo gives "" past its end.
// Neither limits the length of a line.
struct Gaeb2000State {
    std::string source;    // the decoded file, which the lines of StringList1 view
    LineList StringList1;  // the file less the STLB-Bau lines; each processed block is deleted
    LineList StringList2;  // the current header section or top-level range
    LineList StringList4;  // the current inner range, or the item blocks to be written next
    LineList Memo5{LineList::Kind::Memo};     // the current item; the current LVGlied block
    LineList Memo4{LineList::Kind::Memo};     // the current sub-description (UnterBeschr)
    LineList RTFMemo5{LineList::Kind::Memo};  // the plain text of the current short or long text
    LineList RTFMemo3{LineList::Kind::Memo};  // the plain text of the current note

    // Row cursors and group rows.
    workbook::SheetRows SheetRows;
    std::string exchange_phase;         // "[DP]", at most 50 characters; the items read it
    int64_t record_count = 0;           // lines of StringList1 after loading: the progress bar's maximum
    std::string collected_notes;        // the notes of all ranges, each under its range heading
    std::string oz_mask;                // one digit per level and one for the item number
    std::string range_oz, range_label;  // the current range
    std::string subtotal_oz, subtotal_label;  // kept for the range's subtotal line
    bool end_of_ranges = false;
    bool end_of_sub_ranges = false;
    // The file holds its closing line "#end[GAEB]"; a file without it may have lost its end.
    bool closed = false;
};

}  // namespace gaeb2000
