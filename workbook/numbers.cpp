// SPDX-License-Identifier: MIT
#include "workbook/numbers.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "workbook/errors.h"
#include "workbook/text.h"

namespace workbook {

std::optional<double> parse_decimal(std::string_view text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    size_t start_digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    }
    if (digits == 0 || i != text.size()) return std::nullopt;
    (void)start_digits;
    // from_chars rejects a leading '+' and a bare trailing '.': hand it a clean copy.
    std::string clean;
    clean.reserve(text.size() + 1);
    for (char ch : text)
        if (ch != '+') clean.push_back(ch);
    if (clean.back() == '.') clean.push_back('0');
    if (clean[0] == '.' || (clean[0] == '-' && clean.size() > 1 && clean[1] == '.'))
        clean.insert(clean[0] == '-' ? 1 : 0, 1, '0');
    double value = 0;
    auto [ptr, ec] = std::from_chars(clean.data(), clean.data() + clean.size(), value);
    if (ec != std::errc() || ptr != clean.data() + clean.size()) return std::nullopt;
    return value;
}

double require_decimal(std::string_view text, std::optional<std::string_view> shown) {
    if (const auto value = parse_decimal(text)) return *value;
    throw ConvertError(
        fmt::format("'{}' ist kein gültiger Gleitkommawert", utf8_prefix(shown.value_or(text), 100)));
}

std::optional<long long> parse_integer(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    text.remove_prefix(i);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    long long value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return negative ? -value : value;
}

std::string format_number(double value) {
    if (value == 0) return "0";
    return fmt::format("{}", value);
}

double excel_round(double value, int digits) {
    if (!std::isfinite(value)) return value;
    // The spreadsheet works on 15 significant digits: round the decimal text, not the binary value.
    std::string text = fmt::format("{:.14e}", std::fabs(value));  // d.dddddddddddddde±XX
    const size_t e_pos = text.find('e');
    const int exponent = std::atoi(text.c_str() + e_pos + 1);
    std::string mantissa;
    for (size_t i = 0; i < e_pos; ++i)
        if (text[i] != '.') mantissa.push_back(text[i]);  // 15 digits, value = 0.mantissa * 10^(exponent+1)
    // Number of mantissa digits that stay: those before the decimal point plus `digits`.
    const int keep = exponent + 1 + digits;
    if (keep < 0) return 0.0;
    if (keep >= static_cast<int>(mantissa.size())) {
        return value;
    }
    std::string kept = mantissa.substr(0, static_cast<size_t>(keep));
    const bool round_up = mantissa[static_cast<size_t>(keep)] >= '5';
    // Value of the kept digits as an integer, then scaled.
    std::string integer = kept.empty() ? "0" : kept;
    if (round_up) {
        int i = static_cast<int>(integer.size()) - 1;
        while (i >= 0 && integer[static_cast<size_t>(i)] == '9') integer[static_cast<size_t>(i--)] = '0';
        if (i < 0)
            integer.insert(0, 1, '1');
        else
            ++integer[static_cast<size_t>(i)];
        if (kept.empty()) integer = "1";
    }
    // result = integer * 10^(-digits); build "integer e-digits" and let from_chars round once.
    std::string repr = integer + "e" + std::to_string(-digits);
    double result = 0;
    std::from_chars(repr.data(), repr.data() + repr.size(), result);
    return value < 0 ? -result : result;
}

}  // namespace workbook
