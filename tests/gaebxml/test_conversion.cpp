// SPDX-License-Identifier: MIT
// GAEB DA XML bills converted by the console program and read back from the saved workbook.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "tests/support/test_support.h"

namespace {

std::filesystem::path fixture(const char* name) {
    return testsupport::data_dir() / "gaebxml" / name;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) parts.push_back(part);
    if (!s.empty() && s.back() == sep) parts.emplace_back();
    return parts;
}

// A bill converted by bremora-cli; the saved workbook as read by openpyxl.
struct Saved {
    testsupport::CliRun run;
    bool written = false;
    std::string sheets;
    std::map<std::string, std::string> values;  // "Positionsteil!B9" -> text, number or formula
    std::map<std::string, std::string> styles;
    std::set<std::string> outline;             // "Positionsteil!12"
    std::map<std::string, std::string> setup;  // "Positionsteil!col:A" -> "width=23 bold fmt=@"

    // Rows `first`..`last` of a sheet as "row|A|B|...", trailing empty cells left out.
    std::vector<std::string> table(const std::string& sheet, int first, int last, int columns = 8) const {
        std::vector<std::string> rows;
        for (int r = first; r <= last; ++r) {
            std::vector<std::string> cells;
            for (int c = 0; c < columns; ++c) {
                auto it =
                    values.find(sheet + "!" + std::string(1, static_cast<char>('A' + c)) + std::to_string(r));
                cells.push_back(it == values.end() ? "" : it->second);
            }
            while (!cells.empty() && cells.back().empty()) cells.pop_back();
            if (cells.empty()) continue;
            std::string line = std::to_string(r);
            for (const auto& cell : cells) line += "|" + cell;
            rows.push_back(line);
        }
        return rows;
    }
    std::string style(const std::string& address) const {
        auto it = styles.find(address);
        return it == styles.end() ? "" : it->second;
    }
};

Saved convert(const char* name, std::vector<std::string> options = {}) {
    Saved saved;
    const auto out = testsupport::fresh_dir() / "out.xlsx";
    options.push_back(fixture(name).string());
    options.push_back("-o");
    options.push_back(out.string());
    saved.run = testsupport::run_cli(options);
    saved.written = std::filesystem::exists(out);
    if (!saved.written) return saved;
    for (const std::string& line : split(testsupport::xlsx_dump(out), '\n')) {
        if (line.rfind("#sheets ", 0) == 0) saved.sheets = line.substr(8);
        const auto f = split(line, '\t');
        if (f.size() < 2 || line[0] == '#') continue;
        if (f[1].rfind("outline=", 0) == 0) {
            saved.outline.insert(f[0].substr(0, f[0].find('!') + 1) + f[0].substr(f[0].find(":") + 1));
        } else if (f[0].find("!col:") != std::string::npos || f[0].find("!view") != std::string::npos) {
            saved.setup[f[0]] = f[1];
        } else if (f.size() >= 3) {
            saved.values[f[0]] = f[2];
            const size_t style_field = f[1] == "f" ? 4 : 3;
            if (f.size() > style_field) saved.styles[f[0]] = f[style_field];
        }
    }
    return saved;
}

constexpr const char* kBlue = "color=0000FF fmt=@";
constexpr const char* kRed = "color=FF0000 fmt=@";
const std::string kCompleted = "Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet.";

