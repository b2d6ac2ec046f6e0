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
#include "workbook/text.h"

namespace gaebxml {

using workbook::guarded;

namespace {

std::string change_over_text(int level) {
    return fmt::format("Fehler beim Wechsel in die {}. Bereichstufe BoQCtgy", level);
}

std::string label_failure_text(int level) {
    if (level <= 1) return "Kann die LV-Bezeichnung (BoQCtgy) nicht ermitteln\nLV-Bereich ";
    return fmt::format("Kann die Sub{0}-LV-Bezeichnung (BoQCtgy) nicht ermitteln\nSubbereich{0} ", level - 1);
}

}  // namespace

void XmlReader::Hauptteil(Node body) {
    std::vector<Range> open;
    Range bill;
    bill.body = body;
    bill.next = body.first_child();
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
            m_r.sink.leave_range({false, declared_total(done.category)});
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
            enter_range(sub);
            if (sub.level == 1 && HasAttribute(child, "RNoPart")) previous_top = sub.oz;
            open.push_back(std::move(sub));
        } else if (name == "Itemlist") {
            // Items standing directly in the bill's body get a subtotal only beside ranges.
            m_r.sink.items_begin({range.level > 0 || has_ranges});
            const std::string failure = range.level == 0 ? std::string("Hauptroutine-Itemlist\n\n")
                                        : range.level == 1
                                            ? std::string(
                                                  "XML-Modul-Hauptroutine, Verarbeitungsfehler im "
                                                  "Abschnitt \"Subbereich1\"\n\n")
                                            : change_over_text(range.level) + "\n\n";
            guarded(m_r, failure, [&] { item_list(range, child); });
            forget(child);
        }
    }

    check_markup_references();
    m_st.RangeOz.clear();
}

void XmlReader::enter_range(Range& range) {
    const Node category = range.category;
    const bool numbered = HasAttribute(category, "RNoPart");
    at(category);
    m_r.place.leave_item();
    RangeLabel label;
    bill::Range out;
    out.id = std::string(workbook::trim_ctl(AttributeText(category, "ID")));
    out.rno_part = std::string(workbook::trim_ctl(AttributeText(category, "RNoPart")));
    out.has_number = numbered;
    out.level = range.level;
    if (numbered) {
        int digits = 0;  // a mask character that is no digit: the number as it stands
        guarded(m_r, "Funktion chkmaske\n\n", [&] { digits = range_digits(m_st, range.level); });
        range.oz = workbook::utf8_prefix(
            range.oz + funcFormatBereich(AttributeText(category, "RNoPart"), digits), kRangeOzCapacity);
        guarded([&] { label = range.level == 1 ? first_span_label(category) : all_spans_label(category); },
                [&](const std::exception& e) {
                    m_r.fault(label_failure_text(range.level) + range.oz + "\n\n" +
                              workbook::step_report(m_r.place, e));
                });
    } else {
        // No number: no range heading of its own; a label it has is shown as it stands.
        label = all_spans_label(category);
    }
    out.oz = range.oz;
    out.label = label.text;
    out.label_written = label.written;

    const std::string failure = range.level == 1
                                    ? "XML-Modul-Hauptroutine, BoQCtgy-Fehler im LV-Bereich " + range.oz
                                    : change_over_text(range.level);
    guarded(
        [&] {
            out.text = label_text(label, category);
            m_r.sink.enter_range(out);
            if (m_r.options.ExportNotesText) range_notes(range);
        },
        [&](const std::exception& e) { m_r.fault(failure + "\n\n" + workbook::step_report(m_r.place, e)); });
}

std::vector<std::string> XmlReader::label_text(const RangeLabel& label, Node category) {
    std::vector<std::string> lines;
    const Node lbl = ChildElement(category, "LblTx");
    if (!has_children(lbl)) return lines;
    TextFlow flow([&](std::string_view line) { lines.emplace_back(line); });
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
    return lines;
}

void XmlReader::item_list(Range& range, Node list) {
    if (!has_children(list)) return;
    // Items straight in the bill's body carry no range number at all.
    m_st.RangeOz =
        range.level == 0
            ? std::string()
            : workbook::utf8_prefix(
                  chkmaske(range.oz, m_st, [&](std::string fault) { m_r.fault(std::move(fault)); }),
                  kRangeOzCapacity);
    for (Node child = list.first_child(), next; child; child = next) {
        next = child.next_sibling();
        const std::string_view name = node_name(child);
        if (name == "Item")
            convert_item(child);
        else if (name == "MarkupItem")
            convert_markup(child);
        else if (name == "PerfDescr")
            performance_description(child);
        else
            continue;
        forget(child);
    }
    m_r.place.leave_item();
    m_r.sink.items_end();
}

}  // namespace gaebxml
