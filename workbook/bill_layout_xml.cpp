// SPDX-License-Identifier: MIT
// The workbook of a GAEB DA XML bill. Its rules, as the format's workbook has always had them:
// - the caption row comes with the bill's start; the header block names project, project
//   designation, bill designation, client and mask;
// - a numbered range shows "LV-Bereich 01.02. -  Label" (level 1: the label's first span; deeper:
//   all spans of its first paragraph); the rest of the label follows as grouped text rows; an
//   unnumbered range shows its label as it stands, and its notes and subtotal go by the range
//   around it;
// - every text line is cut into rows at the last blank within 140 characters;
// - an item list's subtotal formula comes after its items, its label beside it; items straight in
//   the bill's body get one only beside ranges;
// - a surcharge item sums the items of its list before it (IdentAsMark: those marked MarkupIt),
//   or the items it names (ListInSubQty), resolved when the whole bill has been read;
// - phases 84 and 86 write the file's prices and totals, compare them with the totals the file
//   states, and show the differences on Teilsummen and in one message at the end.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "workbook/bill_layout.h"
#include "workbook/guarded.h"
#include "workbook/layout.h"
#include "workbook/numbers.h"
#include "workbook/text.h"

namespace workbook {
namespace {

constexpr std::array<HeaderRow, 5> kHeader{{
    {bill::HeaderField::Project, 1, "Projektname:"},
    {bill::HeaderField::ProjectLabel, 2, "Projektbezeichnung:"},
    {bill::HeaderField::Label, 3, "LV-Bezeichnung:"},
    {bill::HeaderField::Client, 4, "Auftraggeber:"},
    {bill::HeaderField::Mask, 5, "OZ-Maske:"},
}};

constexpr size_t kLineLength = 140;
constexpr size_t kSubtotalLabelCapacity = 140;
constexpr const char* kLooseItems = "Positionen ohne LV-Bereich";
constexpr const char* kSurchargeLabel = "*** Zuschlagsposition";
// A surcharge row shows its percentage in E; D marks the row as one.
constexpr const char* kPercentUnit = "%";
// A surcharge rate shows a third decimal when it has one.
constexpr const char* kRateFormat = "#,###,##0.00#";
// A formula of more than this many characters is not written (the spreadsheet takes 8192).
constexpr size_t kMaxFormula = 8000;

// The label of an item's kind beside it, in red: from its Provis and whether it is an alternative.
std::string_view kind_label(const bill::Item& item, bool bid) {
    switch (item.provis) {
        case bill::Provis::WithoutTotal:
            return "*** Bedarfsposition ohne G-Preis";
        case bill::Provis::WithTotal:
            return item.alternative ? "*** Bedarfsposition mit G-Preis (Alternative)"
                                    : "*** Bedarfsposition mit G-Preis";
        case bill::Provis::None:
            break;
    }
    if (item.alternative) return "*** Normalposition (Alternative)";
    return bid ? "*** Angebotsposition" : "*** Normalposition";
}

// Money with more than two decimals keeps them visible: "#,###,##0.000".
std::string money_format_with(int decimals) {
    return "#,###,##0." + std::string(static_cast<size_t>(std::min(decimals, 10)), '0');
}

// "1.234,56" for 1234.56.
std::string german_money(int64_t cents) {
    const bool negative = cents < 0;
    const uint64_t v = negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
    std::string whole = std::to_string(v / 100);
    for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3)
        whole.insert(static_cast<size_t>(at), ".");
    return fmt::format("{}{},{:02}", negative ? "-" : "", whole, v % 100);
}

// The totals of a bid summed in cents with a check: an amount of 10^15 or more (a double has lost
// the cents long before; int64 cents would wrap at 9.2 * 10^16) makes a sum "too large" for good
// (kCentsTooLarge); no sum ever wraps.
constexpr int64_t kCentsTooLarge = INT64_MIN;
constexpr int64_t kMaxCents = 100'000'000'000'000'000;  // 10^15 in cents

// The cents of an amount of the file, or kCentsTooLarge.
int64_t cents_of(double amount) {
    if (!std::isfinite(amount) || std::fabs(amount) * 100.0 >= static_cast<double>(kMaxCents))
        return kCentsTooLarge;
    return std::llround(amount * 100.0);
}

// sum += cents, or kCentsTooLarge when either is or the sum reaches kMaxCents.
void add_cents(int64_t& sum, int64_t cents) {
    if (sum == kCentsTooLarge || cents == kCentsTooLarge) {
        sum = kCentsTooLarge;
        return;
    }
    // Both lie below kMaxCents: the addition itself cannot overflow.
    sum += cents;
    if (sum <= -kMaxCents || sum >= kMaxCents) sum = kCentsTooLarge;
}

// "1.234,56", or "mehr als 999.999.999.999.999,99" for a sum too large to be held.
std::string money_text(int64_t cents) {
    if (cents == kCentsTooLarge) return "mehr als " + german_money(kMaxCents - 1);
    return german_money(cents);
}

// Calls `line` with each row of at most 140 characters: cut at the last blank among the first
// 140 characters (the blank stays at the line's end), or at 140 when there is none. `last` tells
// whether it is the rest of the text.
template <class F>
void for_each_line(std::string_view text, F&& line) {
    while (true) {
        const size_t cut = utf8_offset(text, kLineLength);
        if (cut >= text.size()) break;  // at most 140 characters left
        const size_t blank = text.substr(0, cut).rfind(' ');
        const size_t end = blank == std::string_view::npos ? cut : blank + 1;
        line(text.substr(0, end), false);
        text.remove_prefix(end);
    }
    if (!text.empty()) line(text, true);
}

class XmlLayout : public BillLayout {
public:
    using BillLayout::BillLayout;

