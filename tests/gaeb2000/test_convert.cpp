// SPDX-License-Identifier: MIT
// Whole conversions: fixture bills through the console program, the saved workbook read back by
// openpyxl; exchange phases; damaged input; the sample files and generated bills.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "workbook/rows.h"
#include "workbook/text.h"

namespace fs = std::filesystem;

namespace {

fs::path fixture(const std::string& name) {
    return testsupport::data_dir() / "gaeb2000" / name;
}

struct Saved {
    int exit_code = -1;
    std::string err;
    std::string dump;  // empty when no workbook was written
};

Saved convert_cli(const fs::path& input, std::vector<std::string> options = {}) {
    const fs::path out = testsupport::fresh_dir() / "lv.xlsx";
    options.push_back(input.string());
    options.insert(options.end(), {"-o", out.string()});
    const auto run = testsupport::run_cli(options);
    Saved saved{run.exit_code, run.err, {}};
    if (fs::exists(out)) saved.dump = testsupport::xlsx_dump(out);
    return saved;
}

std::vector<std::string> dump_lines(const std::string& dump) {
    std::vector<std::string> lines;
    std::istringstream in(dump);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// The cells of one sheet from `first_row` on: "B8<TAB>s<TAB>text" (formulas with their computed
// value), without the style field.
std::vector<std::string> cells(const std::string& dump, const std::string& sheet, int first_row = 1) {
    std::vector<std::string> out;
    for (const std::string& l : dump_lines(dump)) {
        if (l.rfind(sheet + "!", 0) != 0) continue;
        std::string rest = l.substr(sheet.size() + 1);
        size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= 'A' && rest[digits] <= 'Z') ++digits;
        if (digits == 0 || digits >= rest.size() || rest[digits] < '0' || rest[digits] > '9') continue;
        if (std::stoi(rest.substr(digits)) < first_row) continue;
        out.push_back(rest.substr(0, rest.rfind('\t')));
    }
    return out;
}

// The style field of one cell.
std::string style(const std::string& dump, const std::string& cell) {
    for (const std::string& l : dump_lines(dump))
        if (l.rfind(cell + "\t", 0) == 0) return l.substr(l.rfind('\t') + 1);
    return "<none>";
}

std::vector<int> outline_rows(const std::string& dump, const std::string& sheet) {
    std::vector<int> rows;
    const std::string prefix = sheet + "!row:";
    for (const std::string& l : dump_lines(dump))
        if (l.rfind(prefix, 0) == 0) rows.push_back(std::stoi(l.substr(prefix.size())));
    return rows;
}

// The texts of one column, in row order from `first_row` on.
std::vector<std::string> column(const std::string& dump, const std::string& sheet, char col, int first_row) {
    std::vector<std::string> out;
    for (const std::string& c : cells(dump, sheet, first_row)) {
        if (c[0] != col || c[1] < '0' || c[1] > '9') continue;
        const size_t tab = c.find('\t');
        out.push_back(c.substr(0, tab) + " " + c.substr(c.find('\t', tab + 1) + 1));
    }
    return out;
}

std::string bill_with(const fs::path& base, const std::string& from, const std::string& to) {
    const std::string text = workbook::replace_all(testsupport::read_file(base), from, to);
    const fs::path path = testsupport::fresh_dir() / base.filename();
    testsupport::write_file(path, text);
    return path.string();
}

int32_t count_items(workbook::Workbook& book) {
    const workbook::Sheet& s = book.sheet(workbook::kPositionsteil);
    int32_t items = 0;
    for (int32_t row = 8; row <= s.last_row(); ++row)
        if (!s.text(row, 1).empty()) ++items;
    return items;
}

std::string first_message(const workbook::RecordingFrontend& ui) {
    return ui.messages.empty() ? std::string("(no message)") : ui.messages.front();
}

bool only_completion_message(const workbook::RecordingFrontend& ui) {
    return ui.messages ==
           std::vector<std::string>{"Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet."};
}

}  // namespace

