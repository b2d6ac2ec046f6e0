// SPDX-License-Identifier: MIT
// Sheet layout, row kinds, price formulas and the finishing pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/support/test_support.h"
#include "workbook/finish.h"
#include "workbook/formula.h"
#include "workbook/layout.h"
#include "workbook/rows.h"

using namespace workbook;

namespace {

// A prepared session with a conversion for one format, as the controller hands it to a reader.
struct Fixture {
    ExcelSession excel;
    RecordingFrontend ui;
    Conversion c;
    SheetRows rows;
    RowKinds kinds{c, rows};

    explicit Fixture(GaebFormat format, ConversionOptions options = {}, bool prepare_positions = true,
                     const std::filesystem::path& input = {})
        : c(excel, ui, testsupport::startup_values(), format, options, input) {
        excel.Connect();
        PrepareWorkbook(excel, ui);
        CreateSheets(c);
        if (prepare_positions) PreparePositionsSheet(c);
    }
    // The workbook also after the finishing pass has released the session.
    Sheet& sheet(std::string_view name) { return excel.result()->sheet(name); }
    std::vector<std::string> tabs() {
        std::vector<std::string> out;
        for (Sheet* s : excel.result()->sheets_in_tab_order()) out.push_back(s->name());
        return out;
    }
};

ConversionOptions all_sheets() {
    ConversionOptions o;
    o.SubtotalsSheet = o.ExportNotesText = o.LogFaultyLines = true;
    return o;
}

}  // namespace

TEST(Layout, TabOrderIsTheReverseOfCreation) {
    // GAEB 90 adds "Regelungen" while reading up to record 00, before Positionsteil is selected.
    Fixture g90(GaebFormat::Gaeb90, all_sheets(), false);
    AddRulesSheet(g90.c);
    EXPECT_EQ(g90.tabs(), (std::vector<std::string>{"Regelungen", "Fehlerhafte Zeilen", "Hinweistext",
                                                    "Teilsummen", "Positionsteil"}));
    Fixture g2k(GaebFormat::Gaeb2000, all_sheets());
    EXPECT_EQ(g2k.tabs(), (std::vector<std::string>{"Hinweistext", "Teilsummen", "Positionsteil"}));
    ConversionOptions none;
    none.LogFaultyLines = false;
    Fixture bare(GaebFormat::Gaeb2000, none);
    EXPECT_EQ(bare.tabs(), (std::vector<std::string>{"Positionsteil"}));
}

TEST(Layout, SubtotalsSheetCaptionsForEveryFormat) {
    for (GaebFormat f : {GaebFormat::Gaeb90, GaebFormat::Gaeb2000, GaebFormat::Xml}) {
        SCOPED_TRACE(static_cast<int>(f));
        Fixture fx(f, all_sheets());
        Sheet& t = fx.sheet(kTeilsummen);
        EXPECT_EQ(t.text(1, 1), "Bezeichnung");
        EXPECT_EQ(t.text(1, 2), "Wert");
        EXPECT_EQ(t.effective_format(1, 2).bold, true);
        EXPECT_EQ(t.column_format(3).halign.has_value(), f != GaebFormat::Gaeb90);
        EXPECT_EQ(t.column_format(2).number_format.has_value(), f == GaebFormat::Gaeb90);
    }
}

