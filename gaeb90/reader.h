// SPDX-License-Identifier: MIT
// The GAEB 90 reader: the opening scan, the record loop and one handler per record type. What it
// reads goes to the sink of its run, record by record.
#pragma once

#include <array>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "gaeb90/state.h"
#include "workbook/function_ref.h"
#include "workbook/reading.h"

namespace gaeb90 {

class Reader {
public:
    Reader(workbook::Reading& r, std::istream& input);

    // Scans to record 00, checks the exchange phase and runs gaeblesen. Catches everything but a
    // stop of the sink; how the run ended is in the Reading.
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

    // A guarded step of a record: heading + place + class + " : " + message on failure.
    bool record_step(std::string_view heading, workbook::FunctionRef<void()> step);

    bool calculation_phase() const { return m_st.ExchangePhase == "81" || m_st.ExchangePhase == "83"; }
    bool bid_phase() const { return m_st.ExchangePhase == "84"; }
    void events() { m_r.run.process_events(); }

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
    void sa99();
    // 04, 06, 07, 08, 10, 27, 28, 32 to 35, 41, 42, 45 to 47, 79.
    void skip_record();

    // The item of a record 21, or of a phase-84 record 23 that stands without one.
    void item_record(std::string_view oz, std::string_view kind, std::string_view quantity_integer,
                     std::string_view quantity_decimals, std::string_view unit);
    void bid_prices();
    // The groups entered and not left down to (not including) `depth` of the open groups.
    void leave_groups(size_t depth);

    workbook::Reading& m_r;
    std::streambuf* m_input;
    bool m_input_open = true;
    std::string m_line;
    int64_t m_line_number = 0;  // of m_line in the input, which the normalised copy keeps
    Gaeb90State m_st;
    bool m_stopped = false;  // the run ended early; nothing more is read

    int m_previous_record = -1;     // record type of the line before, -1 for none or a faulty one
    bool m_item_reported = false;   // an item record has been read
    bool m_closing_record = false;  // record 99 was read
    // The open groups (record 11 without its record 31 yet), each by its OZ field, innermost last.
    std::vector<std::string> m_groups;

    // Phase 84: the item whose record 21 came last, until its prices are read.
    struct BidItem {
        bool open = false;
        std::string oz;  // columns 3-11 without trailing blanks
    };
    BidItem m_bid;
};

}  // namespace gaeb90
