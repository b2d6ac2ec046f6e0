// SPDX-License-Identifier: MIT
// sa0 and the record loop gaeblesen: reading, dispatch, faulty records, the end of a run.
#include "gaeb90/reader.h"

#include "gaeb90/gaeb90.h"
#include "gaeb90/record_text.h"
#include "workbook/errors.h"
#include "workbook/guarded.h"
#include "workbook/numbers.h"

namespace gaeb90 {

namespace {

// The breakdown of the OZ mask: the hierarchy levels, the item number and the index.
std::vector<bill::Breakdown> breakdown_of(const MaskWidths& w) {
    std::vector<bill::Breakdown> out;
    if (w.item <= 0) return out;
    for (int length : {w.level1, w.level2, w.level3, w.level4})
        if (length > 0) out.push_back({bill::BreakdownType::Range, length, true, {}, {}});
    out.push_back({bill::BreakdownType::Item, w.item, true, {}, {}});
    if (w.index > 0) out.push_back({bill::BreakdownType::Index, w.index, false, {}, "left"});
    return out;
}

}  // namespace

Reader::Reader(workbook::Reading& r, std::istream& input) : m_r(r), m_input(input.rdbuf()) {}

bool Reader::next_line() {
    using Traits = std::streambuf::traits_type;
    m_line.clear();
    if (!m_input_open || m_input == nullptr) return false;
    auto ch = m_input->sbumpc();
    if (Traits::eq_int_type(ch, Traits::eof())) return false;
    // Lines of any length are read to their end; only the first 80 characters are kept.
    while (!Traits::eq_int_type(ch, Traits::eof()) && ch != '\n') {
        if (ch != '\r' && m_line.size() < 80) m_line.push_back(Traits::to_char_type(ch));
        ch = m_input->sbumpc();
    }
    m_r.place.at_line(++m_line_number);
    return true;
}

void Reader::read_data_part() {
    m_st.DataPart.assign(m_line.size() > 2 ? std::string_view(m_line).substr(2) : "");
}

std::string_view Reader::col(int first, int last) const {
    return field(m_st.DataPart, first, last);
}

bool Reader::record_step(std::string_view heading, workbook::FunctionRef<void()> step) {
    return workbook::guarded(m_r, heading, step);
}

void Reader::sa0() {
    const auto run = [&] {
        m_st.RecordTypeText.clear();
        m_st.DataPart.clear();
        m_st.ExchangePhase.clear();
        m_st.ExportRules = false;
        m_st.RulesFound = false;
        m_st.OzWidths = {};
        m_st.OzMask.clear();

        m_r.sink.start(bill::Format::Gaeb90);

        scan_to_opening_record();
        if (m_stopped) return;
        if (m_st.RecordTypeText != "00") {
            close_input();
            m_r.fault("Kann den Eröffnungssatz \"00\" nicht finden.\nProgrammabbruch.");
            m_r.finish({bill::Ending::Refused, false, {}});
            return;
        }

        // Record 00: exchange phase in columns 11-12, OZ mask in columns 63-71.
        m_st.ExchangePhase = col(11, 12);
        m_st.OzMask = col(63, 71);
        m_st.OzWidths = count_mask(m_st.OzMask);
        const std::string& phase = m_st.ExchangePhase;
        if (phase != "81" && phase != "82" && phase != "83" && phase != "84") {
            close_input();
            m_r.fault("Die Austauschphase wird nicht unterstützt.\rSatzart: " + as_read(m_st.RecordTypeText) +
                      ", Austauschphase: " + as_read(phase));
            m_r.finish({bill::Ending::Refused, false, {}});
            return;
        }
        bill::Header header;
        header.format = bill::Format::Gaeb90;
        header.exchange_phase = as_read(phase);
        header.charset = "IBM850";
        header.mask = as_read(m_st.OzMask);
        header.breakdown = breakdown_of(m_st.OzWidths);
        record_step("Prozedur sa0, NumberFormat\n\n", [&] { m_r.sink.begin(header); });
        m_r.run.busy(true);
        gaeblesen();
    };
    workbook::guarded(run, [&](const std::exception&) { end_after_unexpected_error(); });
}

void Reader::scan_to_opening_record() {
    while (next_line()) {
        m_st.RecordTypeText.assign(std::string_view(m_line).substr(0, 2));
        read_data_part();
        m_r.run.progress_step(1);
        if (m_st.RecordTypeText == "00") return;
        if (m_st.RecordTypeText == "T0" && !m_st.RulesFound) {
            m_st.RulesFound = true;
            if (m_r.run.ask_yes_no(
                    "Sätze mit s.g. vertraglichen Regelungen gefunden.\rSollen sie mit exportiert werden?")) {
                m_st.ExportRules = true;
                m_r.sink.rules_begin();
            }
        } else if (m_st.RecordTypeText == "T1" && m_st.ExportRules) {
            regeltexte();
        }
        // Anything else before record 00 is passed over without a trace.
    }
}

const std::array<Reader::Handler, 100>& Reader::handlers() {
    static const std::array<Handler, 100> table = [] {
        std::array<Handler, 100> t{};  // null: a record type without handler, a faulty record
        t[1] = &Reader::sa1;
        t[2] = &Reader::sa2;
        t[3] = &Reader::sa3;
        for (int n : {4, 6, 7, 8, 10, 27, 28, 32, 33, 34, 35, 41, 42, 45, 46, 47, 79})
            t[static_cast<size_t>(n)] = &Reader::skip_record;
        t[11] = &Reader::sa11;
        t[12] = &Reader::sa12;
        t[20] = &Reader::sa20;
        t[21] = &Reader::sa21;
        t[23] = &Reader::sa23;
        t[24] = &Reader::sa24;
        t[25] = &Reader::sa25;
        t[26] = &Reader::sa26;
        t[31] = &Reader::sa31;
        t[99] = &Reader::sa99;
        return t;
    }();
    return table;
}

void Reader::gaeblesen() {
    m_st.RecordTypeText.clear();
    m_st.DataPart.clear();
    m_st.RecordMessage.clear();
    m_st.GroupOz.clear();
    m_st.RecordNumber = 0;

    bool read_to_end = false;
    const auto loop = [&] {
        while (next_line()) {
            m_st.RecordTypeText.assign(std::string_view(m_line).substr(0, 2));
            m_st.RecordMessage = "Satzart <" + ASCII2ANSI(m_st.RecordTypeText) +
                                 "> nicht im gültigen Bereich.\rDas Programm wird abgebrochen.";
            const std::string& type = m_st.RecordTypeText;
            int record = -1;
            const auto number = workbook::parse_integer(type);
            // Records 21 to 26 belong to the item before them; any other ends it for the messages.
            if (!number || *number < 21 || *number > 26) m_r.place.leave_item();
            if (type == "T0" || type == "T1" || type == "T9") {
                // Contractual rules after record 00: only T1 lines, and only when they are exported.
                if (type == "T1" && m_st.ExportRules) {
                    read_data_part();
                    regeltexte();
                }
            } else if (number) {
                m_st.RecordNumber = static_cast<int>(*number);
                const Handler handler =
                    *number >= 0 && *number < 100 ? handlers()[static_cast<size_t>(*number)] : nullptr;
                if (handler != nullptr) {
                    (this->*handler)();
                    record = m_st.RecordNumber;
                } else {
                    FalscheSatznummer(m_st.RecordMessage);
                }
            } else {
                FalscheSatznummer(m_st.RecordMessage);
            }
            m_previous_record = record;
            if (m_stopped) return;
            events();
            events();
            m_r.run.progress_step(1);
            m_st.RecordTypeText.clear();
            m_st.DataPart.clear();
        }
        read_to_end = true;
    };
    workbook::guarded(loop, [&](const std::exception&) { end_after_unexpected_error(); });
    if (!read_to_end) return;
    // The normalised copy belongs to the conversion controller, which removes it.
    close_input();
    m_r.place.clear();
    leave_groups(0);
    m_r.finish({bill::Ending::Complete, m_closing_record, {}});
}

void Reader::FalscheSatznummer(const std::string& message) {
    if (m_r.options.LogFaultyLines) {
        read_data_part();
        record_step("Prozedur FalscheSatznummer\n\n",
                    [&] { m_r.sink.faulty_line(cell_text(m_st.RecordTypeText + m_st.DataPart)); });
        return;
    }
    close_input();
    m_stopped = true;
    m_r.fault("OrdForCase-Fehler.\n" + m_r.place.prefix() + message);
    m_r.finish({bill::Ending::GaveUp, m_closing_record, {}});
}

void Reader::end_after_unexpected_error() {
    close_input();
    m_stopped = true;
    events();
    m_r.fault("Case-Fehler.\r" +
                  (m_st.RecordMessage.empty() ? std::string() : m_r.place.prefix() + m_st.RecordMessage),
              true);
    m_r.finish({bill::Ending::Failed, m_closing_record, {}});
}

void sa0(workbook::Reading& r, std::istream& input) {
    workbook::run_reader(
        r,
        [&] {
            Reader reader(r, input);
            reader.sa0();
        },
        [&](const std::exception& e) {
            // Only a failure to set the reader up gets here.
            r.fault("Case-Fehler.\r" + workbook::step_report(e), true);
            r.finish({bill::Ending::Failed, false, {}});
        });
}

}  // namespace gaeb90
