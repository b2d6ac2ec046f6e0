// SPDX-License-Identifier: MIT
// Reads a finished .xlsx back before it replaces anything: the zip directory, every part inflated
// with its CRC and size checked, every XML part well-formed to its last closing tag, and the cells
// of each worksheet counted.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "workbook/function_ref.h"

namespace workbook::xlsx {

struct ZipExpectation {
    // Parts that must be present, with the number of <c> elements each must hold (-1: any).
    std::map<std::string, int64_t> parts;
};

struct ZipCheck {
    bool ok = false;
    int read_error = 0;  // errno when the file itself could not be read
    std::string fault;   // what is wrong, for a developer: "xl/worksheets/sheet1.xml: CRC"
};

// Checks `file` against `expected`; `fault` names the first problem found.
ZipCheck check_zip(const std::filesystem::path& file, const ZipExpectation& expected);
// The same, telling `progress` how many bytes of the file's parts it has read, of how many.
using ZipProgress = FunctionRef<void(uint64_t done, uint64_t total)>;
ZipCheck check_zip(const std::filesystem::path& file, const ZipExpectation& expected, ZipProgress progress);

}  // namespace workbook::xlsx
