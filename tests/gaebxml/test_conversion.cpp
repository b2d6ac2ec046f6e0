// SPDX-License-Identifier: MIT
// GAEB DA XML bills converted by the console program and read back from the saved workbook.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

std::filesystem::path fixture(const char* name) {
    return testsupport::data_dir() / "gaebxml" / name;
}

TEST(XmlConversion, WorkbooksMatchTheReviewedDumps) {
    testsupport::expect_golden_runs({
        // Levels 1 to 6 with a seventh that is not converted: one message per level-6 range that
        // holds one. Notes of the top body, of level 1 with a remark, of level 2 with items and of
        // levels 3 to 6 always. A mask of seven characters widens column A to 23.
        {"gaebxml/ebenen_1_bis_7", fixture("ebenen_1_bis_7.x83"), {"--teilsummen", "--hinweistext"}},
        // A range without number gets no row; its content is walked under the number before.
        {"gaebxml/bereich_ohne_rnopart", fixture("bereich_ohne_rnopart.x83"), {"--teilsummen"}},
        // Every item kind; a Provis the format does not know counts as none. An item without
        // quantity is reported and gets no quantity, unit or unit price; a quantity that is no
        // number leaves C and D empty without a message.
        {"gaebxml/positionsarten", fixture("positionsarten.x83"), {}},
        // Without calculation columns and rounding: E is the input cell, F multiplies plainly.
        {"gaebxml/positionsarten_ohne_kalkulation",
         fixture("positionsarten.x83"),
         {"--ohne-kalkulationsspalten", "--ohne-runden"}},
        // The bid layout: prices from the file, the quantity from the total; no Qty is no fault.
        {"gaebxml/angebot", fixture("angebot.x84"), {"--teilsummen"}},
        {"gaebxml/angebot_ohne_kalkulation", fixture("angebot.x84"), {"--ohne-kalkulationsspalten"}},
        // Texts cut at 140 characters, spans, text complements and the sub-description; a span that
        // holds an element is reported and the others of its paragraph are written. The long text
        // is grouped from its first row to the item's last, sub-description included.
        {"gaebxml/texte", fixture("texte.x83"), {}},
        {"gaebxml/texte_nur_kurztexte", fixture("texte.x83"), {"--nur-kurztexte"}},
        // A range without items leaves the subtotal rows of the others alone.
        {"gaebxml/teilsummen", fixture("teilsummen.x83"), {"--teilsummen"}},
        // A range label that is no text: level 1 reports and goes on, level 2 ends the run with
        // the partial workbook.
        {"gaebxml/bezeichnung_kein_text", fixture("bezeichnung_kein_text.x83"), {"--teilsummen"}, 3},
    });
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
        const auto out = testsupport::fresh_dir() / "out.xlsx";
        const auto run = testsupport::run_cli({fixture(c.file).string(), "-o", out.string()});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_EQ(run.err.substr(0, c.message.size()), c.message) << run.err;
    }
}

}  // namespace
