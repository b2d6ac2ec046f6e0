// SPDX-License-Identifier: MIT
// Prices put into the bill: one table of damaged workbooks, each with every fault it must list,
// and the totals as the workbook's formulas compute them.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "angebot/pricing.h"
#include "tests/angebot/angebot_support.h"

namespace {

using angebot::CellContent;
using angebot::CellType;
using angebot::ProblemKind;
using angebot_test::number;
using angebot_test::text;

using Rows = std::vector<std::pair<std::string, CellContent>>;

// The sample bill's rows, all priced, in document order from row 8.
Rows good_rows() {
    const bill::Bill bill = angebot_test::sample_bill();
    const auto prices = angebot_test::sample_prices();
    Rows rows;
    for (size_t i = 0; i < bill.items().size(); ++i) rows.push_back({bill.items()[i].oz, number(*prices[i])});
    return rows;
}

struct Expected {
    ProblemKind kind;
    bool blocking;
    std::string cell;
    std::string message_part;
};

struct Case {
    const char* name;
    std::function<void(Rows&)> damage;
    std::vector<Expected> problems;
    bool refused = false;
    std::string refusal_part = {};
};

std::vector<Case> cases() {
    return {
        {"complete", [](Rows&) {}, {}},
        {"text in a price cell",
         [](Rows& r) { r[1].second = text("ca. 12"); },
         {{ProblemKind::PriceNotANumber, true, "Positionsteil!E9",
           "Positionsteil!E9, OZ 01.01.0020: Einheitspreis ist keine Zahl: \"ca. 12\""}}},
        {"empty, blank and zero prices, all listed in the bill's order",
         [](Rows& r) {
             r[6].second = number(0);
             r[0].second = {};
             r[2].second = text("  ");
         },
         {{ProblemKind::PriceMissing, true, "Positionsteil!E8", "OZ 01.01.0010: kein Einheitspreis"},
          {ProblemKind::PriceMissing, true, "Positionsteil!E10", "OZ 01.01.0020.a: kein Einheitspreis"},
          {ProblemKind::PriceZero, true, "Positionsteil!E14", "OZ 02.01.0010: Einheitspreis 0"}}},
        {"error value, truth value and a formula without stored result",
         [](Rows& r) {
             r[0].second = {CellType::Error, 0, "#DIV/0!"};
             r[1].second = {CellType::Boolean, 1, "WAHR"};
             r[2].second = {CellType::FormulaWithoutValue, 0, {}};
         },
         {{ProblemKind::PriceNotANumber, true, "Positionsteil!E8",
           "Fehlerwert #DIV/0! statt eines Einheitspreises"},
          {ProblemKind::PriceNotANumber, true, "Positionsteil!E9", "Einheitspreis ist keine Zahl: WAHR"},
          {ProblemKind::PriceNotANumber, true, "Positionsteil!E10", "kein gespeichertes Ergebnis"}}},
        {"more decimals than GAEB holds, and a price too large",
         [](Rows& r) {
             r[0].second = number(12.3456);
             r[1].second = number(2e11);
             r[2].second = number(0.1 + 0.2);  // shown as 0.3: one decimal
         },
         {{ProblemKind::PriceTooPrecise, true, "Positionsteil!E8", "Einheitspreis 12,3456 hat mehr als drei"},
          {ProblemKind::PriceOutOfRange, true, "Positionsteil!E9", "ist zu groß"}}},
        {"numbers no bid can carry: listed like any bad price, never an abort",
         [](Rows& r) {
             r[0].second = {CellType::NumberOutOfRange, 0, "1e-310"};
             r[1].second = number(1e-310);
             r[2].second = number(HUGE_VAL);
             r[6].second = number(std::nan(""));
         },
         {{ProblemKind::PriceOutOfRange, true, "Positionsteil!E8",
           "OZ 01.01.0010: Einheitspreis \"1e-310\" liegt außerhalb der Zahlen, die ein Angebot tragen kann"},
          {ProblemKind::PriceOutOfRange, true, "Positionsteil!E9", "Einheitspreis 1e-310 liegt außerhalb"},
          {ProblemKind::PriceOutOfRange, true, "Positionsteil!E10", "Einheitspreis inf liegt außerhalb"},
          {ProblemKind::PriceOutOfRange, true, "Positionsteil!E14", "Einheitspreis nan liegt außerhalb"}}},
        {"error values by the names the German spreadsheet shows",
         [](Rows& r) {
             r[0].second = {CellType::Error, 0, "#VALUE!"};
             r[1].second = {CellType::Error, 0, "#N/A"};
             r[2].second = {CellType::Error, 0, "#REF!"};
             r[6].second = {CellType::Error, 0, "#NUM!"};
         },
         {{ProblemKind::PriceNotANumber, true, "Positionsteil!E8",
           "Fehlerwert #WERT! statt eines Einheitspreises"},
          {ProblemKind::PriceNotANumber, true, "Positionsteil!E9", "Fehlerwert #NV statt"},
          {ProblemKind::PriceNotANumber, true, "Positionsteil!E10", "Fehlerwert #BEZUG! statt"},
          {ProblemKind::PriceNotANumber, true, "Positionsteil!E14", "Fehlerwert #ZAHL! statt"}}},
        {"a range sum beyond what a bid carries: the item with which it passes the bound",
         [](Rows& r) {
             r[0].second = number(99999999000);  // 100 x: 9.999.999.900.000,00
             r[1].second = number(99999999999);  // 12.5 x
         },
         {{ProblemKind::PriceOutOfRange, true, "Positionsteil!E9",
           "OZ 01.01.0020: mit dieser Position wird die Summe des Bereichs 01.01 zu groß für ein Angebot "
           "(höchstens 9.999.999.999.999,99)"}}},
        {"a negative price is only a warning",
         [](Rows& r) { r[0].second = number(-5); },
         {{ProblemKind::PriceNegative, false, "Positionsteil!E8", "negativer Einheitspreis -5"}}},
        {"a deleted item row",
         [](Rows& r) { r.erase(r.begin() + 1); },
         {{ProblemKind::ItemMissing, true, "",
           "OZ 01.01.0020: die Position fehlt im Tabellenblatt \"Positionsteil\""}}},
        {"an OZ twice",
         [](Rows& r) {
             r.push_back({"01.01.0010", number(1)});
         },
         {{ProblemKind::DuplicateOz, true, "Positionsteil!A16",
           "Positionsteil!A16, OZ 01.01.0010: die OZ steht mehrfach im Tabellenblatt (zuerst in Zeile 8)"}}},
        {"notes and sums in column A are no OZ",
         [](Rows& r) {
             r.push_back({"Summe Leistungsverzeichnis", {}});
             r.push_back({"Anmerkung: siehe Blatt 2", text("x")});
             r.push_back({"Projektname:", {}});
         },
         {}},
        {"a foreign OZ",
         [](Rows& r) {
             r.push_back({"09.99.0010", number(1)});
         },
         {{ProblemKind::ForeignOz, true, "Positionsteil!A16",
           "Positionsteil!A16: die OZ 09.99.0010 gibt es im Leistungsverzeichnis nicht"}},
         true,
         "1 OZ des Tabellenblatts \"Positionsteil\" gibt es im Leistungsverzeichnis nicht"},
        {"most items missing",
         [](Rows& r) { r.resize(3); },
         {{ProblemKind::ItemMissing, true, "", "OZ 01.01.0030"},
          {ProblemKind::ItemMissing, true, "", "OZ 01.02.0010"},
          {ProblemKind::ItemMissing, true, "", "OZ 01.02.0020"},
          {ProblemKind::ItemMissing, true, "", "OZ 02.01.0010"},
          {ProblemKind::ItemMissing, true, "", "OZ 02.01.0020"}},
         true,
         "5 von 8 Positionen fehlen in der Arbeitsmappe"},
    };
}

TEST(AngebotPricing, DamagedWorkbooks) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        bill::Bill bill = angebot_test::sample_bill();
        Rows rows = good_rows();
        c.damage(rows);
        const angebot::PricingResult result = angebot::price(bill, angebot_test::priced(rows));
        EXPECT_EQ(result.refused, c.refused) << result.refusal;
        if (c.refused) {
            EXPECT_NE(result.refusal.find(c.refusal_part), std::string::npos) << result.refusal;
        }
        ASSERT_EQ(result.problems.size(), c.problems.size());
        for (size_t i = 0; i < c.problems.size(); ++i) {
            const auto& got = result.problems[i];
            const auto& want = c.problems[i];
            EXPECT_EQ(got.kind, want.kind) << got.text;
            EXPECT_EQ(got.blocking, want.blocking) << got.text;
            EXPECT_EQ(got.cell, want.cell) << got.text;
            EXPECT_NE(got.text.find(want.message_part), std::string::npos) << got.text;
        }
        size_t blocking = 0;
        for (const auto& p : c.problems) blocking += p.blocking ? 1 : 0;
        EXPECT_EQ(result.blocking_count(), blocking);
        EXPECT_EQ(result.complete(), !c.refused && blocking == 0);
    }
}

