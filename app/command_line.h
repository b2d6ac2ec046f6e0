// SPDX-License-Identifier: MIT
// The console program's command line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "workbook/conversion.h"

namespace app {

// The console program's exit statuses. Several inputs exit with the highest of their own.
inline constexpr int kExitComplete = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitAborted = 3;
inline constexpr int kExitNotSaved = 4;
inline constexpr int kExitUnexpected = 5;  // only with several inputs: a conversion died

// The most conversions that -j lets run at once.
inline constexpr int kMaxJobs = 256;

struct CommandLine {
    workbook::ConversionOptions options;
    std::optional<bool> rules_answer;             // --regelungen=ja|nein
    std::filesystem::path input;                  // the first input; "-": standard input
    std::vector<std::filesystem::path> inputs;    // every input, the first one included
    std::optional<std::filesystem::path> output;  // -o, --ausgabe
    std::optional<std::filesystem::path> folder;  // --ausgabeordner
    std::optional<std::filesystem::path> report;  // --bericht; "-": standard output
    std::optional<int> jobs;                      // -j, --parallel
    bool recursive = false;                       // --rekursiv
    bool quiet = false;                           // --leise
    bool overwrite = false;                       // --ueberschreiben: -o may replace a regular file
    // --angebot TENDER PRICED.xlsx: the bid of phase 84 from the tender and its priced workbook,
    // the two inputs in this order.
    bool bid = false;
    bool incomplete = false;                  // --unvollstaendig: a bid with items lacking a price
    std::string bidder_name;                  // --bieter-name
    std::vector<std::string> bidder_address;  // --bieter-anschrift, one line each time it is given
    bool help = false;
    bool version = false;
    std::string error;  // a usage error, in German; empty when the line is fine

    // Several inputs, or folders to search: each input is converted on its own.
    bool batch() const { return !bid && (inputs.size() > 1 || recursive); }
};

CommandLine parse_command_line(const std::vector<std::string>& args);

std::string help_text();
std::string usage_line();

// The derived output: the input with its extension replaced by .xlsx; when that exists, the first
// free "Name (2).xlsx", "Name (3).xlsx", ... (workbook::free_name).
std::filesystem::path derived_output(const std::filesystem::path& input);
// The same in `folder` (--ausgabeordner) in place of the input's own folder.
std::filesystem::path derived_output(const std::filesystem::path& input, const std::filesystem::path& folder);

}  // namespace app
