// SPDX-License-Identifier: MIT
// The bid through the console program: a tender of each format converted, its workbook priced by
// a script (openpyxl, then LibreOffice Calc re-saving it), the bid written and read back by our
// own DA XML reader; the bids of the real bills against the checks of phase 84 and the element
// order of the sample bids; damaged workbooks, the command line and the rules of the output.
#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/angebot/angebot_support.h"
#include "tests/angebot/x84_structure.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::run_cli;

constexpr int kSkip = 77;

std::string faults_text(const std::vector<std::string>& faults) {
    std::string out;
    for (const auto& f : faults) out += f + "\n";
    return out;
}

// The tender converted into `xlsx` by the console program.
void convert(const fs::path& tender, const fs::path& xlsx, std::vector<std::string> options = {}) {
    options.insert(options.begin(), tender.string());
    options.insert(options.end(), {"-o", xlsx.string()});
    const auto run = run_cli(options);
    ASSERT_EQ(run.exit_code, 0) << run.err;
}

struct Priced {
    int status = -1;
    nlohmann::json values;  // {"items": [[OZ, unit price, total], ...], "total": ...}
};

// tests/angebot/price_workbook.py on `xlsx`; `args` its options.
Priced price(const fs::path& xlsx, const fs::path& priced, const std::vector<std::string>& args) {
    const fs::path out = priced.parent_path() / (priced.filename().string() + ".json");
    std::string command = fmt::format("/usr/bin/python3 '{}/tests/angebot/price_workbook.py' '{}' '{}'",
                                      BREMORA_SOURCE_DIR, xlsx.string(), priced.string());
    for (const auto& a : args) command += " '" + a + "'";
    command += " > '" + out.string() + "'";
    const int rc = std::system(command.c_str());
    Priced result;
    result.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    if (result.status == 0) result.values = nlohmann::json::parse(testsupport::read_file(out));
    return result;
}

// The item rows of Positionsteil as our reader writes a bid: OZ -> (E, F or nothing).
struct ReadBack {
    std::map<std::string, std::pair<double, std::optional<double>>> items;
    std::vector<std::string> order;
    std::optional<double> total;  // the sum of column F
};
ReadBack read_back(const fs::path& bid) {
    ReadBack out;
    auto converted = testsupport::convert_in_memory(bid);
    EXPECT_EQ(converted.end, workbook::RunEnd::Completed);
    if (!converted.excel->result()) return out;
    const workbook::Sheet& s = *converted.book().find_sheet("Positionsteil");
    double total = 0;
    for (int32_t r = 8; r <= s.last_row(); ++r) {
        const std::string oz = s.text(r, 1);
        if (oz.empty()) continue;
        const workbook::CellValue e = s.value(r, 5), f = s.value(r, 6);
        out.items[oz] = {e.number, f.is_empty() ? std::nullopt : std::optional<double>(f.number)};
        out.order.push_back(oz);
        total += f.number;
    }
    out.total = total;
    // Our reader compares the bid's totals with the sums of its items and says where they differ.
    for (const std::string& m : converted.ui->messages)
        EXPECT_EQ(m.find("weichen von den Summen der Datei ab"), std::string::npos) << m;
    return out;
}

// The bid's own total, BoQInfo/Totals/Total.
std::string bid_total(const std::string& xml) {
    const size_t info = xml.find("<BoQInfo>");
    const size_t at = xml.find("<Total>", info);
    if (info == std::string::npos || at == std::string::npos) return {};
    return xml.substr(at + 7, xml.find("</Total>", at) - at - 7);
}

struct RoundTrip {
    const char* fixture;
    std::vector<std::string> convert_options;
};

