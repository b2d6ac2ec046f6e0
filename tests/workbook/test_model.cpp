// SPDX-License-Identifier: MIT
// The in-memory workbook: what the readers rely on from the spreadsheet session.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "workbook/conversion.h"
#include "workbook/excel_session.h"
#include "workbook/frontend.h"
#include "workbook/numbers.h"
#include "workbook/text.h"

using namespace workbook;

namespace {

Workbook& fresh_book(ExcelSession& excel) {
    excel.Connect();
    excel.set_sheets_in_new_workbook(1);
    excel.add_workbook();
    return excel.workbook();
}

std::vector<std::string> names(const Workbook& book) {
    std::vector<std::string> out;
    for (const Sheet* s : book.sheets_in_tab_order()) out.push_back(s->name());
    return out;
}

}  // namespace

TEST(Workbook, AddedSheetGoesInFrontOfTheActiveOneAndIsSelected) {
    ExcelSession excel;
    Workbook& book = fresh_book(excel);
    book.sheet(1).set_name("Positionsteil");
    Sheet& a = book.add_sheet();
    a.set_name("Teilsummen");
    EXPECT_EQ(book.active(), &a);
    EXPECT_EQ(&book.sheet(1), &a);  // the newest is always sheet 1
    book.add_sheet().set_name("Hinweistext");
    EXPECT_EQ(names(book), (std::vector<std::string>{"Hinweistext", "Teilsummen", "Positionsteil"}));
    // In front of the active sheet, not of the first one.
    book.sheet("Positionsteil").Select();
    book.add_sheet().set_name("Neu");
    EXPECT_EQ(names(book), (std::vector<std::string>{"Hinweistext", "Teilsummen", "Neu", "Positionsteil"}));
}

TEST(Workbook, ValuesReadBackAsWritten) {
    ExcelSession excel;
    Sheet& s = fresh_book(excel).sheet(1);
    s.set_value(3, 1, "01.02.0030");
    s.set_value(3, 3, 12.5);
    s.set_formula(3, 6, "=ROUND($C$3*$E$3,2)");
    EXPECT_EQ(s.value(3, 1).kind, CellKind::Text);
    EXPECT_EQ(s.text(3, 1), "01.02.0030");
    EXPECT_EQ(s.value(3, 3).kind, CellKind::Number);
    EXPECT_DOUBLE_EQ(s.value(3, 3).number, 12.5);
    EXPECT_EQ(s.value(3, 6).kind, CellKind::Formula);
    EXPECT_EQ(s.text(3, 6), "=ROUND($C$3*$E$3,2)");
    EXPECT_TRUE(s.value(100, 2).is_empty());
    s.set_value(3, 3, "überschrieben");
    EXPECT_EQ(s.text(3, 3), "überschrieben");
}

TEST(Workbook, ColumnFormatReachesCellsWrittenLaterAndCellsAlreadyThere) {
    ExcelSession excel;
    Sheet& s = fresh_book(excel).sheet(1);
    s.set_value(7, 5, "E-Preis");
    s.set_halign(7, 5, HAlign::Center);
    s.set_number_format(Range::parse("E:H"), "#,##0.00");
    s.set_halign(Range::parse("E:H"), HAlign::Right);  // overrides the caption's centring...
    s.set_halign(7, 5, HAlign::Center);                // ...until the caption is styled again
    s.set_value(9, 6, 3.0);
    EXPECT_EQ(s.effective_format(9, 6).number_format, "#,##0.00");
    EXPECT_EQ(s.effective_format(9, 6).halign, HAlign::Right);
    EXPECT_EQ(s.effective_format(7, 5).halign, HAlign::Center);
    EXPECT_EQ(s.effective_format(7, 5).number_format, "#,##0.00");
}

TEST(Workbook, MissingSheetAndMissingConnectionThrowWithClassAndMessage) {
    ExcelSession excel;
    Workbook& book = fresh_book(excel);
    try {
        book.sheet("Teilsummen");
        FAIL() << "no error";
    } catch (const std::exception& e) {
        EXPECT_EQ(step_report(e), "EWorkbookError : Die Tabelle \"Teilsummen\" existiert nicht.");
    }
    excel.release();
    EXPECT_THROW(excel.workbook(), BremoraError);
    EXPECT_THROW(excel.set_visible(true), BremoraError);
    EXPECT_NE(excel.result(), nullptr);  // still there for saving
}

