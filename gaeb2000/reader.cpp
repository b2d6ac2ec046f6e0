// SPDX-License-Identifier: MIT
// The driver, the lookups that report their failure, and the lines reported from the holders.
#include "gaeb2000/reader.h"

#include <fmt/format.h>

#include <functional>

#include "gaeb2000/gaeb2000.h"
#include "gaeb2000/load.h"
#include "gaeb2000/rtf_to_text.h"
#include "gaeb2000/text_ops.h"
#include "workbook/errors.h"
#include "workbook/guarded.h"
#include "workbook/text.h"

namespace gaeb2000 {

using workbook::guarded;

Reader::Reader(workbook::Reading& r) : m_r(r) {
    m_r.place.set_locator(&m_lines);
}

Reader::~Reader() {
    m_r.place.clear();
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
    if (const int64_t offset = offset_of(line); offset >= 0) m_r.place.at_offset(offset);
}

void Reader::set_source(std::string text) {
    m_st.StringList1.clear();
    m_st.source = std::move(text);
    m_lines.reset();
    split_lines(m_st.source, m_st.StringList1);
}

void Reader::progress_to_remaining() {
    m_r.run.progress_position(m_st.record_count - m_st.StringList1.size());
}

int64_t Reader::FindeKeyStringList2(std::string_view textzeile) {
    int64_t found = -1;
    guarded(m_r, "GAEB2000, FindeKeyStringList2\n\n", [&] { found = m_st.StringList2.find(textzeile); });
    return found;
}

int64_t Reader::FindeKeyStringList4(std::string_view textzeile) {
    int64_t found = -1;
    guarded(m_r, "GAEB2000, FindeKeyStringList4\n\n", [&] { found = m_st.StringList4.find(textzeile); });
    return found;
}

void Reader::STLBBau_weg() {
    m_r.run.busy(true);
    guarded([&] { m_st.StringList1.erase_if([](std::string_view l) { return holds_key(l, "[STLBBau"); }); },
            [&](const std::exception&) { m_r.fault("STLB-Check fehlgeschlagen."); });
    m_r.run.busy(false);
}

void Reader::report_lines(const LineList& source, bill::TextKind kind) {
    for (int64_t li = 0; li < source.size(); ++li) m_r.sink.text_line(kind, source.line(li));
}

void Reader::report_notes(const LineList& source) {
    for (int64_t li = 0; li < source.size(); ++li) m_r.sink.note_line(source.line(li));
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

// The value of the first line holding `key` in the GAEBInfo block, or "".
std::string gaeb_info(const LineList& lines, std::string_view key) {
    for (int64_t i = 0; i < lines.size(); ++i) {
        const std::string_view l = lines.line(i);
        if (holds_key(l, "#end[GAEBInfo]")) break;
        if (holds_key(l, key))
            return std::string(workbook::trim_ctl(key_value(workbook::utf8_prefix(l, 100), key)));
    }
    return {};
}

}  // namespace

void Reader::gaeb2k_start() {
    m_st.exchange_phase.clear();
    m_r.sink.start(bill::Format::Gaeb2000);
    const std::string file = m_r.file_name.string();
    std::optional<std::string> text = read_gaeb2000(m_r.file_name);
    if (!text) {
        m_r.fault("--- GAEB 2000 ---\nKann die Datei " + file + " nicht öffnen.");
        m_r.finish({bill::Ending::Refused, false, {}});
        return;
    }
    // A file cut off: the ranges read up to the cut are closed where the file ends.
    m_st.closing_record = has_closing_line(*text);
    if (!m_st.closing_record) text->append(closing_lines(*text));
    set_source(std::move(*text));
    STLBBau_weg();
    m_st.record_count = m_st.StringList1.size();
    m_r.run.progress_maximum(m_st.record_count);
    m_st.exchange_phase = find_exchange_phase(m_st.StringList1);
    m_r.exchange_phase = m_st.exchange_phase;

    const std::string& phase = m_st.exchange_phase;
    if (phase != "81" && phase != "83" && phase != "84") {
        m_r.run.busy(false);
        m_r.fault("--- GAEB 2000 ---\rKann die Austauschphase von " + file + " nicht ermitteln!\r" +
                      "Programmabbruch.",
                  true);
        m_r.finish({bill::Ending::Refused, false, {}});
        return;
    }
    bill::Header header;
    header.format = bill::Format::Gaeb2000;
    header.exchange_phase = phase;
    header.version = gaeb_info(m_st.StringList1, "[Version]");
    header.charset = gaeb_info(m_st.StringList1, "[Zeichensatz]");
    guarded(m_r, "", [&] { m_r.sink.begin(header); });
    m_r.run.process_events();
    m_r.run.busy(true);
    gaeb2k_run();
}

void gaeb2k_start(workbook::Reading& r) {
    // Every step guards itself; this is the last line of defence (out of memory and the like).
    workbook::run_reader(
        r,
        [&] {
            Reader reader(r);
            reader.gaeb2k_start();
        },
        [&](const std::exception& e) {
            r.fault("--- GAEB 2000 ---\nUnerwarteter Fehler: " + workbook::step_report(e), true);
            r.finish({bill::Ending::Failed, false, {}});
        });
}

void Reader::gaeb2k_run() {
    m_st.end_of_ranges = false;
    m_st.end_of_sub_ranges = false;
    m_st.StringList2.clear();
    m_st.StringList4.clear();
    m_st.Memo5.clear();
    m_st.RTFMemo3.clear();
    m_st.RTFMemo5.clear();
    m_r.run.busy(true);

    // A failure that escapes a step is reported with the step's text and the run goes on.
    auto step = [&](std::string_view message, workbook::FunctionRef<void()> body) {
        guarded(body, [&](const std::exception&) {
            m_r.run.busy(false);
            m_r.fault(std::string(message));
        });
    };
    step("Fehler bei GAEBInfo", [&] { GaebInfo(); });
    step("Fehler bei PrjInfo", [&] { PrjInfo(); });
    step("Fehler bei VergabeInfo", [&] { VergabeInfo(); });
    step("Fehler bei Auftraggeber", [&] { Auftraggeber(); });
    step("Fehler bei LVInfo", [&] { LVInfo(); });
    if (m_r.options.ExportNotesText)
        step("Fehler bei Zusatz- oder Haupthinweistext", [&] {
            Zusatztext();
            HauptHinweistext();
        });
    const bool ranges = guarded([&] { LVBereich(); },
                                [&](const std::exception&) {
                                    m_r.run.busy(false);
                                    m_r.fault("Fehler bei LVBereich");
                                });
    if (!ranges) {
        m_r.finish({bill::Ending::GaveUp, false, {}});
        return;
    }

    m_st.StringList1.clear();
    m_r.run.progress_position(m_st.record_count);
    m_r.run.process_events();
    m_r.finish({bill::Ending::Complete, m_st.closing_record, {}});
}

}  // namespace gaeb2000
