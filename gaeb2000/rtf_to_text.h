// SPDX-License-Identifier: MIT
// RTF texts of GAEB 2000 bills to plain text.
#pragma once

#include <string>
#include <string_view>

namespace gaeb2000 {

// The visible text of an RTF document (UTF-8 in, UTF-8 out), one line per paragraph: "\par",
// "\line", "\sect", "\page" and "\row" end a line with CR LF. Destination groups (font, colour and
// style tables, \info, \pict, \object, headers, footers, every "\*\..." group) give no text;
// "\'hh" is a Windows-1252 byte; "\uN" is a Unicode character whose "\ucN" fallback characters
// are skipped. Reading stops when the document's outermost group closes; braces missing at the end
// do no harm.
//
// A text that does not start with "{\rtf" (after blanks and line breaks) is no RTF: it comes back
// unchanged except that every line break (CR LF, LF or CR) becomes CR LF.
std::string RTFtoText(std::string_view rtf);

}  // namespace gaeb2000
