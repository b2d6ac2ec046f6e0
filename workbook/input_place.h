// SPDX-License-Identifier: MIT
// Where a reader stands in its input, for the messages of failed steps: "Zeile 1234, Spalte 17,
// Position 01.02.0010: " in front of the report. A reader updates it as it reads, at the cost of a
// few stores; the line and column of a byte offset are worked out only when a message needs them.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace workbook {

// Line and column in the input, 1-based; 0 where unknown (a reader that counts no columns).
struct LineColumn {
    int64_t line = 0;
    int64_t column = 0;
};

class InputPlace {
public:
    // Turns a byte offset into the reader's text into line and column; {0, 0} when it cannot.
    // Called only while a message is made, so it may take its time the first time; never throws.
    class Locator {
    public:
        virtual ~Locator() = default;
        virtual LineColumn locate(int64_t offset) noexcept = 0;
    };

    // The locator of the offsets given to at_offset; nullptr for none. It must outlive its use:
    // the reader that sets it clears the place before it goes.
    void set_locator(Locator* locator) { m_locator = locator; }

    // The reader stands at a line (and column) it counts itself: a GAEB 90 record.
    void at_line(int64_t line, int64_t column = 0) {
        m_where = {line, column};
        m_offset = -1;
    }
    // The reader stands at a byte offset of its text, located when a message needs it; a
    // negative offset is an unknown place.
    void at_offset(int64_t offset) {
        m_where = {};
        m_offset = offset;
    }
    // Messages name the item being converted, as column A shows its OZ ("" for an item without).
    void enter_item(std::string_view oz) {
        m_oz.assign(oz);
        m_in_item = true;
    }
    void leave_item() { m_in_item = false; }
    // Reading has ended: no place at all, and no locator.
    void clear();

    // Line and column where the reader stands ({0, 0} when unknown), and the item it is in.
    LineColumn line_column() const { return current(); }
    // The same at this offset of the reader's text, where it can be located; else as above.
    LineColumn line_column_at(int64_t offset) const;
    bool in_item() const { return m_in_item; }
    const std::string& oz() const { return m_oz; }

    // "Zeile 12, Spalte 7, Position 01.0010: ", each part where known; "" when nothing is.
    std::string prefix() const;
    // The same with the line and column that the failure knows of itself (a parse error), where
    // it knows them, in place of the reader's.
    std::string prefix(const std::exception& e) const;
    // The same with this offset in place of the reader's (the value at fault inside an item).
    std::string prefix_at(int64_t offset) const;

private:
    std::string make(LineColumn where) const;
    LineColumn current() const;

    Locator* m_locator = nullptr;
    LineColumn m_where;
    int64_t m_offset = -1;
    bool m_in_item = false;
    std::string m_oz;
};

// The starts of the lines of a text, for a locator: a line ends at CR LF, LF or CR.
class LineIndex {
public:
    void build(std::string_view text);
    bool built() const { return !m_starts.empty(); }
    void clear() { m_starts.clear(); }
    // The line of a byte offset into the text it was built from, and, when `text` is that text
    // (empty: no columns), the column counted in characters; {0, 0} for an offset outside it.
    LineColumn locate(int64_t offset, std::string_view text = {}) const;

private:
    std::vector<size_t> m_starts;
    size_t m_size = 0;  // of the text
};

// The report of a failed step while reading: the place, then class + " : " + message.
std::string step_report(const InputPlace& place, const std::exception& e);

}  // namespace workbook
