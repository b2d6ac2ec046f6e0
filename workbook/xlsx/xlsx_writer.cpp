// SPDX-License-Identifier: MIT
// Placeholder: the writer lands separately.
#include "workbook/xlsx/xlsx_writer.h"

namespace workbook::xlsx {

void save(const ExcelSession&, const Workbook&, const std::filesystem::path& target) {
    throw WorkbookError("Speichern noch nicht verfügbar: " + target.string());
}

}  // namespace workbook::xlsx
