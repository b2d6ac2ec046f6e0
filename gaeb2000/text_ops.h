// SPDX-License-Identifier: MIT
// The small text operations of the GAEB 2000 reader: key values, block moves, the dots of an
// ordinal number (OZ), the removal of embedded pictures and the clean-up of long texts.
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

// The plain text of `key` in line `first` of `lines`: as key_value gives it when that line holds
// "[end]"; else the text goes on over the following lines up to the one that holds "[end]", the
// pieces joined with one blank (blanks around them dropped), as an exporter wraps a long label.
// A line that opens another key or a block, or the end of the lines, ends such a text without
// "[end]": then only line `first` counts. `last` gets the last line of the text. A `capacity`
// other than 0 cuts the text to that many characters.
std::string key_text(const LineList& lines, int64_t first, std::string_view key, size_t capacity = 0,
                     int64_t* last = nullptr);

// Lines b to e of `source` appended to `target`, each without its leading characters of code 0 to
// 32, then deleted from `source`. Nothing when e < b.
void MoveBereich(LineList& source, int64_t b, int64_t e, LineList& target);
// The same without trimming (sub-descriptions into Memo4).
void move_lines_untrimmed(LineList& source, int64_t b, int64_t e, LineList& target);

// The OZ of a range / an item after the OZ mask (one digit per range level, the last one the
// item-number length), as every reader writes it: each level cut from the fixed-width number by
// its width, its blanks removed, padded with leading zeros to its width, range levels followed by
// a dot ("1  10" under the mask 113 is "1.0.010"). A range number gives the levels it holds; an
// item number gives every range level (zeros where the number ends early) and the rest as the
// item number. Without a mask the number stays as it is, less its blanks; an empty number gives
// "". A mask character that is not a digit throws EConvertError once it is reached.
std::string FormatBereich(std::string_view bereich, std::string_view maske);
std::string FormatPosition(std::string_view position, std::string_view maske);

// Every embedded picture group ("{\pict" up to its own closing brace) removed. A picture whose
// end cannot be found ends the removal; the rest stays.
std::string remove_pictures(std::string_view text);

// The clean-up of an item's or sub-item's long text before its conversion: pictures, leading
// CR LF, tabs (see tabs_to_blanks), the placeholders TB61..TB80 and Feld61..Feld80. Letter case
// counts everywhere.
std::string clean_long_text(std::string_view text);

// Every tab character a blank; in a text that is no RTF also every "\tab" (in RTF the reader
// makes the blank).
std::string tabs_to_blanks(std::string_view text);

// Character references decoded: "&#NNN;" and "&#xHH;" (128 to 159 are Windows-1252 bytes, as the
// bills mean them: "&#128;" is the euro sign; a number that is no character gives U+FFFD) and
// "&lt;", "&gt;", "&amp;", "&quot;", "&apos;". Anything else stays as written.
std::string decode_references(std::string_view text);

// A converted text as it goes into cells: references decoded, every tab a blank.
std::string cell_text(std::string_view text);

// Every occurrence of `what` removed (letter case counts).
std::string delete_all(std::string_view s, std::string_view what);

// A quantity or price of the file: decimal point, or a decimal comma where the value holds no
// point; blanks around it do not matter. Throws EConvertError on anything else, the empty text
// included.
double gaeb_number(std::string_view text);

// The long text of an item or sub-item held in `holder` (Memo5 or Memo4): the lines between
// "#begin[Beschreibung]" and "#end[Beschreibung]", each ended by CR LF (in an RTF text the line
// breaks of the source are no text), cut at "[Langtext]" and cleaned. nullopt when the text holds
// no "[Langtext]".
std::optional<std::string> long_text_of(const LineList& holder, int64_t bB, int64_t eB);

}  // namespace gaeb2000
