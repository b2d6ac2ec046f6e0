// SPDX-License-Identifier: MIT
// Guarded steps: a failure inside a step is caught at the step's boundary and shown with the
// step's own text; the step's remaining actions are skipped and the caller goes on as its rules
// say. Every reader and the finishing pass run their steps through these functions.
#pragma once

#include <exception>
#include <string_view>

#include "workbook/frontend.h"
#include "workbook/function_ref.h"

namespace workbook {

// Runs `step`. A std::exception that leaves it is caught here, the one place where a failed step
// is caught, and handed to `failed`. Returns whether the step ran to its end. What is no
// std::exception (bill::Stop of a sink that has ended the run) passes on to the caller, and so does
// std::bad_alloc: running out of memory ends the run at once instead of failing every step after.
bool guarded(FunctionRef<void()> step, FunctionRef<void(const std::exception&)> failed);

// The usual report of a failed step: `prefix` + class + " : " + message, in a message box.
bool guarded(Frontend& ui, std::string_view prefix, FunctionRef<void()> step);

}  // namespace workbook
