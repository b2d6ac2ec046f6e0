// SPDX-License-Identifier: MIT
#include "workbook/input_place.h"

#include <fmt/format.h>

#include <algorithm>

#include "workbook/errors.h"
#include "workbook/text.h"

namespace workbook {

void InputPlace::clear() {
    *this = InputPlace{};
}

LineColumn InputPlace::current() const {
    if (m_offset >= 0) return m_locator ? m_locator->locate(m_offset) : LineColumn{};
    return m_where;
}

std::string InputPlace::make(LineColumn where) const {
    std::string text;
    if (where.line > 0) {
        text = fmt::format("Zeile {}", where.line);
        if (where.column > 0) text += fmt::format(", Spalte {}", where.column);
    }
    if (m_in_item) {
        if (!text.empty()) text += ", ";
        text += m_oz.empty() ? std::string("Position ohne OZ") : "Position " + m_oz;
    }
    if (!text.empty()) text += ": ";
    return text;
}

std::string InputPlace::prefix() const {
    return make(current());
}

std::string InputPlace::prefix(const std::exception& e) const {
    if (const auto* own = dynamic_cast<const BremoraError*>(&e); own && own->line() > 0)
        return make({own->line(), own->column()});
    return prefix();
}

LineColumn InputPlace::line_column_at(int64_t offset) const {
    if (offset < 0 || !m_locator) return current();
    const LineColumn where = m_locator->locate(offset);
    return where.line > 0 ? where : current();
}

std::string InputPlace::prefix_at(int64_t offset) const {
    if (offset < 0 || !m_locator) return prefix();
    const LineColumn where = m_locator->locate(offset);
    return make(where.line > 0 ? where : current());
}

void LineIndex::build(std::string_view text) {
    m_starts.clear();
    m_starts.push_back(0);
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char ch = text[i];
        if (ch != '\r' && ch != '\n') continue;
        if (ch == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        m_starts.push_back(i + 1);
    }
    m_size = n;
}

LineColumn LineIndex::locate(int64_t offset, std::string_view text) const {
    if (offset < 0 || m_starts.empty() || static_cast<size_t>(offset) > m_size) return {};
    const auto at = static_cast<size_t>(offset);
    const auto next = std::upper_bound(m_starts.begin(), m_starts.end(), at);
    LineColumn where{next - m_starts.begin(), 0};
    const size_t start = *(next - 1);
    if (text.size() == m_size)
        where.column = static_cast<int64_t>(utf8_length(text.substr(start, at - start))) + 1;
    return where;
}

std::string step_report(const InputPlace& place, const std::exception& e) {
    return place.prefix(e) + step_report(e);
}

}  // namespace workbook
