// SPDX-License-Identifier: MIT
// The driver, the lookups that report their failure, and the two cell writers.
#include "gaeb2000/reader.h"

#include <fmt/format.h>

#include <functional>

#include "gaeb2000/gaeb2000.h"
#include "gaeb2000/load.h"
#include "gaeb2000/text_ops.h"
#include "workbook/errors.h"
#include "workbook/finish.h"
#include "workbook/guarded.h"
#include "workbook/layout.h"
#include "workbook/run_end.h"
#include "workbook/text.h"

namespace gaeb2000 {

using workbook::guarded;

Reader::Reader(workbook::Conversion& c) : m_c(c), m_kinds(c, m_st.SheetRows) {
    m_c.place.set_locator(&m_lines);
}

Reader::~Reader() {
    m_c.place.clear();
}

workbook::LineColumn SourceLines::locate(int64_t offset) noexcept {
    try {
        if (!m_lines.built()) m_lines.build(m_source);
    } catch (const std::exception&) {
        m_lines.clear();
    }
    return m_lines.locate(offset);
}

int64_t Reader::offset_of(std::string_view line) const {
    // A memo's own text lies elsewhere: std::less orders pointers into different objects too.
    const char* begin = m_st.source.data();
    const std::less<const char*> before;
    if (before(line.data(), begin) || before(begin + m_st.source.size(), line.data())) return -1;
    return line.data() - begin;
}

void Reader::at(std::string_view line) {
    if (const int64_t offset = offset_of(line); offset >= 0) m_c.place.at_offset(offset);
}

void Reader::set_source(std::string text) {
    m_st.StringList1.clear();
    m_st.source = std::move(text);
    m_lines.reset();
    split_lines(m_st.source, m_st.StringList1);
}

void Reader::room_for_row(bool notes) const {
    if (notes)
        workbook::require_row(m_st.SheetRows.Notes, workbook::kHinweistext);
    else
        workbook::require_row(m_st.SheetRows.Positions, workbook::kPositionsteil);
}

void Reader::progress_to_remaining() {
    m_c.ui.progress_position(m_st.record_count - m_st.StringList1.size());
}

int64_t Reader::FindeKeyStringList2(std::string_view textzeile) {
    int64_t found = -1;
    guarded(m_c, "GAEB2000, FindeKeyStringList2\n\n", [&] { found = m_st.StringList2.find(textzeile); });
    return found;
}

int64_t Reader::FindeKeyStringList4(std::string_view textzeile) {
    int64_t found = -1;
    guarded(m_c, "GAEB2000, FindeKeyStringList4\n\n", [&] { found = m_st.StringList4.find(textzeile); });
    return found;
}

void Reader::STLBBau_weg() {
    m_c.ui.busy_cursor(true);
    guarded([&] { m_st.StringList1.erase_if([](std::string_view l) { return holds_key(l, "[STLBBau"); }); },
            [&](const std::exception&) { m_c.ui.message("STLB-Check fehlgeschlagen."); });
    m_c.ui.busy_cursor(false);
}

namespace {

// Characters of the first piece of a line longer than `width`: up to and including its last blank
// among the first `width` characters, or `width` when they hold none.
size_t cut_length(std::string_view line, size_t width) {
    const std::string_view head = workbook::utf8_prefix(line, width);
    const size_t blank = head.rfind(' ');
    if (blank == std::string_view::npos) return width;
    return workbook::utf8_length(head.substr(0, blank + 1));
}

}  // namespace

void Reader::WriteWrapped(const LineList& source, const WrapUse& use) {
    m_kinds.select(use.notes ? workbook::kHinweistext : workbook::kPositionsteil);
    auto write = [&](std::string_view text) {
        room_for_row(use.notes);
        if (use.notes)
            m_kinds.NotesRow(text, false);
        else
            m_kinds.TextRow(text, true);
    };
    const size_t n = use.width;
    for (int64_t li = 0; li < source.size(); ++li) {
        std::string_view rest = source.line(li);
        size_t length = workbook::utf8_length(rest);
        while (length > n) {
            const size_t i = cut_length(rest, n);
            const std::string_view piece = workbook::utf8_prefix(rest, i);
            // A piece that fails is dropped; the line goes on after it.
            guarded(m_c, use.cut_failed, [&] { write(field(workbook::trim_left_ctl(field(piece, n)), n)); });
            rest.remove_prefix(piece.size());
            length -= i;
        }
        if (length == 0) continue;
        const std::string_view last = workbook::trim_left_ctl(rest);
        if (last.empty() && !use.write_empty_last) continue;
        guarded(m_c, use.last_failed, [&] { write(last); });
    }
}

void Reader::WriteChunked(const LineList& source) {
    constexpr size_t kWidth = 140;
    auto write = [&](std::string_view text) {
        room_for_row(false);
        m_kinds.TextRow(text, false);
    };
    for (int64_t li = 0; li < source.size(); ++li) {
        const std::string_view l = source.line(li);
        const size_t length = workbook::utf8_length(l);
        if (length == 0) continue;
        if (length <= kWidth) {
            write(field(workbook::trim_left_ctl(l), kWidth));
            continue;
        }
        const size_t full = length / kWidth;
        for (size_t k = 0; k < full; ++k)
            write(field(workbook::trim_left_ctl(workbook::utf8_substr(l, k * kWidth, kWidth)), kWidth));
        const std::string_view rest = workbook::utf8_substr(l, full * kWidth, kWidth);
        if (!rest.empty()) write(rest);
    }
}

// ---------------------------------------------------------------------------------------------
// Driver

namespace {

// The first line holding "[DP]" exactly in capitals, taken apart as the exchange phase.
std::string find_exchange_phase(const LineList& lines) {
    for (int64_t i = 0; i < lines.size(); ++i) {
        const std::string_view l = lines.line(i);
        if (l.find("[DP]") == std::string_view::npos) continue;
        return std::string(workbook::trim_ctl(key_value(workbook::utf8_prefix(l, 50), "[DP]")));
    }
    return {};
}

}  // namespace

void Reader::gaeb2k_start() {
    m_st.exchange_phase.clear();
    if (!workbook::create_sheets_or_end(m_c, "", workbook::RunEnd::Aborted,
                                        [&] { workbook::CreateSheets(m_c); }))
        return;
    const std::string file = m_c.file_name.string();
    std::optional<std::string> text = read_gaeb2000(m_c.file_name);
    if (!text) {
        workbook::release_application(m_c);
        m_c.ui.message("--- GAEB 2000 ---\nKann die Datei " + file + " nicht öffnen.");
        m_c.end_program(workbook::RunEnd::Refused);
        return;
    }
    // A file cut off: the ranges read up to the cut are closed where the file ends.
    m_st.closed = has_closing_line(*text);
    if (!m_st.closed) text->append(closing_lines(*text));
    set_source(std::move(*text));
    STLBBau_weg();
    m_st.record_count = m_st.StringList1.size();
    m_c.ui.progress_maximum(m_st.record_count);
    m_st.exchange_phase = find_exchange_phase(m_st.StringList1);
    m_c.exchange_phase = m_st.exchange_phase;

    const std::string& phase = m_st.exchange_phase;
    if (phase != "81" && phase != "83" && phase != "84") {
        workbook::release_application(m_c, false);
        m_c.ui.progress_finish();
        m_c.ui.busy_cursor(false);
        m_c.ui.error_dialog("--- GAEB 2000 ---\rKann die Austauschphase von " + file + " nicht ermitteln!\r" +
                            "Programmabbruch.");
        m_c.end_program(workbook::RunEnd::Refused);
        return;
    }
    guarded(m_c, "", [&] { workbook::PreparePositionsSheet(m_c); });
    m_c.ui.process_events();
    m_c.ui.busy_cursor(true);
    gaeb2k_run();
}

void gaeb2k_start(workbook::Conversion& conversion) {
    // Every step guards itself; this is the last line of defence (out of memory and the like).
    workbook::run_reader(
        conversion,
        [&] {
            Reader reader(conversion);
            reader.gaeb2k_start();
        },
        [&](const std::exception& e) {
            conversion.ui.error_dialog("--- GAEB 2000 ---\nUnerwarteter Fehler: " + workbook::step_report(e));
            conversion.end_program(workbook::RunEnd::Aborted);
        });
}

void Reader::gaeb2k_run() {
    rows() = workbook::SheetRows{};
    rows().Positions = 1;
    rows().Notes = 1;
    rows().Subtotals = 2;
    rows().GroupFirstRow = 0;
    rows().LastItemRow = 0;
    m_st.collected_notes.clear();
    m_st.end_of_ranges = false;
    m_st.end_of_sub_ranges = false;
    m_st.StringList2.clear();
    m_st.StringList4.clear();
    m_st.Memo5.clear();
    m_st.RTFMemo3.clear();
    m_st.RTFMemo5.clear();
    m_c.ui.busy_cursor(true);

    // A failure that escapes a step is reported with the step's text and the run goes on. (The
    // connection stays: releasing it here would make every later step fail.)
    auto step = [&](std::string_view message, workbook::FunctionRef<void()> body) {
        guarded(body, [&](const std::exception&) {
            m_c.ui.busy_cursor(false);
            m_c.ui.message(message);
        });
    };
    step("Fehler bei GAEBInfo", [&] { GaebInfo(); });
    step("Fehler bei PrjInfo", [&] { PrjInfo(); });
    step("Fehler bei VergabeInfo", [&] { VergabeInfo(); });
    bid_currency();
    step("Fehler bei Auftraggeber", [&] { Auftraggeber(); });
    step("Fehler bei LVInfo", [&] { LVInfo(); });
    bid_info();
    if (m_c.options.ExportNotesText)
        step("Fehler bei Zusatz- oder Haupthinweistext", [&] {
            Zusatztext();
            HauptHinweistext();
        });
    guarded([&] { LVBereich(); },
            [&](const std::exception&) {
                workbook::FormatNachFehler(m_c);
                m_c.ui.busy_cursor(false);
                m_c.ui.message("Fehler bei LVBereich");
            });

    m_st.StringList1.clear();
    m_c.ui.progress_position(m_st.record_count);
    m_c.ui.process_events();
    // What a file cut off holds stands in the workbook, and the run says that it may be incomplete.
    workbook::FinishWorkbook(m_c, rows(), {.cut_off = !m_st.closed});
}

}  // namespace gaeb2000
