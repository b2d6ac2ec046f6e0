// SPDX-License-Identifier: MIT
#include "bill/bill.h"

#include <algorithm>
#include <cstdio>

namespace bill {

std::vector<Breakdown> breakdown_from_mask(std::string_view mask) {
    // Digits 1 to 9 name the range level a mask character belongs to, P the item, I the index.
    int ranges[10] = {};
    int item = 0, index = 0;
    for (char ch : mask) {
        if (ch >= '1' && ch <= '9')
            ++ranges[ch - '0'];
        else if (ch == 'P' || ch == 'p')
            ++item;
        else if (ch == 'I' || ch == 'i')
            ++index;
    }
    std::vector<Breakdown> out;
    if (item == 0) return out;
    for (int level = 1; level <= 9; ++level)
        if (ranges[level] > 0) out.push_back({BreakdownType::Range, ranges[level], true, {}, {}});
    out.push_back({BreakdownType::Item, item, true, {}, {}});
    if (index > 0) out.push_back({BreakdownType::Index, index, false, {}, "left"});
    return out;
}

int range_levels(const std::vector<Breakdown>& breakdown) {
    return static_cast<int>(std::count_if(breakdown.begin(), breakdown.end(),
                                          [](const Breakdown& b) { return b.type == BreakdownType::Range; }));
}

namespace {

bool all_digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int number(std::string_view s) {
    int n = 0;
    for (char c : s) n = n * 10 + (c - '0');
    return n;
}

int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

std::string iso_date(std::string_view text) {
    int year = 0, month = 0, day = 0;
    if (text.size() == 10 && text[4] == '-' && text[7] == '-' && all_digits(text.substr(0, 4)) &&
        all_digits(text.substr(5, 2)) && all_digits(text.substr(8, 2))) {
        year = number(text.substr(0, 4));
        month = number(text.substr(5, 2));
        day = number(text.substr(8, 2));
    } else if ((text.size() == 10 || text.size() == 8) && text[2] == '.' && text[5] == '.' &&
               all_digits(text.substr(0, 2)) && all_digits(text.substr(3, 2)) && all_digits(text.substr(6))) {
        day = number(text.substr(0, 2));
        month = number(text.substr(3, 2));
        year = number(text.substr(6));
        // GAEB 90 writes the year with two digits.
        if (text.size() == 8) year += year >= 80 ? 1900 : 2000;
    } else {
        return {};
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) return {};
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d", year, month, day);
    return out;
}

std::vector<std::string_view> oz_groups(std::string_view oz) {
    std::vector<std::string_view> groups;
    size_t start = 0;
    while (start <= oz.size()) {
        const size_t dot = oz.find('.', start);
        if (dot == std::string_view::npos) {
            groups.push_back(oz.substr(start));
            break;
        }
        groups.push_back(oz.substr(start, dot - start));
        start = dot + 1;
    }
    return groups;
}

OzParts oz_parts(std::string_view oz, int range_levels) {
    const std::vector<std::string_view> groups = oz_groups(oz);
    OzParts parts;
    const size_t at = range_levels < 0 ? 0 : static_cast<size_t>(range_levels);
    if (at < groups.size()) parts.rno_part = std::string(groups[at]);
    if (at + 1 < groups.size()) parts.rno_index = std::string(groups[at + 1]);
    return parts;
}

Range& Builder::enter_range(Range range) {
    range.parent = m_current;
    range.children.clear();
    const auto index = static_cast<uint32_t>(m_bill.m_ranges.size());
    m_bill.m_ranges.push_back(std::move(range));
    m_bill.m_ranges[m_current].children.push_back({Entry::Kind::Range, index});
    m_current = index;
    ++m_depth;
    return m_bill.m_ranges.back();
}

void Builder::leave_range() {
    if (m_depth == 0) return;
    m_current = m_bill.m_ranges[m_current].parent;
    --m_depth;
}

Item& Builder::add_item(Item item) {
    if (item.rno_part.empty()) {
        OzParts parts = oz_parts(item.oz, range_levels(m_bill.header.breakdown));
        item.rno_part = std::move(parts.rno_part);
        if (item.rno_index.empty()) item.rno_index = std::move(parts.rno_index);
    }
    const auto index = static_cast<uint32_t>(m_bill.m_items.size());
    m_bill.m_items.push_back(std::move(item));
    m_bill.m_ranges[m_current].children.push_back({Entry::Kind::Item, index});
    return m_bill.m_items.back();
}

Item& Builder::place_item(Item item) {
    const std::vector<std::string_view> groups = oz_groups(item.oz);
    const size_t levels = static_cast<size_t>(std::max(range_levels(m_bill.header.breakdown), 0));
    const size_t ranges = std::min(levels, groups.size() - 1);

    std::vector<uint32_t> open;  // the ranges from the bill down to the current one
    for (uint32_t r = m_current; r != 0; r = m_bill.m_ranges[r].parent) open.push_back(r);
    std::reverse(open.begin(), open.end());
    size_t same = 0;
    while (same < open.size() && same < ranges && m_bill.m_ranges[open[same]].rno_part == groups[same])
        ++same;
    for (size_t n = open.size(); n > same; --n) leave_range();
    for (size_t k = same; k < ranges; ++k) {
        Range range;
        range.rno_part = std::string(groups[k]);
        range.level = static_cast<int>(k) + 1;
        enter_range(std::move(range));
    }

    item.rno_part = std::string(groups[ranges]);
    item.rno_index = ranges + 1 < groups.size() ? std::string(groups[ranges + 1]) : std::string();
    return add_item(std::move(item));
}

PerformanceDescription& Builder::add_performance(PerformanceDescription perf) {
    const auto index = static_cast<uint32_t>(m_bill.m_performances.size());
    m_bill.m_performances.push_back(std::move(perf));
    m_bill.m_ranges[m_current].children.push_back({Entry::Kind::Performance, index});
    return m_bill.m_performances.back();
}

}  // namespace bill
