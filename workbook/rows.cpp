// SPDX-License-Identifier: MIT
#include "workbook/rows.h"

#include <fmt/format.h>

#include "workbook/text.h"

namespace workbook {

std::string formula_unit_price(int32_t r, bool round) {
    return round ? fmt::format("=ROUND($G${}*$H${},2)", r, r) : fmt::format("=$G${}*$H${}", r, r);
}

std::string formula_total_price(int32_t r, bool round) {
    return round ? fmt::format("=ROUND($C${}*$E${},2)", r, r) : fmt::format("=$C${}*$E${}", r, r);
}

std::string formula_quantity_from_total(int32_t r, GaebFormat format) {
    return format == GaebFormat::Xml ? fmt::format("=$F${}/$E${}", r, r)
                                     : fmt::format("=ROUND($F${}/$E${},3)", r, r);
}

std::string formula_subtotal(int32_t a, int32_t b) {
    return fmt::format("=SUM(Positionsteil!$F${}:$F${})", a, b);
}

std::string formula_grand_total(int32_t n) {
    return fmt::format("=ROUND(SUM($B$2:$B${}),2)", n);
}

std::string_view hierarchy_word(GaebFormat format) {
    return format == GaebFormat::Gaeb90 ? "LV-Gruppe" : "LV-Bereich";
}

Sheet& RowKinds::select(std::string_view name) {
    Sheet& s = m_c.book().sheet(name);
    s.Select();
    return s;
}

void RowKinds::HierarchyRow(std::string_view label) {
    Sheet& s = positions();
    s.set_value(m_rows.Positions, 2, label);
    s.set_font_color(m_rows.Positions, 2, kColorBlue);
    ++m_rows.Positions;
    m_rows.GroupFirstRow = m_rows.Positions;
    m_c.ui.process_events();
}

void RowKinds::input_cell(Sheet& s, int32_t r, int32_t col) {
    s.set_fill(r, col, kFillTurquoise);
    s.border_around(r, col);
}

void RowKinds::item_oz(int32_t r, std::string_view oz) {
    positions().set_value(r, 1, oz);
}

void RowKinds::item_quantity(int32_t r, double quantity) {
    positions().set_value(r, 3, quantity);
}

void RowKinds::item_unit(int32_t r, std::string_view unit) {
    positions().set_value(r, 4, unit);
}

void RowKinds::item_price_cells(int32_t r, std::optional<double> unit_price) {
    Sheet& s = positions();
    if (m_c.options.CalcColumns) {
        s.set_value(r, 7, unit_price.value_or(0.0));
        s.set_value(r, 8, 1.0);
        s.set_formula(r, 5, formula_unit_price(r, m_c.options.RoundPrices));
        input_cell(s, r, 7);
        input_cell(s, r, 8);
    } else {
        s.set_value(r, 5, unit_price.value_or(0.0));
        input_cell(s, r, 5);
    }
}

void RowKinds::item_unit_price_value(int32_t r, double unit_price) {
    positions().set_value(r, m_c.options.CalcColumns ? 7 : 5, unit_price);
}

void RowKinds::item_total_formula(int32_t r) {
    positions().set_formula(r, 6, formula_total_price(r, m_c.options.RoundPrices));
}

void RowKinds::item_label(int32_t r, std::string_view label) {
    if (label.empty()) return;
    Sheet& s = positions();
    s.set_value(r, 2, label);
    s.set_font_color(r, 2, kColorRed);
}

void RowKinds::item_sub_label(int32_t r, std::string_view label, int bgr) {
    Sheet& s = positions();
    s.set_value(r, 2, label);
    s.set_font_color(r, 2, bgr);
}

void RowKinds::item_quantity_from_total(int32_t r) {
    positions().set_formula(r, 3, formula_quantity_from_total(r, m_c.format));
}

void RowKinds::item_number(int32_t r, int32_t col, double value) {
    positions().set_value(r, col, value);
}

void RowKinds::ItemRow(const Item& item) {
    if (m_c.format == GaebFormat::Gaeb90) {
        m_rows.TextGroupPending = true;
        TextGroup();
    }
    const int32_t r = m_rows.Positions;
    item_oz(r, item.oz);
    if (item.quantity) {
        item_quantity(r, *item.quantity);
        item_unit(r, item.unit);
    }
    item_price_cells(r, item.unit_price);
    if (!item.without_total) item_total_formula(r);
    item_label(r, item.kind_label);
    m_rows.LastItemRow = r;
    ++m_rows.Positions;
    m_c.ui.process_events();
}

void RowKinds::TextRow(std::string_view text, bool long_text) {
    Sheet& s = positions();
    s.set_value(m_rows.Positions, 2, text);
    if (m_c.format == GaebFormat::Gaeb90 && m_rows.TextGroupPending && long_text) {
        m_rows.TextGroupStart = m_rows.Positions;
        m_rows.TextGroupPending = false;
    }
    ++m_rows.Positions;
    m_c.ui.process_events();
}

void RowKinds::TextGroup() {
    const bool gaeb90 = m_c.format == GaebFormat::Gaeb90;
    if (gaeb90 && !(m_rows.TextGroupStart > 0 && m_rows.TextGroupStart < m_rows.Positions)) return;
    Sheet& s = positions();
    const std::string_view word = hierarchy_word(m_c.format);
    int32_t r = m_rows.Positions - 1;
    while (r >= 1 && contains_ci(s.text(r, 2), word)) --r;
    if (m_c.format == GaebFormat::Xml && r < m_rows.TextGroupStart) return;
    s.group_rows(fmt::format("{}:{}", m_rows.TextGroupStart, r));
    if (gaeb90) m_rows.TextGroupStart = 0;
    m_c.ui.process_events();
}

void RowKinds::subtotal_label(int32_t row, std::string_view label) {
    Sheet& s = select(kTeilsummen);
    s.set_value(row, 1, label);
    m_c.ui.process_events();
}

bool RowKinds::subtotal_formula() {
    if (!(m_rows.GroupFirstRow >= 1 && m_rows.LastItemRow >= m_rows.GroupFirstRow)) return false;
    Sheet& s = select(kTeilsummen);
    s.set_formula(m_rows.Subtotals, 2, formula_subtotal(m_rows.GroupFirstRow, m_rows.LastItemRow));
    ++m_rows.Subtotals;
    m_rows.GroupFirstRow = 0;
    m_rows.LastItemRow = 0;
    m_c.ui.process_events();
    return true;
}

void RowKinds::NotesRow(std::string_view text, bool bold) {
    Sheet& s = select(kHinweistext);
    if (bold) s.set_bold(m_rows.Notes, 1, true);
    s.set_value(m_rows.Notes, 1, text);
    ++m_rows.Notes;
    m_c.ui.process_events();
}

void RowKinds::FaultyLineRow(std::string_view line) {
    const int32_t row = m_rows.Faulty++;
    Sheet& s = select(kFehlerhafteZeilen);
    s.set_value(row, 1, line);
    m_c.ui.process_events();
}

void RowKinds::RulesRow(std::string_view text) {
    const int32_t row = m_rows.Rules++;
    Sheet& s = select(kRegelungen);
    s.set_value(row, 1, text);
    m_c.ui.process_events();
}

}  // namespace workbook