TEST(XmlConversion, WorkbooksMatchTheReviewedDumps) {
    testsupport::expect_golden_runs({
        {"gaebxml/ebenen_1_bis_7", fixture("ebenen_1_bis_7.x83"), {"--teilsummen", "--hinweistext"}},
        {"gaebxml/bereich_ohne_rnopart", fixture("bereich_ohne_rnopart.x83"), {"--teilsummen"}},
        {"gaebxml/positionsarten", fixture("positionsarten.x83"), {}},
        {"gaebxml/positionsarten_ohne_kalkulation",
         fixture("positionsarten.x83"),
         {"--ohne-kalkulationsspalten", "--ohne-runden"}},
        {"gaebxml/angebot", fixture("angebot.x84"), {"--teilsummen"}},
        {"gaebxml/angebot_ohne_kalkulation", fixture("angebot.x84"), {"--ohne-kalkulationsspalten"}},
        {"gaebxml/texte", fixture("texte.x83"), {}},
        {"gaebxml/texte_nur_kurztexte", fixture("texte.x83"), {"--nur-kurztexte"}},
        {"gaebxml/teilsummen", fixture("teilsummen.x83"), {"--teilsummen"}},
        {"gaebxml/bezeichnung_kein_text", fixture("bezeichnung_kein_text.x83"), {"--teilsummen"}, 3},
    });
}

TEST(XmlConversion, LevelsOneToSixAndASeventh) {
    const Saved s = convert("ebenen_1_bis_7.x83", {"--teilsummen", "--hinweistext"});
    ASSERT_EQ(s.run.exit_code, 0) << s.run.err << s.run.err;
    EXPECT_EQ(s.sheets, "Hinweistext,Teilsummen,Positionsteil");
    EXPECT_EQ(s.table("Positionsteil", 1, 5, 2),
              (std::vector<std::string>{"1|Projektname:|Ebenen", "2|Projektbezeichnung:|Projekt Ebenen",
                                        "3|LV-Bezeichnung:|LV Ebenen", "4|Auftraggeber:|Gemeinde Süd",
                                        "5|OZ-Maske:|1111112"}));
    EXPECT_EQ(s.table("Positionsteil", 8, 40, 4), (std::vector<std::string>{
                                                      "8||LV-Bereich 1. -  Eins",
                                                      "9|1.0.0.0.0.0.01|*** Normalposition|1|St",
                                                      "10||LV-Bereich 2. -  Zwei",
                                                      "11||LV-Bereich 2.1. -   Erd arbeiten",
                                                      "12|2.1.0.0.0.0.01|*** Normalposition|2|St",
                                                      "13||LV-Bereich 3. -  Drei",
                                                      "14||LV-Bereich 3.1. -   Stufe 2",
                                                      "15||LV-Bereich 3.1.1. -   Stufe 3",
                                                      "16||LV-Bereich 3.1.1.1. -   Stufe 4",
                                                      "17||LV-Bereich 3.1.1.1.1. -   Stufe 5",
                                                      "18||LV-Bereich 3.1.1.1.1.1. -   Stufe 6",
                                                      "19|3.1.1.1.1.1.01|*** Normalposition|6|St",
                                                      "20||LV-Bereich 4. -  Vier",
                                                      "21||LV-Bereich 4.1. -   Stufe 2",
                                                      "22||LV-Bereich 4.1.1. -   Stufe 3",
                                                      "23||LV-Bereich 4.1.1.1. -   Stufe 4",
                                                      "24||LV-Bereich 4.1.1.1.1. -   Stufe 5",
                                                      "25||LV-Bereich 4.1.1.1.1.1. -   Stufe 6",
                                                  }));
    EXPECT_EQ(s.style("Positionsteil!B18"), kBlue);
    EXPECT_EQ(s.style("Positionsteil!B19"), kRed);
    // The seventh level is not converted: one message per level-6 range that holds one.
    EXPECT_NE(s.run.err.find("6. Bereichstufe B0QCtgy vorhanden\n\nSubbereich6-Prozedur existiert nicht\n" +
                             kCompleted),
              std::string::npos)
        << s.run.err;

    // Notes: the top body, level 1 with a remark, level 2 with items, levels 3 to 6 always.
    EXPECT_EQ(s.table("Hinweistext", 1, 20, 1), (std::vector<std::string>{
                                                    "1|Hinweis LV",
                                                    "2|LV-Bereich 1. -  Eins",
                                                    "3|Hinweis Bereich 1",
                                                    "4|LV-Bereich 2.1. -   Erd arbeiten",
                                                    "5|Hinweis Bereich 2.1",
                                                    "6|LV-Bereich 3.1.1. -   Stufe 3",
                                                    "7|Hinweis Stufe 3",
                                                    "8|LV-Bereich 3.1.1.1. -   Stufe 4",
                                                    "9|LV-Bereich 3.1.1.1.1. -   Stufe 5",
                                                    "10|LV-Bereich 3.1.1.1.1.1. -   Stufe 6",
                                                    "11|LV-Bereich 4.1.1. -   Stufe 3",
                                                    "12|LV-Bereich 4.1.1.1. -   Stufe 4",
                                                    "13|LV-Bereich 4.1.1.1.1. -   Stufe 5",
                                                    "14|LV-Bereich 4.1.1.1.1.1. -   Stufe 6",
                                                }));
    EXPECT_EQ(s.style("Hinweistext!A2"), "bold fmt=@");
    EXPECT_EQ(s.style("Hinweistext!A3"), "fmt=@");

    EXPECT_EQ(s.table("Teilsummen", 2, 10, 2), (std::vector<std::string>{
                                                   "2|1. -  Eins|=SUM(Positionsteil!$F$9:$F$9)",
                                                   "3|2.1. Erdarbeiten|=SUM(Positionsteil!$F$12:$F$12)",
                                                   "4|3.1.1.1.1.1. Stufe 6|=SUM(Positionsteil!$F$19:$F$19)",
                                                   "6|Gesamt|=ROUND(SUM($B$2:$B$4),2)",
                                               }));
    // A mask of seven characters widens column A.
    EXPECT_EQ(s.setup.at("Positionsteil!col:A").substr(0, 8), "width=23");
}

