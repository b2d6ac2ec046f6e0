// SPDX-License-Identifier: MIT
#include "workbook/numbers.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "workbook/errors.h"
#include "workbook/text.h"

namespace workbook {

namespace {

// 10^n as the nearest double (exact up to 10^22).
double power_of_ten(int n) {
    static constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return n < 23 ? kExact[n] : std::pow(10.0, n);
}

bool is_whole(double x) {
    return x < 0x1p53 && x == std::floor(x);
}

// Bits of a non-negative finite value that lie after the binary point.
int fraction_bits(double x) {
    if (x == 0) return 0;
    int exponent = 0;
    const double mantissa = std::frexp(x, &exponent);  // x = mantissa * 2^exponent, mantissa in [0.5, 1)
    auto bits = static_cast<uint64_t>(std::ldexp(mantissa, 53));
    int trailing = 0;
    while ((bits & 1) == 0) bits >>= 1, ++trailing;
    return std::max(0, 53 - exponent - trailing);
}

// A non-negative value cut to 15 significant digits, unless it is large, whole or has only a
// few binary fraction digits: the spreadsheet's way of seeing 2.675 * 100 as 267.5.
double to_15_digits(double x) {
    if (x == 0 || !std::isfinite(x) || x > 0x1p41 || is_whole(x) || fraction_bits(x) <= 11) return x;
    const int shift = 14 - static_cast<int>(std::floor(std::log10(x)));
    const double factor = power_of_ten(std::abs(shift));
    double y = shift < 0 ? x / factor : x * factor;
    if (!std::isfinite(y)) return x;
    y = std::round(y);
    y = shift < 0 ? y * factor : y / factor;
    return std::isfinite(y) ? y : x;
}

}  // namespace

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
    if (!std::isfinite(value) || value == 0) return value;
    if (digits == 0) return std::round(value);
    double x = std::fabs(value);
    if (digits > 0) {
        // A whole number keeps its value, and no more decimals are kept than the binary value holds.
        if (x >= 0x1p52 || is_whole(x)) return value;
        int exponent = 0;
        std::frexp(x, &exponent);
        digits = std::min(digits, 53 - exponent);
    }
    const double factor = power_of_ten(std::abs(digits));
    x = digits < 0 ? x / factor : x * factor;
    x = std::round(to_15_digits(x));
    x = digits < 0 ? x * factor : x / factor;
    if (!std::isfinite(x)) return value;
    return std::signbit(value) ? -x : x;
}

}  // namespace workbook
