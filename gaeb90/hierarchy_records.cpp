// SPDX-License-Identifier: MIT
// Records 11 and 12: group start and group title.
#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"

namespace gaeb90 {

// Record 11: the group OZ in columns 3-11. The group's row on Positionsteil is written here with
// its number, so that a group without a title record has its row like every group; the title
// record right after it completes the row. The group's subtotal range starts below the row.
void Reader::sa11() {
    m_st.GroupOz.clear();
    m_st.GroupOzDotted.clear();
    read_data_part();
    m_st.GroupOz = trim_trailing_blanks(col(3, 11));
    m_st.GroupOzDotted = group_oz_dotted(m_st.GroupOz, m_st.OzWidths);
    m_st.GroupTitle.clear();
    m_title_row = 0;
    m_title_notes_row = 0;
    record_step("Prozedur sa11\n\n", [&] {
        start_body();
        const int32_t row = rows().Positions;
        m_kinds.HierarchyRow(group_label(m_st.GroupOzDotted, ""));
        m_title_row = row;
    });
    rows().GroupFirstRow = rows().Positions;
}

// Record 12: the group title in columns 3-42, written into the row of its group, and a bold
// notes heading. The long-text lines after it are notes text. A title longer than its 40
// columns continues in the title records right after it: together they make one row with the
// whole title. A title record without its record 11 right before it opens a row of its own.
void Reader::sa12() {
    const bool continued = m_previous_record == 12 && m_title_row > 0;
    const bool group_row = m_previous_record == 11 && m_title_row > 0;
    m_st.ItemContext = false;
    m_st.NotesContext = true;
    read_data_part();
    if (continued) {
        // A joined title ends at kMaxTitle characters: no real title comes near that.
        if (m_st.GroupTitle.size() >= kMaxTitle) return;
        std::string title(trim_trailing_blanks(m_st.GroupTitle));
        if (!title.empty()) title += ' ';
        m_st.GroupTitle = title + std::string(col(3, 42));
        if (m_st.GroupTitle.size() > kMaxTitle) m_st.GroupTitle.resize(kMaxTitle);
    } else {
        m_st.GroupTitle = col(3, 42);
        if (!group_row) m_title_row = 0;
        m_title_notes_row = 0;
    }
    const std::string label = group_label(m_st.GroupOzDotted, m_st.GroupTitle);
    const std::string heading = cell_text("LV-Gruppe " + m_st.GroupOzDotted + " " + m_st.GroupTitle);
    record_step("Prozedur sa12\n\n", [&] {
        if (continued || group_row) {
            m_kinds.positions().set_value(m_title_row, 2, label);
        } else {
            start_body();
            m_title_row = rows().Positions;
            m_kinds.HierarchyRow(label);
        }
        if (m_c.options.ExportNotesText) {
            if (continued && m_title_notes_row > 0) {
                m_kinds.select(workbook::kHinweistext).set_value(m_title_notes_row, 1, heading);
            } else {
                m_title_notes_row = rows().Notes;
                m_kinds.NotesRow(heading, true);
            }
        }
    });
    // The group's subtotal range starts below the hierarchy row, even when writing failed.
    if (!continued) rows().GroupFirstRow = rows().Positions;
}

}  // namespace gaeb90
