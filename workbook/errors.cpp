// SPDX-License-Identifier: MIT
#include "workbook/errors.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <typeinfo>

namespace workbook {

std::string error_class_name(const std::exception& e) {
    if (const auto* own = dynamic_cast<const BremoraError*>(&e)) return own->class_name();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return "EOutOfMemory";
    if (dynamic_cast<const std::out_of_range*>(&e)) return "ERangeError";
    if (dynamic_cast<const std::invalid_argument*>(&e)) return "EConvertError";
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(typeid(e).name());
}

std::string step_report(const std::exception& e) {
    return error_class_name(e) + " : " + e.what();
}

}  // namespace workbook
