// SPDX-License-Identifier: MIT
// The bid file: its structure against the checks of phase 84 and the element order of the sample
// bids, its numbers, the bidder, safe writing, and our own DA XML reader reading it back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>

#include "angebot/pricing.h"
#include "angebot/x84_writer.h"
#include "tests/angebot/angebot_support.h"
#include "tests/angebot/x84_structure.h"
#include "tests/support/test_support.h"
#include "workbook/numbers.h"

namespace {

namespace fs = std::filesystem;
using angebot_test::number;

angebot::X84Options fixed_options() {
    angebot::X84Options o;
    o.date = "2024-07-01";
    o.time = "10:30:00";
    o.bidder.name = "Musterbau GmbH";
    o.bidder.address = {"Baustraße 1", "12345 Musterstadt"};
    return o;
}

// The sample bill priced; `unpriced` items get no price.
bill::Bill priced_bill(std::vector<size_t> unpriced = {}) {
    bill::Bill bill = angebot_test::sample_bill();
    const auto prices = angebot_test::sample_prices();
    std::vector<std::pair<std::string, angebot::CellContent>> rows;
    for (size_t i = 0; i < bill.items().size(); ++i) {
        const bool skip = std::find(unpriced.begin(), unpriced.end(), i) != unpriced.end();
        rows.push_back({bill.items()[i].oz, skip ? angebot::CellContent{} : number(*prices[i])});
    }
    angebot::price(bill, angebot_test::priced(rows));
    return bill;
}

std::string faults_text(const std::vector<std::string>& faults) {
    std::string out;
    for (const auto& f : faults) out += f + "\n";
    return out;
}

TEST(AngebotX84, PassesTheStructuralChecks) {
    const std::string xml = angebot::x84_text(priced_bill(), fixed_options());
    EXPECT_EQ(faults_text(angebot_test::x84_structure_faults(xml)), "") << xml;
    // An incomplete bid (written on request) and one without bidder pass as well.
    angebot::X84Options anonymous = fixed_options();
    anonymous.bidder = {};
    const std::string incomplete = angebot::x84_text(priced_bill({0, 4}), anonymous);
    EXPECT_EQ(faults_text(angebot_test::x84_structure_faults(incomplete)), "") << incomplete;
    EXPECT_EQ(incomplete.find("<CTR>"), std::string::npos);
}

TEST(AngebotX84, ElementOrderOfTheSampleBids) {
    const auto files = angebot_test::sample_x84_files();
    if (files.empty()) GTEST_SKIP() << "no sample bills of phase 84";
    const auto order = angebot_test::element_order(files);
    const std::string xml = angebot::x84_text(priced_bill(), fixed_options());
    EXPECT_EQ(faults_text(angebot_test::order_faults(order, xml)), "");
    // The sample bids themselves pass the structural checks where they use our elements only:
    // the check is no stricter than the standard's own test file.
    for (const auto& f : files) {
        if (f.filename().string().rfind("gpar__", 0) != 0) continue;
        std::string bid = testsupport::read_file(f);
        bid.erase(bid.find("<!--"), bid.find("-->") + 3 - bid.find("<!--"));
        std::vector<std::string> faults;
        for (const auto& fault : angebot_test::x84_structure_faults(bid))
            if (fault.find("not expected") == std::string::npos &&
                fault.find("missing") == std::string::npos &&
                fault.find("empty element") == std::string::npos)
                faults.push_back(fault);
        EXPECT_EQ(faults_text(faults), "") << f;
    }
}

TEST(AngebotX84, ItemsPricesAndTotals) {
    const std::string xml = angebot::x84_text(priced_bill(), fixed_options());
    const char* expected[] = {
        "<GAEB xmlns=\"http://www.gaeb.de/GAEB_DA_XML/DA84/3.3\">",
        "<ProgName>Bremora ",
        "<DP>84</DP>",
        "<Cur>EUR</Cur>",
        "<Name1>Musterbau GmbH</Name1>",
        "<Street>Baustraße 1</Street>",
        "<PCode>12345</PCode>",
        "<City>Musterstadt</City>",
        "<BoQ ID=\"B1\">",
        "<Name>LV 01</Name>",
        "<Date>2024-06-15</Date>",
        "<Type>Index</Type>",
        "<BoQCtgy ID=\"C01\" RNoPart=\"01\">",
        "<Item ID=\"I0110\" RNoPart=\"0010\">",
        "<Qty>100.000</Qty>",
        "<QU>m3</QU>",
        "<UP>12.50</UP>",
        "<IT>1250.00</IT>",
        "RNoPart=\"0020\" RNoIndex=\"a\">",
        "<UP>3.125</UP>",
        "<IT>9.38</IT>",
        "<UP>1234.567</UP>",
        "<Qty>1.234</Qty>",
        "<IT>1523.46</IT>",
        "<QU>m&lt;3&gt;&amp;\"'</QU>",
        "<Total>2090.01</Total>",
        "<Total>3620.40</Total>",
    };
    for (const char* e : expected) EXPECT_NE(xml.find(e), std::string::npos) << e << "\n" << xml;
    // The alternative and the contingency without total: unit price, no total.
    for (const char* oz_part : {"<UP>80.00</UP>", "<UP>55.55</UP>"}) {
        const size_t at = xml.find(oz_part);
        ASSERT_NE(at, std::string::npos) << oz_part;
        EXPECT_LT(xml.find("</Item>", at), xml.find("<IT>", at)) << oz_part;
    }
    EXPECT_EQ(xml.find("LblTx"), std::string::npos);  // no texts in a bid
    // Equal input, equal file.
    EXPECT_EQ(xml, angebot::x84_text(priced_bill(), fixed_options()));
}

TEST(AngebotX84, BidderAddress) {
    struct Case {
        angebot::Bidder bidder;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{"Bau & Söhne", {"Postfach 12", "D-54321 Neustadt an der Weinstraße"}},
         {"<Name1>Bau &amp; Söhne</Name1>", "<Street>Postfach 12</Street>", "<PCode>D-54321</PCode>",
          "<City>Neustadt an der Weinstraße</City>"}},
        {{"Hoch- und Tiefbau Gesellschaft mit beschränkter Haftung Niederlassung Süd",
          {"Abteilung Kalkulation", "Am Hafen 3", "Hamburg"}},
         {"<Name1>Hoch- und Tiefbau Gesellschaft mit</Name1>",
          "<Name2>beschränkter Haftung Niederlassung Süd</Name2>", "<Name3>Abteilung Kalkulation</Name3>",
          "<Street>Am Hafen 3</Street>", "<City>Hamburg</City>"}},
        {{"  Zeilen\r\numbruch\x01 ", {}}, {"<Name1>Zeilen umbruch</Name1>"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bidder.name);
        angebot::X84Options o = fixed_options();
        o.bidder = c.bidder;
        const std::string xml = angebot::x84_text(priced_bill(), o);
        for (const auto& e : c.expected) EXPECT_NE(xml.find(e), std::string::npos) << e << "\n" << xml;
        EXPECT_EQ(faults_text(angebot_test::x84_structure_faults(xml)), "");
    }
}

TEST(AngebotX84, Numbers) {
    const std::tuple<double, int, int, const char*> decimals[] = {
        {12.5, 2, 3, "12.50"},     {14.921, 2, 3, "14.921"},       {5, 2, 3, "5.00"},
        {0.1 + 0.2, 2, 3, "0.30"}, {-0.0, 2, 3, "0.00"},           {100, 3, 15, "100.000"},
        {1.2345, 3, 15, "1.2345"}, {1e10, 2, 3, "10000000000.00"}, {-7.125, 2, 3, "-7.125"},
    };
    for (const auto& [value, min, max, text] : decimals)
        EXPECT_EQ(angebot::decimal_text(value, min, max), text);
    EXPECT_EQ(angebot::cents_text(125000), "1250.00");
    EXPECT_EQ(angebot::cents_text(5), "0.05");
    EXPECT_EQ(angebot::cents_text(-1), "-0.01");
    EXPECT_EQ(angebot::cents_text(0), "0.00");
}

// A tender that gave no breakdown gets one made from its longest parts; IDs it lacks are made
// unique beside the ones it has; numbers it lacks come from the OZ or the range's place; a date
// or time that is none gives the current one.
TEST(AngebotX84, WhatTheTenderLacksIsMade) {
    bill::Bill bill = priced_bill();
    bill.header.breakdown.clear();
    bill.header.boq_id = "C1";
    bill.ranges()[bill.root().children[1].index].rno_part.clear();
    bill.items()[7].rno_part.clear();
    angebot::X84Options options = fixed_options();
    options.date = "32.13.2024";
    options.time = "25:00";
    const std::string xml = angebot::x84_text(bill, options);
    EXPECT_EQ(faults_text(angebot_test::x84_structure_faults(xml)), "") << xml;
    EXPECT_NE(xml.find("<BoQ ID=\"C1\">"), std::string::npos);
    EXPECT_NE(xml.find("<Type>Index</Type>"), std::string::npos);
    EXPECT_NE(xml.find("RNoPart=\"2\">"), std::string::npos);  // the second top range
    EXPECT_NE(xml.find("RNoPart=\"0020\">\n                    <Qty>7.000"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("32.13.2024"), std::string::npos);

    bill::Bill empty;
    EXPECT_THROW(angebot::x84_text(empty), angebot::AngebotError);
}

TEST(AngebotX84, WritesSafelyAndNeverOverwrites) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path tender = dir / "LV Halle.x83";
    testsupport::write_file(tender, "tender");
    const fs::path target = angebot::default_bid_path(tender);
    EXPECT_EQ(target, dir / "LV Halle.x84");
    const bill::Bill bill = priced_bill();
    angebot::write_x84(bill, target, fixed_options());
    const std::string written = testsupport::read_file(target);
    EXPECT_EQ(written, angebot::x84_text(bill, fixed_options()));
    EXPECT_EQ(angebot::default_bid_path(tender), dir / "LV Halle (2).x84");

    testsupport::write_file(target, "mine");
    try {
        angebot::write_x84(bill, target, fixed_options());
        ADD_FAILURE() << "an existing file was replaced";
    } catch (const angebot::AngebotError& e) {
        EXPECT_NE(std::string(e.what()).find("gibt es schon"), std::string::npos) << e.what();
    }
    EXPECT_EQ(testsupport::read_file(target), "mine");
    angebot::write_x84(bill, target, fixed_options(), true);
    EXPECT_EQ(testsupport::read_file(target), written);

    EXPECT_THROW(angebot::write_x84(bill, dir / "fehlt" / "a.x84", fixed_options()), angebot::AngebotError);
    if (::geteuid() != 0) {
        const fs::path locked = dir / "gesperrt";
        fs::create_directory(locked);
        ::chmod(locked.c_str(), 0500);
        EXPECT_THROW(angebot::write_x84(bill, locked / "a.x84", fixed_options()), angebot::AngebotError);
        ::chmod(locked.c_str(), 0700);
    }
    // Nothing but the tender and the two bids: no temporary file left behind.
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir)) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 2u);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0044, 0u) << "the bid is readable by others as any new file";
}

