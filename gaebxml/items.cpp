// SPDX-License-Identifier: MIT
// Item lists: one item row per Item and per surcharge item (MarkupItem) with its kind, quantity,
// unit, prices and formulas, then its short text, long text and sub-descriptions; performance
// descriptions (PerfDescr) as captioned text where they stand.
#include <fmt/format.h>

#include <array>
#include <cmath>
#include <unordered_map>

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
constexpr const char* kSurchargeLabel = "*** Zuschlagsposition";
// A surcharge row shows its percentage in E; D marks the row as one.
constexpr const char* kPercentUnit = "%";
// A formula of more than this many characters is not written (the spreadsheet takes 8192).
constexpr size_t kMaxFormula = 8000;

// A Provis text other than the two the format knows counts as none: the item is then a normal
// item or an alternative, as its ALNSerNo says.
Provis provis_of(std::string_view text) {
    if (workbook::equals_ci(text, "WithTotal")) return Provis::WithTotal;
    if (workbook::equals_ci(text, "WithoutTotal")) return Provis::WithoutTotal;
    return Provis::None;
}

// The text of a value element without the blanks around it; empty when it is missing or empty.
std::string value_text(Node holder, const char* name) {
    const Node n = holder.child(name);
    const Node first = n.first_child();
    if (!first) return {};
    if ((first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata) && !first.next_sibling())
        return std::string(workbook::trim_ctl(first.value()));
    return std::string(workbook::trim_ctl(inline_text(n)));
}

bool is_yes(Node holder, const char* name) {
    return workbook::equals_ci(value_text(holder, name), "Yes");
}

// Number of decimals a price text shows, trailing zeros not counted.
int shown_decimals(std::string_view text) {
    const size_t dot = text.find('.');
    if (dot == std::string_view::npos) return 0;
    size_t end = text.size();
    while (end > dot + 1 && text[end - 1] == '0') --end;
    return static_cast<int>(end - dot - 1);
}

// Money with more than two decimals keeps them visible: "#,###,##0.000".
std::string money_format_with(int decimals) {
    return "#,###,##0." + std::string(static_cast<size_t>(std::min(decimals, 10)), '0');
}
// A surcharge rate shows a third decimal when it has one.
constexpr const char* kRateFormat = "#,###,##0.00#";

std::string shown_oz(std::string_view oz) {
    return oz.empty() ? std::string("ohne Nummer") : std::string(oz);
}

}  // namespace

std::string XmlReader::item_number(Node item) {
    std::string oz = m_st.RangeOz + funcFormatItem(AttributeText(item, "RNoPart"), m_st.item_digits);
    if (HasAttribute(item, "RNoIndex"))
        oz += "." + funcFormatItem(AttributeText(item, "RNoIndex"), m_st.index_digits);
    return oz;
}

// A number of the item, or nullopt; a text that is no number is reported with its place.
std::optional<double> XmlReader::number_of(std::string_view text, const char* what, Node element) {
    if (text.empty()) return std::nullopt;
    const auto value = workbook::parse_decimal(text);
    if (value && std::isfinite(*value)) return value;
    m_c.ui.message(m_c.place.prefix_at(XmlDocument::offset_of(element)) +
                   fmt::format("{} \"{}\" ist keine Zahl; die Zelle bleibt leer.", what,
                               workbook::utf8_prefix(text, 40)));
    return std::nullopt;
}

