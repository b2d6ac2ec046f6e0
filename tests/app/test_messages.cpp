// SPDX-License-Identifier: MIT
// What the console shows of a fault in the input: the line (and column) and, for a fault of an
// item, its OZ in front of the message, in every format; and that the program ends is said once.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// A record of 80 columns: the type, then the text from column 3.
std::string record(const std::string& type, const std::string& text = "") {
    std::string line = type + text;
    line.resize(80, ' ');
    return line + "\r\n";
}

// Record 00 of phase 83 with the mask "1122PPPP" in columns 63-71.
std::string gaeb90_opening() {
    std::string data(78, ' ');
    data.replace(8, 2, "83");
    data.replace(60, 8, "1122PPPP");
    return record("00", data);
}

// Record 21 of item `oz` (columns 3-11), kind NNN, quantity 1 St.
std::string gaeb90_item(const std::string& oz) {
    std::string data(78, ' ');
    data.replace(0, oz.size(), oz);
    data.replace(9, 3, "NNN");
    data.replace(21, 8, "00000001");
    data.replace(29, 3, "000");
    data.replace(32, 2, "St");
    return record("21", data);
}

// A bill with one item whose quantity is no number; a comment with an umlaut stands before the
// quantity on its line, so that the column counts characters, not bytes.
const std::string kXmlBill =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<GAEB>\n"
    "  <Award>\n"
    "    <DP>83</DP>\n"
    "    <BoQ>\n"
    "      <BoQInfo>\n"
    "        <BoQBkdn><Type>BoQLevel</Type><Length>2</Length></BoQBkdn>\n"
    "        <BoQBkdn><Type>Item</Type><Length>4</Length></BoQBkdn>\n"
    "      </BoQInfo>\n"
    "      <BoQBody>\n"
    "        <BoQCtgy RNoPart=\"01\">\n"
    "          <LblTx><p><span>Erdarbeiten</span></p></LblTx>\n"
    "          <BoQBody>\n"
    "            <Itemlist>\n"
    "              <Item RNoPart=\"0010\">\n"
    "                <!--ä--><Qty>zwölf</Qty>\n"
    "                <QU>m</QU>\n"
    "              </Item>\n"
    "            </Itemlist>\n"
    "          </BoQBody>\n"
    "        </BoQCtgy>\n"
    "      </BoQBody>\n"
    "    </BoQ>\n"
    "  </Award>\n"
    "</GAEB>\n";

// UTF-16 little endian with its byte-order mark, for text of ASCII and Latin-1 letters.
std::string utf16le(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned cp = static_cast<unsigned char>(utf8[i]);
        if (cp >= 0xC0 && i + 1 < utf8.size())
            cp = ((cp & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
        out += static_cast<char>(cp & 0xFF);
        out += static_cast<char>(cp >> 8);
    }
    return out;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

struct Case {
    std::string name;
    std::string file;  // the input's name, which gives its format
    std::string bytes;
    std::vector<std::string> options;
    int exit_code;
    std::string message;  // shown on stderr as it stands
};

std::vector<Case> cases() {
    const std::string xml_cut = replaced(kXmlBill, "          </BoQBody>\n", "");
    const std::string p2000 =
        testsupport::read_file(testsupport::data_dir() / "gaeb2000" / "werte_ungueltig.p83");
    return {
        {"xml_parse_error",
         "lv.x83",
         xml_cut,
         {},
         1,
         "GAEB XML, Prozedur \"LoadFromFile\"\n"
         "Zeile 20, Spalte 11: EDOMParseError : Start- und End-Tag passen nicht zusammen\n"},
        // Counted in the characters of the text, whatever the file's encoding.
        {"xml_parse_error_utf16",
         "lv.x83",
         utf16le(replaced(xml_cut, "UTF-8", "UTF-16")),
         {},
         1,
         "Zeile 20, Spalte 11: EDOMParseError : Start- und End-Tag passen nicht zusammen\n"},
        {"xml_value_of_an_item",
         "lv.x83",
         kXmlBill,
         {},
         0,
         "Zeile 16, Spalte 25, Position 01.0010: die Menge \"zwölf\" ist keine Zahl; die Zelle bleibt "
         "leer.\n"},
        {"xml_value_of_an_item_latin1",
         "lv.x83",
         replaced(replaced(replaced(kXmlBill, "UTF-8", "ISO-8859-1"), "zwölf", "zw\xF6lf"), "ä", "\xE4"),
         {},
         0,
         "Zeile 16, Spalte 25, Position 01.0010: die Menge \"zwölf\" ist keine Zahl"},
        // The line of the key that holds the value, and the OZ of the item.
        {"gaeb2000_value_of_an_item",
         "lv.p83",
         p2000,
         {},
         0,
         "GAEB2000-Modul \"Positionen\", Abschnitt: Position einfügen, Menge nicht übernommen\n\n"
         "Zeile 35, Position 01.01.0010: EConvertError : '1,2,3' ist kein gültiger Gleitkommawert\n"},
        {"gaeb90_faulty_record",
         "lv.d83",
         gaeb90_opening() + gaeb90_item("01010010") + record("25", "Kurztext") + record("22", "0101"),
         {"--ohne-fehlerprotokoll"},
         3,
         "OrdForCase-Fehler.\nZeile 4, Position 01.01.0010: Satzart <22> nicht im gültigen Bereich.\n"},
        // A record outside an item names no OZ.
        {"gaeb90_faulty_record_after_a_group",
         "lv.d83",
         gaeb90_opening() + gaeb90_item("01010010") + record("11", "02") + record("22", "0101"),
         {"--ohne-fehlerprotokoll"},
         3,
         "OrdForCase-Fehler.\nZeile 4: Satzart <22>"},
        {"gaeb90_sub_description",
         "lv.d83",
         gaeb90_opening() + record("11", "01") + gaeb90_item("01010020") + record("24", "01 0000000x000m") +
             record("99"),
         {},
         0,
         "Zeile 4, Position 01.01.0020: Ungültiges Umwandlungsformat bei der Unterbeschreibung.\n"},
    };
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class ConsoleMessages : public ::testing::TestWithParam<Case> {};

TEST_P(ConsoleMessages, NameThePlaceOfTheFault) {
    const Case& c = GetParam();
    const fs::path dir = testsupport::fresh_dir();
    testsupport::write_file(dir / c.file, c.bytes);
    std::vector<std::string> args = c.options;
    args.insert(args.begin(), (dir / c.file).string());
    args.push_back("-o");
    args.push_back((dir / "lv.xlsx").string());
    const auto run = testsupport::run_cli(args);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Formats, ConsoleMessages, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& param) { return param.param.name; });

// Faulty lines and the completion both end a GAEB 90 run; only the last message says so.
TEST(ConsoleMessages, TheProgramEndsIsSaidOnce) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path output = dir / "lv.xlsx";
    const auto run = testsupport::run_cli(
        {(testsupport::data_dir() / "gaeb90" / "fehlerhafte_saetze.d81").string(), "-o", output.string()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const std::string ends = "Das Programm wird jetzt beendet.";
    const size_t first = run.err.find(ends);
    ASSERT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(ends, first + 1), std::string::npos) << run.err;
    EXPECT_LT(run.err.find("\"Fehlerhafte Zeilen\" aufgelistet."), first) << run.err;
}

}  // namespace
