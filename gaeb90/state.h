// SPDX-License-Identifier: MIT
// The state of one GAEB 90 conversion, shared by the record loop and every record handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gaeb90 {

// Digit counts of the OZ mask of record 00: "1" to "4" hierarchy levels, "P" item, "I" index.
struct MaskWidths {
    int level1 = 0;
    int level2 = 0;
    int level3 = 0;
    int level4 = 0;
    int item = 0;
    int index = 0;
    bool operator==(const MaskWidths&) const = default;
};

// A group title joined from consecutive title records is cut here: far beyond any real title,
// and it keeps a file of nothing but title records from rewriting ever longer rows.
inline constexpr size_t kMaxTitle = 2000;

// Texts are kept as the raw 8-bit bytes of the record (code page 850) until they reach a cell.
struct Gaeb90State {
    std::string RecordTypeText;  // columns 1-2 of the current line, at most 2 characters
    std::string DataPart;        // columns 3-80, at most 78 characters, once a handler has read it
    int RecordNumber = 0;        // the record type as a number, the dispatch key
    std::string RecordMessage;   // error text prepared for the current line (UTF-8)
    std::string ExchangePhase;   // record 00, columns 11-12
    std::string OzMask;          // record 00, columns 63-71
    MaskWidths OzWidths;
    bool RulesFound = false;    // a T0 record stood before record 00
    bool ExportRules = false;   // the user wants the contractual rules exported
    bool ItemContext = false;   // long-text lines belong to an item
    bool NotesContext = false;  // long-text lines are notes text
    std::string GroupOz;        // record 11, columns 3-11 without trailing blanks
    std::string GroupOzDotted;  // GroupOz cut into its levels, joined with "."
    std::string GroupTitle;     // record 12, columns 3-42, or the consecutive records 12 joined
};

}  // namespace gaeb90
