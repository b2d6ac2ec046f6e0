// SPDX-License-Identifier: MIT
#include "workbook/finish.h"

#include "workbook/guarded.h"

namespace workbook {
namespace {

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
                    const FinishInfo& info) {
    const bool gaeb90 = c.format == GaebFormat::Gaeb90;
    guarded(c.ui, outer_prefix, [&] {
        Sheet& s = c.book().sheet(kPositionsteil);
        s.Select();
        guarded(c.ui, inner_prefix, [&] {
            if (!gaeb90) c.ui.status("Seitenlayout-Formatierung..");
            c.ui.status("Layout-Formatierung..");
            PageSetup& p = s.page_setup();
            p.zoom = gaeb90 ? 75 : 65;
            p.orientation = 2;
            p.print_title_rows = "$7:$7";
            p.print_area = "$A:$F";
            p.center_horizontally = true;
            const double cm = c.excel.InchesToPoints(0.393700787401575);
            p.left_margin = p.right_margin = p.top_margin = p.bottom_margin = cm;
            p.header_margin = p.footer_margin = c.excel.InchesToPoints(0);
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

void FinishWorkbook(Conversion& c, const SheetRows& rows, FinishInfo info) {
    switch (c.format) {
        case GaebFormat::Gaeb90:
            guarded(c.ui, "Prozedur \"gaeblesen\", Abschnitt \"checkbox4\"\n\n",
                    [&] { subtotals_step(c, rows); });
            guarded(c.ui, "Prozedur \"gaeblesen\", Löschen von leeren Tabellen\n\n", [&] {
                if (rows.Faulty > 1) {
                    c.ui.beep();
                    c.ui.message(
                        "Es wurden fehlerhafte Sätze in der Quelldatei gefunden.\rSie sind in der Tabelle "
                        "\"Fehlerhafte Zeilen\" aufgelistet.\rDas Programm wird jetzt beendet.");
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
                           "Prozedur \"gaeblesen\", 2. Seiten-Layout\n\n", info);
            break;
        case GaebFormat::Gaeb2000:
            guarded(c.ui, "GAEB2000-Modul \"gaeb2k_run\", 1. Seiten-Layout\n\n", [&] {
                notes_step(c, rows);
                subtotals_step(c, rows);
            });
            c.ui.busy_cursor(false);
            positions_step(c, "GAEB2000-Modul, Layout-Formatierung\n\n",
                           "GAEB2000-Modul \"gaeb2k_run\", 2. Seiten-Layout\n\n", info);
            break;
        default:
            guarded(c.ui, "XML-Modul, Formatierung der Teilsummentabelle\n\n",
                    [&] { subtotals_step(c, rows); });
            guarded(c.ui, "XML-Modul, Formatierung der Hinweistexttabelle\n\n", [&] { notes_step(c, rows); });
            c.ui.busy_cursor(false);
            positions_step(c, "GAEB-XML, Layout-Formatierung\n\n", "XML-Modul, Seitenlayout-Formatierung\n\n",
                           info);
            break;
    }

    c.ui.process_events();
    c.ui.busy_cursor(false);
    c.ui.unlock_controls();
    c.ui.elapsed_stop();
    c.ui.status("Konvertierung abgeschlossen..");
    c.ui.progress_finish();

    c.ui.message(c.format == GaebFormat::Xml
                     ? "Konvertierung abgeschlossen.\r\rDas Programm wird jetzt beendet."
                     : "Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet.");
    if (c.format == GaebFormat::Gaeb90)
        guarded(c.ui, "Beenden von Excel\n\n", [&] { c.excel.release(); });
    else
        c.excel.release();
    c.ui.process_events();
    c.end_program(RunEnd::Completed);
}

void FormatNachFehler(Conversion& c) {
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
        c.excel.set_visible(true);
    });
    c.end_program(RunEnd::Aborted);
}

}  // namespace workbook
