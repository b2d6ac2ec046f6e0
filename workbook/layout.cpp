// SPDX-License-Identifier: MIT
#include "workbook/layout.h"

#include "workbook/guarded.h"

namespace workbook {

namespace {
constexpr std::string_view kStartFailed = "GAEB90-Modul, Starten von Excel\n\n";
}

void PrepareWorkbook(ExcelSession& excel, Frontend& ui) {
    guarded(ui, kStartFailed, [&] {
        excel.set_window_state(kWindowMinimized);
        excel.set_sheets_in_new_workbook(1);
        excel.add_workbook();
        if (excel.workbooks_count() > 1) excel.activate_workbook(excel.workbooks_count());
        ui.process_events();
        excel.set_visible(true);
    });
}

void open_session(ExcelSession& excel, Frontend& ui, const StartupValues& values) {
    const bool connected = guarded(ui, kStartFailed, [&] {
        excel.Connect();
        excel.set_application_name(values.application);
        excel.set_locale_number_formats(values.money_format, values.quantity_format);
    });
    if (connected) PrepareWorkbook(excel, ui);
}

namespace {

Sheet& add_named_sheet(Conversion& c, std::string_view name) {
    Sheet& s = c.book().add_sheet();
    s.set_name(std::string(name));
    s.Select();
    s.set_number_format(Range::columns(1, 1), "@");
    return s;
}

}  // namespace

void create_positions_sheet(Conversion& c) {
    Sheet& s = c.book().sheet(1);
    s.set_name(std::string(kPositionsteil));
    // An item's text rows are grouped below the item row: its outline button belongs beside it.
    s.outline_settings().summary_row_below = false;
}

void create_auxiliary_sheets(Conversion& c) {
    const bool gaeb90 = c.format == GaebFormat::Gaeb90;
    if (c.options.SubtotalsSheet) {
        Sheet& s = add_named_sheet(c, kTeilsummen);
        c.has_subtotals_sheet = true;
        if (gaeb90) s.set_number_format(Range::columns(2, 2), c.money_format);
        c.ui.process_events();
        s.set_bold(Range::parse("A1:B1"), true);
        if (!gaeb90) s.set_halign(Range::columns(3, 5), HAlign::Center);
        s.set_value(1, 1, "Bezeichnung");
        s.set_value(1, 2, "Wert");
        s.select_cell(1, 1);
    }
    if (c.options.ExportNotesText) {
        add_named_sheet(c, kHinweistext);
        c.has_notes_sheet = true;
        c.ui.process_events();
    }
    if (gaeb90 && c.options.LogFaultyLines) {
        add_named_sheet(c, kFehlerhafteZeilen);
        c.has_faulty_sheet = true;
        c.ui.process_events();
    }
}

void CreateSheets(Conversion& c) {
    create_positions_sheet(c);
    create_auxiliary_sheets(c);
}

void AddRulesSheet(Conversion& c) {
    add_named_sheet(c, kRegelungen);
    c.has_rules_sheet = true;
    c.ui.process_events();
}

void PreparePositionsSheet(Conversion& c) {
    Sheet& s = c.book().sheet(kPositionsteil);
    s.Select();
    s.set_number_format(Range::columns(1, 2), "@");
    s.set_bold(Range::columns(1, 1), true);
    c.ui.process_events();
}

void WriteHeaderBlock(Conversion& c, int row, std::string_view label, std::string_view value) {
    Sheet& s = c.book().sheet(kPositionsteil);
    s.Select();
    s.set_value(row, 1, label);
    s.set_value(row, 2, value);
}

void column_header_captions(Conversion& c, SheetRows& rows) {
    Sheet& s = c.book().sheet(kPositionsteil);
    s.Select();
    rows.Positions = 7;
    s.set_value(7, 1, "Ordnungszahl");
    s.set_value(7, 2, c.format == GaebFormat::Gaeb2000 ? "Positiontext" : "Positionstext");
    s.set_value(7, 3, "Menge");
    s.set_value(7, 4, "ME");
    s.set_value(7, 5, "E-Preis");
    s.set_value(7, 6, "G-Preis");
    if (c.options.CalcColumns) {
        s.set_value(7, 7, "Basispreis");
        s.set_value(7, 8, "Faktor");
        s.set_fill(Range::columns(7, 8), kFillGrey);
    }
}

void column_header_formats(Conversion& c) {
    Sheet& s = c.book().sheet(kPositionsteil);
    c.ui.process_events();
    s.set_halign(Range::columns(3, 3), HAlign::Right);
    s.set_number_format(Range::columns(3, 3), c.quantity_format);
    s.set_halign(Range::columns(5, 8), HAlign::Right);
    s.set_column_width(5, 8, 10);
    s.set_number_format(Range::columns(5, 8), c.money_format);
    if (c.format == GaebFormat::Gaeb90) s.set_column_width(6, 6, 12);
}

void column_header_styles(Conversion& c, SheetRows& rows) {
    Sheet& s = c.book().sheet(kPositionsteil);
    c.ui.process_events();
    const int32_t last = c.options.CalcColumns ? 8 : 6;
    for (int32_t col = 1; col <= last; ++col) {
        s.set_fill(7, col, kFillYellow);
        s.border_around(7, col);
        s.set_bold(7, col, true);
        s.set_halign(7, col, HAlign::Center);
        c.ui.process_events();
    }
    rows.Positions = 8;
}

void WriteColumnHeaderRow(Conversion& c, SheetRows& rows) {
    column_header_captions(c, rows);
    column_header_formats(c);
    column_header_styles(c, rows);
}

}  // namespace workbook
