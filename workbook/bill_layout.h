// SPDX-License-Identifier: MIT
// The workbook written from what a reader reports: the sink of a conversion. One layout per
// format: the sheets, the header block and caption row, hierarchy rows, item rows with their
// formulas and styles, text rows and their outline groups, sub-descriptions, notes, faulty lines,
// rules, subtotals, the finishing pass and the tidying after an abort, each by the rules the
// format's workbook has always followed. Every failure of a step of writing is shown with the
// step's text; the readers' own faults are shown as they come.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bill/sink.h"
#include "workbook/conversion.h"
#include "workbook/finish.h"
#include "workbook/rows.h"

namespace workbook {

// A field of the header block: its row (1 to 5) and the label in column A.
struct HeaderRow {
    bill::HeaderField field;
    int row;
    std::string_view label;
};

class BillLayout : public bill::Sink {
public:
    explicit BillLayout(Conversion& c) : m_c(c), m_kinds(c, m_rows) {}
    BillLayout(const BillLayout&) = delete;
    BillLayout& operator=(const BillLayout&) = delete;

    // The row cursors, for tests that start in the middle of a sheet.
    SheetRows& rows() { return m_rows; }
    // The row of the item reported last; 0 before its OZ is written.
    int32_t item_row() const { return m_item_row; }

    void start(bill::Format format) override;
    void rules_begin() override {}
    void rules_line(std::string_view) override {}
    void begin(const bill::Header& header) override;
    void header_field(bill::HeaderField field, std::string_view value) override;
    void breakdown(const std::vector<bill::Breakdown>&) override {}
    void enter_range(const bill::Range&) override {}
    void range_title(std::string_view, bill::TitlePlace) override {}
    void leave_range(const bill::RangeEnd&) override {}
    void items_begin(const bill::ItemList&) override {}
    void items_end() override {}
    void item_prices(const bill::Prices&) override {}
    void sub_description(const bill::SubDescription&) override {}
    void performance_description(const bill::PerformanceDescription&) override {}
    void text_complement(const bill::TextComplement&) override {}
    void long_text_begin() override {}
    void texts_end() override {}
    void surcharge_items(uint32_t, const std::vector<bill::ItemReference>&) override {}
    void notes_begin(std::string_view) override {}
    void note_line(std::string_view) override {}
    void notes_end() override {}
    void faulty_line(std::string_view) override {}
    void fault(const bill::Fault& fault) override;
    void end(const bill::End& end) override;

protected:
    // The rows of this format's header block.
    virtual std::span<const HeaderRow> header_rows() const = 0;
    // The sheets of a run, created at its start.
    virtual void create_sheets();
    // What a complete read does before the finishing pass.
    virtual void before_finish() {}
    virtual FinishInfo finish_info() const { return {}; }

    // The sheet has no row left: the run ends here (message, tidied sheets) with bill::Stop.
    [[noreturn]] void stop_full(std::string_view sheet);
    // stop_full when `row` lies past the last row of a sheet.
    void room(int32_t row, std::string_view sheet);
    // Sheets created by `create`; when that fails the run ends (bill::Stop) as `how` says.
    void create_or_stop(std::string_view prefix, bill::Ending how, FunctionRef<void()> create);
    bool calc_columns() const { return m_c.options.CalcColumns; }
    bool round_prices() const { return m_c.options.RoundPrices; }
    const std::string& phase() const { return m_header.exchange_phase; }

    Conversion& m_c;
    SheetRows m_rows;
    RowKinds m_kinds;
    bill::Header m_header;
    int32_t m_item_row = 0;
};

// Label of a GAEB 90 item kind code ("NNN" -> "*** Normalposition, Typ NNN"), in red beside the
// item; empty for other codes.
std::string_view gaeb90_kind_label(std::string_view code);

// DA XML: the heading row and the Teilsummen label of a numbered range: "LV-Bereich 01.02. -  "
// and its label (level 1: "01. -  Label"; deeper: the number and the label as the file writes it, within
// 140 characters); without label "LV-Bereich 01.02." and the number alone.
struct XmlRangeCaption {
    std::string heading;
    std::string subtotal;
};
XmlRangeCaption xml_range_caption(const bill::Range& range);
// DA XML: a text line as its rows of at most 140 characters, cut at the last blank within them
// (which stays at the row's end), or at 140 characters when there is none.
std::vector<std::string> xml_text_rows(std::string_view text);

// The layout of the format c.format, writing into the session of `c`, which must outlive it.
std::unique_ptr<BillLayout> make_bill_layout(Conversion& c);
std::unique_ptr<BillLayout> make_gaeb90_layout(Conversion& c);
std::unique_ptr<BillLayout> make_gaeb2000_layout(Conversion& c);
std::unique_ptr<BillLayout> make_xml_layout(Conversion& c);

}  // namespace workbook
