// SPDX-License-Identifier: MIT
// What the bid adds to the bill: its own failures and the bidder. The bill is the tender's
// bill::Bill as the reader reported it; pricing puts the bid's prices into it.
#pragma once

#include <string>
#include <vector>

#include "bill/bill.h"
#include "workbook/errors.h"

namespace angebot {

// Every failure of this folder: a German message for the user.
class AngebotError : public workbook::BremoraError {
public:
    explicit AngebotError(const std::string& message) : BremoraError("EAngebotError", message) {}
};

// The bidder, from the options; empty name: the bid names no bidder.
struct Bidder {
    std::string name;
    std::vector<std::string> address;  // lines such as "Baustraße 1", "12345 Musterstadt"
};

}  // namespace angebot
