// SPDX-License-Identifier: MIT
// libxlsxwriter as the reference that our own writer of the .xlsx package is compared with: the
// same model written by the library, part for part what our writer must make of it. For the
// tests only; the programs never link the library.
#pragma once

#include <filesystem>

#include "workbook/excel_session.h"

namespace testsupport {

// Writes the active workbook of `excel` straight to `target` through libxlsxwriter, with every
// formula's result, the document properties of `book` and fixed dates. Throws std::runtime_error
// when the library fails.
void save_with_libxlsxwriter(const workbook::ExcelSession& excel, const workbook::Workbook& book,
                             const std::filesystem::path& target);

}  // namespace testsupport
