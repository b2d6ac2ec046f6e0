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

// Record 25: one short-text line, columns 3-72; always to Positionsteil.
void Reader::sa25() {
    read_data_part();
    std::string text(col(3, 72));
    text_cleanup(text);
    record_step("Prozedur sa25\n\n", [&] {
        start_body();
        m_kinds.TextRow(cell_text(text), false);
    });
}

// Record 26: one long-text line, columns 6-60; to the item on Positionsteil and/or to the notes
// on Hinweistext, as the contexts say. Notes lines are counted also when they are not exported,
// so that the end of the run can say what the notes sheet would hold.
void Reader::sa26() {
    read_data_part();
    std::string text(col(6, 60));
    text_cleanup(text);
    // A line without content (55 blanks, or blanks cut off at the line end) goes nowhere.
    const bool blank = all_blanks(text);
    if (m_st.NotesContext && !blank) ++m_notes_lines;
    record_step("Prozedur sa26\n\n", [&] {
        if (m_st.ItemContext && !blank && !m_c.options.OnlyShortText) {
            start_body();
            m_kinds.TextRow(cell_text(text), true);
        }
        if (m_c.options.ExportNotesText && m_st.NotesContext && !blank)
            m_kinds.NotesRow(cell_text(text), false);
    });
}

// A T1 line: the rule text in columns 3-74. The Rules cursor moves on also when writing failed.
void Reader::regeltexte() {
    std::string text(col(3, 74));
    if (!m_st.RulesFound) return;
    text_cleanup(text);
    record_step("", [&] { m_kinds.RulesRow(cell_text(text)); });
}

}  // namespace gaeb90
