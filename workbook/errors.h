// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

namespace workbook {

// Every failure that a guarded step reports carries a class name and a message, shown to the
// user as class + " : " + message.
class BremoraError : public std::runtime_error {
public:
    BremoraError(std::string class_name, const std::string& message)
        : std::runtime_error(message), m_class_name(std::move(class_name)) {}
    const std::string& class_name() const noexcept { return m_class_name; }

    // Where in the input the failure lies, when the code that throws knows it exactly (a parse
    // error): line and column, 1-based; 0 when unknown.
    void at(int64_t line, int64_t column) {
        m_line = line;
        m_column = column;
    }
    int64_t line() const noexcept { return m_line; }
    int64_t column() const noexcept { return m_column; }

private:
    std::string m_class_name;
    int64_t m_line = 0;
    int64_t m_column = 0;
};

// A failure of the spreadsheet layer: missing sheet, call without connection, bad address.
class WorkbookError : public BremoraError {
public:
    explicit WorkbookError(const std::string& message) : BremoraError("EWorkbookError", message) {}
};

// A value that does not convert (number, date, mask digit).
class ConvertError : public BremoraError {
public:
    explicit ConvertError(const std::string& message) : BremoraError("EConvertError", message) {}
};

// Class name of any exception: ours carry their own, the standard ones get a readable name.
std::string error_class_name(const std::exception& e);

// class + " : " + message, the tail of every step report.
std::string step_report(const std::exception& e);

// What a failed file operation's errno means, in plain German: "Kein Speicherplatz mehr auf dem
// Gerät", "Keine Schreibberechtigung", ...
std::string errno_text(int error);

}  // namespace workbook
