// SPDX-License-Identifier: MIT
// Bid files (phase 84) made from the real bills and written by the generator: every item of the
// bill appears once, with its short text, and the grand total is the sum of the items' totals.
// The same item reads alike in GAEB 90 and GAEB DA XML.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "tests/support/test_support.h"
#include "workbook/formula.h"
#include "workbook/numbers.h"
#include "workbook/text.h"

namespace {

using Lines = std::vector<std::string>;

// One record: its text without the line end, and the line end it had (CR LF or LF).
struct Line {
    std::string text, end;
};

std::vector<Line> split_lines(const std::string& bytes) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t nl = bytes.find('\n', start);
        if (nl == std::string::npos) nl = bytes.size();
        Line line{bytes.substr(start, nl - start), nl < bytes.size() ? "\n" : ""};
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.end = "\r" + line.end;
        }
        lines.push_back(std::move(line));
        start = nl + 1;
    }
    return lines;
}

// Columns first..last (1-based) of a record, blank where the line is shorter.
std::string columns(const std::string& line, size_t first, size_t last) {
    std::string field = first <= line.size() ? line.substr(first - 1, last - first + 1) : "";
    field.resize(last - first + 1, ' ');
    return field;
}

std::string type_of(const std::string& line) {
    return line.substr(0, 2);
}

// A field of digits, blank when the bill leaves it blank.
int64_t number(const std::string& field) {
    const std::string_view digits = workbook::trim_ctl(field);
    return digits.empty() ? 0 : std::stoll(std::string(digits));
}

// A number field of zero-padded digits.
std::string digits(int64_t value, size_t width) {
    std::string s = std::to_string(value);
    return std::string(width - std::min(width, s.size()), '0') + s;
}

// What the source bill holds: per item its first short-text line, as a cell shows it, and the
// sum of the totals of its price records in cents.
struct Source {
    Lines short_texts;
    int64_t total_cents = 0;
    bool has_groups = false;
};

Source read_source(const std::string& bytes) {
    Source src;
    bool want_short_text = false;
    for (const Line& line : split_lines(bytes)) {
        const std::string type = type_of(line.text);
        if (type == "21") {
            src.short_texts.emplace_back();
            want_short_text = true;
        } else if (type == "25" && want_short_text) {
            const std::string text = workbook::cp850_to_utf8(columns(line.text, 3, 72));
            src.short_texts.back() = std::string(workbook::trim_right_ctl(text));
            want_short_text = false;
        } else if (type == "23") {
            const std::string whole = columns(line.text, 25, 34), cents = columns(line.text, 35, 36);
            if (whole.find_first_not_of(' ') != std::string::npos) {
                const int64_t value = number(whole) * 100 + number(cents);
                src.total_cents += columns(line.text, 24, 24) == "-" ? -value : value;
            }
        } else if (type == "31") {
            src.has_groups = true;
        }
    }
    return src;
}

// A bill of phase 81 or 83 made into a bid of phase 84: the phase in columns 11-12 of record 00,
// and after each item record a price record with the item's OZ. Every fifth item from the second
// on has no price record, from the third on a price record without prices, from the fourth on
// prices of 0; the others a unit price and the total of quantity and unit price.
std::string to_bid(const std::string& bill) {
    std::string bid;
    int item = 0;
    for (const Line& line : split_lines(bill)) {
        std::string text = line.text;
        if (type_of(text) == "00") text = columns(text, 1, 80).replace(10, 2, "84");
        bid += text + line.end;
        if (type_of(text) != "21") continue;
        const int kind = item % 5;
        const int64_t unit_cents = kind == 3 ? 0 : 1000 + 125 * item;
        ++item;
        if (kind == 1) continue;
        std::string prices = "23" + columns(text, 3, 11);
        if (kind != 2) {
            const std::string whole = columns(text, 24, 31), thousandths = columns(text, 32, 34);
            const int64_t quantity = number(whole) * 1000 + number(thousandths);
            const int64_t total_cents = (quantity * unit_cents + 500) / 1000;
            prices += digits(unit_cents / 100, 9) + digits(unit_cents % 100 * 10, 3) + " " +
                      digits(total_cents / 100, 10) + digits(total_cents % 100, 2);
        }
        prices.resize(80, ' ');
        bid += prices + line.end;
    }
    return bid;
}

// The item rows of Positionsteil: rows from 8 on with an OZ in column A.
std::vector<int32_t> item_row_numbers(const workbook::Workbook& book) {
    const workbook::Sheet& s = *book.find_sheet("Positionsteil");
    std::vector<int32_t> rows;
    for (int32_t row = 8; row <= s.last_row(); ++row)
        if (!s.text(row, 1).empty()) rows.push_back(row);
    return rows;
}

Lines item_oz(const workbook::Workbook& book) {
    Lines oz;
    for (int32_t row : item_row_numbers(book))
        oz.push_back(std::string(book.find_sheet("Positionsteil")->text(row, 1)));
    return oz;
}

workbook::ConversionOptions with_subtotals() {
    workbook::ConversionOptions o;
    o.SubtotalsSheet = true;
    return o;
}

