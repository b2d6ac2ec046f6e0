// SPDX-License-Identifier: MIT
// sa0 and the record loop gaeblesen: reading, dispatch, faulty records, the end of a run.
#include "gaeb90/reader.h"

#include <fmt/format.h>

#include "gaeb90/gaeb90.h"
#include "gaeb90/record_text.h"
#include "workbook/errors.h"
#include "workbook/finish.h"
#include "workbook/guarded.h"
#include "workbook/layout.h"
#include "workbook/numbers.h"
#include "workbook/run_end.h"

namespace gaeb90 {

using workbook::RunEnd;

Reader::Reader(workbook::Conversion& c, std::istream& input)
    : m_c(c), m_input(input.rdbuf()), m_kinds(c, m_st.SheetRows) {}

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
    m_c.place.at_line(++m_line_number);
    return true;
}

void Reader::read_data_part() {
    m_st.DataPart.assign(m_line.size() > 2 ? std::string_view(m_line).substr(2) : "");
}

std::string_view Reader::col(int first, int last) const {
    return field(m_st.DataPart, first, last);
}

bool Reader::record_step(std::string_view heading, workbook::FunctionRef<void()> step) {
    if (workbook::guarded(m_c, heading, step)) return true;
    note_full_sheet();
    return false;
}

void Reader::note_full_sheet() {
    const workbook::SheetRows& r = m_st.SheetRows;
    const std::pair<int32_t, std::string_view> cursors[] = {{r.Positions, workbook::kPositionsteil},
                                                            {r.Notes, workbook::kHinweistext},
                                                            {r.Faulty, workbook::kFehlerhafteZeilen},
                                                            {r.Subtotals, workbook::kTeilsummen},
                                                            {r.Rules, workbook::kRegelungen}};
    for (const auto& [cursor, name] : cursors)
        if (cursor > workbook::kMaxRow && m_full_sheet.empty()) m_full_sheet = name;
}

// A sheet holds at most kMaxRow rows: once one is full every further line would fail on its own,
// so the run ends here with the rows written so far.
bool Reader::end_if_sheet_full() {
    if (m_full_sheet.empty()) return false;
    close_input();
    workbook::end_with_full_sheet(m_c, m_full_sheet);
    m_stopped = true;
    return true;
}

// A sheet that cannot be created ends the run with what there is.
bool Reader::create_sheets(workbook::FunctionRef<void()> create) {
    if (workbook::create_sheets_or_end(m_c, "", RunEnd::Aborted, create)) return true;
    close_input();
    m_stopped = true;
    return false;
}

void Reader::sa0() {
    const auto run = [&] {
        m_c.format = workbook::GaebFormat::Gaeb90;
        m_st.RecordTypeText.clear();
        m_st.DataPart.clear();
        m_st.ExchangePhase.clear();
        rows().Rules = 1;
        m_st.ExportRules = false;
        m_st.RulesFound = false;
        m_st.OzWidths = {};
        m_st.OzMask.clear();

        if (!create_sheets([&] { workbook::CreateSheets(m_c); })) return;

        scan_to_opening_record();
        if (m_stopped) return;
        if (m_st.RecordTypeText != "00") {
            close_input();
            workbook::release_application(m_c);
            m_c.ui.progress_finish();
            m_c.ui.message("Kann den Eröffnungssatz \"00\" nicht finden.\nProgrammabbruch.");
            m_c.end_program(RunEnd::Refused);
            return;
        }

        // Record 00: exchange phase in columns 11-12, OZ mask in columns 63-71.
        m_st.ExchangePhase = col(11, 12);
        m_st.OzMask = col(63, 71);
        m_st.OzWidths = count_mask(m_st.OzMask);
        const std::string& phase = m_st.ExchangePhase;
        if (phase != "81" && phase != "82" && phase != "83" && phase != "84") {
            close_input();
            m_c.ui.unlock_controls();
            m_c.ui.message("Die Austauschphase wird nicht unterstützt.\rSatzart: " +
                           as_read(m_st.RecordTypeText) + ", Austauschphase: " + as_read(phase));
            m_c.end_program(RunEnd::Refused);
            return;
        }
        record_step("Prozedur sa0, NumberFormat\n\n", [&] { workbook::PreparePositionsSheet(m_c); });
        m_c.ui.busy_cursor(true);
        gaeblesen();
    };
    workbook::guarded(run, [&](const std::exception&) { end_after_unexpected_error(); });
}

