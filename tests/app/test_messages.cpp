// SPDX-License-Identifier: MIT
// What the console shows of a fault in the input: the line (and column) and, for a fault of an
// item, its OZ in front of the message, in every format; and what it tells a user whose input is
// missing, unreadable or no bill at all.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
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

// What a user meets first, one row per situation: the message says what the input is or what went
// wrong and what to do, and the last line of a run is its result.
struct Hint {
    std::string name;
    std::function<fs::path(const fs::path& dir)> input;  // makes the input in `dir`
    std::vector<std::string> options;
    int exit_code;
    std::vector<std::string> words;   // each on stderr
    std::vector<std::string> absent;  // none of these on stderr
    std::string last_line;            // the start of stderr's last line, when not empty
    bool unreadable = false;          // nobody but root may read the input
};

fs::path make(const fs::path& dir, const std::string& name, const std::string& bytes) {
    testsupport::write_file(dir / name, bytes);
    return dir / name;
}

fs::path copy(const fs::path& dir, const fs::path& from, const std::string& name) {
    fs::copy_file(from, dir / name);
    return dir / name;
}

// A zip archive's first local header naming `part`, as far as looking at a file's start goes.
std::string zip_naming(const std::string& part, const std::string& content) {
    std::string header = "PK\x03\x04";
    header += std::string(22, '\0');
    header += static_cast<char>(part.size());
    header += std::string(3, '\0');
    return header + part + content;
}

std::vector<Hint> hints() {
    const fs::path data = testsupport::data_dir();
    return {
        {"missing_file",
         [](const fs::path& dir) { return dir / "fehlt.d83"; },
         {},
         1,
         {"fehlt.d83 kann nicht geöffnet werden!\nDie Datei wurde nicht gefunden: Bitte Ordner und "
          "Dateinamen "
          "prüfen."},
         {},
         "",
         false},
        {"missing_folder",
         [](const fs::path& dir) { return dir / "kein Ordner" / "lv.x83"; },
         {},
         1,
         {"lv.x83 kann nicht geöffnet werden!", "nicht gefunden"},
         {"Ausgabedatei"},
         "",
         false},
        {"unreadable_file",
         [](const fs::path& dir) { return make(dir, "gesperrt.d83", "00        83\r\n"); },
         {},
         1,
         {"gesperrt.d83 kann nicht geöffnet werden!\nKeine Leseberechtigung", "Zugriffsrechte"},
         {},
         "",
         true},
        {"empty_file",
         [](const fs::path& dir) { return make(dir, "leer.x83", ""); },
         {},
         1,
         {"leer.x83 ist leer (0 Bytes)", "noch einmal exportieren"},
         {"keine GAEB-Datei"},
         "",
         false},
        {"pdf",
         [](const fs::path& dir) { return make(dir, "lv.pdf", "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n1 0 obj\n"); },
         {},
         1,
         {"ist keine GAEB-Datei, sondern ein PDF-Dokument.", "als GAEB-Datei anfordern"},
         {},
         "",
         false},
        {"xlsx_workbook",
         [data](const fs::path& dir) {
             return copy(dir, data / "angebot" / "kalkulation.xlsx", "mappe.xlsx");
         },
         {},
         1,
         {"ist keine GAEB-Datei, sondern eine Arbeitsmappe.", "Meinten Sie --angebot?"},
         {},
         "",
         false},
        {"ods_workbook",
         [](const fs::path& dir) {
             return make(dir, "mappe.ods",
                         zip_naming("mimetype", "application/vnd.oasis.opendocument.spreadsheet"));
         },
         {},
         1,
         {"sondern eine Arbeitsmappe.", "--angebot"},
         {},
         "",
         false},
        {"zip_archive",
         [](const fs::path& dir) { return make(dir, "lv.zip", zip_naming("lv.x83", "<?xml version=")); },
         {},
         1,
         {"sondern ein ZIP-Archiv.", "entpacken"},
         {},
         "",
         false},
        // On the console the notes hint names the option, not the window's check box.
        {"gaeb90_notes_not_exported",
         [data](const fs::path&) { return data / "gaeb90" / "hinweistext_verborgen.d83"; },
         {},
         0,
         {"Die Datei enthält 3 Zeilen Hinweistext; sie werden mit der Option --hinweistext übernommen."},
         {"exportieren", "„"},
         "",
         false},
        // Faulty lines and the completion come before the saved workbook, which ends the run.
        {"completed_run_ends_with_the_workbook",
         [data](const fs::path&) { return data / "gaeb90" / "fehlerhafte_saetze.d81"; },
         {},
         0,
         {"\"Fehlerhafte Zeilen\" aufgelistet.", "Konvertierung abgeschlossen.\n"},
         {"Das Programm wird jetzt beendet."},
         "Arbeitsmappe gespeichert: ",
         false},
    };
}

void PrintTo(const Hint& h, std::ostream* os) {
    *os << h.name;
}

// The console program run as a user who is not root (root reads any file): nobody.
testsupport::CliRun run_without_root(const std::vector<std::string>& args, const fs::path& dir) {
    testsupport::CliRun run;
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    std::string program = testsupport::cli_for_other_users();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(out.c_str(), "wb", stdout);
        std::freopen(err.c_str(), "wb", stderr);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            std::_Exit(126);
        std::vector<std::string> copy = args;
        std::vector<char*> argv{program.data()};
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = testsupport::read_file(out);
    run.err = testsupport::read_file(err);
    return run;
}

class ConsoleHints : public ::testing::TestWithParam<Hint> {};

TEST_P(ConsoleHints, SayWhatHappenedAndWhatToDo) {
    const Hint& h = GetParam();
    const fs::path dir = testsupport::fresh_dir();
    const fs::path input = h.input(dir);
    std::vector<std::string> args = h.options;
    args.insert(args.begin(), input.string());
    args.push_back("-o");
    args.push_back((dir / "lv.xlsx").string());
    testsupport::CliRun run;
    if (h.unreadable) {
        fs::permissions(input, fs::perms::none);
        fs::permissions(dir, fs::perms::all);  // the workbook's folder may be written
        run = run_without_root(args, dir);
    } else {
        run = testsupport::run_cli(args);
    }
    EXPECT_EQ(run.exit_code, h.exit_code) << run.err;
    for (const std::string& word : h.words)
        EXPECT_NE(run.err.find(word), std::string::npos) << word << "\n" << run.err;
    for (const std::string& word : h.absent)
        EXPECT_EQ(run.err.find(word), std::string::npos) << word << "\n" << run.err;
    if (!h.last_line.empty()) {
        std::string text = run.err;
        while (!text.empty() && text.back() == '\n') text.pop_back();
        const std::string last = text.substr(text.rfind('\n') + 1);
        EXPECT_EQ(last.rfind(h.last_line, 0), 0u) << run.err;
    }
    EXPECT_FALSE(h.exit_code != 0 && fs::exists(dir / "lv.xlsx"));
}

INSTANTIATE_TEST_SUITE_P(Situations, ConsoleHints, ::testing::ValuesIn(hints()),
                         [](const ::testing::TestParamInfo<Hint>& param) { return param.param.name; });

}  // namespace
