// SPDX-License-Identifier: MIT
// The ways a reader ends a run before its finishing pass: a sheet without rows left, sheets that
// cannot be created, the application shown and released.
#pragma once

#include <cstdint>
#include <exception>
#include <string_view>

#include "workbook/conversion.h"
#include "workbook/function_ref.h"

namespace workbook {

// A sheet has no row left. Deliberately no std::exception: it passes the guarded steps, which
// would otherwise report every further row on its own, up to the reader's entry point.
struct SheetFull {
    std::string_view sheet;
};

// The run has ended inside a step (the program ends): unwinds to the reader's entry point. Like
// SheetFull no std::exception, so that no guarded step on the way reports it.
struct RunEnded {};

// The entry of a reader: runs `read`. A full sheet ends the run (end_with_full_sheet), RunEnded
// is where the run has already ended, and a std::exception that no step caught goes to
// `unexpected`, the reader's last line of defence.
void run_reader(Conversion& c, FunctionRef<void()> read, FunctionRef<void(const std::exception&)> unexpected);

// Throws SheetFull when `row` of `sheet` lies past the last row a sheet has.
void require_row(int32_t row, std::string_view sheet);

// The run ends because `sheet` is full: the message, the sheets there are tidied, Aborted.
void end_with_full_sheet(Conversion& c, std::string_view sheet);

// Shows the application (when `show`) and releases it. A connection that is gone already is no
// failure: the run ends either way.
void release_application(Conversion& c, bool show = true);

// Runs `create`, a step that creates sheets. When it fails, the failure is shown after `prefix`,
// the application shown and released, and the run ends as `how`. Returns whether it ran through.
bool create_sheets_or_end(Conversion& c, std::string_view prefix, RunEnd how, FunctionRef<void()> create);

}  // namespace workbook
