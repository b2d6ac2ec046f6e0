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
        workbook::WriteHeaderBlock(m_c, 2, "LV-Bezeichnung:", cell_text(col(3, 42)));
        workbook::WriteHeaderBlock(m_c, 3, "LV-Datum:", cell_text_as_read(col(43, 50)));
    });
}

// Record 02: project name in columns 3-62.
void Reader::sa2() {
    read_data_part();
    record_step("Prozedur sa2\n\n", [&] {
        m_kinds.positions();
        workbook::WriteHeaderBlock(m_c, 1, "Projektname:", cell_text(col(3, 62)));
    });
}

// Record 03: client name in columns 3-62, then the mask line and the caption row 7; the body
// starts in row 8. Once the body has begun, a further record 03 writes the header again and
// leaves the body's rows where they are.
void Reader::sa3() {
    read_data_part();
    const int32_t body_row = rows().Positions;
    m_body_started = true;
    caption_row([&] { workbook::WriteHeaderBlock(m_c, 4, "Auftraggeber:", cell_text(col(3, 62))); });
    if (body_row > 8) rows().Positions = body_row;
}

void Reader::start_body() {
    if (m_body_started) return;
    m_body_started = true;
    caption_row([] {});
}

void Reader::caption_row(workbook::FunctionRef<void()> client) {
    record_step("Prozedur sa3, Abschnitt 1\n\n", [&] {
        m_kinds.positions();
        client();
        workbook::WriteHeaderBlock(m_c, 5, "OZ-Maske:", cell_text_as_read(m_st.OzMask));
        workbook::column_header_captions(m_c, rows());
    });
    events();
    record_step("Prozedur sa3, Abschnitt 2\n\n", [&] { workbook::column_header_formats(m_c); });
    events();
    record_step("Prozedur sa3, Abschnitt 3\n\n", [&] { workbook::column_header_styles(m_c, rows()); });
}

}  // namespace gaeb90
