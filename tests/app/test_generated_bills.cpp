// SPDX-License-Identifier: MIT
// Generated bills of all three formats through the controller: well-formed ones convert every
// item, damaged ones end the run with a clear end and never crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

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
        if (!bill) GTEST_SKIP() << "gaebgen.py cannot run here";
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
            if (!bill) GTEST_SKIP() << "gaebgen.py cannot run here";
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

}  // namespace
