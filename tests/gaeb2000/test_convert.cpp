// SPDX-License-Identifier: MIT
// Whole conversions: fixture bills through the console program, the saved workbook read back by
// openpyxl; exchange phases; damaged input; the sample files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
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

std::string bill_with(const fs::path& base, const std::string& from, const std::string& to) {
    const std::string text = workbook::replace_all(testsupport::read_file(base), from, to);
    const fs::path path = testsupport::fresh_dir() / base.filename();
    testsupport::write_file(path, text);
    return path.string();
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
        // Two levels of ranges and every item kind; a kind in small letters is not recognised: it
        // is the label and suppresses the total.
        {"gaeb2000/bereiche_zwei_ebenen", fixture("bereiche_zwei_ebenen.p83"), {"--teilsummen"}},
        // Three levels; "[Bez]Rohbau und" and "Ausbau[end]" joined with one blank; a designation
        // from "[BezTX]".
        {"gaeb2000/bereiche_drei_ebenen", fixture("bereiche_drei_ebenen.p83"), {"--teilsummen"}},
        // Items beside the inner ranges where they stand; items outside any range after the last.
        {"gaeb2000/positionen_ausserhalb", fixture("positionen_ausserhalb.p83"), {"--teilsummen"}},
        // No ranges: the items follow the header; no LVGlied, so the mask is empty and column A
        // holds the numbers as they stand; no subtotal, so the sheet "Teilsummen" is deleted.
        {"gaeb2000/ohne_bereiche", fixture("ohne_bereiche.p83"), {"--teilsummen"}},
        // No LVGlied: the numbers stand as in the file. An inner range without items and a range
        // without designation get no heading; the items of the latter are still written.
        {"gaeb2000/bereiche_ohne_maske", fixture("bereiche_ohne_maske.p83"), {"--teilsummen"}},
        // A short text over three lines joined with blanks; pictures, TB61 and Feld80 cleaned from
        // long texts, &#128; (the euro sign), &#91; and &#93; decoded, \tab a blank; sub-items in
        // purple; one group over each item's long text with its sub-items, none for an item without
        // "[Langtext]".
        {"gaeb2000/langtext_rtf", fixture("langtext_rtf.p83"), {}},
        {"gaeb2000/langtext_rtf_nur_kurztexte", fixture("langtext_rtf.p83"), {"--nur-kurztexte"}},
        // Additional texts (a later title replaces the earlier one), main notes and the range notes,
        // each under the heading of its top-level range, the inner range's too.
        {"gaeb2000/hinweise", fixture("hinweise.p83"), {"--hinweistext"}},
        {"gaeb2000/hinweise_ohne_hinweistext", fixture("hinweise.p83"), {}},
        // The bid layout of phase 84: prices, quantities and units from the file.
        {"gaeb2000/angebot", fixture("angebot.p84"), {}},
        // A bid item without quantity gets it from total and unit price, but never from a unit
        // price of 0 or without a total: C stays empty then.
        {"gaeb2000/angebot_ohne_menge", fixture("angebot_ohne_menge.p84"), {}},
    });
}

