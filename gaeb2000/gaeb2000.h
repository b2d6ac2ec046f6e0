// SPDX-License-Identifier: MIT
#pragma once

#include "workbook/reading.h"

namespace gaeb2000 {

// Entry of the GAEB 2000 reader: reads r.file_name; the bill goes to r.sink. Returns when the
// run has ended (r.end).
void gaeb2k_start(workbook::Reading& r);

}  // namespace gaeb2000
