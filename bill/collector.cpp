// SPDX-License-Identifier: MIT
#include "bill/collector.h"

namespace bill {

namespace {

// Blanks and control characters at both ends removed.
std::string trimmed(std::string_view s) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return std::string(s);
}

}  // namespace

void Collector::start(Format format) {
    m_bill.header.format = format;
}

void Collector::rules_line(std::string_view line) {
    m_bill.rules.emplace_back(line);
}

void Collector::begin(const Header& header) {
    const Format format = m_bill.header.format;
    m_bill.header = header;
    m_bill.header.format = format;
}

void Collector::header_field(HeaderField field, std::string_view value) {
    Header& h = m_bill.header;
    std::string v = trimmed(value);
    switch (field) {
        case HeaderField::Project:
            h.project_name = std::move(v);
            break;
        case HeaderField::ProjectLabel:
            h.project_label = std::move(v);
            break;
        case HeaderField::Name:
            h.name = std::move(v);
            break;
        case HeaderField::Label:
            h.label = std::move(v);
            break;
        case HeaderField::Date:
            h.date = iso_date(v);
            h.date_text = std::move(v);
            break;
        case HeaderField::Client:
            h.client = std::move(v);
            break;
        case HeaderField::Mask:
            h.mask = std::string(value);
            break;
        case HeaderField::Currency:
            h.currency = std::move(v);
            break;
        case HeaderField::CurrencyLabel:
            h.currency_label = std::move(v);
            break;
    }
}

void Collector::close_note() {
    if (!m_note_open) return;
    m_note_open = false;
    if (m_bill.notes.back().lines.empty() && m_bill.notes.back().item_oz.empty()) m_bill.notes.pop_back();
}

void Collector::enter_range(const Range& range) {
    close_note();
    m_builder.enter_range(range);
    m_owner = Owner::None;
}

void Collector::range_title(std::string_view title, TitlePlace) {
    close_note();
    Range& r = m_bill.ranges()[m_builder.current()];
    // A title as it stands in its fixed-width field: without the blanks that pad it.
    r.label = trimmed(title);
    r.label_written = r.label;
}

void Collector::leave_range(const RangeEnd& end) {
    close_note();
    if (m_builder.depth() == 0) return;
    Range& r = m_bill.ranges()[m_builder.current()];
    if (end.declared_total) r.declared_total = end.declared_total;
    m_builder.leave_range();
    m_owner = Owner::None;
}

void Collector::item(const Item& item) {
    close_note();
    m_builder.add_item(item);
    m_owner = Owner::Item;
}

void Collector::item_prices(const Prices& prices) {
    if (m_bill.items().empty()) return;
    Item& item = m_bill.items().back();
    if (prices.unit_price) item.unit_price = prices.unit_price;
    if (prices.total) item.total = prices.total;
}

void Collector::sub_description(const SubDescription& sub) {
    if (m_bill.items().empty()) return;
    m_bill.items().back().sub_descriptions.push_back(sub);
    m_owner = Owner::Sub;
}

void Collector::performance_description(const PerformanceDescription& perf) {
    close_note();
    m_builder.add_performance(perf);
    m_owner = Owner::Performance;
}

void Collector::text_line(TextKind kind, std::string_view line) {
    std::vector<std::string>* lines = nullptr;
    switch (m_owner) {
        case Owner::None:
            return;
        case Owner::Item: {
            Item& i = m_bill.items().back();
            lines = kind == TextKind::Short ? &i.short_text : &i.long_text;
            break;
        }
        case Owner::Sub: {
            SubDescription& s = m_bill.items().back().sub_descriptions.back();
            lines = kind == TextKind::Short ? &s.short_text : &s.long_text;
            break;
        }
        case Owner::Performance: {
            PerformanceDescription& p = m_bill.performance_descriptions().back();
            lines = kind == TextKind::Short ? &p.short_text : &p.long_text;
            break;
        }
    }
    lines->emplace_back(line);
}

void Collector::text_complement(const TextComplement& complement) {
    // A complement of a sub-description's text is the item's too.
    if (m_owner == Owner::Item || m_owner == Owner::Sub)
        m_bill.items().back().complements.push_back(complement);
}

void Collector::notes_begin(std::string_view item_oz) {
    close_note();
    m_bill.notes.push_back({m_builder.current(), std::string(item_oz), {}});
    m_note_open = true;
}

void Collector::note_line(std::string_view line) {
    if (!m_note_open) {
        m_bill.notes.push_back({m_builder.current(), {}, {}});
        m_note_open = true;
    }
    m_bill.notes.back().lines.emplace_back(line);
}

void Collector::notes_end() {
    close_note();
}

void Collector::faulty_line(std::string_view line) {
    m_bill.faulty_lines.emplace_back(line);
}

void Collector::fault(const Fault& fault) {
    m_bill.faults.push_back(fault);
}

void Collector::end(const End& end) {
    close_note();
    while (m_builder.depth() > 0) m_builder.leave_range();
    m_ending = end.how;
    m_bill.complete = end.how == Ending::Complete;
    m_bill.closing_record = end.closing_record;
    if (end.declared_total) m_bill.declared_total = end.declared_total;
}

}  // namespace bill