    void start(bill::Format format) override;
    void begin(const bill::Header& header) override;
    void enter_range(const bill::Range& range) override;
    void leave_range(const bill::RangeEnd& end) override;
    void items_begin(const bill::ItemList& list) override;
    void items_end() override;
    void item(const bill::Item& item) override;
    void sub_description(const bill::SubDescription& sub) override;
    void performance_description(const bill::PerformanceDescription& perf) override;
    void text_line(bill::TextKind kind, std::string_view line) override;
    void long_text_begin() override;
    void texts_end() override;
    void surcharge_items(uint32_t surcharge, const std::vector<bill::ItemReference>& items) override;
    void notes_begin(std::string_view item_oz) override;
    void note_line(std::string_view line) override;
    void end(const bill::End& end) override;

protected:
    std::span<const HeaderRow> header_rows() const override { return kHeader; }
    void before_finish() override;
    FinishInfo finish_info() const override { return {m_mask_length}; }

private:
    enum class Target { Positions, Notes };
    // A text line into rows of at most 140 characters; with `messages` each row that fails is
    // reported (a row cut from the line, or its rest) and the text goes on with its next row.
    struct LineMessages {
        const char* long_line;
        const char* last_line;
    };
    void split_text(std::string_view text, Target target, const LineMessages* messages);
    void write_line(std::string_view line, Target target);
    void item_row(const bill::Item& item);
    void markup_row(const bill::Item& item);
    // The base of a surcharge from the rows of its list; with `marked_only` only the items marked
    // MarkupIt.
    void base_formula(int32_t row, bool marked_only);
    void write_base(int32_t row, const std::string& formula, const InputPlace& place);
    void resolve_markup_references();
    void compare_totals(std::string_view label, std::optional<double> declared, int64_t cents);
    void subtotal_label_step(std::string_view label);
    bool bid() const { return phase() == "84" || phase() == "86"; }

    int m_mask_length = 0;
    // The ranges being walked, the bill first.
    struct Open {
        bool has_number = false;
        std::string heading;         // heading row text, also the heading of its notes
        std::string subtotal_label;  // Teilsummen label of its item lists
        int64_t cents = 0;           // bid: the totals written into F inside it
        bool notes_headed = false;   // its notes heading is written
    };
    std::vector<Open> m_open{Open{false, {}, kLooseItems, 0, false}};

    // Owner of the text lines: an item (or its sub-descriptions), or a performance description.
    bool m_in_performance = false;
    int32_t m_performance_first = 0;  // first row of a performance description's long text

