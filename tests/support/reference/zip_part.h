// SPDX-License-Identifier: MIT
// One part of a finished zip archive read, or written anew in place: the parts before it keep
// their bytes, those after it move, and the directory follows. For the few parts of a workbook
// that libxlsxwriter cannot word as we want them (tests only: the reference writer).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "workbook/function_ref.h"

namespace testsupport {

struct ZipEdit {
    bool ok = false;
    int error = 0;      // errno when the file could not be read or written
    std::string fault;  // what is wrong with the archive, for a developer: "docProps/app.xml fehlt"
};

// The inflated bytes of the part `name`; nullopt, with `fault` or `error` set in `result` when
// given, when the archive or the part cannot be read.
std::optional<std::string> read_zip_part(const std::filesystem::path& file, std::string_view name,
                                         ZipEdit* result = nullptr);

// Replaces the part `name` of `file` with what `change` makes of its bytes, deflated. The archive
// is changed in place: the parts written after it (libxlsxwriter writes the document properties
// last) move by the difference, then the directory is written anew and the file cut to its new
// length. Needs an archive as our writer makes it: one disk, no zip64, no data descriptors.
ZipEdit rewrite_zip_part(const std::filesystem::path& file, std::string_view name,
                         workbook::FunctionRef<std::string(std::string_view)> change);

}  // namespace testsupport