TEST(Gaeb2000Workbook, WorkbooksMatchTheReviewedDumps) {
    testsupport::expect_golden_runs({
        {"gaeb2000/bereiche_zwei_ebenen", fixture("bereiche_zwei_ebenen.p83"), {"--teilsummen"}},
        {"gaeb2000/bereiche_drei_ebenen", fixture("bereiche_drei_ebenen.p83"), {"--teilsummen"}},
        {"gaeb2000/positionen_ausserhalb", fixture("positionen_ausserhalb.p83"), {"--teilsummen"}},
        {"gaeb2000/ohne_bereiche", fixture("ohne_bereiche.p83"), {"--teilsummen"}},
        {"gaeb2000/bereiche_ohne_maske", fixture("bereiche_ohne_maske.p83"), {"--teilsummen"}},
        {"gaeb2000/langtext_rtf", fixture("langtext_rtf.p83"), {}},
        {"gaeb2000/langtext_rtf_nur_kurztexte", fixture("langtext_rtf.p83"), {"--nur-kurztexte"}},
        {"gaeb2000/hinweise", fixture("hinweise.p83"), {"--hinweistext"}},
        {"gaeb2000/hinweise_ohne_hinweistext", fixture("hinweise.p83"), {}},
        {"gaeb2000/angebot", fixture("angebot.p84"), {}},
    });
}

TEST(Gaeb2000Workbook, TwoLevelsWithItemKindsCellByCell) {
    const Saved s = convert_cli(fixture("bereiche_zwei_ebenen.p83"), {"--teilsummen"});
    ASSERT_EQ(s.exit_code, 0) << s.err;
    const std::vector<std::string> expected = {
        "A1\ts\tProjektname:",
        "B1\ts\tTestprojekt Schule",
        "A2\ts\tLV-Bezeichnung:",
        "B2\ts\tLV Rohbau",
        "A3\ts\tLV-Datum:",
        "B3\ts\t01.02.2024",
        "A4\ts\tAuftraggeber:",
        "B4\ts\tGemeinde Musterstadt",
        "A5\ts\tOZ-Maske:",
        "B5\ts\t224",
        "A7\ts\tOrdnungszahl",
        "B7\ts\tPositiontext",
        "C7\ts\tMenge",
        "D7\ts\tME",
        "E7\ts\tE-Preis",
        "F7\ts\tG-Preis",
        "G7\ts\tBasispreis",
        "H7\ts\tFaktor",
        "B8\ts\tLV-Bereich 01., Rohbau",
        "B9\ts\tLV-Bereich 01.01., Erdarbeiten",
        "A10\ts\t01.01.0010",
        "B10\ts\t*** Normalposition, Typ NNN",
        "C10\tn\t12.5",
        "D10\ts\tm3",
        "E10\tf\t=ROUND($G$10*$H$10,2)\t10",
        "F10\tf\t=ROUND($C$10*$E$10,2)\t125",
        "G10\tn\t10",
        "H10\tn\t1",
        "B11\ts\tBoden lösen und laden",
        "A12\ts\t01.01.0020",
        "B12\ts\t*** Bedarfsposition ohne G-Preis, Typ NEN",
        "C12\tn\t2",
        "D12\ts\tSt",
        "E12\tf\t=ROUND($G$12*$H$12,2)\t5.5",
        "G12\tn\t5.5",
        "H12\tn\t1",
        "B13\ts\tBedarfsposition ohne Gesamtpreis",
        "B14\ts\tLV-Bereich 01.02., Mauerarbeiten",
        "A15\ts\t01.02.0010",
        "B15\ts\t*** Bedarfsposition mit G-Preis, Typ NMN",
        "C15\tn\t3",
        "D15\ts\tm2",
        "E15\tf\t=ROUND($G$15*$H$15,2)\t20",
        "F15\tf\t=ROUND($C$15*$E$15,2)\t60",
        "G15\tn\t20",
        "H15\tn\t1",
        "B16\ts\tBedarfsposition mit Gesamtpreis",
        "A17\ts\t01.02.0020",
        "B17\ts\t*** Grundposition, Typ GNN",
        "C17\tn\t4",
        "D17\ts\tm2",
        "E17\tf\t=ROUND($G$17*$H$17,2)\t0",
        "G17\tn\t0",
        "H17\tn\t1",
        "B18\ts\tGrundposition",
        "A19\ts\t01.02.0030",
        "B19\ts\t*** Alternativposition, Typ ANN",
        "C19\tn\t4",
        "D19\ts\tm2",
        "E19\tf\t=ROUND($G$19*$H$19,2)\t7.25",
        "G19\tn\t7.25",
        "H19\tn\t1",
        "B20\ts\tAlternativposition",
        // a kind in small letters is not recognised: it is the label and suppresses the total
        "A21\ts\t01.02.0040",
        "B21\ts\te",
        "C21\tn\t1",
        "D21\ts\tpsch",
        "E21\tf\t=ROUND($G$21*$H$21,2)\t1",
        "G21\tn\t1",
        "H21\tn\t1",
        "B22\ts\tKleinbuchstabe",
        "B23\ts\tLV-Bereich 02., Dach",
        "A24\ts\t02.01.0010",
        "B24\ts\t*** Normalposition, Typ NNN",
        "C24\tn\t10",
        "D24\ts\tm2",
        "E24\tf\t=ROUND($G$24*$H$24,2)\t30.1",
        "F24\tf\t=ROUND($C$24*$E$24,2)\t301",
        "G24\tn\t30.1",
        "H24\tn\t1",
        "B25\ts\tDachfläche",
    };
    EXPECT_EQ(cells(s.dump, "Positionsteil"), expected);
    const std::vector<std::string> subtotals = {
        "A1\ts\tBezeichnung",
        "B1\ts\tWert",
        "A2\ts\t01.01. Erdarbeiten",
        "B2\tf\t=SUM(Positionsteil!$F$10:$F$12)\t125",
        "A3\ts\t01.02. Mauerarbeiten",
        "B3\tf\t=SUM(Positionsteil!$F$15:$F$21)\t60",
        "A4\ts\tLV-Bereich 02. Dach",
        "B4\tf\t=SUM(Positionsteil!$F$24:$F$24)\t301",
        "A6\ts\tGesamt",
        "B6\tf\t=ROUND(SUM($B$2:$B$4),2)\t486",
    };
    EXPECT_EQ(cells(s.dump, "Teilsummen"), subtotals);
    EXPECT_EQ(style(s.dump, "Positionsteil!B8"), "color=0000FF fmt=@");
    EXPECT_EQ(style(s.dump, "Positionsteil!B10"), "color=FF0000 fmt=@");
    EXPECT_EQ(style(s.dump, "Positionsteil!G10"), "fill=CCFFFF border align=right fmt=#,###,##0.00");
    EXPECT_EQ(dump_lines(s.dump).front(), "#sheets Teilsummen,Positionsteil");

    // Phase 81 is read like phase 83.
    const Saved p81 = convert_cli(
        bill_with(fixture("bereiche_zwei_ebenen.p83"), "[DP]83[end]", "[DP]81[end]"), {"--teilsummen"});
    ASSERT_EQ(p81.exit_code, 0) << p81.err;
    EXPECT_EQ(cells(p81.dump, "Positionsteil"), expected);
    EXPECT_EQ(cells(p81.dump, "Teilsummen"), subtotals);
}