TEST(Layout, CaptionRowWithAndWithoutCalculationColumns) {
    for (bool calc : {true, false}) {
        SCOPED_TRACE(calc);
        ConversionOptions o;
        o.CalcColumns = calc;
        Fixture fx(GaebFormat::Gaeb90, o);
        WriteColumnHeaderRow(fx.c, fx.rows);
        Sheet& p = fx.sheet(kPositionsteil);
        EXPECT_EQ(fx.rows.Positions, 8);
        EXPECT_EQ(p.text(7, 1), "Ordnungszahl");
        EXPECT_EQ(p.text(7, 2), "Positionstext");
        EXPECT_EQ(p.text(7, 6), "G-Preis");
        EXPECT_EQ(p.text(7, 7), calc ? "Basispreis" : "");
        EXPECT_EQ(p.text(7, 8), calc ? "Faktor" : "");
        EXPECT_EQ(p.column_format(7).fill.has_value(), calc);
        EXPECT_EQ(p.column_width(7), 10);
        EXPECT_EQ(p.column_width(6), 12);  // GAEB 90 widens the total column
        EXPECT_EQ(p.column_format(8).number_format, "#,###,##0.00");
        EXPECT_EQ(p.column_format(3).number_format, "#######0.000");
        const CellFormat caption = p.effective_format(7, calc ? 8 : 6);
        EXPECT_EQ(caption.fill, kFillYellow);
        EXPECT_EQ(caption.border, true);
        EXPECT_EQ(caption.bold, true);
        EXPECT_EQ(caption.halign, HAlign::Center);
        EXPECT_FALSE(p.effective_format(7, 7).border.has_value() && !calc);
        // Column A is text and bold: an ordinal number keeps its leading zero.
        EXPECT_EQ(p.column_format(1).number_format, "@");
        EXPECT_EQ(p.column_format(1).bold, true);
    }
    Fixture g2k(GaebFormat::Gaeb2000);
    WriteColumnHeaderRow(g2k.c, g2k.rows);
    EXPECT_EQ(g2k.sheet(kPositionsteil).text(7, 2), "Positiontext");
    EXPECT_EQ(g2k.sheet(kPositionsteil).column_width(6), 10);
}

// Every combination of CalcColumns, RoundPrices and layout, for an item in row 10.
TEST(Rows, PriceFormulasForEveryOptionCombination) {
    struct Case {
        GaebFormat format;
        bool calc, round;
        std::vector<std::string> expected;  // cells C to H of row 10, "" when empty
    };
    const std::vector<Case> cases = {
        {GaebFormat::Gaeb90,
         true,
         true,
         {"2", "m2", "=ROUND($G$10*$H$10,2)", "=ROUND($C$10*$E$10,2)", "7.25", "1"}},
        {GaebFormat::Gaeb90, true, false, {"2", "m2", "=$G$10*$H$10", "=$C$10*$E$10", "7.25", "1"}},
        {GaebFormat::Gaeb90, false, true, {"2", "m2", "7.25", "=ROUND($C$10*$E$10,2)", "", ""}},
        {GaebFormat::Gaeb90, false, false, {"2", "m2", "7.25", "=$C$10*$E$10", "", ""}},
        {GaebFormat::Gaeb2000,
         true,
         true,
         {"2", "m2", "=ROUND($G$10*$H$10,2)", "=ROUND($C$10*$E$10,2)", "7.25", "1"}},
        {GaebFormat::Xml, false, false, {"2", "m2", "7.25", "=$C$10*$E$10", "", ""}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(k.format) << " calc=" << k.calc << " round=" << k.round);
        ConversionOptions o;
        o.CalcColumns = k.calc;
        o.RoundPrices = k.round;
        Fixture fx(k.format, o);
        fx.rows.Positions = 10;
        fx.kinds.ItemRow({"01.02.0010", "*** Normalposition", 2.0, "m2", 7.25, false});
        Sheet& p = fx.sheet(kPositionsteil);
        std::vector<std::string> got;
        for (int col = 3; col <= 8; ++col) got.push_back(p.text(10, col));
        EXPECT_EQ(got, k.expected);
        EXPECT_EQ(p.text(10, 1), "01.02.0010");
        EXPECT_EQ(p.effective_format(10, 2).font_color, kColorRed);
        const int input_col = k.calc ? 7 : 5;
        EXPECT_EQ(p.effective_format(10, input_col).fill, kFillTurquoise);
        EXPECT_EQ(p.effective_format(10, input_col).border, true);
        EXPECT_EQ(fx.rows.LastItemRow, 10);
        EXPECT_EQ(fx.rows.Positions, 11);
    }
    // Bid layout: the quantity from the total; GAEB DA XML without ROUND.
    EXPECT_EQ(formula_quantity_from_total(12, GaebFormat::Gaeb90), "=ROUND($F$12/$E$12,3)");
    EXPECT_EQ(formula_quantity_from_total(12, GaebFormat::Gaeb2000), "=ROUND($F$12/$E$12,3)");
    EXPECT_EQ(formula_quantity_from_total(12, GaebFormat::Xml), "=$F$12/$E$12");
    EXPECT_EQ(formula_subtotal(20, 35), "=SUM(Positionsteil!$F$20:$F$35)");
    EXPECT_EQ(formula_grand_total(4), "=ROUND(SUM($B$2:$B$4),2)");
}

