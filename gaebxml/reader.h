// SPDX-License-Identifier: MIT
// The GAEB DA XML reader: document, state of one conversion, the walk over ranges and items,
// and the text writers. Internal to gaebxml/; the entry point is gaebxml.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gaebxml/text_flow.h"
#include "gaebxml/xml_document.h"
#include "workbook/conversion.h"
#include "workbook/rows.h"
#include "workbook/text.h"

namespace gaebxml {

// Fixed-capacity text fields of the reader, in characters.
inline constexpr size_t kPhaseCapacity = 50;
inline constexpr size_t kOzMaskCapacity = 100;
inline constexpr size_t kRangeOzCapacity = 100;
inline constexpr size_t kSubtotalLabelCapacity = 140;
inline constexpr size_t kUnitCapacity = 50;
// Texts are cut into rows of at most this many characters.
inline constexpr size_t kLineLength = 140;
// A number group is never padded beyond this: a Length of a billion digits is no bill.
inline constexpr int kMaxGroupLength = 1000;

// The totals of a bid summed in cents with a check: an amount of 10^15 or more (a double has lost
// the cents long before; int64 cents would wrap at 9.2 * 10^16) makes a sum "too large" for good
// (kCentsTooLarge); no sum ever wraps.
inline constexpr int64_t kCentsTooLarge = INT64_MIN;
inline constexpr int64_t kMaxCents = 100'000'000'000'000'000;  // 10^15 in cents
// The cents of an amount of the file, or kCentsTooLarge.
int64_t cents_of(double amount);
// sum += cents, or kCentsTooLarge when either is or the sum reaches kMaxCents.
void add_cents(int64_t& sum, int64_t cents);

// One per conversion.
struct XmlReaderState {
    std::string Phase;
    std::string OzMask;      // one digit per BoQBkdn, e.g. "2241"
    std::string ItemLength;  // Length of the BoQBkdn of type Item
    std::string IndexLength = "0";
    int MaskLength = 0;
    std::string RangeOz;  // "01.02."
    std::string ItemOz;
    bool bid = false;      // phases 84 and 86: the bid layout with the file's prices
    int item_digits = 0;   // ItemLength as a number; 0 writes the item number as it stands
    int index_digits = 0;  // IndexLength as a number
};

// The exchange phase as the file names it (Award/DP, or the DP of another part such as
// Invoice), without the blanks around it.
std::string exchange_phase(Node root);
// Phases 80 to 84 and 86 are converted; 85 and 87 to 89 (with a letter after them or not) are
// phases the reader knows but does not convert.
bool accepted_phase(std::string_view phase);
bool known_unconverted_phase(std::string_view phase);

// Number of range levels: one mask digit each for the item and the index, when there are those.
int range_levels(const XmlReaderState& st);
// Digits of range level `level` (1-based): the mask's digit for a level the mask has, else 0
// (a deeper level than the mask knows keeps its number as it stands). Throws ConvertError for a
// mask character that is no digit.
int range_digits(const XmlReaderState& st, int level);

// "03." for part 3 and length 2; the part as it stands and a dot for a length <= 0.
std::string funcFormatBereich(std::string_view part, int length);
// "0010" for part 10 and length 4; the part as it stands for a length <= 0.
std::string funcFormatItem(std::string_view part, int length);
// The digit count of breakdown level `level` (1-based), from the mask. Throws ConvertError.
int mask_digit(std::string_view mask, int level);
// A Length text as a number of digits. Throws ConvertError when it is none or too large.
int length_number(std::string_view text);
// The range number filled with zero groups up to all range levels: with mask 22241, "01.02."
// becomes "01.02.00.". A mask character that is no digit ends the filling with "Funktion
// chkmaske" on `ui`; the number filled so far is returned.
std::string chkmaske(std::string_view oz, const XmlReaderState& st, workbook::Frontend& ui);

// A range label: `heading` for the blue row of Positionsteil, `subtotal` for Teilsummen.
// `holder` is the paragraph (or LblTx itself) the label was taken from, and `first_span` the
// span of it when only that one was taken; the text of LblTx beyond them follows as text rows.
struct RangeLabel {
    std::string heading;
    std::string subtotal;
    std::string text;  // the spans taken, joined by blanks
    Node holder;
    Node first_span;
};
// Level 1: the first span of the first paragraph (or of LblTx itself).
RangeLabel first_span_label(Node category, std::string_view range_oz);
// Levels 2 and deeper: all spans of the first paragraph (or of LblTx itself).
RangeLabel all_spans_label(Node category, std::string_view range_oz);

// Calls `line` with each row of at most 140 characters: cut at the last blank among the first
// 140 characters (the blank stays at the line's end), or at 140 when there is none. `last` tells
// whether it is the rest of the text.
template <class F>
void for_each_line(std::string_view text, F&& line);

class XmlReader {
public:
    explicit XmlReader(workbook::Conversion& c) : m_c(c), m_kinds(c, m_rows) {
        m_c.place.set_locator(&m_doc);
    }
    ~XmlReader() { m_c.place.clear(); }
    XmlReader(const XmlReader&) = delete;
    XmlReader& operator=(const XmlReader&) = delete;