// Every item's unit price and total, and the grand total, as the estimator's workbook shows them
// after LibreOffice saved it, come back from the bid through our own reader.
TEST(AngebotCli, RoundTripThroughLibreOffice) {
    const RoundTrip cases[] = {
        {"angebot/positionsarten.d83", {}}, {"gaeb2000/bereiche_zwei_ebenen.p83", {}},
        {"angebot/ausschreibung.x83", {}},  {"angebot/ausschreibung.x83", {"--ohne-kalkulationsspalten"}},
        {"gaebxml/zuschlaege.x83", {}},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.fixture);
        const fs::path dir = testsupport::fresh_dir();
        const fs::path tender = testsupport::data_dir() / c.fixture;
        convert(tender, dir / "lv.xlsx", c.convert_options);
        const Priced priced = price(dir / "lv.xlsx", dir / "kalkuliert.xlsx", {"--libreoffice"});
        if (priced.status == kSkip) GTEST_SKIP() << "LibreOffice (soffice) fehlt";
        ASSERT_EQ(priced.status, 0);

        const auto run = run_cli({"--angebot", tender.string(), (dir / "kalkuliert.xlsx").string(), "-o",
                                  (dir / "angebot.x84").string()});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::string xml = testsupport::read_file(dir / "angebot.x84");
        EXPECT_EQ(faults_text(angebot_test::x84_structure_faults(xml)), "");

        const ReadBack back = read_back(dir / "angebot.x84");
        std::vector<std::string> order;
        for (const auto& item : priced.values["items"]) {
            const std::string oz = item[0].get<std::string>();
            SCOPED_TRACE(oz);
            order.push_back(oz);
            const auto found = back.items.find(oz);
            ASSERT_NE(found, back.items.end());
            EXPECT_NEAR(found->second.first, item[1].get<double>(), 1e-9);
            if (item[2].is_null()) {
                EXPECT_FALSE(found->second.second);
            } else {
                ASSERT_TRUE(found->second.second);
                EXPECT_NEAR(*found->second.second, item[2].get<double>(), 1e-9);
            }
        }
        EXPECT_EQ(back.order, order);
        ASSERT_TRUE(priced.values["total"].is_number());
        const double total = priced.values["total"].get<double>();
        EXPECT_EQ(bid_total(xml), fmt::format("{:.2f}", total));
        ASSERT_TRUE(back.total);
        EXPECT_NEAR(*back.total, total, 0.005);
    }
}

bool phase_81_or_83(const fs::path& file) {
    std::string ext = file.extension().string();
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ext.size() == 4 && (ext.substr(2) == "81" || ext.substr(2) == "83");
}

// The bid of every real bill of phase 81 or 83, priced with generated prices, passes the checks of
// phase 84, has the element order of the sample bids, and names the items of the workbook.
TEST(AngebotCli, BidsOfTheSamples) {
    if (!testsupport::have_samples()) GTEST_SKIP() << "no samples";
    const auto order = angebot_test::element_order(angebot_test::sample_x84_files());
    int written = 0;
    for (const char* folder : {"gaeb90", "gaeb2000", "xml"})
        for (const auto& e : fs::directory_iterator(testsupport::samples_dir() / folder)) {
            if (!phase_81_or_83(e.path())) continue;
            SCOPED_TRACE(e.path().filename().string());
            const fs::path dir = testsupport::fresh_dir();
            // Prices straight into E: no recalculation needed.
            const auto converted =
                run_cli({"--ohne-kalkulationsspalten", e.path().string(), "-o", (dir / "lv.xlsx").string()});
            if (converted.exit_code != 0) continue;  // a bill the reader refuses has no workbook
            const Priced priced = price(dir / "lv.xlsx", dir / "kalkuliert.xlsx", {});
            ASSERT_EQ(priced.status, 0);
            const auto run = run_cli({"--angebot", e.path().string(), (dir / "kalkuliert.xlsx").string(),
                                      "-o", (dir / "angebot.x84").string()});
            if (priced.values["items"].empty()) {
                EXPECT_EQ(run.exit_code, 1);  // nothing to offer
                continue;
            }
            ASSERT_EQ(run.exit_code, 0) << run.err;
            ++written;
            const std::string xml = testsupport::read_file(dir / "angebot.x84");
            EXPECT_EQ(faults_text(angebot_test::x84_structure_faults(xml)), "");
            if (!order.children.empty()) {
                EXPECT_EQ(faults_text(angebot_test::order_faults(order, xml)), "");
            }
            std::vector<std::string> ozs;
            for (const auto& item : priced.values["items"]) ozs.push_back(item[0].get<std::string>());
            EXPECT_EQ(read_back(dir / "angebot.x84").order, ozs);
        }
    EXPECT_GT(written, 20);
}

// A tender and its workbook priced without calculation columns (prices straight into E), with
// `damage` done to it by the pricing script.
struct Bench {
    fs::path dir, tender, priced, bid;
};
Bench priced_bench(const std::vector<std::string>& damage,
                   const char* fixture = "angebot/ausschreibung.x83") {
    Bench b;
    b.dir = testsupport::fresh_dir();
    b.tender = testsupport::data_dir() / fixture;
    b.priced = b.dir / "kalkuliert.xlsx";
    b.bid = b.dir / "angebot.x84";
    convert(b.tender, b.dir / "lv.xlsx", {"--ohne-kalkulationsspalten"});
    EXPECT_EQ(price(b.dir / "lv.xlsx", b.priced, damage).status, 0);
    return b;
}

struct Damage {
    const char* what;
    std::vector<std::string> damage;
    std::vector<std::string> options;
    int exit_code;
    std::vector<std::string> said;  // each in the messages
};

