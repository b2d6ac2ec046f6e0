// SPDX-License-Identifier: MIT
// The tender as its workbook shows it: the bid agrees with the workbook the estimator priced,
// which the readers made of the tender alongside the bill model.
#pragma once

#include <string>
#include <vector>

#include "angebot/model.h"
#include "workbook/sheet.h"

namespace angebot {

// Sets total_in_workbook of every item from its row (Item::row) of `positions`, the sheet
// Positionsteil the reader wrote: an item counts in the sums exactly when its column F is filled,
// whatever its kind says (GAEB 90 writes a total for an alternative "ANN", GAEB 2000 none for a
// basic item "G"). Items without a row, or whose row no longer shows
// their OZ in column A (a later item took the row over), keep what their kind says; their OZs
// are returned.
std::vector<std::string> take_totals_from_workbook(BillModel& model, const workbook::Sheet& positions);

}  // namespace angebot
