// SPDX-License-Identifier: MIT
// The sink that gathers what a reader reports into a Bill: ranges nested as entered and left,
// items with their texts and sub-descriptions, notes under their range, faults, how reading ended.
#pragma once

#include "bill/bill.h"
#include "bill/sink.h"

namespace bill {

class Collector : public Sink {
public:
    Collector() : m_builder(m_bill) {}
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    Bill& bill() { return m_bill; }
    const Bill& bill() const { return m_bill; }
    // How reading ended; Refused until an end was reported.
    Ending ending() const { return m_ending; }

    void start(Format format) override;
    void rules_begin() override {}
    void rules_line(std::string_view line) override;
    void begin(const Header& header) override;
    void header_field(HeaderField field, std::string_view value) override;
    void breakdown(const std::vector<Breakdown>& levels) override { m_bill.header.breakdown = levels; }
    void enter_range(const Range& range) override;
    void range_title(std::string_view title, TitlePlace place) override;
    void leave_range(const RangeEnd& end) override;
    void items_begin(const ItemList&) override {}
    void items_end() override {}
    void item(const Item& item) override;
    void item_prices(const Prices& prices) override;
    void sub_description(const SubDescription& sub) override;
    void performance_description(const PerformanceDescription& perf) override;
    void text_line(TextKind kind, std::string_view line) override;
    void text_complement(const TextComplement& complement) override;
    void long_text_begin() override {}
    void texts_end() override {}
    // The bill keeps the references as the file names them (Item::markup_refs).
    void surcharge_items(uint32_t, const std::vector<ItemReference>&) override {}
    void notes_begin(std::string_view item_oz) override;
    void note_line(std::string_view line) override;
    void notes_end() override;
    void faulty_line(std::string_view line) override;
    void fault(const Fault& fault) override;
    void end(const End& end) override;

private:
    // Where text lines go: the item, sub-description or performance description reported last.
    enum class Owner : uint8_t { None, Item, Sub, Performance };
    void close_note();

    Bill m_bill;
    Builder m_builder;
    Owner m_owner = Owner::None;
    bool m_note_open = false;
    Ending m_ending = Ending::Refused;
};

}  // namespace bill