int64_t XmlReader::convert_item(Node item) {
    workbook::require_row(m_rows.Positions, workbook::kPositionsteil);
    const bool bid = m_st.bid;
    m_st.ItemOz = item_number(item);
    at(item);
    m_c.place.leave_item();
    if (!HasAttribute(item, "RNoPart"))
        m_c.ui.message(
            m_c.place.prefix() +
            fmt::format("Eine Position in {} hat keine Nummer (RNoPart); sie steht als {} in der "
                        "Arbeitsmappe.",
                        m_st.RangeOz.empty() ? std::string("der Datei") : "LV-Bereich " + m_st.RangeOz,
                        shown_oz(m_st.ItemOz)));
    m_c.place.enter_item(m_st.ItemOz);

    const std::optional<double> quantity = number_of(value_text(item, "Qty"), "die Menge", item.child("Qty"));
    const std::string unit = std::string(workbook::utf8_prefix(value_text(item, "QU"), kUnitCapacity));
    const std::string price_text = value_text(item, "UP");
    const std::optional<double> price = number_of(price_text, "der Einheitspreis", item.child("UP"));
    std::optional<double> total;
    if (bid) total = number_of(value_text(item, "IT"), "der Gesamtbetrag", item.child("IT"));

    std::string kind_label;
    bool without_total = false;
    {
        const Provis provis = provis_of(value_text(item, "Provis"));
        const std::string aln = value_text(item, "ALNSerNo");
        const bool alternative = !aln.empty() && aln != "0";
        for (const KindRule& rule : kKinds) {
            if (rule.provis != provis || (!rule.any_alternative && rule.alternative != alternative)) continue;
            kind_label = rule.label ? rule.label : (bid ? "*** Angebotsposition" : "*** Normalposition");
            without_total = rule.without_total;
            break;
        }
    }

    const int32_t r = m_rows.Positions;
    m_rows.LastItemRow = r;
    workbook::Sheet& sheet = m_kinds.positions();
    m_kinds.item_oz(r, m_st.ItemOz);
    bid_item(item, r, quantity, unit);
    // A bid without quantity gets it from total and unit price: only from both, and never from a
    // unit price of 0.
    if (quantity)
        m_kinds.item_quantity(r, *quantity);
    else if (bid && price && *price != 0 && total)
        m_kinds.item_quantity_from_total(r);
    if (!unit.empty()) m_kinds.item_unit(r, unit);
    m_kinds.item_price_cells(r, price);
    const int32_t price_col = m_c.options.CalcColumns ? 7 : 5;
    // A price that is no number leaves its cell empty, not 0.
    if (!price && !price_text.empty()) sheet.clear(r, price_col);
    int64_t cents = 0;
    if (!bid) {
        if (!without_total) m_kinds.item_total_formula(r);
    } else {
        if (price) {
            // The bid shows the file's unit price with all its decimals.
            m_kinds.item_number(r, 5, *price);
            const int decimals = shown_decimals(price_text);
            if (decimals > 2) {
                sheet.set_number_format(workbook::Range::cell(r, 5), money_format_with(decimals));
                if (price_col != 5)
                    sheet.set_number_format(workbook::Range::cell(r, price_col), money_format_with(decimals));
            }
        }
        if (total) {
            m_kinds.item_number(r, 6, *total);
            cents = cents_of(*total);
        }
    }
    m_kinds.item_label(r, kind_label);
    if (HasAttribute(item, "ID")) m_item_rows.push_back({AttributeText(item, "ID"), r});
    m_list_rows.push_back({r, is_yes(item, "MarkupIt"), false});
    ++m_rows.Positions;
    m_c.ui.process_events();

    item_texts(item);
    return cents;
}

// Surcharge row: A the OZ, B "*** Zuschlagsposition", C the base the percentage applies to, D
// "%", E the percentage (with calculation columns G the percentage and H 1 as input cells, E
// their product rounded to three decimals; else E the input cell), F the surcharge: C x E / 100,
// or in the bid layout C the file's ITMarkup, E its Markup and F its IT.
int64_t XmlReader::convert_markup(Node item) {
    workbook::require_row(m_rows.Positions, workbook::kPositionsteil);
    const bool bid = m_st.bid;
    m_st.ItemOz = item_number(item);
    at(item);
    m_c.place.enter_item(m_st.ItemOz);
    const std::string rate_text = value_text(item, "Markup");
    const std::optional<double> rate = number_of(rate_text, "der Zuschlagssatz", item.child("Markup"));
    std::optional<double> base;
    if (bid)
        base = number_of(value_text(item, "ITMarkup"), "die Bemessungsgrundlage", item.child("ITMarkup"));
    std::optional<double> total;
    if (bid) total = number_of(value_text(item, "IT"), "der Gesamtbetrag", item.child("IT"));

    const int32_t r = m_rows.Positions;
    m_rows.LastItemRow = r;
    workbook::Sheet& sheet = m_kinds.positions();
    m_kinds.item_oz(r, m_st.ItemOz);
    bid_markup(item, r);
    m_kinds.item_unit(r, kPercentUnit);
    sheet.set_number_format(workbook::Range::cell(r, 3), m_c.money_format);
    const std::string type = value_text(item, "MarkupType");
    if (base)
        m_kinds.item_number(r, 3, *base);
    else if (workbook::equals_ci(type, "ListInSubQty"))
        m_pending_markups.push_back(pending_markup(item, r));
    else
        base_formula(r, workbook::equals_ci(type, "IdentAsMark"));

    m_kinds.item_price_cells(r, rate);
    const int32_t price_col = m_c.options.CalcColumns ? 7 : 5;
    if (!rate && !rate_text.empty()) sheet.clear(r, price_col);
    // A rate keeps three decimals, as a bid can carry them.
    if (m_c.options.CalcColumns && m_c.options.RoundPrices)
        sheet.set_formula(r, 5, fmt::format("=ROUND($G${0}*$H${0},3)", r));
    sheet.set_number_format(workbook::Range::cell(r, 5), kRateFormat);
    sheet.set_number_format(workbook::Range::cell(r, price_col), kRateFormat);
    int64_t cents = 0;
    if (!bid) {
        sheet.set_formula(r, 6,
                          m_c.options.RoundPrices ? fmt::format("=ROUND($C${0}*$E${0}/100,2)", r)
                                                  : fmt::format("=$C${0}*$E${0}/100", r));
    } else {
        if (rate) m_kinds.item_number(r, 5, *rate);
        if (total) {
            m_kinds.item_number(r, 6, *total);
            cents = cents_of(*total);
        }
    }
    m_kinds.item_label(r, kSurchargeLabel);
    m_list_rows.push_back({r, false, true});
    ++m_rows.Positions;
    m_c.ui.process_events();

    item_texts(item);
    return cents;
}

