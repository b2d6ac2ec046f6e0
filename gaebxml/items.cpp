// SPDX-License-Identifier: MIT
// Item lists: one item per Item and per surcharge item (MarkupItem) with its kind, quantity, unit,
// prices and references, then its short text, long text and sub-descriptions; performance
// descriptions (PerfDescr) with their texts where they stand.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "gaebxml/reader.h"
#include "workbook/guarded.h"
#include "workbook/numbers.h"

namespace gaebxml {
namespace {

// A Provis text other than the two the format knows counts as none: the item is then a normal
// item or an alternative, as its ALNSerNo says.
bill::Provis provis_of(std::string_view text) {
    if (workbook::equals_ci(text, "WithTotal")) return bill::Provis::WithTotal;
    if (workbook::equals_ci(text, "WithoutTotal")) return bill::Provis::WithoutTotal;
    return bill::Provis::None;
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

std::string shown_oz(std::string_view oz) {
    return oz.empty() ? std::string("ohne Nummer") : std::string(oz);
}

std::string_view trimmed_attribute(Node n, const char* name) {
    return workbook::trim_ctl(AttributeText(n, name));
}

}  // namespace

std::string XmlReader::item_number(Node item) {
    std::string oz = m_st.RangeOz + funcFormatItem(AttributeText(item, "RNoPart"), m_st.item_digits);
    if (HasAttribute(item, "RNoIndex"))
        oz += "." + funcFormatItem(AttributeText(item, "RNoIndex"), m_st.index_digits);
    return oz;
}

std::optional<double> XmlReader::number_of(std::string_view text, const char* what, Node element,
                                           std::vector<bill::Fault>& faults) {
    if (text.empty()) return std::nullopt;
    const auto value = workbook::parse_decimal(text);
    if (value && std::isfinite(*value)) return value;
    const int64_t offset = XmlDocument::offset_of(element);
    faults.push_back(
        {m_r.place_at(offset),
         m_r.place.prefix_at(offset) + fmt::format("{} \"{}\" ist keine Zahl; die Zelle bleibt leer.", what,
                                                   workbook::utf8_prefix(text, 40)),
         false});
    return std::nullopt;
}

// The faults of an item come after it.
void XmlReader::report(std::vector<bill::Fault>& faults) {
    for (bill::Fault& fault : faults) m_r.sink.fault(fault);
    faults.clear();
}

bill::Item XmlReader::item_of(Node item) {
    bill::Item out;
    out.oz = m_st.ItemOz;
    out.id = trimmed_attribute(item, "ID");
    out.rno_part = trimmed_attribute(item, "RNoPart");
    out.rno_index = trimmed_attribute(item, "RNoIndex");
    return out;
}

void XmlReader::convert_item(Node item) {
    const bool bid = m_st.bid;
    m_st.ItemOz = item_number(item);
    at(item);
    m_r.place.leave_item();
    std::vector<bill::Fault> faults;
    if (!HasAttribute(item, "RNoPart"))
        faults.push_back(
            {workbook::place_of(m_r.place),
             m_r.place.prefix() +
                 fmt::format("Eine Position in {} hat keine Nummer (RNoPart); sie steht als {} in der "
                             "Arbeitsmappe.",
                             m_st.RangeOz.empty() ? std::string("der Datei") : "LV-Bereich " + m_st.RangeOz,
                             shown_oz(m_st.ItemOz))});
    m_r.place.enter_item(m_st.ItemOz);

    bill::Item out = item_of(item);
    const std::string quantity_text = value_text(item, "Qty");
    out.quantity = number_of(quantity_text, "die Menge", item.child("Qty"), faults);
    out.quantity_unreadable = !out.quantity && !quantity_text.empty();
    out.unit = workbook::utf8_prefix(value_text(item, "QU"), kUnitCapacity);
    const std::string price_text = value_text(item, "UP");
    out.unit_price = number_of(price_text, "der Einheitspreis", item.child("UP"), faults);
    out.unit_price_unreadable = !out.unit_price && !price_text.empty();
    out.unit_price_decimals = shown_decimals(price_text);
    if (bid) out.total = number_of(value_text(item, "IT"), "der Gesamtbetrag", item.child("IT"), faults);

    // Alternatives (ALNSerNo set) and contingencies without total have no total of their own.
    out.provis = provis_of(value_text(item, "Provis"));
    out.aln_group = value_text(item, "ALNGroupNo");
    out.aln_serial = value_text(item, "ALNSerNo");
    out.alternative = !out.aln_serial.empty() && out.aln_serial != "0";
    out.has_total = !out.alternative && out.provis != bill::Provis::WithoutTotal;
    out.markup_subject = is_yes(item, "MarkupIt");
    out.lump_sum = is_yes(item, "LumpSumItem");
    out.quantity_by_bidder = is_yes(item, "QtyTBD");
    for (const char* comp : {"UPComp1", "UPComp2", "UPComp3", "UPComp4", "UPComp5", "UPComp6"}) {
        const auto value = workbook::parse_decimal(value_text(item, comp));
        if (!value) break;
        out.price_components.push_back(*value);
    }
    out.discount_percent = workbook::parse_decimal(value_text(item, "DiscountPcnt"));

    const uint32_t number = m_item_events++;
    m_r.sink.item(out);
    report(faults);
    if (!out.id.empty()) m_item_ids.emplace_back(trimmed_attribute(item, "ID"), number);
    item_texts(item);
}

// A surcharge item: its rate (Markup), in a bid its base (ITMarkup) and total (IT), what it applies
// to (MarkupType) and the items it names: RefItem straight in it, or in MarkupSubQty with the part
// quantity beside it.
void XmlReader::convert_markup(Node item) {
    const bool bid = m_st.bid;
    m_st.ItemOz = item_number(item);
    at(item);
    m_r.place.enter_item(m_st.ItemOz);
    std::vector<bill::Fault> faults;
    bill::Item out = item_of(item);
    out.surcharge = true;
    const std::string rate_text = value_text(item, "Markup");
    out.unit_price = number_of(rate_text, "der Zuschlagssatz", item.child("Markup"), faults);
    out.unit_price_unreadable = !out.unit_price && !rate_text.empty();
    if (bid) {
        out.markup_base = number_of(value_text(item, "ITMarkup"), "die Bemessungsgrundlage",
                                    item.child("ITMarkup"), faults);
        out.total = number_of(value_text(item, "IT"), "der Gesamtbetrag", item.child("IT"), faults);
    }
    const std::string type = value_text(item, "MarkupType");
    if (workbook::equals_ci(type, "IdentAsMark")) out.markup_type = bill::MarkupType::IdentAsMark;
    if (workbook::equals_ci(type, "ListInSubQty")) out.markup_type = bill::MarkupType::ListInSubQty;

    PendingMarkup pending{XmlDocument::offset_of(item), m_st.ItemOz, m_item_events, {}};
    auto add = [&](Node ref, Node holder) {
        bill::MarkupRef r;
        r.item_id = trimmed_attribute(ref, "IDRef");
        r.sub_quantity = workbook::parse_decimal(value_text(holder, "SubQty"));
        pending.references.push_back(
            {trimmed_attribute(ref, "IDRef"), XmlDocument::offset_of(ref), r.sub_quantity});
        out.markup_refs.push_back(std::move(r));
    };
    for (Node child = item.first_child(); child; child = child.next_sibling()) {
        const std::string_view name = node_name(child);
        if (name == "RefItem") add(child, item);
        if (name != "MarkupSubQty") continue;
        for (Node ref = child.child("RefItem"); ref; ref = ref.next_sibling("RefItem")) add(ref, child);
    }

    ++m_item_events;
    m_r.sink.item(out);
    report(faults);
    if (!out.markup_base && out.markup_type == bill::MarkupType::ListInSubQty)
        m_pending_markups.push_back(std::move(pending));
    item_texts(item);
}

// ListInSubQty: the items a surcharge names by ID, reported to the sink; an ID that no item of the
// bill has is a fault. Items may stand after the surcharge, so this runs after the walk; of items
// sharing an ID the first counts.
void XmlReader::check_markup_references() {
    if (m_pending_markups.empty()) return;
    std::sort(m_item_ids.begin(), m_item_ids.end());
    std::vector<bill::ItemReference> found;
    for (const PendingMarkup& markup : m_pending_markups) {
        m_r.place.at_offset(markup.offset);
        m_r.place.enter_item(markup.oz);
        found.clear();
        for (const MarkupReference& ref : markup.references) {
            const auto item = std::lower_bound(m_item_ids.begin(), m_item_ids.end(),
                                               std::pair<std::string_view, uint32_t>{ref.id, 0});
            if (item != m_item_ids.end() && item->first == ref.id) {
                found.push_back({item->second, ref.sub_quantity});
                continue;
            }
            m_r.sink.fault(
                {m_r.place_at(ref.offset),
                 m_r.place.prefix_at(ref.offset) +
                     fmt::format("der Zuschlag bezieht sich auf die Position mit der ID \"{}\", die "
                                 "es im Leistungsverzeichnis nicht gibt.",
                                 workbook::utf8_prefix(ref.id, 40)),
                 false});
        }
        m_r.sink.surcharge_items(markup.item, found);
    }
    m_r.place.leave_item();
}

// The texts of an item: short text, long text, sub-descriptions.
void XmlReader::item_texts(Node item) {
    const Node description = ChildElement(item, "Description");
    const Node complete = ChildElement(description, "CompleteText");
    const Node outline = ChildElement(complete, "OutlineText");
    PositionsTexte(has_children(outline) ? outline : ChildElement(description, "OutlineText"),
                   bill::TextKind::Short);

    const bool long_texts = !m_r.options.OnlyShortText;
    if (long_texts) {
        m_r.sink.long_text_begin();
        PositionsTexte(ChildElement(complete, "DetailTxt"), bill::TextKind::Long);
    }
    sub_descriptions(item);
    if (long_texts) m_r.sink.texts_end();
}

// Every sub-description with its quantity and unit, its short text and, with long texts, its long
// text.
void XmlReader::sub_descriptions(Node item) {
    for (Node sub = item.child("SubDescr"); sub; sub = sub.next_sibling("SubDescr")) {
        const Node description = ChildElement(sub, "Description");
        const Node complete = ChildElement(description, "CompleteText");
        Node outline = ChildElement(complete, "OutlineText");
        if (!has_children(outline)) outline = ChildElement(description, "OutlineText");
        const Node detail = ChildElement(complete, "DetailTxt");
        bill::SubDescription out;
        out.quantity_text = value_text(sub, "Qty");
        out.unit = workbook::utf8_prefix(value_text(sub, "QU"), kUnitCapacity);
        if (!has_children(outline) && !has_children(detail) && out.quantity_text.empty() && out.unit.empty())
            continue;
        out.number = value_text(sub, "SubDNo");
        std::vector<bill::Fault> faults;
        out.quantity =
            number_of(out.quantity_text, "die Menge der Unterbeschreibung", sub.child("Qty"), faults);
        m_r.sink.sub_description(out);
        report(faults);
        PositionsTexte(outline, bill::TextKind::Short);
        if (!m_r.options.OnlyShortText) PositionsTexte(detail, bill::TextKind::Long);
    }
}

// A performance description stands between the items it serves: its number and label, its short
// text, and its long text as a block; it may hold several descriptions, one after the other.
void XmlReader::performance_description(Node perf) {
    at(perf);
    m_r.place.leave_item();
    bill::PerformanceDescription out;
    out.number = value_text(perf, "PerfNo");
    out.label = value_text(perf, "PerfLbl");
    m_r.sink.performance_description(out);

    for (Node description = perf.child("Description"); description;
         description = description.next_sibling("Description")) {
        const Node complete = ChildElement(description, "CompleteText");
        const Node outline = ChildElement(complete, "OutlineText");
        PositionsTexte(has_children(outline) ? outline : ChildElement(description, "OutlineText"),
                       bill::TextKind::Short);
        if (m_r.options.OnlyShortText) continue;
        m_r.sink.long_text_begin();
        PositionsTexte(ChildElement(complete, "DetailTxt"), bill::TextKind::Long);
        m_r.sink.texts_end();
    }
}

}  // namespace gaebxml
