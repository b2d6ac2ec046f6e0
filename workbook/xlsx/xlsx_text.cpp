// SPDX-License-Identifier: MIT
#include "workbook/xlsx/xlsx_text.h"

#include <utility>

#include "workbook/text.h"

namespace workbook::xlsx {

std::string document_text(std::string_view in) {
    std::string out = is_valid_utf8(in) ? std::string(in) : repair_utf8(in);
    for (char& ch : out)
        if (static_cast<unsigned char>(ch) < 0x20) ch = ' ';
    return out;
}

std::string footer_codes(const PageSetup& p) {
    std::string out;
    for (const auto& [code, part] : {std::pair{"&L", &p.left_footer}, std::pair{"&C", &p.center_footer},
                                     std::pair{"&R", &p.right_footer}})
        if (!part->empty()) out += code + document_text(*part);
    out.resize(utf8_prefix(out, kMaxFooter).size());
    size_t ampersands = 0;
    while (ampersands < out.size() && out[out.size() - 1 - ampersands] == '&') ++ampersands;
    if (ampersands % 2 == 1) out.pop_back();
    return out;
}

}  // namespace workbook::xlsx
