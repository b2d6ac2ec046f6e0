// SPDX-License-Identifier: MIT
// The holders' lookups, the two cell writers, the driver and the five header sections.
#include "gaeb2000/reader.h"

#include <fmt/format.h>

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

Gaeb2kReader::Gaeb2kReader(workbook::Conversion& conversion) : c(conversion), kinds(conversion, rows) {}

void Gaeb2kReader::set_source(std::string text) {
    StringList1.clear();
    m_source = std::move(text);
    split_lines(m_source, StringList1);
}

void Gaeb2kReader::room_for_row(bool notes) const {
    if (notes)
        workbook::require_row(rows.Notes, workbook::kHinweistext);
    else
        workbook::require_row(rows.Positions, workbook::kPositionsteil);
}

void Gaeb2kReader::progress_to_remaining() {
    c.ui.progress_position(record_count - StringList1.size());
}

int64_t Gaeb2kReader::FindeKeyStringList2(std::string_view textzeile) {
    int64_t found = -1;
    guarded(c.ui, "GAEB2000, FindeKeyStringList2\n\n", [&] { found = StringList2.find(textzeile); });
    return found;
}

int64_t Gaeb2kReader::FindeKeyStringList4(std::string_view textzeile) {
    int64_t found = -1;
    guarded(c.ui, "GAEB2000, FindeKeyStringList4\n\n", [&] { found = StringList4.find(textzeile); });
    return found;
}

