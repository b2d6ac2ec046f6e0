// SPDX-License-Identifier: MIT
// The bill of a bid: the tender's ranges and items in document order, with the prices the
// estimator entered in the workbook. The readers fill it through a ModelBuilder; pricing sets the
// prices and totals; the X84 writer writes it out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/errors.h"

namespace angebot {

// Every failure of this folder: a German message for the user.
class AngebotError : public workbook::BremoraError {
public:
    explicit AngebotError(const std::string& message) : BremoraError("EAngebotError", message) {}
};

// One level of the OZ breakdown (DA XML BoQBkdn): the range levels, then the item, then the index.
enum class BreakdownType : uint8_t { Range, Item, Index };
struct Breakdown {
    BreakdownType type = BreakdownType::Range;
    int length = 0;
    bool numeric = true;    // Num: Yes for digits, No for an alphanumeric index
    std::string label;      // LblBoQBkdn, may be empty
    std::string alignment;  // "left" or "right" for an alphanumeric level, may be empty
    bool operator==(const Breakdown&) const = default;
};

// The breakdown of a GAEB 90 / GAEB 2000 mask: "1122PPPPI" gives ranges 2 and 2, item 4, index 1.
// Characters other than 1 to 9, P and I are ignored; empty when the mask has no item digit.
std::vector<Breakdown> breakdown_from_mask(std::string_view mask);

// An ISO date "2024-06-15" from "2024-06-15", "15.06.2024" or "15.06.24"; empty for anything else.
std::string iso_date(std::string_view text);

// The bill's own data, as the tender gives it; every field may be empty.
struct BillInfo {
    std::string project_name;   // PrjInfo/NamePrj
    std::string project_label;  // PrjInfo/LblPrj
    std::string boq_id;         // BoQ/@ID
    std::string name;           // BoQInfo/Name, the bill's short name
    std::string label;          // BoQInfo/LblBoQ
    std::string date;           // BoQInfo/Date, ISO (see iso_date)
    std::string currency;       // "EUR"; empty: EUR
    std::string currency_label;
    std::vector<Breakdown> breakdown;
};

// The bidder, from the options; empty name: the bid names no bidder.
struct Bidder {
    std::string name;
    std::vector<std::string> address;  // lines such as "Baustraße 1", "12345 Musterstadt"
};

// "Bedarfsposition": with or without a total of its own in the sums.
enum class Provis : uint8_t { None, WithTotal, WithoutTotal };
// What a surcharge item (DA XML MarkupItem) applies to.
enum class MarkupType : uint8_t { AllInCat, IdentAsMark, ListInSubQty };
struct MarkupRef {
    std::string item_id;                 // RefItem/@IDRef
    std::optional<double> sub_quantity;  // SubQty: only this quantity of the item
};

struct Item {
    std::string id;         // the tender's ID; empty: the writer makes one
    std::string oz;         // as column A of the workbook shows it, "01.02.0010"
    int32_t row = 0;        // its row in the workbook the reader made of the tender; 0: none
    std::string rno_part;   // "0010"
    std::string rno_index;  // "a", may be empty
    std::optional<double> quantity;
    std::string unit;
    Provis provis = Provis::None;
    bool alternative = false;     // an alternative item (ALNSerNo set): not in the sums
    bool markup_subject = false;  // MarkupIt: an IdentAsMark surcharge applies to it
    bool surcharge = false;       // a surcharge item: its price is a percentage
    MarkupType markup_type = MarkupType::AllInCat;
    std::vector<MarkupRef> markup_refs;
    // Whether the workbook made of the tender gives the item a total (column F); unknown: as its
    // kind says. See take_totals_from_workbook.
    std::optional<bool> total_in_workbook;

    // Set by pricing.
    std::optional<double> unit_price;     // UP; a surcharge's percentage (Markup)
    std::optional<double> quantity_used;  // the tender's quantity, else the bidder's from the workbook
    std::optional<double> markup_base;    // ITMarkup
    std::optional<int64_t> total_cents;   // IT in cents

    // An item without total keeps its unit price but gets no total and is not summed: as the
    // tender's workbook has it where that is known, else alternatives and contingencies without
    // total.
    bool counts_in_total() const {
        return total_in_workbook.value_or(!alternative && provis != Provis::WithoutTotal);
    }
};

// A child of a range: another range or an item, by its index in the model's lists.
struct Entry {
    bool is_range = false;
    uint32_t index = 0;
};

struct Range {
    std::string id;        // the tender's ID; empty: the writer makes one
    std::string rno_part;  // "01"
    std::string label;
    std::vector<Entry> children;  // document order
    uint32_t parent = 0;          // the root is its own parent
    int64_t total_cents = 0;      // set by pricing
};

class BillModel {
public:
    BillModel() : m_ranges(1) {}

    BillInfo info;

    // The bill itself, range 0: its children are the top ranges or its item list.
    const Range& root() const { return m_ranges[0]; }
    const std::vector<Range>& ranges() const { return m_ranges; }
    const std::vector<Item>& items() const { return m_items; }
    std::vector<Range>& ranges() { return m_ranges; }
    std::vector<Item>& items() { return m_items; }
    // The bill's total in cents, set by pricing.
    int64_t total_cents() const { return m_ranges[0].total_cents; }

private:
    friend class ModelBuilder;
    std::vector<Range> m_ranges;
    std::vector<Item> m_items;
};

// What the readers call while they walk the tender, in document order.
class ModelBuilder {
public:
    explicit ModelBuilder(BillModel& model) : m_model(model) {}

    // Opens a range inside the current one; ranges nest to any depth.
    void enter_range(std::string rno_part, std::string label, std::string id = {});
    // Closes the current range; at the bill itself it does nothing.
    void leave_range();
    // Adds an item to the current range. An empty rno_part (and rno_index) is taken from the OZ
    // by the breakdown in info (see oz_parts). Returns the stored item, valid until the next call.
    Item& add_item(Item item);
    // Adds an item under the ranges its OZ names, for bills that give their ranges only through
    // the OZ (GAEB 90, GAEB 2000): the OZ's first groups, as many as the breakdown in info has
    // range levels but never its last group, are the range numbers; ranges are left and entered
    // as they change from item to item. rno_part and rno_index come from the groups after them.
    Item& place_item(Item item);
    // Nesting depth: 0 at the bill itself.
    int depth() const { return m_depth; }
    BillModel& model() { return m_model; }

private:
    BillModel& m_model;
    uint32_t m_current = 0;
    int m_depth = 0;
};

// Item number and index of an OZ with `range_levels` range groups: "01.02.0010.a" with 2 gives
// {"0010", "a"}; groups are split at dots; missing groups give empty texts.
struct OzParts {
    std::string rno_part;
    std::string rno_index;
};
OzParts oz_parts(std::string_view oz, int range_levels);
// Number of range levels of a breakdown.
int range_levels(const std::vector<Breakdown>& breakdown);

}  // namespace angebot
