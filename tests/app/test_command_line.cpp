// SPDX-License-Identifier: MIT
// The console program's command line and output names.
#include <gtest/gtest.h>

#include "app/batch.h"
#include "app/command_line.h"
#include "app/console_frontend.h"
#include "app/options.h"
#include "app/version.h"
#include "tests/support/test_support.h"

using app::parse_command_line;

TEST(CommandLine, OptionsMapToConversionOptions) {
    const app::CommandLine defaults = parse_command_line({"lv.d83"});
    EXPECT_EQ(defaults.error, "");
    EXPECT_EQ(defaults.options, workbook::ConversionOptions{});
    EXPECT_TRUE(defaults.options.LogFaultyLines && defaults.options.RoundPrices &&
                defaults.options.CalcColumns);
    EXPECT_FALSE(defaults.rules_answer.has_value());

    const app::CommandLine all = parse_command_line(
        {"--nur-kurztexte", "--hinweistext", "--ohne-fehlerprotokoll", "--ohne-runden", "--teilsummen",
         "--ohne-kalkulationsspalten", "--regelungen=ja", "lv.d83", "-o", "x.xlsx"});
    EXPECT_EQ(all.error, "");
    workbook::ConversionOptions expected;
    expected.OnlyShortText = expected.ExportNotesText = expected.SubtotalsSheet = true;
    expected.LogFaultyLines = expected.RoundPrices = expected.CalcColumns = false;
    EXPECT_EQ(all.options, expected);
    EXPECT_EQ(all.rules_answer, true);
    EXPECT_EQ(all.input, "lv.d83");
    EXPECT_EQ(all.output, "x.xlsx");
    EXPECT_FALSE(all.overwrite);
    EXPECT_TRUE(parse_command_line({"lv.d83", "-o", "x.xlsx", "--ueberschreiben"}).overwrite);
    EXPECT_EQ(parse_command_line({"-", "-o", "x.xlsx"}).input, "-");
    EXPECT_EQ(parse_command_line({"--regelungen=nein", "--ausgabe=y.xlsx", "a"}).rules_answer, false);
    EXPECT_EQ(parse_command_line({"--ausgabe", "y.xlsx", "a"}).output, "y.xlsx");
    EXPECT_EQ(parse_command_line({"--", "-datei.d83"}).input, "-datei.d83");
}

TEST(CommandLine, UsageErrorsAreToldInGerman) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    for (const Case& c :
         {Case{{}, "Es wurde keine Eingabedatei angegeben."},
          Case{{"--farbe", "a"}, "Unbekannte Option: --farbe"},
          Case{{"--regelungen=vielleicht", "a"},
               "--regelungen erwartet \"ja\" oder \"nein\", nicht \"vielleicht\"."},
          Case{{"a", "-o"}, "-o erwartet einen Dateinamen."},
          Case{{"a", "b", "-o", "x.xlsx"},
               "-o gilt nur für eine einzige Eingabedatei; für mehrere Eingaben "
               "--ausgabeordner angeben."},
          Case{{"--rekursiv", "ordner", "-o", "x.xlsx"},
               "-o gilt nur für eine einzige Eingabedatei; für mehrere Eingaben "
               "--ausgabeordner angeben."},
          Case{{"a", "-o", "x.xlsx", "--ausgabeordner", "aus"},
               "-o und --ausgabeordner schließen einander aus."},
          Case{{"a", "-", "--ausgabeordner", "aus"},
               "Die Standardeingabe (-) geht nur als einzige Eingabe und ohne --rekursiv."},
          Case{{"-j", "0", "a", "b"}, "-j erwartet eine Zahl von 1 bis 256, nicht \"0\"."},
          Case{{"-jx", "a", "b"}, "-j erwartet eine Zahl von 1 bis 256, nicht \"x\"."},
          Case{{"a", "b", "--parallel=257"}, "-j erwartet eine Zahl von 1 bis 256, nicht \"257\"."},
          Case{{"a", "--bericht"}, "--bericht erwartet einen Dateinamen."},
          Case{{"a", "--ausgabeordner="}, "--ausgabeordner erwartet einen Ordner."}}) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(parse_command_line(c.args).error, c.error);
    }
    EXPECT_TRUE(parse_command_line({"--help"}).help);
    EXPECT_EQ(parse_command_line({"--help"}).error, "");
}

