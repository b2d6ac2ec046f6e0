// SPDX-License-Identifier: MIT
// Texts: the lines of formatted text cut into rows of at most 140 characters, on Positionsteil
// (column B) for item and range texts and on Hinweistext (column A) for notes.
#include "gaebxml/reader.h"
#include "workbook/guarded.h"
#include "workbook/run_end.h"

namespace gaebxml {

using workbook::guarded;

void XmlReader::write_line(std::string_view line, Target target) {
    workbook::require_row(m_rows.Positions, workbook::kPositionsteil);
    workbook::require_row(m_rows.Notes, workbook::kHinweistext);
    if (target == Target::Positions)
        m_kinds.TextRow(line, true);
    else
        m_kinds.NotesRow(line, false);
}

void XmlReader::SplitText(std::string_view text, Target target, const LineMessages* messages) {
    m_kinds.select(target == Target::Positions ? workbook::kPositionsteil : workbook::kHinweistext);
    for_each_line(text, [&](std::string_view line, bool last) {
        if (!messages) {
            write_line(line, target);
            return;
        }
        // A line that fails is reported and counts as done; the text goes on with its next line.
        guarded(m_c, last ? messages->last_line : messages->long_line, [&] { write_line(line, target); });
    });
}

void XmlReader::item_text_line(std::string_view line) {
    static constexpr LineMessages kMessages{"Positionstexte > 140\n\n", "Positionstexte < 140\n\n"};
    SplitText(line, Target::Positions, &kMessages);
}

void XmlReader::PositionsTexte(Node holder) {
    if (!has_children(holder)) return;
    m_text_rows.clear();
    m_text_rows.add(holder);
    m_text_rows.flush();
}

void XmlReader::notes_line(std::string_view line) {
    guarded(m_c, "Fehler beim Export des Haupthinweistextes.\n\n",
            [&] { SplitText(line, Target::Notes, nullptr); });
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

// The notes of one range under its heading: additional texts of the category, remarks and
// additional texts of its body and of its item lists, and those of its items ("Zu Position").
void XmlReader::range_notes(const Range& range, std::string_view heading) {
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

    m_c.place.leave_item();
    m_kinds.select(workbook::kHinweistext);
    workbook::require_row(m_rows.Notes, workbook::kHinweistext);
    if (!heading.empty()) m_kinds.NotesRow(heading, true);
    const std::string range_oz = m_st.RangeOz;
    m_st.RangeOz = range.level == 0
                       ? std::string()
                       : workbook::utf8_prefix(chkmaske(range.oz, m_st, m_c.ui), kRangeOzCapacity);
    for (const auto& [note, item] : notes) {
        if (item) notes_line("Zu Position " + item_number(item) + ":");
        note_text(note);
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
    if (!outside.empty()) {
        m_kinds.select(workbook::kHinweistext);
        for (const Node note : outside) note_text(note);
    }
    Range bill;
    bill.body = body;
    range_notes(bill, "");
}

}  // namespace gaebxml
