// SPDX-License-Identifier: MIT
// The GAEB DA XML reader: document, state of one conversion, the walk over ranges and items,
// and the text writers. Internal to gaebxml/; the entry point is gaebxml.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
inline constexpr size_t kQuantityCapacity = 50;
inline constexpr size_t kUnitCapacity = 50;
// Texts are cut into rows of at most this many characters.
inline constexpr size_t kLineLength = 140;
// A number group is never padded beyond this: a Length of a billion digits is no bill.
inline constexpr int kMaxGroupLength = 1000;

// One per conversion. The category lists of the six levels are local to each level's walk, so a
// deeper level never disturbs the list of the level above, and they hold every category.
struct XmlReaderState {
    std::string Phase;
    std::string OzMask;      // one digit per BoQBkdn, e.g. "2241"
    std::string ItemLength;  // Length of the BoQBkdn of type Item
    std::string IndexLength = "0";
    int MaskLength = 0;
    std::string RangeOz;  // "01.02."
    std::string ItemOz;
    std::string SubtotalLabel;
};

// Number of range levels: one mask digit each for the item and, when there is one, the index.
int range_levels(const XmlReaderState& st);

// "03." for part 3 and length 2; empty for a length <= 0.
std::string funcFormatBereich(std::string_view part, int length);
// "0010" for part 10 and length 4; empty for an empty part or a length <= 0.
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
struct RangeLabel {
    std::string heading;
    std::string subtotal;
};
// Level 1: the first span of the first paragraph (or of LblTx itself).
RangeLabel first_span_label(Node category, std::string_view range_oz);
// Levels 2 to 6: all spans of the first paragraph (or of LblTx itself).
RangeLabel all_spans_label(Node category, std::string_view range_oz);

// Calls `line` with each row of at most 140 characters: cut at the last blank among the first
// 140 characters (the blank stays at the line's end), or at 140 when there is none. `last` tells
// whether it is the rest of the text.
template <class F>
void for_each_line(std::string_view text, F&& line);

class XmlReader {
public:
    explicit XmlReader(workbook::Conversion& c) : m_c(c), m_kinds(c, m_rows) {}

    // Steps after the open check: load, root, mask, phase, header, notes, walk, finishing pass.
    void XML_start();

private:
    void refuse(std::string_view text);
    // The digits of all BoQBkdn lengths; sets ItemLength and IndexLength.
    std::string funcOZMaske(Node root);
    void Kopfdaten(Node root);

    // Range walk.
    void Hauptteil(Node body);
    void SubBereich(int level, Node body);
    void subtotal_label_step();

    // Items; returns whether the list's subtotal formula was written.
    bool PositionNeu(Node itemlist);
    void convert_item(Node item);
    double price_number(std::string_view text) const;

    // Texts.
    enum class Target { Positions, Notes };
    struct LineMessages {
        const char* long_line;  // a line cut from a longer text
        const char* last_line;  // the rest
    };
    void SplitText(std::string_view text, Target target, const LineMessages* messages);
    void write_line(std::string_view line, Target target);
    void PositionsTexte(Node holder);
    void SPANtext(Node span);
    void ZusatzTexte(Node complement);
    void XMLHinweistext(std::string_view label, Node text);
    void XMLHauptHinweistext(Node body);
    void notes_paragraphs(const std::vector<Node>& paragraphs);

    workbook::Conversion& m_c;
    XmlDocument m_doc;
    XmlReaderState m_st;
    workbook::SheetRows m_rows;
    workbook::RowKinds m_kinds;
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