TEST(XmlConversion, RangesWithoutNumberAreWalkedUnderTheNumberBefore) {
    const Saved s = convert("bereich_ohne_rnopart.x83", {"--teilsummen"});
    ASSERT_EQ(s.run.exit_code, 0) << s.run.err;
    EXPECT_EQ(s.table("Positionsteil", 8, 20, 2), (std::vector<std::string>{
                                                      "8|00.00.010|*** Normalposition",
                                                      "9||LV-Bereich 01. -  Rohbau",
                                                      "10|01.00.010|*** Normalposition",
                                                      "11||LV-Bereich 01.02. -   Mauerwerk",
                                                      "12|01.02.010|*** Normalposition",
                                                      "13|01.00.020|*** Normalposition",
                                                  }));
    EXPECT_EQ(s.table("Teilsummen", 2, 4, 2), (std::vector<std::string>{
                                                  "2|01. -  Rohbau|=SUM(Positionsteil!$F$10:$F$10)",
                                                  "3|01.02. Mauerwerk|=SUM(Positionsteil!$F$12:$F$12)",
                                              }));
    EXPECT_EQ(s.setup.at("Positionsteil!col:A").substr(0, 8), "width=18");
}

TEST(XmlConversion, ItemKindsPricesAndOrdinalNumbers) {
    const Saved s = convert("positionsarten.x83");
    ASSERT_EQ(s.run.exit_code, 0) << s.run.err;
    EXPECT_EQ(
        s.table("Positionsteil", 9, 30),
        (std::vector<std::string>{
            "9|01.0010|*** Normalposition|12.5|m2|=ROUND($G$9*$H$9,2)|=ROUND($C$9*$E$9,2)|0|1",
            "10|01.0020.a|*** Normalposition (Alternative)|1|St|=ROUND($G$10*$H$10,2)||0|1",
            "11|01.0030|*** Normalposition|1|St|=ROUND($G$11*$H$11,2)|=ROUND($C$11*$E$11,2)|0|1",
            "12|01.0040|*** Normalposition (Alternative)|1|St|=ROUND($G$12*$H$12,2)||0|1",
            "13|01.0050|*** Bedarfsposition mit G-Preis|1|St|=ROUND($G$13*$H$13,2)|=ROUND($C$13*$E$13,2)|0|1",
            "14|01.0060|*** Bedarfsposition mit G-Preis (Alternative)|1|St|=ROUND($G$14*$H$14,2)||0|1",
            "15|01.0070|*** Bedarfsposition ohne G-Preis|1|St|=ROUND($G$15*$H$15,2)||0|1",
            "16|01.0080|*** Bedarfsposition ohne G-Preis|1|St|=ROUND($G$16*$H$16,2)||0|1",
            // A Provis the format does not know counts as none.
            "17|01.0090|*** Normalposition|1|St|=ROUND($G$17*$H$17,2)|=ROUND($C$17*$E$17,2)|0|1",
            // No quantity: reported; no quantity, unit or unit price from the file.
            "18|01.0100|*** Normalposition|||=ROUND($G$18*$H$18,2)|=ROUND($C$18*$E$18,2)|0|1",
            // A quantity that is no number leaves C and D empty without a message.
            "19|01.0110|*** Normalposition|||=ROUND($G$19*$H$19,2)|=ROUND($C$19*$E$19,2)|0|1",
            "20|01.0120|*** Normalposition|1|St|=ROUND($G$20*$H$20,2)|=ROUND($C$20*$E$20,2)|7.25|1",
        }));
    EXPECT_EQ(s.style("Positionsteil!B9"), kRed);
    EXPECT_EQ(s.style("Positionsteil!G9"), "fill=CCFFFF border align=right fmt=#,###,##0.00");
    EXPECT_EQ(
        s.run.err.find("Fehler bei der Ermittlung von\n ItemLength 100\nMenge bei ID I100\n" + kCompleted),
        0u)
        << s.run.err;

    // Without calculation columns and rounding: E is the input cell, F multiplies plainly.
    const Saved plain = convert("positionsarten.x83", {"--ohne-kalkulationsspalten", "--ohne-runden"});
    EXPECT_EQ(plain.table("Positionsteil", 9, 10),
              (std::vector<std::string>{"9|01.0010|*** Normalposition|12.5|m2|0|=$C$9*$E$9",
                                        "10|01.0020.a|*** Normalposition (Alternative)|1|St|0"}));
    EXPECT_EQ(plain.table("Positionsteil", 20, 20),
              (std::vector<std::string>{"20|01.0120|*** Normalposition|1|St|7.25|=$C$20*$E$20"}));
    EXPECT_EQ(plain.style("Positionsteil!E9"), "fill=CCFFFF border align=right fmt=#,###,##0.00");
}