// The base of a surcharge from the rows of its list: the items before it, back to the surcharges
// before those (the surcharges just before it are passed over); with `marked_only` only the
// items marked MarkupIt.
void XmlReader::base_formula(int32_t row, bool marked_only) {
    std::vector<int32_t> rows;
    bool own_run = true;
    for (auto at = m_list_rows.rbegin(); at != m_list_rows.rend(); ++at) {
        if (at->surcharge) {
            if (own_run) continue;
            break;
        }
        own_run = false;
        if (!marked_only || at->marked) rows.push_back(at->row);
    }
    if (rows.empty()) return;
    std::string f;
    if (!marked_only) {
        // Between the first and the last of them stand only their own rows and texts.
        f = fmt::format("=SUM($F${}:$F${})", rows.back(), rows.front());
    } else {
        f = "=";
        for (size_t i = rows.size(); i-- > 0;) {
            const size_t n = rows.size() - 1 - i;
            if (n % 255 == 0)
                f += n == 0 ? "SUM(" : ")+SUM(";
            else
                f += ',';
            f += fmt::format("$F${}", rows[i]);
        }
        f += ')';
    }
    write_base(row, f);
}

void XmlReader::write_base(int32_t row, const std::string& formula) {
    if (formula.size() > kMaxFormula) {
        m_c.ui.message(
            m_c.place.prefix() +
            "die Bemessungsgrundlage des Zuschlags umfasst zu viele Positionen für eine Formel; die "
            "Zelle bleibt leer.");
        return;
    }
    m_kinds.positions().set_formula(row, 3, formula);
}

// ListInSubQty: the items a surcharge names by ID, each with its total or a part quantity of it
// (SubQty x unit price). Items may stand after the surcharge, so this runs after the walk.
XmlReader::PendingMarkup XmlReader::pending_markup(Node item, int32_t row) {
    PendingMarkup markup{XmlDocument::offset_of(item), row, m_st.ItemOz, {}};
    auto add = [&](Node ref, Node holder) {
        markup.references.push_back(
            {AttributeText(ref, "IDRef"), value_text(holder, "SubQty"), XmlDocument::offset_of(ref)});
    };
    for (Node child = item.first_child(); child; child = child.next_sibling()) {
        const std::string_view name = node_name(child);
        if (name == "RefItem") add(child, item);
        if (name != "MarkupSubQty") continue;
        for (Node ref = child.child("RefItem"); ref; ref = ref.next_sibling("RefItem")) add(ref, child);
    }
    return markup;
}

