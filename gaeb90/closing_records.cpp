// SPDX-License-Identifier: MIT
// Record 31 (group end with its subtotal), the closing record 99 and the record types that are
// read and passed over.
#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"

namespace gaeb90 {

// Record 31: the group OZ in columns 3-11. Only the group opened last (the innermost one) can
// get a subtotal row, since GroupOz holds the last record 11 and a completed subtotal empties it.
void Reader::sa31() {
    read_data_part();
    const std::string_view end_oz = trim_trailing_blanks(col(3, 11));
    m_st.ItemContext = false;
    m_st.NotesContext = false;
    if (!m_c.options.SubtotalsSheet || m_st.GroupOz.empty() || m_st.GroupOz != end_oz) return;
    record_step("Prozedur sa31, Tabelle \"Teilsummen\"\n\n", [&] {
        m_kinds.subtotal_label(rows().Subtotals, group_label(m_st.GroupOzDotted, m_st.GroupTitle));
        if (rows().GroupFirstRow > 0) {
            // The formula needs items in the group; the label row stays in either case.
            if (!m_kinds.subtotal_formula()) {
                rows().GroupFirstRow = 0;
                rows().LastItemRow = 0;
                ++rows().Subtotals;
            }
            m_st.GroupOz.clear();
        }
    });
}

void Reader::skip_record() {
    read_data_part();
}

// Record 99 closes the bill. Lines after it are still read.
void Reader::sa99() {
    read_data_part();
    m_closing_record = true;
}

}  // namespace gaeb90
