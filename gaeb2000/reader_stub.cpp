// SPDX-License-Identifier: MIT
// Placeholder until the reader lands: says so plainly and refuses the input.
#include "gaeb2000/gaeb2000.h"

namespace gaeb2000 {

void gaeb2k_start(workbook::Conversion& c) {
    c.ui.error_dialog("Das Lesen von GAEB-2000-Dateien ist in dieser Version noch nicht verfügbar.");
    c.end_program(workbook::RunEnd::Refused);
}

}  // namespace gaeb2000
