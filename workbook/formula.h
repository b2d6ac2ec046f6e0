// SPDX-License-Identifier: MIT
// Computes the results of the workbook's formulas, so that the saved file shows prices and
// totals without recalculation. The family is small: cell references (optionally
// sheet-qualified, with or without "$"), + - * /, ROUND(x,n), SUM over ranges and numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "workbook/excel_session.h"

namespace workbook {

struct FormulaResult {
    bool is_error = false;
    double value = 0;
    std::string error;  // "#DIV/0!", "#VALUE!", "#REF!", "#NAME?"
};

class FormulaEvaluator {
public:
    explicit FormulaEvaluator(const Workbook& book);
    ~FormulaEvaluator();
    FormulaEvaluator(const FormulaEvaluator&) = delete;
    FormulaEvaluator& operator=(const FormulaEvaluator&) = delete;

    // Result of the formula cell (or the value of any other cell); results are memoised.
    FormulaResult evaluate(const Sheet& sheet, int32_t row, int32_t col);
    // A formula text evaluated in the context of `sheet`.
    FormulaResult evaluate_text(const Sheet& sheet, std::string_view formula);
    // Room for the results of `formula_cells` cells at once, so that the memo need not grow
    // (and briefly hold its old and new table) while a large workbook is saved.
    void reserve(size_t formula_cells);

private:
    struct Impl;
    Impl* m_impl;
};

}  // namespace workbook
