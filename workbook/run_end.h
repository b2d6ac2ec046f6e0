// SPDX-License-Identifier: MIT
// The ways a conversion ends before its finishing pass: a sheet without rows left, sheets that
// cannot be created, the application shown and released.
#pragma once

#include <cstdint>
#include <exception>
#include <string_view>

#include "workbook/conversion.h"
#include "workbook/function_ref.h"

namespace workbook {

// The run ends because `sheet` is full: the message, the sheets there are tidied, Aborted.
void end_with_full_sheet(Conversion& c, std::string_view sheet);

// Shows the application (when `show`) and releases it. A connection that is gone already is no
// failure: the run ends either way.
void release_application(Conversion& c, bool show = true);

// Runs `create`, a step that creates sheets. When it fails, the failure is shown after `prefix`,
// the application shown and released, and the run ends as `how`. Returns whether it ran through.
bool create_sheets_or_end(Conversion& c, std::string_view prefix, RunEnd how, FunctionRef<void()> create);

}  // namespace workbook
