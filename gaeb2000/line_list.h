// SPDX-License-Identifier: MIT
// The reader's text holders: ordered lists of lines that are searched from the top by substring
// and cut in blocks. A line is a view into text the reader keeps alive (the loaded file, or a
// memo's own assigned text); lines are appended and deleted, never changed in place.
//
// Two kinds behave differently where the reader relies on it: a string list fails when a line past
// its end is read; a memo gives an empty line past its end. Neither limits the length of a line:
// a long text of any length is kept whole.
//
// Cost: deleting a block moves the gap of a gap buffer to it, so blocks cut again and again at
// about the same place cost only their own lines; a search remembers, per search text, how many
// lines at the top are known not to hold it, and starts behind them next time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace gaeb2000 {

// A-Z ignoring case, other bytes exactly; npos when absent or when the needle is empty.
size_t find_key(std::string_view hay, std::string_view needle, size_t from = 0);
inline bool holds_key(std::string_view hay, std::string_view needle) {
    return find_key(hay, needle) != std::string_view::npos;
}

class LineList {
public:
    enum class Kind { StringList, Memo };
    explicit LineList(Kind kind = Kind::StringList) : m_kind(kind) {}
    LineList(const LineList&) = delete;
    LineList& operator=(const LineList&) = delete;

    Kind kind() const { return m_kind; }
    int64_t size() const { return static_cast<int64_t>(m_buf.size() - m_gap_len); }
    bool empty() const { return size() == 0; }

    // Line i as read back: a memo gives "" past the end; a string list throws EStringListError
    // for an index outside the list.
    std::string_view line(int64_t i) const;

    void append(std::string_view line);
    // Deletes lines b to e. Nothing when e < b. A string list throws EStringListError when the
    // block leaves the list; a memo deletes only the part inside it.
    void erase(int64_t b, int64_t e);
    void erase_line(int64_t i) { erase(i, i); }
    void clear();

    // Number of the first line at or after `from` that holds `needle` (A-Z ignoring case), or -1.
    int64_t find(std::string_view needle, int64_t from = 0) const;

    // Memo: the whole text, split into lines at each CR LF; a final CR LF gives no empty line.
    void assign(std::string text);
    // The whole text: the one last assigned, or the lines joined with CR LF after appends.
    std::string text() const;

    // Deletes every line for which pred(line) holds, keeping the order of the others.
    template <class Pred>
    void erase_if(Pred pred) {
        std::vector<std::string_view> kept;
        kept.reserve(static_cast<size_t>(size()));
        for (int64_t i = 0; i < size(); ++i)
            if (!pred(line(i))) kept.push_back(raw(static_cast<size_t>(i)));
        m_buf.swap(kept);
        m_gap_start = 0;
        m_gap_len = 0;
        m_assigned = false;
        m_searched.clear();
    }

    // All lines of `other` appended as they are.
    void append_all(const LineList& other);
    // Exchanges the lines (each holder keeps its kind).
    void swap(LineList& other) noexcept;

private:
    std::string_view raw(size_t i) const { return m_buf[i < m_gap_start ? i : i + m_gap_len]; }
    void check_index(int64_t i) const;
    void move_gap(size_t pos);
    void compact_if_sparse();

    struct Searched {
        std::string needle;
        size_t clean = 0;  // no line in [0, clean) holds the needle
    };

    Kind m_kind;
    std::vector<std::string_view> m_buf;  // the lines with a gap at m_gap_start
    size_t m_gap_start = 0;
    size_t m_gap_len = 0;
    std::unique_ptr<std::string> m_text;  // a memo's assigned text, which its lines view
    bool m_assigned = false;              // the lines are exactly m_text
    mutable std::vector<Searched> m_searched;
    mutable size_t m_next_slot = 0;
};

}  // namespace gaeb2000
