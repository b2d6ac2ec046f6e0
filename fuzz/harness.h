// SPDX-License-Identifier: MIT
// What every fuzz target shares: options drawn from the input's first byte, an in-memory
// workbook, and a private temporary folder for the files a reader opens by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "workbook/conversion.h"
#include "workbook/reading.h"

namespace fuzz {

struct Input {
    workbook::ConversionOptions options;
    bool answer = false;    // the answer to every yes/no question (GAEB 90 contractual rules)
    std::string_view body;  // the file's bytes
};
// Byte 0: bit N the Nth workbook option of app/options.h (0 OnlyShortText, 1 ExportNotesText,
// 2 LogFaultyLines, 3 RoundPrices, 4 SubtotalsSheet, 5 CalcColumns), then the answer (bit 6).
// The file follows.
Input split(const uint8_t* data, size_t size);

// The process's own temporary folder, made once.
const std::filesystem::path& temp_folder();
// Writes `bytes` to a file of that folder and returns its path.
std::filesystem::path write_input(std::string_view bytes, const char* name);

// The whole run of the console program into an in-memory workbook: detection, the GAEB 90 copy
// and the reader.
void run_controller(const Input& in);
// One reader alone, reporting to a collector and to the workbook layout of its format on a
// prepared session; `file` is what the reader opens.
void run_reader(const Input& in, workbook::GaebFormat format, const std::filesystem::path& file,
                void (*reader)(workbook::Reading&, std::string_view body));

}  // namespace fuzz
