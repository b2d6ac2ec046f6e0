// SPDX-License-Identifier: MIT
// Generated bills of all three formats through the controller: well-formed ones convert every
// item, damaged ones end the run with a clear end and never crash. And the generator itself
// (bremora-lvgen): the same seed gives the same bytes, the totals it states are the workbook's,
// and what its options ask for reaches the workbook.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "bench/lvgen/lvgen.h"
#include "tests/support/test_support.h"

namespace {

using workbook::RunEnd;

workbook::ConversionOptions notes_and_subtotals() {
    workbook::ConversionOptions o;
    o.ExportNotesText = true;
    o.SubtotalsSheet = true;
    return o;
}

TEST(GeneratedBills, EveryItemIsWritten) {
    struct Case {
        std::string format, args;
        int32_t items;
    };
    const std::vector<Case> cases = {
        {"90", "--items 120 --notes --subdescr --rules --index", 120},
        {"90", "--items 60 --levels 4 --phase 81 --pad blank --ragged", 60},
        {"90", "--items 60 --levels 0 --phase 82 --long-lines 0", 60},
        {"90", "--items 60 --levels 3 --phase 84 --notes --index", 60},
        {"2000", "--items 300 --notes --subdescr", 300},
        {"2000", "--items 300 --levels 3 --encoding utf-8-sig", 300},
        {"2000", "--items 200 --levels 0", 200},
        {"2000", "--items 200 --levels 4 --phase 84", 200},
        {"2000", "--items 200 --price-comma --phase 81", 200},
        {"xml", "--items 300 --notes --subdescr", 300},
        {"xml", "--items 300 --levels 3 --encoding utf-8-sig", 300},
        {"xml", "--items 200 --levels 0 --long-lines 0", 200},
        {"xml", "--items 200 --levels 6 --phase 84", 200},
        {"xml", "--items 200 --levels 1 --phase 80 --no-prices", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format + " " + c.args);
        const auto bill = testsupport::generate_bill(c.format, c.args);
        ASSERT_TRUE(bill);
        // The answer "yes" exports the contractual rules of a GAEB 90 bill.
        auto run = testsupport::convert_in_memory(*bill, notes_and_subtotals(), {true});
        EXPECT_EQ(run.end, RunEnd::Completed);
        ASSERT_EQ(run.ui->messages.size(), 1u) << run.ui->messages.front();
        EXPECT_EQ(run.ui->messages.front().rfind("Konvertierung abgeschlossen.", 0), 0u);
        EXPECT_EQ(testsupport::count_items(run.book()), c.items);
    }
}

TEST(GeneratedBills, DamageEndsTheRunAndNeverCrashes) {
    struct Case {
        std::string format, mode;
        std::vector<RunEnd> ends;          // the ends the damage may give; empty: any end
        std::optional<std::string> sheet;  // a sheet the damage must leave
    };
    const std::vector<Case> cases = {
        {"90", "badrecord", {RunEnd::Completed}, "Fehlerhafte Zeilen"},
        // A bill that ends before its closing record never ends as complete.
        {"90", "truncate", {RunEnd::Aborted, RunEnd::Refused}, std::nullopt},
        {"90", "flip", {RunEnd::Completed, RunEnd::Refused}, std::nullopt},
        {"2000", "noend", {}, std::nullopt},
        {"2000", "truncate", {RunEnd::Aborted, RunEnd::Refused}, std::nullopt},
        {"2000", "flip", {}, std::nullopt},
        {"2000", "phase", {RunEnd::Refused}, std::nullopt},
        {"xml", "unbalanced", {RunEnd::Refused}, std::nullopt},
        {"xml", "truncate", {RunEnd::Refused}, std::nullopt},
        {"xml", "flip", {}, std::nullopt},
        {"xml", "phase", {RunEnd::Refused}, std::nullopt},
    };
    for (const Case& c : cases) {
        for (int seed = 1; seed <= 4; ++seed) {
            SCOPED_TRACE(c.format + " " + c.mode + " " + std::to_string(seed));
            const auto bill =
                testsupport::generate_bill(c.format, "--items 150 --notes --subdescr --corrupt " + c.mode +
                                                         " --seed " + std::to_string(seed));
            ASSERT_TRUE(bill);
            auto run = testsupport::convert_in_memory(*bill);
            EXPECT_NE(run.end, RunEnd::Running);
            if (!c.ends.empty()) {
                EXPECT_NE(std::find(c.ends.begin(), c.ends.end(), run.end), c.ends.end())
                    << static_cast<int>(run.end);
            }
            if (c.sheet) {
                EXPECT_NE(run.book().find_sheet(*c.sheet), nullptr);
            }
        }
    }
}

lvgen::Options options(lvgen::Format format, const std::string& args) {
    std::string error;
    const auto o = lvgen::parse_arguments(format, args, error);
    EXPECT_TRUE(o) << args << ": " << error;
    return o.value_or(lvgen::Options{});
}

TEST(BillGenerator, TheSeedDecidesTheBytes) {
    for (const lvgen::Format f : {lvgen::Format::Gaeb90, lvgen::Format::Gaeb2000, lvgen::Format::Xml}) {
        SCOPED_TRACE(static_cast<int>(f));
        const std::string args = "--items 200 --levels 3 --notes --subdescr";
        const std::string bill = lvgen::make_bill(options(f, args + " --seed 4"));
        EXPECT_EQ(bill, lvgen::make_bill(options(f, args + " --seed 4")));
        EXPECT_NE(bill, lvgen::make_bill(options(f, args + " --seed 5")));
    }
}

// The bill's total as the generator counts it is the sum of the workbook's item totals (the
// report's "gesamtsumme"), in phase 83 from the formulas, in phase 84 from the file's totals;
// GAEB DA XML of phase 84 states the same total itself.
TEST(BillGenerator, TotalsAreTheWorkbooks) {
    struct Case {
        lvgen::Format format;
        std::string name, args;
    };
    const std::vector<Case> cases = {
        {lvgen::Format::Gaeb90, "90", "--items 300 --phase 83 --subdescr"},
        {lvgen::Format::Gaeb90, "90", "--items 300 --phase 84 --pad blank"},
        {lvgen::Format::Gaeb2000, "2000", "--items 300 --phase 83"},
        {lvgen::Format::Gaeb2000, "2000", "--items 300 --phase 84 --price-comma"},
        {lvgen::Format::Xml, "xml", "--items 300 --phase 83 --levels 4"},
        {lvgen::Format::Xml, "xml", "--items 300 --phase 84 --levels 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " " + c.args);
        const auto bill = testsupport::generate_bill(c.name, c.args);
        ASSERT_TRUE(bill);
        lvgen::Summary summary;
        lvgen::make_bill(options(c.format, c.args), &summary);
        const auto run = testsupport::run_cli(
            {bill->string(), "-o", (bill->parent_path() / "lv.xlsx").string(), "--bericht", "-"});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const auto file = nlohmann::json::parse(run.out)["dateien"][0];
        EXPECT_EQ(file["positionen"], 300);
        EXPECT_NEAR(file["gesamtsumme"].get<double>(), static_cast<double>(summary.total_cents) / 100, 0.005);
        if (c.format == lvgen::Format::Xml && c.args.find("--phase 84") != std::string::npos) {
            EXPECT_NEAR(file["angegebene_gesamtsumme"].get<double>(),
                        static_cast<double>(summary.total_cents) / 100, 0.005);
        }
    }
}

// Notes, sub-descriptions, indices, rules and umlauts in every code page reach the workbook.
TEST(BillGenerator, WhatTheOptionsAskForReachesTheWorkbook) {
    struct Case {
        std::string format, args;
        std::vector<std::string> words;  // each somewhere in the dump of the workbook
    };
    const std::vector<Case> cases = {
        {"90",
         "--items 150 --notes --rules --index --subdescr",
         {"Hinweistext!A1\t", "Regelungen!A1\tt\tEs gelten die VOB/B", ".A\t",
          "Unterposition 01, Menge: ", "Unterbeschreibung 01:", "für"}},
        {"2000", "--items 150 --notes --subdescr", {"Hinweistext!A1\t", "Unterposition: 01", "für"}},
        {"2000", "--items 150 --encoding utf-8-sig", {"für"}},
        {"xml",
         "--items 150 --notes --subdescr --index",
         {"Hinweistext!A1\t", "Unterbeschreibung:", ".B\t", "für"}},
        {"xml", "--items 150 --encoding utf-8-sig", {"für"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format + " " + c.args);
        const auto bill = testsupport::generate_bill(c.format, c.args);
        ASSERT_TRUE(bill);
        auto run = testsupport::convert_in_memory(*bill, notes_and_subtotals(), {true});
        ASSERT_EQ(run.end, RunEnd::Completed);
        EXPECT_EQ(run.ui->messages.size(), 1u) << run.ui->messages.front();
        const std::string dump = testsupport::dump_workbook(run.book());
        for (const std::string& word : c.words) EXPECT_NE(dump.find(word), std::string::npos) << word;
    }
}

TEST(BillGenerator, RefusesWhatMakesNoBill) {
    const std::vector<std::pair<lvgen::Format, std::string>> cases = {
        {lvgen::Format::Xml, ""},  // no --items
        {lvgen::Format::Xml, "--items 0"},
        {lvgen::Format::Gaeb90, "--items 10 --levels 5"},
        {lvgen::Format::Gaeb2000, "--items 10 --phase 82"},
        {lvgen::Format::Xml, "--items 10 --phase 84 --no-prices"},
        {lvgen::Format::Xml, "--items 10 --rules"},
        {lvgen::Format::Gaeb90, "--items 10 --corrupt noend"},
        {lvgen::Format::Gaeb90, "--items 10 --encoding utf-8"},
        {lvgen::Format::Gaeb90, "--items 10 --levels 0 --per-group 1 --items 100000000"},
        {lvgen::Format::Xml, "--items 10 --seitenzahl 3"},
    };
    for (const auto& [format, args] : cases) {
        SCOPED_TRACE(args);
        std::string error;
        EXPECT_FALSE(lvgen::parse_arguments(format, args, error));
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
