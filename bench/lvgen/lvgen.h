// SPDX-License-Identifier: MIT
// Synthetic bills of quantities for tests and benchmarks: GAEB 90, GAEB 2000 and GAEB DA XML of any
// size, with range levels, notes, sub-descriptions, indices, umlauts in the files' code pages, long
// texts and, in phase 84, unit prices with correct totals. Equal options give equal bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace lvgen {

enum class Format { Gaeb90, Gaeb2000, Xml };

// What --corrupt does to a finished bill.
enum class Damage {
    None,
    Truncate,    // cut off somewhere in its middle
    Flip,        // a few bits changed in the body
    Phase,       // exchange phase 85
    BadRecord,   // GAEB 90: records of unknown types among the others
    NoEnd,       // GAEB 2000: block ends and value ends missing
    Unbalanced,  // GAEB DA XML: an end tag missing
};

struct Options {
    Format format = Format::Xml;
    int64_t items = 0;         // --items, at least 1
    int levels = 2;            // range levels above the items: 0-4 (GAEB 90), 0-6
    int phase = 83;            // 81-84 (GAEB 90), 81/83/84 (GAEB 2000), 80-84 (GAEB DA XML)
    int long_lines = 2;        // long-text lines (GAEB 90) or paragraphs per item
    uint64_t seed = 1;         // the same seed gives the same bill
    int per_group = 20;        // items per lowest range on average
    bool notes = false;        // notes texts in the bill and in ranges
    bool subdescr = false;     // some items get a sub-description
    bool rules = false;        // GAEB 90: contractual rules T0/T1/T9 before record 00
    bool no_prices = false;    // no unit prices (not in phase 84)
    bool index = false;        // an index in the OZ mask; a few items get one
    bool pad_blank = false;    // GAEB 90: numeric fields padded with blanks instead of zeros
    bool ragged = false;       // GAEB 90: trailing blanks of a record left out
    bool price_comma = false;  // GAEB 2000: [EP] and [GB] with a decimal comma
    std::string encoding;      // cp850; cp1252 or utf-8-sig; utf-8 or utf-8-sig; empty: the first
    Damage damage = Damage::None;
    std::string output;  // -o FILE, "-" for standard output
    bool quiet = false;  // -q: no summary line
};

// Options from the command line without the program name: FORMAT (90, 2000 or xml) and options
// in any order. nullopt with a German `error` when the arguments do not make a bill.
std::optional<Options> parse_arguments(const std::vector<std::string>& args, std::string& error);
// The same from one string of blank-separated arguments ("--items 10 --notes").
std::optional<Options> parse_arguments(Format format, const std::string& args, std::string& error);

std::string usage();

// "d83", "p84", "x81", after the format and the exchange phase (85 for --corrupt phase).
std::string extension(const Options& o);

struct Summary {
    int64_t items = 0;
    int64_t ranges = 0;       // ranges of all levels
    int64_t total_cents = 0;  // the bill's total as the file states it or the workbook sums it
    int64_t bytes = 0;
};

// Writes the bill to `out`. Throws std::runtime_error with a German message when writing fails.
Summary write_bill(const Options& o, std::FILE* out);
// The bill in memory.
std::string make_bill(const Options& o, Summary* summary = nullptr);

}  // namespace lvgen