TEST(Gaeb2000Workbook, ThreeLevelsAndDesignationOverTwoLines) {
    const Saved s = convert_cli(fixture("bereiche_drei_ebenen.p83"), {"--teilsummen"});
    ASSERT_EQ(s.exit_code, 0) << s.err;
    const std::vector<std::string> b = {
        "B8 LV-Bereich 01., Rohbau",  // "[Bez]Roh" and "bau[end]" joined without a blank
        "B9 LV-Bereich 01.01., Gründung",
        "B10 LV-Bereich 01.01.01., Aushub",
        "B11 *** Normalposition, Typ NNN",
        "B12 Aushub Baugrube",
        "B13 *** Normalposition, Typ NNN",
        "B14 Aushub Gräben",
        "B15 LV-Bereich 01.01.02., Verfüllung",
        "B16 *** Normalposition, Typ NNN",
        "B17 Verfüllen",
        "B18 LV-Bereich 02., Ausbau",
        "B19 LV-Bereich 02.01., Putz",
        "B20 LV-Bereich 02.01.01., Innenputz",  // designation from "[BezTX]"
        "B21 *** Normalposition, Typ NNN",
        "B22 Innenputz Wände",
    };
    EXPECT_EQ(column(s.dump, "Positionsteil", 'B', 8), b);
    EXPECT_EQ(column(s.dump, "Positionsteil", 'A', 8),
              (std::vector<std::string>{"A11 01.01.01.00010", "A13 01.01.01.00020", "A16 01.01.02.00010",
                                        "A21 02.01.01.00010"}));
    const std::vector<std::string> subtotals = {
        "A1\ts\tBezeichnung",
        "B1\ts\tWert",
        "A2\ts\t01.01.01. Aushub",
        "B2\tf\t=SUM(Positionsteil!$F$11:$F$13)\t94",
        "A3\ts\t01.01.02. Verfüllung",
        "B3\tf\t=SUM(Positionsteil!$F$16:$F$16)\t28",
        "A4\ts\t02.01.01. Innenputz",
        "B4\tf\t=SUM(Positionsteil!$F$21:$F$21)\t1200",
        "A6\ts\tGesamt",
        "B6\tf\t=ROUND(SUM($B$2:$B$4),2)\t1322",
    };
    EXPECT_EQ(cells(s.dump, "Teilsummen"), subtotals);
}