TEST(Workbook, SheetDeletionIsRecordedAgainstAlerts) {
    ExcelSession excel;
    Workbook& book = fresh_book(excel);
    book.add_sheet().set_name("Teilsummen");
    excel.set_display_alerts(false);
    book.delete_sheet("Teilsummen");
    excel.set_display_alerts(true);
    EXPECT_EQ(book.count(), 1);
    EXPECT_EQ(book.deletions_with_alerts_on, 0);
    EXPECT_THROW(book.delete_sheet("Teilsummen"), WorkbookError);
    EXPECT_THROW(book.delete_sheet(book.sheet(1).name()), WorkbookError);  // the last sheet stays
}

TEST(Workbook, OutlineGroupsNestAndRangesParse) {
    ExcelSession excel;
    Sheet& s = fresh_book(excel).sheet(1);
    s.group_rows("21:25");
    s.group_rows("23:24");
    EXPECT_EQ(s.outline_level(20), 0);
    EXPECT_EQ(s.outline_level(21), 1);
    EXPECT_EQ(s.outline_level(23), 2);
    EXPECT_EQ(s.outline_level(26), 0);
    s.group_rows("30:29");  // an address names the same rows in either order
    EXPECT_EQ(s.outline_level(29), 1);

    struct Case {
        const char* address;
        Range expected;
    };
    for (const Case& c : {Case{"A1", {1, 1, 1, 1}}, Case{"A1:B1", {1, 1, 1, 2}},
                          Case{"$7:$7", Range::rows(7, 7)}, Case{"E:H", Range::columns(5, 8)},
                          Case{"$A:$F", Range::columns(1, 6)}, Case{"AB12", {12, 28, 12, 28}}}) {
        SCOPED_TRACE(c.address);
        const Range r = Range::parse(c.address);
        EXPECT_EQ(std::tie(r.row1, r.col1, r.row2, r.col2),
                  std::tie(c.expected.row1, c.expected.col1, c.expected.row2, c.expected.col2));
    }
    for (const char* bad : {"", "1A", "A0", "A1:", "ÄB1", "A1048577"})
        EXPECT_THROW(Range::parse(bad), WorkbookError) << bad;
}

TEST(Workbook, AutoFitFollowsTheWidestContent) {
    ExcelSession excel;
    Sheet& s = fresh_book(excel).sheet(1);
    s.set_value(1, 1, "kurz");
    s.set_value(2, 1, std::string(40, 'x'));
    s.set_value(1, 3, "y");
    s.autofit_used_range();
    ASSERT_TRUE(s.column_width(1));
    EXPECT_GT(*s.column_width(1), 40);
    EXPECT_LT(*s.column_width(3), 10);
    EXPECT_FALSE(s.column_width(4));
}

TEST(Numbers, ParseDecimalIsStrict) {
    struct Case {
        const char* text;
        std::optional<double> expected;
    };
    for (const Case& c : {Case{"12.500", 12.5}, Case{"-0.25", -0.25}, Case{"+3", 3.0}, Case{"7.", 7.0},
                          Case{".5", 0.5}, Case{"", std::nullopt}, Case{" 1", std::nullopt},
                          Case{"1,5", std::nullopt}, Case{"1e3", std::nullopt}, Case{".", std::nullopt},
                          Case{"-", std::nullopt}, Case{"12a", std::nullopt}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse_decimal(c.text), c.expected);
    }
    EXPECT_EQ(parse_integer(" 1"), 1);
    EXPECT_EQ(parse_integer("1 "), std::nullopt);
    EXPECT_EQ(parse_integer("83"), 83);
    EXPECT_EQ(parse_integer("8x"), std::nullopt);
}

