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
    // 04, 06, 07, 08, 10, 27, 28, 32 to 35, 41, 42, 45 to 47, 79 and the closing record 99.
    void skip_record();
    void position();

    workbook::Conversion& m_c;
    std::streambuf* m_input;
    bool m_input_open = true;
    std::string m_line;
    Gaeb90State m_st;
    workbook::RowKinds m_kinds;
    bool m_stopped = false;    // the run ended early; nothing more is read
    std::string m_full_sheet;  // name of a sheet that ran out of rows
};

}  // namespace gaeb90
