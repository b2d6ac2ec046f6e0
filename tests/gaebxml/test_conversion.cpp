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
        // Levels 1 to 7, the seventh deeper than the mask: its number as it stands. Notes under the
        // heading of the range they stand in. A mask of seven characters widens column A to 23.
        {"gaebxml/ebenen_1_bis_7", fixture("ebenen_1_bis_7.x83"), {"--teilsummen", "--hinweistext"}},
        // A range without number gets no heading (its label is shown as it stands); its content
        // is walked under the number before. A range without ID keeps its number.
        {"gaebxml/bereich_ohne_rnopart", fixture("bereich_ohne_rnopart.x83"), {"--teilsummen"}},
        // Every item kind; a Provis the format does not know counts as none; a surcharge item. An
        // item without quantity keeps its unit price; a quantity that is no number is reported
        // with the OZ and leaves C empty.
        {"gaebxml/positionsarten", fixture("positionsarten.x83"), {}},
        // Without calculation columns and rounding: E is the input cell, F multiplies plainly.
        {"gaebxml/positionsarten_ohne_kalkulation",
         fixture("positionsarten.x83"),
         {"--ohne-kalkulationsspalten", "--ohne-runden"}},
        // The bid layout: prices from the file, the quantity from the total; no Qty is no fault.
        {"gaebxml/angebot", fixture("angebot.x84"), {"--teilsummen"}},
        {"gaebxml/angebot_ohne_kalkulation", fixture("angebot.x84"), {"--ohne-kalkulationsspalten"}},
        // Texts cut at 140 characters, spans joined into their paragraph's line, text complements
        // and the sub-description; a span holding an element is read whole. The long text is
        // grouped from its first row to the item's last, sub-description included.
        {"gaebxml/texte", fixture("texte.x83"), {}},
        {"gaebxml/texte_nur_kurztexte", fixture("texte.x83"), {"--nur-kurztexte"}},
        // A range without items leaves the subtotal rows of the others alone.
        {"gaebxml/teilsummen", fixture("teilsummen.x83"), {"--teilsummen"}},
        // A range label whose span holds formatting is read whole, at every level.
        {"gaebxml/bezeichnung_kein_text", fixture("bezeichnung_kein_text.x83"), {"--teilsummen"}},
        // Nothing in the bill is lost, one fixture per way it was: every text of a complement in
        // its place in the sentence; lists, tables (an image is no text); the spans of a
        // paragraph as one line; every paragraph of the short text and every sub-description with
        // its quantity; the paragraphs of a range label after the first; every note once, under
        // its range; items beside sub-ranges; surcharge items; items without ID or quantity, an
        // index without length, a mask without range levels; the bid's own quantities, unit prices
        // with their decimals and totals compared with the file's; bid ranges without label;
        // values that are no numbers; a bill without XML declaration; the phase 86.
        {"gaebxml/zusatztexte", fixture("zusatztexte.x83"), {}},
        {"gaebxml/langtext_listen_tabellen", fixture("langtext_listen_tabellen.x83"), {}},
        {"gaebxml/ein_satz_eine_zeile", fixture("ein_satz_eine_zeile.x83"), {}},
        {"gaebxml/kurztext_unterbeschreibungen", fixture("kurztext_unterbeschreibungen.x83"), {}},
        {"gaebxml/bereichsbezeichnung_absaetze",
         fixture("bereichsbezeichnung_absaetze.x83"),
         {"--teilsummen"}},
        {"gaebxml/hinweise", fixture("hinweise.x83"), {"--hinweistext"}},
        {"gaebxml/positionen_neben_bereichen", fixture("positionen_neben_bereichen.x83"), {"--teilsummen"}},
        {"gaebxml/zuschlaege", fixture("zuschlaege.x83"), {"--teilsummen"}},
        {"gaebxml/zuschlaege_angebot", fixture("zuschlaege.x84"), {"--teilsummen"}},
        {"gaebxml/positionen_ohne_id_und_menge", fixture("positionen_ohne_id_und_menge.x83"), {}},
        {"gaebxml/maske_ohne_bereiche", fixture("maske_ohne_bereiche.x83"), {"--teilsummen"}},
        {"gaebxml/angebot_preise", fixture("angebot_preise.x84"), {"--teilsummen"}},
        {"gaebxml/angebot_ohne_bezeichnung", fixture("angebot_ohne_bezeichnung.x84"), {"--teilsummen"}},
        {"gaebxml/ungueltige_werte", fixture("ungueltige_werte.x83"), {}},
        {"gaebxml/ungueltige_werte_angebot", fixture("ungueltige_werte.x84"), {"--ohne-kalkulationsspalten"}},
        {"gaebxml/ohne_deklaration", fixture("ohne_deklaration.x83"), {}},
        {"gaebxml/auftrag", fixture("auftrag.x86"), {}},
        // A blank between spans, a span of a blank, a tab between them: words stay apart, in item
        // texts, range labels, subtotal labels and notes; a word split over two spans on lines of
        // their own stays one.
        {"gaebxml/woerter_zwischen_spans",
         fixture("woerter_zwischen_spans.x83"),
         {"--teilsummen", "--hinweistext"}},
        // Cut off inside an element: refused, with where the file ends.
        {"gaebxml/abgeschnitten", fixture("abgeschnitten.x83"), {}, 1},
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
             // Phases the program knows but does not convert are named.
             Case{"nebenangebot.x85", "Fehler: --- GAEB XML ---\nDie Austauschphase 85 von " + dir +
                                          "nebenangebot.x85 wird nicht unterstützt!\nProgrammabbruch.\n"},
             Case{"rechnung.x89", "Fehler: --- GAEB XML ---\nDie Austauschphase 89 von " + dir +
                                      "rechnung.x89 wird nicht unterstützt!\nProgrammabbruch.\n"},
             Case{"xml_kaputt.x83",
                  "GAEB XML, Prozedur \"LoadFromFile\"\nZeile 15, Spalte 8: EDOMParseError : Start- und "
                  "End-Tag passen nicht zusammen\n"},
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