// Totals: IT = ROUND(quantity * unit price, 2), half away from zero; alternatives and contingencies
// without total keep their unit price and add nothing.
TEST(AngebotPricing, TotalsAsTheWorkbookComputesThem) {
    bill::Bill bill = angebot_test::sample_bill();
    const auto result = angebot::price(bill, angebot_test::priced(good_rows()));
    ASSERT_TRUE(result.complete());
    EXPECT_EQ(result.priced_count, 8u);
    const int64_t expected_items[] = {125000, 59063, 938, -1, -1, 24000, 152346, 693};
    for (size_t i = 0; i < bill.items().size(); ++i) {
        SCOPED_TRACE(bill.items()[i].oz);
        ASSERT_TRUE(bill.items()[i].unit_price);
        if (expected_items[i] < 0)
            EXPECT_FALSE(bill.items()[i].total_cents);
        else
            EXPECT_EQ(bill.items()[i].total_cents, expected_items[i]);
    }
    EXPECT_DOUBLE_EQ(*bill.items()[6].unit_price, 1234.567);
    const auto& top = bill.root().children;
    EXPECT_EQ(bill.ranges()[top[0].index].total_cents, 125000 + 59063 + 938 + 24000);
    EXPECT_EQ(bill.ranges()[top[1].index].total_cents, 152346 + 693);
    EXPECT_EQ(bill.total_cents(), 362040);
}