TEST(CommandLine, SeveralInputsMakeABatch) {
    const app::CommandLine single = parse_command_line({"lv.d83", "--bericht", "-", "--leise"});
    EXPECT_EQ(single.error, "");
    EXPECT_FALSE(single.batch());
    EXPECT_EQ(single.report, "-");
    EXPECT_TRUE(single.quiet);
    EXPECT_FALSE(single.jobs.has_value());

    const app::CommandLine batch = parse_command_line({"-j3", "a.d83", "--rekursiv", "--bericht=r.json",
                                                       "--ausgabeordner", "aus", "--", "-b.p83", "ordner"});
    EXPECT_EQ(batch.error, "");
    EXPECT_TRUE(batch.batch());
    EXPECT_EQ(batch.inputs, (std::vector<std::filesystem::path>{"a.d83", "-b.p83", "ordner"}));
    EXPECT_EQ(batch.input, "a.d83");
    EXPECT_EQ(batch.jobs, 3);
    EXPECT_EQ(batch.report, "r.json");
    EXPECT_EQ(batch.folder, "aus");
    EXPECT_TRUE(parse_command_line({"--rekursiv", "ordner"}).batch());
    EXPECT_EQ(parse_command_line({"a", "b", "-j", "2"}).jobs, 2);
    EXPECT_EQ(parse_command_line({"a", "b", "--parallel", "4"}).jobs, 4);
    EXPECT_EQ(parse_command_line({"a", "b", "--parallel=256"}).jobs, 256);
}

// Every option of the table is understood in the call it belongs to, under its name, its alias and
// as "--name=value"; a workbook option is refused with --angebot and an option of the bid without
// it, each message naming the option.
TEST(OptionTable, EveryOptionIsUnderstoodWhereItBelongs) {
    for (const app::OptionSpec& o : app::kOptionTable) {
        SCOPED_TRACE(std::string(o.name));
        const std::string value = o.name == "--regelungen" ? "ja" : o.name == "--parallel" ? "2" : "x";
        const bool bid = o.scope == app::OptionScope::Bid || o.name == "--angebot";
        const auto call = [&](std::vector<std::string> words) {
            if (bid && o.name != "--angebot") words.insert(words.begin(), "--angebot");
            if (o.name == "--bieter-anschrift") words.insert(words.begin(), {"--bieter-name", "N"});
            words.insert(words.end(), {"lv.d83", "m.xlsx"});
            if (!bid) words.pop_back();
            return parse_command_line(words);
        };
        std::vector<std::vector<std::string>> spellings;
        for (const std::string_view name : {o.name, o.alias}) {
            if (name.empty()) continue;
            if (o.value.empty())
                spellings.push_back({std::string(name)});
            else
                spellings.push_back({std::string(name), value});
        }
        if (!o.value.empty()) spellings.push_back({std::string(o.name) + "=" + value});
        for (const auto& words : spellings) EXPECT_EQ(call(words).error, "") << words.front();

        std::vector<std::string> misplaced = spellings.front();
        if (o.scope == app::OptionScope::Workbook)
            misplaced.insert(misplaced.end(), {"--angebot", "lv.d83", "m.xlsx"});
        else if (o.scope == app::OptionScope::Bid)
            misplaced.push_back("lv.d83");
        else
            continue;
        const std::string error = parse_command_line(misplaced).error;
        EXPECT_EQ(error.rfind(std::string(o.name) + " gilt nur", 0), 0u) << error;
    }
}

// What a batch hands on to its conversions gives each of them the batch's own options.
TEST(OptionTable, WorkbookSwitchesGiveTheOptionsBack) {
    const auto options = app::workbook_options();
    for (unsigned bits = 0; bits < (1u << options.size()); ++bits) {
        workbook::ConversionOptions wanted;
        for (size_t i = 0; i < options.size(); ++i) wanted.*options[i].field = (bits >> i & 1) != 0;
        std::vector<std::string> words = app::workbook_switches(wanted);
        words.push_back("lv.d83");
        const app::CommandLine cl = parse_command_line(words);
        EXPECT_EQ(cl.error, "");
        EXPECT_EQ(cl.options, wanted) << bits;
    }
}

