// SPDX-License-Identifier: MIT
// Placeholder: the evaluator lands with the .xlsx writer.
#include "workbook/formula.h"

namespace workbook {

struct FormulaEvaluator::Impl {};
FormulaEvaluator::FormulaEvaluator(const Workbook&) : m_impl(new Impl) {}
FormulaEvaluator::~FormulaEvaluator() { delete m_impl; }
FormulaResult FormulaEvaluator::evaluate(const Sheet&, int32_t, int32_t) { return {}; }
FormulaResult FormulaEvaluator::evaluate_text(const Sheet&, std::string_view) { return {}; }

}  // namespace workbook