TEST(XmlConversion, BidLayoutOfPhase84) {
    const Saved s = convert("angebot.x84", {"--teilsummen"});
    ASSERT_EQ(s.run.exit_code, 0) << s.run.err;
    EXPECT_EQ(s.run.err.find(kCompleted), 0u) << s.run.err;  // no Qty in phase 84 is no fault
    EXPECT_EQ(s.table("Positionsteil", 9, 20),
              (std::vector<std::string>{
                  "9|01.0010|*** Angebotsposition|=$F$9/$E$9||=ROUND($G$9*$H$9,2)|410|20.5|1",
                  "10|01.0020|*** Angebotsposition|||=ROUND($G$10*$H$10,2)|100|0|1",
                  "11|01.0030|*** Angebotsposition|||=ROUND($G$11*$H$11,2)|0|0|1",
                  "12|01.0040|*** Angebotsposition|=$F$12/$E$12||=ROUND($G$12*$H$12,2)||5|1",
                  "13|01.0050|*** Normalposition (Alternative)|=$F$13/$E$13||=ROUND($G$13*$H$13,2)|4|2|1",
              }));
    EXPECT_EQ(s.table("Teilsummen", 2, 2, 2),
              (std::vector<std::string>{"2|01. -  Angebot|=SUM(Positionsteil!$F$9:$F$13)"}));

    const Saved plain = convert("angebot.x84", {"--ohne-kalkulationsspalten"});
    EXPECT_EQ(plain.table("Positionsteil", 9, 10),
              (std::vector<std::string>{"9|01.0010|*** Angebotsposition|=$F$9/$E$9||20.5|410",
                                        "10|01.0020|*** Angebotsposition|||0|100"}));
}

