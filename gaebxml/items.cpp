// SPDX-License-Identifier: MIT
// Item lists: one item row per Item with its kind, quantity, unit, prices and formulas, then its
// short text, long text, text complements and sub-description, and the list's subtotal formula.
#include <fmt/format.h>

#include <array>

#include "gaebxml/reader.h"
#include "workbook/guarded.h"
#include "workbook/numbers.h"
#include "workbook/run_end.h"

namespace gaebxml {
namespace {

enum class Provis { None, WithTotal, WithoutTotal };

// The kind of an item from its Provis and whether it is an alternative (ALNSerNo set).
struct KindRule {
    Provis provis;
    bool any_alternative;  // the rule holds whatever ALNSerNo says
    bool alternative;
    const char* label;  // nullptr: the normal item of the phase
    bool without_total;
};
constexpr std::array<KindRule, 5> kKinds{{
    {Provis::None, false, false, nullptr, false},
    {Provis::None, false, true, "*** Normalposition (Alternative)", true},
    {Provis::WithTotal, false, false, "*** Bedarfsposition mit G-Preis", false},
    {Provis::WithTotal, false, true, "*** Bedarfsposition mit G-Preis (Alternative)", true},
    {Provis::WithoutTotal, true, false, "*** Bedarfsposition ohne G-Preis", true},
}};

// A Provis text other than the two the format knows counts as none: the item is then a normal
// item or an alternative, as its ALNSerNo says.
Provis provis_of(std::optional<std::string_view> text) {
    if (!text) return Provis::None;
    if (workbook::equals_ci(*text, "WithTotal")) return Provis::WithTotal;
    if (workbook::equals_ci(*text, "WithoutTotal")) return Provis::WithoutTotal;
    return Provis::None;
}

std::optional<double> number_of(std::string_view text) {
    return workbook::parse_decimal(workbook::trim_ctl(text));
}

}  // namespace

double XmlReader::price_number(std::string_view text) const {
    return workbook::require_decimal(workbook::trim_ctl(text), text);
}

bool XmlReader::PositionNeu(Node itemlist) {
    if (!has_children(itemlist)) return false;
    for (Node child = itemlist.first_child(); child; child = child.next_sibling())
        if (node_name(child) == "Item" && HasAttribute(child, "ID") && HasAttribute(child, "RNoPart"))
            convert_item(child);
    if (!m_c.options.SubtotalsSheet) return false;
    return m_kinds.subtotal_formula();
}

void XmlReader::convert_item(Node item) {
    using workbook::guarded;
    workbook::require_row(m_rows.Positions, workbook::kPositionsteil);
    const bool bid = m_st.Phase == "84";
    std::string quantity, unit, unit_price, total;

    // Header: ordinal number and the texts of quantity, unit and prices. What fails stays empty.
    const auto header = [&] {
        const std::string item_group =
            funcFormatItem(AttributeText(item, "RNoPart"), length_number(m_st.ItemLength));
        m_st.ItemOz = m_st.RangeOz + item_group;
        if (HasAttribute(item, "RNoIndex")) {
            const std::string index_group =
                funcFormatItem(AttributeText(item, "RNoIndex"), length_number(m_st.IndexLength));
            m_st.ItemOz += "." + index_group;
        }
        if (!bid) {
            quantity = workbook::utf8_prefix(require_text(ChildText(item, "Qty"), "Qty"), kQuantityCapacity);
            unit = workbook::utf8_prefix(require_text(ChildText(item, "QU"), "QU"), kUnitCapacity);
        }
        if (const Node up = FindChild(item, "UP")) unit_price = require_text(ElementText(up), "UP");
        if (bid)
            if (const Node it = FindChild(item, "IT")) total = require_text(ElementText(it), "IT");
    };
    guarded(header, [&](const std::exception&) {
        m_c.ui.message(std::string("Fehler bei der Ermittlung von\n ItemLength ") +
                       std::string(AttributeText(item, "RNoPart")) + "\n" + "Menge bei ID " +
                       std::string(AttributeText(item, "ID")));
    });

    std::string kind_label;
    bool without_total = false;
    const auto kind = [&] {
        const Provis provis = provis_of(ChildText(item, "Provis"));
        const auto aln = ChildText(item, "ALNSerNo");
        const bool alternative = aln && *aln != "0";
        for (const KindRule& rule : kKinds) {
            if (rule.provis != provis || (!rule.any_alternative && rule.alternative != alternative)) continue;
            kind_label = rule.label ? rule.label : (bid ? "*** Angebotsposition" : "*** Normalposition");
            without_total = rule.without_total;
            break;
        }
    };
    guarded(kind,
            [&](const std::exception&) { m_c.ui.message("Fehler bei der Ermittlung der Positionsart"); });

    // The item row; a price that is no number leaves the list (the calling level reports it).
    const int32_t r = m_rows.Positions;
    m_rows.LastItemRow = r;
    m_kinds.positions();
    m_kinds.item_oz(r, m_st.ItemOz);
    std::optional<double> price;
    if (!bid) {
        // Quantity and unit are written silently or not at all.
        guarded(
            [&] {
                if (const auto q = number_of(quantity)) {
                    m_kinds.item_quantity(r, *q);
                    if (!unit.empty()) m_kinds.item_unit(r, unit);
                }
            },
            [](const std::exception&) {});
        if (!unit_price.empty()) price = price_number(unit_price);
    } else {
        if (!unit_price.empty()) price = price_number(unit_price);
        if (price && *price > 0) m_kinds.item_quantity_from_total(r);
    }
    m_kinds.item_price_cells(r, price);
    if (!bid) {
        if (!without_total) m_kinds.item_total_formula(r);
    } else if (!total.empty()) {
        m_kinds.item_number(r, 6, price_number(total));
    }
    m_kinds.item_label(r, kind_label);
    ++m_rows.Positions;
    m_c.ui.process_events();

    // Short text: the first of three places that holds a span.
    const Node complete = child_path(item, {"Description", "CompleteText"});
    const Node outline = child_path(complete, {"OutlineText", "OutlTxt", "TextOutlTxt"});
    for (const Node source : {ChildElement(outline, "p"), outline,
                              child_path(item, {"Description", "OutlineText", "OutlTxt", "TextOutlTxt"})}) {
        if (ChildText(source, "span")) {
            PositionsTexte(source);
            break;
        }
    }

    const bool long_texts = !m_c.options.OnlyShortText;
    if (long_texts) {
        m_rows.TextGroupStart = m_rows.Positions;
        for (Node child = ChildElement(complete, "DetailTxt").first_child(); child;
             child = child.next_sibling()) {
            const std::string_view name = node_name(child);
            if (name == "Text") {
                for (Node part = child.first_child(); part; part = part.next_sibling()) {
                    if (node_name(part) == "p")
                        PositionsTexte(part);
                    else if (node_name(part) == "span")
                        SPANtext(part);
                }
            } else if (name == "TextComplement") {
                ZusatzTexte(child);
            }
        }
    }

    // Sub-description: a blue caption, its short text and, with long texts, its long text.
    const Node sub = child_path(item, {"SubDescr", "Description", "CompleteText"});
    const Node sub_outline = child_path(sub, {"OutlineText", "OutlTxt", "TextOutlTxt"});
    Node sub_short;
    if (ChildText(ChildElement(sub_outline, "p"), "span"))
        sub_short = ChildElement(sub_outline, "p");
    else if (ChildText(sub_outline, "span"))
        sub_short = sub_outline;
    if (sub_short) {
        m_kinds.item_sub_label(m_rows.Positions, "Unterbeschreibung:", workbook::kColorBlue);
        ++m_rows.Positions;
        m_c.ui.process_events();
        PositionsTexte(sub_short);
    }
    if (long_texts) {
        const Node sub_text = child_path(sub, {"DetailTxt", "Text"});
        if (ChildText(ChildElement(sub_text, "p"), "span")) {
            for (Node p = sub_text.first_child(); p; p = p.next_sibling())
                if (node_name(p) == "p") PositionsTexte(p);
        } else if (ChildText(sub_text, "span")) {
            PositionsTexte(sub_text);
        }
        m_kinds.TextGroup();
    }
}

}  // namespace gaebxml
