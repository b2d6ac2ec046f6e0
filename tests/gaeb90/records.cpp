// SPDX-License-Identifier: MIT
#include "tests/gaeb90/records.h"

#include "workbook/excel_session.h"
#include "workbook/numbers.h"

namespace gaeb90test {

std::string rec(std::string_view type, std::initializer_list<std::pair<int, std::string_view>> fields,
                bool pad) {
    std::string line(type);
    for (const auto& [column, value] : fields) {
        const auto at = static_cast<size_t>(column - 1);
        if (line.size() < at + value.size()) line.resize(at + value.size(), ' ');
        line.replace(at, value.size(), value);
    }
    if (pad && line.size() < 80) line.resize(80, ' ');
    return line + "\r\n";
}

std::string opening(std::string_view phase, std::string_view mask) {
    return rec("00", {{11, phase}, {63, mask}});
}

std::string item(std::string_view oz, std::string_view kind, std::string_view quantity_integer,
                 std::string_view quantity_decimals, std::string_view unit) {
    return rec("21", {{3, oz}, {12, kind}, {24, quantity_integer}, {32, quantity_decimals}, {35, unit}});
}

std::string prices(std::string_view oz, std::string_view unit_integer, std::string_view unit_decimals,
                   std::string_view total_sign, std::string_view total_integer,
                   std::string_view total_decimals) {
    return rec("23", {{3, oz},
                      {12, unit_integer},
                      {21, unit_decimals},
                      {24, total_sign},
                      {25, total_integer},
                      {35, total_decimals}});
}

std::string short_text(std::string_view text) {
    return rec("25", {{3, text}});
}
std::string long_text(std::string_view text) {
    return rec("26", {{6, text}});
}

namespace {

// The model dump line of one cell split into kind, value and style; empty when the cell is empty.
std::vector<std::string> dump_fields(workbook::Workbook& book, std::string_view sheet,
                                     std::string_view address) {
    const std::string prefix = std::string(sheet) + "!" + std::string(address) + "\t";
    for (const std::string& line : testsupport::cell_lines(book.sheet(sheet))) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        std::vector<std::string> parts;
        size_t start = prefix.size();
        while (true) {
            const size_t tab = line.find('\t', start);
            parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        return parts;
    }
    return {};
}

}  // namespace

std::string Bill::cell(std::string_view sheet, std::string_view address) {
    const auto parts = dump_fields(book(), sheet, address);
    if (parts.size() < 2) return "";
    return parts[0] + " " + parts[1];
}

std::string Bill::style(std::string_view sheet, std::string_view address) {
    const auto parts = dump_fields(book(), sheet, address);
    return parts.size() < 3 ? "" : parts[2];
}

std::vector<std::string> Bill::row(std::string_view sheet, int32_t row) {
    std::vector<std::string> out;
    const std::string prefix = std::string(sheet) + "!";
    for (const std::string& line : testsupport::cell_lines(book().sheet(sheet))) {
        const size_t tab = line.find('\t');
        const std::string address = line.substr(prefix.size(), tab - prefix.size());
        const size_t digits = address.find_first_of("0123456789");
        if (std::stoi(address.substr(digits)) == row) out.push_back(line.substr(prefix.size()));
    }
    return out;
}

std::vector<std::string> Bill::column(std::string_view sheet, int32_t col, int32_t first_row) {
    const workbook::Sheet& s = book().sheet(sheet);
    std::vector<std::string> out;
    for (int32_t row = first_row; row <= s.last_row(); ++row) out.push_back(s.text(row, col));
    return out;
}

Bill convert(const std::string& input, workbook::ConversionOptions options, std::vector<bool> answers) {
    return convert_cut_off(input + rec("99"), options, std::move(answers));
}

Bill convert_cut_off(const std::string& input, workbook::ConversionOptions options,
                     std::vector<bool> answers) {
    const auto path = testsupport::fresh_dir() / "lv.d83";
    testsupport::write_file(path, input);
    return Bill{testsupport::convert_in_memory(path, options, std::move(answers))};
}

}  // namespace gaeb90test
