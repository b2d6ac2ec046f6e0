// SPDX-License-Identifier: MIT
// Saving the in-memory workbook as a real .xlsx file.
#pragma once

#include <cstdint>
#include <filesystem>

#include "workbook/excel_session.h"
#include "workbook/function_ref.h"
#include "workbook/output_file.h"

namespace workbook::xlsx {

// Keep: the save fails ("Eine Datei dieses Namens ..."); Replace: a regular file is replaced.
using workbook::Existing;

// Writes the active workbook of `excel` to `target` as an OutputFile: first to a uniquely named
// temporary file in the target's folder, then read back (a zip whose every part is complete) and
// only then renamed into place, so that a failure never leaves a half-written file and never
// touches an existing one. Every formula carries its computed result; the document properties of
// `book` go into the file, with fixed dates. A file that would pass 4 GiB is refused (the archive
// would need Zip64). Throws WorkbookError with one German message naming the file and the reason
// ("Kein Speicherplatz mehr auf dem Gerät"), or std::bad_alloc when memory runs out.
void save(const ExcelSession& excel, const Workbook& book, const std::filesystem::path& target,
          Existing existing = Existing::Keep);

// How far a save has come, as `done` of `total` (kSaveSteps): writing and packing the rows take
// the first 82 %, the read-back the rest. Called whenever the share grows by a step, last with
// done == total.
using SaveProgress = FunctionRef<void(int64_t done, int64_t total)>;
inline constexpr int64_t kSaveSteps = 1000;
void save(const ExcelSession& excel, const Workbook& book, const std::filesystem::path& target,
          Existing existing, SaveProgress progress);

}  // namespace workbook::xlsx
