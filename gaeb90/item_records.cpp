// SPDX-License-Identifier: MIT
// Records 21, 23 and 24: the item row with its prices and formulas, and sub-descriptions.
#include <optional>

#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"
#include "workbook/numbers.h"
#include "workbook/text.h"

namespace gaeb90 {

// Record 21: OZ 3-11, kind 12-14, quantity 24-31 (integer part) and 32-34 (decimals), unit
// 35-38. Phases 81 and 83 write the priced row, 84 the item row of a bid whose prices follow in
// record 23; 82 only the OZ, without moving on.
void Reader::sa21() {
    read_data_part();
    item_record(col(3, 11), col(12, 14), col(24, 31), col(32, 34), col(35, 38));
}

void Reader::item_record(std::string_view oz, std::string_view kind, std::string_view quantity_integer,
                         std::string_view quantity_decimals, std::string_view unit) {
    m_st.ItemContext = true;
    m_st.NotesContext = false;
    m_st.CurrentItemRow = 0;
    m_st.PositionKind = kind;
    m_bid = {};
    rows().TextGroupPending = true;

    record_step("Textgruppierung sa21\n\n", [&] { m_kinds.TextGroup(); });
    record_step("Prozedur sa21\n\n", [&] {
        start_body();
        const int32_t r = rows().Positions;
        m_kinds.item_oz(r, as_read(format_item_oz(oz, m_st.OzWidths)));
        m_st.CurrentItemRow = r;
        if (bid_phase()) {
            bid_item_row(r, oz, quantity_integer, quantity_decimals, unit);
            return;
        }
        if (!calculation_phase()) return;
        m_kinds.item_quantity(r, to_number(number_text(quantity_integer, quantity_decimals)));
        m_kinds.item_unit(r, cell_text(unit));
        events();
        m_kinds.item_price_cells(r, std::nullopt);
        events();
        if (!m_st.PositionKind.empty() && m_st.PositionKind != "NEN") m_kinds.item_total_formula(r);
        events();
        position();
        m_st.PositionKind.clear();
        rows().LastItemRow = rows().Positions;
        ++rows().Positions;
    });
}

// A bid item has a row of its own, like every item of the other phases: quantity, unit and kind
// label as the item record gives them, the unit price 0 until its price record comes. Its texts
// follow in the rows below, and the subtotals count it.
void Reader::bid_item_row(int32_t r, std::string_view oz, std::string_view quantity_integer,
                          std::string_view quantity_decimals, std::string_view unit) {
    m_bid.row = r;
    m_bid.oz = trim_trailing_blanks(oz);
    const std::string quantity = number_text(quantity_integer, quantity_decimals);
    if (quantity != ".")
        record_step("Prozedur sa21\n\n", [&] {
            m_kinds.item_quantity(r, to_number(quantity));
            m_bid.has_quantity = true;
        });
    if (!all_blanks(unit)) m_kinds.item_unit(r, cell_text(unit));
    m_kinds.item_number(r, 5, 0.0);
    events();
    position();
    m_st.PositionKind.clear();
    rows().LastItemRow = r;
    ++rows().Positions;
}

// The kind code becomes its label, written in red into column B of the item row.
void Reader::position() {
    record_step("Prozedur \"Position\"\n\n", [&] {
        if (const std::string_view label = kind_label(m_st.PositionKind); !label.empty())
            m_st.PositionKind = label;
        if (m_st.PositionKind.size() > 3) m_kinds.item_label(rows().Positions, ASCII2ANSI(m_st.PositionKind));
    });
}

// Record 23: unit price 12-20 (sign in column 12) and 21-23; in phase 84 also the OZ in 3-11 and
// the total price, sign in column 24, 25-34 and 35-36.
void Reader::sa23() {
    if (bid_phase()) {
        bid_prices();
        return;
    }
    read_data_part();
    record_step("Prozedur sa23\n\n", [&] {
        const std::string unit_price = number_text(col(12, 20), col(21, 23));
        if (unit_price != "." && m_st.CurrentItemRow > 0 && calculation_phase())
            m_kinds.item_unit_price_value(m_st.CurrentItemRow, to_number(unit_price));
        events();
    });
}

// Phase 84: the prices of the item whose record 21 came last, when the OZ is that item's (or
// blank). A price record without its item record stands for the item as well and opens a row of
// its own. Without a unit price the item keeps the price 0; the quantity follows from total and
// unit price only where the item record gives none, and never from a unit price of 0.
void Reader::bid_prices() {
    read_data_part();
    const std::string_view oz = col(3, 11);
    const std::string_view number = trim_trailing_blanks(oz);
    if (!(m_bid.row > 0 && (number.empty() || number == m_bid.oz))) item_record(oz, "", "", "", "");
    const BidItem bid = m_bid;
    m_bid = {};
    const int32_t r = bid.row;
    if (r == 0) return;  // the item row could not be written
    record_step("Prozedur sa23\n\n", [&] {
        const bool has_price = !all_blanks(col(12, 20)) || !all_blanks(col(21, 23));
        const bool has_total = !all_blanks(col(25, 34)) || !all_blanks(col(35, 36));
        std::optional<double> price, total;
        if (has_price) {
            price = to_number(number_text(col(12, 20), col(21, 23)));
            m_kinds.item_number(r, 5, *price);
        }
        if (has_total) {
            const std::string sign = col(24, 24) == "-" ? "-" : "";
            total = to_number(number_text(sign + std::string(col(25, 34)), col(35, 36)));
            m_kinds.item_number(r, 6, *total);
        }
        if (!bid.has_quantity && price && *price != 0 && total) m_kinds.item_quantity_from_total(r);
        events();
    });
}

// Record 24: number 3-4, quantity 6-13 and 14-16 (optional), unit 17-20. Written in purple below
// an empty row.
void Reader::sa24() {
    read_data_part();
    const std::string_view number = col(3, 4);
    const std::string_view quantity_field = col(6, 16);
    const std::string_view quantity_integer = col(6, 13);
    const std::string_view quantity_decimals = col(14, 16);
    const std::string_view unit = col(17, 20);

    std::string quantity(workbook::trim_ctl(quantity_field));
    if (quantity.empty()) {
        quantity = " ";
    } else if (const auto whole = workbook::parse_integer(quantity_integer)) {
        quantity = std::to_string(*whole) + "," + as_read(quantity_decimals);
    } else {
        m_c.ui.message("Ungültiges Umwandlungsformat bei der Unterbeschreibung.");
        quantity = as_read(quantity);
    }

    const std::string unit_text = cell_text(unit);
    record_step("Prozedur sa24\n\n", [&] {
        start_body();
        m_kinds.positions();
        ++rows().Positions;
        const int32_t r = rows().Positions;
        if (quantity != " ")
            m_kinds.item_sub_label(r,
                                   "Unterposition " + as_read(number) + ", Menge: " + quantity +
                                       (unit_text.empty() ? "" : " " + unit_text) + ":",
                                   workbook::kColorPurple);
        else
            m_kinds.item_sub_label(r, "Unterbeschreibung " + as_read(number) + ":", workbook::kColorPurple);
        ++rows().Positions;
    });
}

}  // namespace gaeb90