// The tender's quantity counts; where it has none, the bidder's from column C. Column F that
// differs from the computed total is pointed out.
TEST(AngebotPricing, QuantitiesAndTotalsOfTheWorkbook) {
    bill::Bill bill = angebot_test::sample_bill();
    bill.items()[0].quantity.reset();
    angebot::PricedWorkbook book = angebot_test::priced(good_rows());
    book.rows[0].quantity = number(4);
    book.rows[1].quantity = number(13);
    book.rows[1].total = number(590.63);
    book.rows[6].total = number(1500);
    book.rows[5].quantity = text("zwei");
    book.rows[2].quantity = {};
    const auto result = angebot::price(bill, book);
    EXPECT_TRUE(result.complete());
    ASSERT_EQ(result.problems.size(), 2u);
    EXPECT_EQ(result.problems[0].kind, ProblemKind::QuantityDiffers);
    EXPECT_EQ(result.problems[0].cell, "Positionsteil!C9");
    EXPECT_EQ(result.problems[1].kind, ProblemKind::TotalDiffers);
    EXPECT_EQ(
        result.problems[1].text,
        "Positionsteil!F14, OZ 02.01.0010: G-Preis 1500 weicht vom berechneten Gesamtbetrag 1523,46 ab");
    EXPECT_EQ(bill.items()[0].quantity_used, 4.0);
    EXPECT_EQ(bill.items()[0].total_cents, 5000);
    EXPECT_EQ(bill.items()[1].quantity_used, 12.5);

    // No quantity anywhere: the total is 0.00, said as a warning.
    bill::Bill none = angebot_test::sample_bill();
    none.items()[0].quantity.reset();
    const auto warned = angebot::price(none, angebot_test::priced(good_rows()));
    ASSERT_EQ(warned.problems.size(), 1u);
    EXPECT_EQ(warned.problems[0].kind, ProblemKind::QuantityMissing);
    EXPECT_FALSE(warned.problems[0].blocking);
    EXPECT_EQ(none.items()[0].total_cents, 0);
}

