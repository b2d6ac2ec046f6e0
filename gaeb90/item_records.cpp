// SPDX-License-Identifier: MIT
// Records 21, 23 and 24: the item with its kind, quantity and unit, its prices, sub-descriptions.
#include <exception>
#include <optional>

#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"
#include "workbook/errors.h"
#include "workbook/numbers.h"
#include "workbook/text.h"

namespace gaeb90 {

// Record 21: OZ 3-11, kind 12-14, quantity 24-31 (integer part) and 32-34 (decimals), unit
// 35-38. Phases 81, 83 and 84 read the quantity; 82 gives the OZ only.
void Reader::sa21() {
    read_data_part();
    item_record(col(3, 11), col(12, 14), col(24, 31), col(32, 34), col(35, 38));
}

void Reader::item_record(std::string_view oz, std::string_view kind, std::string_view quantity_integer,
                         std::string_view quantity_decimals, std::string_view unit) {
    m_st.ItemContext = true;
    m_st.NotesContext = false;
    m_bid = {};
    m_item_reported = true;

    bill::Item item;
    item.oz = as_read(format_item_oz(oz, m_st.OzWidths));
    m_r.place.enter_item(item.oz);
    // The kind code: N normal, A alternative, G basic item in column 12; E contingency without
    // total, M with total in column 13; L a leading item in column 14. Every code but NEN (and
    // none at all) gives the item a total.
    item.kind_code = as_read(kind);
    item.has_total = !kind.empty() && kind != "NEN";
    if (kind == "NEN") item.provis = bill::Provis::WithoutTotal;
    if (kind == "NMN") item.provis = bill::Provis::WithTotal;
    item.alternative = kind == "ANN";
    item.basic = kind == "GNN";
    item.unit = cell_text(unit);

    // A quantity that does not convert is reported with the item record's text.
    const std::string quantity = number_text(quantity_integer, quantity_decimals);
    if (calculation_phase() || (bid_phase() && quantity != ".")) {
        const bool read = record_step("Prozedur sa21\n\n", [&] { item.quantity = to_number(quantity); });
        item.quantity_unreadable = !read;
    }
    record_step("Prozedur sa21\n\n", [&] { m_r.sink.item(item); });
    if (bid_phase()) m_bid = {true, std::string(trim_trailing_blanks(oz))};
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
        bill::Prices prices;
        if (unit_price != "." && m_item_reported && calculation_phase())
            prices.unit_price = to_number(unit_price);
        m_r.sink.item_prices(prices);
    });
}

// Phase 84: the prices of the item whose record 21 came last, when the OZ is that item's (or
// blank). A price record without its item record stands for the item as well. A total that does
// not convert is reported after the unit price is taken.
void Reader::bid_prices() {
    read_data_part();
    const std::string_view oz = col(3, 11);
    const std::string_view number = trim_trailing_blanks(oz);
    if (!(m_bid.open && (number.empty() || number == m_bid.oz))) item_record(oz, "", "", "", "");
    m_bid = {};
    record_step("Prozedur sa23\n\n", [&] {
        const bool has_price = !all_blanks(col(12, 20)) || !all_blanks(col(21, 23));
        const bool has_total = !all_blanks(col(25, 34)) || !all_blanks(col(35, 36));
        bill::Prices prices;
        if (has_price) prices.unit_price = to_number(number_text(col(12, 20), col(21, 23)));
        std::exception_ptr total_failed;
        if (has_total) {
            const std::string sign = col(24, 24) == "-" ? "-" : "";
            try {
                prices.total = to_number(number_text(sign + std::string(col(25, 34)), col(35, 36)));
            } catch (const workbook::ConvertError&) {
                total_failed = std::current_exception();
            }
        }
        m_r.sink.item_prices(prices);
        if (total_failed) std::rethrow_exception(total_failed);
    });
}

// Record 24: number 3-4, quantity 6-13 and 14-16 (optional), unit 17-20.
void Reader::sa24() {
    read_data_part();
    const std::string_view quantity_field = col(6, 16);
    const std::string_view quantity_integer = col(6, 13);
    const std::string_view quantity_decimals = col(14, 16);

    bill::SubDescription sub;
    sub.number = as_read(col(3, 4));
    sub.unit = cell_text(col(17, 20));
    const std::string quantity(workbook::trim_ctl(quantity_field));
    if (quantity.empty()) {
        // no quantity: a sub-description
    } else if (const auto whole = workbook::parse_integer(quantity_integer)) {
        sub.quantity_text = std::to_string(*whole) + "," + as_read(quantity_decimals);
        sub.quantity = workbook::parse_decimal(std::to_string(*whole) + "." + as_read(quantity_decimals));
    } else {
        m_r.fault(m_r.place.prefix() + "Ungültiges Umwandlungsformat bei der Unterbeschreibung.");
        sub.quantity_text = as_read(quantity);
    }
    record_step("Prozedur sa24\n\n", [&] { m_r.sink.sub_description(sub); });
}

}  // namespace gaeb90