TEST(Rows, ItemWithoutTotalLeavesTotalEmptyButCounts) {
    Fixture fx(GaebFormat::Gaeb2000);
    fx.rows.Positions = 10;
    fx.kinds.ItemRow({"1", "*** Bedarfsposition ohne G-Preis, Typ NEN", 1.0, "St", std::nullopt, true});
    Sheet& p = fx.sheet(kPositionsteil);
    EXPECT_EQ(p.text(10, 6), "");
    EXPECT_EQ(p.text(10, 7), "0");
    EXPECT_EQ(fx.rows.LastItemRow, 10);
}

TEST(Rows, Gaeb90TextGroupSkipsHierarchyRowsAndFormsOnce) {
    Fixture fx(GaebFormat::Gaeb90);
    fx.rows.Positions = 20;
    fx.kinds.ItemRow({"01.0010", "", 1.0, "m", std::nullopt, false});  // row 20
    for (int i = 0; i < 5; ++i) fx.kinds.TextRow("Langtext", true);    // rows 21 to 25
    fx.kinds.HierarchyRow("LV-Gruppe 02 - Ausbau");                    // row 26
    EXPECT_EQ(fx.rows.TextGroupStart, 21);
    fx.kinds.ItemRow({"02.0010", "", 1.0, "m", std::nullopt, false});  // row 27
    Sheet& p = fx.sheet(kPositionsteil);
    EXPECT_EQ(p.outline_level(20), 0);
    for (int r = 21; r <= 25; ++r) EXPECT_EQ(p.outline_level(r), 1) << r;
    EXPECT_EQ(p.outline_level(26), 0);
    EXPECT_EQ(fx.rows.TextGroupStart, 0);
    // An item without long text forms no group when the next item comes.
    fx.kinds.TextRow("Kurztext", false);
    fx.kinds.ItemRow({"02.0020", "", 1.0, "m", std::nullopt, false});
    EXPECT_EQ(p.outline_level(28), 0);
}

TEST(Rows, SubtotalFormulaNeedsItemsInTheGroup) {
    Fixture fx(GaebFormat::Gaeb2000, all_sheets());
    fx.rows.GroupFirstRow = 20;
    fx.rows.LastItemRow = 35;
    fx.kinds.subtotal_label(fx.rows.Subtotals, "LV-Bereich 01. Rohbau");
    EXPECT_TRUE(fx.kinds.subtotal_formula());
    Sheet& t = fx.sheet(kTeilsummen);
    EXPECT_EQ(t.text(2, 1), "LV-Bereich 01. Rohbau");
    EXPECT_EQ(t.text(2, 2), "=SUM(Positionsteil!$F$20:$F$35)");
    EXPECT_EQ(fx.rows.Subtotals, 3);
    EXPECT_EQ(fx.rows.GroupFirstRow, 0);
    fx.rows.GroupFirstRow = 40;  // a group without items
    EXPECT_FALSE(fx.kinds.subtotal_formula());
    EXPECT_EQ(fx.rows.Subtotals, 3);
}

