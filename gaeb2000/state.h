// SPDX-License-Identifier: MIT
// The state of one GAEB 2000 conversion: the text holders and the reader-wide values, shared by
// the driver, the header sections, the ranges, the items and the notes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gaeb2000/line_list.h"

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

    std::string exchange_phase;         // "[DP]", at most 50 characters; the items read it
    int64_t record_count = 0;           // lines of StringList1 after loading: the progress bar's maximum
    std::string oz_mask;                // one digit per level and one for the item number
    std::string range_oz, range_label;  // the current range
    std::string range_heading;          // its heading, as the messages about its notes name it
    bool closing_record = false;        // the file holds "#end[GAEB]"
    bool end_of_ranges = false;
    bool end_of_sub_ranges = false;
    bool top_open = false;         // a top-level range has been entered and not left
    std::vector<int> open_levels;  // the inner ranges entered and not left, innermost last
};

}  // namespace gaeb2000
