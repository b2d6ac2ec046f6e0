// SPDX-License-Identifier: MIT
// Our own writer of the .xlsx package: every part written as text straight from the model
// (numbers in their shortest exact form, texts escaped), the worksheets streamed in chunks that a
// second thread deflates and writes while the rows are produced. It writes what libxlsxwriter
// writes for the same model, part by part, which the comparison test holds it to.
#pragma once

#include <cstdint>
#include <string>

#include "workbook/excel_session.h"
#include "workbook/function_ref.h"
#include "workbook/xlsx/zip_check.h"

namespace workbook::xlsx {

// A sheet name the file format refuses (too long, a character it forbids, an apostrophe at
// either end, or used twice).
struct InvalidSheetName {
    std::string name;
};

// Rows written so far, of all rows of all sheets.
using RowProgress = FunctionRef<void(int64_t done, int64_t total)>;

// Writes the active workbook as an archive on `fd` (a new, empty file) and returns the parts the
// finished file must hold, each worksheet with its number of cells. Throws std::system_error with
// the errno of a failed write, ZipTooLarge, InvalidSheetName, WorkbookError for a print range
// that does not parse, or std::bad_alloc.
ZipExpectation write_package(int fd, const ExcelSession& excel, const Workbook& book, RowProgress rows);

// The theme part, the same in every workbook.
extern const char* const kThemeXml;

}  // namespace workbook::xlsx