TEST(Gaeb2000Workbook, ItemsOutsideAndBesideRangesAreWrittenOnce) {
    const Saved s = convert_cli(fixture("positionen_ausserhalb.p83"), {"--teilsummen"});
    ASSERT_EQ(s.exit_code, 0) << s.err;
    std::vector<std::string> short_texts;
    for (const std::string& c : column(s.dump, "Positionsteil", 'B', 8))
        if (c.find("***") == std::string::npos) short_texts.push_back(c.substr(c.find(' ') + 1));
    // Beside the inner ranges: where they stand; outside any range: after the last range.
    const std::vector<std::string> expected = {
        "LV-Bereich 01., Rohbau",
        "Neben 01.01 davor",
        "LV-Bereich 01.01., Erdarbeiten",
        "In 01.01",
        "Neben 01.01 danach",
        "LV-Bereich 01.02., Mauerarbeiten",
        "In 01.02",
        "Neben 01.02 am Ende",
        "LV-Bereich 02., Dach",
        "In 02",
        "Vor allen Bereichen",
        "Zwischen den Bereichen",
    };
    EXPECT_EQ(short_texts, expected);
    EXPECT_EQ(
        cells(s.dump, "Teilsummen", 2),
        (std::vector<std::string>{"A2\ts\t01. Rohbau", "B2\tf\t=SUM(Positionsteil!$F$9:$F$9)\t4",
                                  "A3\ts\t01.01. Erdarbeiten", "B3\tf\t=SUM(Positionsteil!$F$12:$F$12)\t9",
                                  "A4\ts\t01.02. Mauerarbeiten", "B4\tf\t=SUM(Positionsteil!$F$17:$F$17)\t25",
                                  "A5\ts\tLV-Bereich 02. Dach", "B5\tf\t=SUM(Positionsteil!$F$22:$F$22)\t64",
                                  "A7\ts\tGesamt", "B7\tf\t=ROUND(SUM($B$2:$B$5),2)\t102"}));
}

TEST(Gaeb2000Workbook, WithoutRangesItemsFollowTheHeader) {
    const Saved s = convert_cli(fixture("ohne_bereiche.p83"), {"--teilsummen"});
    ASSERT_EQ(s.exit_code, 0) << s.err;
    EXPECT_EQ(dump_lines(s.dump).front(), "#sheets Positionsteil");  // no subtotal: sheet deleted
    // Without LVGlied blocks the mask is empty and so is column A.
    EXPECT_EQ(style(s.dump, "Positionsteil!B5"), "<none>");
    EXPECT_EQ(column(s.dump, "Positionsteil", 'B', 8),
              (std::vector<std::string>{"B8 *** Normalposition, Typ NNN", "B9 Erste",
                                        "B10 *** Normalposition, Typ NNN", "B11 Zweite"}));
    EXPECT_EQ(column(s.dump, "Positionsteil", 'C', 8), (std::vector<std::string>{"C8 1.5", "C10 2"}));
}

