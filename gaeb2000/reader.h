// SPDX-License-Identifier: MIT
// The GAEB 2000 reader: the operations that cut sections, ranges, items and notes out of the
// text holders and report them to the sink of the run. Internal to gaeb2000/; the entry point is
// gaeb2000.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "gaeb2000/line_list.h"
#include "gaeb2000/state.h"
#include "workbook/input_place.h"
#include "workbook/reading.h"

namespace gaeb2000 {

// The lines of the decoded file, for the place in messages: a byte offset into it becomes its
// line (a line ends at CR LF, LF or CR, as the file is cut into lines). The lines are counted
// when the first message needs them.
class SourceLines : public workbook::InputPlace::Locator {
public:
    explicit SourceLines(const std::string& source) : m_source(source) {}
    workbook::LineColumn locate(int64_t offset) noexcept override;
    // The source has changed: count again when asked.
    void reset() { m_lines.clear(); }

private:
    const std::string& m_source;
    workbook::LineIndex m_lines;
};

// The reader of one run: every operation works on the holders of its state.
class Reader {
public:
    explicit Reader(workbook::Reading& r);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The steps of gaeb2k_start: loading, the STLB-Bau lines, the exchange phase, then
    // gaeb2k_run. Returns when the run has ended.
    void gaeb2k_start();

    // The decoded file text, cut into StringList1 (its lines view this text).
    void set_source(std::string text);
    void STLBBau_weg();

    // The header sections, the additional texts and main notes, the bill ranges with their
    // items (what gaeb2k_run calls in turn), and the end of the run.
    void gaeb2k_run();
    void GaebInfo();
    void PrjInfo();
    void VergabeInfo();
    void Auftraggeber();
    void LVInfo();
    void Zusatztext();
    void HauptHinweistext();
    void LVBereich();

    const Gaeb2000State& state() const { return m_st; }

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
    // An inner range, with its heading and notes; the inner ranges it does not lie in are left.
    void enter_inner_range();
    void leave_inner_ranges(int level);
    // The range entered last has a heading: its notes.
    void range_notes();
    // The lines of `source` as text lines of `kind`, or as notes lines.
    void report_lines(const LineList& source, bill::TextKind kind);
    void report_notes(const LineList& source);

    // Items; `limit`: only item blocks that end before this line of StringList4.
    void Positionen(int64_t limit = INT64_MAX);
    void Unterpositionen();
    // The short text of the item or sub-item in `holder` into RTFMemo5.
    void read_short_text(LineList& holder);

    // The notes of the range whose heading was written last: each block of StringList2.
    void Hinweistext();

    void progress_to_remaining();
    // The reader stands at this line of a holder, when the line is one of the file's own.
    void at(std::string_view line);
    // The same place's offset, or -1.
    int64_t offset_of(std::string_view line) const;

    workbook::Reading& m_r;
    Gaeb2000State m_st;
    SourceLines m_lines{m_st.source};
};

}  // namespace gaeb2000
