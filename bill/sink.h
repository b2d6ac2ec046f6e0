// SPDX-License-Identifier: MIT
// The one interface every reader speaks: what it reads, reported to a Sink as events in document
// order, one call per thing read; its progress and its questions to a Run. Nothing of a bill needs
// to be held in memory by a reader to report it, and a sink keeps only what it needs: the
// workbook's layout writes rows as they come, the Collector builds a Bill.
//
// The order of a run: start; then, unless the input is refused, begin and the body; end last. A
// fault may come at any time. Text lines belong to the item, sub-description or performance
// description reported last; a range holds what is reported between its enter_range and its
// leave_range (readers report them balanced).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "bill/bill.h"

namespace bill {

// How reading ended.
enum class Ending : uint8_t {
    Complete,    // read to its end: the outputs are finished
    Incomplete,  // read as far as it went; the outputs are finished all the same, but it is no success
    GaveUp,      // the reader gave up mid-way: the outputs are tidied as they stand
    Failed,      // an unexpected failure: nothing more is done with the outputs
    Refused,     // refused before anything of the bill was read: nothing is to be kept
};

struct End {
    Ending how = Ending::Complete;
    // The file's closing record was seen (GAEB 90 record 99, GAEB 2000 "#end[GAEB]"); false: the
    // file ends without it and may have been cut off, what was read is no whole bill.
    bool closing_record = true;
    // The bill's total as the file states it (DA XML BoQInfo/Totals/Total), as parsed.
    std::optional<double> declared_total;
};

// Thrown from an event by a sink that can take no more (a sheet without rows left): the sink has
// ended its outputs and told the user why. Deliberately no std::exception, so that no guarded step
// of a reader reports it; the reader's entry catches it and returns.
struct Stop {
    Ending how = Ending::GaveUp;
};

// A range is left: by its own end (GAEB 90 record 31), or because a range around it or the bill
// ended.
struct RangeEnd {
    bool by_end_record = false;
    std::optional<double> declared_total;  // the range's total as the file states it (DA XML Totals)
};

// GAEB 90 record 23: the prices of the item reported last, in a record of their own.
struct Prices {
    std::optional<double> unit_price;
    std::optional<double> total;
};

// A run of items of the current range (a DA XML Itemlist, a GAEB 2000 run of item blocks).
struct ItemList {
    // The run forms a group of its own with a subtotal: always, except DA XML items standing in
    // the bill's body when the bill has no ranges.
    bool grouped = true;
};

enum class TextKind : uint8_t { Short, Long };

// An item a surcharge names that the bill has: its number among the item events of the run (0 for
// the first item reported, surcharges counted too), and the part quantity the surcharge takes of it.
struct ItemReference {
    uint32_t item = 0;
    std::optional<double> sub_quantity;
};

// Where a title record stands: right after its range's own record, right after another title
// record (it continues that title), or elsewhere.
enum class TitlePlace : uint8_t { AfterRange, AfterTitle, Alone };

class Sink {
public:
    virtual ~Sink() = default;

    // Reading has begun, before the input is opened: the first event of every run.
    virtual void start(Format format) = 0;
    // GAEB 90: the file holds contractual rules, and they are to be read; then their lines.
    virtual void rules_begin() = 0;
    virtual void rules_line(std::string_view line) = 0;
    // The bill's exchange phase is accepted: its header as far as it is known here.
    virtual void begin(const Header& header) = 0;
    // A field of the header block, as the file gives it (GAEB 90 records 01 to 03 may come any
    // time and again).
    virtual void header_field(HeaderField field, std::string_view value) = 0;
    // The OZ breakdown, where the file gives it only after the bill began (GAEB 2000: the
    // LVGlied blocks of LVInfo).
    virtual void breakdown(const std::vector<Breakdown>& levels) = 0;

    virtual void enter_range(const Range& range) = 0;
    // GAEB 90 record 12: the label of the range entered last arrives after it. A title record
    // right after another continues the label (`title` is then the whole label so far).
    virtual void range_title(std::string_view title, TitlePlace place) = 0;
    virtual void leave_range(const RangeEnd& end) = 0;
    virtual void items_begin(const ItemList& list) = 0;
    virtual void items_end() = 0;

