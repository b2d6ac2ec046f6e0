// SPDX-License-Identifier: MIT
#pragma once

#include "workbook/conversion.h"

namespace gaeb2000 {

// Entry of the GAEB 2000 reader: reads c.file_name. Returns when the run has ended.
void gaeb2k_start(workbook::Conversion& c);

}  // namespace gaeb2000
