// SPDX-License-Identifier: MIT
// The bill of quantities as data, independent of any output: the header with the project data and
// the OZ breakdown, the ranges nested in document order, the items with their kind, quantity,
// unit, texts, prices and references, the notes, the contractual rules and faulty lines of GAEB 90,
// and the faults met while reading. The readers report a bill through bill::Sink (sink.h);
// bill::Collector (collector.h) gathers the reports into a Bill. docs/lv_modell.md names the
// record, key or element every field comes from in each format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bill {

enum class Format : uint8_t { Gaeb90, Gaeb2000, Xml };

// One level of the OZ breakdown: the range levels, then the item, then the index.
enum class BreakdownType : uint8_t { Range, Item, Index };
struct Breakdown {
    BreakdownType type = BreakdownType::Range;
    int length = 0;
    bool numeric = true;      // digits; false for an alphanumeric level (an index)
    std::string label{};      // DA XML LblBoQBkdn, may be empty
    std::string alignment{};  // "left" or "right" for an alphanumeric level, may be empty
    bool operator==(const Breakdown&) const = default;
};

// The breakdown of a mask as GAEB 90 and GAEB 2000 write it: "1122PPPPI" gives ranges 2 and 2,
// item 4, index 1. Characters other than 1 to 9, P and I are ignored; empty when the mask has no
// item digit.
std::vector<Breakdown> breakdown_from_mask(std::string_view mask);
// Number of range levels of a breakdown.
int range_levels(const std::vector<Breakdown>& breakdown);

// An ISO date "2024-06-15" from "2024-06-15", "15.06.2024" or "15.06.24"; empty for anything else.
std::string iso_date(std::string_view text);

// Item number and index of an OZ with `range_levels` range groups: "01.02.0010.a" with 2 gives
// {"0010", "a"}; groups are split at dots; missing groups give empty texts.
struct OzParts {
    std::string rno_part{};
    std::string rno_index{};
};
OzParts oz_parts(std::string_view oz, int range_levels);
// "01.02.0010" -> "01", "02", "0010"; views into `oz`.
std::vector<std::string_view> oz_groups(std::string_view oz);

// The fields of the header block, as the readers report them one by one.
enum class HeaderField : uint8_t {
    Project,        // project name
    ProjectLabel,   // project designation (DA XML)
    Name,           // the bill's name
    Label,          // the bill's designation (DA XML)
    Date,           // the bill's date as the file writes it
    Client,         // the client's name
    Mask,           // the OZ mask as the file gives it
    Currency,       // "EUR"
    CurrencyLabel,  // "Euro"
};

// What the file says of the bill itself; every text may be empty.
struct Header {
    Format format = Format::Xml;
    std::string version{};         // the format's version as the file names it ("3.3", "1.2")
    std::string exchange_phase{};  // "83", as the file writes it
    std::string charset{};         // the character set the file was decoded from
    std::string mask{};            // the OZ mask as the file gives it: "1122PPPPI", "24", "2241"
    std::vector<Breakdown> breakdown{};
    std::string project_name{};
    std::string project_label{};
    std::string client{};
    std::string boq_id{};  // DA XML BoQ/@ID
    std::string name{};
    std::string label{};
    std::string date{};       // ISO (iso_date), empty when the file's date is none
    std::string date_text{};  // as the file writes it
    std::string currency{};   // empty: EUR
    std::string currency_label{};
};

// "Bedarfsposition": a contingency item, with or without a total of its own in the sums.
enum class Provis : uint8_t { None, WithTotal, WithoutTotal };
// What a surcharge item (DA XML MarkupItem) applies to.
enum class MarkupType : uint8_t { AllInCat, IdentAsMark, ListInSubQty };
struct MarkupRef {
    std::string item_id{};                 // RefItem/@IDRef
    std::optional<double> sub_quantity{};  // SubQty: only this quantity of the item
};