TEST(AngebotCli, DamagedWorkbooksSayWhatIsWrong) {
    const Damage cases[] = {
        {"no Positionsteil",
         {"--ohne-positionsteil"},
         {},
         1,
         {"Die Arbeitsmappe \"kalkuliert.xlsx\" hat kein Tabellenblatt \"Positionsteil\".",
          "Das Angebot wurde nicht geschrieben."}},
        {"text in a price cell",
         {"--text", "01.01.0010"},
         {},
         1,
         {"Fehler: Die Arbeitsmappe \"kalkuliert.xlsx\" ist nicht vollständig ausgefüllt (1 Fehler):\n"
          "Positionsteil!E10, OZ 01.01.0010: Einheitspreis ist keine Zahl: \"auf Anfrage\"\n"
          "Das Angebot wurde nicht geschrieben. Mit --unvollstaendig"}},
        {"text in a price cell, written all the same",
         {"--text", "01.01.0010"},
         {"--unvollstaendig"},
         3,
         {"Positionsteil!E10, OZ 01.01.0010: Einheitspreis ist keine Zahl",
          "Unvollständiges Angebot gespeichert: ", "10 von 11 Positionen mit Preis"}},
        {"every empty or zero price listed",
         {"--leer", "01.01.0010", "--leer", "02.01.0020", "--null", "01.02.0020", "--leer", "02.01.0030"},
         {},
         1,
         {"(4 Fehler):\n"
          "Positionsteil!E10, OZ 01.01.0010: kein Einheitspreis\n"
          "Positionsteil!E18, OZ 01.02.0020: Einheitspreis 0\n"
          "Positionsteil!E22, OZ 02.01.0020: kein Einheitspreis\n"
          "Positionsteil!E23, OZ 02.01.0030: kein Zuschlagssatz\n"}},
        {"a deleted item row",
         {"--loeschen", "01.02.0020"},
         {},
         1,
         {"OZ 01.02.0020: die Position fehlt im Tabellenblatt \"Positionsteil\""}},
        {"a foreign OZ",
         {"--fremd", "09.09.0090"},
         {},
         1,
         {"Die Arbeitsmappe ist nicht aus diesem Leistungsverzeichnis erstellt: 1 OZ des Tabellenblatts "
          "\"Positionsteil\" gibt es im Leistungsverzeichnis nicht.\nPositionsteil!A",
          ": die OZ 09.09.0090 gibt es im Leistungsverzeichnis nicht\nDas Angebot wurde nicht geschrieben."}},
        {"a negative price is a warning",
         {"--negativ", "01.01.0010"},
         {},
         0,
         {"Hinweise zur Arbeitsmappe \"kalkuliert.xlsx\" (1):\nPositionsteil!E10, OZ 01.01.0010: negativer "
          "Einheitspreis -",
          "Angebot gespeichert: "}},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        const Bench b = priced_bench(c.damage);
        std::vector<std::string> args{"--angebot", b.tender.string(), b.priced.string(), "-o",
                                      b.bid.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto run = run_cli(args);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        for (const auto& s : c.said)
            EXPECT_NE(run.err.find(s), std::string::npos) << s << "\nin:\n" << run.err;
        EXPECT_EQ(fs::exists(b.bid), c.exit_code == 0 || c.exit_code == 3);
    }

    // Files that are no workbook of this tender at all.
    const Bench b = priced_bench({});
    const fs::path not_zip = b.dir / "keine.xlsx";
    testsupport::write_file(not_zip, "Ordnungszahl;E-Preis\n01.01.0010;12,50\n");
    const Bench other = priced_bench({}, "gaebxml/zuschlaege.x83");
    const std::pair<fs::path, const char*> refused[] = {
        {not_zip,
         "Die Arbeitsmappe \"keine.xlsx\" ist keine .xlsx-Arbeitsmappe: die Datei ist kein ZIP-Archiv."},
        {other.priced, "Die Arbeitsmappe ist nicht aus diesem Leistungsverzeichnis erstellt: "},
        {b.dir / "fehlt.xlsx", "Die Arbeitsmappe \"fehlt.xlsx\" wurde nicht gefunden."},
    };
    for (const auto& [workbook, said] : refused) {
        SCOPED_TRACE(workbook.filename().string());
        const auto run = run_cli({"--angebot", b.tender.string(), workbook.string(), "-o", b.bid.string()});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(b.bid));
    }
    const auto complete = run_cli({"--angebot", b.tender.string(), b.priced.string(), "-o", b.bid.string()});
    EXPECT_EQ(complete.exit_code, 0) << complete.err;
    EXPECT_NE(complete.err.find("11 von 11 Positionen mit Preis"), std::string::npos) << complete.err;
}

using Parts = std::vector<std::pair<std::string, std::string>>;

