// SPDX-License-Identifier: MIT
// RTF texts of GAEB 2000 bills to plain text.
#pragma once

#include <string>
#include <string_view>

namespace gaeb2000 {

// The visible text of an RTF document (UTF-8 in, UTF-8 out), one line per paragraph.
//
// - "\par", "\line", "\sect", "\page", "\column", "\softline", "\row" and "\nestrow" end a line
//   with CR LF; raw line breaks of the RTF source are no text (they only end a control word).
// - "\cell" and "\nestcell" separate the cells of a table row with " | "; "\tab" is a blank.
// - What a reader of the printed text does not see gives no text: the font, colour, style, list
//   and revision tables, \info, pictures, objects, shapes' properties, headers and footers,
//   footnotes, annotations, bookmarks, index and contents entries, a field's instruction (its
//   result stays), form-field data, hidden text (\v), and every "\*" group of a destination this
//   reader does not know.
// - "\'hh" is a byte in the document's code page (\ansicpgN, else \ansi 1252, \pc 437, \pca 850,
//   \mac); "\uN" is a Unicode character whose "\ucN" fallback characters are skipped; "\~" is a
//   no-break space, "\_" a hyphen; "\-", "\|", "\:" and the zero-width marks give nothing.
//
// Reading stops when the document's outermost group closes; braces missing at the end do no harm.
// A text that does not start with "{\rtf" (after blanks and line breaks) is no RTF: it comes back
// unchanged except that every line break (CR LF, LF or CR) becomes CR LF.
std::string RTFtoText(std::string_view rtf);

// A text that is no RTF as RTFtoText gives it back: every line break (CR LF, LF or CR) CR LF.
std::string plain_text(std::string_view text);

}  // namespace gaeb2000
