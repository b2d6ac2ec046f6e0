// SPDX-License-Identifier: MIT
// Bill ranges: the top-level ranges of StringList1 and the inner ranges of one of them.
#include <algorithm>

#include "gaeb2000/reader.h"
#include "gaeb2000/text_ops.h"
#include "workbook/errors.h"
#include "workbook/guarded.h"
#include "workbook/text.h"

namespace gaeb2000 {

namespace {
constexpr std::string_view kBeginRange = "#begin[LVBereich]";
constexpr std::string_view kEndRange = "#end[LVBereich]";
constexpr std::string_view kBeginItem = "#begin[Position]";

// The level of an inner range: the groups of its number under the mask ("01.02." is level 2),
// at least 2; 2 without a mask.
int inner_level(std::string_view oz, bool masked) {
    int groups = 0;
    if (masked)
        for (std::string_view g : bill::oz_groups(oz))
            if (!g.empty()) ++groups;
    return std::max(groups, 2);
}

}  // namespace

void Reader::leave_inner_ranges(int level) {
    while (!m_st.open_levels.empty() && m_st.open_levels.back() >= level) {
        m_st.open_levels.pop_back();
        m_r.sink.leave_range({});
    }
}

// An inner range with number and label: its heading, and its notes.
void Reader::enter_inner_range() {
    bill::Range range;
    range.oz = m_st.range_oz;
    range.label = m_st.range_label;
    range.label_written = range.label;
    range.level = inner_level(range.oz, !m_st.oz_mask.empty());
    const std::vector<std::string_view> groups = bill::oz_groups(range.oz);
    for (auto g = groups.rbegin(); g != groups.rend(); ++g)
        if (!g->empty()) {
            range.rno_part = std::string(*g);
            break;
        }
    leave_inner_ranges(range.level);
    m_st.open_levels.push_back(range.level);
    m_r.sink.enter_range(range);
    range_notes();
}

void Reader::range_notes() {
    m_st.range_heading = "LV-Bereich " + m_st.range_oz + ", " + m_st.range_label + "\r\n";
    Hinweistext();
}

void Reader::LVBereich() {
    m_st.StringList2.clear();
    const auto ranges = [&] {
        while (!m_st.end_of_ranges) {
            m_st.range_oz.clear();
            m_st.range_label.clear();
            const int64_t b = m_st.StringList1.empty() ? -1 : FindeBereich(kBeginRange);

            // The matching end: begins and ends counted from the line after b (one line may be both).
            int64_t e = -1;
            int64_t begins = 1, ends = 0;
            if (b != -1) {
                for (int64_t i = b + 1; i < m_st.StringList1.size(); ++i) {
                    const std::string_view l = m_st.StringList1.line(i);
                    if (holds_key(l, kBeginRange)) ++begins;
                    if (holds_key(l, kEndRange)) ++ends;
                    if (begins == ends) {
                        e = i;
                        break;
                    }
                }
            }
            if (b == -1 || e == -1) {
                // No range left, or one whose end cannot be matched: what remains of the file,
                // that range included, is reported as items outside any range, after all ranges.
                m_st.end_of_ranges = true;
                m_st.StringList2.clear();
                m_st.StringList4.clear();
                if (!m_st.StringList1.empty()) {
                    m_st.StringList4.swap(m_st.StringList1);
                    Positionen();
                }
                m_st.StringList4.clear();
                break;
            }

            at(m_st.StringList1.line(b));
            m_r.place.leave_item();
            MoveBereich(m_st.StringList1, b, e, m_st.StringList2);
            m_st.StringList2.erase_line(0);
            m_st.StringList2.erase_line(m_st.StringList2.size() - 1);

            if (const int64_t f = FindeKeyStringList2("[OZ]"); f != -1) {
                m_st.range_oz =
                    std::string(workbook::trim_ctl(key_value(m_st.StringList2.line(f), "[OZ]", 20)));
                m_st.StringList2.erase_line(f);
            }

            std::string_view key = "[Bez]";
            int64_t first = FindeBereichStringList2(key);
            if (first == -1) {
                key = "[BezTX]";
                first = FindeBereichStringList2(key);
            }
            if (first != -1) {
                // The designation may go on over further lines, up to the one that brings "[end]".
                int64_t last = first;
                m_st.range_label = key_text(m_st.StringList2, first, key, 0, &last);
                m_st.StringList2.erase(first, last);
            }

            // A range shows its heading when it has a number and a label.
            const bool headed = !m_st.range_oz.empty() && !m_st.range_label.empty();
            if (headed) {
                m_st.range_label = cell_text(workbook::trim_ctl(m_st.range_label));
                m_st.range_oz = field(FormatBereich(m_st.range_oz, m_st.oz_mask), 20);
            }
            bill::Range range;
            range.oz = m_st.range_oz;
            range.label = m_st.range_label;
            range.label_written = range.label;
            range.rno_part = m_st.range_oz;
            while (!range.rno_part.empty() && range.rno_part.back() == '.') range.rno_part.pop_back();
            range.level = 1;
            range.has_ranges = begins >= 2;
            m_r.sink.enter_range(range);
            m_st.top_open = true;
            if (headed) range_notes();

            if (begins < 2) {
                m_r.sink.items_begin({});
                if (!m_st.StringList2.empty()) {
                    m_st.StringList4.clear();
                    m_st.StringList4.swap(m_st.StringList2);
                    m_st.StringList2.clear();
                    Positionen();
                }
            } else {
                m_st.end_of_sub_ranges = false;
                LVUnterBereiche();
            }
            leave_inner_ranges(2);
            m_st.top_open = false;
            m_r.sink.leave_range({});
            m_r.run.process_events();
        }
    };
    workbook::guarded(ranges, [&](const std::exception& ex) {
        m_r.fault("Verarbeitungsfehler auf LV-Hauptbereich-Ebene" + m_st.range_oz + "\n\n" +
                  m_r.place.prefix(ex) + workbook::error_class_name(ex) + ": " + ex.what());
    });
    // A range that failed is left all the same.
    leave_inner_ranges(2);
    if (m_st.top_open) {
        m_st.top_open = false;
        m_r.sink.leave_range({});
    }
    m_r.place.at_offset(-1);
    m_r.place.leave_item();
}

// Items that stand in StringList2 beside the inner ranges, before the next inner range (or all
// that are left when none follows): they are reported now, under the last heading, so that none
// is lost and none is carried into the next top-level range. Returns the number of lines taken.
int64_t Reader::write_items_before_next_range(int64_t b) {
    const int64_t p = m_st.StringList2.find(kBeginItem);
    if (p == -1 || (b != -1 && p > b)) return 0;
    const int64_t last = b == -1 ? m_st.StringList2.size() - 1 : b - 1;
    MoveBereich(m_st.StringList2, p, last, m_st.StringList4);
    m_r.sink.items_begin({});
    Positionen();
    return last - p + 1;
}

// The headings of one cut: the range it starts with and the ranges opened inside it before the
// first end. An item that comes before an inner range (the stop mark) is reported before that
// range's heading, with the items around it; then the passes go on.
void Reader::heading_passes() {
    while (true) {
        bool stop = false;
        int64_t before = -1;  // the items of the stop stand above this line
        auto deleted = [&](int64_t first, int64_t last) {
            m_st.StringList4.erase(first, last);
            if (first < before) before -= std::min(last, before - 1) - first + 1;
        };
        int64_t cut = -1;
        do {
            cut = FindeKeyStringList4(kBeginRange);
            const int64_t p = FindeKeyStringList4(kBeginItem);
            if (cut != -1) m_st.StringList4.erase_line(cut);
            if (p != -1 && cut > p) {
                stop = true;
                before = cut;
            }
            const int64_t f = FindeKeyStringList4("[OZ]");
            if (f - 1 >= p) continue;
            if (f != -1) {
                m_st.range_oz = key_value(m_st.StringList4.line(f), "[OZ]", 20);
                if (f < p) deleted(f, f);
            }
            for (const std::string_view key : {"[Bez]", "[BezTX]"}) {
                const int64_t g = FindeKeyStringList4(key);
                if (g == -1) continue;
                int64_t last = g;
                m_st.range_label = key_text(m_st.StringList4, g, key, 0, &last);
                deleted(g, last);
                break;
            }
            if (!m_st.range_oz.empty() && !m_st.range_label.empty()) {
                m_st.range_label = cell_text(workbook::trim_right_ctl(m_st.range_label));
                // Blanks after the number fill its field; they are no empty level.
                m_st.range_oz =
                    field(FormatBereich(workbook::trim_right_ctl(m_st.range_oz), m_st.oz_mask), 20);
                enter_inner_range();
                m_st.range_oz.clear();
                m_st.range_label.clear();
            }
        } while (cut != -1 && !stop);
        if (!stop) return;
        m_r.sink.items_begin({});
        Positionen(before);
    }
}

void Reader::LVUnterBereiche() {
    const auto inner_ranges = [&] {
        m_st.StringList4.clear();
        m_r.run.process_events();
        while (!m_st.end_of_sub_ranges) {
            m_st.range_oz.clear();
            m_st.range_label.clear();
            int64_t b = -1, e = -1;
            if (!m_st.StringList2.empty()) {
                b = FindeBereichStringList2(kBeginRange);
                if (b != -1) e = m_st.StringList2.find(kEndRange, b + 1);
            }
            if (const int64_t taken = write_items_before_next_range(b); taken > 0 && b != -1) {
                b -= taken;
                if (e != -1) e -= taken;
            }
            if (b == -1 || e <= b) {
                m_st.end_of_sub_ranges = true;
                continue;
            }
            at(m_st.StringList2.line(b));
            m_r.place.leave_item();
            MoveBereich(m_st.StringList2, b, e, m_st.StringList4);
            heading_passes();
            m_r.sink.items_begin({});
            Positionen();
        }
    };
    workbook::guarded(inner_ranges, [&](const std::exception& ex) {
        m_r.fault("Verarbeitungsfehler auf LV-Unterbereich-Ebene " + m_st.range_oz + "\n\n" +
                  "Bezeichnung: " + m_st.range_label + "\n\n" + workbook::step_report(m_r.place, ex));
    });
}

}  // namespace gaeb2000
