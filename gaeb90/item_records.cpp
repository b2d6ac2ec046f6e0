// SPDX-License-Identifier: MIT
// Records 21, 23 and 24: the item row with its prices and formulas, and sub-descriptions.
#include <optional>

#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"
#include "workbook/numbers.h"
#include "workbook/text.h"

namespace gaeb90 {

// Record 21: OZ 3-11, kind 12-14, quantity 24-31 (integer part) and 32-34 (decimals), unit
// 35-38. Phases 81 and 83 write the priced row; 82 and 84 only the OZ, without moving on.
void Reader::sa21() {
    m_st.ItemContext = true;
    m_st.NotesContext = false;
    m_st.CurrentItemRow = 0;
    read_data_part();
    const std::string_view oz = col(3, 11);
    m_st.PositionKind = col(12, 14);
    const std::string_view quantity_integer = col(24, 31);
    const std::string_view quantity_decimals = col(32, 34);
    const std::string_view unit = col(35, 38);
    rows().TextGroupPending = true;

    record_step("Textgruppierung sa21\n\n", [&] { m_kinds.TextGroup(); });
    record_step("Prozedur sa21\n\n", [&] {
        const int32_t r = rows().Positions;
        m_kinds.item_oz(r, as_read(format_item_oz(oz, m_st.OzWidths)));
        m_st.CurrentItemRow = r;
        if (!calculation_phase()) return;
        m_kinds.item_quantity(r, to_number(number_text(quantity_integer, quantity_decimals)));
        m_kinds.item_unit(r, ASCII2ANSI(unit));
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

// The kind code becomes its label, written in red into column B of the item row.
void Reader::position() {
    record_step("Prozedur \"Position\"\n\n", [&] {
        if (const std::string_view label = kind_label(m_st.PositionKind); !label.empty())
            m_st.PositionKind = label;
        if (m_st.PositionKind.size() > 3) m_kinds.item_label(rows().Positions, ASCII2ANSI(m_st.PositionKind));
    });
}

// Record 23: unit price 12-20 (sign in column 12) and 21-23; in phase 84 also the total price,
// sign in column 24, 25-34 and 35-36, and the record stands for the item record as well.
void Reader::sa23() {
    if (bid_phase())
        sa21();
    else
        read_data_part();
    record_step("Prozedur sa23\n\n", [&] {
        const std::string unit_price = number_text(col(12, 20), col(21, 23));
        if (unit_price != "." && m_st.CurrentItemRow > 0) {
            if (calculation_phase()) {
                m_kinds.item_unit_price_value(m_st.CurrentItemRow, to_number(unit_price));
            } else if (bid_phase()) {
                const int32_t r = rows().Positions;
                m_kinds.item_quantity_from_total(r);
                m_kinds.item_number(r, 5, to_number(unit_price));
                const std::string sign = col(24, 24) == "-" ? "-" : "";
                m_kinds.item_number(r, 6,
                                    to_number(number_text(sign + std::string(col(25, 34)), col(35, 36))));
                ++rows().Positions;
            }
        }
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

    record_step("Prozedur sa24\n\n", [&] {
        m_kinds.positions();
        ++rows().Positions;
        const int32_t r = rows().Positions;
        if (quantity != " ")
            m_kinds.item_sub_label(
                r, "Unterposition " + as_read(number) + ", Menge: " + quantity + " " + ASCII2ANSI(unit) + ":",
                workbook::kColorPurple);
        else
            m_kinds.item_sub_label(r, "Unterbeschreibung " + as_read(number) + ":", workbook::kColorPurple);
        ++rows().Positions;
    });
}

}  // namespace gaeb90