TEST(Gaeb2000Workbook, NothingOfTheBillIsLostOrGlued) {
    testsupport::expect_golden_runs({
        // Long-text lines of over 5,000 characters, plain and RTF, come out whole.
        {"gaeb2000/langtext_ueber_4096_zeichen", fixture("langtext_ueber_4096_zeichen.p83"), {}},
        // Bookmarks, a field's instruction, annotations, a footnote, headers, footers, document
        // information and hidden text give no text; the field's result stays; table cells are
        // separated by " | ", each row on a line of its own.
        {"gaeb2000/rtf_unsichtbares", fixture("rtf_unsichtbares.p83"), {}},
        // A tab is a blank, in short and long texts and in notes, plain and RTF.
        {"gaeb2000/tabulatoren", fixture("tabulatoren.p83"), {"--hinweistext"}},
        // A short text over two lines: joined with a blank; in RTF the source line break is no text.
        {"gaeb2000/kurztext_zwei_zeilen", fixture("kurztext_zwei_zeilen.p83"), {}},
        // A line break of the RTF source inside a word or after a control word is no text.
        {"gaeb2000/rtf_zeilenumbruch_im_wort", fixture("rtf_zeilenumbruch_im_wort.p83"), {}},
        // A note whose text does not end its line: the next range heading still has a row of its own.
        {"gaeb2000/hinweise_ohne_zeilenende", fixture("hinweise_ohne_zeilenende.p83"), {"--hinweistext"}},
        // Character references decoded in the header, additional texts, notes, range designations,
        // subtotal labels, units, short and long texts.
        {"gaeb2000/zeichenreferenzen", fixture("zeichenreferenzen.p83"), {"--hinweistext", "--teilsummen"}},
        // Fixed-width numbers with blanks (mask 113): every level without blanks, padded with zeros,
        // in column A, in the headings and on "Teilsummen".
        {"gaeb2000/oz_mit_leerstellen", fixture("oz_mit_leerstellen.p83"), {"--teilsummen"}},
        // A quantity and a unit price that are no numbers: each costs only itself, the message names
        // the item.
        {"gaeb2000/werte_ungueltig", fixture("werte_ungueltig.p83"), {}},
        // The bill's name is the "[Bez]" of LVInfo itself, not that of an LVGlied block before it.
        {"gaeb2000/lv_bezeichnung_nach_lvglied", fixture("lv_bezeichnung_nach_lvglied.p83"), {}},
        // Range designations, the project's and the bill's name and the client continued on a
        // second line: joined with one blank, on Positionsteil and Teilsummen.
        {"gaeb2000/bezeichnungen_zweizeilig", fixture("bezeichnungen_zweizeilig.p83"), {"--teilsummen"}},
        // Cut off in an item's long text: the item before it is written, the run says that the
        // file may be incomplete and ends with 3.
        {"gaeb2000/ohne_schlusszeile", fixture("ohne_schlusszeile.p83"), {}, 3},
    });
}

TEST(Gaeb2000Workbook, NotesLeavePositionsteilAsItIs) {
    auto positions = [](const std::vector<std::string>& options) {
        int exit_code = -1;
        const std::string text = testsupport::cli_result(fixture("hinweise.p83"), options, exit_code);
        EXPECT_EQ(exit_code, 0) << text;
        std::string lines;
        for (size_t at = text.find("\nPositionsteil!"); at != std::string::npos;
             at = text.find("\nPositionsteil!", at + 1))
            lines += text.substr(at, text.find('\n', at + 1) - at);
        return lines;
    };
    const std::string without = positions({});
    EXPECT_NE(without.find("Positionsteil!A1"), std::string::npos);
    EXPECT_EQ(positions({"--hinweistext"}), without);
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
            EXPECT_EQ(testsupport::count_items(run.book()), 7);
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

TEST(Gaeb2000Phase, Phase81IsReadLikePhase83) {
    const fs::path p83 = fixture("bereiche_zwei_ebenen.p83");
    int exit_81 = -1, exit_83 = -1;
    const std::string p81 =
        testsupport::cli_result(bill_with(p83, "[DP]83[end]", "[DP]81[end]"), {"--teilsummen"}, exit_81);
    EXPECT_EQ(exit_81, 0);
    EXPECT_EQ(p81, testsupport::cli_result(p83, {"--teilsummen"}, exit_83));
}

TEST(Gaeb2000Phase, Phase84WritesPricesFromTheFile) {
    const std::string input = bill_with(fixture("bereiche_zwei_ebenen.p83"), "[DP]83[end]", "[DP]84[end]");
    auto run = testsupport::convert_in_memory(input, {});
    ASSERT_EQ(run.end, workbook::RunEnd::Completed);
    const workbook::Sheet& s = run.book().sheet(workbook::kPositionsteil);
    // The bill's quantity and unit, not a quantity divided out of the prices.
    EXPECT_EQ(s.text(10, 3), "12.5");
    EXPECT_EQ(s.text(10, 4), "m3");
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
    // Range 02 ends right after a designation without "[end]": the designation ends with its line.
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
        // What there is is converted; the run says that the file may be incomplete.
        {"truncated in an item", clean.substr(0, clean.size() / 2), workbook::RunEnd::Aborted,
         "Die Datei endet ohne Schlusssatz"},
        {"truncated in the header", clean.substr(0, 300), workbook::RunEnd::Aborted,
         "Die Datei endet ohne Schlusssatz: sie ist möglicherweise unvollständig. 0 Positionen wurden "
         "gelesen."},
        {"missing #end[Position]", workbook::replace_all(clean, "#end[Position]", ""),
         workbook::RunEnd::Completed, ""},
        {"missing #end[Beschreibung]", workbook::replace_all(clean, "#end[Beschreibung]", ""),
         workbook::RunEnd::Completed, ""},
        {"range designation without [end]", unended, workbook::RunEnd::Completed, ""},
        {"binary data", binary, workbook::RunEnd::Refused, "--- GAEB 2000 ---\rKann die Austauschphase"},
        {"a 10 MB line in a long text", huge_line, workbook::RunEnd::Completed, ""},
        {"a 10 MB line and nothing else", "#begin[GAEB][DP]83[end]" + std::string(10'000'000, 'z'),
         workbook::RunEnd::Refused, "--- GAEB 2000 ---\rKann die Austauschphase"},
        {"bad mask digit", workbook::replace_all(ranges, "[Laenge]2[end]", "[Laenge]X[end]"),
         workbook::RunEnd::Completed,
         "Verarbeitungsfehler auf LV-Hauptbereich-Ebene01\n\nZeile 40: EConvertError: "},
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
    EXPECT_EQ(testsupport::count_items(run.book()), 7);
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
        EXPECT_GT(testsupport::count_items(run.book()), 0);
        ++converted;
    }
    EXPECT_GT(converted, 0);
}

