// SPDX-License-Identifier: MIT
// The bill model of a bid, filled while the tender is read (Conversion::bid): the bill's name,
// date and project, the breakdown of the OZ mask, and each item of phases 81 and 83 with the OZ
// and the row the workbook shows it in. GAEB 90 gives its ranges through the OZ only.
#include <exception>

#include "angebot/model.h"
#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"

namespace gaeb90 {

namespace {

std::vector<angebot::Breakdown> breakdown_of(const MaskWidths& w) {
    std::vector<angebot::Breakdown> out;
    if (w.item <= 0) return out;
    for (int length : {w.level1, w.level2, w.level3, w.level4})
        if (length > 0) out.push_back({angebot::BreakdownType::Range, length, true, {}, {}});
    out.push_back({angebot::BreakdownType::Item, w.item, true, {}, {}});
    if (w.index > 0) out.push_back({angebot::BreakdownType::Index, w.index, false, {}, "left"});
    return out;
}

}  // namespace

// Record 01: bill name in columns 3-42, date in columns 43-50.
void Reader::bid_bill_name() {
    if (!m_c.bid) return;
    angebot::BillInfo& info = m_c.bid->model().info;
    info.name = cell_text(col(3, 42));
    info.date = angebot::iso_date(cell_text_as_read(col(43, 50)));
}

// Record 02: project name in columns 3-62.
void Reader::bid_project_name() {
    if (m_c.bid) m_c.bid->model().info.project_name = cell_text(col(3, 62));
}

void Reader::bid_item(int32_t row, std::string_view oz, std::string_view kind,
                      std::string_view quantity_integer, std::string_view quantity_decimals,
                      std::string_view unit) {
    if (!m_c.bid) return;
    angebot::BillInfo& info = m_c.bid->model().info;
    if (info.breakdown.empty()) info.breakdown = breakdown_of(m_st.OzWidths);
    angebot::Item item;
    item.oz = as_read(format_item_oz(oz, m_st.OzWidths));
    item.row = row;
    // A quantity that does not convert leaves column C empty: the bidder's quantity counts then.
    try {
        item.quantity = to_number(number_text(quantity_integer, quantity_decimals));
    } catch (const std::exception&) {
    }
    item.unit = cell_text(unit);
    if (kind == "NEN") item.provis = angebot::Provis::WithoutTotal;
    if (kind == "NMN") item.provis = angebot::Provis::WithTotal;
    item.alternative = kind == "ANN";
    m_c.bid->place_item(std::move(item));
}

}  // namespace gaeb90
