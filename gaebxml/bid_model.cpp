// SPDX-License-Identifier: MIT
// The bill model of a bid, filled while the tender is read (Conversion::bid): the bill's data,
// its ranges and items with their IDs and numbers as the file gives them, each item with the OZ
// and the row the workbook shows it in.
#include "angebot/model.h"
#include "gaebxml/reader.h"
#include "workbook/numbers.h"

namespace gaebxml {

namespace {

std::string text_of(Node holder, const char* name) {
    return std::string(workbook::trim_ctl(inline_text(ChildElement(holder, name))));
}

bool yes(Node holder, const char* name) {
    return workbook::equals_ci(text_of(holder, name), "Yes");
}

}  // namespace

void XmlReader::bid_info(Node root) {
    if (!m_c.bid) return;
    angebot::BillInfo& info = m_c.bid->model().info;
    const Node prj = ChildElement(root, "PrjInfo");
    info.project_name = text_of(prj, "NamePrj");
    info.project_label = text_of(prj, "LblPrj");
    const Node award_info = child_path(root, {"Award", "AwardInfo"});
    info.currency = text_of(award_info, "Cur");
    info.currency_label = text_of(award_info, "CurLbl");
    const Node boq = child_path(root, {"Award", "BoQ"});
    info.boq_id = std::string(workbook::trim_ctl(AttributeText(boq, "ID")));
    const Node boq_info = ChildElement(boq, "BoQInfo");
    info.name = text_of(boq_info, "Name");
    info.label = text_of(boq_info, "LblBoQ");
    info.date = angebot::iso_date(text_of(boq_info, "Date"));
    info.breakdown.clear();
    for (Node b = boq_info.child("BoQBkdn"); b; b = b.next_sibling("BoQBkdn")) {
        angebot::Breakdown level;
        const std::string type = text_of(b, "Type");
        if (workbook::equals_ci(type, "Item"))
            level.type = angebot::BreakdownType::Item;
        else if (workbook::equals_ci(type, "Index"))
            level.type = angebot::BreakdownType::Index;
        else if (!workbook::equals_ci(type, "BoQLevel"))
            continue;
        const auto length = workbook::parse_decimal(text_of(b, "Length"));
        level.length = length && *length >= 1 && *length <= 9 ? static_cast<int>(*length) : 0;
        level.numeric = !workbook::equals_ci(text_of(b, "Num"), "No");
        level.label = text_of(b, "LblBoQBkdn");
        level.alignment = text_of(b, "Alignment");
        info.breakdown.push_back(std::move(level));
    }
}

void XmlReader::bid_range(Node category) {
    if (m_c.bid)
        m_c.bid->enter_range(std::string(workbook::trim_ctl(AttributeText(category, "RNoPart"))), {},
                             std::string(workbook::trim_ctl(AttributeText(category, "ID"))));
}

void XmlReader::bid_range_end() {
    if (m_c.bid) m_c.bid->leave_range();
}

void XmlReader::bid_item(Node item, int32_t row, std::optional<double> quantity, const std::string& unit) {
    if (!m_c.bid) return;
    angebot::Item out;
    out.id = std::string(workbook::trim_ctl(AttributeText(item, "ID")));
    out.oz = m_st.ItemOz;
    out.row = row;
    out.rno_part = std::string(workbook::trim_ctl(AttributeText(item, "RNoPart")));
    out.rno_index = std::string(workbook::trim_ctl(AttributeText(item, "RNoIndex")));
    out.quantity = quantity;
    out.unit = unit;
    const std::string provis = text_of(item, "Provis");
    if (workbook::equals_ci(provis, "WithTotal")) out.provis = angebot::Provis::WithTotal;
    if (workbook::equals_ci(provis, "WithoutTotal")) out.provis = angebot::Provis::WithoutTotal;
    const std::string aln = text_of(item, "ALNSerNo");
    out.alternative = !aln.empty() && aln != "0";
    out.markup_subject = yes(item, "MarkupIt");
    m_c.bid->add_item(std::move(out));
}

void XmlReader::bid_markup(Node item, int32_t row) {
    if (!m_c.bid) return;
    angebot::Item out;
    out.id = std::string(workbook::trim_ctl(AttributeText(item, "ID")));
    out.oz = m_st.ItemOz;
    out.row = row;
    out.rno_part = std::string(workbook::trim_ctl(AttributeText(item, "RNoPart")));
    out.rno_index = std::string(workbook::trim_ctl(AttributeText(item, "RNoIndex")));
    out.surcharge = true;
    const std::string type = text_of(item, "MarkupType");
    if (workbook::equals_ci(type, "IdentAsMark")) out.markup_type = angebot::MarkupType::IdentAsMark;
    if (workbook::equals_ci(type, "ListInSubQty")) out.markup_type = angebot::MarkupType::ListInSubQty;
    // The items named, as the base formula of the workbook takes them: RefItem straight in the
    // surcharge, or in MarkupSubQty with the part quantity beside it.
    auto add = [&out](Node ref, Node holder) {
        angebot::MarkupRef r;
        r.item_id = std::string(workbook::trim_ctl(AttributeText(ref, "IDRef")));
        r.sub_quantity = workbook::parse_decimal(text_of(holder, "SubQty"));
        out.markup_refs.push_back(std::move(r));
    };
    for (Node child = item.first_child(); child; child = child.next_sibling()) {
        const std::string_view name = node_name(child);
        if (name == "RefItem") add(child, item);
        if (name != "MarkupSubQty") continue;
        for (Node ref = child.child("RefItem"); ref; ref = ref.next_sibling("RefItem")) add(ref, child);
    }
    m_c.bid->add_item(std::move(out));
}

}  // namespace gaebxml