TEST(Gaeb2000Samples, LongTextsComeOutWholeAndClean) {
    // Every word of every item's long text, read by an independent plain reading of the bill, in
    // the item's rows in order; no cell with an RTF control word, a brace, a bookmark name or an
    // undecoded character reference.
    if (!testsupport::have_samples()) GTEST_SKIP() << "no sample folder " << testsupport::samples_dir();
    const fs::path checker = fs::path(BREMORA_SOURCE_DIR) / "tests" / "gaeb2000" / "long_text_words.py";
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(testsupport::samples_dir() / "gaeb2000")) {
        SCOPED_TRACE(entry.path().filename().string());
        const fs::path dir = testsupport::fresh_dir();
        const auto run = testsupport::run_cli(
            {entry.path().string(), "--hinweistext", "--teilsummen", "-o", (dir / "lv.xlsx").string()});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::string command = "/usr/bin/python3 '" + checker.string() + "' '" + entry.path().string() +
                                    "' '" + (dir / "lv.xlsx").string() + "' > '" +
                                    (dir / "faults.txt").string() + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << testsupport::read_file(dir / "faults.txt");
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(Gaeb2000Samples, OrdinalNumbersReadAsInTheXmlWorkbookOfTheSameBill) {
    if (!testsupport::have_samples()) GTEST_SKIP() << "no sample folder " << testsupport::samples_dir();
    auto column_a = [](const fs::path& bill) {
        auto run = testsupport::convert_in_memory(bill, {});
        EXPECT_EQ(run.end, workbook::RunEnd::Completed);
        std::vector<std::string> numbers;
        const workbook::Sheet& s = run.book().sheet(workbook::kPositionsteil);
        for (int32_t row = 8; row <= s.last_row(); ++row)
            if (!s.text(row, 1).empty()) numbers.push_back(s.text(row, 1));
        return numbers;
    };
    const fs::path samples = testsupport::samples_dir();
    const std::vector<std::string> bills = {
        "ddrw__LV_Los01", "ddrw__LV_Los02", "ddrw__1561 - 02_ROHBAUARBEITEN",
        "ddrw__1561 - 03_ZIMMERERARBEITEN", "ddrw__1561 - 07_FLACHDACHABDICHTUNGSARBEITEN"};
    int compared = 0;
    for (const std::string& bill : bills) {
        SCOPED_TRACE(bill);
        const fs::path p83 = samples / "gaeb2000" / (bill + ".P83");
        const fs::path x83 = samples / "xml" / (bill + ".X83");
        if (!fs::exists(p83) || !fs::exists(x83)) continue;
        const std::vector<std::string> from_2000 = column_a(p83);
        EXPECT_FALSE(from_2000.empty());
        EXPECT_EQ(from_2000, column_a(x83));
        ++compared;
    }
    EXPECT_EQ(compared, static_cast<int>(bills.size()));
}