// Our own DA XML reader reads the bid back: every item's unit price and total, and the sum.
TEST(AngebotX84, ReadBackByOurDaXmlReader) {
    const fs::path dir = testsupport::fresh_dir();
    const bill::Bill bill = priced_bill();
    angebot::write_x84(bill, dir / "angebot.x84", fixed_options());
    workbook::ConversionOptions options;
    options.CalcColumns = false;
    auto converted = testsupport::convert_in_memory(dir / "angebot.x84", options);
    ASSERT_EQ(converted.end, workbook::RunEnd::Completed) << testsupport::dump_workbook(converted.book());
    const workbook::Sheet& sheet = converted.book().sheet(1);
    std::map<std::string, std::pair<workbook::CellValue, workbook::CellValue>> rows;
    for (int32_t r = 8; r <= sheet.last_row(); ++r) {
        const std::string oz = sheet.text(r, 1);
        if (!oz.empty()) rows[oz] = {sheet.value(r, 5), sheet.value(r, 6)};
    }
    ASSERT_EQ(rows.size(), bill.items().size()) << testsupport::dump_sheet(sheet);
    int64_t sum = 0;
    for (const auto& item : bill.items()) {
        SCOPED_TRACE(item.oz);
        const auto it = rows.find(item.oz);
        ASSERT_NE(it, rows.end());
        EXPECT_EQ(it->second.first.kind, workbook::CellKind::Number);
        EXPECT_DOUBLE_EQ(it->second.first.number, *item.unit_price);
        if (item.counts_in_total()) {
            ASSERT_EQ(it->second.second.kind, workbook::CellKind::Number);
            EXPECT_DOUBLE_EQ(it->second.second.number, static_cast<double>(*item.total_cents) / 100);
            sum += std::llround(it->second.second.number * 100);
        } else {
            EXPECT_TRUE(it->second.second.is_empty());
        }
    }
    EXPECT_EQ(sum, bill.total_cents());
}

}  // namespace
