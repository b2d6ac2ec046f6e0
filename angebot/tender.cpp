// SPDX-License-Identifier: MIT
#include "angebot/tender.h"

#include "workbook/text.h"

namespace angebot {

std::vector<std::string> take_totals_from_workbook(BillModel& model, const workbook::Sheet& positions) {
    std::vector<std::string> unmatched;
    for (Item& item : model.items()) {
        item.total_in_workbook.reset();
        if (item.row <= 0) {
            unmatched.push_back(item.oz);
            continue;
        }
        const workbook::CellValue oz = positions.value(item.row, 1);
        if (oz.kind != workbook::CellKind::Text ||
            workbook::trim_ctl(oz.text) != workbook::trim_ctl(item.oz)) {
            unmatched.push_back(item.oz);
            continue;
        }
        item.total_in_workbook = !positions.value(item.row, 6).is_empty();
    }
    return unmatched;
}

}  // namespace angebot
