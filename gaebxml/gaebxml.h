// SPDX-License-Identifier: MIT
#pragma once

#include "workbook/conversion.h"

namespace gaebxml {

// Entry of the GAEB DA XML reader: reads c.file_name. Returns when the run has ended.
void gaebxml_start(workbook::Conversion& c);

}  // namespace gaebxml