TEST(Gaeb2000Workbook, EmptyMaskRangeWithoutItemsRangeWithoutDesignation) {
    const Saved s = convert_cli(fixture("bereiche_ohne_maske.p83"), {"--teilsummen"});
    ASSERT_EQ(s.exit_code, 0) << s.err;
    // No LVGlied: the numbers are empty. The inner range without items and the range without
    // designation get no heading; the items of the latter are still written.
    EXPECT_EQ(column(s.dump, "Positionsteil", 'B', 8),
              (std::vector<std::string>{"B8 LV-Bereich , Rohbau", "B9 LV-Bereich , Erdarbeiten",
                                        "B10 *** Normalposition, Typ NNN", "B11 In 01.01",
                                        "B12 *** Normalposition, Typ NNN", "B13 In 02 ohne Bezeichnung"}));
    EXPECT_EQ(cells(s.dump, "Teilsummen", 2),
              (std::vector<std::string>{"A2\ts\t Erdarbeiten", "B2\tf\t=SUM(Positionsteil!$F$10:$F$10)\t1",
                                        "A4\ts\tGesamt", "B4\tf\t=ROUND(SUM($B$2:$B$2),2)\t1"}));
}

TEST(Gaeb2000Workbook, LongTextsPicturesPlaceholdersAndSubItems) {
    const Saved s = convert_cli(fixture("langtext_rtf.p83"));
    ASSERT_EQ(s.exit_code, 0) << s.err;
    const std::vector<std::string> b = {
        "B8 LV-Bereich 01., Ausbau",
        "B9 *** Normalposition, Typ NNN",
        "B10 Fenster aus Holz, dreifach verglast, mit Beschlägen und ",  // short text over three lines
        "B11 Dichtungen",
        "B12 Fenster liefern und einbauen.",
        "B13 Bild: danach.",                  // the picture is gone
        "B14 Preis in Euro je Stück, frei.",  // &#128;, TB61 and Feld80
        "B15 Klammer [A] Ende",               // &#91; &#93; and \tab
        "B16 Unterposition: 01, Menge: 1.5 m",
        "B17 Fensterbank innen",
        "B18 Fensterbank aus Naturstein.",
        "B19 Unterposition: 02, Menge:  ",
        "B20 Fensterbank außen",
        "B21 Fensterbank aus Aluminium.",
        "B22 *** Normalposition, Typ NNN",
        "B23 Baustelleneinrichtung",
        "B24 Erste Zeile des Langtexts.",
        "B25 Zweite Zeile mit  Platzhalter.",
        "B26 *** Normalposition, Typ NNN",
        "B27 Ohne Langtext",
    };
    EXPECT_EQ(column(s.dump, "Positionsteil", 'B', 8), b);
    EXPECT_EQ(style(s.dump, "Positionsteil!B16"), "color=800080 fmt=@");
    EXPECT_EQ(style(s.dump, "Positionsteil!B19"), "color=800080 fmt=@");
    // One group over each item's long text, its sub-items inside; none without "[Langtext]".
    EXPECT_EQ(outline_rows(s.dump, "Positionsteil"),
              (std::vector<int>{12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 24, 25}));

    const Saved short_only = convert_cli(fixture("langtext_rtf.p83"), {"--nur-kurztexte"});
    ASSERT_EQ(short_only.exit_code, 0) << short_only.err;
    EXPECT_EQ(column(short_only.dump, "Positionsteil", 'B', 8),
              (std::vector<std::string>{"B8 LV-Bereich 01., Ausbau", "B9 *** Normalposition, Typ NNN",
                                        "B10 Fenster aus Holz, dreifach verglast, mit Beschlägen und ",
                                        "B11 Dichtungen", "B12 *** Normalposition, Typ NNN",
                                        "B13 Baustelleneinrichtung", "B14 *** Normalposition, Typ NNN",
                                        "B15 Ohne Langtext"}));
    EXPECT_TRUE(outline_rows(short_only.dump, "Positionsteil").empty());
}

TEST(Gaeb2000Workbook, NotesAndAdditionalTexts) {
    const Saved s = convert_cli(fixture("hinweise.p83"), {"--hinweistext"});
    ASSERT_EQ(s.exit_code, 0) << s.err;
    const std::vector<std::string> notes = {
        "A1 Zweiter Titel",  // the later title replaces the earlier one
        "A2 Vorbemerkung eins.",
        "A3 Zweite Zeile.",
        "A5 Abrechnung",
        "A6 Einfacher Text ohne RTF.",
        "A8 Haupthinweis zum LV.",
        // the range notes, each under the heading of the top-level range, the inner one's too
        "A11 LV-Bereich 01., Rohbau",
        "A12 Erster Bereichshinweis.",
        "A13 LV-Bereich 01., Rohbau",
        "A14 Zweiter Bereichshinweis.",
        "A15 LV-Bereich 01., Rohbau",
        "A16 Hinweis im inneren Bereich.",
    };
    EXPECT_EQ(column(s.dump, "Hinweistext", 'A', 1), notes);

    const Saved without = convert_cli(fixture("hinweise.p83"));
    ASSERT_EQ(without.exit_code, 0) << without.err;
    EXPECT_EQ(dump_lines(without.dump).front(), "#sheets Positionsteil");
    EXPECT_EQ(cells(without.dump, "Positionsteil"), cells(s.dump, "Positionsteil"));
}