// The part of the sheet with cell `ref` ("E10") replaced by `cells` (the whole <c> element or
// several of them).
void replace_cell(Parts& parts, const std::string& ref, const std::string& cells) {
    for (auto& [name, bytes] : parts) {
        if (name != "xl/worksheets/sheet1.xml") continue;
        const size_t begin = bytes.find("<c r=\"" + ref + "\"");
        ASSERT_NE(begin, std::string::npos) << ref;
        const size_t open_end = bytes.find('>', begin);
        const size_t end = bytes[open_end - 1] == '/' ? open_end + 1 : bytes.find("</c>", begin) + 4;
        bytes.replace(begin, end - begin, cells);
        return;
    }
    ADD_FAILURE() << "no sheet";
}

// A number cell as a writer would store it.
std::string number_cell(const std::string& ref, const std::string& value) {
    return "<c r=\"" + ref + "\"><v>" + value + "</v></c>";
}

std::vector<std::string> files_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Workbooks and calls a bid must refuse or carry through without harm: numbers no bid can carry,
// amounts past what a bid holds, damaged packages, files of the wrong kind or order. The inputs
// stay as they were, and nothing but a complete (or, asked for, an incomplete) bid is written.
TEST(AngebotCli, HostileWorkbooks) {
    struct Hostile {
        const char* what;
        std::function<void(Parts&)> damage;
        int exit_code;
        std::vector<std::string> said;
        std::vector<std::string> options = {};
        const char* workbook_name = "feindlich.xlsx";
        bool swapped = false;
        bool stored = false;  // written as stored zip (a name twice is possible)
    };
    const Hostile cases[] = {
        {"a subnormal unit price",
         [](Parts& p) { replace_cell(p, "E10", number_cell("E10", "1e-310")); },
         1,
         {"Positionsteil!E10, OZ 01.01.0010: Einheitspreis \"1e-310\" liegt außerhalb der Zahlen, die ein "
          "Angebot tragen kann",
          "Das Angebot wurde nicht geschrieben."}},
        {"a unit price beyond the range of a double",
         [](Parts& p) { replace_cell(p, "E12", number_cell("E12", "-1E+400")); },
         1,
         {"Positionsteil!E12, OZ 01.01.0010.a: Einheitspreis \"-1E+400\" liegt außerhalb"}},
        {"a subnormal quantity the bid needs (the tender leaves it to the bidder)",
         [](Parts& p) { replace_cell(p, "C17", number_cell("C17", "4.9e-324")); },
         1,
         {"Positionsteil!C17, OZ 01.02.0010: Menge \"4.9e-324\" liegt außerhalb"}},
        {"a subnormal total in F and quantity in C beside the tender's are only pointed out",
         [](Parts& p) {
             replace_cell(p, "F10", number_cell("F10", "1e-310"));
             replace_cell(p, "C10", number_cell("C10", "-1e-310"));
         },
         0,
         {"Positionsteil!C10, OZ 01.01.0010: Menge \"-1e-310\" weicht vom Leistungsverzeichnis ab (100)",
          "Positionsteil!F10, OZ 01.01.0010: G-Preis \"1e-310\" weicht vom berechneten Gesamtbetrag",
          "Angebot gespeichert: "}},
        {"a surcharge rate of 99,999,999,999 %",
         [](Parts& p) {
             replace_cell(p, "E21", number_cell("E21", "99999999.99"));
             replace_cell(p, "E23", number_cell("E23", "99999999999"));
         },
         1,
         {"Positionsteil!E23, OZ 02.01.0030: der Zuschlag 1,234e+17 ist zu groß für ein Angebot (höchstens "
          "9.999.999.999.999,99)"}},
        {"the same surcharge, the bid written without it",
         [](Parts& p) {
             replace_cell(p, "E21", number_cell("E21", "99999999.99"));
             replace_cell(p, "E23", number_cell("E23", "99999999999"));
         },
         3,
         {"der Zuschlag 1,234e+17 ist zu groß",
          "Unvollständiges Angebot gespeichert: ", "10 von 11 Positionen mit Preis"},
         {"--unvollstaendig"}},
        {"a range sum beyond what a bid carries",
         [](Parts& p) {
             replace_cell(p, "E10", number_cell("E10", "60000000000"));
             replace_cell(p, "E17", number_cell("E17", "99999999999"));
         },
         1,
         {"Positionsteil!E17, OZ 01.02.0010: mit dieser Position wird die Summe des Bereichs 01 zu groß"}},
        {"an error value of E that comes from the base price in G",
         [](Parts& p) {
             replace_cell(p, "E10",
                          "<c r=\"E10\" t=\"e\"><f>ROUND($G$10*$H$10,2)</f><v>#VALUE!</v></c><c r=\"G10\" "
                          "t=\"inlineStr\"><is><t>auf Anfrage</t></is></c><c r=\"H10\"><v>1</v></c>");
         },
         1,
         {"Positionsteil!G10, OZ 01.01.0010: Basispreis ist keine Zahl: \"auf Anfrage\" (Positionsteil!E10 "
          "zeigt #WERT!)"}},
        {"an error value typed into E",
         [](Parts& p) { replace_cell(p, "E10", "<c r=\"E10\" t=\"e\"><v>#N/A</v></c>"); },
         1,
         {"Positionsteil!E10, OZ 01.01.0010: Fehlerwert #NV statt eines Einheitspreises"}},
        {"the sheet twice in the archive, the second copy with other prices",
         [](Parts& p) {
             Parts copy = p;
             replace_cell(copy, "E10", number_cell("E10", "1"));
             for (const auto& part : copy)
                 if (part.first == "xl/worksheets/sheet1.xml") p.push_back(part);
         },
         1,
         {"Die Arbeitsmappe \"feindlich.xlsx\" ist beschädigt: das ZIP-Archiv enthält den Teil "
          "\"xl/worksheets/sheet1.xml\" zweimal."},
         {},
         "feindlich.xlsx",
         false,
         true},
        {"part names that differ only in letter case",
         [](Parts& p) {
             p.push_back({"XL/Worksheets/Sheet1.xml", "<worksheet/>"});
         },
         1,
         {"die sich nur in Groß- und Kleinschreibung unterscheiden"}},
        {"an OpenDocument spreadsheet",
         [](Parts& p) {
             p = {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                  {"content.xml", "<office:document-content/>"}};
         },
         1,
         {"Die Arbeitsmappe \"kalkuliert.ods\" ist im OpenDocument-Format (.ods), nicht im Format .xlsx. "
          "Bitte "
          "die Arbeitsmappe in der Tabellenkalkulation als .xlsx speichern"},
         {},
         "kalkuliert.ods",
         false,
         true},
        {"the workbook first, the GAEB file second",
         [](Parts&) {},
         1,
         {"Die beiden Dateien sind vertauscht: \"feindlich.xlsx\" ist die Arbeitsmappe, "
          "\"ausschreibung.x83\" die "
          "GAEB-Datei. Bitte erst die GAEB-Datei, dann die Arbeitsmappe angeben."},
         {},
         "feindlich.xlsx",
         true},
    };
    const Bench b = priced_bench({});
    const Parts good = angebot_test::read_zip(testsupport::read_file(b.priced));
    const std::string tender = testsupport::read_file(b.tender);
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path dir = testsupport::fresh_dir();
        Parts parts = good;
        c.damage(parts);
        const fs::path workbook = dir / c.workbook_name;
        const std::string bytes =
            c.stored ? angebot_test::make_stored_zip(parts) : angebot_test::make_zip(parts);
        testsupport::write_file(workbook, bytes);
        std::vector<std::string> args{"--angebot", b.tender.string(), workbook.string(), "-o",
                                      (dir / "angebot.x84").string()};
        if (c.swapped) std::swap(args[1], args[2]);
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto run = run_cli(args);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        for (const auto& said : c.said)
            EXPECT_NE(run.err.find(said), std::string::npos) << said << "\nin:\n" << run.err;
        const bool written = c.exit_code == 0 || c.exit_code == 3;
        std::vector<std::string> expected{c.workbook_name};
        if (written) expected.push_back("angebot.x84");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(files_in(dir), expected);
        EXPECT_EQ(testsupport::read_file(workbook), bytes);
        EXPECT_EQ(testsupport::read_file(b.tender), tender);
        if (written) {
            const std::string xml = testsupport::read_file(dir / "angebot.x84");
            EXPECT_EQ(faults_text(angebot_test::x84_structure_faults(xml)), "");
            EXPECT_EQ(xml.find("922337203685477"), std::string::npos);
        }
    }
}