void Gaeb2kReader::STLBBau_weg() {
    c.ui.busy_cursor(true);
    guarded([&] { StringList1.erase_if([](std::string_view l) { return holds_key(l, "[STLBBau"); }); },
            [&](const std::exception&) { c.ui.message("STLB-Check fehlgeschlagen."); });
    c.ui.busy_cursor(false);
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

void Gaeb2kReader::WriteWrapped(const LineList& source, const WrapUse& use) {
    kinds.select(use.notes ? workbook::kHinweistext : workbook::kPositionsteil);
    auto write = [&](std::string_view text) {
        room_for_row(use.notes);
        if (use.notes)
            kinds.NotesRow(text, false);
        else
            kinds.TextRow(text, true);
    };
    const size_t n = use.width;
    for (int64_t li = 0; li < source.size(); ++li) {
        std::string_view rest = source.line(li);
        size_t length = workbook::utf8_length(rest);
        while (length > n) {
            const size_t i = cut_length(rest, n);
            const std::string_view piece = workbook::utf8_prefix(rest, i);
            // A piece that fails is dropped; the line goes on after it.
            guarded(c.ui, use.cut_failed, [&] { write(field(workbook::trim_left_ctl(field(piece, n)), n)); });
            rest.remove_prefix(piece.size());
            length -= i;
        }
        if (length == 0) continue;
        const std::string_view last = workbook::trim_left_ctl(rest);
        if (last.empty() && !use.write_empty_last) continue;
        guarded(c.ui, use.last_failed, [&] { write(last); });
    }
}

void Gaeb2kReader::WriteChunked() {
    constexpr size_t kWidth = 140;
    auto write = [&](std::string_view text) {
        room_for_row(false);
        kinds.TextRow(text, false);
    };
    for (int64_t li = 0; li < RTFMemo5.size(); ++li) {
        const std::string_view l = RTFMemo5.line(li);
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
std::string exchange_phase(const LineList& lines) {
    for (int64_t i = 0; i < lines.size(); ++i) {
        const std::string_view l = lines.line(i);
        if (l.find("[DP]") == std::string_view::npos) continue;
        return std::string(workbook::trim_ctl(key_value(workbook::utf8_prefix(l, 50), "[DP]")));
    }
    return {};
}

void start(workbook::Conversion& c) {
    Gaeb2kReader reader(c);
    reader.Austauschphase.clear();
    if (!workbook::create_sheets_or_end(c, "", workbook::RunEnd::Aborted, [&] { workbook::CreateSheets(c); }))
        return;
    const std::string file = c.file_name.string();
    std::optional<std::string> text = read_gaeb2000(c.file_name);
    if (!text) {
        workbook::release_application(c);
        c.ui.message("--- GAEB 2000 ---\nKann die Datei " + file + " nicht öffnen.");
        c.end_program(workbook::RunEnd::Refused);
        return;
    }
    reader.set_source(std::move(*text));
    reader.STLBBau_weg();
    reader.record_count = reader.StringList1.size();
    c.ui.progress_maximum(reader.record_count);
    reader.Austauschphase = exchange_phase(reader.StringList1);

    const std::string& phase = reader.Austauschphase;
    if (phase != "81" && phase != "83" && phase != "84") {
        workbook::release_application(c, false);
        c.ui.progress_finish();
        c.ui.busy_cursor(false);
        c.ui.error_dialog("--- GAEB 2000 ---\rKann die Austauschphase von " + file + " nicht ermitteln!\r" +
                          "Programmabbruch.");
        c.end_program(workbook::RunEnd::Refused);
        return;
    }
    guarded(c.ui, "", [&] { workbook::PreparePositionsSheet(c); });
    c.ui.process_events();
    c.ui.busy_cursor(true);
    reader.gaeb2k_run();
}

}  // namespace

void gaeb2k_start(workbook::Conversion& c) {
    // Every step guards itself; this is the last line of defence (out of memory and the like).
    workbook::run_reader(
        c, [&] { start(c); },
        [&](const std::exception& e) {
            c.ui.error_dialog("--- GAEB 2000 ---\nUnerwarteter Fehler: " + workbook::step_report(e));
            c.end_program(workbook::RunEnd::Aborted);
        });
}

void Gaeb2kReader::gaeb2k_run() {
    rows = workbook::SheetRows{};
    rows.Positions = 1;
    rows.Notes = 1;
    rows.Subtotals = 2;
    rows.GroupFirstRow = 0;
    rows.LastItemRow = 0;
    collected_notes.clear();
    end_of_ranges = false;
    end_of_sub_ranges = false;
    StringList2.clear();
    StringList4.clear();
    Memo5.clear();
    RTFMemo3.clear();
    RTFMemo5.clear();
    c.ui.busy_cursor(true);

    // A failure that escapes a step is reported with the step's text and the run goes on. (The
    // connection stays: releasing it here would make every later step fail.)
    auto step = [&](std::string_view message, workbook::FunctionRef<void()> body) {
        guarded(body, [&](const std::exception&) {
            c.ui.busy_cursor(false);
            c.ui.message(message);
        });
    };
    step("Fehler bei GAEBInfo", [&] { GaebInfo(); });
    step("Fehler bei PrjInfo", [&] { PrjInfo(); });
    step("Fehler bei VergabeInfo", [&] { VergabeInfo(); });
    step("Fehler bei Auftraggeber", [&] { Auftraggeber(); });
    step("Fehler bei LVInfo", [&] { LVInfo(); });
    if (c.options.ExportNotesText)
        step("Fehler bei Zusatz- oder Haupthinweistext", [&] {
            Zusatztext();
            HauptHinweistext();
        });
    guarded([&] { LVBereich(); },
            [&](const std::exception&) {
                workbook::FormatNachFehler(c);
                c.ui.busy_cursor(false);
                c.ui.message("Fehler bei LVBereich");
            });

    StringList1.clear();
    c.ui.progress_position(record_count);
    c.ui.process_events();
    workbook::FinishWorkbook(c, rows);
}

// ---------------------------------------------------------------------------------------------
// Header sections

bool Gaeb2kReader::take_section(std::string_view name) {
    StringList2.clear();
    if (StringList1.empty()) return false;
    const int64_t b = FindeBereich(fmt::format("#begin[{}]", name));
    const int64_t e = FindeBereich(fmt::format("#end[{}]", name));
    if (b == -1 || e == -1) return false;
    MoveBereich(StringList1, b, e, StringList2);
    progress_to_remaining();
    return true;
}

namespace {

void drop_block_lines(LineList& lines) {
    lines.erase_if([](std::string_view l) { return holds_key(l, "#begin[") || holds_key(l, "#end["); });
}

}  // namespace

void Gaeb2kReader::GaebInfo() {
    guarded(c.ui, "Verarbeitungsfehler auf GAEB-Info-Ebene\n\n", [&] {
        if (take_section("GAEBInfo")) drop_block_lines(StringList2);
    });
}

void Gaeb2kReader::PrjInfo() {
    guarded(c.ui, "Verarbeitungsfehler auf PRJ-Info-Ebene\n\n", [&] {
        if (!take_section("PrjInfo")) return;
        drop_block_lines(StringList2);
        const int64_t i = StringList2.find("[Bez]");
        if (i == -1) return;
        const std::string value = key_value(StringList2.line(i), "[Bez]");
        if (!value.empty()) workbook::WriteHeaderBlock(c, 1, "Projektname:", value);
    });
}

void Gaeb2kReader::VergabeInfo() {
    guarded(c.ui, "Verarbeitungsfehler auf VergabeInfo-Ebene\n\n", [&] {
        if (take_section("VergabeInfo")) drop_block_lines(StringList2);
    });
}

void Gaeb2kReader::Auftraggeber() {
    guarded(c.ui, "GAEB2000-Modul \"Arbeitgeber\", Abschnitt 1\n\n", [&] {
        if (take_section("AG")) {
            kinds.positions();
            const int64_t i = StringList2.find("[Name1]");
            if (i != -1) {
                const std::string value = key_value(StringList2.line(i), "[Name1]", 150);
                if (!value.empty()) workbook::WriteHeaderBlock(c, 4, "Auftraggeber:", value);
            }
        }
    });
    guarded(c.ui, "GAEB2000-Modul sa3, Abschnitt 2\n\n", [&] {
        workbook::ColumnHeaderCaptions(c, rows);
        workbook::ColumnHeaderFormats(c);
    });
    guarded(c.ui, "GAEB2000-Modul \"Arbeitgeber\", Abschnitt 2\n\n",
            [&] { workbook::ColumnHeaderStyles(c, rows); });
}

void Gaeb2kReader::LVInfo() {
    guarded(c.ui, "GAEB2000-Modul \"LVInfo\"\n\n", [&] {
        if (!take_section("LVInfo")) return;
        kinds.positions();
        if (const int64_t i = StringList2.find("[Bez]"); i != -1)
            workbook::WriteHeaderBlock(c, 2, "LV-Bezeichnung:", key_value(StringList2.line(i), "[Bez]", 250));
        if (const int64_t i = StringList2.find("[Datum]"); i != -1)
            workbook::WriteHeaderBlock(c, 3, "LV-Datum:", key_value(StringList2.line(i), "[Datum]", 100));

        // The OZ mask: the length of each level (LVStufe) and of the item number (Position).
        oz_mask.clear();
        while (true) {
            Memo5.clear();
            const int64_t b = FindeBereichStringList2("#begin[LVGlied]");
            const int64_t e = FindeBereichStringList2("#end[LVGlied]");
            if (b == -1 || e == -1 || e < b) break;
            MoveBereich(StringList2, b, e, Memo5);
            const int64_t length = FindeKeyMemo5("[Laenge]");
            if (length == -1) continue;
            const std::string digits(workbook::trim_right_ctl(key_value(Memo5.line(length), "[Laenge]")));
            if (FindeKeyMemo5("[Typ]LVStufe") != -1) oz_mask = field(oz_mask + digits, 20);
            if (FindeKeyMemo5("[Typ]Position") != -1) oz_mask = field(oz_mask + digits, 20);
        }
        workbook::WriteHeaderBlock(c, 5, "OZ-Maske:", oz_mask);
    });
}

}  // namespace gaeb2000
