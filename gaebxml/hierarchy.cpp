// SPDX-License-Identifier: MIT
// The range walk: BoQCtgy elements nested in BoQBody down to six levels. Level 1 (Hauptteil)
// reports its own failures and goes on; levels 2 to 6 (SubBereich) share one algorithm.
#include <array>

#include "gaebxml/reader.h"
#include "workbook/errors.h"
#include "workbook/finish.h"
#include "workbook/guarded.h"
#include "workbook/run_end.h"

namespace gaebxml {

using workbook::guarded;

namespace {

// Per level 2 to 6: the text shown when the range label cannot be read (the run ends), and the
// text shown when a failure leaves the level below.
struct LevelTexts {
    const char* label_failure;
    const char* change_over;
};
constexpr std::array<LevelTexts, 7> kLevelTexts{{
    {nullptr, nullptr},
    {nullptr, nullptr},
    {"Kann die Sub1-LV-Bezeichnung (BoQCtgy) nicht ermitteln\nSubbereich1 ",
     "Fehler beim Wechsel in die 2. Bereichstufe B0QCtgy"},
    {"Kann die Sub2-LV-Bezeichnung (BoQCtgy) nicht ermitteln\nSubbereich2 ",
     "Fehler beim Wechsel in die 3. Bereichstufe B0QCtgy"},
    {"Kann die Sub3-LV-Bezeichnung (BoQCtgy) nicht ermitteln\nSubbereich3 ",
     "Fehler beim Wechsel in die 4. Bereichstufe B0QCtgy"},
    {"Kann die Sub4-LV-Bezeichnung (BoQCtgy) nicht ermitteln\nSubbereich4 ",
     "Fehler beim Wechsel in die 4. Bereichstufe B0QCtgy"},
    {"Kann die Sub2-LV-Bezeichnung (BoQCtgy) nicht ermitteln\nSubbereich2 ", nullptr},
}};
constexpr int kDeepestLevel = 6;

bool numbered(Node category) {
    return HasAttribute(category, "ID") && HasAttribute(category, "RNoPart");
}

Node notes_text(Node remark_holder) {
    return child_path(remark_holder, {"Remark", "Description", "CompleteText", "DetailTxt", "Text"});
}

}  // namespace

void XmlReader::subtotal_label_step() {
    if (!m_c.options.SubtotalsSheet) return;
    if (m_rows.Subtotals == 2) m_rows.Subtotals = 3;
    m_kinds.subtotal_label(m_rows.Subtotals - 1, m_st.SubtotalLabel);
    m_st.SubtotalLabel.clear();
}

void XmlReader::Hauptteil(Node body) {
    if (const Node list = FindChild(body, "Itemlist")) {
        guarded(m_c.ui, "Hauptroutine-Itemlist\n\n", [&] {
            m_st.RangeOz.clear();
            PositionNeu(list);
        });
        return;
    }

    std::vector<Node> categories;
    Node child = body.first_child();
    guarded(
        [&] {
            for (; child; child = child.next_sibling())
                if (node_name(child) == "BoQCtgy") categories.push_back(child);
        },
        [&](const std::exception& e) {
            m_c.ui.message("XML-Modul-Hauptroutine, Fehler in " + std::string(node_name(child)) + "\n\n" +
                           workbook::step_report(e));
        });

    for (const Node category : categories) {
        const Node content = ChildElement(category, "BoQBody");
        // A category without number gets no row; its content is walked under the number before.
        if (numbered(category)) {
            m_st.SubtotalLabel.clear();
            m_st.RangeOz = workbook::utf8_prefix(
                funcFormatBereich(AttributeText(category, "RNoPart"), mask_digit(m_st.OzMask, 1)),
                kRangeOzCapacity);
            RangeLabel label;
            guarded([&] { label = first_span_label(category, m_st.RangeOz); },
                    [&](const std::exception& e) {
                        m_c.ui.message("Kann die LV-Bezeichnung (BoQCtgy) nicht ermitteln\nLV-Bereich " +
                                       m_st.RangeOz + "\n\n" + workbook::step_report(e));
                    });
            m_st.SubtotalLabel = label.subtotal;
            guarded(
                [&] {
                    m_kinds.HierarchyRow(label.heading);
                    if (m_c.options.ExportNotesText && has_children(ChildElement(content, "Remark")))
                        XMLHinweistext(label.heading, notes_text(content));
                },
                [&](const std::exception& e) {
                    m_c.ui.message("XML-Modul-Hauptroutine, BoQCtgy-Fehler im LV-Bereich " + m_st.RangeOz +
                                   "\n\n" + workbook::step_report(e));
                });
        }
        guarded(m_c.ui, "XML-Modul-Hauptroutine, Verarbeitungsfehler im Abschnitt \"Subbereich1\"\n\n", [&] {
            if (FindChild(content, "BoQCtgy")) {
                SubBereich(2, content);
            } else if (has_children(ChildElement(content, "Itemlist"))) {
                m_st.RangeOz = workbook::utf8_prefix(chkmaske(m_st.RangeOz, m_st, m_c.ui), kRangeOzCapacity);
                // A list that converts no item leaves the previous range's subtotal row alone.
                if (PositionNeu(ChildElement(content, "Itemlist"))) subtotal_label_step();
            }
        });
    }
    m_st.RangeOz.clear();
}

void XmlReader::SubBereich(int level, Node body) {
    const std::string parent = m_st.RangeOz;
    const LevelTexts& texts = kLevelTexts[static_cast<size_t>(level)];

    std::vector<Node> categories;
    for (Node child = body.first_child(); child; child = child.next_sibling())
        if (node_name(child) == "BoQCtgy") categories.push_back(child);

    for (const Node category : categories) {
        const Node content = ChildElement(category, "BoQBody");
        RangeLabel label;
        if (numbered(category)) {
            m_st.SubtotalLabel.clear();
            m_st.RangeOz =
                workbook::utf8_prefix(parent + funcFormatBereich(AttributeText(category, "RNoPart"),
                                                                 mask_digit(m_st.OzMask, level)),
                                      kRangeOzCapacity);
            guarded([&] { label = all_spans_label(category, m_st.RangeOz); },
                    [&](const std::exception& e) {
                        // A label that cannot be read ends the program with the sheets tidied.
                        m_c.ui.busy_cursor(false);
                        workbook::FormatNachFehler(m_c);
                        workbook::release_application(m_c, false);
                        m_c.ui.message(std::string(texts.label_failure) + m_st.RangeOz + "\n\n" +
                                       workbook::step_report(e));
                        m_c.end_program(workbook::RunEnd::Aborted);
                        throw workbook::RunEnded{};
                    });
            m_st.SubtotalLabel = label.subtotal;
            m_kinds.HierarchyRow(label.heading);
            if (level >= 3 && m_c.options.ExportNotesText) XMLHinweistext(label.heading, notes_text(body));
        }

        if (FindChild(content, "BoQCtgy")) {
            if (level < kDeepestLevel) {
                guarded([&] { SubBereich(level + 1, content); },
                        [&](const std::exception&) { m_c.ui.message(texts.change_over); });
            } else {
                m_c.ui.message("6. Bereichstufe B0QCtgy vorhanden\n\nSubbereich6-Prozedur existiert nicht");
            }
        } else if (has_children(ChildElement(content, "Itemlist"))) {
            const Node list = ChildElement(content, "Itemlist");
            if (level == 2 && m_c.options.ExportNotesText) XMLHinweistext(label.heading, notes_text(list));
            m_st.RangeOz = workbook::utf8_prefix(chkmaske(m_st.RangeOz, m_st, m_c.ui), kRangeOzCapacity);
            if (PositionNeu(list)) subtotal_label_step();
        }
        m_st.RangeOz = parent;
    }
}

}  // namespace gaebxml
