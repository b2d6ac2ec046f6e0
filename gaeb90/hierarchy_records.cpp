// SPDX-License-Identifier: MIT
// Records 11 and 12: group start and group title.
#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"

namespace gaeb90 {

// Record 11: the group OZ in columns 3-11. A group ends every open group it does not lie in: the
// OZ of a group begins with the OZ of the groups around it.
void Reader::sa11() {
    m_st.GroupOz.clear();
    m_st.GroupOzDotted.clear();
    read_data_part();
    m_st.GroupOz = trim_trailing_blanks(col(3, 11));
    m_st.GroupOzDotted = group_oz_dotted(m_st.GroupOz, m_st.OzWidths);
    m_st.GroupTitle.clear();

    size_t depth = m_groups.size();
    while (depth > 0 && !(m_st.GroupOz.size() > m_groups[depth - 1].size() &&
                          std::string_view(m_st.GroupOz).starts_with(m_groups[depth - 1])))
        --depth;
    leave_groups(depth);
    m_groups.push_back(m_st.GroupOz);

    bill::Range range;
    range.oz = as_read(m_st.GroupOzDotted);
    const std::vector<std::string_view> groups = bill::oz_groups(range.oz);
    range.rno_part = range.oz.empty() ? as_read(m_st.GroupOz) : std::string(groups.back());
    range.level = range.oz.empty() ? static_cast<int>(m_groups.size()) : static_cast<int>(groups.size());
    m_r.sink.enter_range(range);
}

// Record 12: the group title in columns 3-42, the title of the group whose record 11 came right
// before it. The long-text lines after it are notes text. A title longer than its 40 columns
// continues in the title records right after it: together they make one title.
void Reader::sa12() {
    const bool continued = m_previous_record == 12;
    const bill::TitlePlace place = continued                 ? bill::TitlePlace::AfterTitle
                                   : m_previous_record == 11 ? bill::TitlePlace::AfterRange
                                                             : bill::TitlePlace::Alone;
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
    }
    record_step("Prozedur sa12\n\n", [&] { m_r.sink.range_title(as_read(m_st.GroupTitle), place); });
}

void Reader::leave_groups(size_t depth) {
    while (m_groups.size() > depth) {
        m_groups.pop_back();
        m_r.sink.leave_range({});
    }
}

}  // namespace gaeb90
