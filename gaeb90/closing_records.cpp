// SPDX-License-Identifier: MIT
// Record 31 (group end), the closing record 99, and the record types that are read and passed over.
#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"

namespace gaeb90 {

// Record 31: the group OZ in columns 3-11; it ends that group, and the groups inside it.
void Reader::sa31() {
    read_data_part();
    const std::string_view end_oz = trim_trailing_blanks(col(3, 11));
    m_st.ItemContext = false;
    m_st.NotesContext = false;
    size_t at = m_groups.size();
    while (at > 0 && m_groups[at - 1] != end_oz) --at;
    if (at == 0) return;
    leave_groups(at);
    m_groups.pop_back();
    // A group without OZ is ended, but by no number of its own.
    record_step("Prozedur sa31, Tabelle \"Teilsummen\"\n\n", [&] {
        m_r.sink.leave_range({!end_oz.empty(), {}});
    });
}

// Record 99: the bill is complete; lines after it are still read.
void Reader::sa99() {
    read_data_part();
    m_closing_record = true;
}

void Reader::skip_record() {
    read_data_part();
}

}  // namespace gaeb90
