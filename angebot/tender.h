// SPDX-License-Identifier: MIT
// The tender as the bid takes it from what its reader reported.
#pragma once

#include "bill/bill.h"

namespace angebot {

// The tender's header and items in document order, under the ranges of the file for DA XML; for
// GAEB 90 and GAEB 2000 under the ranges their OZs name by the breakdown of the mask, as their
// ranges are numbered. Every item counts in the sums as its has_total says, the rule the workbook
// writes its total price by.
bill::Bill tender_bill(bill::Bill read);

}  // namespace angebot
