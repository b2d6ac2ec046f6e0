// SPDX-License-Identifier: MIT
// The tender of a bid as each reader gives it: ranges, items with their IDs, numbers, quantities
// and kinds, each with the OZ and the row of the workbook the reader made, and whether that
// workbook gives the item a total.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "app/angebot.h"
#include "tests/angebot/angebot_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

struct Case {
    const char* fixture;
    const char* info;
    const char* outline;
};

// "project | name | date | currency | breakdown": R a range level, I the item, X the index.
std::string info_line(const bill::Header& info) {
    std::string bkdn;
    for (const auto& b : info.breakdown)
        bkdn += (bkdn.empty() ? "" : " ") +
                std::string(b.type == bill::BreakdownType::Range  ? "R"
                            : b.type == bill::BreakdownType::Item ? "I"
                                                                  : "X") +
                std::to_string(b.length);
    return info.project_name + " | " + info.name + " | " + info.date + " | " + info.currency + " | " + bkdn;
}

TEST(AngebotTender, EachReaderFillsTheModel) {
    const Case cases[] = {
        // GAEB 90 writes a total for every kind but NEN, the alternative ANN included: the bid
        // sums what the workbook sums.
        {"angebot/positionsarten.d83", "Angebotstest | LV Positionsarten | 2024-06-15 |  | R2 I4",
         "01\n"
         "  0010 01.0010 10.5 m2 F\n"
         "  0020 01.0020 2 St without-total no-F\n"
         "  0030 01.0030 3 St with-total F\n"
         "  0040 01.0040 4 m F\n"
         "  0050 01.0050 4 m alternative F\n"
         "  0060 01.0060 1 psch F\n"},
        {"gaeb90/kalkulation.d83",
         "Neubau Bauhof mit Salzlager | LV 06 Ausbauarbeiten | 2025-04-25 |  | R2 R2 I4 X1",
         "01\n"
         "  01\n"
         "    0010 01.01.0010 12.5 m3 F\n"
         "    0020.A 01.01.0020.A 5 St without-total no-F\n"
         "  02\n"
         "    0010 01.02.0010 100 m2 F\n"},
        // GAEB 2000 writes none for the basic item G, nor for a kind it does not know ("e").
        {"gaeb2000/bereiche_zwei_ebenen.p83", "Testprojekt Schule | LV Rohbau | 2024-02-01 | EUR | R2 R2 I4",
         "01\n"
         "  01\n"
         "    0010 01.01.0010 12.5 m3 F\n"
         "    0020 01.01.0020 2 St without-total no-F\n"
         "  02\n"
         "    0010 01.02.0010 3 m2 with-total F\n"
         "    0020 01.02.0020 4 m2 no-F\n"
         "    0030 01.02.0030 4 m2 alternative no-F\n"
         "    0040 01.02.0040 1 psch no-F\n"
         "02\n"
         "  01\n"
         "    0010 02.01.0010 10 m2 F\n"},
        // DA XML: the bill's data, IDs and numbers as the file gives them.
        {"angebot/ausschreibung.x83", "Halle 7 | LV 01 | 2024-06-15 | EUR | R2 R2 I4 X1",
         "01 [C01]\n"
         "  01 [C0101]\n"
         "    0010 01.01.0010 100 m3 [P1] F\n"
         "    0010.a 01.01.0010.a 12.5 m3 [P2] F\n"
         "    0020 01.01.0020 10 m3 [P3] alternative no-F\n"
         "    0030 01.01.0030 5 h [P4] without-total no-F\n"
         "    0040 01.01.0040 [P5] AllInCat F\n"
         "  02 [C0102]\n"
         "    0010 01.02.0010 h [P6] F\n"
         "    0020 01.02.0020 2 St [P7] with-total F\n"
         "02 [C02]\n"
         "  01 [C0201]\n"
         "    0010 02.01.0010 1.234 t [P8] marked F\n"
         "    0020 02.01.0020 7 m3 [P9] F\n"
         "    0030 02.01.0030 [P10] IdentAsMark F\n"
         "    0040 02.01.0040 [P11] ListInSubQty >P9*2.5 >P1 F\n"},
        {"gaebxml/zuschlaege.x83", "Zuschläge |  |  |  | R2 I4",
         "1 [C1]\n"
         "  10 01.0010 10 m2 [I10] F\n"
         "  20 01.0020 2 St [I20] marked F\n"
         "  30 01.0030 [M30] AllInCat F\n"
         "  40 01.0040 [M40] IdentAsMark F\n"
         "  50 01.0050 [M50] ListInSubQty >I10*4 >I60 >XX F\n"
         "  60 01.0060 3 h [I60] F\n"},
        {"gaebxml/positionsarten.x83", "Arten |  |  |  | R2 I4 X1",
         "1 [A]\n"
         "  10 01.0010 12.5 m2 [I10] F\n"
         "  20.a 01.0020.a 1 St [I20] alternative no-F\n"
         "  30 01.0030 1 St [I30] F\n"
         "  40 01.0040 1 St [I40] alternative no-F\n"
         "  50 01.0050 1 St [I50] with-total F\n"
         "  60 01.0060 1 St [I60] alternative with-total no-F\n"
         "  70 01.0070 1 St [I70] without-total no-F\n"
         "  80 01.0080 1 St [I80] alternative without-total no-F\n"
         "  90 01.0090 1 St [I90] F\n"
         "  100 01.0100 [I100] F\n"
         "  110 01.0110 St [I110] F\n"
         "  120 01.0120 1 St [I120] F\n"
         "  130 01.0130 [M1] AllInCat F\n"
         "  140 01.0140 1 St F\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        const auto tender = angebot_test::read_tender(testsupport::data_dir() / c.fixture);
        ASSERT_EQ(tender->end, workbook::RunEnd::Completed);
        EXPECT_EQ(info_line(tender->model.header), c.info);
        EXPECT_EQ(angebot_test::outline(tender->model), c.outline);
    }
}

// A tender of phase 81 or 83 as the bid reads it and as the workbook shows it: the same items in
// the same order with the same OZ, and an item counts in the bid's sums exactly when its row has a
// total price in column F, though the bid reads the tender with options of its own. Returns
// whether the bill could be read.
bool bid_agrees_with_workbook(const fs::path& path) {
    SCOPED_TRACE(path.filename().string());
    const auto tender = angebot_test::read_tender(path, app::tender_options());
    if (tender->end != workbook::RunEnd::Completed) return false;
    auto converted = testsupport::convert_in_memory(path);
    EXPECT_EQ(converted.end, workbook::RunEnd::Completed);
    if (converted.end != workbook::RunEnd::Completed) return false;
    std::vector<std::pair<std::string, bool>> rows, items;
    const workbook::Sheet& s = *converted.book().find_sheet("Positionsteil");
    for (int32_t r = 8; r <= s.last_row(); ++r)
        if (!s.text(r, 1).empty()) rows.push_back({s.text(r, 1), !s.value(r, 6).is_empty()});
    for (const auto& i : tender->model.items()) items.push_back({i.oz, i.counts_in_total()});
    EXPECT_EQ(items, rows);
    return true;
}

// Of a tender's phase: "d83", "P81", "x83".
bool tender_phase(const fs::path& path) {
    std::string ext = path.extension().string();
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ext.size() == 4 && (ext.substr(2) == "81" || ext.substr(2) == "83");
}

TEST(AngebotTender, FixturesAgreeWithTheirWorkbooks) {
    int read = 0;
    for (const char* folder : {"gaeb90", "gaeb2000", "gaebxml", "angebot"})
        for (const auto& e : fs::directory_iterator(testsupport::data_dir() / folder))
            if (tender_phase(e.path()) && bid_agrees_with_workbook(e.path())) ++read;
    EXPECT_GT(read, 40);
}

TEST(AngebotTender, SamplesAgreeWithTheirWorkbooks) {
    if (!testsupport::have_samples()) GTEST_SKIP() << "no samples";
    int read = 0;
    for (const char* folder : {"gaeb90", "gaeb2000", "xml"})
        for (const auto& e : fs::directory_iterator(testsupport::samples_dir() / folder))
            if (tender_phase(e.path()) && bid_agrees_with_workbook(e.path())) ++read;
    EXPECT_GT(read, 20);
}

}  // namespace