// Surcharge items: the percentage in column E applies to the items of their list before them
// (AllInCat), to the marked ones among those (IdentAsMark), or to the items they list.
TEST(AngebotPricing, SurchargeItems) {
    bill::Bill bill;
    bill.header.breakdown = bill::breakdown_from_mask("11PPPP");
    bill::Builder b(bill);
    b.enter_range(angebot_test::range("01", "Zuschläge", "R1"));
    auto item = [&](const char* oz, const char* id, double qty, bool marked) {
        bill::Item i;
        i.oz = oz;
        i.id = id;
        i.quantity = qty;
        i.markup_subject = marked;
        b.add_item(i);
    };
    auto surcharge = [&](const char* oz, bill::MarkupType type, std::vector<bill::MarkupRef> refs = {}) {
        bill::Item i;
        i.oz = oz;
        i.surcharge = true;
        i.markup_type = type;
        i.markup_refs = std::move(refs);
        b.add_item(i);
    };
    item("01.0010", "A", 10, true);
    item("01.0020", "B", 20, false);
    item("01.0030", "C", 30, true);
    surcharge("01.0040", bill::MarkupType::AllInCat);
    surcharge("01.0050", bill::MarkupType::IdentAsMark);
    item("01.0060", "D", 1, false);
    surcharge("01.0070", bill::MarkupType::AllInCat);
    surcharge("01.0080", bill::MarkupType::ListInSubQty,
              {{"B", 10.0}, {"D", std::nullopt}, {"X", std::nullopt}});
    const Rows rows = {{"01.0010", number(10)}, {"01.0020", number(20)}, {"01.0030", number(30)},
                       {"01.0040", number(10)}, {"01.0050", number(5)},  {"01.0060", number(100)},
                       {"01.0070", number(10)}, {"01.0080", number(2)}};
    const auto result = angebot::price(bill, angebot_test::priced(rows));
    EXPECT_TRUE(result.complete());
    const double bases[] = {1400, 1000, 100, 300};
    const int64_t totals[] = {14000, 5000, 1000, 600};
    int k = 0;
    for (const auto& i : bill.items()) {
        if (!i.surcharge) continue;
        SCOPED_TRACE(i.oz);
        EXPECT_DOUBLE_EQ(i.markup_base.value_or(-1), bases[k]);
        EXPECT_EQ(i.total_cents, totals[k]);
        ++k;
    }
    EXPECT_EQ(bill.total_cents(), 150000 + 14000 + 5000 + 1000 + 600);

    // A surcharge without rate is listed like an item without price.
    Rows missing = rows;
    missing[3].second = {};
    const auto listed = angebot::price(bill, angebot_test::priced(missing));
    ASSERT_EQ(listed.problems.size(), 1u);
    EXPECT_NE(listed.problems[0].text.find("kein Zuschlagssatz"), std::string::npos)
        << listed.problems[0].text;

    // Column F of a surcharge that the bid does not reach is pointed out, as for an item.
    angebot::PricedWorkbook differing = angebot_test::priced(rows);
    differing.rows[3].total = number(140);
    differing.rows[4].total = number(49.99);
    const auto warned = angebot::price(bill, differing);
    ASSERT_EQ(warned.problems.size(), 1u);
    EXPECT_EQ(warned.problems[0].text,
              "Positionsteil!F12, OZ 01.0050: G-Preis 49,99 weicht vom berechneten Gesamtbetrag 50 ab");
}

