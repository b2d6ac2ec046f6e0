// SPDX-License-Identifier: MIT
// Records 20, 25, 26 and the contractual-rule lines T1: short texts, long texts, notes, rules.
#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"

namespace gaeb90 {

// Record 20: the following long-text lines are notes text.
void Reader::sa20() {
    read_data_part();
    m_st.NotesContext = true;
}

// Record 25: one short-text line, columns 3-72.
void Reader::sa25() {
    read_data_part();
    std::string text(col(3, 72));
    text_cleanup(text);
    record_step("Prozedur sa25\n\n", [&] { m_r.sink.text_line(bill::TextKind::Short, cell_text(text)); });
}

// Record 26: one long-text line, columns 6-60; the item's long text and/or notes text, as the
// contexts say. Notes are read whether they are exported or not.
void Reader::sa26() {
    read_data_part();
    std::string text(col(6, 60));
    text_cleanup(text);
    // A line without content (55 blanks, or blanks cut off at the line end) goes nowhere.
    if (all_blanks(text)) return;
    record_step("Prozedur sa26\n\n", [&] {
        if (m_st.ItemContext && !m_r.options.OnlyShortText)
            m_r.sink.text_line(bill::TextKind::Long, cell_text(text));
        if (m_st.NotesContext) m_r.sink.note_line(cell_text(text));
    });
}

// A T1 line: the rule text in columns 3-74.
void Reader::regeltexte() {
    std::string text(col(3, 74));
    if (!m_st.RulesFound) return;
    text_cleanup(text);
    record_step("", [&] { m_r.sink.rules_line(cell_text(text)); });
}

}  // namespace gaeb90