TEST(Rows, AuxiliaryRowsAdvanceTheirCursors) {
    Fixture fx(GaebFormat::Gaeb90, all_sheets());
    fx.kinds.NotesRow("LV-Gruppe 01 Rohbau", true);
    fx.kinds.NotesRow("Hinweis", false);
    EXPECT_EQ(fx.sheet(kHinweistext).effective_format(1, 1).bold, true);
    EXPECT_NE(fx.sheet(kHinweistext).effective_format(2, 1).bold, true);
    EXPECT_EQ(fx.rows.Notes, 3);
    fx.kinds.FaultyLineRow("05 kaputt");
    EXPECT_EQ(fx.sheet(kFehlerhafteZeilen).text(1, 1), "05 kaputt");
    // Without a "Regelungen" sheet the write fails, and the cursor still advances.
    EXPECT_THROW(fx.kinds.RulesRow("Regel"), WorkbookError);
    EXPECT_EQ(fx.rows.Rules, 2);
}

TEST(Finish, GrandTotalBelowTheLastSubtotalAndBlueLabels) {
    Fixture fx(GaebFormat::Gaeb2000, all_sheets());
    fx.rows.Subtotals = 5;  // three subtotal rows 2 to 4
    for (int r = 2; r <= 4; ++r) fx.sheet(kTeilsummen).set_value(r, 1, "LV-Bereich " + std::to_string(r));
    FinishWorkbook(fx.c, fx.rows);
    Sheet& t = fx.sheet(kTeilsummen);
    EXPECT_EQ(t.text(5, 1), "");
    EXPECT_EQ(t.text(6, 1), "Gesamt");
    EXPECT_EQ(t.text(6, 2), "=ROUND(SUM($B$2:$B$4),2)");
    for (int r = 2; r <= 6; ++r) EXPECT_EQ(t.effective_format(r, 1).font_color, kColorBlue) << r;
    EXPECT_EQ(t.column_width(2), 15);
    EXPECT_EQ(fx.c.end, RunEnd::Completed);
    EXPECT_EQ(fx.ui.messages.back(), "Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet.");
}

TEST(Finish, EmptyAuxiliarySheetsByFormat) {
    Fixture g2k(GaebFormat::Gaeb2000, all_sheets());
    FinishWorkbook(g2k.c, g2k.rows);
    EXPECT_EQ(g2k.tabs(), (std::vector<std::string>{"Positionsteil"}));  // no subtotal, no notes

    Fixture g90(GaebFormat::Gaeb90, all_sheets());
    FinishWorkbook(g90.c, g90.rows);
    EXPECT_EQ(g90.tabs(), (std::vector<std::string>{"Hinweistext", "Positionsteil"}));  // GAEB 90 keeps notes
    EXPECT_EQ(g90.ui.messages.size(), 1u);

    Fixture faulty(GaebFormat::Gaeb90, all_sheets());
    faulty.kinds.FaultyLineRow("22 ?");
    FinishWorkbook(faulty.c, faulty.rows);
    ASSERT_EQ(faulty.ui.messages.size(), 2u);
    EXPECT_EQ(
        faulty.ui.messages[0],
        "Es wurden fehlerhafte Sätze in der Quelldatei gefunden.\rSie sind in der Tabelle \"Fehlerhafte "
        "Zeilen\" aufgelistet.");
    // Only the completion message, the last one, says that the program ends.
    EXPECT_EQ(faulty.ui.messages[1], "Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet.");
    EXPECT_NE(std::find(faulty.ui.events.begin(), faulty.ui.events.end(), "beep"), faulty.ui.events.end());
    EXPECT_NE(faulty.excel.result()->find_sheet(kFehlerhafteZeilen), nullptr);
}

