// SPDX-License-Identifier: MIT
// The workbook of a GAEB 90 bill. Its rules, as the format's workbook has always had them:
// - the caption row comes with the client's record 03, else just before the first row of the body;
// - a group starts its subtotal range at its record 11, and below its title row when the title
//   comes; only the group opened last gets a subtotal, at its own record 31;
// - every group title heads the notes, bold, whether notes follow or not;
// - an item's long text is grouped from its first long-text line to the last row before the next
//   item that is no group title;
// - phases 81 and 83 write the priced row; 82 only the OZ, and the next row takes its place over;
//   84 the row of a bid, whose prices follow in a record of their own;
// - a step of writing that fails is shown with its record's text; once a sheet has run out of rows
//   the run ends with the next thing to write.
#include <fmt/format.h>

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "workbook/bill_layout.h"
#include "workbook/guarded.h"
#include "workbook/layout.h"
#include "workbook/run_end.h"
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

}  // namespace

std::string_view gaeb90_kind_label(std::string_view code) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kKinds{{
        {"NNN", "*** Normalposition, Typ NNN"},
        {"NEN", "*** Bedarfsposition ohne G-Preis, Typ NEN"},
        {"NMN", "*** Bedarfsposition mit G-Preis, Typ NMN"},
        {"ANN", "*** Alternativposition, Typ ANN"},
        {"GNN", "*** Grundposition, Typ GNN"},
        {"NNL", "*** Leitende Position, Typ NNL"},
    }};
    for (const auto& [kind, label] : kKinds)
        if (code == kind) return label;
    return {};
}