TEST(Numbers, RoundLikeTheSpreadsheet) {
    struct Case {
        double value;
        int digits;
        double expected;
    };
    for (const Case& c :
         {Case{1.005, 2, 1.01}, Case{0.285, 2, 0.29}, Case{2.675, 2, 2.68}, Case{-1.005, 2, -1.01},
          Case{90.625, 2, 90.63}, Case{0.1 * 3, 2, 0.3}, Case{12.3456, 3, 12.346}, Case{1234.5, -2, 1200},
          Case{0.004, 2, 0}, Case{9.995, 2, 10}, Case{0, 2, 0}, Case{123456789012.345, 2, 123456789012.35},
          // What LibreOffice computes where seeing the value with 15 significant digits before
          // rounding would round it twice.
          Case{257187537035.1647, 2, 257187537035.16}, Case{1040118562239.385, 2, 1040118562239.39},
          Case{877009.36125664995, 7, 877009.36125660001}, Case{84520794.086524993, 5, 84520794.086520001},
          Case{6110374613.6250496, 4, 6110374613.625}, Case{37074526765.964996, 2, 37074526765.959999},
          Case{606290382334.69495, 2, 606290382334.68994}, Case{1102804641635.4351, 2, 1102804641635.4399},
          Case{17328456561911.551, 1, 17328456561911.6}, Case{657768552191936.5, 0, 657768552191937},
          Case{5.4999999999999991, 0, 5}, Case{-34571.499999999993, 0, -34571},
          Case{6001021779323499, -3, 6001021779323000}, Case{1.234565e-07, 12, 1.23457e-07},
          Case{2.5e-07, 7, 3e-07}, Case{999999999999999.5, 0, 1e15}, Case{1e15, 2, 1e15}}) {
        SCOPED_TRACE(testing::Message() << c.value << " " << c.digits);
        EXPECT_EQ(excel_round(c.value, c.digits), c.expected);
    }
    EXPECT_EQ(format_number(12.5), "12.5");
    EXPECT_EQ(format_number(3), "3");
}

TEST(Text, CodePagesDecodeToUtf8CharacterForCharacter) {
    EXPECT_EQ(cp850_to_utf8("\x84\x94\x81\xE1\x8E"), "äöüßÄ");
    EXPECT_EQ(cp1252_to_utf8("\xE4\xF6\xFC\xDF\x80"), "äöüß€");
    EXPECT_EQ(utf8_length(cp850_to_utf8("Stra\xE1"
                                        "e")),
              6u);
    EXPECT_EQ(utf8_length(cp1252_to_utf8("\x81\x8D")), 2u);  // undefined bytes keep their place
    EXPECT_EQ(utf8_prefix("Größe", 3), "Grö");
    EXPECT_EQ(repair_utf8("a\xE4z"), "aäz");
    EXPECT_TRUE(is_valid_utf8("Maß"));
    EXPECT_FALSE(is_valid_utf8("Ma\xDF"));
}

TEST(Text, CaseInsensitiveSearchCoversOnlyAsciiLetters) {
    EXPECT_TRUE(contains_ci("[oz]0102[end]", "[OZ]"));
    EXPECT_FALSE(contains_ci("[Menge]1[end]", "[ME]"));
    EXPECT_FALSE(contains_ci("MÄNGEL", "mängel"));  // umlauts must match exactly
    EXPECT_EQ(find_ci("xx LV-GRUPPE", "lv-gruppe"), 3u);
}

TEST(Formats, MoneyAndQuantityFormatsFollowTheLocaleSeparators) {
    EXPECT_EQ(make_money_format(".", ","), "#.###.##0,00");
    EXPECT_EQ(make_quantity_format(","), "#######0,000");
    EXPECT_EQ(make_money_format(",", "."), "#,###,##0.00");
    EXPECT_EQ(make_quantity_format("."), "#######0.000");
    ExcelSession excel;
    excel.set_locale_number_formats(make_money_format(".", ","), make_quantity_format(","));
    EXPECT_EQ(excel.invariant_number_format("#.###.##0,00"), "#,###,##0.00");
    EXPECT_EQ(excel.invariant_number_format("#######0,000"), "#######0.000");
    EXPECT_EQ(excel.invariant_number_format("@"), "@");
}

TEST(Frontend, ElapsedTimeText) {
    EXPECT_EQ(elapsed_text(std::chrono::milliseconds(65000)), "1 Min : 5 Sek");
    EXPECT_EQ(elapsed_text(std::chrono::milliseconds(59900)), "0 Min : 59 Sek");
    EXPECT_EQ(elapsed_text(std::chrono::milliseconds(125000)), "2 Min : 5 Sek");
}