void XmlReader::resolve_markup_references() {
    if (m_pending_markups.empty()) return;
    std::unordered_map<std::string_view, int32_t> rows;
    rows.reserve(m_item_rows.size());
    for (const ItemRowRef& ref : m_item_rows) rows.emplace(ref.id, ref.row);
    for (const PendingMarkup& markup : m_pending_markups) {
        m_c.place.at_offset(markup.offset);
        m_c.place.enter_item(markup.oz);
        std::string f;
        for (const MarkupReference& ref : markup.references) {
            const auto found = rows.find(ref.id);
            if (found == rows.end()) {
                m_c.ui.message(
                    m_c.place.prefix_at(ref.offset) +
                    fmt::format("der Zuschlag bezieht sich auf die Position mit der ID \"{}\", die "
                                "es im Leistungsverzeichnis nicht gibt.",
                                workbook::utf8_prefix(ref.id, 40)));
                continue;
            }
            const auto sub_quantity = workbook::parse_decimal(ref.sub_quantity);
            f += f.empty() ? "=" : "+";
            if (sub_quantity)
                f += fmt::format("ROUND({}*$E${},2)", workbook::format_number(*sub_quantity), found->second);
            else
                f += fmt::format("$F${}", found->second);
        }
        if (!f.empty()) write_base(markup.row, f);
    }
    m_c.place.leave_item();
}

// The texts below an item row: short text, long text (grouped), sub-descriptions.
void XmlReader::item_texts(Node item) {
    const Node description = ChildElement(item, "Description");
    const Node complete = ChildElement(description, "CompleteText");
    const Node outline = ChildElement(complete, "OutlineText");
    PositionsTexte(has_children(outline) ? outline : ChildElement(description, "OutlineText"));

    const bool long_texts = !m_c.options.OnlyShortText;
    if (long_texts) {
        m_rows.TextGroupStart = m_rows.Positions;
        PositionsTexte(ChildElement(complete, "DetailTxt"));
    }
    sub_descriptions(item);
    if (long_texts) m_kinds.TextGroup();
}

// Every sub-description: a blue caption with its quantity and unit, its short text and, with
// long texts, its long text.
void XmlReader::sub_descriptions(Node item) {
    for (Node sub = item.child("SubDescr"); sub; sub = sub.next_sibling("SubDescr")) {
        const Node description = ChildElement(sub, "Description");
        const Node complete = ChildElement(description, "CompleteText");
        Node outline = ChildElement(complete, "OutlineText");
        if (!has_children(outline)) outline = ChildElement(description, "OutlineText");
        const Node detail = ChildElement(complete, "DetailTxt");
        const std::string quantity_text = value_text(sub, "Qty");
        const std::string unit = std::string(workbook::utf8_prefix(value_text(sub, "QU"), kUnitCapacity));
        if (!has_children(outline) && !has_children(detail) && quantity_text.empty() && unit.empty())
            continue;

        workbook::require_row(m_rows.Positions, workbook::kPositionsteil);
        const int32_t r = m_rows.Positions;
        m_kinds.item_sub_label(r, "Unterbeschreibung:", workbook::kColorBlue);
        if (const auto quantity =
                number_of(quantity_text, "die Menge der Unterbeschreibung", sub.child("Qty")))
            m_kinds.item_quantity(r, *quantity);
        if (!unit.empty()) m_kinds.item_unit(r, unit);
        ++m_rows.Positions;
        m_c.ui.process_events();
        PositionsTexte(outline);
        if (!m_c.options.OnlyShortText) PositionsTexte(detail);
    }
}

// A performance description stands between the items it serves: a blue caption with its number
// and label, its short text, and its long text grouped like an item's.
void XmlReader::performance_description(Node perf) {
    at(perf);
    m_c.place.leave_item();
    workbook::require_row(m_rows.Positions, workbook::kPositionsteil);
    std::string caption = "Leistungsbeschreibung";
    if (const std::string number = value_text(perf, "PerfNo"); !number.empty()) caption += " " + number;
    caption += ":";
    if (const std::string label = value_text(perf, "PerfLbl"); !label.empty()) caption += " " + label;
    m_kinds.item_sub_label(m_rows.Positions, workbook::utf8_prefix(caption, kLineLength),
                           workbook::kColorBlue);
    ++m_rows.Positions;
    m_c.ui.process_events();

    // A performance description may hold several descriptions, one after the other.
    for (Node description = perf.child("Description"); description;
         description = description.next_sibling("Description")) {
        const Node complete = ChildElement(description, "CompleteText");
        const Node outline = ChildElement(complete, "OutlineText");
        PositionsTexte(has_children(outline) ? outline : ChildElement(description, "OutlineText"));
        if (m_c.options.OnlyShortText) continue;
        const int32_t first = m_rows.Positions;
        PositionsTexte(ChildElement(complete, "DetailTxt"));
        if (m_rows.Positions - 1 >= first) m_kinds.positions().group_rows(first, m_rows.Positions - 1);
    }
}

}  // namespace gaebxml
