// SPDX-License-Identifier: MIT
// The prices of the workbook put into the bill: items matched by their OZ, every fault of the
// workbook collected at once, totals computed as the workbook's formulas compute them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "angebot/model.h"
#include "angebot/priced_workbook.h"

namespace angebot {

// Every amount of a bid (item totals, surcharges and their bases, the sums of the ranges and the
// bill) stays below 10^13 (at most 9.999.999.999.999,99): the workbook shows 15 significant
// digits, so that an amount to the cent fits it only below 10^13; in cents such an amount is an
// exact double and far from the end of int64_t, so that sums checked at every addend cannot
// overflow. Past it the item is refused like a bad price.
inline constexpr int64_t kMaxAmountCents = 1'000'000'000'000'000;

enum class ProblemKind : uint8_t {
    // Faults that hold the bid back unless an incomplete bid is asked for.
    PriceMissing,        // empty unit price cell
    PriceZero,           // unit price 0
    PriceNotANumber,     // text, truth value, error value or a formula without a stored result
    PriceTooPrecise,     // more than three decimals: GAEB holds unit prices to three
    PriceOutOfRange,     // a number no bid carries: too large, subnormal, beyond the double's range;
                         // or an amount computed from it (total, surcharge, sum) beyond kMaxAmountCents
    QuantityOutOfRange,  // the workbook's quantity, needed for the total, is such a number
    ItemMissing,         // an item of the tender has no row in the workbook
    DuplicateOz,         // the workbook has the same OZ more often than the tender
    ForeignOz,           // an OZ in the workbook that the tender lacks: the workbook is refused
    // Warnings: the bid is written all the same.
    PriceNegative,
    QuantityDiffers,  // column C differs from the tender's quantity; the tender's is used
    TotalDiffers,     // column F differs from the computed total
    QuantityMissing,  // neither the tender nor the workbook gives a quantity: total 0
};

struct Problem {
    ProblemKind kind;
    bool blocking = false;  // false: a warning
    std::string oz;
    std::string cell;  // "Positionsteil!E12"; empty for an item missing from the workbook
    std::string text;  // the whole German message: "Positionsteil!E12, OZ 01.02.0010: ..."
};

struct PricingResult {
    std::vector<Problem> problems;  // items in document order, then the workbook's own rows
    // The workbook is not made from this tender (foreign OZs, or most items missing), or the
    // tender has no items: nothing is to be written.
    bool refused = false;
    std::string refusal;      // the German reason when refused
    size_t item_count = 0;    // items of the tender
    size_t priced_count = 0;  // items that got a valid unit price

    size_t blocking_count() const;
    size_t warning_count() const;
    // The bid can be written as it stands: nothing refused, nothing blocking.
    bool complete() const { return !refused && blocking_count() == 0; }
};

// Puts the workbook's prices into the model (unit_price, quantity_used, markup_base, total_cents
// of items; total_cents of ranges and the bill) and lists every fault; never throws for a fault
// of the workbook. Items with a blocking fault keep no unit price and count 0 in the totals. The
// sums are added up in the order items are priced (first the items, then the surcharges, each in
// document order); an item with which a sum would pass kMaxAmountCents is refused.
PricingResult price(bill::Bill& model, const PricedWorkbook& workbook);

// A unit price as the spreadsheet shows it: the value to 15 significant digits.
double spreadsheet_value(double value);
// Number of decimals of a value shown to 15 significant digits: 12.5 -> 1, 0.1 + 0.2 -> 1.
int decimals_of(double value);
// "1234,5": a number for a German message, at most 15 significant digits; from 10^15 on with
// four ("1,234e+17").
std::string german_number(double value);

}  // namespace angebot
