// SPDX-License-Identifier: MIT
// The workbook of a GAEB 2000 bill. Its rules, as the format's workbook has always had them:
// - the caption row comes with the bill's start ("Positiontext" in B7);
// - a range shows its heading when it has a number and a label; the subtotal label of the range
//   whose heading came last is written when its items begin (a top range without inner ranges:
//   "LV-Bereich 01 Label", cut at 182 characters; else "01.02 Label", cut at 171), its formula
//   when they end, and a range without items leaves its label to be overwritten;
// - long texts are cut at the last blank within 140 characters, notes within 150; short texts
//   in pieces of 140 characters; an item's long text and its sub-items form its outline group;
// - the notes of the ranges are written after all ranges, each under its range's heading; the
//   bill's own notes as they come, each followed by an empty row;
// - phase 84 writes the bid's prices as numbers, its quantity where the bill gives none as total /
//   unit price.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "workbook/bill_layout.h"
#include "workbook/guarded.h"
#include "workbook/layout.h"
#include "workbook/text.h"

namespace workbook {

namespace {

constexpr std::array<HeaderRow, 5> kHeader{{
    {bill::HeaderField::Project, 1, "Projektname:"},
    {bill::HeaderField::Name, 2, "LV-Bezeichnung:"},
    {bill::HeaderField::Date, 3, "LV-Datum:"},
    {bill::HeaderField::Client, 4, "Auftraggeber:"},
    {bill::HeaderField::Mask, 5, "OZ-Maske:"},
}};

// How a text is cut into rows: the width at which a line is cut (at its last blank within the
// width), the sheet (column B of Positionsteil or column A of Hinweistext, where a last piece that
// is empty after trimming is written as an empty row), and the messages of a row that fails: one
// cut from a longer line, or the rest of a line.
struct WrapRule {
    size_t width;
    bool notes;
    std::string_view cut_failed;
    std::string_view last_failed;
};

constexpr WrapRule kItemLongText{140, false, "Positionstexte > 140\n\n", "Positionstexte < 150\n\n"};
constexpr WrapRule kSubItemLongText{140, false, "Unterpositionstexte > 140\n\n",
                                    "Unterpositionstexte < 150\n\n"};
constexpr WrapRule kRangeNotes{150, true, "Fehler in GAEB2k-Modul/LVBereich/Hinweistext > 150\n\n",
                               "Fehler in GAEB2k-Modul/LVBereich/Hinweistext < 150\n\n"};
constexpr WrapRule kBillNotes{150, true, "Positionstexte > 150\n\n",
                              "GAEB2k-Haupthinweistext, Textlänge < 150\n\n"};

// The label of a "[Bedarf]" value beside the item, in red: any other value is shown as it is.
std::string_view kind_label(std::string_view code) {
    if (code.empty()) return "*** Normalposition, Typ NNN";
    if (code == "E") return "*** Bedarfsposition ohne G-Preis, Typ NEN";
    if (code == "A") return "*** Alternativposition, Typ ANN";
    if (code == "G") return "*** Grundposition, Typ GNN";
    if (code == "M") return "*** Bedarfsposition mit G-Preis, Typ NMN";
    return code;
}

// Characters of the first piece of a line longer than `width`: up to and including its last blank
// among the first `width` characters, or `width` when they hold none.
size_t cut_length(std::string_view line, size_t width) {
    const std::string_view head = utf8_prefix(line, width);
    const size_t blank = head.rfind(' ');
    if (blank == std::string_view::npos) return width;
    return utf8_length(head.substr(0, blank + 1));
}

// The lines of a text as the notes of the ranges take them: a line ends at CR LF, LF or CR.
std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    return lines;
}

class Gaeb2000Layout : public BillLayout {
public:
    using BillLayout::BillLayout;

