// SPDX-License-Identifier: MIT
// The row kinds the layouts of all formats write through: hierarchy, item, text, subtotal, notes, faulty-line
// and rules rows, their cell styles and the price formulas.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "workbook/conversion.h"

namespace workbook {

inline constexpr std::string_view kPositionsteil = "Positionsteil";
inline constexpr std::string_view kTeilsummen = "Teilsummen";
inline constexpr std::string_view kHinweistext = "Hinweistext";
inline constexpr std::string_view kFehlerhafteZeilen = "Fehlerhafte Zeilen";
inline constexpr std::string_view kRegelungen = "Regelungen";

// Next free row of each sheet, and the group rows of subtotals and text grouping.
struct SheetRows {
    int32_t Positions = 1;
    int32_t Notes = 1;
    int32_t Faulty = 1;
    int32_t Subtotals = 2;
    int32_t Rules = 1;
    int32_t GroupFirstRow = 0;
    int32_t LastItemRow = 0;
    int32_t TextGroupStart = 0;
    bool TextGroupPending = false;  // GAEB 90 only
};

// Formula templates; r, a, b, n are row numbers.
std::string formula_unit_price(int32_t r, bool round);                  // E: =ROUND($G$r*$H$r,2)
std::string formula_total_price(int32_t r, bool round);                 // F: =ROUND($C$r*$E$r,2)
std::string formula_quantity_from_total(int32_t r, GaebFormat format);  // C, bid layout
std::string formula_subtotal(int32_t a, int32_t b);                     // =SUM(Positionsteil!$F$a:$F$b)
std::string formula_grand_total(int32_t n);                             // =ROUND(SUM($B$2:$B$n),2)

// The hierarchy word the text grouping steps over: "LV-Gruppe" or "LV-Bereich".
std::string_view hierarchy_word(GaebFormat format);

class RowKinds {
public:
    RowKinds(Conversion& conversion, SheetRows& rows) : m_c(conversion), m_rows(rows) {}

    // Selects a sheet by name and returns it (throws WorkbookError when missing).
    Sheet& select(std::string_view name);
    Sheet& positions() { return select(kPositionsteil); }

    // Column B of row Positions, blue; Positions advanced; GroupFirstRow = new Positions.
    void HierarchyRow(std::string_view label);

    // ItemRow, calculation layout, cell by cell, so that a layout can stop where its rules say.
    void item_oz(int32_t r, std::string_view oz);      // A, text
    void item_quantity(int32_t r, double quantity);    // C, number
    void item_unit(int32_t r, std::string_view unit);  // D, text
    // With CalcColumns: G = unit price or 0 and H = 1 as input cells, E the unit-price formula.
    // Without: E = unit price or 0 as an input cell.
    void item_price_cells(int32_t r, std::optional<double> unit_price);
    void item_unit_price_value(int32_t r, double unit_price);         // G with CalcColumns, else E
    void item_total_formula(int32_t r);                               // F
    void item_label(int32_t r, std::string_view label);               // B, red
    void item_sub_label(int32_t r, std::string_view label, int bgr);  // B, sub-description label

    // Bid layout cells.
    void item_quantity_from_total(int32_t r);                // C formula
    void item_number(int32_t r, int32_t col, double value);  // E or F as a plain number

    struct Item {
        std::string oz;
        std::string kind_label;
        std::optional<double> quantity;  // empty: C and D stay empty
        std::string unit;
        std::optional<double> unit_price;
        bool without_total = false;
    };
    // The whole calculation-layout ItemRow at Positions: LastItemRow = r, Positions advanced.
    // GAEB 90 raises TextGroupPending and closes the previous item's text group first.
    void ItemRow(const Item& item);

    // Column B of Positions; GAEB 90: the first long-text row after an item starts its group.
    void TextRow(std::string_view text, bool long_text);
    // Closes the current item's text rows into one outline group, by the format's rules.
    void TextGroup();

    // Teilsummen: the label into column A of `row`. The formula into column B of row Subtotals
    // when GroupFirstRow >= 1 and LastItemRow >= GroupFirstRow; then Subtotals is advanced and
    // GroupFirstRow and LastItemRow go back to 0. Returns whether the formula was written.
    void subtotal_label(int32_t row, std::string_view label);
    bool subtotal_formula();

    // Column A of Hinweistext / Fehlerhafte Zeilen / Regelungen at their cursors; advanced.
    // FaultyLineRow and RulesRow advance their cursor also when the write fails (and rethrow).
    void NotesRow(std::string_view text, bool bold);
    void FaultyLineRow(std::string_view line);
    void RulesRow(std::string_view text);

    SheetRows& rows() { return m_rows; }
    Conversion& conversion() { return m_c; }

private:
    void input_cell(Sheet& s, int32_t r, int32_t col);
    Conversion& m_c;
    SheetRows& m_rows;
};

}  // namespace workbook
