// SPDX-License-Identifier: MIT
// What the record handlers write: header block, groups, items with prices and formulas,
// sub-descriptions, texts and notes, outline groups of long texts, subtotals.
#include <gtest/gtest.h>

#include "tests/gaeb90/records.h"
#include "workbook/text.h"

using namespace gaeb90test;
using workbook::RunEnd;
using Lines = std::vector<std::string>;

namespace {

std::string header(std::string_view phase = "83", std::string_view mask = "1122PPPPI") {
    return opening(phase, mask) + rec("03", {{3,
                                              "Stadt Oberbr\x81"
                                              "ck"}});
}

// Text of a fixed-width field: the text and its trailing blanks, counted in characters.
std::string padded(std::string_view text, size_t width) {
    std::string s(text);
    const size_t length = workbook::utf8_length(text);
    if (length < width) s.append(width - length, ' ');
    return s;
}

workbook::ConversionOptions with_notes() {
    workbook::ConversionOptions o;
    o.ExportNotesText = true;
    return o;
}

}  // namespace

TEST(HeaderRecords, FillTheHeaderBlockAndTheCaptionRow) {
    Bill run = convert(opening("83", "1122PPPPI") + rec("01", {{3, "LV 06 Ausbau"}, {43, "01.02.09"}}) +
                       rec("02", {{3, "Neubau Bauhof"}}) +
                       rec("03", {{3,
                                   "Stadt Oberbr\x81"
                                   "ck"}}) +
                       item("01010010", "NNN"));
    EXPECT_EQ(run.column("Positionsteil", 1, 1),
              (Lines{"Projektname:", "LV-Bezeichnung:", "LV-Datum:", "Auftraggeber:", "OZ-Maske:", "",
                     "Ordnungszahl", "01.01.0010", "", ""}));
    EXPECT_EQ(run.column("Positionsteil", 2, 1),
              (Lines{padded("Neubau Bauhof", 60), padded("LV 06 Ausbau", 40), "01.02.09",
                     padded("Stadt Oberbrück", 60), "1122PPPPI", "", "Positionstext",
                     "*** Normalposition, Typ NNN", "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.cell("Positionsteil", "B3"), "t 01.02.09");  // the date stays text
    EXPECT_EQ(run.cell("Positionsteil", "H7"), "t Faktor");
    EXPECT_EQ(run.style("Positionsteil", "A7"), "bold fill=36 border align=center");
}

TEST(HeaderRecords, WithoutRecord03RowsStartAtTheTopAndEachRecord03StartsAgainAtRow8) {
    Bill no03 = convert(opening() + item("01010010", "NNN"));
    EXPECT_EQ(no03.cell("Positionsteil", "A1"), "t 01.01.0010");

    Bill twice = convert(header() + short_text("erste") + rec("03", {{3, "Neu"}}) + short_text("zweite"));
    EXPECT_EQ(twice.column("Positionsteil", 2, 8), Lines{padded("zweite", 70)});
    EXPECT_EQ(twice.cell("Positionsteil", "B4"), "t " + padded("Neu", 60));
}

TEST(HierarchyRecords, GroupRowsWithDottedNumbersAndNotesHeadings) {
    Bill run = convert(header("83", "1122PPPPI") + rec("11", {{3, "01"}}) + rec("12", {{3, "Rohbau"}}) +
                           rec("11", {{3, "0102"}}) + rec("12", {{3, "Erdarbeiten"}}) +
                           rec("11", {{3, "010"}}) + rec("12", {{3, "Ohne Stufe"}}),
                       with_notes());
    EXPECT_EQ(run.column("Positionsteil", 2, 8), (Lines{"LV-Gruppe 01 - " + padded("Rohbau", 40),
                                                        "LV-Gruppe 01.02 - " + padded("Erdarbeiten", 40),
                                                        "LV-Gruppe  - " + padded("Ohne Stufe", 40)}));
    EXPECT_EQ(run.style("Positionsteil", "B8"), "color=16711680");
    EXPECT_EQ(run.column("Hinweistext", 1, 1),
              (Lines{"LV-Gruppe 01 " + padded("Rohbau", 40), "LV-Gruppe 01.02 " + padded("Erdarbeiten", 40),
                     "LV-Gruppe  " + padded("Ohne Stufe", 40)}));
    EXPECT_EQ(run.style("Hinweistext", "A2"), "bold");
}

TEST(ItemRecords, PricedRowFollowsTheCalculationOptions) {
    struct Case {
        const char* name;
        std::string phase;
        bool calc, round;
        Lines row8;
    };
    const std::string label = "B8\tt\t*** Normalposition, Typ NNN\tcolor=255";
    const Case cases[] = {
        {"83, Kalkulationsspalten, gerundet",
         "83",
         true,
         true,
         {"A8\tt\t01.01.0010\t", label, "C8\tn\t12.5\t", "D8\tt\tm2  \t", "E8\tf\t=ROUND($G$8*$H$8,2)\t",
          "F8\tf\t=ROUND($C$8*$E$8,2)\t", "G8\tn\t-28.98\tfill=34 border", "H8\tn\t1\tfill=34 border"}},
        {"81, Kalkulationsspalten, ungerundet",
         "81",
         true,
         false,
         {"A8\tt\t01.01.0010\t", label, "C8\tn\t12.5\t", "D8\tt\tm2  \t", "E8\tf\t=$G$8*$H$8\t",
          "F8\tf\t=$C$8*$E$8\t", "G8\tn\t-28.98\tfill=34 border", "H8\tn\t1\tfill=34 border"}},
        {"83, ohne Kalkulationsspalten",
         "83",
         false,
         true,
         {"A8\tt\t01.01.0010\t", label, "C8\tn\t12.5\t", "D8\tt\tm2  \t", "E8\tn\t-28.98\tfill=34 border",
          "F8\tf\t=ROUND($C$8*$E$8,2)\t"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        workbook::ConversionOptions o;
        o.CalcColumns = c.calc;
        o.RoundPrices = c.round;
        Bill run = convert(header(c.phase) + item("01010010", "NNN", "00000012", "500", "m2") +
                               prices("01010010", "-00000028", "980"),
                           o);
        EXPECT_EQ(run.row("Positionsteil", 8), c.row8);
    }
}

TEST(ItemRecords, KindCodesGiveLabelsAndDecideTheTotalFormula) {
    struct Case {
        std::string code, label;
        bool total;
    };
    const Case cases[] = {
        {"NNN", "*** Normalposition, Typ NNN", true},
        {"NEN", "*** Bedarfsposition ohne G-Preis, Typ NEN", false},
        {"NMN", "*** Bedarfsposition mit G-Preis, Typ NMN", true},
        {"ANN", "*** Alternativposition, Typ ANN", true},
        {"GNN", "*** Grundposition, Typ GNN", true},
        {"NNL", "*** Leitende Position, Typ NNL", true},
        {"XYZ", "", true},
    };
    std::string input = header();
    for (const auto& c : cases) input += item("01010010", c.code);
    Bill run = convert(input);
    int32_t row = 8;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(run.cell("Positionsteil", "B" + std::to_string(row)),
                  c.label.empty() ? "" : "t " + c.label);
        EXPECT_EQ(run.cell("Positionsteil", "F" + std::to_string(row)).empty(), !c.total);
        ++row;
    }
}

TEST(ItemRecords, QuantityThatDoesNotConvertLeavesOnlyTheOz) {
    Bill run = convert(header() + item("01010010", "NNN", "        ", "   ") + short_text("Kurztext") +
                       item("01010020", "NNN"));
    EXPECT_EQ(run.conv.end, RunEnd::Completed);
    EXPECT_EQ(run.messages().front(),
              "Prozedur sa21\n\nEConvertError : '.' ist kein gültiger Gleitkommawert");
    EXPECT_EQ(run.row("Positionsteil", 8),
              (Lines{"A8\tt\t01.01.0010\t", "B8\tt\t" + padded("Kurztext", 70) + "\t"}));
    EXPECT_EQ(run.cell("Positionsteil", "A9"), "t 01.01.0020");
}

TEST(ItemRecords, Phase82WritesTheOzOnly) {
    Bill run =
        convert(header("82") + item("01010010", "NNN", "00000012", "500", "m2") +
                prices("01010010", "000000028", "980") + short_text("Kurztext") + item("01010020", "NNN"));
    EXPECT_EQ(run.row("Positionsteil", 8),
              (Lines{"A8\tt\t01.01.0010\t", "B8\tt\t" + padded("Kurztext", 70) + "\t"}));
    EXPECT_EQ(run.row("Positionsteil", 9), (Lines{"A9\tt\t01.01.0020\t"}));
}

TEST(ItemRecords, Phase84TakesQuantityFromTotalAndPrices) {
    Bill run =
        convert(header("84") + item("01010010", "NNN", "00000012", "500", "m2") +
                prices("01010010", "000000028", "980", " ", "0000000362", "25") + short_text("Kurztext") +
                item("01010020", "NNN") + prices("01010020", "-00000010", "000", "-", "0000000020", "00") +
                item("01010030", "NNN") + prices("01010030", "         ", "   ") + item("01010040", "NNN") +
                prices("01010040", "000000001", "000", " ", "0000000002", "00"));
    EXPECT_EQ(run.row("Positionsteil", 8), (Lines{"A8\tt\t01.01.0010\t", "C8\tf\t=ROUND($F$8/$E$8,3)\t",
                                                  "E8\tn\t28.98\t", "F8\tn\t362.25\t"}));
    EXPECT_EQ(run.cell("Positionsteil", "B9"), "t " + padded("Kurztext", 70));
    EXPECT_EQ(run.row("Positionsteil", 10), (Lines{"A10\tt\t01.01.0020\t", "C10\tf\t=ROUND($F$10/$E$10,3)\t",
                                                   "E10\tn\t-10\t", "F10\tn\t-20\t"}));
    // A blank unit price leaves the OZ alone in its row, and the next item takes the row over.
    EXPECT_EQ(run.cell("Positionsteil", "A11"), "t 01.01.0040");
    EXPECT_EQ(run.cell("Positionsteil", "F11"), "n 2");
}

TEST(ItemRecords, SubDescriptionsStandBelowAnEmptyRowInPurple) {
    Bill run = convert(header() + item("01010010", "NNN") + rec("24", {{3, "01"}}) + short_text("Teil a") +
                       rec("24", {{3, "02"}, {6, "00000003"}, {14, "250"}, {17, "m"}}) +
                       rec("24", {{3, "03"}, {6, "3       "}, {14, "250"}, {17, "m"}}));
    EXPECT_EQ(run.column("Positionsteil", 2, 9),
              (Lines{"", "Unterbeschreibung 01:", padded("Teil a", 70), "",
                     "Unterposition 02, Menge: 3,250 m   :", "",
                     "Unterposition 03, Menge: 3       250 m   :", "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.style("Positionsteil", "B10"), "color=8388736");
    EXPECT_EQ(run.messages().front(), "Ungültiges Umwandlungsformat bei der Unterbeschreibung.");
}

TEST(TextRecords, ContextsDecideWhereLongTextLinesGo) {
    Bill run = convert(header() + rec("20") + long_text("Vorbemerkung") + rec("11", {{3, "01"}}) +
                           rec("12", {{3, "Rohbau"}}) + long_text("Gruppenhinweis") +
                           item("01010010", "NNN") + long_text("Langtext") + rec("26") + rec("20") +
                           long_text("beides") + rec("31", {{3, "01"}}) + long_text("verworfen"),
                       with_notes());
    const std::string group = "LV-Gruppe 01 - " + padded("Rohbau", 40);
    EXPECT_EQ(run.column("Positionsteil", 2, 8),
              (Lines{group, "*** Normalposition, Typ NNN", padded("Langtext", 55), padded("beides", 55), "",
                     "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.column("Hinweistext", 1, 1),
              (Lines{padded("Vorbemerkung", 55), "LV-Gruppe 01 " + padded("Rohbau", 40),
                     padded("Gruppenhinweis", 55), padded("beides", 55)}));
}

TEST(TextRecords, ShortTextCleanUpAndOnlyShortTexts) {
    workbook::ConversionOptions only_short = with_notes();
    only_short.OnlyShortText = true;
    Bill run =
        convert(header() + rec("20") + long_text("Hinweis") + item("01010010", "NNN") +
                    short_text("Rohr 1\" verzinkt\tDN 25") + long_text("Langtext") + item("01010020", "NNN"),
                only_short);
    EXPECT_EQ(run.column("Positionsteil", 2, 8),
              (Lines{"*** Normalposition, Typ NNN", padded("Rohr 1'' verzinkt DN 25", 70),
                     "*** Normalposition, Typ NNN", "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.column("Hinweistext", 1, 1), Lines{padded("Hinweis", 55)});
    for (int32_t row = 1; row <= 10; ++row)
        EXPECT_EQ(run.book().sheet("Positionsteil").outline_level(row), 0);
}

TEST(TextRecords, Phase84LongTextStartsInTheItemRow) {
    Bill run = convert(header("84") + item("01010010", "NNN") +
                       prices("01010010", "000000001", "000", " ", "0000000001", "00") + long_text("eins") +
                       long_text("zwei") + item("01010020", "NNN"));
    EXPECT_EQ(run.column("Positionsteil", 2, 8),
              (Lines{padded("eins", 55), padded("zwei", 55), "", "", "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.cell("Positionsteil", "A11"), "t 01.01.0020");
}

TEST(TextGrouping, EachItemsLongTextIsGroupedOnceWithoutTheGroupRowsAfterIt) {
    Bill run = convert(header() + item("01010010", "NNN") + short_text("eins") + long_text("a") +
                       long_text("b") + item("01010020", "NNN") + short_text("zwei") +
                       rec("11", {{3, "0102"}}) + rec("12", {{3, "Dach"}}) + item("01020010", "NNN") +
                       long_text("c") + rec("12", {{3, "Wand"}}) + item("01020020", "NNN") + long_text("d"));
    // rows: 8 item, 9 short, 10-11 long, 12 item, 13 short, 14 group, 15 item, 16 long, 17 group,
    // 18 item, 19 long (the last item's text is never grouped)
    const workbook::Sheet& s = run.book().sheet("Positionsteil");
    std::vector<int> grouped;
    for (int32_t row = 1; row <= s.last_row(); ++row)
        if (s.outline_level(row) > 0) grouped.push_back(row);
    EXPECT_EQ(grouped, (std::vector<int>{10, 11, 16}));
}

TEST(Subtotals, OnlyTheInnermostGroupGetsASubtotal) {
    workbook::ConversionOptions o;
    o.SubtotalsSheet = true;
    const std::string input =
        header() + rec("11", {{3, "01"}}) + rec("12", {{3, "Rohbau"}}) +
        item("01000010", "NNN") +                                                               // rows 8, 9
        rec("11", {{3, "0101"}}) + rec("12", {{3, "Erdarbeiten"}}) + item("01010010", "NNN") +  // 10, 11
        item("01010020", "NNN") + rec("31", {{3, "0101"}}) + rec("31", {{3, "01"}}) +           // 12
        rec("11", {{3, "02"}}) + rec("12", {{3, "Leer"}}) + rec("31", {{3, "02"}}) +            // 13
        rec("11", {{3, "03"}}) + item("03000010", "NNN") + rec("31", {{3, "03"}}) +    // 14: no title
        rec("11", {{3, "04"}}) + rec("12", {{3, "Dach"}}) + item("04000010", "NNN") +  // 15, 16
        rec("31", {{3, "99"}}) +                                                       // another OZ
        rec("11", {{3, "05"}}) + rec("12", {{3, "Wand"}}) + item("05000010", "NNN") + rec("31", {{3, "05"}});
    Bill run = convert(input, o);
    // Row 4 first gets the label of group 03 (no title record, so no range), which group 05 overwrites.
    EXPECT_EQ(run.column("Teilsummen", 1, 2),
              (Lines{"LV-Gruppe 01.01 - " + padded("Erdarbeiten", 40), "LV-Gruppe 02 - " + padded("Leer", 40),
                     "LV-Gruppe 05 - " + padded("Wand", 40), "", "Gesamt"}));
    EXPECT_EQ(run.column("Teilsummen", 2, 2),
              (Lines{"=SUM(Positionsteil!$F$11:$F$12)", "", "=SUM(Positionsteil!$F$18:$F$18)", "",
                     "=ROUND(SUM($B$2:$B$4),2)"}));

    workbook::ConversionOptions off;
    Bill none = convert(input, off);
    EXPECT_FALSE(none.has_sheet("Teilsummen"));
}
