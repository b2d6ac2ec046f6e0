// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <variant>

#include "workbook/formula.h"

namespace {

using workbook::FormulaEvaluator;
using workbook::FormulaResult;
using workbook::Sheet;
using workbook::Workbook;

// A number, or an error text.
using Expected = std::variant<double, std::string>;

void expect_result(const FormulaResult& got, const Expected& want) {
    if (const auto* error = std::get_if<std::string>(&want)) {
        EXPECT_TRUE(got.is_error) << "expected " << *error << ", got the number " << got.value;
        EXPECT_EQ(got.error, *error);
    } else {
        EXPECT_FALSE(got.is_error) << "expected " << std::get<double>(want) << ", got " << got.error;
        EXPECT_EQ(got.value, std::get<double>(want));  // exactly as the spreadsheet computes it
    }
}

// Tab order "Fehlerhafte Zeilen", "Teilsummen", "Positionsteil", as the readers create them.
struct Book {
    Workbook wb;
    Sheet& pos;
    Sheet& sums;
    Sheet& faulty;
    Book()
        : pos(named(wb.add_sheet(), "Positionsteil")),
          sums(named(wb.add_sheet(), "Teilsummen")),
          faulty(named(wb.add_sheet(), "Fehlerhafte Zeilen")) {}
    static Sheet& named(Sheet& s, const char* name) {
        s.set_name(name);
        return s;
    }
};

void fill_values(Book& b) {
    Sheet& p = b.pos;
    p.set_value(1, 1, 1.005);
    p.set_value(2, 1, 0.285);
    p.set_value(3, 1, "12.5");
    p.set_value(4, 1, "abc");
    p.set_value(6, 1, 0.0);
    p.set_value(7, 1, -2.5);
    p.set_value(8, 1, 1234.5678);
    p.set_value(2, 2, 1.0);
    p.set_value(3, 2, 2.0);
    p.set_value(4, 2, 3.5);
    // Two items in rows 12 and 13 as the calculation layout writes them.
    for (int32_t r : {12, 13}) {
        const std::string n = std::to_string(r);
        p.set_value(r, 3, r == 12 ? 3.0 : 0.5);
        p.set_value(r, 7, r == 12 ? 19.99 : 7.13);
        p.set_value(r, 8, 1.15);
        p.set_formula(r, 5, "=ROUND($G$" + n + "*$H$" + n + ",2)");
        p.set_formula(r, 6, "=ROUND($C$" + n + "*$E$" + n + ",2)");
    }
    b.faulty.set_value(1, 1, 7.0);
}

struct TextCase {
    const char* formula;
    Expected want;
};

TEST(FormulaEvaluator, EvaluatesTheFormulaFamilyLikeTheSpreadsheet) {
    Book b;
    fill_values(b);
    const std::string deep_parens = std::string(5000, '(') + "1" + std::string(5000, ')');
    std::string long_sum = "=";
    for (int i = 0; i < 4000; ++i) long_sum += "1+";
    long_sum += "1";
    const TextCase cases[] = {
        // The spreadsheet's decimal rounding, half away from zero.
        {"=ROUND($A$1,2)", 1.01},
        {"=ROUND(A2,2)", 0.29},
        {"=ROUND(-0.285,2)", -0.29},
        {"=ROUND(A7,0)", -3.0},
        {"=ROUND(2.5,0)", 3.0},
        {"=ROUND(A8,-2)", 1200.0},
        {"=ROUND(A8,1.9)", 1234.6},
        // The readers' templates.
        {"=ROUND($G$12*$H$12,2)", 22.99},
        {"=$G$12*$H$12", 19.99 * 1.15},
        {"=ROUND($C$12*$E$12,2)", 68.97},
        {"=ROUND($F$12/$E$12,3)", 3.0},
        {"=$F$13/$E$13", 4.1 / 8.2},
        {"=SUM(Positionsteil!$F$12:$F$13)", 68.97 + 4.1},
        {"=ROUND(SUM($B$2:$B$4),2)", 6.5},
        // Operators, precedence, signs.
        {"=1+2*3", 7.0},
        {"=(1+2)*3", 9.0},
        {"=2-3-4", -5.0},
        {"=8/4/2", 1.0},
        {"=-A7*2", 5.0},
        {"=--3", 3.0},
        // A sum or difference that is only rounding noise is 0; SUM compensates its rounding.
        {"=0.1+0.2-0.3", 0.0},
        {"=SUM(0.1,0.2,-0.3)", 0.0},
        {"=SUM(0.1,0.2,0.3,0.4,0.5,0.6,0.7)", 2.8},
        {"= 1.5E2 + .5", 150.5},
        {long_sum.c_str(), 4001.0},
        // Cell contents: empty is 0, numeric text counts in arithmetic, SUM skips text.
        {"=A5+1", 1.0},
        {"=A3*2", 25.0},
        {"=A4*2", std::string("#VALUE!")},
        {"=ROUND(SUM(A1:A5),3)", 1.29},
        {"=SUM(A3)", 0.0},
        {"=SUM(1,2,B2)", 4.0},
        {"=SUM(B:B)", 6.5},
        {"=A1:A2+1", std::string("#VALUE!")},
        // Errors and which one wins.
        {"=A1/A6", std::string("#DIV/0!")},
        {"=A1/A5", std::string("#DIV/0!")},
        {"=A1/0+A4", std::string("#DIV/0!")},
        {"=A4+A1/0", std::string("#VALUE!")},
        {"=SUM(B2:B4,1/0)", std::string("#DIV/0!")},
        {"=1E300*1E300", std::string("#NUM!")},
        // Sheets: quoted names, letter case, missing sheets.
        {"='Fehlerhafte Zeilen'!A1*2", 14.0},
        {"=positionsteil!B2", 1.0},
        {"=Nirgends!A1", std::string("#REF!")},
        {"=SUM(Nirgends!A1:A3)", std::string("#REF!")},
        // Texts that are no formula of the family.
        {"=FOO(1)", std::string("#NAME?")},
        {"=ROUND(1)", std::string("#NAME?")},
        {"=1+", std::string("#NAME?")},
        {"=SUM(A1:A2", std::string("#NAME?")},
        {"=XFE1", std::string("#NAME?")},
        {"=A0", std::string("#NAME?")},
        {"=F+1", std::string("#NAME?")},
        {"='Teilsummen!A1", std::string("#NAME?")},
        {"=", std::string("#NAME?")},
        {deep_parens.c_str(), std::string("#NAME?")},
    };
    FormulaEvaluator eval(b.wb);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.formula).substr(0, 60));
        expect_result(eval.evaluate_text(b.pos, c.formula), c.want);
    }
    // The file would otherwise show "-0".
    EXPECT_FALSE(std::signbit(eval.evaluate_text(b.pos, "=ROUND(-0.001,2)").value));
}