    // Totals that differ from what the file declares: one line each for the closing message.
    std::vector<std::string> m_total_differences;
    // The row of each item event (0: none written), and the surcharges whose base names items.
    std::vector<int32_t> m_item_rows;
    struct PendingMarkup {
        uint32_t item = 0;  // its number among the item events
        int32_t row = 0;
        InputPlace place;  // the surcharge's place, for a message about its formula
        std::vector<bill::ItemReference> references{};
    };
    std::vector<PendingMarkup> m_pending_markups;
    // The item and surcharge rows of the item list being converted.
    struct ListRow {
        int32_t row = 0;
        bool marked = false;  // MarkupIt: an IdentAsMark surcharge applies to it
        bool surcharge = false;
    };
    std::vector<ListRow> m_list_rows;
};

void XmlLayout::start(bill::Format) {
    create_or_stop("XML-Start\n\n", bill::Ending::Refused, [&] { create_positions_sheet(m_c); });
    create_or_stop("", bill::Ending::Refused, [&] { create_auxiliary_sheets(m_c); });
}

void XmlLayout::begin(const bill::Header& header) {
    BillLayout::begin(header);
    guarded(m_c, "XML-Modul, Fehler bei der Formatierung von Kopfdaten\n\n", [&] {
        m_mask_length = static_cast<int>(utf8_length(header.mask));
        WriteColumnHeaderRow(m_c, m_rows);
    });
}

void XmlLayout::write_line(std::string_view line, Target target) {
    room(m_rows.Positions, kPositionsteil);
    room(m_rows.Notes, kHinweistext);
    if (target == Target::Positions)
        m_kinds.TextRow(line, true);
    else
        m_kinds.NotesRow(line, false);
}

void XmlLayout::split_text(std::string_view text, Target target, const LineMessages* messages) {
    m_kinds.select(target == Target::Positions ? kPositionsteil : kHinweistext);
    for_each_line(text, [&](std::string_view line, bool last) {
        if (!messages) {
            write_line(line, target);
            return;
        }
        guarded(m_c, last ? messages->last_line : messages->long_line, [&] { write_line(line, target); });
    });
}

void XmlLayout::text_line(bill::TextKind, std::string_view line) {
    static constexpr LineMessages kMessages{"Positionstexte > 140\n\n", "Positionstexte < 140\n\n"};
    split_text(line, Target::Positions, &kMessages);
}

// A numbered range: "LV-Bereich 01.02. -  " and its label; without label its number alone. An
// unnumbered range shows its label as it stands, and without one nothing.
void XmlLayout::enter_range(const bill::Range& range) {
    Open open;
    open.has_number = range.has_number;
    std::string heading;
    if (range.has_number) {
        XmlRangeCaption caption = xml_range_caption(range);
        heading = caption.heading;
        open.heading = std::move(caption.heading);
        open.subtotal_label = std::move(caption.subtotal);
    } else {
        heading = range.label;
        open.heading = heading.empty() ? m_open.back().heading : heading;
        open.subtotal_label = range.label.empty() ? m_open.back().subtotal_label : range.label;
    }
    m_open.push_back(std::move(open));

    if (!heading.empty()) m_kinds.HierarchyRow(heading);
    // The rest of the label, grouped under the heading like an item's long text.
    if (range.text.empty()) return;
    const int32_t first = m_rows.Positions;
    for (const std::string& line : range.text) split_text(line, Target::Positions, nullptr);
    const int32_t last = m_rows.Positions - 1;
    if (last >= first) m_kinds.positions().group_rows(first, last);
}

void XmlLayout::leave_range(const bill::RangeEnd& end) {
    if (m_open.size() <= 1) return;
    const Open done = std::move(m_open.back());
    m_open.pop_back();
    if (bid() && done.has_number) compare_totals(done.subtotal_label, end.declared_total, done.cents);
    add_cents(m_open.back().cents, done.cents);
}

void XmlLayout::items_begin(const bill::ItemList& list) {
    if (list.grouped && m_rows.GroupFirstRow == 0) m_rows.GroupFirstRow = m_rows.Positions;
    m_list_rows.clear();
}

void XmlLayout::subtotal_label_step(std::string_view label) {
    if (!m_c.options.SubtotalsSheet) return;
    if (m_rows.Subtotals == 2) m_rows.Subtotals = 3;
    m_kinds.subtotal_label(m_rows.Subtotals - 1, utf8_prefix(label, kSubtotalLabelCapacity));
}

void XmlLayout::items_end() {
    if (m_c.options.SubtotalsSheet && m_kinds.subtotal_formula())
        subtotal_label_step(m_open.back().subtotal_label);
}

void XmlLayout::item(const bill::Item& item) {
    m_in_performance = false;
    m_item_rows.push_back(0);
    if (item.surcharge)
        markup_row(item);
    else
        item_row(item);
}

void XmlLayout::item_row(const bill::Item& item) {
    room(m_rows.Positions, kPositionsteil);
    const int32_t r = m_rows.Positions;
    m_rows.LastItemRow = r;
    m_item_row = r;
    Sheet& sheet = m_kinds.positions();
    m_kinds.item_oz(r, item.oz);
    if (item.quantity)
        m_kinds.item_quantity(r, *item.quantity);
    else if (bid() && item.unit_price && *item.unit_price != 0 && item.total)
        // A bid without quantity gets it from total and unit price: only from both, and never
        // from a unit price of 0.
        m_kinds.item_quantity_from_total(r);
    if (!item.unit.empty()) m_kinds.item_unit(r, item.unit);
    m_kinds.item_price_cells(r, item.unit_price);
    const int32_t price_col = calc_columns() ? 7 : 5;
    // A price that is no number leaves its cell empty, not 0.
    if (!item.unit_price && item.unit_price_unreadable) sheet.clear(r, price_col);
    if (!bid()) {
        if (item.has_total) m_kinds.item_total_formula(r);
    } else {
        if (item.unit_price) {
            // The bid shows the file's unit price with all its decimals.
            m_kinds.item_number(r, 5, *item.unit_price);
            if (item.unit_price_decimals > 2) {
                sheet.set_number_format(Range::cell(r, 5), money_format_with(item.unit_price_decimals));
                if (price_col != 5)
                    sheet.set_number_format(Range::cell(r, price_col),
                                            money_format_with(item.unit_price_decimals));
            }
        }
        if (item.total) {
            m_kinds.item_number(r, 6, *item.total);
            add_cents(m_open.back().cents, cents_of(*item.total));
        }
    }
    m_kinds.item_label(r, kind_label(item, bid()));
    m_item_rows.back() = r;
    m_list_rows.push_back({r, item.markup_subject, false});
    ++m_rows.Positions;
    m_c.ui.process_events();
}

// Surcharge row: A the OZ, B "*** Zuschlagsposition", C the base the percentage applies to, D
// "%", E the percentage (with calculation columns G the percentage and H 1 as input cells, E
// their product rounded to three decimals; else E the input cell), F the surcharge: C x E / 100,
// or in the bid layout C the file's ITMarkup, E its Markup and F its IT.
void XmlLayout::markup_row(const bill::Item& item) {
    room(m_rows.Positions, kPositionsteil);
    const int32_t r = m_rows.Positions;
    m_rows.LastItemRow = r;
    m_item_row = r;
    Sheet& sheet = m_kinds.positions();
    m_kinds.item_oz(r, item.oz);
    m_kinds.item_unit(r, kPercentUnit);
    sheet.set_number_format(Range::cell(r, 3), m_c.money_format);
    if (item.markup_base)
        m_kinds.item_number(r, 3, *item.markup_base);
    else if (item.markup_type == bill::MarkupType::ListInSubQty)
        m_pending_markups.push_back({static_cast<uint32_t>(m_item_rows.size() - 1), r, m_c.place});
    else
        base_formula(r, item.markup_type == bill::MarkupType::IdentAsMark);

    m_kinds.item_price_cells(r, item.unit_price);
    const int32_t price_col = calc_columns() ? 7 : 5;
    if (!item.unit_price && item.unit_price_unreadable) sheet.clear(r, price_col);
    // A rate keeps three decimals, as a bid can carry them.
    if (calc_columns() && round_prices()) sheet.set_formula(r, 5, fmt::format("=ROUND($G${0}*$H${0},3)", r));
    sheet.set_number_format(Range::cell(r, 5), kRateFormat);
    sheet.set_number_format(Range::cell(r, price_col), kRateFormat);
    if (!bid()) {
        sheet.set_formula(r, 6,
                          round_prices() ? fmt::format("=ROUND($C${0}*$E${0}/100,2)", r)
                                         : fmt::format("=$C${0}*$E${0}/100", r));
    } else {
        if (item.unit_price) m_kinds.item_number(r, 5, *item.unit_price);
        if (item.total) {
            m_kinds.item_number(r, 6, *item.total);
            add_cents(m_open.back().cents, cents_of(*item.total));
        }
    }
    m_kinds.item_label(r, kSurchargeLabel);
    m_list_rows.push_back({r, false, true});
    ++m_rows.Positions;
    m_c.ui.process_events();
}

// The items before the surcharge, back to the surcharges before those (the surcharges just before
// it are passed over).
void XmlLayout::base_formula(int32_t row, bool marked_only) {
    std::vector<int32_t> rows;
    bool own_run = true;
    for (auto at = m_list_rows.rbegin(); at != m_list_rows.rend(); ++at) {
        if (at->surcharge) {
            if (own_run) continue;
            break;
        }
        own_run = false;
        if (!marked_only || at->marked) rows.push_back(at->row);
    }
    if (rows.empty()) return;
    std::string f;
    if (!marked_only) {
        // Between the first and the last of them stand only their own rows and texts.
        f = fmt::format("=SUM($F${}:$F${})", rows.back(), rows.front());
    } else {
        f = "=";
        for (size_t i = rows.size(); i-- > 0;) {
            const size_t n = rows.size() - 1 - i;
            if (n % 255 == 0)
                f += n == 0 ? "SUM(" : ")+SUM(";
            else
                f += ',';
            f += fmt::format("$F${}", rows[i]);
        }
        f += ')';
    }
    write_base(row, f, m_c.place);
}

void XmlLayout::write_base(int32_t row, const std::string& formula, const InputPlace& place) {
    if (formula.size() > kMaxFormula) {
        m_c.ui.message(
            place.prefix() +
            "die Bemessungsgrundlage des Zuschlags umfasst zu viele Positionen für eine Formel; die "
            "Zelle bleibt leer.");
        return;
    }
    m_kinds.positions().set_formula(row, 3, formula);
}

void XmlLayout::surcharge_items(uint32_t surcharge, const std::vector<bill::ItemReference>& items) {
    const auto pending =
        std::lower_bound(m_pending_markups.begin(), m_pending_markups.end(), surcharge,
                         [](const PendingMarkup& markup, uint32_t number) { return markup.item < number; });
    if (pending != m_pending_markups.end() && pending->item == surcharge) pending->references = items;
}

// ListInSubQty: the items a surcharge names, each with its total or a part quantity of it (SubQty
// x unit price). Items may stand after the surcharge; the reader reports those it found.
void XmlLayout::resolve_markup_references() {
    for (const PendingMarkup& markup : m_pending_markups) {
        std::string f;
        for (const bill::ItemReference& ref : markup.references) {
            const int32_t row = ref.item < m_item_rows.size() ? m_item_rows[ref.item] : 0;
            if (row == 0) continue;
            f += f.empty() ? "=" : "+";
            if (ref.sub_quantity)
                f += fmt::format("ROUND({}*$E${},2)", format_number(*ref.sub_quantity), row);
            else
                f += fmt::format("$F${}", row);
        }
        if (!f.empty()) write_base(markup.row, f, markup.place);
    }
}

void XmlLayout::compare_totals(std::string_view label, std::optional<double> declared, int64_t cents) {
    if (!declared || !std::isfinite(*declared)) return;
    const int64_t declared_cents = cents_of(*declared);
    std::string line;
    if (declared_cents == kCentsTooLarge && cents == kCentsTooLarge) {
        line = fmt::format("{}: laut Datei und berechnet {}; zu groß, um verglichen zu werden", label,
                           money_text(kCentsTooLarge));
    } else {
        if (declared_cents != kCentsTooLarge && cents != kCentsTooLarge && declared_cents - cents >= -1 &&
            declared_cents - cents <= 1)
            return;
        line = fmt::format("{}: laut Datei {}, berechnet {}", label, money_text(declared_cents),
                           money_text(cents));
    }
    m_total_differences.push_back(line);
    // On Teilsummen below the range's subtotals, or above the grand total.
    if (!m_c.options.SubtotalsSheet || m_rows.Subtotals < 3) return;
    m_kinds.subtotal_label(m_rows.Subtotals, "Abweichung " + line);
    ++m_rows.Subtotals;
}

// Every sub-description: a blue caption with its quantity and unit; its texts follow.
void XmlLayout::sub_description(const bill::SubDescription& sub) {
    room(m_rows.Positions, kPositionsteil);
    const int32_t r = m_rows.Positions;
    m_kinds.item_sub_label(r, "Unterbeschreibung:", kColorBlue);
    if (sub.quantity) m_kinds.item_quantity(r, *sub.quantity);
    if (!sub.unit.empty()) m_kinds.item_unit(r, sub.unit);
    ++m_rows.Positions;
    m_c.ui.process_events();
}

// A performance description: a blue caption with its number and label; its texts follow, each
// long text grouped.
void XmlLayout::performance_description(const bill::PerformanceDescription& perf) {
    m_in_performance = true;
    room(m_rows.Positions, kPositionsteil);
    std::string caption = "Leistungsbeschreibung";
    if (!perf.number.empty()) caption += " " + perf.number;
    caption += ":";
    if (!perf.label.empty()) caption += " " + perf.label;
    m_kinds.item_sub_label(m_rows.Positions, utf8_prefix(caption, kLineLength), kColorBlue);
    ++m_rows.Positions;
    m_c.ui.process_events();
}

void XmlLayout::long_text_begin() {
    if (m_in_performance)
        m_performance_first = m_rows.Positions;
    else
        m_rows.TextGroupStart = m_rows.Positions;
}

void XmlLayout::texts_end() {
    if (!m_in_performance) {
        m_kinds.TextGroup();
        return;
    }
    if (m_rows.Positions - 1 >= m_performance_first)
        m_kinds.positions().group_rows(m_performance_first, m_rows.Positions - 1);
}

// The notes of a range come under its heading, written before the first of them; an item's
// additional text after "Zu Position" and its OZ.
void XmlLayout::notes_begin(std::string_view item_oz) {
    Open& open = m_open.back();
    if (!open.notes_headed) {
        open.notes_headed = true;
        m_kinds.select(kHinweistext);
        room(m_rows.Notes, kHinweistext);
        if (!open.heading.empty() && m_open.size() > 1) m_kinds.NotesRow(open.heading, true);
    }
    if (!item_oz.empty()) split_text("Zu Position " + std::string(item_oz) + ":", Target::Notes, nullptr);
}

void XmlLayout::note_line(std::string_view line) {
    split_text(line, Target::Notes, nullptr);
}

void XmlLayout::end(const bill::End& end) {
    if (end.how == bill::Ending::Complete) {
        resolve_markup_references();
        if (bid()) compare_totals("Gesamtsumme", end.declared_total, m_open.front().cents);
    }
    BillLayout::end(end);
}

void XmlLayout::before_finish() {
    if (m_total_differences.empty()) return;
    std::string text = "Die Summen der Arbeitsmappe weichen von den Summen der Datei ab:";
    for (const std::string& line : m_total_differences) text += "\n" + line;
    text +=
        "\nNachlässe, Zuschläge und Alternativen, die die Datei einrechnet, erklären solche "
        "Abweichungen.";
    m_c.ui.message(text);
}

}  // namespace

XmlRangeCaption xml_range_caption(const bill::Range& range) {
    if (range.label.empty())
        return {"LV-Bereich " + range.oz, std::string(utf8_prefix(range.oz, kSubtotalLabelCapacity))};
    if (range.level <= 1)
        return {
            fmt::format("LV-Bereich {} -  {}", range.oz, range.label),
            std::string(utf8_prefix(fmt::format("{} -  {}", range.oz, range.label), kSubtotalLabelCapacity))};
    // The subtotal label is a field of 140 characters: the spans as the file joins them.
    return {fmt::format("LV-Bereich {} -   {}", range.oz, range.label),
            std::string(
                utf8_prefix(fmt::format("{} {}", range.oz, range.label_written), kSubtotalLabelCapacity))};
}

std::vector<std::string> xml_text_rows(std::string_view text) {
    std::vector<std::string> rows;
    for_each_line(text, [&](std::string_view row, bool) { rows.emplace_back(row); });
    return rows;
}

std::unique_ptr<BillLayout> make_xml_layout(Conversion& c) {
    return std::make_unique<XmlLayout>(c);
}

}  // namespace workbook
