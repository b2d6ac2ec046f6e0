// SPDX-License-Identifier: MIT
// The bid through the console program: a tender of each format converted, its workbook priced by
// a script (openpyxl, then LibreOffice Calc re-saving it), the bid written and read back by our
// own DA XML reader; the bids of the real bills against the checks of phase 84 and the element
// order of the sample bids; damaged workbooks, the command line and the rules of the output.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

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
