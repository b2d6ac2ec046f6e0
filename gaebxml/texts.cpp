// SPDX-License-Identifier: MIT
// Texts: spans of paragraphs cut into rows of at most 140 characters, on Positionsteil (column B)
// for item texts and on Hinweistext (column A) for notes.
#include "gaebxml/reader.h"

namespace gaebxml {
namespace {

constexpr const char* kSpanName = "span";

// The children named "p" of a text element; every one of them, however many.
std::vector<Node> paragraphs_of(Node text) {
    std::vector<Node> paragraphs;
    for (Node child = text.first_child(); child; child = child.next_sibling())
        if (NodeName(child) == "p") paragraphs.push_back(child);
    return paragraphs;
}

}  // namespace

void XmlReader::write_line(std::string_view line, Target target) {
    if (m_rows.Positions > workbook::kMaxRow) throw SheetFull{workbook::kPositionsteil};
    if (m_rows.Notes > workbook::kMaxRow) throw SheetFull{workbook::kHinweistext};
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
        try {
            write_line(line, target);
        } catch (const std::exception& e) {
            report(last ? messages->last_line : messages->long_line, e);
        }
    });
}

void XmlReader::PositionsTexte(Node holder) {
    static constexpr LineMessages kMessages{"Positionstexte > 140\n\n", "Positionstexte < 140\n\n"};
    if (!HasChildren(holder)) return;
    for (Node child = holder.first_child(); child; child = child.next_sibling()) {
        try {
            if (NodeName(child) != kSpanName) continue;
            const auto text = ElementText(child);
            if (!text) continue;
            try {
                SplitText(*text, Target::Positions, &kMessages);
            } catch (const std::exception& e) {
                report("Positionstexte\n\n", e);
            }
        } catch (const std::exception&) {
            m_c.ui.message("Fehler bei der Ermittlung des Positionstextes");
        }
    }
}

void XmlReader::SPANtext(Node span) {
    static constexpr LineMessages kMessages{"SPAN-Text > 140\n\n", "SPAN-Text < 140\n\n"};
    std::string text;
    try {
        const auto value = ElementText(span);
        if (!value) return;
        text = *value;
        // A span standing directly in a long text keeps no line breaks: each becomes a blank.
        for (char& ch : text)
            if (ch == '\r' || ch == '\n') ch = ' ';
    } catch (const std::exception& e) {
        report("SPAN-Text-Ermittlung\n\n", e);
        return;
    }
    try {
        SplitText(text, Target::Positions, &kMessages);
    } catch (const std::exception& e) {
        report("SPAN-Text\n\n", e);
    }
}

void XmlReader::ZusatzTexte(Node complement) {
    if (!HasChildren(complement)) return;
    // Caption, body and tail share one run of lines, each part after a blank.
    std::string text;
    for (Node child = complement.first_child(); child; child = child.next_sibling()) {
        const std::string_view name = NodeName(child);
        if (name != "ComplCaption" && name != "ComplBody" && name != "ComplTail") continue;
        try {
            if (const auto part = ElementText(ChildElement(child, kSpanName))) {
                text += ' ';
                text += *part;
            }
        } catch (const std::exception& e) {
            report("Zusatztext-Fehler bei der Verarbeitung von Compl-Abschnitten\n\n", e);
        }
    }
    try {
        SplitText(text, Target::Positions, nullptr);
    } catch (const std::exception& e) {
        report("Zusatztext-Fehler beim Schreiben von Compl-Abschnitten in die Tabelle\n\n", e);
    }
}

void XmlReader::notes_paragraphs(const std::vector<Node>& paragraphs) {
    for (const Node p : paragraphs) {
        for (Node span = p.first_child(); span; span = span.next_sibling()) {
            if (NodeName(span) != kSpanName) continue;
            try {
                if (const auto text = ElementText(span)) SplitText(*text, Target::Notes, nullptr);
            } catch (const std::exception& e) {
                report("Fehler beim Export des Haupthinweistextes.\n\n", e);
            }
        }
    }
}

void XmlReader::XMLHinweistext(std::string_view label, Node text) {
    // A failing heading is left to the calling level.
    m_kinds.select(workbook::kHinweistext);
    if (!label.empty()) m_kinds.NotesRow(label, true);
    try {
        notes_paragraphs(paragraphs_of(text));
    } catch (const std::exception& e) {
        report("XMLHinweistext-Fehler bei der Ermittlung von p-Abschnitten\n\n", e);
    }
}

void XmlReader::XMLHauptHinweistext(Node body) {
    if (!HasChildren(body)) return;
    for (Node remark = body.first_child(); remark; remark = remark.next_sibling()) {
        if (NodeName(remark) != "Remark") continue;
        std::vector<Node> paragraphs;
        try {
            paragraphs =
                paragraphs_of(ChildPath(remark, {"Description", "CompleteText", "DetailTxt", "Text"}));
        } catch (const std::exception& e) {
            report("XMLHaupthinweistext-Fehler bei der Ermittlung von p-Abschnitten\n\n", e);
            continue;
        }
        m_kinds.select(workbook::kHinweistext);
        notes_paragraphs(paragraphs);
    }
}

}  // namespace gaebxml