TEST(XmlConversion, TextsSubDescriptionsAndOutlineGroups) {
    const std::string t140 = [] {
        std::string t;
        for (int i = 0; i < 20; ++i) t += "Estrich ";
        return t.substr(0, 139) + "X";
    }();
    std::string abc;
    for (int i = 0; i < 300; ++i) abc += static_cast<char>('A' + i % 26);

    const Saved s = convert("texte.x83");
    ASSERT_EQ(s.run.exit_code, 0) << s.run.err;
    // A span that holds an element is reported; the others of its paragraph are written.
    EXPECT_EQ(s.run.err.find("Fehler bei der Ermittlung des Positionstextes\n" + kCompleted), 0u)
        << s.run.err;
    EXPECT_EQ(s.table("Positionsteil", 8, 40, 2),
              (std::vector<std::string>{
                  "8||LV-Bereich 01. -  Texte",
                  "9|01.0010|*** Normalposition",
                  "10||Kurz eins",
                  "11||" + t140,
                  "12||" + std::string(99, 'a') + " ",
                  "13||" + std::string(41, 'b'),
                  "14||" + abc.substr(0, 140),
                  "15||" + abc.substr(140, 140),
                  "16||" + abc.substr(280),
                  "17||" + std::string(140, 'c'),
                  "18||" + std::string(9, 'c') + " " + std::string(50, 'd'),
                  "19||eins",
                  "20||zwei",
                  "21||drei",
                  "22||A  B",
                  "23|| Fabrikat: XY",
                  "24||Unterbeschreibung:",
                  "25||Unter kurz",
                  "26||Unter lang 1",
                  "27||Unter lang 2",
                  "28|01.0020|*** Normalposition",
                  "29||Kurz zwei",
                  "30||vor",
                  "31||nach",
                  "32|01.0030|*** Normalposition",
                  "33||Kurz drei",
              }));
    EXPECT_EQ(s.style("Positionsteil!B24"), kBlue);
    EXPECT_EQ(s.style("Positionsteil!B10"), "fmt=@");
    // The long text from the first long-text row to the item's last row, sub-description included.
    std::set<std::string> grouped;
    for (int r = 11; r <= 27; ++r) grouped.insert("Positionsteil!" + std::to_string(r));
    grouped.insert({"Positionsteil!30", "Positionsteil!31"});
    EXPECT_EQ(s.outline, grouped);

    const Saved brief = convert("texte.x83", {"--nur-kurztexte"});
    EXPECT_EQ(brief.table("Positionsteil", 8, 20, 2),
              (std::vector<std::string>{"8||LV-Bereich 01. -  Texte", "9|01.0010|*** Normalposition",
                                        "10||Kurz eins", "11||Unterbeschreibung:", "12||Unter kurz",
                                        "13|01.0020|*** Normalposition", "14||Kurz zwei",
                                        "15|01.0030|*** Normalposition", "16||Kurz drei"}));
    EXPECT_TRUE(brief.outline.empty());
}

