// SPDX-License-Identifier: MIT
// Saving the in-memory workbook as a real .xlsx file.
#pragma once

#include <filesystem>

#include "workbook/excel_session.h"

namespace workbook::xlsx {

// What becomes of a file that already has the target's name.
enum class Existing {
    Keep,     // the save fails ("Eine Datei dieses Namens ...")
    Replace,  // a regular file is replaced; anything else is never replaced
};

// Writes the active workbook of `excel` to `target`: first to a uniquely named temporary file in
// the target's folder (the writer's own temporary data goes there too), then read back (a zip
// whose every part is complete) and only then renamed into place, so that a failure never leaves
// a half-written file and never touches an existing one. Every formula carries its computed
// result. Throws WorkbookError with one German message naming the file and the reason ("Kein
// Speicherplatz mehr auf dem Gerät"), or std::bad_alloc when memory runs out.
void save(const ExcelSession& excel, const Workbook& book, const std::filesystem::path& target,
          Existing existing = Existing::Keep);

}  // namespace workbook::xlsx