// Amounts the bid computes never pass 10^13: an item total, a surcharge, the base of a surcharge
// and the sums. The item where one would is refused with its OZ and price cell and counts nothing.
TEST(AngebotPricing, AmountsBeyondWhatABidCarries) {
    struct Amount {
        const char* name;
        double quantity, price, rate;
        std::optional<double> sub_quantity;  // the surcharge lists the item with it; else AllInCat
        std::string cell, message;
    };
    const Amount cases[] = {
        {"item total", 1e7, 1e8, 5, std::nullopt, "Positionsteil!E8",
         "OZ 01.0010: der Gesamtbetrag 1,000e+15 ist zu groß für ein Angebot (höchstens "
         "9.999.999.999.999,99)"},
        {"surcharge rate of 99,999,999,999 %", 1000, 1e7, 99999999999, std::nullopt, "Positionsteil!E9",
         "OZ 01.0020: der Zuschlag 1,000e+19 ist zu groß für ein Angebot"},
        {"base of a surcharge by its sub-quantity", 1, 10, 5, 1e300, "Positionsteil!E9",
         "OZ 01.0020: die Summe der Positionen, auf die der Zuschlag gerechnet wird, ist zu groß"},
        {"the bill's sum", 9e4, 1e8, 12, std::nullopt, "Positionsteil!E9",
         "OZ 01.0020: mit dieser Position wird die Summe des Bereichs 01 zu groß"},
    };
    for (const Amount& c : cases) {
        SCOPED_TRACE(c.name);
        bill::Bill bill;
        bill.header.breakdown = bill::breakdown_from_mask("11PPPP");
        bill::Builder b(bill);
        b.enter_range(angebot_test::range("01", "Bereich"));
        bill::Item item;
        item.oz = "01.0010";
        item.id = "A";
        item.quantity = c.quantity;
        b.add_item(item);
        bill::Item surcharge;
        surcharge.oz = "01.0020";
        surcharge.surcharge = true;
        if (c.sub_quantity) {
            surcharge.markup_type = bill::MarkupType::ListInSubQty;
            surcharge.markup_refs = {{"A", c.sub_quantity}};
        }
        b.add_item(surcharge);
        const auto result = angebot::price(
            bill, angebot_test::priced({{"01.0010", number(c.price)}, {"01.0020", number(c.rate)}}));
        ASSERT_EQ(result.problems.size(), 1u);
        EXPECT_EQ(result.problems[0].kind, ProblemKind::PriceOutOfRange);
        EXPECT_TRUE(result.problems[0].blocking);
        EXPECT_EQ(result.problems[0].cell, c.cell);
        EXPECT_NE(result.problems[0].text.find(c.message), std::string::npos) << result.problems[0].text;
        EXPECT_EQ(result.priced_count, 1u);
        for (const auto& r : bill.ranges()) EXPECT_LT(std::llabs(r.total_cents), angebot::kMaxAmountCents);
        for (const auto& i : bill.items())
            EXPECT_LT(std::llabs(i.total_cents.value_or(0)), angebot::kMaxAmountCents);
    }
}

