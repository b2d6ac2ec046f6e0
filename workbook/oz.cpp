// SPDX-License-Identifier: MIT
#include "workbook/oz.h"

#include "workbook/text.h"

namespace workbook {
namespace {

std::string pad_left(std::string_view part, int width) {
    const size_t have = utf8_length(part);
    const auto want = static_cast<size_t>(width);
    std::string out;
    if (have < want) out.assign(want - have, '0');
    out += part;
    return out;
}

}  // namespace

std::string oz_range_part(std::string_view part, int width) {
    if (width <= 0) return {};
    return pad_left(part, width) + ".";
}

std::string oz_item_part(std::string_view part, int width) {
    if (part.empty() || width <= 0) return {};
    return pad_left(part, width);
}

}  // namespace workbook