TEST(Gaeb2000Workbook, BidLayoutInPhase84) {
    const Saved s = convert_cli(fixture("angebot.p84"));
    ASSERT_EQ(s.exit_code, 0) << s.err;
    const std::vector<std::string> expected = {
        "B8\ts\tLV-Bereich 01., Angebot",
        "A9\ts\t01.00.0010",
        "C9\tf\t=ROUND($F$9/$E$9,3)\t10",
        "E9\tn\t12.5",
        "F9\tn\t125",
        "B10\ts\tMit Preisen",
        "A11\ts\t01.00.0020",
        "C11\tf\t=ROUND($F$11/$E$11,3)\t0",
        "E11\tn\t3.1",
        "F11\tn\t0",
        "B12\ts\tOhne Gesamtpreis",
        "A13\ts\t01.00.0030",
        "C13\tf\t=ROUND($F$13/$E$13,3)\t#DIV/0!",
        "E13\tn\t0",
        "F13\tn\t0",
        "B14\ts\tOhne Preise",
    };
    EXPECT_EQ(cells(s.dump, "Positionsteil", 8), expected);
}

TEST(Gaeb2000Workbook, TheEncodingsGiveTheSameWorkbook) {
    // Windows-1252 without mark; with a byte-order mark UTF-8 and UTF-16 in both byte orders.
    const std::string ansi = testsupport::read_file(fixture("langtext_rtf.p83"));
    const std::string utf8 = workbook::cp1252_to_utf8(ansi);
    auto utf16 = [&](bool big_endian) {
        std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
        for (size_t i = 0; i < utf8.size();) {  // the fixture's characters are all in the BMP
            const auto b = static_cast<unsigned char>(utf8[i]);
            uint32_t cp = b;
            size_t n = 1;
            if (b >= 0xE0) {
                cp = (b & 0x0F) << 12 | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F) << 6 |
                     (static_cast<unsigned char>(utf8[i + 2]) & 0x3F);
                n = 3;
            } else if (b >= 0xC0) {
                cp = (b & 0x1F) << 6 | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F);
                n = 2;
            }
            const char hi = static_cast<char>(cp >> 8), lo = static_cast<char>(cp & 0xFF);
            out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
            i += n;
        }
        return out;
    };
    auto positions = [](const std::string& bytes) {
        const fs::path path = testsupport::fresh_dir() / "lv.p83";
        testsupport::write_file(path, bytes);
        auto run = testsupport::convert_in_memory(path, {});
        EXPECT_EQ(run.end, workbook::RunEnd::Completed);
        return testsupport::cell_lines(run.book().sheet(workbook::kPositionsteil));
    };
    const auto expected = positions(ansi);
    ASSERT_FALSE(expected.empty());
    EXPECT_NE(
        std::find_if(expected.begin(), expected.end(),
                     [](const std::string& l) { return l.find("Fensterbank außen") != std::string::npos; }),
        expected.end());
    EXPECT_EQ(positions("\xEF\xBB\xBF" + utf8), expected);
    EXPECT_EQ(positions(utf16(false)), expected);
    EXPECT_EQ(positions(utf16(true)), expected);
}