// A bid takes two files, which are no batch; the bidder's address lines come one per option or
// one per line of a value; a file named like a workbook option after "--" is a file.
TEST(CommandLine, BidTakesTenderAndWorkbook) {
    const app::CommandLine bid =
        parse_command_line({"--angebot", "lv.d83", "--bieter-name=Musterbau GmbH", "--bieter-anschrift",
                            "Werk 2", "--bieter-anschrift", "Baustraße 1\r\n12345 Musterstadt\n",
                            "--unvollstaendig", "--", "--teilsummen"});
    EXPECT_EQ(bid.error, "");
    EXPECT_TRUE(bid.bid);
    EXPECT_FALSE(bid.batch());
    EXPECT_TRUE(bid.incomplete);
    EXPECT_EQ(bid.inputs, (std::vector<std::filesystem::path>{"lv.d83", "--teilsummen"}));
    EXPECT_EQ(bid.bidder_name, "Musterbau GmbH");
    EXPECT_EQ(bid.bidder_address, (std::vector<std::string>{"Werk 2", "Baustraße 1", "12345 Musterstadt"}));
    EXPECT_EQ(bid.options, workbook::ConversionOptions{});
}

TEST(CommandLine, DerivedOutputNeverOverwrites) {
    const auto dir = testsupport::fresh_dir();
    EXPECT_EQ(app::derived_output(dir / "lv.d83"), dir / "lv.xlsx");
    testsupport::write_file(dir / "lv.xlsx", "x");
    testsupport::write_file(dir / "lv (2).xlsx", "x");
    EXPECT_EQ(app::derived_output(dir / "lv.d83"), dir / "lv (3).xlsx");
    // An input that is itself an .xlsx is never the output.
    EXPECT_EQ(app::derived_output(dir / "lv.xlsx"), dir / "lv (3).xlsx");
    // In another folder under the input's name.
    EXPECT_EQ(app::derived_output("anderswo/lv.d83", dir), dir / "lv (3).xlsx");
    EXPECT_EQ(app::derived_output("anderswo/neu.p83", dir), dir / "neu.xlsx");
}

TEST(CommandLine, FolderSearchTakesTheExtensionsTheReadersRead) {
    for (const char* name : {"a.d81", "a.D84", "a.p81", "A.P83", "a.p84", "a.x80", "a.X84", "a.off", "a.OFF"})
        EXPECT_TRUE(app::gaeb_file_name(name)) << name;
    for (const char* name : {"a.d85", "a.p82", "a.x85", "a.xlsx", "a.json", "d83", "a.d83.bak"})
        EXPECT_FALSE(app::gaeb_file_name(name)) << name;
}

TEST(ConsoleFrontend, CarriageReturnsAndLineFeedsBreakLines) {
    EXPECT_EQ(app::ConsoleFrontend::console_text("a\rb\nc\r\nd"), "a\nb\nc\nd");
}

TEST(Cli, HelpVersionAndUsageExitStatus) {
    auto help = testsupport::run_cli({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("Aufruf: bremora-cli [OPTIONEN] EINGABEDATEI [-o AUSGABE.xlsx]"),
              std::string::npos);
    EXPECT_NE(help.out.find("--ohne-kalkulationsspalten"), std::string::npos);
    EXPECT_NE(help.out.find("--ueberschreiben"), std::string::npos);
    EXPECT_NE(help.out.find("  4  Konvertierung abgeschlossen, Arbeitsmappe nicht geschrieben"),
              std::string::npos);
    const auto version = testsupport::run_cli({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, std::string("bremora-cli ") + app::kVersion + "\n");
    auto bad = testsupport::run_cli({"--unsinn", "x.d83"});
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_NE(bad.err.find("Unbekannte Option: --unsinn"), std::string::npos);
}

TEST(Cli, RefusedInputWritesNothing) {
    const auto dir = testsupport::fresh_dir();
    struct Case {
        const char* name;
        std::string content;
        const char* message;
    };
    for (const Case& c :
         {Case{"leer.d83", "", "ist leer (0 Bytes)"},
          Case{"binaer.d83", std::string("\x00\x01\xff\xfe\x80", 5), "ist keine GAEB-Datei"},
          Case{"phase85.d83", "00        85\r\n", "Die Austauschphase 85wird nicht unterstützt!"}}) {
        SCOPED_TRACE(c.name);
        testsupport::write_file(dir / c.name, c.content);
        auto run = testsupport::run_cli({(dir / c.name).string()});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        std::filesystem::path out = dir / c.name;
        EXPECT_FALSE(std::filesystem::exists(out.replace_extension(".xlsx")));
    }
    auto missing = testsupport::run_cli({(dir / "fehlt.d83").string()});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("fehlt.d83 kann nicht geöffnet werden!"), std::string::npos) << missing.err;
}
