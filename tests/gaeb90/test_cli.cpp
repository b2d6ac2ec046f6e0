// SPDX-License-Identifier: MIT
// GAEB 90 through the console program: saved workbooks read back by openpyxl and compared with
// reviewed dumps, damaged input, the sample files and generated bills.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "tests/gaeb90/records.h"
#include "workbook/text.h"

using namespace gaeb90test;

namespace {

std::filesystem::path fixture(const std::string& name) {
    return testsupport::data_dir() / "gaeb90" / name;
}

// A generated bill; nullopt when the generator cannot run here.
std::optional<std::filesystem::path> generate(const std::vector<std::string>& args) {
    const auto path = testsupport::fresh_dir() / "lv.d83";
    std::string command =
        std::string("/usr/bin/python3 ") + BREMORA_GAEBGEN + " 90 -q -o '" + path.string() + "'";
    for (const auto& a : args) command += " " + a;
    if (std::system(command.c_str()) != 0 || !std::filesystem::exists(path)) return std::nullopt;
    return path;
}

int32_t count_items(workbook::Workbook& book) {
    const workbook::Sheet& s = book.sheet("Positionsteil");
    int32_t items = 0;
    for (int32_t row = 8; row <= s.last_row(); ++row)
        if (!s.text(row, 1).empty()) ++items;
    return items;
}

}  // namespace

TEST(Gaeb90Cli, WorkbooksMatchTheReviewedDumps) {
    // Together the cases switch every option that changes a GAEB 90 workbook at least once.
    testsupport::expect_golden_runs({
        {"gaeb90/kalkulation_standard", fixture("kalkulation.d83"), {"--regelungen=nein"}, 0},
        {"gaeb90/kalkulation_alle_optionen",
         fixture("kalkulation.d83"),
         {"--regelungen=ja", "--nur-kurztexte", "--hinweistext", "--ohne-runden", "--teilsummen",
          "--ohne-kalkulationsspalten"},
         0},
        {"gaeb90/angebot_teilsummen", fixture("angebot.d84"), {"--teilsummen", "--hinweistext"}, 0},
        {"gaeb90/fehlerhafte_saetze", fixture("fehlerhafte_saetze.d81"), {}, 0},
        {"gaeb90/fehlerhafte_saetze_abbruch",
         fixture("fehlerhafte_saetze.d81"),
         {"--ohne-fehlerprotokoll"},
         3},
    });
}

TEST(Gaeb90Cli, DamagedInputGetsAClearMessageAndNeverACrash) {
    std::mt19937 rng(90);
    std::string binary(4096, '\0');
    for (char& ch : binary) ch = static_cast<char>(rng());
    const std::string bill = testsupport::read_file(fixture("kalkulation.d83"));
    struct Case {
        std::string name, bytes;
        int exit_code;
        std::string message;
    };
    const Case cases[] = {
        {"binary", binary, 1, "ist keine GAEB-Datei"},
        {"binary after record 00", opening() + binary, 0, "fehlerhafte Sätze"},
        {"empty", "", 1, "ist keine GAEB-Datei"},
        {"only record 00", opening(), 0, "Konvertierung abgeschlossen."},
        {"truncated in a record", bill.substr(0, 1234), 0, "Konvertierung abgeschlossen."},
        {"lines of 10000 characters",
         opening() + "25" + std::string(9998, 'x') + "\r\n" + std::string(10000, '2') + "\r\n", 0,
         "fehlerhafte Sätze"},
        {"unsupported phase", opening("85") + bill, 1, "Die Austauschphase 85wird nicht unterstützt!"},
        {"phase that is no number", opening("8X"), 1, "Die Austauschphase 8Xwird nicht unterstützt!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto dir = testsupport::fresh_dir();
        testsupport::write_file(dir / "lv.d83", c.bytes);
        const auto run = testsupport::run_cli({(dir / "lv.d83").string(), "-o", (dir / "lv.xlsx").string()});
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(std::filesystem::exists(dir / "lv.xlsx"), c.exit_code != 1);
        if (c.exit_code == 0) {
            EXPECT_NE(testsupport::xlsx_dump(dir / "lv.xlsx").find("#sheets"), std::string::npos);
        }
    }
}

TEST(Gaeb90Cli, SampleFilesConvertOrAreRefusedWithAReason) {
    if (!testsupport::have_samples()) GTEST_SKIP() << "no sample folder " << testsupport::samples_dir();
    int converted = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testsupport::samples_dir() / "gaeb90")) {
        SCOPED_TRACE(entry.path().filename().string());
        const auto out = testsupport::fresh_dir() / "lv.xlsx";
        const auto run = testsupport::run_cli({entry.path().string(), "-o", out.string()});
        EXPECT_TRUE(run.exit_code == 0 || (run.exit_code == 1 && !run.err.empty()))
            << run.exit_code << run.err;
        if (run.exit_code == 0) ++converted;
    }
    EXPECT_GT(converted, 0);
}

TEST(Gaeb90Cli, GeneratedBillsConvertCompletely) {
    struct Case {
        std::vector<std::string> args;
        int32_t items;
    };
    const Case cases[] = {
        {{"--items", "120", "--notes", "--subdescr", "--rules", "--index"}, 120},
        {{"--items", "60", "--levels", "4", "--phase", "81", "--pad", "blank", "--ragged"}, 60},
        {{"--items", "60", "--levels", "0", "--phase", "82", "--long-lines", "0"}, 60},
        {{"--items", "60", "--levels", "3", "--phase", "84", "--notes", "--index"}, 60},
    };
    for (const auto& c : cases) {
        std::string name;
        for (const auto& a : c.args) name += a + " ";
        SCOPED_TRACE(name);
        const auto bill = generate(c.args);
        if (!bill) GTEST_SKIP() << "gaebgen.py cannot run here";
        workbook::ConversionOptions o;
        o.ExportNotesText = o.SubtotalsSheet = true;
        Bill run{testsupport::convert_in_memory(*bill, o, {true})};
        EXPECT_EQ(run.conv.end, workbook::RunEnd::Completed);
        EXPECT_EQ(run.messages(), std::vector<std::string>{
                                      "Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet."});
        EXPECT_EQ(count_items(run.book()), c.items);
    }
}

TEST(Gaeb90Cli, GeneratedDamageIsLoggedOrRefused) {
    for (const char* mode : {"badrecord", "truncate", "flip"}) {
        SCOPED_TRACE(mode);
        const auto bill = generate({"--items", "200", "--notes", "--corrupt", mode, "--seed", "7"});
        if (!bill) GTEST_SKIP() << "gaebgen.py cannot run here";
        Bill run{testsupport::convert_in_memory(*bill)};
        EXPECT_TRUE(run.conv.end == workbook::RunEnd::Completed || run.conv.end == workbook::RunEnd::Refused);
        if (std::string(mode) == "badrecord") {
            EXPECT_TRUE(run.has_sheet("Fehlerhafte Zeilen"));
            EXPECT_EQ(run.conv.end, workbook::RunEnd::Completed);
        }
    }
}
