// SPDX-License-Identifier: MIT
// The GAEB DA XML reader: document, state of one run, the walk over ranges and items, and the
// texts reported line by line. Internal to gaebxml/; the entry point is gaebxml.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gaebxml/text_flow.h"
#include "gaebxml/xml_document.h"
#include "workbook/function_ref.h"
#include "workbook/reading.h"
#include "workbook/text.h"

namespace gaebxml {

// Fixed-capacity text fields of the reader, in characters.
inline constexpr size_t kPhaseCapacity = 50;
inline constexpr size_t kOzMaskCapacity = 100;
inline constexpr size_t kRangeOzCapacity = 100;
inline constexpr size_t kUnitCapacity = 50;
// A number group is never padded beyond this: a Length of a billion digits is no bill.
inline constexpr int kMaxGroupLength = 1000;

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

// A total as the file declares it (Totals/Total of `holder`), as parsed; nullopt when there is
// none or it is no number.
std::optional<double> declared_total(Node holder);

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
// becomes "01.02.00.". A mask character that is no digit ends the filling with a fault
// "Funktion chkmaske" given to `fault`; the number filled so far is returned.
std::string chkmaske(std::string_view oz, const XmlReaderState& st,
                     workbook::FunctionRef<void(std::string)> fault);

// A range label: the text of the spans taken, joined by blanks, and `written`, joined as the file
// writes them: with a blank only where a blank text, a span of blanks or another element (a line
// break) stands between them. `holder` is the paragraph (or LblTx itself) the label was taken
// from, and `first_span` the span of it when only that one was taken; the text of LblTx beyond
// them follows as text lines.
struct RangeLabel {
    std::string text;
    std::string written;
    Node holder;
    Node first_span;
};
// Level 1: the first span of the first paragraph (or of LblTx itself).
RangeLabel first_span_label(Node category);
// Levels 2 and deeper: all spans of the first paragraph (or of LblTx itself).
RangeLabel all_spans_label(Node category);

class XmlReader {
public:
    explicit XmlReader(workbook::Reading& r) : m_r(r) {
        m_r.place.set_locator(&m_doc);
        m_text_rows.on_complement([this](Node complement) { text_complement(complement); });
    }
    ~XmlReader() { m_r.place.clear(); }
    XmlReader(const XmlReader&) = delete;
    XmlReader& operator=(const XmlReader&) = delete;

    // Steps after the open check: load, root, mask, phase, header, notes, walk, the end.
    void XML_start();

private:
    void refuse(std::string_view text);
    // The digits of all BoQBkdn lengths; sets ItemLength and IndexLength.
    std::string funcOZMaske(Node root);
    void item_lengths();
    void Kopfdaten(Node root);
    bill::Header header_of(Node root) const;

    // Range walk, to any depth (hierarchy.cpp). One range being walked, or the bill (level 0).
    struct Range {
        Node category;  // null for the bill
        Node body;
        Node next;  // the next child of `body` to walk
        int level = 0;
        std::string oz;  // RangeOz of what stands in this range
    };
    void Hauptteil(Node body);
    void enter_range(Range& range);
    // The text of LblTx that the label does not show: the further paragraphs, and at level 1 the
    // spans after the first.
    std::vector<std::string> label_text(const RangeLabel& label, Node category);
    void item_list(Range& range, Node list);
    void range_notes(const Range& range);
    void bill_notes(Node root, Node body);

    // Items (items.cpp).
    void convert_item(Node item);
    void convert_markup(Node item);
    void performance_description(Node perf);
    std::string item_number(Node item);
    // What every item and surcharge has: number, ID, parts of the number.
    bill::Item item_of(Node item);
    void item_texts(Node item);
    void sub_descriptions(Node item);
    // The number of a value text, or nullopt; a text that is no number adds a fault to `faults`
    // with the place of `element`, the value's element, and the OZ.
    std::optional<double> number_of(std::string_view text, const char* what, Node element,
                                    std::vector<bill::Fault>& faults);
    void report(std::vector<bill::Fault>& faults);
    // The reader stands at this node.
    void at(Node n) { m_r.place.at_offset(XmlDocument::offset_of(n)); }
    // A converted part of the body leaves the document, and with it the memory of its nodes:
    // nothing reads it again.
    static void forget(Node n) { n.parent().remove_child(n); }
    // The references of the surcharges to items that the bill does not have.
    void check_markup_references();

    // Texts (texts.cpp): every line of `holder` as a text line of `kind`.
    void PositionsTexte(Node holder, bill::TextKind kind);
    void note_text(Node note);
    void notes_line(std::string_view line);

    workbook::Reading& m_r;
    XmlDocument m_doc;
    XmlReaderState m_st;
    // The text lines of items, one flow for the whole run.
    bill::TextKind m_text_kind = bill::TextKind::Short;
    TextFlow m_text_rows{[this](std::string_view line) { m_r.sink.text_line(m_text_kind, line); }};
    // A text complement of an item's text: who fills it in, its mark, caption, body and tail.
    void text_complement(Node complement);

    // The IDs of the items (in the document's text) with their numbers among the item events, and
    // the references of the ListInSubQty surcharges, resolved once the walk is over: the item
    // nodes are gone by then, so their places and references are kept as offsets and texts.
    uint32_t m_item_events = 0;
    std::vector<std::pair<std::string_view, uint32_t>> m_item_ids;
    struct MarkupReference {
        std::string_view id;  // IDRef, in the document's text
        int64_t offset = -1;
        std::optional<double> sub_quantity;
    };
    struct PendingMarkup {
        int64_t offset = -1;
        std::string oz;
        uint32_t item = 0;  // the surcharge's number among the item events
        std::vector<MarkupReference> references;
    };
    std::vector<PendingMarkup> m_pending_markups;
};

}  // namespace gaebxml
