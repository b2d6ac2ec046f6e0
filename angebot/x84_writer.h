// SPDX-License-Identifier: MIT
// The bid as GAEB DA XML 3.3, exchange phase 84: the tender's ranges and items with their IDs, OZ
// parts, quantities and units, each item's unit price and total, each range's and the bill's
// total, and the bidder. Texts are optional in a bid and left out.
#pragma once

#include <filesystem>
#include <string>

#include "angebot/model.h"

namespace angebot {

inline constexpr std::string_view kX84Namespace = "http://www.gaeb.de/GAEB_DA_XML/DA84/3.3";

struct X84Options {
    Bidder bidder;     // empty name: no bidder element
    std::string date;  // GAEBInfo/Date, "2024-06-15"; empty: today
    std::string time;  // GAEBInfo/Time, "09:14:00"; empty: now
};

// The bid as UTF-8 text. Throws AngebotError when the bill has no item to offer, std::bad_alloc
// when memory runs out (never a bid with elements missing).
std::string x84_text(const bill::Bill& model, const X84Options& options = {});

// Writes the bid to `target` through a temporary file beside it, renamed into place only when
// complete; an existing file is never replaced unless `overwrite`. Throws AngebotError with a
// German message on every failure, std::bad_alloc when memory runs out (the target is then
// untouched).
void write_x84(const bill::Bill& model, const std::filesystem::path& target, const X84Options& options = {},
               bool overwrite = false);

// The tender's name with ".x84" beside it, or the next free "Name (2).x84", "Name (3).x84", ...
std::filesystem::path default_bid_path(const std::filesystem::path& tender);

// "12.50", "14.921": a unit price with two or three decimals (at most `max_decimals`).
std::string decimal_text(double value, int min_decimals, int max_decimals);
// "1250.00" for 125000 cents.
std::string cents_text(int64_t cents);

}  // namespace angebot
