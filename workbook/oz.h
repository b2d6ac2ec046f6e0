// SPDX-License-Identifier: MIT
// Ordinal numbers (OZ) as every reader writes them: each level without blanks, padded with
// leading zeros to its width in the OZ mask, range levels followed by a dot ("01.02.0010"), so
// that the same item reads alike whatever format the bill came in.
#pragma once

#include <string>
#include <string_view>

namespace workbook {

// A range level: "3" and width 2 give "03."; empty for a width <= 0. A part longer than its
// width stays whole.
std::string oz_range_part(std::string_view part, int width);
// An item (or index) level: "10" and width 4 give "0010"; empty for an empty part or a width <= 0.
std::string oz_item_part(std::string_view part, int width);

}  // namespace workbook