namespace {

std::string_view without_trailing_blanks(std::string_view text) {
    const size_t end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

// A cell's text as a record's text becomes one: cut at a NUL character, without the blanks that
// pad the record's fields at its end.
std::string cell_text(std::string_view text) {
    return std::string(without_trailing_blanks(text.substr(0, text.find('\0'))));
}

bool all_blanks(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

// "LV-Gruppe 01.02 - Erdarbeiten", the label of a group's row and of its subtotal; a group without
// title goes by its number alone.
std::string group_label(std::string_view dotted, std::string_view title) {
    std::string label = "LV-Gruppe ";
    label += dotted;
    if (!all_blanks(title)) {
        label += " - ";
        label += title;
    }
    return cell_text(label);
}

class Gaeb90Layout : public BillLayout {
public:
    using BillLayout::BillLayout;

    void rules_begin() override;
    void rules_line(std::string_view line) override;
    void header_field(bill::HeaderField field, std::string_view value) override;
    void enter_range(const bill::Range& range) override;
    void range_title(std::string_view title, bill::TitlePlace place) override;
    void leave_range(const bill::RangeEnd& end) override;
    void item(const bill::Item& item) override;
    void item_prices(const bill::Prices& prices) override;
    void sub_description(const bill::SubDescription& sub) override;
    void text_line(bill::TextKind kind, std::string_view line) override;
    void note_line(std::string_view line) override;
    void faulty_line(std::string_view line) override;
    void fault(const bill::Fault& fault) override;
    void end(const bill::End& end) override;

protected:
    std::span<const HeaderRow> header_rows() const override { return kHeader; }
    void before_finish() override;

private:
    bool calculation_phase() const { return phase() == "81" || phase() == "83"; }
    bool bid_phase() const { return phase() == "84"; }

    // A guarded step of writing; after a failure a sheet that has run out of rows is noted.
    bool step(std::string_view heading, FunctionRef<void()> write);
    void note_full_sheet();
    // Ends the run once a sheet has been noted full.
    void end_if_full();
    // Before the first row of the body: the mask line and the caption row, when no record 03 has
    // written them, so that the body starts in row 8 in every bill.
    void start_body();
    // The mask line and the caption row in record 03's three sections; `client` writes the client
    // line in the first one.
    void caption_row(FunctionRef<void()> client);
    void kind_label_step(std::string_view code);
    void bid_item_row(int32_t r, const bill::Item& item);

    std::string m_full_sheet;     // a sheet that ran out of rows
    bool m_body_started = false;  // record 03 or the first body row has written the caption row
    // The rows of the last group title, which a title record right after it continues.
    int32_t m_title_row = 0;
    int32_t m_title_notes_row = 0;
    int64_t m_notes_lines = 0;  // notes lines of the bill, whether exported or not

    // The group opened last: its number and title, and whether it may still get a subtotal (0:
    // no longer).
    std::string m_group_dotted;
    std::string m_group_title;
    uint64_t m_subtotal_group = 0;
    std::vector<uint64_t> m_open;  // the groups entered and not left, innermost last
    uint64_t m_next_id = 1;

    // Phase 84: the item whose record 21 came last, until its prices are read.
    struct BidItem {
        int32_t row = 0;
        bool has_quantity = false;
    };
    BidItem m_bid;
};

bool Gaeb90Layout::step(std::string_view heading, FunctionRef<void()> write) {
    if (guarded(m_c, heading, write)) return true;
    note_full_sheet();
    return false;
}

void Gaeb90Layout::note_full_sheet() {
    const SheetRows& r = m_rows;
    const std::pair<int32_t, std::string_view> cursors[] = {{r.Positions, kPositionsteil},
                                                            {r.Notes, kHinweistext},
                                                            {r.Faulty, kFehlerhafteZeilen},
                                                            {r.Subtotals, kTeilsummen},
                                                            {r.Rules, kRegelungen}};
    for (const auto& [cursor, name] : cursors)
        if (cursor > kMaxRow && m_full_sheet.empty()) m_full_sheet = name;
}

// A sheet holds at most kMaxRow rows: once one is full every further line would fail on its own,
// so the run ends with the rows written so far.
void Gaeb90Layout::end_if_full() {
    if (!m_full_sheet.empty()) stop_full(m_full_sheet);
}

void Gaeb90Layout::fault(const bill::Fault& fault) {
    end_if_full();
    BillLayout::fault(fault);
    // Every failed step of the reader comes as a fault: a sheet may have run out of rows.
    note_full_sheet();
}

void Gaeb90Layout::end(const bill::End& end) {
    end_if_full();
    BillLayout::end(end);
}

void Gaeb90Layout::rules_begin() {
    create_or_stop("", bill::Ending::Failed, [&] { AddRulesSheet(m_c); });
}

// The Rules cursor moves on also when writing fails.
void Gaeb90Layout::rules_line(std::string_view line) {
    end_if_full();
    m_kinds.RulesRow(line);
}

// Record 03: the client, then the mask line and the caption row 7; the body starts in row 8. Once
// the body has begun, a further record 03 writes the header again and leaves the body's rows where
// they are.
void Gaeb90Layout::header_field(bill::HeaderField field, std::string_view value) {
    end_if_full();
    if (field != bill::HeaderField::Client) {
        m_kinds.positions();
        BillLayout::header_field(field, value);
        return;
    }
    const int32_t body_row = m_rows.Positions;
    m_body_started = true;
    caption_row([&] { WriteHeaderBlock(m_c, 4, "Auftraggeber:", value); });
    if (body_row > 8) m_rows.Positions = body_row;
}

void Gaeb90Layout::start_body() {
    if (m_body_started) return;
    m_body_started = true;
    caption_row([] {});
}

void Gaeb90Layout::caption_row(FunctionRef<void()> client) {
    step("Prozedur sa3, Abschnitt 1\n\n", [&] {
        m_kinds.positions();
        client();
        WriteHeaderBlock(m_c, 5, "OZ-Maske:", without_trailing_blanks(m_header.mask));
        column_header_captions(m_c, m_rows);
    });
    m_c.ui.process_events();
    step("Prozedur sa3, Abschnitt 2\n\n", [&] { column_header_formats(m_c); });
    m_c.ui.process_events();
    step("Prozedur sa3, Abschnitt 3\n\n", [&] { column_header_styles(m_c, m_rows); });
}

// Record 11: the group's row is written here with its number, so that a group without a title
// record has its row like every group; the title record right after it completes the row. The
// group's subtotal range starts below the row, even when writing failed.
void Gaeb90Layout::enter_range(const bill::Range& range) {
    end_if_full();
    const uint64_t id = m_next_id++;
    m_open.push_back(id);
    m_subtotal_group = id;
    m_group_dotted = range.oz;
    m_group_title.clear();
    m_title_row = 0;
    m_title_notes_row = 0;
    step("Prozedur sa11\n\n", [&] {
        start_body();
        const int32_t row = m_rows.Positions;
        m_kinds.HierarchyRow(group_label(m_group_dotted, ""));
        m_title_row = row;
    });
    m_rows.GroupFirstRow = m_rows.Positions;
}

// Record 12: the title, written into the row of its group, and a bold notes heading. A title
// continued by the title record right after it rewrites both; a title record without its record
// 11 right before it opens a row of its own.
void Gaeb90Layout::range_title(std::string_view title, bill::TitlePlace place) {
    end_if_full();
    const bool continued = place == bill::TitlePlace::AfterTitle && m_title_row > 0;
    const bool group_row = place == bill::TitlePlace::AfterRange && m_title_row > 0;
    if (!continued) {
        if (!group_row) m_title_row = 0;
        m_title_notes_row = 0;
    }
    m_group_title = title;
    // The group's subtotal range starts below the hierarchy row, even when writing failed.
    struct Below {
        SheetRows& rows;
        bool set;
        ~Below() {
            if (set) rows.GroupFirstRow = rows.Positions;
        }
    } below{m_rows, !continued};
    const std::string label = group_label(m_group_dotted, m_group_title);
    const std::string heading = cell_text("LV-Gruppe " + m_group_dotted + " " + m_group_title);
    if (continued || group_row) {
        m_kinds.positions().set_value(m_title_row, 2, label);
    } else {
        start_body();
        m_title_row = m_rows.Positions;
        m_kinds.HierarchyRow(label);
    }
    if (m_c.options.ExportNotesText) {
        if (continued && m_title_notes_row > 0) {
            m_kinds.select(kHinweistext).set_value(m_title_notes_row, 1, heading);
        } else {
            m_title_notes_row = m_rows.Notes;
            m_kinds.NotesRow(heading, true);
        }
    }
}

// Record 31: only the group opened last (the innermost one) can get a subtotal row, and only once.
void Gaeb90Layout::leave_range(const bill::RangeEnd& end) {
    end_if_full();
    const uint64_t id = m_open.empty() ? 0 : m_open.back();
    if (!m_open.empty()) m_open.pop_back();
    if (!end.by_end_record || !m_c.options.SubtotalsSheet || m_subtotal_group == 0 || m_subtotal_group != id)
        return;
    m_kinds.subtotal_label(m_rows.Subtotals, group_label(m_group_dotted, m_group_title));
    if (m_rows.GroupFirstRow > 0) {
        // The formula needs items in the group; the label row stays in either case.
        if (!m_kinds.subtotal_formula()) {
            m_rows.GroupFirstRow = 0;
            m_rows.LastItemRow = 0;
            ++m_rows.Subtotals;
        }
        m_subtotal_group = 0;
    }
}

// Record 21. An item whose quantity does not convert keeps only its OZ, and its row stays the
// current one: what comes next is written into it.
void Gaeb90Layout::item(const bill::Item& item) {
    end_if_full();
    m_item_row = 0;
    m_bid = {};
    m_rows.TextGroupPending = true;
    step("Textgruppierung sa21\n\n", [&] { m_kinds.TextGroup(); });
    start_body();
    const int32_t r = m_rows.Positions;
    m_kinds.item_oz(r, item.oz);
    m_item_row = r;
    if (bid_phase()) {
        bid_item_row(r, item);
        return;
    }
    if (!calculation_phase() || item.quantity_unreadable) return;
    m_kinds.item_quantity(r, item.quantity.value_or(0.0));
    m_kinds.item_unit(r, item.unit);
    m_c.ui.process_events();
    m_kinds.item_price_cells(r, std::nullopt);
    m_c.ui.process_events();
    if (item.has_total) m_kinds.item_total_formula(r);
    m_c.ui.process_events();
    kind_label_step(item.kind_code);
    m_rows.LastItemRow = m_rows.Positions;
    ++m_rows.Positions;
}

// A bid item has a row of its own, like every item of the other phases: quantity, unit and kind
// label as the item record gives them, the unit price 0 until its price record comes. Its texts
// follow in the rows below, and the subtotals count it.
void Gaeb90Layout::bid_item_row(int32_t r, const bill::Item& item) {
    m_bid.row = r;
    if (item.quantity && !item.quantity_unreadable) {
        m_kinds.item_quantity(r, *item.quantity);
        m_bid.has_quantity = true;
    }
    if (!item.unit.empty()) m_kinds.item_unit(r, item.unit);
    m_kinds.item_number(r, 5, 0.0);
    m_c.ui.process_events();
    kind_label_step(item.kind_code);
    m_rows.LastItemRow = r;
    ++m_rows.Positions;
}

// The kind code becomes its label, written in red into column B of the item row; a code the
// table does not know is written nowhere.
void Gaeb90Layout::kind_label_step(std::string_view code) {
    step("Prozedur \"Position\"\n\n", [&] {
        if (const std::string_view label = gaeb90_kind_label(code); !label.empty())
            m_kinds.item_label(m_rows.Positions, label);
    });
}

// Record 23: phases 81 and 83 put the unit price into the current item's row; phase 84 the prices
// of the item whose record 21 came last. The quantity follows from total and unit price only where
// the item record gives none, and never from a unit price of 0.
void Gaeb90Layout::item_prices(const bill::Prices& prices) {
    end_if_full();
    if (!bid_phase()) {
        if (prices.unit_price && m_item_row > 0 && calculation_phase())
            m_kinds.item_unit_price_value(m_item_row, *prices.unit_price);
        m_c.ui.process_events();
        return;
    }
    const BidItem bid = m_bid;
    m_bid = {};
    const int32_t r = bid.row;
    if (r == 0) return;  // the item row could not be written
    if (prices.unit_price) m_kinds.item_number(r, 5, *prices.unit_price);
    if (prices.total) m_kinds.item_number(r, 6, *prices.total);
    if (!bid.has_quantity && prices.unit_price && *prices.unit_price != 0 && prices.total)
        m_kinds.item_quantity_from_total(r);
    m_c.ui.process_events();
}

// Record 24: in purple below an empty row.
void Gaeb90Layout::sub_description(const bill::SubDescription& sub) {
    end_if_full();
    start_body();
    m_kinds.positions();
    ++m_rows.Positions;
    const int32_t r = m_rows.Positions;
    if (!sub.quantity_text.empty())
        m_kinds.item_sub_label(r,
                               "Unterposition " + sub.number + ", Menge: " + sub.quantity_text +
                                   (sub.unit.empty() ? "" : " " + sub.unit) + ":",
                               kColorPurple);
    else
        m_kinds.item_sub_label(r, "Unterbeschreibung " + sub.number + ":", kColorPurple);
    ++m_rows.Positions;
}

// Records 25 and 26: short text and the long text of an item, always to Positionsteil.
void Gaeb90Layout::text_line(bill::TextKind kind, std::string_view line) {
    end_if_full();
    start_body();
    m_kinds.TextRow(line, kind == bill::TextKind::Long);
}

// Notes lines are counted also when they are not exported, so that the end of the run can say
// what the notes sheet would hold.
void Gaeb90Layout::note_line(std::string_view line) {
    end_if_full();
    ++m_notes_lines;
    if (m_c.options.ExportNotesText) m_kinds.NotesRow(line, false);
}

void Gaeb90Layout::faulty_line(std::string_view line) {
    end_if_full();
    m_kinds.FaultyLineRow(line);
}

// Real bills carry up to half of their text lines as notes: say where they are to be had.
void Gaeb90Layout::before_finish() {
    if (m_notes_lines > 0 && !m_c.options.ExportNotesText)
        m_c.ui.message(
            fmt::format("Die Datei enthält {} Zeilen Hinweistext; sie werden mit der Option {} übernommen.",
                        m_notes_lines, m_c.ui.feature_name(Feature::ExportNotesText)));
}

}  // namespace

std::unique_ptr<BillLayout> make_gaeb90_layout(Conversion& c) {
    return std::make_unique<Gaeb90Layout>(c);
}

}  // namespace workbook