    void begin(const bill::Header& header) override;
    void enter_range(const bill::Range& range) override;
    void leave_range(const bill::RangeEnd& end) override;
    void items_begin(const bill::ItemList& list) override;
    void items_end() override;
    void item(const bill::Item& item) override;
    void sub_description(const bill::SubDescription& sub) override;
    void text_line(bill::TextKind kind, std::string_view line) override;
    void long_text_begin() override { m_rows.TextGroupStart = m_rows.Positions; }
    void texts_end() override { m_kinds.TextGroup(); }
    void notes_begin(std::string_view item_oz) override;
    void note_line(std::string_view line) override;
    void notes_end() override;

protected:
    std::span<const HeaderRow> header_rows() const override { return kHeader; }
    void before_finish() override;

private:
    // The lines of a text into rows of Positionsteil (column B) or Hinweistext (column A), each
    // row that fails reported with the rule's message.
    void write_wrapped(std::string_view line, const WrapRule& rule);
    void write_row(std::string_view text, bool notes);

    int m_depth = 0;  // ranges entered and not left
    // The subtotal label of the range whose heading came last, until it is written.
    struct Pending {
        std::string oz, label;
        bool whole_top_range;  // a top range without inner ranges
    };
    std::optional<Pending> m_pending;
    std::string m_heading;                   // the heading written last
    std::vector<std::string> m_range_notes;  // the notes of the ranges, written after all ranges
    bool m_sub = false;                      // text lines belong to a sub-item
};

void Gaeb2000Layout::begin(const bill::Header& header) {
    BillLayout::begin(header);
    guarded(m_c, "GAEB2000-Modul sa3, Abschnitt 2\n\n", [&] {
        column_header_captions(m_c, m_rows);
        column_header_formats(m_c);
    });
    guarded(m_c, "GAEB2000-Modul \"Arbeitgeber\", Abschnitt 2\n\n",
            [&] { column_header_styles(m_c, m_rows); });
}

void Gaeb2000Layout::enter_range(const bill::Range& range) {
    ++m_depth;
    if (range.oz.empty() || range.label.empty()) return;
    m_heading = "LV-Bereich " + range.oz + ", " + range.label;
    room(m_rows.Positions, kPositionsteil);
    m_kinds.HierarchyRow(m_heading);
    m_pending =
        Pending{range.oz, std::string(utf8_prefix(range.label, 150)), range.level == 1 && !range.has_ranges};
}

void Gaeb2000Layout::leave_range(const bill::RangeEnd&) {
    if (m_depth > 0) --m_depth;
    // A subtotal label does not outlive its top range.
    if (m_depth == 0) m_pending.reset();
}

void Gaeb2000Layout::items_begin(const bill::ItemList&) {
    if (!m_c.options.SubtotalsSheet || !m_pending) return;
    const std::string label =
        m_pending->whole_top_range
            ? std::string(utf8_prefix("LV-Bereich " + m_pending->oz + " " + m_pending->label, 182))
            : std::string(utf8_prefix(m_pending->oz + " " + m_pending->label, 171));
    m_kinds.subtotal_label(m_rows.Subtotals, label);
    m_pending.reset();
}

void Gaeb2000Layout::items_end() {
    if (m_c.options.SubtotalsSheet && m_rows.GroupFirstRow > 0 && m_rows.LastItemRow >= m_rows.GroupFirstRow)
        m_kinds.subtotal_formula();
}

void Gaeb2000Layout::item(const bill::Item& item) {
    m_sub = false;
    room(m_rows.Positions, kPositionsteil);
    const int32_t r = m_rows.Positions;
    m_rows.LastItemRow = r;
    m_item_row = r;
    m_kinds.positions();
    m_kinds.item_oz(r, item.oz);
    if (phase() != "84") {
        if (item.quantity) m_kinds.item_quantity(r, *item.quantity);
        m_kinds.item_unit(r, item.unit);
        m_kinds.item_price_cells(r, item.unit_price);
        if (item.has_total) m_kinds.item_total_formula(r);
        m_kinds.item_label(r, kind_label(item.kind_code));
    } else {
        // The bid shows the bill's quantity and unit where it gives them; the quantity follows
        // from total and unit price only where it gives none, and never from a unit price of 0.
        if (item.quantity) m_kinds.item_quantity(r, *item.quantity);
        if (!item.unit.empty()) m_kinds.item_unit(r, item.unit);
        m_kinds.item_number(r, 5, item.unit_price.value_or(0.0));
        m_kinds.item_number(r, 6, item.total.value_or(0.0));
        if (!item.quantity && item.unit_price && *item.unit_price != 0 && item.total)
            m_kinds.item_quantity_from_total(r);
    }
    ++m_rows.Positions;
    m_c.ui.process_events();
}

void Gaeb2000Layout::sub_description(const bill::SubDescription& sub) {
    m_sub = true;
    room(m_rows.Positions, kPositionsteil);
    m_kinds.item_sub_label(m_rows.Positions,
                           "Unterposition: " + sub.number + ", Menge: " + sub.quantity_text + " " + sub.unit,
                           kColorPurple);
    ++m_rows.Positions;
    m_c.ui.process_events();
}

void Gaeb2000Layout::write_row(std::string_view text, bool notes) {
    if (notes) {
        room(m_rows.Notes, kHinweistext);
        m_kinds.NotesRow(text, false);
    } else {
        room(m_rows.Positions, kPositionsteil);
        m_kinds.TextRow(text, true);
    }
}

// A row that fails is dropped; the line goes on after it.
void Gaeb2000Layout::write_wrapped(std::string_view line, const WrapRule& rule) {
    const size_t n = rule.width;
    std::string_view rest = line;
    size_t length = utf8_length(rest);
    while (length > n) {
        const size_t i = cut_length(rest, n);
        const std::string_view piece = utf8_prefix(rest, i);
        guarded(m_c, rule.cut_failed,
                [&] { write_row(utf8_prefix(trim_left_ctl(utf8_prefix(piece, n)), n), rule.notes); });
        rest.remove_prefix(piece.size());
        length -= i;
    }
    if (length == 0) return;
    const std::string_view last = trim_left_ctl(rest);
    if (last.empty() && !rule.notes) return;
    guarded(m_c, rule.last_failed, [&] { write_row(last, rule.notes); });
}

void Gaeb2000Layout::text_line(bill::TextKind kind, std::string_view line) {
    if (kind == bill::TextKind::Short) {
        // Pieces of 140 characters, each but the last without its leading blanks.
        constexpr size_t kWidth = 140;
        const auto write = [&](std::string_view text) {
            room(m_rows.Positions, kPositionsteil);
            m_kinds.TextRow(text, false);
        };
        const size_t length = utf8_length(line);
        if (length == 0) return;
        if (length <= kWidth) {
            write(utf8_prefix(trim_left_ctl(line), kWidth));
            return;
        }
        const size_t full = length / kWidth;
        for (size_t k = 0; k < full; ++k)
            write(utf8_prefix(trim_left_ctl(utf8_substr(line, k * kWidth, kWidth)), kWidth));
        const std::string_view rest = utf8_substr(line, full * kWidth, kWidth);
        if (!rest.empty()) write(rest);
        return;
    }
    write_wrapped(line, m_sub ? kSubItemLongText : kItemLongText);
}
// The bill's own notes (additional texts, main notes) are written as they come; those of a range
// after all ranges, under the range's heading.
void Gaeb2000Layout::notes_begin(std::string_view) {
    if (m_depth == 0) return;
    for (std::string_view l : lines_of(m_heading)) m_range_notes.emplace_back(l);
}

void Gaeb2000Layout::note_line(std::string_view line) {
    if (m_depth > 0) {
        m_range_notes.emplace_back(line);
    } else if (m_c.options.ExportNotesText) {
        write_wrapped(line, kBillNotes);
    }
}

void Gaeb2000Layout::notes_end() {
    if (m_depth == 0) ++m_rows.Notes;  // an empty row after each block
}

void Gaeb2000Layout::before_finish() {
    if (!m_c.options.ExportNotesText || m_range_notes.empty()) return;
    guarded(
        [&] {
            m_kinds.select(kHinweistext);
            for (const std::string& line : m_range_notes) write_wrapped(line, kRangeNotes);
            m_c.ui.process_events();
        },
        [&](const std::exception&) { m_c.ui.message("Fehler bei der Verarbeitung des Hinweistextes."); });
}

}  // namespace

std::unique_ptr<BillLayout> make_gaeb2000_layout(Conversion& c) {
    return std::make_unique<Gaeb2000Layout>(c);
}

}  // namespace workbook
