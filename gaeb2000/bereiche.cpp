// SPDX-License-Identifier: MIT
// Bill ranges: the top-level ranges of StringList1 and the inner ranges of one of them.
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
}  // namespace

void Gaeb2kReader::write_subtotal_label(std::string_view text, size_t capacity) {
    kinds.SubtotalLabel(rows.Subtotals, field(text, capacity));
    subtotal_oz.clear();
    subtotal_label.clear();
}

void Gaeb2kReader::write_heading() {
    const std::string heading = "LV-Bereich " + range_oz + ", " + range_label;
    room_for_row(false);
    kinds.HierarchyRow(heading);
    Hinweistext(heading + "\r\n");
}

void Gaeb2kReader::LVBereich() {
    StringList2.clear();
    const auto ranges = [&] {
        while (!end_of_ranges) {
            range_oz.clear();
            range_label.clear();
            subtotal_oz.clear();
            subtotal_label.clear();
            const int64_t b = StringList1.empty() ? -1 : FindeBereich(kBeginRange);

            // The matching end: begins and ends counted from the line after b (one line may be both).
            int64_t e = -1;
            int64_t begins = 1, ends = 0;
            if (b != -1) {
                for (int64_t i = b + 1; i < StringList1.size(); ++i) {
                    const std::string_view l = StringList1.line(i);
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
                // that range included, is written as items outside any range, after all ranges.
                end_of_ranges = true;
                StringList2.clear();
                StringList4.clear();
                if (!StringList1.empty()) {
                    StringList4.swap(StringList1);
                    Positionen();
                }
                StringList4.clear();
                break;
            }

            MoveBereich(StringList1, b, e, StringList2);
            StringList2.erase_line(0);
            StringList2.erase_line(StringList2.size() - 1);

            if (const int64_t f = FindeKeyStringList2("[OZ]"); f != -1) {
                range_oz = std::string(workbook::trim_ctl(key_value(StringList2.line(f), "[OZ]", 20)));
                StringList2.erase_line(f);
            }

            std::string_view key = "[Bez]";
            int64_t first = FindeBereichStringList2(key);
            if (first == -1) {
                key = "[BezTX]";
                first = FindeBereichStringList2(key);
            }
            if (first != -1) {
                // The designation may go on over further lines, up to the one that brings "[end]".
                std::string text;
                int64_t last = first;
                while (true) {
                    const size_t before = text.size();
                    text.append(StringList2.line(last));  // past the list's end this throws
                    if (find_key(text, "[end]", before >= 4 ? before - 4 : 0) != std::string::npos) break;
                    ++last;
                }
                range_label = key_value(text, key);
                StringList2.erase(first, last);
            }

            if (!range_oz.empty() && !range_label.empty()) {
                range_label = std::string(workbook::trim_ctl(range_label));
                range_oz = field(FormatBereich(range_oz, oz_mask), 20);
                subtotal_label = field(range_label, 150);
                subtotal_oz = range_oz;
                write_heading();
            }

            if (begins < 2) {
                if (c.options.SubtotalsSheet && !subtotal_label.empty())
                    write_subtotal_label("LV-Bereich " + subtotal_oz + " " + subtotal_label, 182);
                if (!StringList2.empty()) {
                    StringList4.clear();
                    StringList4.swap(StringList2);
                    StringList2.clear();
                    Positionen();
                }
            } else {
                end_of_sub_ranges = false;
                LVUnterBereiche();
            }
            c.ui.process_events();
        }
    };
    workbook::guarded(ranges, [&](const std::exception& ex) {
        c.ui.message("Verarbeitungsfehler auf LV-Hauptbereich-Ebene" + range_oz + "\n\n" +
                     workbook::error_class_name(ex) + ": " + ex.what());
    });
    write_collected_notes();
}

// Items that stand in StringList2 beside the inner ranges, before the next inner range (or all
// that are left when none follows): they are written now, under the last heading, so that none is
// lost and none is carried into the next top-level range. Returns the number of lines taken.
int64_t Gaeb2kReader::write_items_before_next_range(int64_t b) {
    const int64_t p = StringList2.find(kBeginItem);
    if (p == -1 || (b != -1 && p > b)) return 0;
    const int64_t last = b == -1 ? StringList2.size() - 1 : b - 1;
    MoveBereich(StringList2, p, last, StringList4);
    if (c.options.SubtotalsSheet && !subtotal_label.empty())
        write_subtotal_label(subtotal_oz + " " + subtotal_label, 171);
    Positionen();
    return last - p + 1;
}

// The headings of one cut: the range it starts with and the ranges opened inside it before the
// first end. An item that comes before an inner range (the stop mark) is written before that
// range's heading, with the items around it; then the passes go on.
void Gaeb2kReader::heading_passes() {
    while (true) {
        bool stop = false;
        int64_t before = -1;  // the items of the stop stand above this line
        auto deleted = [&](int64_t line) {
            StringList4.erase_line(line);
            if (line < before) --before;
        };
        int64_t cut = -1;
        do {
            cut = FindeKeyStringList4(kBeginRange);
            const int64_t p = FindeKeyStringList4(kBeginItem);
            if (cut != -1) StringList4.erase_line(cut);
            if (p != -1 && cut > p) {
                stop = true;
                before = cut;
            }
            const int64_t f = FindeKeyStringList4("[OZ]");
            if (f - 1 >= p) continue;
            if (f != -1) {
                range_oz = key_value(StringList4.line(f), "[OZ]", 20);
                if (f < p) deleted(f);
            }
            if (const int64_t g = FindeKeyStringList4("[Bez]"); g != -1) {
                range_label = key_value(StringList4.line(g), "[Bez]");
                deleted(g);
            } else if (const int64_t h = FindeKeyStringList4("[BezTX]"); h != -1) {
                range_label = key_value(StringList4.line(h), "[BezTX]");
                deleted(h);
            }
            if (!range_oz.empty() && !range_label.empty()) {
                range_label = std::string(workbook::trim_right_ctl(range_label));
                range_oz = field(FormatBereich(range_oz, oz_mask), 20);
                subtotal_label = field(range_label, 150);
                subtotal_oz = range_oz;
                write_heading();
                range_oz.clear();
                range_label.clear();
            }
        } while (cut != -1 && !stop);
        if (!stop) return;
        if (c.options.SubtotalsSheet && !subtotal_label.empty())
            write_subtotal_label(subtotal_oz + " " + subtotal_label, 171);
        Positionen(before);
    }
}

void Gaeb2kReader::LVUnterBereiche() {
    const auto inner_ranges = [&] {
        StringList4.clear();
        c.ui.process_events();
        while (!end_of_sub_ranges) {
            range_oz.clear();
            range_label.clear();
            int64_t b = -1, e = -1;
            if (!StringList2.empty()) {
                b = FindeBereichStringList2(kBeginRange);
                if (b != -1) e = StringList2.find(kEndRange, b + 1);
            }
            if (const int64_t taken = write_items_before_next_range(b); taken > 0 && b != -1) {
                b -= taken;
                if (e != -1) e -= taken;
            }
            if (b == -1 || e <= b) {
                end_of_sub_ranges = true;
                continue;
            }
            MoveBereich(StringList2, b, e, StringList4);
            heading_passes();
            if (c.options.SubtotalsSheet && !subtotal_label.empty())
                write_subtotal_label(subtotal_oz + " " + subtotal_label, 171);
            Positionen();
        }
    };
    workbook::guarded(inner_ranges, [&](const std::exception& ex) {
        c.ui.message("Verarbeitungsfehler auf LV-Unterbereich-Ebene " + range_oz + "\n\n" +
                     "Bezeichnung: " + range_label + "\n\n" + workbook::step_report(ex));
    });
}

}  // namespace gaeb2000
