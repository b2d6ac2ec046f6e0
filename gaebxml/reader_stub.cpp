// SPDX-License-Identifier: MIT
// Placeholder until the reader lands: says so plainly and refuses the input.
#include "gaebxml/gaebxml.h"

namespace gaebxml {

void gaebxml_start(workbook::Conversion& c) {
    c.ui.error_dialog("Das Lesen von GAEB-DA-XML-Dateien ist in dieser Version noch nicht verfügbar.");
    c.end_program(workbook::RunEnd::Refused);
}

}  // namespace gaebxml
