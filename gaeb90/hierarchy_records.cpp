// SPDX-License-Identifier: MIT
// Records 11 and 12: group start and group title.
#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"
#include "workbook/guarded.h"

namespace gaeb90 {

// Record 11: the group OZ in columns 3-11; it only changes state.
void Reader::sa11() {
    m_st.GroupOz.clear();
    m_st.GroupOzDotted.clear();
    read_data_part();
    m_st.GroupOz = trim_trailing_blanks(col(3, 11));
    // Selecting the sheet is all this record does to the workbook; it reports nothing.
    workbook::guarded([&] { m_kinds.positions(); }, [](const std::exception&) {});
    m_st.GroupOzDotted = group_oz_dotted(m_st.GroupOz, m_st.OzWidths);
}

// Record 12: the group title in columns 3-42; a blue "LV-Gruppe" row, and a bold notes heading.
// The long-text lines after it are notes text.
void Reader::sa12() {
    m_st.ItemContext = false;
    m_st.NotesContext = true;
    m_st.GroupTitle.clear();
    read_data_part();
    m_st.GroupTitle = col(3, 42);
    record_step("Prozedur sa12\n\n", [&] {
        m_kinds.HierarchyRow(ASCII2ANSI("LV-Gruppe " + m_st.GroupOzDotted + " - " + m_st.GroupTitle));
        if (m_c.options.ExportNotesText)
            m_kinds.NotesRow(ASCII2ANSI("LV-Gruppe " + m_st.GroupOzDotted + " " + m_st.GroupTitle), true);
    });
    // The group's subtotal range starts below the hierarchy row, even when writing failed.
    rows().GroupFirstRow = rows().Positions;
}

}  // namespace gaeb90