    // An item, without its texts (they follow as text lines) and sub-descriptions.
    virtual void item(const Item& item) = 0;
    virtual void item_prices(const Prices& prices) = 0;
    virtual void sub_description(const SubDescription& sub) = 0;
    virtual void performance_description(const PerformanceDescription& perf) = 0;
    // One line of text (a paragraph may be long; cutting it is the output's business).
    virtual void text_line(TextKind kind, std::string_view line) = 0;
    // A text complement of the long text being reported: what the owner or the bidder fills in.
    virtual void text_complement(const TextComplement& complement) = 0;
    // The long text follows (also when it has no lines); its lines are one block.
    virtual void long_text_begin() = 0;
    // The texts of the current item, its sub-descriptions included, or of the current performance
    // description are complete.
    virtual void texts_end() = 0;
    // DA XML, once all items are reported (a surcharge may name items after it): the items a
    // ListInSubQty surcharge without base names, as far as the bill has them, in its order;
    // `surcharge` is the surcharge's number among the item events. Item::markup_refs holds what
    // the file names, found or not.
    virtual void surcharge_items(uint32_t surcharge, const std::vector<ItemReference>& items) = 0;

    // A note of the current range (or of the bill) begins; with an OZ it is that item's additional
    // text. GAEB 90 reports its notes lines without begin and end: they belong to the range.
    virtual void notes_begin(std::string_view item_oz) = 0;
    virtual void note_line(std::string_view line) = 0;
    virtual void notes_end() = 0;

    // GAEB 90: a record that no handler takes, as read.
    virtual void faulty_line(std::string_view line) = 0;
    // A fault of the input or of reading it; the message is shown in the order faults come.
    virtual void fault(const Fault& fault) = 0;
    // The last event of a run (unless the sink stopped it).
    virtual void end(const End& end) = 0;
};

// Sends every event to two sinks, the first first.
class Tee : public Sink {
public:
    Tee(Sink& first, Sink& second) : m_a(first), m_b(second) {}
    void start(Format f) override { m_a.start(f), m_b.start(f); }
    void rules_begin() override { m_a.rules_begin(), m_b.rules_begin(); }
    void rules_line(std::string_view l) override { m_a.rules_line(l), m_b.rules_line(l); }
    void begin(const Header& h) override { m_a.begin(h), m_b.begin(h); }
    void header_field(HeaderField f, std::string_view v) override {
        m_a.header_field(f, v), m_b.header_field(f, v);
    }
    void breakdown(const std::vector<Breakdown>& l) override { m_a.breakdown(l), m_b.breakdown(l); }
    void enter_range(const Range& r) override { m_a.enter_range(r), m_b.enter_range(r); }
    void range_title(std::string_view t, TitlePlace p) override {
        m_a.range_title(t, p), m_b.range_title(t, p);
    }
    void leave_range(const RangeEnd& e) override { m_a.leave_range(e), m_b.leave_range(e); }
    void items_begin(const ItemList& l) override { m_a.items_begin(l), m_b.items_begin(l); }
    void items_end() override { m_a.items_end(), m_b.items_end(); }
    void item(const Item& i) override { m_a.item(i), m_b.item(i); }
    void item_prices(const Prices& p) override { m_a.item_prices(p), m_b.item_prices(p); }
    void sub_description(const SubDescription& s) override { m_a.sub_description(s), m_b.sub_description(s); }
    void performance_description(const PerformanceDescription& p) override {
        m_a.performance_description(p), m_b.performance_description(p);
    }
    void text_line(TextKind k, std::string_view l) override { m_a.text_line(k, l), m_b.text_line(k, l); }
    void text_complement(const TextComplement& c) override { m_a.text_complement(c), m_b.text_complement(c); }
    void long_text_begin() override { m_a.long_text_begin(), m_b.long_text_begin(); }
    void texts_end() override { m_a.texts_end(), m_b.texts_end(); }
    void surcharge_items(uint32_t s, const std::vector<ItemReference>& i) override {
        m_a.surcharge_items(s, i), m_b.surcharge_items(s, i);
    }
    void notes_begin(std::string_view oz) override { m_a.notes_begin(oz), m_b.notes_begin(oz); }
    void note_line(std::string_view l) override { m_a.note_line(l), m_b.note_line(l); }
    void notes_end() override { m_a.notes_end(), m_b.notes_end(); }
    void faulty_line(std::string_view l) override { m_a.faulty_line(l), m_b.faulty_line(l); }
    void fault(const Fault& f) override { m_a.fault(f), m_b.fault(f); }
    void end(const End& e) override { m_a.end(e), m_b.end(e); }

private:
    Sink& m_a;
    Sink& m_b;
};

// What a reader tells the user besides the bill: its progress, and the questions it asks (the
// GAEB 90 contractual rules). Every function may be left as it is: no display, "no" to questions.
class Run {
public:
    virtual ~Run() = default;
    virtual void progress_maximum(int64_t) {}
    virtual void progress_step(int64_t) {}
    virtual void progress_position(int64_t) {}
    // A yes/no question; the time spent answering does not count as the run's.
    virtual bool ask_yes_no(std::string_view) { return false; }
    // Long work without a display of its own (loading, searching).
    virtual void busy(bool) {}
    // Lets the front end breathe between steps; cheap.
    virtual void process_events() {}
};

}  // namespace bill