TEST(Gaeb2000Phase, AcceptedAndRefusedExchangePhases) {
    const fs::path base = fixture("bereiche_zwei_ebenen.p83");
    struct Case {
        std::string line;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"[DP]81[end]", true},  {"[DP]83[end]", true},  {"[DP]84[end]", true},  {"[DP] 83 [end]", true},
        {"[DP]83[END]", true},  {"[DP]80[end]", false}, {"[DP]82[end]", false}, {"[DP]85[end]", false},
        {"[DP]86[end]", false}, {"[dp]83[end]", false},  // the phase search respects letter case
        {"[DP][end]", false},   {"[XX]83[end]", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string input = bill_with(base, "[DP]83[end]", c.line);
        auto run = testsupport::convert_in_memory(input, {});
        if (c.accepted) {
            EXPECT_EQ(run.end, workbook::RunEnd::Completed);
            EXPECT_TRUE(only_completion_message(*run.ui)) << first_message(*run.ui);
            EXPECT_EQ(count_items(run.book()), 7);
        } else {
            EXPECT_EQ(run.end, workbook::RunEnd::Refused);
            ASSERT_EQ(run.ui->messages.size(), 1u);
            EXPECT_EQ(run.ui->messages[0], "--- GAEB 2000 ---\rKann die Austauschphase von " + input +
                                               " nicht ermitteln!\rProgrammabbruch.");
        }
    }
    // The console program writes nothing for a refused phase and says why.
    const fs::path out = testsupport::fresh_dir() / "lv.xlsx";
    const auto run =
        testsupport::run_cli({bill_with(base, "[DP]83[end]", "[DP]82[end]"), "-o", out.string()});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("nicht ermitteln!"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out));
}

TEST(Gaeb2000Phase, Phase84WritesPricesFromTheFile) {
    const std::string input = bill_with(fixture("bereiche_zwei_ebenen.p83"), "[DP]83[end]", "[DP]84[end]");
    auto run = testsupport::convert_in_memory(input, {});
    ASSERT_EQ(run.end, workbook::RunEnd::Completed);
    const workbook::Sheet& s = run.book().sheet(workbook::kPositionsteil);
    EXPECT_EQ(s.text(10, 3), "=ROUND($F$10/$E$10,3)");
    EXPECT_EQ(s.text(10, 5), "10");
    EXPECT_EQ(s.text(10, 2), "");  // no kind label in the bid layout
    EXPECT_EQ(s.text(10, 7), "");
}

TEST(Gaeb2000BadInput, DamagedFilesEndWithAClearMessage) {
    const std::string clean = testsupport::read_file(fixture("langtext_rtf.p83"));
    const std::string ranges = testsupport::read_file(fixture("bereiche_zwei_ebenen.p83"));
    std::mt19937 rng(3);
    std::string binary = "#begin[GAEB]\r\n";
    for (int i = 0; i < 200000; ++i) binary.push_back(static_cast<char>(rng() & 0xFF));
    // Range 02 ends right after a designation without "[end]": reading it runs past the range.
    std::string unended = ranges.substr(0, ranges.find("[OZ]02[end]")) +
                          "[OZ]02[end]\r\n[Bez]Dach\r\n#end[LVBereich]\r\n#end[LV]\r\n#end[GAEB]\r\n";
    std::string huge_line = clean;
    huge_line.insert(huge_line.find("[Langtext]Erste Zeile"), std::string(10'000'000, 'w') + " ");
    struct Case {
        std::string name, bytes;
        workbook::RunEnd end;
        std::string message;  // the start of a message that must be shown, or empty
    };
    const std::vector<Case> cases = {
        {"truncated in an item", clean.substr(0, clean.size() / 2), workbook::RunEnd::Completed, ""},
        {"truncated in the header", clean.substr(0, 300), workbook::RunEnd::Completed, ""},
        {"missing #end[Position]", workbook::replace_all(clean, "#end[Position]", ""),
         workbook::RunEnd::Completed, ""},
        {"missing #end[Beschreibung]", workbook::replace_all(clean, "#end[Beschreibung]", ""),
         workbook::RunEnd::Completed, ""},
        {"range designation without [end]", unended, workbook::RunEnd::Completed,
         "Verarbeitungsfehler auf LV-Hauptbereich-Ebene02\n\nEStringListError: "},
        {"binary data", binary, workbook::RunEnd::Refused, "--- GAEB 2000 ---\rKann die Austauschphase"},
        {"a 10 MB line in a long text", huge_line, workbook::RunEnd::Completed, ""},
        {"a 10 MB line and nothing else", "#begin[GAEB][DP]83[end]" + std::string(10'000'000, 'z'),
         workbook::RunEnd::Refused, "--- GAEB 2000 ---\rKann die Austauschphase"},
        {"bad mask digit", workbook::replace_all(ranges, "[Laenge]2[end]", "[Laenge]X[end]"),
         workbook::RunEnd::Completed, "Verarbeitungsfehler auf LV-Hauptbereich-Ebene01\n\nEConvertError: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = testsupport::fresh_dir() / "lv.p83";
        testsupport::write_file(path, c.bytes);
        auto run = testsupport::convert_in_memory(path, {});
        EXPECT_EQ(run.end, c.end);
        if (!c.message.empty()) {
            const auto& m = run.ui->messages;
            EXPECT_TRUE(std::any_of(m.begin(), m.end(), [&](const std::string& s) {
                return s.rfind(c.message, 0) == 0;
            })) << first_message(*run.ui);
        }
    }
}

TEST(Gaeb2000BadInput, UnmatchedTopLevelRangeIsWrittenAsItemsOutsideRanges) {
    // The outer end of range 01 is missing: the range loop ends there and its items still come out.
    std::string text = testsupport::read_file(fixture("bereiche_zwei_ebenen.p83"));
    const std::string outer_end = "#end[LVBereich]\r\n#end[LVBereich]\r\n";
    text.replace(text.find(outer_end), outer_end.size(), "#end[LVBereich]\r\n");
    const fs::path path = testsupport::fresh_dir() / "lv.p83";
    testsupport::write_file(path, text);
    auto run = testsupport::convert_in_memory(path, {});
    ASSERT_EQ(run.end, workbook::RunEnd::Completed);
    EXPECT_TRUE(only_completion_message(*run.ui));
    EXPECT_EQ(count_items(run.book()), 7);
}

TEST(Gaeb2000Samples, EverySampleConverts) {
    if (!testsupport::have_samples()) GTEST_SKIP() << "no sample folder " << testsupport::samples_dir();
    const fs::path folder = testsupport::samples_dir() / "gaeb2000";
    int converted = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        workbook::ConversionOptions options;
        options.SubtotalsSheet = true;
        options.ExportNotesText = true;
        auto run = testsupport::convert_in_memory(entry.path(), options);
        EXPECT_EQ(run.end, workbook::RunEnd::Completed);
        EXPECT_TRUE(only_completion_message(*run.ui)) << first_message(*run.ui);
        EXPECT_GT(count_items(run.book()), 0);
        ++converted;
    }
    EXPECT_GT(converted, 0);
}

