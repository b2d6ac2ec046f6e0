// SPDX-License-Identifier: MIT
// The range walk: BoQCtgy elements nested in BoQBody to any depth, in document order, with the
// item lists wherever they stand. Level 1 labels a range by its first span, deeper levels by all
// spans of the first paragraph; the rest of a label follows as text rows.
#include <fmt/format.h>

#include <cmath>

#include "gaebxml/reader.h"
#include "workbook/errors.h"
#include "workbook/guarded.h"
#include "workbook/numbers.h"

namespace gaebxml {

using workbook::guarded;

namespace {

constexpr const char* kLooseItems = "Positionen ohne LV-Bereich";

// "1.234,56" for 1234.56.
std::string german_money(int64_t cents) {
    const bool negative = cents < 0;
    const uint64_t v = negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
    std::string whole = std::to_string(v / 100);
    for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3)
        whole.insert(static_cast<size_t>(at), ".");
    return fmt::format("{}{},{:02}", negative ? "-" : "", whole, v % 100);
}

// "1.234,56", or "mehr als 999.999.999.999.999,99" for a sum too large to be held.
std::string money_text(int64_t cents) {
    if (cents == kCentsTooLarge) return "mehr als " + german_money(kMaxCents - 1);
    return german_money(cents);
}

std::string change_over_text(int level) {
    return fmt::format("Fehler beim Wechsel in die {}. Bereichstufe BoQCtgy", level);
}

std::string label_failure_text(int level) {
    if (level <= 1) return "Kann die LV-Bezeichnung (BoQCtgy) nicht ermitteln\nLV-Bereich ";
    return fmt::format("Kann die Sub{0}-LV-Bezeichnung (BoQCtgy) nicht ermitteln\nSubbereich{0} ", level - 1);
}

}  // namespace

int64_t cents_of(double amount) {
    if (!std::isfinite(amount) || std::fabs(amount) * 100.0 >= static_cast<double>(kMaxCents))
        return kCentsTooLarge;
    return std::llround(amount * 100.0);
}

void add_cents(int64_t& sum, int64_t cents) {
    if (sum == kCentsTooLarge || cents == kCentsTooLarge) {
        sum = kCentsTooLarge;
        return;
    }
    // Both lie below kMaxCents: the addition itself cannot overflow.
    sum += cents;
    if (sum <= -kMaxCents || sum >= kMaxCents) sum = kCentsTooLarge;
}

void XmlReader::subtotal_label_step(std::string_view label) {
    if (!m_c.options.SubtotalsSheet) return;
    if (m_rows.Subtotals == 2) m_rows.Subtotals = 3;
    m_kinds.subtotal_label(m_rows.Subtotals - 1, workbook::utf8_prefix(label, kSubtotalLabelCapacity));
}

void XmlReader::Hauptteil(Node body) {
    std::vector<Range> open;
    Range bill;
    bill.body = body;
    bill.next = body.first_child();
    bill.subtotal_label = kLooseItems;
    open.push_back(std::move(bill));
    const bool has_ranges = static_cast<bool>(FindChild(body, "BoQCtgy"));
    std::string previous_top;

    while (true) {
        Range& range = open.back();
        const Node child = range.next;
        if (!child) {
            if (open.size() == 1) break;
            Range done = std::move(open.back());
            open.pop_back();
            leave_range(done, open.back());
            bid_range_end();
            forget(done.category);
            continue;
        }
        range.next = child.next_sibling();
        const std::string_view name = node_name(child);
        if (name == "BoQCtgy") {
            Range sub;
            sub.category = child;
            sub.body = ChildElement(child, "BoQBody");
            sub.next = sub.body.first_child();
            sub.level = range.level + 1;
            // A top range without number stands under the number of the top range before it.
            sub.oz = range.level == 0 ? previous_top : range.oz;
            if (HasAttribute(child, "RNoPart") && sub.level == 1) sub.oz.clear();
            enter_range(sub, range);
            bid_range(child);
            if (sub.level == 1 && HasAttribute(child, "RNoPart")) previous_top = sub.oz;
            open.push_back(std::move(sub));
        } else if (name == "Itemlist") {
            // Items standing directly in the bill's body get a subtotal only beside ranges.
            if (range.level > 0 || has_ranges) {
                if (m_rows.GroupFirstRow == 0) m_rows.GroupFirstRow = m_rows.Positions;
            }
            const std::string failure = range.level == 0 ? std::string("Hauptroutine-Itemlist\n\n")
                                        : range.level == 1
                                            ? std::string(
                                                  "XML-Modul-Hauptroutine, Verarbeitungsfehler im "
                                                  "Abschnitt \"Subbereich1\"\n\n")
                                            : change_over_text(range.level) + "\n\n";
            guarded(m_c, failure, [&] { item_list(range, child); });
            forget(child);
        }
    }

    const Range& whole = open.front();
    resolve_markup_references();
    if (m_st.bid)
        compare_totals("Gesamtsumme", child_path(m_doc.root(), {"Award", "BoQ", "BoQInfo"}), whole.cents);
    m_st.RangeOz.clear();
}

