// SPDX-License-Identifier: MIT
#include "workbook/run_end.h"

#include <fmt/format.h>

#include "workbook/errors.h"
#include "workbook/finish.h"
#include "workbook/guarded.h"

namespace workbook {

void end_with_full_sheet(Conversion& c, std::string_view sheet) {
    c.ui.error_dialog(
        fmt::format("Das Tabellenblatt \"{}\" ist voll ({} Zeilen).\nDie Konvertierung wird abgebrochen.",
                    sheet, kMaxRow));
    FormatNachFehler(c);
    c.end_program(RunEnd::Aborted);
}

void release_application(Conversion& c, bool show) {
    guarded(
        [&] {
            if (show) c.excel.set_visible(true);
            c.excel.release();
        },
        [](const std::exception&) {});
}

bool create_sheets_or_end(Conversion& c, std::string_view prefix, RunEnd how, FunctionRef<void()> create) {
    return guarded(create, [&](const std::exception& e) {
        c.ui.message(std::string(prefix) + step_report(e));
        release_application(c);
        c.end_program(how);
    });
}

}  // namespace workbook
