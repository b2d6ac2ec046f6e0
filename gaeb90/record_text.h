// SPDX-License-Identifier: MIT
// The pieces of a GAEB 90 record: fields by column, code-page conversion, text clean-up, the OZ
// mask and ordinal numbers, numbers split into integer and decimal columns, item kinds.
#pragma once

#include <string>
#include <string_view>

#include "gaeb90/state.h"

namespace gaeb90 {

// Columns first..last (1-based, of the 80-column record) taken from the data part, which starts
// at column 3. A line that ends earlier gives a shorter or empty field.
std::string_view field(std::string_view data_part, int first, int last);

// Record text from code page 850 to UTF-8, one character per byte, cut at the first NUL.
std::string ASCII2ANSI(std::string_view text);
// Fields written as they stand (ordinal numbers, dates, the mask, numbers): decoded, not cut.
std::string as_read(std::string_view bytes);

// Tabs become blanks; every other character, a double quote too, stays as it is. Trailing blanks
// stay.
void text_cleanup(std::string& text);
// A text of blanks only (an empty text too): a long-text line without content.
bool all_blanks(std::string_view text);
// Trailing blanks removed (leading ones stay).
std::string_view trim_trailing_blanks(std::string_view text);
// What a record text becomes in its cell: decoded (ASCII2ANSI) and without the blanks that pad
// its fixed-width field ("St  " -> "St"), which no estimator can search for.
std::string cell_text(std::string_view text);
// The same for fields written as read (dates, the OZ mask).
std::string cell_text_as_read(std::string_view bytes);

// Counts the mask characters "1" to "4", "P" and "I"; every other character counts nothing.
MaskWidths count_mask(std::string_view mask);

// GroupOz cut into its hierarchy levels and joined with "."; empty when its length matches no
// sum of level widths. Each level is written without blanks and padded with leading zeros to its
// width: " 1 2" -> "01.02".
std::string group_oz_dotted(std::string_view group_oz, const MaskWidths& w);

// "LV-Gruppe 01.02 - Erdarbeiten", the label of a group's row and of its subtotal, as a cell
// shows it; a group without title goes by its number alone.
std::string group_label(std::string_view group_oz_dotted, std::string_view title);

// The item OZ field (columns 3-11) with level separators, e.g. 01020010A -> 01.02.0010.A. The
// right-aligned fields lose their blanks and get leading zeros instead: " 1 2  10" -> 01.02.0010,
// as the same item reads in the other formats.
std::string format_item_oz(std::string_view oz_field, const MaskWidths& w);

// Integer part + "." + decimal part with the blanks around it removed: "." alone is a blank field.
std::string number_text(std::string_view integer_part, std::string_view decimal_part);
// The decimal number of such a text (a sign may stand in front of the digits). Throws
// workbook::ConvertError for a blank field or any other character.
double to_number(std::string_view text);

}  // namespace gaeb90
