// SPDX-License-Identifier: MIT
#pragma once

#include <istream>

#include "workbook/conversion.h"

namespace gaeb90 {

// Entry of the GAEB 90 reader: `input` is the normalised copy (records of at most 80
// characters, CR LF), positioned at its first line. Returns when the run has ended.
void sa0(workbook::Conversion& c, std::istream& input);

}  // namespace gaeb90
