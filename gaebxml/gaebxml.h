// SPDX-License-Identifier: MIT
#pragma once

#include "workbook/reading.h"

namespace gaebxml {

// Entry of the GAEB DA XML reader: reads r.file_name; the bill goes to r.sink. Returns when the
// run has ended (r.end).
void gaebxml_start(workbook::Reading& r);

}  // namespace gaebxml
