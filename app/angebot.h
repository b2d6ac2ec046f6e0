// SPDX-License-Identifier: MIT
// A bid from a tender and the workbook the estimator priced: the priced workbook read back, the
// tender read as for its workbook (same readers, same OZ), every fault of the prices listed at
// once, the bid written as GAEB DA XML 3.3 of exchange phase 84. Shared by the console program
// (--angebot) and the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "angebot/model.h"
#include "workbook/conversion.h"
#include "workbook/frontend.h"

namespace app {

// What happens when items lack a valid unit price (or are missing from the workbook).
enum class IncompleteBid {
    Refuse,  // nothing is written
    Write,   // the bid is written with those items unpriced
    Ask,     // the user is asked (ask_yes_no)
};

struct BidOrder {
    std::filesystem::path tender;    // the bill the workbook was made from
    std::filesystem::path workbook;  // the priced .xlsx
    std::filesystem::path output;    // where the bid goes; checked by the caller
    // When set, the output's name is chosen only when the bid is written (a free name then).
    std::function<std::filesystem::path()> choose_output;
    bool overwrite = false;  // the output may replace an existing file
    IncompleteBid incomplete = IncompleteBid::Refuse;
    std::string refusal_hint;  // said after a refusal for missing prices: how to write the bid anyway
    angebot::Bidder bidder;
    size_t max_listed = 0;  // problems listed in one message at most; 0: all of them
};

enum class BidEnd {
    Written,      // complete bid written
    Incomplete,   // written, but items lack their price
    Refused,      // nothing written: a faulty input, missing prices or prices no bid can carry
    NotSaved,     // the bid was made but could not be saved; an existing file is unchanged
    OutOfMemory,  // nothing written: memory ran out (kBidOutOfMemory was shown through error_dialog,
                  // which a front end may leave out once memory is exhausted: see memory.h)
};

inline constexpr const char* kBidOutOfMemory =
    "Nicht genügend Arbeitsspeicher: Das Angebot wurde nicht geschrieben.";

struct BidOutcome {
    BidEnd end = BidEnd::Refused;
    std::filesystem::path written;  // the bid's file when written
    std::string closing;            // the closing message when written
};

// Reads, checks and writes; every message goes through `ui`: faults of the inputs through
// error_dialog, warnings and what the tender's reader said through message. The closing message
// is the caller's to show. Files given the wrong way round (the workbook first) or of the wrong
// kind are refused with a message that says which file is which.
BidOutcome make_bid(const BidOrder& order, workbook::Frontend& ui, const workbook::StartupValues& values);

// The options the tender is read with. They change the texts only, never which items there are,
// their OZ or their totals: long texts are left out (time and memory), notes are read.
workbook::ReadOptions tender_options();

// The window's place for a bid: the tender's name with .x84 in the folder of the priced workbook
// (in `fallback_folder` when that folder is not writable), never an existing file.
std::filesystem::path bid_target(const std::filesystem::path& tender, const std::filesystem::path& workbook,
                                 const std::filesystem::path& fallback_folder);

// "1.234,56" for 123456 cents.
std::string german_money(int64_t cents);

}  // namespace app
