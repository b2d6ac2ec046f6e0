// SPDX-License-Identifier: MIT
#include "workbook/conversion.h"

namespace workbook {

std::string make_money_format(std::string_view thousands, std::string_view decimal) {
    std::string f = "#";
    f += thousands;
    f += "###";
    f += thousands;
    f += "##0";
    f += decimal;
    f += "00";
    return f;
}

std::string make_quantity_format(std::string_view decimal) {
    std::string f = "#######0";
    f += decimal;
    f += "000";
    return f;
}

}  // namespace workbook