    // Steps after the open check: load, root, mask, phase, header, notes, walk, finishing pass.
    void XML_start();

private:
    void refuse(std::string_view text);
    // The digits of all BoQBkdn lengths; sets ItemLength and IndexLength.
    std::string funcOZMaske(Node root);
    void item_lengths();
    void Kopfdaten(Node root);

    // Range walk, to any depth (hierarchy.cpp). One range being walked, or the bill (level 0).
    struct Range {
        Node category;  // null for the bill
        Node body;
        Node next;  // the next child of `body` to walk
        int level = 0;
        std::string oz;              // RangeOz of what stands in this range
        std::string heading;         // heading row text, also the heading of its notes
        std::string subtotal_label;  // Teilsummen label of its item lists
        int64_t cents = 0;           // bid layout: the totals written into F inside it (add_cents)
    };
    void Hauptteil(Node body);
    void enter_range(Range& range, Range& parent);
    void leave_range(Range& range, Range& parent);
    void label_text_rows(const RangeLabel& label, Node category);
    void item_list(Range& range, Node list);
    void subtotal_label_step(std::string_view label);
    void range_notes(const Range& range, std::string_view heading);
    void bill_notes(Node root, Node body);
    void compare_totals(std::string_view label, Node totals_holder, int64_t cents);

    // Items (items.cpp); both return the cents written into F (bid layout; cents_of).
    int64_t convert_item(Node item);
    int64_t convert_markup(Node item);
    void base_formula(int32_t row, bool marked_only);
    void write_base(int32_t row, const std::string& formula);
    void performance_description(Node perf);
    std::string item_number(Node item);
    void item_texts(Node item);
    void sub_descriptions(Node item);
    // The number of a value text, or nullopt; a text that is no number is reported with the
    // place of `element`, the value's element, and the OZ.
    std::optional<double> number_of(std::string_view text, const char* what, Node element);
    // The reader stands at this node.
    void at(Node n) { m_c.place.at_offset(XmlDocument::offset_of(n)); }
    // A converted part of the body leaves the document, and with it the memory of its nodes:
    // nothing reads it again.
    static void forget(Node n) { n.parent().remove_child(n); }
    void resolve_markup_references();

    // The bill model of a bid, when one is being made (bid_model.cpp); no-ops otherwise.
    void bid_info(Node root);
    void bid_range(Node category);
    void bid_range_end();
    void bid_item(Node item, int32_t row, std::optional<double> quantity, const std::string& unit);
    void bid_markup(Node item, int32_t row);

    // Texts (texts.cpp).
    enum class Target { Positions, Notes };
    struct LineMessages {
        const char* long_line;  // a line cut from a longer text
        const char* last_line;  // the rest
    };
    void SplitText(std::string_view text, Target target, const LineMessages* messages);
    void write_line(std::string_view line, Target target);
    void item_text_line(std::string_view line);
    // Every line of `holder` on Positionsteil, cut into rows.
    void PositionsTexte(Node holder);
    void note_text(Node note);
    void notes_line(std::string_view line);

    workbook::Conversion& m_c;
    XmlDocument m_doc;
    XmlReaderState m_st;
    workbook::SheetRows m_rows;
    workbook::RowKinds m_kinds;
    // The text rows of items on Positionsteil, one flow for the whole run.
    TextFlow m_text_rows{[this](std::string_view line) { item_text_line(line); }};

    // Totals that differ from what the file declares: one line each for the closing message.
    std::vector<std::string> m_total_differences;
    // Rows of the items by their ID, and the surcharges whose base names items, resolved at the end.
    struct ItemRowRef {
        std::string_view id;
        int32_t row = 0;
    };
    std::vector<ItemRowRef> m_item_rows;
    // What the base of a ListInSubQty surcharge needs once the walk is over: the item nodes are
    // gone by then, so their places and references are kept as offsets and texts.
    struct MarkupReference {
        std::string_view id;  // IDRef, in the document's text
        std::string sub_quantity;
        int64_t offset = -1;
    };
    struct PendingMarkup {
        int64_t offset = -1;
        int32_t row = 0;
        std::string oz;
        std::vector<MarkupReference> references;
    };
    std::vector<PendingMarkup> m_pending_markups;
    PendingMarkup pending_markup(Node item, int32_t row);
    // The item and surcharge rows of the item list being converted.
    struct ListRow {
        int32_t row = 0;
        bool marked = false;  // MarkupIt: an IdentAsMark surcharge applies to it
        bool surcharge = false;
    };
    std::vector<ListRow> m_list_rows;
};

template <class F>
void for_each_line(std::string_view text, F&& line) {
    while (true) {
        const size_t cut = workbook::utf8_offset(text, kLineLength);
        if (cut >= text.size()) break;  // at most 140 characters left
        const size_t blank = text.substr(0, cut).rfind(' ');
        const size_t end = blank == std::string_view::npos ? cut : blank + 1;
        line(text.substr(0, end), false);
        text.remove_prefix(end);
    }
    if (!text.empty()) line(text, true);
}

}  // namespace gaebxml
