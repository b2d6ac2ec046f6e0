// SPDX-License-Identifier: MIT
#include "workbook/finish.h"

#include <fmt/format.h>

#include "workbook/guarded.h"
#include "workbook/text.h"

namespace workbook {
namespace {

constexpr std::string_view kBillSubject = "Leistungsverzeichnis";

// The first row below the caption row 7.
constexpr int32_t kFirstBodyRow = 8;
// Column F as wide as the total column of Teilsummen: a bill's total runs to millions, which the
// item totals' width of 10 or 12 would show as "###".
constexpr double kTotalColumnWidth = 15;
// Enough for any bill name; the footer holds at most 255 characters in all.
constexpr size_t kMaxBillNameCharacters = 100;

// Control characters as blanks, blanks at both ends removed, cut to kMaxBillNameCharacters.
std::string plain_name(std::string_view text) {
    std::string out(text);
    for (char& ch : out)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = ' ';
    return std::string(trim_ctl(utf8_prefix(trim_ctl(out), kMaxBillNameCharacters)));
}

void set_document_properties(Conversion& c, const std::string& name) {
    DocumentProperties& d = c.book().properties();
    d.title = name;
    d.subject = std::string(kBillSubject);
}

// "&" starts a footer code; a literal one is written twice.
std::string footer_text(std::string_view text) {
    return replace_all(text, "&", "&&");
}

// A4 with the bill's name and the page count in the footer; the wide sheets one page wide and as
// many pages tall as they need, in place of a fixed print scale.
void print_pages(Sheet& s, const std::string& name) {
    PageSetup& p = s.page_setup();
    p.paper_size = kPaperA4;
    if (equals_ci(s.name(), kPositionsteil) || equals_ci(s.name(), kHinweistext)) {
        p.zoom = 0;
        p.fit_to_pages_wide = 1;
        p.fit_to_pages_tall = 0;
    }
    p.left_footer = footer_text(name);
    p.right_footer = "Seite &P von &N";
}

void print_all_pages(Conversion& c, const std::string& name) {
    for (Sheet* s : c.book().sheets_in_tab_order()) print_pages(*s, name);
}

// Below the last row of Positionsteil, after one empty row: the sum of column F over the item
// rows, when the items carry totals (a GAEB 90 bill of phase 82 writes only their OZ).
void grand_total_step(Conversion& c) {
    Sheet& s = c.book().sheet(kPositionsteil);
    const int32_t last = s.last_row();
    bool totals = false;
    for (int32_t row = kFirstBodyRow; row <= last && !totals; ++row)
        totals = !s.value(row, 1).is_empty() && !s.value(row, 6).is_empty();
    const int32_t total_row = last + 2;
    // A sheet filled to its last rows has no room left for the total.
    if (!totals || total_row > kMaxRow) return;
    s.Select();
    s.set_value(total_row, 2, kGrandTotalLabel);
    s.set_formula(total_row, 6, fmt::format("=SUM($F${}:$F${})", kFirstBodyRow, last));
    s.set_bold(total_row, 2, true);
    s.set_bold(total_row, 6, true);
    if (s.column_width(6).value_or(0) < kTotalColumnWidth) s.set_column_width(6, 6, kTotalColumnWidth);
    c.ui.process_events();
}

void delete_quietly(Conversion& c, std::string_view name) {
    c.excel.set_display_alerts(false);
    c.book().delete_sheet(name);
    c.excel.set_display_alerts(true);
}

void fit_sheet(Conversion& c, std::string_view name) {
    Sheet& s = c.book().sheet(name);
    s.Select();
    s.autofit_used_range();
    s.select_cell(1, 1);
}

void subtotals_step(Conversion& c, const SheetRows& rows) {
    if (!c.options.SubtotalsSheet) return;
    if (rows.Subtotals < 3) {
        delete_quietly(c, kTeilsummen);
        c.has_subtotals_sheet = false;
        return;
    }
    Sheet& s = c.book().sheet(kTeilsummen);
    s.Select();
    const int32_t total_row = rows.Subtotals + 1;
    s.set_value(total_row, 1, "Gesamt");
    s.set_formula(total_row, 2, formula_grand_total(rows.Subtotals - 1));
    s.set_font_color(Range{2, 1, total_row, 1}, kColorBlue);
    s.autofit_columns(1, 1);
    s.set_halign(Range::columns(2, 2), HAlign::Right);
    s.set_column_width(2, 2, 15);
    s.set_number_format(Range::columns(2, 2), c.money_format);
    s.set_halign(Range::parse("A1:B1"), HAlign::Center);
    s.select_cell(2, 1);
}

void notes_step(Conversion& c, const SheetRows& rows) {
    if (!c.options.ExportNotesText) return;
    c.ui.status("Formatiere das Tabellenblatt \"Hinweistext\"..");
    fit_sheet(c, kHinweistext);
    if (c.format != GaebFormat::Gaeb90 && rows.Notes <= 1) {
        delete_quietly(c, kHinweistext);
        c.has_notes_sheet = false;
    }
}

void positions_step(Conversion& c, std::string_view inner_prefix, std::string_view outer_prefix,
                    const FinishInfo& info, const std::string& name) {
    guarded(c.ui, outer_prefix, [&] { grand_total_step(c); });
    guarded(c.ui, outer_prefix, [&] {
        Sheet& s = c.book().sheet(kPositionsteil);
        s.Select();
        guarded(c.ui, inner_prefix, [&] {
            if (c.format != GaebFormat::Gaeb90) c.ui.status("Seitenlayout-Formatierung..");
            c.ui.status("Layout-Formatierung..");
            print_all_pages(c, name);
            PageSetup& p = s.page_setup();
            p.orientation = 2;
            p.print_title_rows = "$7:$7";
            p.print_area = "$A:$F";
            p.center_horizontally = true;
            const double cm = c.excel.InchesToPoints(0.393700787401575);
            p.left_margin = p.right_margin = p.top_margin = p.bottom_margin = cm;
            p.header_margin = c.excel.InchesToPoints(0);
            // The footer half a centimetre above the paper's edge, where a printer reaches it;
            // the bottom margin of one centimetre leaves it room below the rows.
            p.footer_margin = c.excel.InchesToPoints(0.196850393700787);
        });
        c.ui.status("Formatiere das Tabellenblatt \"Positionsteil\"..");
        s.window().zoom = c.options.CalcColumns ? 80 : 85;
        c.ui.process_events();
        double width_a = 20, width_b = 100, width_c = 12;
        if (c.format == GaebFormat::Gaeb2000) width_b = 150;
        if (c.format == GaebFormat::Xml) {
            width_a = info.mask_length > 6 ? 23 : 18;
            width_b = 146;
            width_c = 10;
        }
        s.set_column_width(1, 1, width_a);
        s.set_column_width(2, 2, width_b);
        s.set_column_width(3, 3, width_c);
        s.set_column_width(4, 4, 8);
        c.ui.process_events();
        c.excel.set_visible(true);
        c.excel.set_window_state(kWindowMaximized);
        c.excel.set_screen_updating(true);
        c.ui.process_events();
        s.window().split_column = 0;
        s.window().split_row = 7;
        s.window().freeze_panes = true;
        c.ui.process_events();
    });
}

}  // namespace

std::string cut_off_note(int64_t items) {
    return fmt::format("{} sie ist möglicherweise unvollständig. {} {} gelesen.", kCutOffNoteStart, items,
                       items == 1 ? "Position wurde" : "Positionen wurden");
}

int64_t item_rows(const Workbook& book) {
    const Sheet* s = book.find_sheet(kPositionsteil);
    if (!s) return 0;
    int64_t items = 0;
    for (int32_t row = kFirstBodyRow; row <= s->last_row(); ++row)
        if (!s->text(row, 1).empty()) ++items;
    return items;
}

std::string bill_name(Conversion& c) {
    if (const Sheet* s = c.book().find_sheet(kPositionsteil)) {
        for (int32_t row = 1; row <= 5; ++row) {
            if (trim_ctl(s->text(row, 1)) != "LV-Bezeichnung:") continue;
            std::string name = plain_name(s->text(row, 2));
            if (!name.empty()) return name;
        }
    }
    const std::string file = c.input_path.filename().string();
    return file == "-" ? std::string() : plain_name(file);
}

void FinishWorkbook(Conversion& c, const SheetRows& rows, FinishInfo info) {
    // Reading has ended: what fails from here on lies in no line of the input.
    c.place.clear();
    const std::string name = bill_name(c);
    set_document_properties(c, name);
    const std::string cut_off = info.cut_off ? cut_off_note(item_rows(c.book())) : std::string();
    switch (c.format) {
        case GaebFormat::Gaeb90:
            guarded(c.ui, "Prozedur \"gaeblesen\", Abschnitt \"checkbox4\"\n\n",
                    [&] { subtotals_step(c, rows); });
            guarded(c.ui, "Prozedur \"gaeblesen\", Löschen von leeren Tabellen\n\n", [&] {
                if (rows.Faulty > 1) {
                    c.ui.beep();
                    // The completion message that follows says that the program ends.
                    c.ui.message(
                        "Es wurden fehlerhafte Sätze in der Quelldatei gefunden.\rSie sind in der Tabelle "
                        "\"Fehlerhafte Zeilen\" aufgelistet.");
                    // The list of faulty lines, which is kept, also says that the file ends early.
                    if (info.cut_off && rows.Faulty <= kMaxRow)
                        c.book().sheet(kFehlerhafteZeilen).set_value(rows.Faulty, 1, cut_off);
                } else if (c.options.LogFaultyLines && c.has_faulty_sheet) {
                    delete_quietly(c, kFehlerhafteZeilen);
                    c.has_faulty_sheet = false;
                }
            });
            guarded(c.ui, "Prozedur \"gaeblesen\", 1. Seiten-Layout\n\n", [&] {
                notes_step(c, rows);
                if (c.options.LogFaultyLines && rows.Faulty > 1) fit_sheet(c, kFehlerhafteZeilen);
                if (c.has_rules_sheet) fit_sheet(c, kRegelungen);
            });
            positions_step(c, "GAEB90-Modul, Layout-Formatierung\n\n",
                           "Prozedur \"gaeblesen\", 2. Seiten-Layout\n\n", info, name);
            break;
        case GaebFormat::Gaeb2000:
            guarded(c.ui, "GAEB2000-Modul \"gaeb2k_run\", 1. Seiten-Layout\n\n", [&] {
                notes_step(c, rows);
                subtotals_step(c, rows);
            });
            c.ui.busy_cursor(false);
            positions_step(c, "GAEB2000-Modul, Layout-Formatierung\n\n",
                           "GAEB2000-Modul \"gaeb2k_run\", 2. Seiten-Layout\n\n", info, name);
            break;
        default:
            guarded(c.ui, "XML-Modul, Formatierung der Teilsummentabelle\n\n",
                    [&] { subtotals_step(c, rows); });
            guarded(c.ui, "XML-Modul, Formatierung der Hinweistexttabelle\n\n", [&] { notes_step(c, rows); });
            c.ui.busy_cursor(false);
            positions_step(c, "GAEB-XML, Layout-Formatierung\n\n", "XML-Modul, Seitenlayout-Formatierung\n\n",
                           info, name);
            break;
    }

    c.ui.process_events();
    c.ui.busy_cursor(false);
    c.ui.unlock_controls();
    c.ui.elapsed_stop();
    c.ui.status("Konvertierung abgeschlossen..");
    c.ui.progress_finish();

    // A bill cut off is not said to be complete.
    if (info.cut_off)
        c.ui.error_dialog(cut_off);
    else
        c.ui.message(c.format == GaebFormat::Xml
                         ? "Konvertierung abgeschlossen.\r\rDas Programm wird jetzt beendet."
                         : "Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet.");
    if (c.format == GaebFormat::Gaeb90)
        guarded(c.ui, "Beenden von Excel\n\n", [&] { c.excel.release(); });
    else
        c.excel.release();
    c.ui.process_events();
    c.end_program(info.cut_off ? RunEnd::Aborted : RunEnd::Completed);
}

void FormatNachFehler(Conversion& c) {
    c.place.clear();
    c.ui.progress_finish();
    c.ui.busy_cursor(false);
    guarded(c.ui, "GAEB90-Modul, FormatnachFehler\n\n", [&] {
        Workbook& book = c.book();
        for (std::string_view name : {kHinweistext, kFehlerhafteZeilen, kRegelungen, kPositionsteil})
            if (book.find_sheet(name)) fit_sheet(c, name);
        if (book.find_sheet(kTeilsummen)) {
            Sheet& s = book.sheet(kTeilsummen);
            s.Select();
            s.autofit_used_range();
            s.set_halign(Range::columns(2, 2), HAlign::Right);
            s.set_column_width(2, 2, 10);
            s.set_number_format(Range::columns(2, 2), c.money_format);
            s.select_cell(2, 1);
        }
        const std::string name = bill_name(c);
        set_document_properties(c, name);
        print_all_pages(c, name);
        c.excel.set_visible(true);
    });
    c.end_program(RunEnd::Aborted);
}

}  // namespace workbook
