// SPDX-License-Identifier: MIT
#include "workbook/guarded.h"

#include <new>
#include <string>

#include "workbook/conversion.h"
#include "workbook/errors.h"

namespace workbook {

bool guarded(FunctionRef<void()> step, FunctionRef<void(const std::exception&)> failed) {
    try {
        step();
        return true;
    } catch (const std::bad_alloc&) {
        // No step can go on without memory: the run ends at once, wherever it stands.
        throw;
    } catch (const std::exception& e) {
        failed(e);
        return false;
    }
}

bool guarded(Frontend& ui, std::string_view prefix, FunctionRef<void()> step) {
    return guarded(step, [&](const std::exception& e) { ui.message(std::string(prefix) + step_report(e)); });
}

bool guarded(Conversion& c, std::string_view prefix, FunctionRef<void()> step) {
    return guarded(
        step, [&](const std::exception& e) { c.ui.message(std::string(prefix) + step_report(c.place, e)); });
}

}  // namespace workbook
