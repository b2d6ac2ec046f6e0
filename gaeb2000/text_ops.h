// SPDX-License-Identifier: MIT
// The small text operations of the GAEB 2000 reader: key values, block moves, the dots of an
// ordinal number, the removal of embedded pictures and the clean-up of long texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "gaeb2000/line_list.h"

namespace gaeb2000 {

// A fixed-capacity text field: the first `capacity` characters. Every character is kept as it is.
std::string field(std::string_view s, size_t capacity);

// `textline` with the first occurrence of `textkey` (found ignoring the case of A-Z) removed;
// unchanged when the key does not occur.
std::string DeleteLineKey(std::string_view textkey, std::string_view textline);
// The line with the first `key` and then the first "[end]" removed; nothing trimmed.
std::string key_value(std::string_view line, std::string_view key);
// The same, the line and each intermediate result passing through a field of `capacity`.
std::string key_value(std::string_view line, std::string_view key, size_t capacity);

// Lines b to e of `source` appended to `target`, each without its leading characters of code 0 to
// 32, then deleted from `source`. Nothing when e < b.
void MoveBereich(LineList& source, int64_t b, int64_t e, LineList& target);
// The same without trimming (sub-descriptions into Memo4).
void move_lines_untrimmed(LineList& source, int64_t b, int64_t e, LineList& target);

// The dots of a range number / an item number after the OZ mask (one digit per level, the last
// one the item-number length). Empty when either argument is empty; a mask character that is not
// a digit throws EConvertError once it is reached.
std::string FormatBereich(std::string_view bereich, std::string_view maske);
std::string FormatPosition(std::string_view position, std::string_view maske);

// Number of `c` minus number of "}" among the first `ofset` characters of `s`.
int64_t StringCount(std::string_view s, char c, int64_t ofset);
// Scanning `s` backwards, +1 for each `c` ("}") and -1 for each "{": the position (from 1) of the
// character at which the running count first equals `tag_count`; 0 when it never does.
int64_t FindePicEndpos(std::string_view s, char c, int64_t tag_count);

// Removes embedded "{\pict" groups the way StringCount and FindePicEndpos cut them, in one pass
// over the text. A picture whose end cannot be found ends the removal; the rest stays.
std::string remove_pictures(std::string_view text);

// The clean-up of an item's or sub-item's long text before its conversion: pictures, leading
// CR LF, "\tab" and TAB, the placeholders TB61..TB80 and Feld61..Feld80, the entities &#91;,
// &#93; and &#128;. Letter case counts everywhere.
std::string clean_long_text(std::string_view text);

// Every occurrence of `what` removed (letter case counts).
std::string delete_all(std::string_view s, std::string_view what);

// A quantity or price of the file: decimal point, or a decimal comma where the value holds no
// point; blanks around it do not matter. Throws EConvertError on anything else, the empty text
// included.
double gaeb_number(std::string_view text);

// The long text of an item or sub-item held in `holder` (Memo5 or Memo4): the lines between
// "#begin[Beschreibung]" and "#end[Beschreibung]" joined, cut at "[Langtext]" and cleaned.
// nullopt when the text holds no "[Langtext]".
std::optional<std::string> long_text_of(const LineList& holder, int64_t bB, int64_t eB);

}  // namespace gaeb2000
