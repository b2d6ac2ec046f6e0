// SPDX-License-Identifier: MIT
#include "gaeb2000/line_list.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "workbook/errors.h"
#include "workbook/text.h"

namespace gaeb2000 {
namespace {

constexpr size_t kSearchSlots = 24;

unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

bool is_ascii_letter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

[[noreturn]] void index_error(int64_t i) {
    throw workbook::BremoraError("EStringListError",
                                 fmt::format("Listenindex überschreitet das Maximum ({})", i));
}

}  // namespace

size_t find_key(std::string_view hay, std::string_view needle, size_t from) {
    if (needle.empty() || from > hay.size() || needle.size() > hay.size() - from)
        return std::string_view::npos;
    const auto first = static_cast<unsigned char>(needle[0]);
    if (is_ascii_letter(first)) return workbook::find_ci(hay, needle, from);
    // Every key and block marker starts with "[", "#" or "{": let memchr find the candidates.
    const char* const base = hay.data();
    const char* p = base + from;
    const char* const last = base + (hay.size() - needle.size()) + 1;
    while (p < last) {
        p = static_cast<const char*>(std::memchr(p, first, static_cast<size_t>(last - p)));
        if (p == nullptr) return std::string_view::npos;
        size_t k = 1;
        while (k < needle.size() &&
               lower(static_cast<unsigned char>(p[k])) == lower(static_cast<unsigned char>(needle[k])))
            ++k;
        if (k == needle.size()) return static_cast<size_t>(p - base);
        ++p;
    }
    return std::string_view::npos;
}

std::string_view LineList::line(int64_t i) const {
    if (m_kind == Kind::Memo) {
        if (i < 0 || i >= size()) return {};
        return raw(static_cast<size_t>(i));
    }
    check_index(i);
    return raw(static_cast<size_t>(i));
}

void LineList::check_index(int64_t i) const {
    if (i < 0 || i >= size()) index_error(i);
}

void LineList::append(std::string_view line) {
    m_assigned = false;
    if (m_gap_len > 0 && m_gap_start == m_buf.size() - m_gap_len) {
        m_buf[m_gap_start++] = line;
        --m_gap_len;
    } else {
        m_buf.push_back(line);
    }
}

void LineList::move_gap(size_t pos) {
    if (pos < m_gap_start) {
        std::move_backward(m_buf.begin() + static_cast<ptrdiff_t>(pos),
                           m_buf.begin() + static_cast<ptrdiff_t>(m_gap_start),
                           m_buf.begin() + static_cast<ptrdiff_t>(m_gap_start + m_gap_len));
    } else if (pos > m_gap_start) {
        std::move(m_buf.begin() + static_cast<ptrdiff_t>(m_gap_start + m_gap_len),
                  m_buf.begin() + static_cast<ptrdiff_t>(pos + m_gap_len),
                  m_buf.begin() + static_cast<ptrdiff_t>(m_gap_start));
    }
    m_gap_start = pos;
}

void LineList::compact_if_sparse() {
    // Give the space back once the gap outgrows the lines; the cost is paid by the deletions.
    const size_t live = m_buf.size() - m_gap_len;
    if (m_gap_len < 4096 || m_gap_len < 2 * live) return;
    move_gap(live);
    m_buf.resize(live);
    m_gap_len = 0;
}

void LineList::erase(int64_t b, int64_t e) {
    if (e < b) return;
    if (m_kind == Kind::Memo) {
        b = std::max<int64_t>(b, 0);
        e = std::min<int64_t>(e, size() - 1);
        if (e < b) return;
    } else {
        check_index(b);
        check_index(e);
    }
    m_assigned = false;
    const auto first = static_cast<size_t>(b);
    const auto count = static_cast<size_t>(e - b + 1);
    move_gap(first);
    m_gap_len += count;
    for (Searched& s : m_searched)
        if (s.clean > first) s.clean -= std::min(s.clean, first + count) - first;
    compact_if_sparse();
}

void LineList::clear() {
    if (m_buf.capacity() > 65536)
        std::vector<std::string_view>().swap(m_buf);
    else
        m_buf.clear();
    m_gap_start = 0;
    m_gap_len = 0;
    m_text.reset();
    m_assigned = false;
    m_searched.clear();
    m_next_slot = 0;
}

int64_t LineList::find(std::string_view needle, int64_t from) const {
    if (needle.empty()) return -1;
    const size_t n = static_cast<size_t>(size());
    const size_t begin = from < 0 ? 0 : static_cast<size_t>(from);
    Searched* known = nullptr;
    for (Searched& s : m_searched)
        if (s.needle == needle) {
            known = &s;
            break;
        }
    const size_t clean = known ? known->clean : 0;
    size_t i = std::max(begin, clean);
    for (; i < n; ++i)
        if (holds_key(line(static_cast<int64_t>(i)), needle)) break;
    // The scan proves [0, i) free of the needle only when it joined the known free part.
    if (begin <= clean) {
        if (known == nullptr) {
            if (m_searched.size() < kSearchSlots) {
                known = &m_searched.emplace_back();
            } else {
                known = &m_searched[m_next_slot];
                m_next_slot = (m_next_slot + 1) % kSearchSlots;
            }
            known->needle = std::string(needle);
        }
        known->clean = std::min(i, n);
    }
    return i < n ? static_cast<int64_t>(i) : -1;
}

void LineList::assign(std::string text) {
    clear();
    m_text = std::make_unique<std::string>(std::move(text));
    const std::string_view all = *m_text;
    size_t start = 0;
    while (start < all.size()) {
        const size_t end = all.find("\r\n", start);
        if (end == std::string_view::npos) {
            m_buf.push_back(all.substr(start));
            break;
        }
        m_buf.push_back(all.substr(start, end - start));
        start = end + 2;
    }
    m_assigned = true;
}

std::string LineList::text() const {
    if (m_assigned) return *m_text;
    std::string joined;
    const int64_t n = size();
    for (int64_t i = 0; i < n; ++i) {
        if (i > 0) joined += "\r\n";
        joined += raw(static_cast<size_t>(i));
    }
    return joined;
}

void LineList::append_all(const LineList& other) {
    const size_t n = static_cast<size_t>(other.size());
    m_buf.reserve(m_buf.size() + n);
    for (size_t i = 0; i < n; ++i) append(other.raw(i));
}

void LineList::swap(LineList& other) noexcept {
    m_buf.swap(other.m_buf);
    std::swap(m_gap_start, other.m_gap_start);
    std::swap(m_gap_len, other.m_gap_len);
    m_text.swap(other.m_text);
    std::swap(m_assigned, other.m_assigned);
    m_searched.swap(other.m_searched);
    std::swap(m_next_slot, other.m_next_slot);
}

}  // namespace gaeb2000