TEST(FormulaEvaluator, CellsAcrossSheetsAndPlainCells) {
    Book b;
    fill_values(b);
    b.sums.set_formula(2, 2, "=SUM(Positionsteil!$F$12:$F$12)");
    b.sums.set_formula(3, 2, "=SUM(Positionsteil!$F$13:$F$13)");
    b.sums.set_formula(5, 2, "=ROUND(SUM($B$2:$B$4),2)");
    FormulaEvaluator eval(b.wb);
    // The grand total first: everything it needs is found through the other sheet.
    expect_result(eval.evaluate(b.sums, 5, 2), 73.07);
    expect_result(eval.evaluate(b.pos, 12, 6), 68.97);
    expect_result(eval.evaluate(b.pos, 13, 5), 8.2);
    expect_result(eval.evaluate(b.pos, 12, 3), 3.0);
    expect_result(eval.evaluate(b.pos, 5, 1), 0.0);
    expect_result(eval.evaluate(b.pos, 3, 1), 12.5);
    expect_result(eval.evaluate(b.pos, 4, 1), std::string("#VALUE!"));
}

TEST(FormulaEvaluator, CyclesGiveAnErrorAndSharedInputsAreNoCycle) {
    Book b;
    Sheet& p = b.pos;
    p.set_formula(1, 26, "=Z1+1");
    p.set_formula(2, 26, "=Z3*2");
    p.set_formula(3, 26, "=Z2");
    p.set_formula(4, 26, "=Z2+1");
    // Y1 needs Y2 and Y3, and Y2 needs Y3 as well: a diamond, not a cycle.
    p.set_formula(1, 25, "=Y2+Y3");
    p.set_formula(2, 25, "=Y3*2");
    p.set_formula(3, 25, "=2+3");
    FormulaEvaluator eval(b.wb);
    expect_result(eval.evaluate(p, 1, 26), std::string("#VALUE!"));
    expect_result(eval.evaluate(p, 4, 26), std::string("#VALUE!"));
    expect_result(eval.evaluate(p, 3, 26), std::string("#VALUE!"));
    expect_result(eval.evaluate(p, 1, 25), 15.0);
    expect_result(eval.evaluate_text(p, "=SUM(Y1:Y3)"), 30.0);
}

TEST(FormulaEvaluator, LongChainsNeitherOverflowTheStackNorRepeatWork) {
    Book b;
    Sheet& p = b.pos;
    constexpr int32_t kChain = 200000;
    p.set_value(1, 1, 1.0);
    for (int32_t r = 2; r <= kChain; ++r) p.set_formula(r, 1, "=A" + std::to_string(r - 1) + "+1");
    // Each cell uses the one above twice: without memoisation 2^59 evaluations.
    p.set_value(1, 2, 1.0);
    for (int32_t r = 2; r <= 60; ++r)
        p.set_formula(r, 2, "=B" + std::to_string(r - 1) + "+B" + std::to_string(r - 1));
    FormulaEvaluator eval(b.wb);
    expect_result(eval.evaluate(p, kChain, 1), static_cast<double>(kChain));
    expect_result(eval.evaluate(p, 60, 2), 576460752303423488.0);
    expect_result(eval.evaluate_text(p, "=SUM(A1:A200000)"), 200000.0 * 200001.0 / 2);
}

}  // namespace