// A text complement of a long text (DA XML TextComplement): what the owner or the bidder fills in.
struct TextComplement {
    enum class Owner : uint8_t { Owner, Bidder } owner = Owner::Owner;
    std::string mark{};  // MarkLbl
    std::string caption, body, tail;
};

// A sub-description of an item: GAEB 90 record 24, GAEB 2000 UnterBeschr, DA XML SubDescr.
struct SubDescription {
    std::string number{};              // as the file writes it; may be empty
    std::optional<double> quantity{};  // where the file gives one that is a number
    std::string quantity_text{};       // as it is shown: GAEB 90 "12,500"; empty: none given
    std::string unit{};
    std::vector<std::string> short_text, long_text;
};

// A performance description (DA XML PerfDescr) standing between the items it serves.
struct PerformanceDescription {
    std::string number{};  // PerfNo
    std::string label{};   // PerfLbl
    std::vector<std::string> short_text, long_text;
};

struct Item {
    std::string oz{};         // the full ordinal number as the workbook shows it, "01.02.0010"
    std::string id{};         // the file's ID (DA XML); empty: none
    std::string rno_part{};   // "0010"
    std::string rno_index{};  // "a", may be empty
    // The format's own code of the item's kind: GAEB 90 columns 12-14 ("NNN", "NEN", ...), GAEB
    // 2000 "[Bedarf]" ("E", "M", ...); empty in DA XML, whose kinds are the flags below.
    std::string kind_code{};
    Provis provis = Provis::None;
    bool alternative = false;         // an alternative item: not in the sums
    std::string aln_group{};          // DA XML ALNGroupNo
    std::string aln_serial{};         // DA XML ALNSerNo
    bool basic = false;               // a basic item ("Grundposition")
    bool lump_sum = false;            // DA XML LumpSumItem
    bool quantity_by_bidder = false;  // DA XML QtyTBD: the bidder states the quantity
    bool markup_subject = false;      // MarkupIt: an IdentAsMark surcharge applies to it
    bool surcharge = false;           // a surcharge item (DA XML MarkupItem): its price is a percentage
    MarkupType markup_type = MarkupType::AllInCat;
    std::vector<MarkupRef> markup_refs{};
    // The one rule of "has a total of its own": the workbook writes the item's total price and the
    // bid sums it exactly when this is set. The reader sets it from the format's kind.
    bool has_total = true;

    std::optional<double> quantity{};
    bool quantity_unreadable = false;  // the file gives a quantity that is no number
    std::string unit{};
    std::optional<double> unit_price{};      // the file's (phase 84), else set by pricing; a surcharge's rate
    bool unit_price_unreadable = false;      // the file gives a unit price that is no number
    int unit_price_decimals = 0;             // decimals the file writes (trailing zeros not counted)
    std::optional<double> markup_base{};     // a surcharge's base (ITMarkup), the file's or pricing's
    std::optional<double> total{};           // the total price as the file gives it (phase 84)
    std::optional<int64_t> total_cents{};    // the total price in cents, set by pricing
    std::optional<double> quantity_used{};   // set by pricing: the quantity the bid states
    std::vector<double> price_components{};  // DA XML UPComp1 to UPComp6 as the file gives them
    std::optional<double> discount_percent{};  // DA XML DiscountPcnt

    std::vector<std::string> short_text, long_text;
    std::vector<TextComplement> complements{};
    std::vector<SubDescription> sub_descriptions{};

    // An item without total keeps its unit price but gets no total and is not summed.
    bool counts_in_total() const { return has_total; }
};

// A child of a range: another range, an item or a performance description, by its index in the
// bill's lists.
struct Entry {
    enum class Kind : uint8_t { Range, Item, Performance } kind = Kind::Item;
    uint32_t index = 0;
    bool is_range() const { return kind == Kind::Range; }
    bool is_item() const { return kind == Kind::Item; }
};

