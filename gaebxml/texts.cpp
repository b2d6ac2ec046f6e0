// SPDX-License-Identifier: MIT
// Texts: the lines of formatted text of items and performance descriptions, and the notes of the
// bill and its ranges.
#include "gaebxml/reader.h"
#include "workbook/guarded.h"

namespace gaebxml {

using workbook::guarded;

void XmlReader::text_complement(Node complement) {
    bill::TextComplement c;
    c.owner = workbook::equals_ci(workbook::trim_ctl(AttributeText(complement, "Kind")), "Bidder")
                  ? bill::TextComplement::Owner::Bidder
                  : bill::TextComplement::Owner::Owner;
    c.mark = workbook::trim_ctl(AttributeText(complement, "MarkLbl"));
    c.caption = inline_text(ChildElement(complement, "ComplCaption"));
    c.body = inline_text(ChildElement(complement, "ComplBody"));
    c.tail = inline_text(ChildElement(complement, "ComplTail"));
    m_r.sink.text_complement(c);
}

void XmlReader::PositionsTexte(Node holder, bill::TextKind kind) {
    if (!has_children(holder)) return;
    m_text_kind = kind;
    m_text_rows.clear();
    m_text_rows.add(holder);
    m_text_rows.flush();
}

void XmlReader::notes_line(std::string_view line) {
    guarded(m_r, "Fehler beim Export des Haupthinweistextes.\n\n", [&] { m_r.sink.note_line(line); });
}

// A Remark: its short text, then its long text; an additional text (AddText) as it stands.
void XmlReader::note_text(Node note) {
    at(note);
    TextFlow flow([&](std::string_view line) { notes_line(line); });
    const Node description = ChildElement(note, "Description");
    const Node complete = ChildElement(description, "CompleteText");
    if (complete) {
        flow.add(ChildElement(complete, "OutlineText"));
        flow.flush();
        flow.add(ChildElement(complete, "DetailTxt"));
    } else {
        flow.add(description ? description : note);
    }
    flow.flush();
}

// The notes of one range: additional texts of the category, remarks and additional texts of its
// body and of its item lists, and those of its items, each of these with the item's OZ.
void XmlReader::range_notes(const Range& range) {
    std::vector<std::pair<Node, Node>> notes;  // the note, and the item it belongs to
    auto collect = [&](Node holder) {
        for (Node child = holder.first_child(); child; child = child.next_sibling()) {
            const std::string_view name = node_name(child);
            if (name == "Remark" || name == "AddText") notes.emplace_back(child, Node());
        }
    };
    if (range.category) collect(range.category);
    for (Node child = range.body.first_child(); child; child = child.next_sibling()) {
        const std::string_view name = node_name(child);
        if (name == "Remark" || name == "AddText") {
            notes.emplace_back(child, Node());
        } else if (name == "Itemlist") {
            for (Node entry = child.first_child(); entry; entry = entry.next_sibling()) {
                const std::string_view kind = node_name(entry);
                if (kind == "Remark" || kind == "AddText")
                    notes.emplace_back(entry, Node());
                else if (kind == "Item" || kind == "MarkupItem")
                    for (Node add = entry.child("AddText"); add; add = add.next_sibling("AddText"))
                        notes.emplace_back(add, entry);
            }
        }
    }
    if (notes.empty()) return;

    m_r.place.leave_item();
    const std::string range_oz = m_st.RangeOz;
    m_st.RangeOz =
        range.level == 0
            ? std::string()
            : workbook::utf8_prefix(
                  chkmaske(range.oz, m_st, [&](std::string fault) { m_r.fault(std::move(fault)); }),
                  kRangeOzCapacity);
    for (const auto& [note, item] : notes) {
        if (item) {
            const std::string oz = item_number(item);
            guarded(m_r, "Fehler beim Export des Haupthinweistextes.\n\n", [&] { m_r.sink.notes_begin(oz); });
        } else {
            m_r.sink.notes_begin({});
        }
        note_text(note);
        m_r.sink.notes_end();
    }
    m_st.RangeOz = range_oz;
}

// The bill's own notes, before those of any range: additional texts outside its body (of the
// document, the award, the client, the site, the bill's info), then what stands in the body.
void XmlReader::bill_notes(Node root, Node body) {
    std::vector<Node> outside;
    Node n = root.first_child();
    while (n) {
        bool descend = false;
        if (n.type() == pugi::node_element) {
            const std::string_view name = n.name();
            if (name == "AddText")
                outside.push_back(n);
            else
                descend = name != "BoQBody";
        }
        if (descend && n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n != root && !n.next_sibling()) n = n.parent();
        n = n == root ? Node() : n.next_sibling();
    }
    for (const Node note : outside) {
        m_r.sink.notes_begin({});
        note_text(note);
        m_r.sink.notes_end();
    }
    Range bill;
    bill.body = body;
    range_notes(bill);
}

}  // namespace gaebxml
