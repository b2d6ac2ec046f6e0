// SPDX-License-Identifier: MIT
// The GAEB 2000 reader: the operations that cut sections, ranges, items and notes out of the
// text holders and write them. Internal to gaeb2000/; the entry point is gaeb2000.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "gaeb2000/line_list.h"
#include "gaeb2000/state.h"
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

// A message about one item: `message` followed by ", Position: " and the item's OZ as column A
// shows it.
std::string about_item(std::string_view message, std::string_view oz);

// The reader of one conversion: every operation works on the holders of its state.
class Reader {
public:
    explicit Reader(workbook::Conversion& c);
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The steps of gaeb2k_start: sheets, loading, the STLB-Bau lines, the exchange phase, then
    // gaeb2k_run. Returns when the run has ended.
    void gaeb2k_start();

    // The decoded file text, cut into StringList1 (its lines view this text).
    void set_source(std::string text);
    void STLBBau_weg();

    // The header sections, the additional texts and main notes, the bill ranges with their
    // items (what gaeb2k_run calls in turn), and the finishing pass.
    void gaeb2k_run();
    void GaebInfo();
    void PrjInfo();
    void VergabeInfo();
    void Auftraggeber();
    void LVInfo();
    void Zusatztext();
    void HauptHinweistext();
    void LVBereich();

    // The lines of `source` into cells, cut as `use` says; the messages of an item's text name
    // the item's `oz`.
    void WriteWrapped(const LineList& source, const WrapUse& use, std::string_view oz = {});
    // A short text into column B of "Positionsteil", in pieces of 140 characters.
    void WriteChunked(const LineList& source);

    const Gaeb2000State& state() const { return m_st; }
    workbook::SheetRows& rows() { return m_st.SheetRows; }

private:
    // Lookups: the first line from the top holding the text (A-Z ignoring case), or -1. Those
    // of StringList2 and StringList4 report a failure and give -1.
    int64_t FindeBereich(std::string_view Textobjekt) const { return m_st.StringList1.find(Textobjekt); }
    int64_t FindeBereichStringList2(std::string_view Textobjekt) const {
        return m_st.StringList2.find(Textobjekt);
    }
    int64_t FindeKeyStringList2(std::string_view textzeile);
    int64_t FindeKeyStringList4(std::string_view textzeile);
    int64_t FindeKeyMemo4(std::string_view textzeile) const { return m_st.Memo4.find(textzeile); }
    int64_t FindeKeyMemo5(std::string_view textzeile) const { return m_st.Memo5.find(textzeile); }

    // Header sections: the block "#begin[X]" .. "#end[X]" moved into StringList2.
    bool take_section(std::string_view name);

    // Bill ranges.
    void LVUnterBereiche();
    int64_t write_items_before_next_range(int64_t b);
    void heading_passes();
    void write_heading();
    void write_subtotal_label(std::string_view text, size_t capacity);

    // Items; `limit`: only item blocks that end before this line of StringList4.
    void Positionen(int64_t limit = INT64_MAX);
    void Unterpositionen(std::string_view oz);
    // The short text of the item or sub-item in `holder` into RTFMemo5.
    void read_short_text(LineList& holder);

    // Notes of a range, collected under `abschnitt` and written after all ranges.
    void Hinweistext(std::string_view abschnitt);
    void write_collected_notes();

    // Throws workbook::SheetFull when the next row of "Hinweistext" (notes) or "Positionsteil" does
    // not exist: every further row would fail on its own, so the run ends.
    void room_for_row(bool notes) const;
    void progress_to_remaining();

    workbook::Conversion& m_c;
    Gaeb2000State m_st;
    workbook::RowKinds m_kinds;
};

}  // namespace gaeb2000