// A DA XML tender of phase 83 with `items` items that carry unit prices, so that its workbook
// converted without calculation columns is priced already.
void write_big_tender(const fs::path& path, int items) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<GAEB xmlns=\"http://www.gaeb.de/GAEB_DA_XML/DA83/3.3\">"
        "<GAEBInfo><Version>3.3</Version></GAEBInfo><PrjInfo><NamePrj>Gross</NamePrj></"
        "PrjInfo><Award><DP>83</DP>"
        "<BoQ ID=\"B\"><BoQInfo><Name>LV</Name>"
        "<BoQBkdn><Type>BoQLevel</Type><Length>2</Length><Num>Yes</Num></BoQBkdn>"
        "<BoQBkdn><Type>Item</Type><Length>5</Length><Num>Yes</Num></BoQBkdn></BoQInfo><BoQBody>";
    for (int i = 0; i < items; ++i) {
        if (i % 1000 == 0)
            xml += fmt::format(
                "{}<BoQCtgy RNoPart=\"{:02}\"><LblTx><p><span>Bereich {}</span></p></LblTx>"
                "<BoQBody><Itemlist>",
                i ? "</Itemlist></BoQBody></BoQCtgy>" : "", i / 1000 + 1, i / 1000 + 1);
        xml += fmt::format(
            "<Item RNoPart=\"{:05}\"><Qty>{}.500</Qty><QU>m2</QU><UP>{}.25</UP><Description><CompleteText>"
            "<OutlineText><OutlTxt><TextOutlTxt><p><span>Position {}</span></p></TextOutlTxt></OutlTxt>"
            "</OutlineText></CompleteText></Description></Item>",
            i % 1000 + 1, i % 97 + 1, i % 89 + 1, i);
    }
    xml += "</Itemlist></BoQBody></BoQCtgy></BoQBody></BoQ></Award></GAEB>\n";
    testsupport::write_file(path, xml);
}

