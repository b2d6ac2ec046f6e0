// SPDX-License-Identifier: MIT
// Placeholder until the reader lands: says so plainly and refuses the input.
#include "gaeb90/gaeb90.h"

namespace gaeb90 {

void sa0(workbook::Conversion& c, std::istream& /*input*/) {
    c.ui.error_dialog("Das Lesen von GAEB-90-Dateien ist in dieser Version noch nicht verfügbar.");
    c.end_program(workbook::RunEnd::Refused);
}

}  // namespace gaeb90