// A bill cut off is finished like a whole one, but says so in place of the completion message,
// also on "Fehlerhafte Zeilen" where that sheet is kept, and the run is Aborted.
TEST(Finish, ABillCutOffSaysSoAndIsAborted) {
    for (const bool faulty_line : {false, true}) {
        SCOPED_TRACE(faulty_line ? "with a faulty line" : "without faulty lines");
        Fixture fx(GaebFormat::Gaeb90, all_sheets());
        for (const int32_t row : {8, 9, 12}) fx.sheet(kPositionsteil).set_value(row, 1, "01.0010");
        if (faulty_line) fx.kinds.FaultyLineRow("22 ?");
        FinishWorkbook(fx.c, fx.rows, {.cut_off = true});
        const std::string note =
            "Die Datei endet ohne Schlusssatz: sie ist möglicherweise unvollständig. 3 Positionen wurden "
            "gelesen.";
        EXPECT_EQ(fx.ui.messages.back(), note);
        EXPECT_EQ(std::count(fx.ui.messages.begin(), fx.ui.messages.end(), note), 1);
        EXPECT_EQ(fx.c.end, RunEnd::Aborted);
        const Sheet* faulty = fx.excel.result()->find_sheet(kFehlerhafteZeilen);
        ASSERT_EQ(faulty != nullptr, faulty_line);
        if (faulty) {
            EXPECT_EQ(faulty->text(2, 1), note);
        }
    }
    EXPECT_EQ(
        cut_off_note(1),
        "Die Datei endet ohne Schlusssatz: sie ist möglicherweise unvollständig. 1 Position wurde gelesen.");
}

TEST(Finish, PositionsSheetLayoutPerFormat) {
    struct Case {
        GaebFormat format;
        int mask_length;
        double a, b, c;
        const char* completion;
    };
    for (const Case& k : {Case{GaebFormat::Gaeb90, 0, 20, 100, 12,
                               "Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet."},
                          Case{GaebFormat::Gaeb2000, 0, 20, 150, 12,
                               "Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet."},
                          Case{GaebFormat::Xml, 7, 23, 146, 10,
                               "Konvertierung abgeschlossen.\r\rDas Programm wird jetzt beendet."},
                          Case{GaebFormat::Xml, 6, 18, 146, 10,
                               "Konvertierung abgeschlossen.\r\rDas Programm wird jetzt beendet."}}) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(k.format) << " mask " << k.mask_length);
        Fixture fx(k.format);
        FinishWorkbook(fx.c, fx.rows, {k.mask_length});
        const Sheet& p = fx.sheet(kPositionsteil);
        // One page wide and as many tall as needed, on A4, in place of a fixed print scale.
        EXPECT_EQ(p.page_setup().zoom, 0);
        EXPECT_EQ(p.page_setup().fit_to_pages_wide, 1);
        EXPECT_EQ(p.page_setup().fit_to_pages_tall, 0);
        EXPECT_EQ(p.page_setup().paper_size, kPaperA4);
        EXPECT_EQ(p.page_setup().orientation, 2);
        EXPECT_EQ(p.page_setup().print_title_rows, "$7:$7");
        EXPECT_EQ(p.page_setup().print_area, "$A:$F");
        EXPECT_TRUE(p.page_setup().center_horizontally);
        EXPECT_NEAR(p.page_setup().left_margin, 28.3465, 1e-3);
        EXPECT_EQ(p.page_setup().header_margin, 0);
        EXPECT_NEAR(p.page_setup().footer_margin, 14.1732, 1e-3);  // half a centimetre
        EXPECT_FALSE(p.outline_settings().summary_row_below);
        EXPECT_EQ(p.window().zoom, 80);
        EXPECT_EQ(p.window().split_row, 7);
        EXPECT_TRUE(p.window().freeze_panes);
        EXPECT_EQ(p.column_width(1), k.a);
        EXPECT_EQ(p.column_width(2), k.b);
        EXPECT_EQ(p.column_width(3), k.c);
        EXPECT_EQ(p.column_width(4), 8);
        EXPECT_EQ(fx.ui.messages.back(), k.completion);
        EXPECT_FALSE(fx.excel.connected());
    }
}