// The console program in `dir` with its address space limited to `limit` bytes.
testsupport::CliRun run_limited(const fs::path& dir, const std::vector<std::string>& args, rlim_t limit) {
    const std::string out = (dir / "stdout.log").string(), err = (dir / "stderr.log").string();
    std::string program = BREMORA_CLI;
    std::vector<std::string> copy = args;
    std::vector<char*> argv{program.data()};
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in_fd = ::open("/dev/null", O_RDONLY);
        const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::chdir(dir.c_str()) != 0) std::_Exit(126);
        ::dup2(in_fd, 0);
        ::dup2(out_fd, 1);
        ::dup2(err_fd, 2);
        const rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_AS, &rl);
        ::execv(program.c_str(), argv.data());
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    testsupport::CliRun run;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = testsupport::read_file(out);
    run.err = testsupport::read_file(err);
    fs::remove(out);
    fs::remove(err);
    return run;
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Too little memory at every stage of a bid and of a conversion with its report: the run ends
// with one message that says so, or succeeds; never silently, never by an abort. A bid that memory
// stopped writes nothing; a conversion keeps its contract (the workbook so far, exit 3, or nothing,
// exit 1), and its report says what the console said.
TEST(AngebotCli, TooLittleMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit here allows";
#endif
    const fs::path dir = testsupport::fresh_dir();
    write_big_tender(dir / "gross.x83", 20000);
    const auto converted = run_cli(
        {"--ohne-kalkulationsspalten", (dir / "gross.x83").string(), "-o", (dir / "gross.xlsx").string()});
    ASSERT_EQ(converted.exit_code, 0) << converted.err;
    const std::vector<std::string> inputs = files_in(dir);
    int refused = 0, completed = 0, cut = 0;
    for (rlim_t mib = 16; mib <= 192; mib += 16) {
        SCOPED_TRACE(std::to_string(mib) + " MiB");
        const auto bid =
            run_limited(dir, {"--angebot", "gross.x83", "gross.xlsx", "-o", "gross.x84"}, mib << 20);
        if (bid.exit_code == 0) {
            ++completed;
            EXPECT_EQ(
                faults_text(angebot_test::x84_structure_faults(testsupport::read_file(dir / "gross.x84"))),
                "");
            EXPECT_NE(bid.err.find("20000 von 20000 Positionen mit Preis"), std::string::npos) << bid.err;
            fs::remove(dir / "gross.x84");
        } else {
            ++refused;
            EXPECT_EQ(bid.exit_code, 1);
            EXPECT_EQ(bid.err, "Nicht genügend Arbeitsspeicher: Das Angebot wurde nicht geschrieben.\n");
        }
        EXPECT_EQ(bid.out, "");
        EXPECT_EQ(files_in(dir), inputs);

        const auto report =
            run_limited(dir, {"gross.x83", "-o", "mappe.xlsx", "--bericht", "bericht.json"}, mib << 20);
        EXPECT_TRUE(report.exit_code == 0 || report.exit_code == 1 || report.exit_code == 3)
            << report.exit_code << "\n"
            << report.err;
        if (report.exit_code != 0) {
            ++cut;
            EXPECT_EQ(
                report.err.rfind("Nicht genügend Arbeitsspeicher: Die Konvertierung wurde abgebrochen.", 0),
                0u)
                << report.err;
            EXPECT_EQ(occurrences(report.err, "Arbeitsspeicher"), 1u) << report.err;
            EXPECT_EQ(fs::exists(dir / "mappe.xlsx"), report.exit_code == 3);
        }
        ASSERT_TRUE(fs::exists(dir / "bericht.json")) << report.err;
        const auto json = nlohmann::json::parse(testsupport::read_file(dir / "bericht.json"));
        EXPECT_EQ(json["rueckgabewert"], report.exit_code);
        fs::remove(dir / "mappe.xlsx");
        fs::remove(dir / "bericht.json");
        EXPECT_EQ(files_in(dir), inputs);
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(completed, 0);
    EXPECT_GT(cut, 0);
}

// A bid read back whose amounts pass what a double holds to the cent (10^15): the sums are checked,
// never wrapped (no signed overflow, no "berechnet 0,00"), and said to be too large.
TEST(AngebotReadBack, TotalsPastWhatAnAmountHolds) {
    struct Bid {
        const char* what;
        std::vector<std::string> its;  // the items' IT
        std::string range_total, bill_total;
        std::vector<std::string> said;
    };
    const Bid cases[] = {
        {"items of 10^17 each, totals as large",
         {"100000000000000000.00", "100000000000000000.00", "100000000000000000.00"},
         "300000000000000000.00",
         "300000000000000000.00",
         {"Gesamtsumme: laut Datei und berechnet mehr als 999.999.999.999.999,99; zu groß, um verglichen zu "
          "werden"}},
        {"items whose sum would wrap to 0 in 64 bits",
         {"92233720368547758.08", "92233720368547758.08", "-92233720368547758.08", "-92233720368547758.08"},
         "0.00",
         "0.00",
         {"Gesamtsumme: laut Datei 0,00, berechnet mehr als 999.999.999.999.999,99"}},
        {"declared totals too large, items small",
         {"10.00"},
         "1e300",
         "2000000000000000.00",
         {"Gesamtsumme: laut Datei mehr als 999.999.999.999.999,99, berechnet 10,00"}},
    };
    for (const Bid& c : cases) {
        SCOPED_TRACE(c.what);
        std::string items;
        for (size_t i = 0; i < c.its.size(); ++i)
            items += fmt::format(
                "<Item ID=\"I{0}\" RNoPart=\"{0}\"><Qty>1</Qty><QU>St</QU><UP>1</UP><IT>{1}</IT></Item>",
                (i + 1) * 10, c.its[i]);
        const std::string xml =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<GAEB "
            "xmlns=\"http://www.gaeb.de/GAEB_DA_XML/DA84/3.3\">"
            "<PrjInfo><NamePrj>Gross</NamePrj></PrjInfo><Award><DP>84</DP><BoQ><BoQInfo><Name>LV</Name>"
            "<BoQBkdn><Type>BoQLevel</Type><Length>2</Length></BoQBkdn><BoQBkdn><Type>Item</Type><Length>4</"
            "Length>"
            "</BoQBkdn><Totals><Total>" +
            c.bill_total +
            "</Total></Totals></BoQInfo><BoQBody><BoQCtgy ID=\"A\" RNoPart=\"01\"><LblTx><p><span>A"
            "</span></p></LblTx><BoQBody><Itemlist>" +
            items + "</Itemlist></BoQBody><Totals><Total>" + c.range_total +
            "</Total></Totals></BoQCtgy></BoQBody></BoQ></Award></GAEB>\n";
        const fs::path bid = testsupport::fresh_dir() / "gross.x84";
        testsupport::write_file(bid, xml);
        auto converted = testsupport::convert_in_memory(bid);
        EXPECT_EQ(converted.end, workbook::RunEnd::Completed);
        std::string messages;
        for (const std::string& m : converted.ui->messages) messages += m + "\n";
        for (const auto& said : c.said)
            EXPECT_NE(messages.find(said), std::string::npos) << said << "\nin:\n" << messages;
        EXPECT_EQ(messages.find("berechnet 0,00"), std::string::npos) << messages;
    }
}

// Tenders a bid is not made from.
TEST(AngebotCli, TendersRefused) {
    const Bench b = priced_bench({});
    const fs::path text = b.dir / "notiz.txt";
    testsupport::write_file(text, "Kein Leistungsverzeichnis\n");
    const std::pair<fs::path, const char*> cases[] = {
        {testsupport::data_dir() / "gaebxml/angebot.x84",
         "hat die Austauschphase 84. Ein Angebot (Austauschphase 84) wird zu einem Leistungsverzeichnis der "
         "Austauschphase 81 oder 83 erstellt."},
        {text, "ist keine GAEB-Datei"},
    };
    for (const auto& [tender, said] : cases) {
        SCOPED_TRACE(tender.filename().string());
        const auto run = run_cli({"--angebot", tender.string(), b.priced.string(), "-o", b.bid.string()});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Das Angebot wurde nicht geschrieben."), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(b.bid));
    }
}

TEST(AngebotCli, CommandLine) {
    const Bench b = priced_bench({});
    const std::string t = b.tender.string(), w = b.priced.string();
    const std::pair<std::vector<std::string>, const char*> usage[] = {
        {{"--angebot", t}, "--angebot erwartet zwei Dateien"},
        {{"--angebot", t, w, "dritte.xlsx"}, "--angebot erwartet zwei Dateien"},
        {{"--angebot", t, w, "--ausgabeordner", b.dir.string()},
         "--ausgabeordner gilt nicht zusammen mit --angebot"},
        {{"--angebot", t, w, "--bericht", "-"}, "--bericht gilt nicht zusammen mit --angebot"},
        {{"--angebot", t, w, "--rekursiv"}, "--rekursiv gilt nicht zusammen mit --angebot"},
        {{"--angebot", t, w, "-j", "2"}, "--parallel gilt nicht zusammen mit --angebot"},
        {{"--angebot", t, w, "--nur-kurztexte"}, "--nur-kurztexte gilt nur für die Umwandlung"},
        {{"--angebot", t, w, "--regelungen=ja"}, "--regelungen gilt nur für die Umwandlung"},
        {{"--angebot", "-", w}, "Die Standardeingabe (-) geht nicht mit --angebot"},
        {{"--angebot", t, w, "--bieter-anschrift", "Hauptstraße 1"},
         "--bieter-anschrift braucht --bieter-name"},
        {{"--angebot", t, w, "--bieter-name"}, "--bieter-name erwartet den Namen des Bieters"},
        {{t, "--unvollstaendig"}, "--unvollstaendig gilt nur zusammen mit --angebot"},
        {{t, "--bieter-name", "Musterbau"}, "--bieter-name gilt nur zusammen mit --angebot"},
    };
    for (const auto& [args, said] : usage) {
        SCOPED_TRACE(said);
        const auto run = run_cli(args);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    }

    // The bidder: a name, and the address one line per option (or per line of one value).
    const auto named = run_cli({"--angebot", t, w, "-o", b.bid.string(), "--bieter-name", "Musterbau GmbH",
                                "--bieter-anschrift", "Niederlassung Süd", "--bieter-anschrift",
                                "Baustraße 1\n12345 Musterstadt"});
    ASSERT_EQ(named.exit_code, 0) << named.err;
    const std::string xml = testsupport::read_file(b.bid);
    EXPECT_NE(xml.find("<CTR>\n      <Address>\n        <Name1>Musterbau GmbH</Name1>\n"
                       "        <Name2>Niederlassung Süd</Name2>\n        <Street>Baustraße 1</Street>\n"
                       "        <PCode>12345</PCode>\n        <City>Musterstadt</City>\n"),
              std::string::npos)
        << xml;
    EXPECT_EQ(faults_text(angebot_test::x84_structure_faults(xml)), "");
}

// Without -o the bid goes beside the tender under its name, never over a file that is there;
// with -o an existing file only with --ueberschreiben, and never an input or a non-regular file.
TEST(AngebotCli, WhereTheBidGoes) {
    const Bench b = priced_bench({});
    const fs::path tender = b.dir / "Halle 7.x83";
    fs::copy_file(b.tender, tender);
    const std::string w = b.priced.string();
    for (const char* expected : {"Halle 7.x84", "Halle 7 (2).x84"}) {
        const auto run = run_cli({"--angebot", tender.string(), w});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_NE(run.err.find("Angebot gespeichert: " + (b.dir / expected).string()), std::string::npos)
            << run.err;
    }
    const std::string first = testsupport::read_file(b.dir / "Halle 7.x84");

    const fs::path fifo = b.dir / "pipe.x84";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {{"-o", (b.dir / "Halle 7.x84").string()},
         "ist schon vorhanden. Mit --ueberschreiben wird sie ersetzt."},
        {{"-o", tender.string(), "--ueberschreiben"}, "ist die Eingabedatei selbst"},
        {{"-o", w, "--ueberschreiben"}, "ist die Eingabedatei selbst"},
        {{"-o", fifo.string(), "--ueberschreiben"}, "und wird nicht ersetzt"},
        {{"-o", b.dir.string(), "--ueberschreiben"}, "ist ein Verzeichnis"},
    };
    for (const auto& [options, said] : refused) {
        SCOPED_TRACE(said);
        std::vector<std::string> args{"--angebot", tender.string(), w};
        args.insert(args.end(), options.begin(), options.end());
        const auto run = run_cli(args);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    }
    EXPECT_EQ(testsupport::read_file(b.dir / "Halle 7.x84"), first);
    EXPECT_EQ(testsupport::read_file(tender), testsupport::read_file(b.tender));

    testsupport::write_file(b.dir / "alt.x84", "alt");
    const auto replaced =
        run_cli({"--angebot", tender.string(), w, "-o", (b.dir / "alt.x84").string(), "--ueberschreiben"});
    EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
    EXPECT_NE(testsupport::read_file(b.dir / "alt.x84").find("<DP>84</DP>"), std::string::npos);
}

}  // namespace
