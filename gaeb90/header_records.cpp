// SPDX-License-Identifier: MIT
// Records 01 to 03: the bill's name and date, the project, the client.
#include "gaeb90/reader.h"
#include "gaeb90/record_text.h"

namespace gaeb90 {

// Record 01: bill name in columns 3-42, bill date in columns 43-50.
void Reader::sa1() {
    read_data_part();
    record_step("", [&] {
        m_r.sink.header_field(bill::HeaderField::Name, cell_text(col(3, 42)));
        m_r.sink.header_field(bill::HeaderField::Date, cell_text_as_read(col(43, 50)));
    });
}

// Record 02: project name in columns 3-62.
void Reader::sa2() {
    read_data_part();
    record_step("Prozedur sa2\n\n",
                [&] { m_r.sink.header_field(bill::HeaderField::Project, cell_text(col(3, 62))); });
}

// Record 03: client name in columns 3-62.
void Reader::sa3() {
    read_data_part();
    m_r.sink.header_field(bill::HeaderField::Client, cell_text(col(3, 62)));
}

}  // namespace gaeb90