TEST(Finish, AbortTidiesWhatExists) {
    Fixture fx(GaebFormat::Gaeb2000, all_sheets(), true, "lv.p83");
    fx.sheet(kTeilsummen).set_value(2, 1, "LV-Bereich 01.");
    fx.kinds.ItemRow({"01.0010", "*** Normalposition", 1.0, "St", 2.0, false});
    const int32_t last = fx.sheet(kPositionsteil).last_row();
    FormatNachFehler(fx.c);
    EXPECT_EQ(fx.c.end, RunEnd::Aborted);
    EXPECT_EQ(fx.sheet(kTeilsummen).column_width(2), 10);
    EXPECT_EQ(fx.sheet(kTeilsummen).selected_cell(), std::make_pair(2, 1));
    EXPECT_TRUE(fx.excel.visible());
    EXPECT_TRUE(fx.ui.messages.empty());
    // A partial bill gets no total, but prints like a whole one.
    EXPECT_EQ(fx.sheet(kPositionsteil).last_row(), last);
    for (const Sheet* s : fx.excel.result()->sheets_in_tab_order()) {
        EXPECT_EQ(s->page_setup().paper_size, kPaperA4) << s->name();
        EXPECT_EQ(s->page_setup().left_footer, "lv.p83") << s->name();
    }
    EXPECT_EQ(fx.sheet(kPositionsteil).page_setup().fit_to_pages_tall, 0);
    EXPECT_EQ(fx.excel.result()->properties().title, "lv.p83");
}

