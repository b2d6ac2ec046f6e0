// SPDX-License-Identifier: MIT
// What the record handlers write: header block, groups, items with prices and formulas,
// sub-descriptions, texts and notes, outline groups of long texts, subtotals.
#include <gtest/gtest.h>

#include "gaeb90/state.h"
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
              (Lines{"Neubau Bauhof", "LV 06 Ausbau", "01.02.09", "Stadt Oberbrück", "1122PPPPI", "",
                     "Positionstext", "*** Normalposition, Typ NNN", "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.cell("Positionsteil", "B3"), "t 01.02.09");  // the date stays text
    EXPECT_EQ(run.cell("Positionsteil", "H7"), "t Faktor");
    EXPECT_EQ(run.style("Positionsteil", "A7"), "bold fill=36 border align=center");
}

TEST(HeaderRecords, WithoutRecord03TheBodyStillStartsBelowTheCaptionRow) {
    Bill no03 = convert(opening("81", "1122PPP") + rec("02", {{3, "Projekt"}}) + item("0101001", "NNN") +
                        short_text("Kurztext"));
    EXPECT_EQ(no03.column("Positionsteil", 1, 1),
              (Lines{"Projektname:", "", "", "", "OZ-Maske:", "", "Ordnungszahl", "01.01.001", "", "", ""}));
    EXPECT_EQ(no03.column("Positionsteil", 2, 8),
              (Lines{"*** Normalposition, Typ NNN", "Kurztext", "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(no03.style("Positionsteil", "A7"), "bold fill=36 border align=center");

    // A record 03 once the body has begun writes the header again and leaves the body's rows.
    Bill late = convert(header() + short_text("erste") + rec("03", {{3, "Neu"}}) + short_text("zweite"));
    EXPECT_EQ(late.column("Positionsteil", 2, 8), (Lines{"erste", "zweite"}));
    EXPECT_EQ(late.cell("Positionsteil", "B4"), "t Neu");
}

TEST(HierarchyRecords, GroupRowsWithDottedNumbersAndNotesHeadings) {
    Bill run = convert(header("83", "1122PPPPI") + rec("11", {{3, "01"}}) + rec("12", {{3, "Rohbau"}}) +
                           rec("11", {{3, "0102"}}) + rec("12", {{3, "Erdarbeiten"}}) +
                           rec("11", {{3, "010"}}) + rec("12", {{3, "Ohne Stufe"}}),
                       with_notes());
    EXPECT_EQ(run.column("Positionsteil", 2, 8),
              (Lines{"LV-Gruppe 01 - Rohbau", "LV-Gruppe 01.02 - Erdarbeiten", "LV-Gruppe  - Ohne Stufe"}));
    EXPECT_EQ(run.style("Positionsteil", "B8"), "color=16711680");
    EXPECT_EQ(run.column("Hinweistext", 1, 1),
              (Lines{"LV-Gruppe 01 Rohbau", "LV-Gruppe 01.02 Erdarbeiten", "LV-Gruppe  Ohne Stufe"}));
    EXPECT_EQ(run.style("Hinweistext", "A2"), "bold");
}

TEST(HierarchyRecords, ConsecutiveTitleRecordsMakeOneRowWithTheWholeTitle) {
    workbook::ConversionOptions o = with_notes();
    o.SubtotalsSheet = true;
    std::string endless;
    for (int i = 0; i < 100; ++i) endless += rec("12", {{3, "Teil eines endlosen Titels"}});
    Bill run =
        convert(header() + rec("11", {{3, "02"}}) +
                    rec("12", {{3,
                                "Vorbereitung und Durchf\x81"
                                "hrung der"}}) +
                    rec("12", {{3, "Messungen"}}) + rec("20") + long_text("Hinweis") +
                    rec("12", {{3, "Nach dem Hinweis"}}) + item("02000010", "NNN") + rec("31", {{3, "02"}}) +
                    rec("11", {{3, "03"}}) + endless + item("03000010", "NNN"),
                o);
    const std::string whole = "Vorbereitung und Durchführung der Messungen";
    EXPECT_EQ(run.column("Positionsteil", 2, 8),
              (Lines{"LV-Gruppe 02 - " + whole, "LV-Gruppe 02 - Nach dem Hinweis",
                     "*** Normalposition, Typ NNN", run.book().sheet("Positionsteil").text(11, 2),
                     "*** Normalposition, Typ NNN", "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.column("Hinweistext", 1, 1),
              (Lines{"LV-Gruppe 02 " + whole, "Hinweis", "LV-Gruppe 02 Nach dem Hinweis",
                     run.book().sheet("Hinweistext").text(4, 1)}));
    EXPECT_EQ(run.style("Hinweistext", "A1"), "bold");
    EXPECT_EQ(run.column("Teilsummen", 1, 2), (Lines{"LV-Gruppe 02 - Nach dem Hinweis", "", "Gesamt"}));
    // A file of nothing but title records gives one row of bounded length.
    const std::string endless_row = run.book().sheet("Positionsteil").text(11, 2);
    EXPECT_EQ(endless_row.rfind("LV-Gruppe 03 - Teil eines endlosen Titels Teil eines", 0), 0u);
    EXPECT_LE(endless_row.size(), gaeb90::kMaxTitle + 20);
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
         {"A8\tt\t01.01.0010\t", label, "C8\tn\t12.5\t", "D8\tt\tm2\t", "E8\tf\t=ROUND($G$8*$H$8,2)\t",
          "F8\tf\t=ROUND($C$8*$E$8,2)\t", "G8\tn\t-28.98\tfill=34 border", "H8\tn\t1\tfill=34 border"}},
        {"81, Kalkulationsspalten, ungerundet",
         "81",
         true,
         false,
         {"A8\tt\t01.01.0010\t", label, "C8\tn\t12.5\t", "D8\tt\tm2\t", "E8\tf\t=$G$8*$H$8\t",
          "F8\tf\t=$C$8*$E$8\t", "G8\tn\t-28.98\tfill=34 border", "H8\tn\t1\tfill=34 border"}},
        {"83, ohne Kalkulationsspalten",
         "83",
         false,
         true,
         {"A8\tt\t01.01.0010\t", label, "C8\tn\t12.5\t", "D8\tt\tm2\t", "E8\tn\t-28.98\tfill=34 border",
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
              "Prozedur sa21\n\nZeile 3, Position 01.01.0010: EConvertError : '.' ist kein gültiger "
              "Gleitkommawert");
    EXPECT_EQ(run.row("Positionsteil", 8), (Lines{"A8\tt\t01.01.0010\t", "B8\tt\tKurztext\t"}));
    EXPECT_EQ(run.cell("Positionsteil", "A9"), "t 01.01.0020");
}

TEST(ItemRecords, Phase82WritesTheOzOnly) {
    Bill run =
        convert(header("82") + item("01010010", "NNN", "00000012", "500", "m2") +
                prices("01010010", "000000028", "980") + short_text("Kurztext") + item("01010020", "NNN"));
    EXPECT_EQ(run.row("Positionsteil", 8), (Lines{"A8\tt\t01.01.0010\t", "B8\tt\tKurztext\t"}));
    EXPECT_EQ(run.row("Positionsteil", 9), (Lines{"A9\tt\t01.01.0020\t"}));
}

TEST(ItemRecords, Phase84ItemsKeepTheirRowsWithQuantityUnitAndPrices) {
    Bill run = convert(
        header("84") + item("01010010", "NNN", "00000012", "500", "m2") +
        prices("01010010", "000000028", "980", " ", "0000000362", "25") + short_text("Kurztext") +
        item("01010020", "NNN") + prices("01010020", "-00000010", "000", "-", "0000000020", "00") +
        item("01010030", "NNN") + prices("01010030", "         ", "   ") +  // no unit price
        item("01010040", "NNN") + prices("         ", "000000001", "000", " ", "0000000002", "00") +
        prices("01010050", "000000000", "000", " ", "0000000000", "00") +  // price records without an
        prices("01010060", "000000002", "500", " ", "0000000010", "00") +  // item record: items of their own
        item("01010070", "NNN") +                                          // no price record at all
        item("01010080", "NMN", "        ", "   ", "St  ") +               // no quantity
        prices("01010080", "000000004", "000", " ", "0000000008", "00"));
    EXPECT_EQ(run.row("Positionsteil", 8),
              (Lines{"A8	t	01.01.0010	",
                     "B8	t	*** Normalposition, Typ NNN	color=255", "C8	n	12.5	",
                     "D8	t	m2	", "E8	n	28.98	", "F8	n	362.25	"}));
    EXPECT_EQ(run.cell("Positionsteil", "B9"), "t Kurztext");
    const std::string label = "	t	*** Normalposition, Typ NNN	color=255";
    EXPECT_EQ(run.row("Positionsteil", 10),
              (Lines{"A10	t	01.01.0020	", "B10" + label, "C10	n	1	",
                     "D10	t	St	", "E10	n	-10	", "F10	n	-20	"}));
    EXPECT_EQ(run.row("Positionsteil", 11),
              (Lines{"A11	t	01.01.0030	", "B11" + label, "C11	n	1	",
                     "D11	t	St	", "E11	n	0	"}));
    EXPECT_EQ(run.row("Positionsteil", 12),
              (Lines{"A12	t	01.01.0040	", "B12" + label, "C12	n	1	",
                     "D12	t	St	", "E12	n	1	", "F12	n	2	"}));
    // Derived quantities only where the item gives none, and never from a unit price of 0.
    EXPECT_EQ(run.row("Positionsteil", 13),
              (Lines{"A13	t	01.01.0050	", "E13	n	0	", "F13	n	0	"}));
    EXPECT_EQ(run.row("Positionsteil", 14),
              (Lines{"A14	t	01.01.0060	", "C14	f	=ROUND($F$14/$E$14,3)	",
                     "E14	n	2.5	", "F14	n	10	"}));
    EXPECT_EQ(run.row("Positionsteil", 15),
              (Lines{"A15	t	01.01.0070	", "B15" + label, "C15	n	1	",
                     "D15	t	St	", "E15	n	0	"}));
    EXPECT_EQ(run.row("Positionsteil", 16),
              (Lines{"A16	t	01.01.0080	",
                     "B16	t	*** Bedarfsposition mit G-Preis, Typ NMN	color=255",
                     "C16	f	=ROUND($F$16/$E$16,3)	", "D16	t	St	",
                     "E16	n	4	", "F16	n	8	"}));
    EXPECT_EQ(run.book().sheet("Positionsteil").last_row(), 18);  // the total row below an empty one
    EXPECT_EQ(run.messages().size(), 1u);                         // only the completion
}

TEST(ItemRecords, Phase84PriceThatIsNoNumberIsReportedAndTheItemKeepsItsRow) {
    Bill run = convert(header("84") + item("01010010", "NNN") + prices("01010010", "00000001x", "000") +
                       item("01010020", "NNN", "0000000x", "000"));
    EXPECT_EQ(run.messages().at(0),
              "Prozedur sa23\n\nZeile 4, Position 01.01.0010: EConvertError : '00000001x.000' ist kein "
              "gültiger Gleitkommawert");
    EXPECT_EQ(run.messages().at(1),
              "Prozedur sa21\n\nZeile 5, Position 01.01.0020: EConvertError : '0000000x.000' ist kein "
              "gültiger Gleitkommawert");
    EXPECT_EQ(run.column("Positionsteil", 1, 8), (Lines{"01.01.0010", "01.01.0020"}));
    EXPECT_EQ(run.cell("Positionsteil", "E8"), "n 0");
}

TEST(ItemRecords, SubDescriptionsStandBelowAnEmptyRowInPurple) {
    Bill run = convert(header() + item("01010010", "NNN") + rec("24", {{3, "01"}}) + short_text("Teil a") +
                       rec("24", {{3, "02"}, {6, "00000003"}, {14, "250"}, {17, "m"}}) +
                       rec("24", {{3, "03"}, {6, "3       "}, {14, "250"}, {17, "m"}}));
    EXPECT_EQ(run.column("Positionsteil", 2, 9),
              (Lines{"", "Unterbeschreibung 01:", "Teil a", "", "Unterposition 02, Menge: 3,250 m:", "",
                     "Unterposition 03, Menge: 3       250 m:", "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.style("Positionsteil", "B10"), "color=8388736");
    EXPECT_EQ(run.messages().front(),
              "Zeile 7, Position 01.01.0010: Ungültiges Umwandlungsformat bei der Unterbeschreibung.");
}

TEST(TextRecords, ContextsDecideWhereLongTextLinesGo) {
    Bill run = convert(header() + rec("20") + long_text("Vorbemerkung") + rec("11", {{3, "01"}}) +
                           rec("12", {{3, "Rohbau"}}) + long_text("Gruppenhinweis") +
                           item("01010010", "NNN") + long_text("Langtext") + rec("26") + rec("20") +
                           long_text("beides") + rec("31", {{3, "01"}}) + long_text("verworfen"),
                       with_notes());
    const std::string group = "LV-Gruppe 01 - Rohbau";
    EXPECT_EQ(run.column("Positionsteil", 2, 8), (Lines{group, "*** Normalposition, Typ NNN", "Langtext",
                                                        "beides", "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.column("Hinweistext", 1, 1),
              (Lines{"Vorbemerkung", "LV-Gruppe 01 Rohbau", "Gruppenhinweis", "beides"}));
}

TEST(TextRecords, ShortTextCleanUpAndOnlyShortTexts) {
    workbook::ConversionOptions only_short = with_notes();
    only_short.OnlyShortText = true;
    Bill run =
        convert(header() + rec("20") + long_text("Hinweis") + item("01010010", "NNN") +
                    short_text("Rohr 1\" verzinkt\tDN 25") + long_text("Langtext") + item("01010020", "NNN"),
                only_short);
    EXPECT_EQ(run.column("Positionsteil", 2, 8),
              (Lines{"*** Normalposition, Typ NNN", "Rohr 1\" verzinkt DN 25", "*** Normalposition, Typ NNN",
                     "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.column("Hinweistext", 1, 1), Lines{"Hinweis"});
    for (int32_t row = 1; row <= 10; ++row)
        EXPECT_EQ(run.book().sheet("Positionsteil").outline_level(row), 0);
}

TEST(TextRecords, Phase84TextsStandBelowTheItemAsInTheOtherPhases) {
    Bill run =
        convert(header("84") + item("01010010", "NNN") +
                prices("01010010", "000000001", "000", " ", "0000000001", "00") + short_text("Kurz") +
                long_text("eins") + long_text("zwei") + item("01010020", "NNN") +
                prices("01010020", "000000001", "000", " ", "0000000001", "00") + short_text("Kurz 2"));
    EXPECT_EQ(run.column("Positionsteil", 2, 8),
              (Lines{"*** Normalposition, Typ NNN", "Kurz", "eins", "zwei", "*** Normalposition, Typ NNN",
                     "Kurz 2", "", "Summe Leistungsverzeichnis"}));
    EXPECT_EQ(run.column("Positionsteil", 1, 8), (Lines{"01.01.0010", "", "", "", "01.01.0020", "", "", ""}));
    const workbook::Sheet& s = run.book().sheet("Positionsteil");
    std::vector<int> grouped;
    for (int32_t row = 1; row <= s.last_row(); ++row)
        if (s.outline_level(row) > 0) grouped.push_back(row);
    EXPECT_EQ(grouped, (std::vector<int>{10, 11}));
}

TEST(TextRecords, NotesThatAreNotExportedAreCountedAndNamedOnceAtTheEnd) {
    const std::string input = header() + rec("20") + long_text("Vorbemerkung") + rec("26") +
                              rec("11", {{3, "01"}}) + rec("12", {{3, "Rohbau"}}) +
                              long_text("Gruppenhinweis") + item("01010010", "NNN") + long_text("Langtext") +
                              rec("20") + long_text("beides");
    Bill hidden = convert(input);
    EXPECT_EQ(
        hidden.messages(),
        (Lines{
            "Die Datei enthält 3 Zeilen Hinweistext; sie werden mit der Option „den Hinweistext exportieren“ "
            "übernommen.",
            "Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet."}));
    Bill exported = convert(input, with_notes());
    EXPECT_EQ(exported.messages(), Lines{"Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet."});
    EXPECT_EQ(exported.book().sheet("Hinweistext").last_row(), 4);  // the 3 lines and the group heading
    Bill without_notes = convert(header() + item("01010010", "NNN") + long_text("Langtext"));
    EXPECT_EQ(without_notes.messages().size(), 1u);
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
        rec("11", {{3, "03"}}) + item("03000010", "NNN") + rec("31", {{3, "03"}}) +    // 14, 15: no title
        rec("11", {{3, "04"}}) + rec("12", {{3, "Dach"}}) + item("04000010", "NNN") +  // 16, 17
        rec("31", {{3, "99"}}) +                                                       // another OZ
        rec("11", {{3, "05"}}) + rec("12", {{3, "Wand"}}) + item("05000010", "NNN") + rec("31", {{3, "05"}});
    Bill run = convert(input, o);
    // Group 03 has no title record: its row and its subtotal go by its number alone.
    EXPECT_EQ(run.column("Teilsummen", 1, 2), (Lines{"LV-Gruppe 01.01 - Erdarbeiten", "LV-Gruppe 02 - Leer",
                                                     "LV-Gruppe 03", "LV-Gruppe 05 - Wand", "", "Gesamt"}));
    EXPECT_EQ(run.column("Teilsummen", 2, 2),
              (Lines{"=SUM(Positionsteil!$F$11:$F$12)", "", "=SUM(Positionsteil!$F$15:$F$15)",
                     "=SUM(Positionsteil!$F$19:$F$19)", "", "=ROUND(SUM($B$2:$B$5),2)"}));
    EXPECT_EQ(run.cell("Positionsteil", "B14"), "t LV-Gruppe 03");

    workbook::ConversionOptions off;
    Bill none = convert(input, off);
    EXPECT_FALSE(none.has_sheet("Teilsummen"));
}