// Every item of `source` once, in its order, with its OZ as the bill of phase 83 gives it and its
// short text in the row below; the grand total the sum of the item rows' totals and of the
// source's totals; no quantity that divides by a unit price of 0.
// A bill without its closing record 99 (two of the samples) is converted whole all the same, but
// the run does not end as complete.
workbook::RunEnd end_of(const std::string& bill) {
    for (const Line& line : split_lines(bill))
        if (type_of(line.text) == "99") return workbook::RunEnd::Completed;
    return workbook::RunEnd::Aborted;
}

void expect_whole_bid(const std::string& bid, const Lines& oz_of_phase_83) {
    const Source src = read_source(bid);
    const auto path = testsupport::fresh_dir() / "lv.d84";
    testsupport::write_file(path, bid);
    auto run = testsupport::convert_in_memory(path, with_subtotals());
    ASSERT_EQ(run.end, end_of(bid));
    const workbook::Workbook& book = run.book();
    const workbook::Sheet& positions = *book.find_sheet("Positionsteil");

    const Lines oz = item_oz(book);
    EXPECT_EQ(oz, oz_of_phase_83);
    EXPECT_EQ(std::set<std::string>(oz.begin(), oz.end()).size(), oz.size());
    const std::vector<int32_t> rows = item_row_numbers(book);
    ASSERT_EQ(rows.size(), src.short_texts.size());

    workbook::FormulaEvaluator eval(book);
    double items_total = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(oz[i]);
        if (!src.short_texts[i].empty()) {
            EXPECT_EQ(positions.text(rows[i] + 1, 2), src.short_texts[i]);
        }
        const workbook::FormulaResult quantity = eval.evaluate(positions, rows[i], 3);
        EXPECT_FALSE(quantity.is_error) << quantity.error;
        items_total += eval.evaluate(positions, rows[i], 6).value;
    }
    EXPECT_NEAR(items_total, static_cast<double>(src.total_cents) / 100, 0.005);

    const workbook::Sheet* subtotals = book.find_sheet("Teilsummen");
    ASSERT_EQ(subtotals != nullptr, src.has_groups);
    if (subtotals == nullptr) return;
    int32_t total_row = 0;
    for (int32_t row = 2; row <= subtotals->last_row(); ++row)
        if (subtotals->text(row, 1) == "Gesamt") total_row = row;
    ASSERT_GT(total_row, 0);
    const workbook::FormulaResult grand_total = eval.evaluate(*subtotals, total_row, 2);
    ASSERT_FALSE(grand_total.is_error) << grand_total.error;
    EXPECT_NEAR(grand_total.value, items_total, 0.005);
}

Lines oz_of(const std::filesystem::path& bill) {
    auto run = testsupport::convert_in_memory(bill);
    const bool gaeb90 = workbook::to_upper_ascii(bill.extension().string()).starts_with(".D");
    EXPECT_EQ(run.end, gaeb90 ? end_of(testsupport::read_file(bill)) : workbook::RunEnd::Completed);
    return item_oz(run.book());
}

}  // namespace

TEST(Gaeb90BidBills, RealBillsMadeIntoBidsKeepEveryItemTextAndTotal) {
    if (!testsupport::have_samples()) GTEST_SKIP() << "no sample folder " << testsupport::samples_dir();
    int bills = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testsupport::samples_dir() / "gaeb90")) {
        SCOPED_TRACE(entry.path().filename().string());
        const std::string bill = testsupport::read_file(entry.path());
        const std::string bid = to_bid(bill);
        ASSERT_NE(bid, bill);
        expect_whole_bid(bid, oz_of(entry.path()));
        ++bills;
    }
    EXPECT_GT(bills, 0);
}

TEST(Gaeb90BidBills, GeneratedBidsKeepEveryItemTextAndTotal) {
    const Lines cases = {
        "--items 40 --levels 1 --seed 1",
        "--items 150 --levels 2 --seed 2 --subdescr",
        "--items 300 --levels 3 --seed 3 --per-group 7",
        "--items 90 --levels 4 --seed 4 --index --pad blank --ragged",
        "--items 120 --levels 0 --seed 5",
    };
    for (const std::string& args : cases) {
        SCOPED_TRACE(args);
        const auto bid = testsupport::generate_bill("90", args + " --notes --phase 84");
        const auto calculation = testsupport::generate_bill("90", args + " --notes --phase 83");
        ASSERT_TRUE(bid && calculation);
        expect_whole_bid(testsupport::read_file(*bid), oz_of(*calculation));
    }
}

TEST(Gaeb90BidBills, TheSameItemReadsAsInTheDaXmlWorkbook) {
    const auto d83 = testsupport::samples_dir() / "gaeb90" / "ddrw__LV_Los01.D83";
    const auto x83 = testsupport::samples_dir() / "xml" / "ddrw__LV_Los01.X83";
    if (!std::filesystem::exists(d83) || !std::filesystem::exists(x83)) GTEST_SKIP() << "no sample bills";
    const Lines gaeb90 = oz_of(d83);
    EXPECT_EQ(gaeb90.size(), 13u);
    EXPECT_EQ(gaeb90, oz_of(x83));
}