namespace {

std::optional<fs::path> generate(const std::string& args) {
    const fs::path path = testsupport::fresh_dir() / "lv.p83";
    const std::string command =
        std::string("/usr/bin/python3 ") + BREMORA_GAEBGEN + " 2000 -q -o '" + path.string() + "' " + args;
    if (std::system(command.c_str()) != 0 || !fs::exists(path)) return std::nullopt;
    return path;
}

}  // namespace

TEST(Gaeb2000Generated, EveryItemOfAGeneratedBillIsWritten) {
    struct Case {
        std::string args;
        int items;
    };
    const std::vector<Case> cases = {
        {"--items 300 --notes --subdescr", 300},
        {"--items 300 --levels 3 --encoding utf-8-sig", 300},
        {"--items 200 --levels 0", 200},
        {"--items 200 --levels 4 --phase 84", 200},
        {"--items 200 --price-comma --phase 81", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const auto bill = generate(c.args);
        if (!bill) GTEST_SKIP() << "gaebgen.py cannot run here";
        workbook::ConversionOptions options;
        options.SubtotalsSheet = true;
        options.ExportNotesText = true;
        auto run = testsupport::convert_in_memory(*bill, options);
        EXPECT_EQ(run.end, workbook::RunEnd::Completed);
        EXPECT_TRUE(only_completion_message(*run.ui)) << first_message(*run.ui);
        EXPECT_EQ(count_items(run.book()), c.items);
    }
}

TEST(Gaeb2000Generated, CorruptedBillsNeverCrash) {
    for (const std::string mode : {"noend", "truncate", "flip", "phase"}) {
        for (int seed = 1; seed <= 4; ++seed) {
            SCOPED_TRACE(mode + " " + std::to_string(seed));
            const auto bill = generate("--items 150 --notes --subdescr --corrupt " + mode + " --seed " +
                                       std::to_string(seed));
            if (!bill) GTEST_SKIP() << "gaebgen.py cannot run here";
            auto run = testsupport::convert_in_memory(*bill, {});
            EXPECT_NE(run.end, workbook::RunEnd::Running);
            if (mode == "phase") {
                EXPECT_EQ(run.end, workbook::RunEnd::Refused);
            }
        }
    }
}