// Where E is ROUND(G*H,2) of its row and shows no price, the message names the cell the estimator
// typed into; E itself when G and H are fine or E is no such product.
TEST(AngebotPricing, TheCellTheEstimatorTypedInto) {
    const CellContent empty{}, without_value{CellType::FormulaWithoutValue, 0, {}};
    const auto error = [](const char* value) { return CellContent{CellType::Error, 0, value}; };
    struct Typed {
        const char* name;
        CellContent e, g, h;
        bool calculated;
        std::string cell, message;
    };
    const Typed cases[] = {
        {"text in G", error("#VALUE!"), text("auf Anfrage"), number(1), true, "Positionsteil!G8",
         "Basispreis ist keine Zahl: \"auf Anfrage\" (Positionsteil!E8 zeigt #WERT!)"},
        {"G left empty", number(0), empty, number(1), true, "Positionsteil!G8",
         "kein Basispreis (Positionsteil!E8 zeigt 0)"},
        {"an error value in G", error("#DIV/0!"), error("#DIV/0!"), number(1), true, "Positionsteil!G8",
         "Fehlerwert #DIV/0! statt eines Basispreises"},
        {"factor 0", number(0), number(12.5), number(0), true, "Positionsteil!H8", "Faktor 0"},
        {"factor cleared", number(0), number(12.5), empty, true, "Positionsteil!H8", "kein Faktor"},
        {"G and H fine, E without stored result", without_value, number(12.5), number(1), true,
         "Positionsteil!E8", "die Formel des Einheitspreises hat kein gespeichertes Ergebnis"},
        {"E typed over, no product", error("#N/A"), text("x"), number(1), false, "Positionsteil!E8",
         "Fehlerwert #NV statt eines Einheitspreises"},
    };
    for (const Typed& c : cases) {
        SCOPED_TRACE(c.name);
        bill::Bill bill = angebot_test::sample_bill();
        Rows rows = good_rows();
        rows[0].second = c.e;
        angebot::PricedWorkbook book = angebot_test::priced(rows);
        book.rows[0].calculated_price = c.calculated;
        book.rows[0].base_price = c.g;
        book.rows[0].factor = c.h;
        const auto result = angebot::price(bill, book);
        ASSERT_EQ(result.problems.size(), 1u);
        EXPECT_TRUE(result.problems[0].blocking);
        EXPECT_EQ(result.problems[0].cell, c.cell);
        EXPECT_EQ(result.problems[0].text.rfind(c.cell + ", OZ 01.01.0010: ", 0), 0u)
            << result.problems[0].text;
        EXPECT_NE(result.problems[0].text.find(c.message), std::string::npos) << result.problems[0].text;
    }
}

TEST(AngebotPricing, AnEmptyTenderIsRefused) {
    bill::Bill bill;
    const auto result = angebot::price(bill, angebot_test::priced({{"01.0010", number(1)}}));
    EXPECT_TRUE(result.refused);
    EXPECT_NE(result.refusal.find("keine Positionen"), std::string::npos);
}

TEST(AngebotPricing, NumbersAsTheSpreadsheetShowsThem) {
    EXPECT_EQ(angebot::decimals_of(12.5), 1);
    EXPECT_EQ(angebot::decimals_of(0.1 + 0.2), 1);
    EXPECT_EQ(angebot::decimals_of(14.921), 3);
    EXPECT_EQ(angebot::decimals_of(1e-5), 5);
    EXPECT_EQ(angebot::decimals_of(1200), 0);
    EXPECT_EQ(angebot::german_number(-1234.5), "-1234,5");
    EXPECT_DOUBLE_EQ(angebot::spreadsheet_value(0.1 + 0.2), 0.3);
    // Values a 15-digit text no longer reads back as a usable number stay as they are.
    for (const double v : {1e-310, 4.9e-324, 1e308, -2.2250738585072014e-308}) {
        SCOPED_TRACE(v);
        EXPECT_EQ(angebot::spreadsheet_value(v), v);
        EXPECT_GE(angebot::decimals_of(v), 0);
        EXPECT_FALSE(angebot::german_number(v).empty());
    }
    EXPECT_EQ(angebot::decimals_of(1e-300), 300);
}

}  // namespace