struct Range {
    std::string id{};                        // the file's ID (DA XML); empty: none
    std::string oz{};                        // the range's number as the workbook shows it, "01.02."
    std::string rno_part{};                  // its own part, "02"
    bool has_number = true;                  // DA XML: the range has an RNoPart of its own
    bool has_ranges = false;                 // GAEB 2000: the range holds ranges of its own
    int level = 1;                           // 1 for a range of the bill itself
    std::string label{};                     // the heading's text
    std::string label_written{};             // the label's spans joined as the file writes them (DA XML)
    std::vector<std::string> text{};         // label text beyond the heading (DA XML LblTx)
    std::vector<Entry> children{};           // document order
    uint32_t parent = 0;                     // the bill (range 0) is its own parent
    std::optional<double> declared_total{};  // the total the file states for it
    int64_t total_cents = 0;                 // set by pricing
};

// Notes ("Hinweistext"): of a range, of the bill, or an item's additional text.
struct Note {
    uint32_t range = 0;     // the range it stands under; 0: the bill
    std::string item_oz{};  // the item an additional text belongs to; empty: none
    std::vector<std::string> lines{};
};

// A place in the input: line and column (1-based, 0 unknown) and the item's OZ.
struct Place {
    int64_t line = 0;
    int64_t column = 0;
    bool in_item = false;
    std::string oz{};
};

// A fault of the input, or of reading it, with the message the user is shown.
struct Fault {
    Place place;
    std::string text{};  // the whole message, as shown
    bool error = false;  // shown as an error rather than a message
};

class Bill {
public:
    Bill() : m_ranges(1) {}

    Header header;
    std::vector<Note> notes{};
    std::vector<std::string> rules{};         // GAEB 90 contractual rules (T1 lines)
    std::vector<std::string> faulty_lines{};  // GAEB 90 records no handler takes
    std::vector<Fault> faults{};
    std::optional<double> declared_total{};  // the bill's total as the file states it
    bool complete = false;                   // read to its end
    bool closing_record = false;             // the file's closing record was seen

    // The bill itself, range 0: its children are the top ranges or its item list.
    const Range& root() const { return m_ranges[0]; }
    const std::vector<Range>& ranges() const { return m_ranges; }
    const std::vector<Item>& items() const { return m_items; }
    const std::vector<PerformanceDescription>& performance_descriptions() const { return m_performances; }
    std::vector<Range>& ranges() { return m_ranges; }
    std::vector<Item>& items() { return m_items; }
    std::vector<PerformanceDescription>& performance_descriptions() { return m_performances; }
    // The bill's total in cents, set by pricing.
    int64_t total_cents() const { return m_ranges[0].total_cents; }

private:
    friend class Builder;
    std::vector<Range> m_ranges{};
    std::vector<Item> m_items{};
    std::vector<PerformanceDescription> m_performances{};
};

// Builds a Bill in document order: ranges are entered and left, items added to the range entered
// last.
class Builder {
public:
    explicit Builder(Bill& bill) : m_bill(bill) {}

    // Opens a range inside the current one; ranges nest to any depth. Returns it, valid until the
    // next call.
    Range& enter_range(Range range);
    // Closes the current range; at the bill itself it does nothing.
    void leave_range();
    // Adds an item to the current range. An empty rno_part (and rno_index) is taken from the OZ by
    // the header's breakdown (see oz_parts). Returns the stored item, valid until the next call.
    Item& add_item(Item item);
    // Adds an item under the ranges its OZ names: the OZ's first groups, as many as the breakdown
    // has range levels but never its last group, are the range numbers; ranges are left and
    // entered as they change from item to item. rno_part and rno_index come from the groups after
    // them.
    Item& place_item(Item item);
    PerformanceDescription& add_performance(PerformanceDescription perf);
    // Nesting depth: 0 at the bill itself; the current range.
    int depth() const { return m_depth; }
    uint32_t current() const { return m_current; }
    Bill& bill() { return m_bill; }

private:
    Bill& m_bill;
    uint32_t m_current = 0;
    int m_depth = 0;
};

}  // namespace bill
