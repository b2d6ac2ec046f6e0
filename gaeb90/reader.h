// SPDX-License-Identifier: MIT
// The GAEB 90 reader: the opening scan, the record loop and one handler per record type.
#pragma once

#include <array>
#include <istream>
#include <string>
#include <string_view>

#include "gaeb90/state.h"
#include "workbook/conversion.h"
#include "workbook/function_ref.h"
#include "workbook/rows.h"

namespace gaeb90 {

class Reader {
public:
    Reader(workbook::Conversion& c, std::istream& input);

    // Creates the sheets, scans to record 00, checks the exchange phase and runs gaeblesen.
    // Catches everything; how the run ended is in the Conversion.
    void sa0();

    const Gaeb90State& state() const { return m_st; }

private:
    using Handler = void (Reader::*)();
    static const std::array<Handler, 100>& handlers();

    // Input: one line of at most 80 characters (CR dropped) into m_line; false at the end.
    bool next_line();
    void close_input() { m_input_open = false; }
    // The handler's read of the rest of the line: columns 3-80 into DataPart.
    void read_data_part();
    std::string_view col(int first, int last) const;

    void scan_to_opening_record();
    void gaeblesen();
    void FalscheSatznummer(const std::string& message);
    // A failure no record step caught (a read error, for one): the run ends with "Case-Fehler".
    void end_after_unexpected_error();
    void regeltexte();

    // A guarded step of a record (heading + class + " : " + message on failure). After a failure
    // a sheet that has run out of rows is noted: the run then ends after the current line.
    bool record_step(std::string_view heading, workbook::FunctionRef<void()> step);
    void note_full_sheet();
    bool end_if_sheet_full();
    // Creates sheets; when that fails the run has ended (nothing more is read). Returns whether
    // the sheets exist.
    bool create_sheets(workbook::FunctionRef<void()> create);

    workbook::SheetRows& rows() { return m_st.SheetRows; }
    bool calculation_phase() const { return m_st.ExchangePhase == "81" || m_st.ExchangePhase == "83"; }
    bool bid_phase() const { return m_st.ExchangePhase == "84"; }
    void events() { m_c.ui.process_events(); }

    // Record handlers.
    void sa1();
    void sa2();
    void sa3();
    void sa11();
    void sa12();
    void sa20();
    void sa21();
    void sa23();
    void sa24();
    void sa25();
    void sa26();
    void sa31();
    // 04, 06, 07, 08, 10, 27, 28, 32 to 35, 41, 42, 45 to 47 and 79.
    void skip_record();
    // The closing record 99: read and passed over, but the bill is complete.
    void sa99();
    void position();

    // The item of a record 21, or of a phase-84 record 23 that stands without one.
    void item_record(std::string_view oz, std::string_view kind, std::string_view quantity_integer,
                     std::string_view quantity_decimals, std::string_view unit);
    void bid_item_row(int32_t r, std::string_view oz, std::string_view quantity_integer,
                      std::string_view quantity_decimals, std::string_view unit);

    // The bill model of a bid, when one is being made (bid_model.cpp); no-ops otherwise.
    void bid_bill_name();
    void bid_project_name();
    void bid_item(int32_t row, std::string_view oz, std::string_view kind, std::string_view quantity_integer,
                  std::string_view quantity_decimals, std::string_view unit);
    void bid_prices();
    // Before the first row of the body: the mask line and the caption row, when no record 03 has
    // written them, so that the body starts in row 8 in every bill.
    void start_body();
    // The mask line and the caption row in record 03's three guarded sections; `client` writes
    // the client line in the first one.
    void caption_row(workbook::FunctionRef<void()> client);

    workbook::Conversion& m_c;
    std::streambuf* m_input;
    bool m_input_open = true;
    std::string m_line;
    int64_t m_line_number = 0;  // of m_line in the input, which the normalised copy keeps
    Gaeb90State m_st;
    workbook::RowKinds m_kinds;
    bool m_stopped = false;    // the run ended early; nothing more is read
    std::string m_full_sheet;  // name of a sheet that ran out of rows

    int m_previous_record = -1;     // record type of the line before, -1 for none or a faulty one
    bool m_body_started = false;    // record 03 or the first body row has written the caption row
    bool m_closing_record = false;  // record 99 has been read: the bill is not cut off
    // The rows of the last group title, which a title record right after it continues.
    int32_t m_title_row = 0;
    int32_t m_title_notes_row = 0;
    int64_t m_notes_lines = 0;  // notes lines of the bill, whether exported or not

    // Phase 84: the item whose record 21 came last, until its prices are read.
    struct BidItem {
        int32_t row = 0;
        std::string oz;  // columns 3-11 without trailing blanks
        bool has_quantity = false;
    };
    BidItem m_bid;
};

}  // namespace gaeb90