// The bill's total below the last row, after one empty row, wherever an item row carries a total
// in column F: a formula in the calculation layout, a number in the bid layout; never in a bill
// whose items hold only their OZ (GAEB 90, phase 82).
TEST(Finish, GrandTotalBelowTheLastRowWhereItemsCarryTotals) {
    struct Case {
        const char* what;
        GaebFormat format;
        std::function<void(RowKinds&)> body;
        int32_t total_row;  // 0: none
        double total;
    };
    const Case cases[] = {
        {"calculation layout", GaebFormat::Gaeb2000,
         [](RowKinds& k) {
             k.HierarchyRow("LV-Bereich 01. Rohbau");                                 // row 8
             k.ItemRow({"01.0010", "*** Normalposition", 12.5, "m2", 19.99, false});  // row 9
             k.TextRow("Langtext", true);                                             // row 10
             k.ItemRow({"01.0020", "*** Bedarfsposition", 3.0, "St", 4.0, true});     // row 11
             k.ItemRow({"01.0030", "*** Normalposition", 3.0, "St", 1.005, false});   // row 12
             k.TextRow("Langtext", true);                                             // row 13
         },
         15, 249.88 + 3.03},
        {"bid layout", GaebFormat::Gaeb90,
         [](RowKinds& k) {
             k.item_oz(8, "01.0010");
             k.item_number(8, 5, 2.5);
             k.item_number(8, 6, 100.25);
             k.item_oz(9, "01.0020");
             k.item_number(9, 6, 0.5);
         },
         11, 100.75},
        {"items with their OZ only", GaebFormat::Gaeb90,
         [](RowKinds& k) {
             k.item_oz(8, "01.0010");
             k.TextRow("Kurztext", false);
         },
         0, 0},
        {"items without total only", GaebFormat::Xml,
         [](RowKinds& k) {
             k.ItemRow({"01.0010", "*** Bedarfsposition ohne G-Preis", 1.0, "St", 5.0, true});
         },
         0, 0},
        {"no items", GaebFormat::Xml, [](RowKinds& k) { k.HierarchyRow("LV-Bereich 01."); }, 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Fixture fx(k.format);
        WriteColumnHeaderRow(fx.c, fx.rows);
        k.body(fx.kinds);
        const int32_t last = fx.sheet(kPositionsteil).last_row();
        FinishWorkbook(fx.c, fx.rows);
        const Sheet& p = fx.sheet(kPositionsteil);
        if (k.total_row == 0) {
            EXPECT_EQ(p.last_row(), last);
            EXPECT_EQ(p.column_width(6), k.format == GaebFormat::Gaeb90 ? 12 : 10);
            continue;
        }
        ASSERT_EQ(k.total_row, last + 2);
        EXPECT_EQ(p.last_row(), k.total_row);
        EXPECT_EQ(p.text(k.total_row - 1, 2), "");
        EXPECT_EQ(p.text(k.total_row, 2), kGrandTotalLabel);
        EXPECT_EQ(p.text(k.total_row, 6), "=SUM($F$8:$F$" + std::to_string(last) + ")");
        EXPECT_EQ(p.effective_format(k.total_row, 2).bold, true);
        EXPECT_EQ(p.effective_format(k.total_row, 6).bold, true);
        EXPECT_EQ(p.effective_format(k.total_row, 6).number_format, fx.c.money_format);
        EXPECT_EQ(p.column_width(6), 15);  // room for millions, as the total column of Teilsummen
        FormulaEvaluator eval(*fx.excel.result());
        EXPECT_DOUBLE_EQ(eval.evaluate(p, k.total_row, 6).value, k.total);
    }
}

// Every sheet prints on A4 with the bill's name left and the page count right in its footer;
// Positionsteil and Hinweistext one page wide. The name is the header's "LV-Bezeichnung" (row 2,
// GAEB DA XML row 3), else the input file's name; it is the workbook's title too.
TEST(Finish, EverySheetPrintsWithTheBillsNameInTheFooter) {
    struct Case {
        const char* what;
        GaebFormat format;
        int32_t row;
        std::string label, value;
        std::string footer, title;  // left footer part and document title
    };
    const std::string long_name(130, 'x');
    const Case cases[] = {
        {"GAEB 2000", GaebFormat::Gaeb2000, 2, "LV-Bezeichnung:", "LV 06 Ausbau & Umbau     ",
         "LV 06 Ausbau && Umbau", "LV 06 Ausbau & Umbau"},
        {"GAEB DA XML", GaebFormat::Xml, 3, "LV-Bezeichnung:", "Los 1\tGeoelektrik", "Los 1 Geoelektrik",
         "Los 1 Geoelektrik"},
        {"no bill name", GaebFormat::Gaeb90, 2, "LV-Bezeichnung:", "   ", "lv&&co.d83", "lv&co.d83"},
        {"another label", GaebFormat::Xml, 2, "Projektbezeichnung:", "Projekt", "lv&&co.d83", "lv&co.d83"},
        {"name cut", GaebFormat::Gaeb90, 2, "LV-Bezeichnung:", long_name, long_name.substr(0, 100),
         long_name.substr(0, 100)},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ConversionOptions options = all_sheets();
        Fixture fx(k.format, options, true, "/tmp/lv&co.d83");
        WriteHeaderBlock(fx.c, k.row, k.label, k.value);
        fx.kinds.NotesRow("Hinweis", false);
        fx.rows.Subtotals = 3;
        if (k.format == GaebFormat::Gaeb90) fx.kinds.FaultyLineRow("22 ?");
        FinishWorkbook(fx.c, fx.rows);
        ASSERT_EQ(fx.excel.result()->count(), k.format == GaebFormat::Gaeb90 ? 4 : 3);
        for (const Sheet* s : fx.excel.result()->sheets_in_tab_order()) {
            SCOPED_TRACE(s->name());
            const PageSetup& p = s->page_setup();
            EXPECT_EQ(p.paper_size, kPaperA4);
            EXPECT_EQ(p.left_footer, k.footer);
            EXPECT_EQ(p.center_footer, "");
            EXPECT_EQ(p.right_footer, "Seite &P von &N");
            const bool wide = s->name() == kPositionsteil || s->name() == kHinweistext;
            EXPECT_EQ(p.zoom, wide ? 0 : 100);
            EXPECT_EQ(p.fit_to_pages_tall, wide ? 0 : 1);
        }
        EXPECT_EQ(fx.excel.result()->properties().title, k.title);
        EXPECT_EQ(fx.excel.result()->properties().subject, "Leistungsverzeichnis");
    }
}
