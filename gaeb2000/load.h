// SPDX-License-Identifier: MIT
// Loading a GAEB 2000 file: its bytes decoded to UTF-8 once, then cut into lines.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "gaeb2000/line_list.h"

namespace gaeb2000 {

// A byte-order mark selects UTF-8, UTF-16 little or big endian (the mark is dropped); any other
// file is Windows-1252. Invalid UTF-8 bytes are read as Windows-1252, unpaired UTF-16 surrogates
// become U+FFFD.
std::string decode_gaeb2000(std::string_view bytes);
// The file read and decoded; nullopt when it cannot be read.
std::optional<std::string> read_gaeb2000(const std::filesystem::path& file);

// The lines of `text`, each ended by CR LF, LF or CR, appended to `list` as views into `text`;
// a line break at the very end gives no empty last line.
void split_lines(std::string_view text, LineList& list);

// Whether `text` holds the closing line "#end[GAEB]" (A-Z in any case). A file without it has
// been cut off, or may have been.
bool has_closing_line(std::string_view text);

// For a file cut off: the end lines of the blocks of the bill's structure that `text` leaves open
// ("#end[LVBereich]" for each range, then "#end[LV]", "#end[Vergabe]" and "#end[GAEB]"), each
// with CR LF, innermost first, so that the ranges read up to the cut keep their headings. An
// item, a text or a note left open stays open: its end is missing, and it is not read as if it
// were whole. A line break goes first when `text` does not end with one.
std::string closing_lines(std::string_view text);

}  // namespace gaeb2000
