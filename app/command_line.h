// SPDX-License-Identifier: MIT
// The console program's command line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "workbook/conversion.h"

namespace app {

struct CommandLine {
    workbook::ConversionOptions options;
    std::optional<bool> rules_answer;             // --regelungen=ja|nein
    std::filesystem::path input;                  // "-": standard input
    std::optional<std::filesystem::path> output;  // -o, --ausgabe
    bool overwrite = false;                       // --ueberschreiben: -o may replace a regular file
    bool help = false;
    bool version = false;
    std::string error;  // a usage error, in German; empty when the line is fine
};

CommandLine parse_command_line(const std::vector<std::string>& args);

std::string help_text();
std::string usage_line();

// The derived output: the input with its extension replaced by .xlsx; when that exists, the first
// free "Name (2).xlsx", "Name (3).xlsx", ...
std::filesystem::path derived_output(const std::filesystem::path& input);
std::filesystem::path free_name(const std::filesystem::path& wanted);

}  // namespace app
