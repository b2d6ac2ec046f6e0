// SPDX-License-Identifier: MIT
#pragma once

#include <istream>

#include "workbook/reading.h"

namespace gaeb90 {

// Entry of the GAEB 90 reader: `input` is the normalised copy (records of at most 80 characters,
// CR LF), positioned at its first line; the bill goes to r.sink. Returns when the run has ended
// (r.end).
void sa0(workbook::Reading& r, std::istream& input);

}  // namespace gaeb90