TEST(XmlConversion, RangeWithoutItemsLeavesOtherSubtotalsAlone) {
    const Saved s = convert("teilsummen.x83", {"--teilsummen"});
    ASSERT_EQ(s.run.exit_code, 0) << s.run.err;
    EXPECT_EQ(s.table("Teilsummen", 1, 10, 2), (std::vector<std::string>{
                                                   "1|Bezeichnung|Wert",
                                                   "2|01. -  Erdarbeiten|=SUM(Positionsteil!$F$9:$F$9)",
                                                   "3|03. -  Maurerarbeiten|=SUM(Positionsteil!$F$12:$F$13)",
                                                   "5|Gesamt|=ROUND(SUM($B$2:$B$3),2)",
                                               }));
    EXPECT_EQ(
        s.table("Positionsteil", 10, 14, 2),
        (std::vector<std::string>{"10||LV-Bereich 02. -  Nur Hinweis", "11||LV-Bereich 03. -  Maurerarbeiten",
                                  "12|03.0010|*** Normalposition", "13|03.0020|*** Normalposition",
                                  "14||LV-Bereich 04. -  Leer"}));
}

TEST(XmlConversion, RangeLabelThatIsNoText) {
    const Saved s = convert("bezeichnung_kein_text.x83", {"--teilsummen"});
    // Level 1 reports and goes on; level 2 ends the run with the partial workbook.
    EXPECT_EQ(s.run.exit_code, 3);
    EXPECT_EQ(s.run.err.find("Kann die LV-Bezeichnung (BoQCtgy) nicht ermitteln\nLV-Bereich 01.\n\n"
                             "EXMLDocError : "),
              0u)
        << s.run.err;
    EXPECT_NE(s.run.err.find("Kann die Sub1-LV-Bezeichnung (BoQCtgy) nicht ermitteln\nSubbereich1 02.02.\n\n"
                             "EXMLDocError : "),
              std::string::npos)
        << s.run.err;
    EXPECT_EQ(s.run.err.find(kCompleted), std::string::npos);
    ASSERT_TRUE(s.written);
    EXPECT_EQ(
        s.table("Positionsteil", 8, 20, 2),
        (std::vector<std::string>{"9|01.00.0010|*** Normalposition", "10||LV-Bereich 02. -  Rohbau",
                                  "11||LV-Bereich 02.01. -   Beton", "12|02.01.0010|*** Normalposition"}));
    EXPECT_EQ(s.table("Teilsummen", 2, 3, 2),
              (std::vector<std::string>{"2||=SUM(Positionsteil!$F$9:$F$9)",
                                        "3|02.01. Beton|=SUM(Positionsteil!$F$12:$F$12)"}));
}

TEST(XmlConversion, RefusedDocumentsWriteNothing) {
    struct Case {
        const char* file;
        std::string message;
    };
    const std::string dir = (testsupport::data_dir() / "gaebxml").string() + "/";
    for (const Case& c : {
             Case{"austauschphase_083.x83",
                  "Fehler: --- GAEB XML ---\nKann die Austauschphase von " + dir +
                      "austauschphase_083.x83 nicht ermitteln!\nProgrammabbruch.\n"},
             Case{"ohne_award_dp.x83", "Fehler: --- GAEB XML ---\nKann die Austauschphase von " + dir +
                                           "ohne_award_dp.x83 nicht ermitteln!\nProgrammabbruch.\n"},
             Case{"kein_gaeb_wurzel.x83",
                  "Fehler: --- GAEB XML ---\nDie Datei " + dir +
                      "kein_gaeb_wurzel.x83 ist keine GAEB-XML-Datei:\nihr Wurzelelement "
                      "heißt \"GAEBX\", nicht \"GAEB\".\nProgrammabbruch.\n"},
             Case{"xml_kaputt.x83",
                  "GAEB XML, Prozedur \"LoadFromFile\"\nEDOMParseError : Start- und End-Tag passen "
                  "nicht zusammen (Zeile 15, Spalte 8)\n"},
         }) {
        SCOPED_TRACE(c.file);
        const Saved s = convert(c.file);
        EXPECT_EQ(s.run.exit_code, 1);
        EXPECT_FALSE(s.written);
        EXPECT_EQ(s.run.err.substr(0, c.message.size()), c.message) << s.run.err;
    }
}

}  // namespace
