// SPDX-License-Identifier: MIT
// The GAEB 2000 reader: the text holders, the reader-wide state of one conversion and the
// operations that cut sections, ranges, items and notes out of the holders and write them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "gaeb2000/line_list.h"
#include "workbook/conversion.h"
#include "workbook/rows.h"

namespace gaeb2000 {

// How WriteWrapped writes a holder: the width at which lines are cut, the sheet (column B of
// "Positionsteil" as text rows, or column A of "Hinweistext" as notes rows), what happens to a
// last piece that is empty after trimming, and the messages of a failed piece.
struct WrapUse {
    size_t width;
    bool notes;
    bool write_empty_last;
    std::string_view cut_failed;
    std::string_view last_failed;
};

inline constexpr WrapUse kItemLongText{140, false, false, "Positionstexte > 140\n\n",
                                       "Positionstexte < 150\n\n"};
inline constexpr WrapUse kSubItemLongText{140, false, false, "Unterpositionstexte > 140\n\n",
                                          "Unterpositionstexte < 150\n\n"};
inline constexpr WrapUse kRangeNotes{150, true, true,
                                     "Fehler in GAEB2k-Modul/LVBereich/Hinweistext > 150\n\n",
                                     "Fehler in GAEB2k-Modul/LVBereich/Hinweistext < 150\n\n"};
inline constexpr WrapUse kAdditionalTexts{150, true, true, "Positionstexte > 150\n\n",
                                          "GAEB2k-Haupthinweistext, Textlänge < 150\n\n"};
inline constexpr WrapUse kMainNotes = kAdditionalTexts;

// Made fresh for each conversion; every operation works on its holders.
class Gaeb2kReader {
public:
    explicit Gaeb2kReader(workbook::Conversion& c);
    Gaeb2kReader(const Gaeb2kReader&) = delete;
    Gaeb2kReader& operator=(const Gaeb2kReader&) = delete;

    // The decoded file text, cut into StringList1 (its lines view this text).
    void set_source(std::string text);

    // Lookups: the first line from the top holding the text (A-Z ignoring case), or -1.
    int64_t FindeBereich(std::string_view Textobjekt) const { return StringList1.find(Textobjekt); }
    int64_t FindeBereichStringList2(std::string_view Textobjekt) const {
        return StringList2.find(Textobjekt);
    }
    int64_t FindeKeyStringList2(std::string_view textzeile);
    int64_t FindeKeyStringList4(std::string_view textzeile);
    int64_t FindeKeyMemo4(std::string_view textzeile) const { return Memo4.find(textzeile); }
    int64_t FindeKeyMemo5(std::string_view textzeile) const { return Memo5.find(textzeile); }

    void STLBBau_weg();
    void WriteWrapped(const LineList& source, const WrapUse& use);
    // The short text held in RTFMemo5 into column B of "Positionsteil", in pieces of 140.
    void WriteChunked();

    // Driver and header sections.
    void gaeb2k_run();
    void GaebInfo();
    void PrjInfo();
    void VergabeInfo();
    void Auftraggeber();
    void LVInfo();

    // Bill ranges.
    void LVBereich();
    void LVUnterBereiche();

    // Items; `limit`: only item blocks that end before this line of StringList4.
    void Positionen(int64_t limit = INT64_MAX);
    void Unterpositionen();

    // Notes and additional texts.
    void Zusatztext();
    void HauptHinweistext();
    void Hinweistext(std::string_view abschnitt);
    void write_collected_notes();

    // The holders.
    LineList StringList1, StringList2, StringList4;
    LineList Memo5{LineList::Kind::Memo}, Memo4{LineList::Kind::Memo};
    LineList RTFMemo5{LineList::Kind::Memo}, RTFMemo3{LineList::Kind::Memo};

    // The reader-wide state.
    workbook::Conversion& c;
    workbook::SheetRows rows;
    workbook::RowKinds kinds;
    std::string Austauschphase;  // exchange phase, at most 50 characters
    int64_t record_count = 0;
    std::string collected_notes;
    std::string oz_mask;
    std::string range_oz, range_label, subtotal_oz, subtotal_label;
    bool end_of_ranges = false;
    bool end_of_sub_ranges = false;

private:
    // The begin of a header section: the block "#begin[X]" .. "#end[X]" moved into StringList2.
    bool take_section(std::string_view name);
    // Throws workbook::SheetFull when the next row of "Hinweistext" (notes) or "Positionsteil" does
    // not exist: every further row would fail on its own, so the run ends.
    void room_for_row(bool notes) const;
    void progress_to_remaining();
    // The short text of the item or sub-item in `holder` into RTFMemo5.
    void read_short_text(LineList& holder);
    void write_subtotal_label(std::string_view text, size_t capacity);
    int64_t write_items_before_next_range(int64_t b);
    void heading_passes();
    void write_heading();

    std::string m_source;
};

}  // namespace gaeb2000
