// SPDX-License-Identifier: MIT
// Records 01 to 03: the header block of Positionsteil and its caption row.
#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"
#include "workbook/layout.h"

namespace gaeb90 {

// Record 01: bill name in columns 3-42, bill date in columns 43-50.
void Reader::sa1() {
    read_data_part();
    record_step("", [&] {
        m_kinds.positions();
        workbook::WriteHeaderBlock(m_c, 2, "LV-Bezeichnung:", ASCII2ANSI(col(3, 42)));
        workbook::WriteHeaderBlock(m_c, 3, "LV-Datum:", as_read(col(43, 50)));
    });
}

// Record 02: project name in columns 3-62.
void Reader::sa2() {
    read_data_part();
    record_step("Prozedur sa2\n\n", [&] {
        m_kinds.positions();
        workbook::WriteHeaderBlock(m_c, 1, "Projektname:", ASCII2ANSI(col(3, 62)));
    });
}

// Record 03: client name in columns 3-62, then the mask line and the caption row 7. Each record
// 03 sets the Positions cursor back to 8.
void Reader::sa3() {
    read_data_part();
    record_step("Prozedur sa3, Abschnitt 1\n\n", [&] {
        m_kinds.positions();
        workbook::WriteHeaderBlock(m_c, 4, "Auftraggeber:", ASCII2ANSI(col(3, 62)));
        workbook::WriteHeaderBlock(m_c, 5, "OZ-Maske:", as_read(m_st.OzMask));
        workbook::column_header_captions(m_c, rows());
    });
    events();
    record_step("Prozedur sa3, Abschnitt 2\n\n", [&] { workbook::column_header_formats(m_c); });
    events();
    record_step("Prozedur sa3, Abschnitt 3\n\n", [&] { workbook::column_header_styles(m_c, rows()); });
}

}  // namespace gaeb90
