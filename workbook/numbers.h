// SPDX-License-Identifier: MIT
// Numbers read from GAEB files. GAEB writes the decimal point whatever the user's locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace workbook {

// Strict decimal: optional sign, digits, optional "." and digits (at least one digit in all).
// No blanks, no exponent, no thousands separators; nullopt on anything else.
std::optional<double> parse_decimal(std::string_view text);

// The number of `text` by parse_decimal. Throws ConvertError "'...' ist kein gültiger
// Gleitkommawert" naming the first 100 characters of `shown`, or of `text` when not given.
double require_decimal(std::string_view text, std::optional<std::string_view> shown = std::nullopt);

// Whole number with optional sign and leading blanks (not trailing): the record-type rule.
std::optional<long long> parse_integer(std::string_view text);

// Shortest text that reads back as the same double ("12.5", "3", "-0.25").
std::string format_number(double value);

// The spreadsheet's ROUND: decimal, half away from zero. The value is scaled by 10^digits (at most
// as many decimals as its binary form holds), the product seen with 15 significant digits when it
// is below 2^41 and has more than 11 binary fraction digits, rounded and scaled back: 1.005 -> 1.01,
// 2.675 -> 2.68, 257187537035.1647 -> 257187537035.16.
double excel_round(double value, int digits);

}  // namespace workbook