void XmlReader::enter_range(Range& range, Range& parent) {
    const Node category = range.category;
    const bool numbered = HasAttribute(category, "RNoPart");
    at(category);
    m_c.place.leave_item();
    RangeLabel label;
    if (numbered) {
        int digits = 0;  // a mask character that is no digit: the number as it stands
        guarded(m_c, "Funktion chkmaske\n\n", [&] { digits = range_digits(m_st, range.level); });
        range.oz = workbook::utf8_prefix(
            range.oz + funcFormatBereich(AttributeText(category, "RNoPart"), digits), kRangeOzCapacity);
        guarded(
            [&] {
                label = range.level == 1 ? first_span_label(category, range.oz)
                                         : all_spans_label(category, range.oz);
            },
            [&](const std::exception& e) {
                m_c.ui.message(label_failure_text(range.level) + range.oz + "\n\n" +
                               workbook::step_report(m_c.place, e));
            });
        // A range without label text still shows its number, on both sheets.
        if (label.heading.empty()) {
            label.heading = "LV-Bereich " + range.oz;
            label.subtotal = workbook::utf8_prefix(range.oz, kSubtotalLabelCapacity);
        }
        range.heading = label.heading;
        range.subtotal_label = label.subtotal;
    } else {
        // No number: no range heading of its own; a label it has is shown as it stands.
        label = all_spans_label(category, "");
        label.heading = label.text;
        range.heading = label.heading.empty() ? parent.heading : label.heading;
        range.subtotal_label = label.text.empty() ? parent.subtotal_label : label.text;
    }

    const std::string failure = range.level == 1
                                    ? "XML-Modul-Hauptroutine, BoQCtgy-Fehler im LV-Bereich " + range.oz
                                    : change_over_text(range.level);
    guarded(
        [&] {
            if (!label.heading.empty()) m_kinds.HierarchyRow(label.heading);
            label_text_rows(label, category);
            if (m_c.options.ExportNotesText) range_notes(range, range.heading);
        },
        [&](const std::exception& e) {
            m_c.ui.message(failure + "\n\n" + workbook::step_report(m_c.place, e));
        });
}

void XmlReader::leave_range(Range& range, Range& parent) {
    if (m_st.bid && HasAttribute(range.category, "RNoPart"))
        compare_totals(range.subtotal_label, range.category, range.cents);
    add_cents(parent.cents, range.cents);
}

// The text of LblTx that the heading does not show: the further paragraphs, and at level 1 the
// spans after the first; grouped under the heading like an item's long text.
void XmlReader::label_text_rows(const RangeLabel& label, Node category) {
    const Node lbl = ChildElement(category, "LblTx");
    if (!has_children(lbl)) return;
    const int32_t first = m_rows.Positions;
    TextFlow flow([&](std::string_view line) { SplitText(line, Target::Positions, nullptr); });
    for (Node child = lbl.first_child(); child; child = child.next_sibling()) {
        if (label.holder && child == label.holder) {
            if (label.first_span)
                for (Node rest = label.first_span.next_sibling(); rest; rest = rest.next_sibling())
                    flow.add_node(rest);
            flow.flush();
            continue;
        }
        // Spans straight in LblTx are the label when it was taken from LblTx itself.
        if (label.holder == lbl && node_name(child) == "span" &&
            (!label.first_span || child == label.first_span))
            continue;
        flow.add_node(child);
    }
    flow.flush();
    const int32_t last = m_rows.Positions - 1;
    if (last >= first) m_kinds.positions().group_rows(first, last);
}

void XmlReader::item_list(Range& range, Node list) {
    if (!has_children(list)) return;
    // Items straight in the bill's body carry no range number at all.
    m_st.RangeOz = range.level == 0
                       ? std::string()
                       : workbook::utf8_prefix(chkmaske(range.oz, m_st, m_c.ui), kRangeOzCapacity);
    m_list_rows.clear();
    for (Node child = list.first_child(), next; child; child = next) {
        next = child.next_sibling();
        const std::string_view name = node_name(child);
        if (name == "Item")
            add_cents(range.cents, convert_item(child));
        else if (name == "MarkupItem")
            add_cents(range.cents, convert_markup(child));
        else if (name == "PerfDescr")
            performance_description(child);
        else
            continue;
        forget(child);
    }
    m_c.place.leave_item();
    if (m_c.options.SubtotalsSheet && m_kinds.subtotal_formula()) subtotal_label_step(range.subtotal_label);
}

void XmlReader::compare_totals(std::string_view label, Node totals_holder, int64_t cents) {
    const std::string declared_text = inline_text(child_path(totals_holder, {"Totals", "Total"}));
    const auto declared = workbook::parse_decimal(workbook::trim_ctl(declared_text));
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

}  // namespace gaebxml
