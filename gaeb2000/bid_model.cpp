// SPDX-License-Identifier: MIT
// The bill model of a bid, filled while the tender is read (Conversion::bid): the bill's data as
// the header block shows it, the breakdown of the OZ mask, and each item of phases 81 and 83 with
// the OZ and the row the workbook shows it in. GAEB 2000 gives its ranges through the OZ only.
#include <exception>

#include "angebot/model.h"
#include "gaeb2000/reader.h"
#include "gaeb2000/text_ops.h"
#include "workbook/rows.h"
#include "workbook/text.h"

namespace gaeb2000 {

// After the section VergabeInfo, which StringList2 still holds: "[Wae]" the currency, "[WaeBez]"
// its name.
void Reader::bid_currency() {
    if (!m_c.bid) return;
    angebot::BillInfo& info = m_c.bid->model().info;
    if (const int64_t i = m_st.StringList2.find("[Wae]"); i != -1)
        info.currency = cell_text(workbook::trim_ctl(key_value(m_st.StringList2.line(i), "[Wae]")));
    if (const int64_t i = m_st.StringList2.find("[WaeBez]"); i != -1)
        info.currency_label = cell_text(workbook::trim_ctl(key_value(m_st.StringList2.line(i), "[WaeBez]")));
}

// After the header sections: project (row 1), bill name (row 2) and date (row 3) of the header
// block; the mask holds one digit per range level and one for the item number.
void Reader::bid_info() {
    if (!m_c.bid) return;
    angebot::BillInfo& info = m_c.bid->model().info;
    const workbook::Sheet* sheet = m_c.book().find_sheet(workbook::kPositionsteil);
    if (sheet) {
        auto header = [sheet](int32_t row, std::string_view label) {
            return sheet->text(row, 1) == label ? std::string(workbook::trim_ctl(sheet->text(row, 2)))
                                                : std::string();
        };
        info.project_name = header(1, "Projektname:");
        info.name = header(2, "LV-Bezeichnung:");
        info.date = angebot::iso_date(header(3, "LV-Datum:"));
    }
    info.breakdown.clear();
    for (char digit : m_st.oz_mask) {
        if (digit < '1' || digit > '9') {
            info.breakdown.clear();
            return;
        }
        info.breakdown.push_back({angebot::BreakdownType::Range, digit - '0', true, {}, {}});
    }
    if (!info.breakdown.empty()) info.breakdown.back().type = angebot::BreakdownType::Item;
}

void Reader::bid_item(int32_t row, const std::string& oz, std::string_view quantity, const std::string& unit,
                      const std::optional<std::string>& bedarf) {
    if (!m_c.bid) return;
    angebot::Item item;
    item.oz = oz;
    item.row = row;
    // A quantity that is no number leaves column C empty: the bidder's quantity counts then.
    try {
        if (!quantity.empty()) item.quantity = gaeb_number(quantity);
    } catch (const std::exception&) {
    }
    item.unit = unit;
    // "[Bedarf]": E contingency without total, M with total, A alternative.
    const std::string kind = bedarf.value_or("");
    if (kind == "E") item.provis = angebot::Provis::WithoutTotal;
    if (kind == "M") item.provis = angebot::Provis::WithTotal;
    item.alternative = kind == "A";
    m_c.bid->place_item(std::move(item));
}

}  // namespace gaeb2000