void Reader::scan_to_opening_record() {
    while (next_line()) {
        m_st.RecordTypeText.assign(std::string_view(m_line).substr(0, 2));
        read_data_part();
        m_c.ui.progress_step(1);
        if (m_st.RecordTypeText == "00") return;
        if (m_st.RecordTypeText == "T0" && !m_st.RulesFound) {
            m_st.RulesFound = true;
            m_c.ui.elapsed_pause();
            const bool yes = m_c.ui.ask_yes_no(
                "Sätze mit s.g. vertraglichen Regelungen gefunden.\rSollen sie mit exportiert werden?");
            if (yes) {
                m_st.ExportRules = true;
                if (!create_sheets([&] { workbook::AddRulesSheet(m_c); })) return;
            }
            m_c.ui.elapsed_restart();
            m_c.ui.elapsed_resume();
        } else if (m_st.RecordTypeText == "T1" && m_st.ExportRules) {
            regeltexte();
            if (end_if_sheet_full()) return;
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
        t[99] = &Reader::sa99;
        t[11] = &Reader::sa11;
        t[12] = &Reader::sa12;
        t[20] = &Reader::sa20;
        t[21] = &Reader::sa21;
        t[23] = &Reader::sa23;
        t[24] = &Reader::sa24;
        t[25] = &Reader::sa25;
        t[26] = &Reader::sa26;
        t[31] = &Reader::sa31;
        return t;
    }();
    return table;
}

void Reader::gaeblesen() {
    m_st.RecordTypeText.clear();
    m_st.DataPart.clear();
    m_st.RecordMessage.clear();
    m_st.GroupOz.clear();
    rows().GroupFirstRow = 0;
    rows().LastItemRow = 0;
    m_st.RecordNumber = 0;
    rows().Positions = 1;
    rows().Notes = 1;
    rows().Faulty = 1;
    rows().Subtotals = 2;

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
            if (!number || *number < 21 || *number > 26) m_c.place.leave_item();
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
            m_c.ui.progress_step(1);
            m_c.ui.elapsed_resume();
            m_st.RecordTypeText.clear();
            m_st.DataPart.clear();
            if (end_if_sheet_full()) return;
        }
        read_to_end = true;
    };
    workbook::guarded(loop, [&](const std::exception&) { end_after_unexpected_error(); });
    if (!read_to_end) return;
    // The normalised copy belongs to the conversion controller, which removes it.
    close_input();
    m_c.place.clear();
    // Real bills carry up to half of their text lines as notes: say where they are to be had.
    if (m_notes_lines > 0 && !m_c.options.ExportNotesText)
        m_c.ui.message(
            fmt::format("Die Datei enthält {} Zeilen Hinweistext; sie werden mit der Option {} übernommen.",
                        m_notes_lines, m_c.ui.feature_name(workbook::Feature::ExportNotesText)));
    // A bill without its closing record may have lost its end: what there is stands in the
    // workbook, and the run says so.
    workbook::FinishWorkbook(m_c, rows(), {.cut_off = !m_closing_record});
}

void Reader::FalscheSatznummer(const std::string& message) {
    if (m_c.options.LogFaultyLines) {
        read_data_part();
        record_step("Prozedur FalscheSatznummer\n\n",
                    [&] { m_kinds.FaultyLineRow(cell_text(m_st.RecordTypeText + m_st.DataPart)); });
        return;
    }
    close_input();
    m_c.ui.message("OrdForCase-Fehler.\n" + m_c.place.prefix() + message);
    workbook::FormatNachFehler(m_c);
    m_stopped = true;
}

void Reader::end_after_unexpected_error() {
    close_input();
    m_stopped = true;
    workbook::release_application(m_c);
    events();
    m_c.ui.error_dialog("Case-Fehler.\r" + (m_st.RecordMessage.empty()
                                                ? std::string()
                                                : m_c.place.prefix() + m_st.RecordMessage));
    m_c.end_program(RunEnd::Aborted);
}

void sa0(workbook::Conversion& c, std::istream& input) {
    workbook::run_reader(
        c,
        [&] {
            Reader reader(c, input);
            reader.sa0();
        },
        [&](const std::exception& e) {
            // Only a failure to set the reader up gets here.
            c.ui.error_dialog("Case-Fehler.\r" + workbook::step_report(e));
            c.end_program(RunEnd::Aborted);
        });
}

}  // namespace gaeb90
