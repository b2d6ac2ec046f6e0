// SPDX-License-Identifier: MIT
// Saving the in-memory workbook as a real .xlsx file.
#pragma once

#include <filesystem>

#include "workbook/excel_session.h"

namespace workbook::xlsx {

// Writes the active workbook of `excel` to `target`: first to a uniquely named temporary file in
// the target's folder, then renamed into place, so that a failure never leaves a half-written
// file and never destroys an existing one. Every formula carries its computed result.
// Throws WorkbookError with a German message on failure.
void save(const ExcelSession& excel, const Workbook& book, const std::filesystem::path& target);

}  // namespace workbook::xlsx
