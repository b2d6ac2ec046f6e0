// SPDX-License-Identifier: MIT
// Texts: spans of paragraphs cut into rows of at most 140 characters, on Positionsteil (column B)
// for item texts and on Hinweistext (column A) for notes.
#include "gaebxml/reader.h"
#include "workbook/guarded.h"
#include "workbook/run_end.h"

namespace gaebxml {

using workbook::guarded;

namespace {

constexpr const char* kSpanName = "span";

// The children named "p" of a text element; every one of them, however many.
std::vector<Node> paragraphs_of(Node text) {
    std::vector<Node> paragraphs;
    for (Node child = text.first_child(); child; child = child.next_sibling())
        if (node_name(child) == "p") paragraphs.push_back(child);
    return paragraphs;
}

}  // namespace

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
        guarded(m_c.ui, last ? messages->last_line : messages->long_line, [&] { write_line(line, target); });
    });
}

void XmlReader::PositionsTexte(Node holder) {
    static constexpr LineMessages kMessages{"Positionstexte > 140\n\n", "Positionstexte < 140\n\n"};
    if (!has_children(holder)) return;
    for (Node child = holder.first_child(); child; child = child.next_sibling()) {
        guarded(
            [&] {
                if (node_name(child) != kSpanName) return;
                const auto text = ElementText(child);
                if (!text) return;
                guarded(m_c.ui, "Positionstexte\n\n",
                        [&] { SplitText(*text, Target::Positions, &kMessages); });
            },
            [&](const std::exception&) { m_c.ui.message("Fehler bei der Ermittlung des Positionstextes"); });
    }
}

void XmlReader::SPANtext(Node span) {
    static constexpr LineMessages kMessages{"SPAN-Text > 140\n\n", "SPAN-Text < 140\n\n"};
    std::optional<std::string> text;
    const bool read = guarded(m_c.ui, "SPAN-Text-Ermittlung\n\n", [&] {
        const auto value = ElementText(span);
        if (!value) return;
        text = *value;
        // A span standing directly in a long text keeps no line breaks: each becomes a blank.
        for (char& ch : *text)
            if (ch == '\r' || ch == '\n') ch = ' ';
    });
    if (!read || !text) return;
    guarded(m_c.ui, "SPAN-Text\n\n", [&] { SplitText(*text, Target::Positions, &kMessages); });
}

void XmlReader::ZusatzTexte(Node complement) {
    if (!has_children(complement)) return;
    // Caption, body and tail share one run of lines, each part after a blank.
    std::string text;
    for (Node child = complement.first_child(); child; child = child.next_sibling()) {
        const std::string_view name = node_name(child);
        if (name != "ComplCaption" && name != "ComplBody" && name != "ComplTail") continue;
        guarded(m_c.ui, "Zusatztext-Fehler bei der Verarbeitung von Compl-Abschnitten\n\n", [&] {
            if (const auto part = ElementText(ChildElement(child, kSpanName))) {
                text += ' ';
                text += *part;
            }
        });
    }
    guarded(m_c.ui, "Zusatztext-Fehler beim Schreiben von Compl-Abschnitten in die Tabelle\n\n",
            [&] { SplitText(text, Target::Positions, nullptr); });
}

void XmlReader::notes_paragraphs(const std::vector<Node>& paragraphs) {
    for (const Node p : paragraphs) {
        for (Node span = p.first_child(); span; span = span.next_sibling()) {
            if (node_name(span) != kSpanName) continue;
            guarded(m_c.ui, "Fehler beim Export des Haupthinweistextes.\n\n", [&] {
                if (const auto text = ElementText(span)) SplitText(*text, Target::Notes, nullptr);
            });
        }
    }
}

void XmlReader::XMLHinweistext(std::string_view label, Node text) {
    // A failing heading is left to the calling level.
    m_kinds.select(workbook::kHinweistext);
    if (!label.empty()) m_kinds.NotesRow(label, true);
    guarded(m_c.ui, "XMLHinweistext-Fehler bei der Ermittlung von p-Abschnitten\n\n",
            [&] { notes_paragraphs(paragraphs_of(text)); });
}

void XmlReader::XMLHauptHinweistext(Node body) {
    if (!has_children(body)) return;
    for (Node remark = body.first_child(); remark; remark = remark.next_sibling()) {
        if (node_name(remark) != "Remark") continue;
        std::vector<Node> paragraphs;
        const bool found =
            guarded(m_c.ui, "XMLHaupthinweistext-Fehler bei der Ermittlung von p-Abschnitten\n\n", [&] {
                paragraphs =
                    paragraphs_of(child_path(remark, {"Description", "CompleteText", "DetailTxt", "Text"}));
            });
        if (!found) continue;
        m_kinds.select(workbook::kHinweistext);
        notes_paragraphs(paragraphs);
    }
}

}  // namespace gaebxml
