// SPDX-License-Identifier: MIT
#include "workbook/formula.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <vector>

#include "workbook/numbers.h"
#include "workbook/text.h"

namespace workbook {

namespace {

enum class Err : uint8_t { None, Div0, Value, Ref, Name, Num };

const char* error_text(Err e) {
    switch (e) {
        case Err::Div0:
            return "#DIV/0!";
        case Err::Value:
            return "#VALUE!";
        case Err::Ref:
            return "#REF!";
        case Err::Name:
            return "#NAME?";
        case Err::Num:
            return "#NUM!";
        case Err::None:
            break;
    }
    return "";
}

// A formula compiled to postfix order, so that evaluating it needs no recursion.
enum class Op : uint8_t { Number, Ref, Neg, Add, Sub, Mul, Div, Round, Sum };

struct Instr {
    Op op = Op::Number;
    uint16_t argc = 0;
    double number = 0;
    int32_t sheet = -1;  // index in the evaluator's sheet list; -1: no such sheet
    int32_t row1 = 0, col1 = 0, row2 = 0, col2 = 0;
};

// Deeper nesting than this is refused: no stack overflow on hostile formula texts.
constexpr int kMaxNesting = 64;
constexpr size_t kMaxFormulaLength = 8192;  // the spreadsheet's own limit
constexpr int32_t kMaxColumnLetters = 3;

bool is_name_char(char ch) {
    const auto u = static_cast<unsigned char>(ch);
    return std::isalnum(u) || ch == '_' || ch == '.' || ch == '$' || u >= 0x80;
}

// Recursive descent over the formula text; the recursion depth is bounded by kMaxNesting.
class Parser {
public:
    using SheetLookup = int32_t (*)(const void* context, std::string_view name);

    Parser(std::string_view text, int32_t own_sheet, SheetLookup lookup, const void* context,
           std::vector<Instr>& out)
        : m_text(text), m_own_sheet(own_sheet), m_lookup(lookup), m_context(context), m_out(out) {}

    // Err::None on success, else the error the whole formula yields.
    Err parse() {
        m_out.clear();
        if (m_text.size() > kMaxFormulaLength) return Err::Name;
        if (!m_text.empty() && m_text.front() == '=') ++m_pos;
        expression(0);
        skip_blanks();
        if (m_error == Err::None && m_pos != m_text.size()) m_error = Err::Name;
        return m_error;
    }

private:
    void skip_blanks() {
        while (m_pos < m_text.size() && m_text[m_pos] == ' ') ++m_pos;
    }
    char peek() {
        skip_blanks();
        return m_pos < m_text.size() ? m_text[m_pos] : '\0';
    }
    void fail(Err e) {
        if (m_error == Err::None) m_error = e;
    }
    void emit(Op op, uint16_t argc = 0) {
        Instr i;
        i.op = op;
        i.argc = argc;
        m_out.push_back(i);
    }

    void expression(int depth) {
        term(depth);
        while (m_error == Err::None) {
            const char ch = peek();
            if (ch != '+' && ch != '-') return;
            ++m_pos;
            term(depth);
            emit(ch == '+' ? Op::Add : Op::Sub);
        }
    }

    void term(int depth) {
        unary(depth);
        while (m_error == Err::None) {
            const char ch = peek();
            if (ch != '*' && ch != '/') return;
            ++m_pos;
            unary(depth);
            emit(ch == '*' ? Op::Mul : Op::Div);
        }
    }

    // Signs are counted in a loop: "------1" needs no recursion.
    void unary(int depth) {
        bool negative = false;
        for (char ch = peek(); ch == '-' || ch == '+'; ch = peek()) {
            if (ch == '-') negative = !negative;
            ++m_pos;
        }
        primary(depth);
        if (negative) emit(Op::Neg);
    }

    void primary(int depth) {
        if (m_error != Err::None) return;
        if (depth >= kMaxNesting) return fail(Err::Name);
        const char ch = peek();
        if (ch == '(') {
            ++m_pos;
            expression(depth + 1);
            if (peek() != ')') return fail(Err::Name);
            ++m_pos;
            return;
        }
        if ((ch >= '0' && ch <= '9') || ch == '.') return number();
        if (ch == '\'') {
            std::string name;
            if (!quoted_name(name)) return fail(Err::Name);
            return reference(m_lookup(m_context, name));
        }
        const size_t start = m_pos;
        while (m_pos < m_text.size() && is_name_char(m_text[m_pos])) ++m_pos;
        const std::string_view word = m_text.substr(start, m_pos - start);
        if (word.empty()) return fail(Err::Name);
        if (m_pos < m_text.size() && m_text[m_pos] == '!') {
            ++m_pos;
            return reference(m_lookup(m_context, word));
        }
        if (peek() == '(') {
            ++m_pos;
            return function(word, depth);
        }
        m_pos = start;
        reference(m_own_sheet);
    }

    void number() {
        const size_t start = m_pos;
        while (m_pos < m_text.size() &&
               ((m_text[m_pos] >= '0' && m_text[m_pos] <= '9') || m_text[m_pos] == '.'))
            ++m_pos;
        if (m_pos < m_text.size() && (m_text[m_pos] == 'E' || m_text[m_pos] == 'e')) {
            size_t p = m_pos + 1;
            if (p < m_text.size() && (m_text[p] == '+' || m_text[p] == '-')) ++p;
            if (p < m_text.size() && m_text[p] >= '0' && m_text[p] <= '9') {
                m_pos = p;
                while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9') ++m_pos;
            }
        }
        std::string digits(m_text.substr(start, m_pos - start));
        if (digits.front() == '.') digits.insert(0, 1, '0');
        double value = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (ec != std::errc() || end != digits.data() + digits.size()) return fail(Err::Name);
        Instr i;
        i.op = Op::Number;
        i.number = value;
        m_out.push_back(i);
    }

    // 'Fehlerhafte Zeilen'!A1: quotes inside the name are doubled.
    bool quoted_name(std::string& name) {
        ++m_pos;
        while (m_pos < m_text.size()) {
            const char ch = m_text[m_pos++];
            if (ch != '\'') {
                name.push_back(ch);
            } else if (m_pos < m_text.size() && m_text[m_pos] == '\'') {
                name.push_back('\'');
                ++m_pos;
            } else {
                return m_pos < m_text.size() && m_text[m_pos++] == '!';
            }
        }
        return false;
    }

    // One side of a reference: "$F$20", "F20", or a bare column "F" when a column range is allowed.
    bool cell_part(int32_t& row, int32_t& col) {
        size_t p = m_pos;
        if (p < m_text.size() && m_text[p] == '$') ++p;
        int32_t letters = 0;
        int64_t c = 0;
        while (p < m_text.size() && std::isalpha(static_cast<unsigned char>(m_text[p])) &&
               letters <= kMaxColumnLetters) {
            c = c * 26 + (std::toupper(static_cast<unsigned char>(m_text[p])) - 'A' + 1);
            ++p, ++letters;
        }
        if (letters == 0 || letters > kMaxColumnLetters || c > kMaxCol) return false;
        if (p < m_text.size() && m_text[p] == '$') ++p;
        int64_t r = 0;
        int32_t digits = 0;
        while (p < m_text.size() && m_text[p] >= '0' && m_text[p] <= '9' && digits <= 7) {
            r = r * 10 + (m_text[p] - '0');
            ++p, ++digits;
        }
        if (digits > 7 || r > kMaxRow || (digits > 0 && r == 0)) return false;
        if (p < m_text.size() && is_name_char(m_text[p])) return false;
        m_pos = p;
        col = static_cast<int32_t>(c);
        row = static_cast<int32_t>(r);  // 0: a bare column
        return true;
    }

    void reference(int32_t sheet) {
        Instr i;
        i.op = Op::Ref;
        i.sheet = sheet;
        if (!cell_part(i.row1, i.col1)) return fail(Err::Name);
        i.row2 = i.row1, i.col2 = i.col1;
        if (m_pos < m_text.size() && m_text[m_pos] == ':') {
            ++m_pos;
            if (!cell_part(i.row2, i.col2)) return fail(Err::Name);
        } else if (i.row1 == 0) {
            return fail(Err::Name);  // a bare column only as part of "F:F"
        }
        if ((i.row1 == 0) != (i.row2 == 0)) return fail(Err::Name);
        if (i.row1 == 0) i.row1 = 1, i.row2 = kMaxRow;  // "F:F"
        if (i.row1 > i.row2) std::swap(i.row1, i.row2);
        if (i.col1 > i.col2) std::swap(i.col1, i.col2);
        m_out.push_back(i);
    }

    void function(std::string_view name, int depth) {
        Op op;
        if (equals_ci(name, "ROUND"))
            op = Op::Round;
        else if (equals_ci(name, "SUM"))
            op = Op::Sum;
        else
            return fail(Err::Name);
        uint16_t argc = 0;
        if (peek() != ')') {
            for (;;) {
                expression(depth + 1);
                if (m_error != Err::None) return;
                if (++argc > 255) return fail(Err::Name);
                if (peek() != ',') break;
                ++m_pos;
            }
        }
        if (peek() != ')') return fail(Err::Name);
        ++m_pos;
        if ((op == Op::Round && argc != 2) || (op == Op::Sum && argc == 0)) return fail(Err::Name);
        emit(op, argc);
    }

    std::string_view m_text;
    size_t m_pos = 0;
    int32_t m_own_sheet;
    SheetLookup m_lookup;
    const void* m_context;
    std::vector<Instr>& m_out;
    Err m_error = Err::None;
};

// Memo of formula cells: open addressing over 16-byte slots, since a large bill holds millions
// of formula cells. The key packs sheet, row and column; its top byte holds the state.
class Memo {
public:
    enum State : uint8_t { Expanded = 1, Done = 2 };
    struct Slot {
        uint64_t key = 0;  // 0: free
        double value = 0;
    };
    static constexpr uint64_t kKeyMask = (uint64_t{1} << 56) - 1;

    static uint64_t make_key(int32_t sheet, int32_t row, int32_t col) {
        return (static_cast<uint64_t>(sheet + 1) << 36) | (static_cast<uint64_t>(row) << 15) |
               static_cast<uint64_t>(col);
    }
    static int32_t sheet_of(uint64_t key) { return static_cast<int32_t>((key & kKeyMask) >> 36) - 1; }
    static int32_t row_of(uint64_t key) { return static_cast<int32_t>((key >> 15) & 0x1FFFFF); }
    static int32_t col_of(uint64_t key) { return static_cast<int32_t>(key & 0x7FFF); }
    static State state_of(const Slot& s) { return static_cast<State>((s.key >> 56) & 0x3); }
    static Err error_of(const Slot& s) { return static_cast<Err>((s.key >> 58) & 0x7); }

    Slot* find(uint64_t key) {
        if (m_slots.empty()) return nullptr;
        for (size_t i = hash(key);; i = (i + 1) & (m_slots.size() - 1)) {
            Slot& s = m_slots[i];
            if (s.key == 0) return nullptr;
            if ((s.key & kKeyMask) == key) return &s;
        }
    }

    void reserve(size_t entries) {
        size_t size = m_slots.empty() ? 1024 : m_slots.size();
        while ((entries + 1) * 4 >= size * 3) size *= 2;
        if (size > m_slots.size()) rehash(size);
    }

    // Existing or new slot; a new one starts Expanded.
    Slot& insert(uint64_t key) {
        if ((m_count + 1) * 4 >= m_slots.size() * 3) rehash(m_slots.empty() ? 1024 : m_slots.size() * 2);
        for (size_t i = hash(key);; i = (i + 1) & (m_slots.size() - 1)) {
            Slot& s = m_slots[i];
            if ((s.key & kKeyMask) == key) return s;
            if (s.key == 0) {
                s.key = key | (uint64_t{Expanded} << 56);
                ++m_count;
                return s;
            }
        }
    }

    static void finish(Slot& s, double value, Err error) {
        s.key = (s.key & kKeyMask) | (uint64_t{Done} << 56) | (static_cast<uint64_t>(error) << 58);
        s.value = value;
    }

private:
    size_t hash(uint64_t key) const {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (m_slots.size() - 1);
    }
    void rehash(size_t size) {
        std::vector<Slot> old = std::move(m_slots);
        m_slots.assign(size, Slot{});
        for (const Slot& s : old) {
            if (s.key == 0) continue;
            for (size_t i = hash(s.key & kKeyMask);; i = (i + 1) & (m_slots.size() - 1))
                if (m_slots[i].key == 0) {
                    m_slots[i] = s;
                    break;
                }
        }
    }

    std::vector<Slot> m_slots;
    size_t m_count = 0;
};

// A value on the evaluation stack: a number, an error, or a reference to a cell or range.
struct Val {
    enum Kind : uint8_t { Number, Error, Reference } kind = Number;
    Err err = Err::None;
    double number = 0;
    const Instr* ref = nullptr;
};

const Sheet::Cell* find_cell(const Sheet& sheet, int32_t row, int32_t col) {
    const auto& cells = sheet.row_cells(row);
    auto it = std::lower_bound(cells.begin(), cells.end(), col,
                               [](const Sheet::Cell& c, int32_t k) { return c.col < k; });
    return (it != cells.end() && it->col == col) ? &*it : nullptr;
}

// a and b equal to within 2^-48 of a, as the spreadsheet compares them.
bool approx_equal(double a, double b) {
    if (a == b) return true;
    return std::fabs(a - b) < std::fabs(a) * (1.0 / (16777216.0 * 16777216.0));
}

// + and - as the spreadsheet computes them: a result that is only rounding noise is 0
// (0.1 + 0.2 - 0.3 gives 0).
double approx_add(double a, double b) {
    if (((a < 0 && b > 0) || (b < 0 && a > 0)) && approx_equal(a, -b)) return 0;
    return a + b;
}
double approx_sub(double a, double b) {
    if (((a < 0 && b < 0) || (a > 0 && b > 0)) && approx_equal(a, b)) return 0;
    return a - b;
}

// SUM as LibreOffice adds: Neumaier's compensated sum, the latest addend held back and added
// last, where a result that is only rounding noise becomes 0.
class KahanSum {
public:
    void add(double x) {
        if (x == 0) return;
        if (m_held == 0) {
            m_held = x;
            return;
        }
        compensated(m_held);
        m_held = x;
    }
    double get() const {
        const double total = m_sum + m_error;
        if (m_held == 0) return total;
        if (((m_held < 0 && total > 0) || (total < 0 && m_held > 0)) && approx_equal(m_held, -total))
            return 0;
        KahanSum last = *this;
        last.compensated(m_held);
        return last.m_sum + last.m_error;
    }

private:
    void compensated(double x) {
        const double t = m_sum + x;
        if (std::fabs(m_sum) >= std::fabs(x))
            m_error += (m_sum - t) + x;
        else
            m_error += (x - t) + m_sum;
        m_sum = t;
    }

    double m_sum = 0, m_error = 0, m_held = 0;
};

}  // namespace

struct FormulaEvaluator::Impl {
    const Workbook& book;
    std::vector<const Sheet*> sheets;
    Memo memo;
    // Scratch space of one run, reused so that millions of formulas allocate nothing.
    std::vector<Instr> program;
    std::vector<Val> stack;
    std::vector<uint64_t> missing;
    std::vector<uint64_t> work, pending;  // of resolve
    bool cycle = false;

    explicit Impl(const Workbook& b) : book(b) {
        for (const Sheet* s : b.sheets_in_tab_order()) sheets.push_back(s);
    }

    int32_t index_of(const Sheet& sheet) {
        for (size_t i = 0; i < sheets.size(); ++i)
            if (sheets[i] == &sheet) return static_cast<int32_t>(i);
        sheets.push_back(&sheet);
        return static_cast<int32_t>(sheets.size() - 1);
    }

    static int32_t lookup_sheet(const void* context, std::string_view name) {
        const auto* self = static_cast<const Impl*>(context);
        for (size_t i = 0; i < self->sheets.size(); ++i)
            if (equals_ci(self->sheets[i]->name(), name)) return static_cast<int32_t>(i);
        return -1;
    }

    // The value of a formula cell for a running evaluation: known, or noted as missing.
    Val formula_value(int32_t sheet, int32_t row, int32_t col) {
        const uint64_t key = Memo::make_key(sheet, row, col);
        const Memo::Slot* slot = memo.find(key);
        if (slot && Memo::state_of(*slot) == Memo::Done) {
            const Err e = Memo::error_of(*slot);
            return e == Err::None ? Val{Val::Number, Err::None, slot->value, nullptr}
                                  : Val{Val::Error, e, 0, nullptr};
        }
        // Expanded means the cell waits for this one further up: a cycle.
        if (slot)
            cycle = true;
        else
            missing.push_back(key);
        return Val{};
    }

    // A single cell as an operand of arithmetic: empty is 0, text must read as a number.
    Val cell_operand(int32_t sheet, int32_t row, int32_t col) {
        if (sheet < 0) return Val{Val::Error, Err::Ref, 0, nullptr};
        const Sheet::Cell* c = find_cell(*sheets[static_cast<size_t>(sheet)], row, col);
        if (!c) return Val{};
        switch (c->kind) {
            case CellKind::Empty:
                return Val{};
            case CellKind::Number:
                return Val{Val::Number, Err::None, c->num, nullptr};
            case CellKind::Formula:
                return formula_value(sheet, row, col);
            case CellKind::Text: {
                const std::string_view text = trim_ctl(sheets[static_cast<size_t>(sheet)]->cell_string(*c));
                if (auto n = parse_decimal(text)) return Val{Val::Number, Err::None, *n, nullptr};
                return Val{Val::Error, Err::Value, 0, nullptr};
            }
        }
        return Val{};
    }

    Val as_number(const Val& v) {
        if (v.kind != Val::Reference) return v;
        const Instr& r = *v.ref;
        if (r.row1 != r.row2 || r.col1 != r.col2) return Val{Val::Error, Err::Value, 0, nullptr};
        return cell_operand(r.sheet, r.row1, r.col1);
    }

    // SUM over one argument: text and empty cells in references are skipped, errors propagate.
    // A range is added column by column, as the spreadsheet walks it.
    Err add_to_sum(const Val& v, KahanSum& sum) {
        if (v.kind == Val::Error) return v.err;
        if (v.kind == Val::Number) {
            sum.add(v.number);
            return Err::None;
        }
        const Instr& r = *v.ref;
        if (r.sheet < 0) return Err::Ref;
        const Sheet& sheet = *sheets[static_cast<size_t>(r.sheet)];
        const int32_t last = std::min(r.row2, sheet.last_row());
        Err first_error = Err::None;
        for (int32_t col = r.col1; col <= r.col2; ++col) {
            for (int32_t row = r.row1; row <= last; ++row) {
                const auto& cells = sheet.row_cells(row);
                const auto it = std::lower_bound(cells.begin(), cells.end(), col,
                                                 [](const Sheet::Cell& c, int32_t k) { return c.col < k; });
                if (it == cells.end() || it->col != col) continue;
                if (it->kind == CellKind::Number) {
                    sum.add(it->num);
                } else if (it->kind == CellKind::Formula) {
                    const Val f = formula_value(r.sheet, row, col);
                    if (f.kind == Val::Error && first_error == Err::None) first_error = f.err;
                    sum.add(f.number);
                }
            }
        }
        return first_error;
    }

    static Val error(Err e) { return Val{Val::Error, e, 0, nullptr}; }
    static Val number(double x) {
        if (!std::isfinite(x)) return error(Err::Num);
        if (x == 0) x = 0;  // the spreadsheet knows no negative zero
        return Val{Val::Number, Err::None, x, nullptr};
    }

    // One pass over a formula. Formula cells it needs that are not yet known land in `missing`;
    // the result is only valid when `missing` stays empty and no cycle was seen.
    Val run(std::string_view text, int32_t own_sheet) {
        Parser parser(text, own_sheet, &Impl::lookup_sheet, this, program);
        if (const Err e = parser.parse(); e != Err::None) return error(e);
        stack.clear();
        for (const Instr& in : program) {
            switch (in.op) {
                case Op::Number:
                    stack.push_back(number(in.number));
                    break;
                case Op::Ref:
                    stack.push_back(Val{Val::Reference, Err::None, 0, &in});
                    break;
                case Op::Neg: {
                    const Val a = as_number(stack.back());
                    stack.back() = a.kind == Val::Error ? a : number(-a.number);
                    break;
                }
                case Op::Add:
                case Op::Sub:
                case Op::Mul:
                case Op::Div: {
                    const Val b = as_number(stack.back());
                    stack.pop_back();
                    const Val a = as_number(stack.back());
                    Val r;
                    if (a.kind == Val::Error)
                        r = a;
                    else if (b.kind == Val::Error)
                        r = b;
                    else if (in.op == Op::Add)
                        r = number(approx_add(a.number, b.number));
                    else if (in.op == Op::Sub)
                        r = number(approx_sub(a.number, b.number));
                    else if (in.op == Op::Mul)
                        r = number(a.number * b.number);
                    else if (b.number == 0)
                        r = error(Err::Div0);
                    else
                        r = number(a.number / b.number);
                    stack.back() = r;
                    break;
                }
                case Op::Round: {
                    const Val digits = as_number(stack.back());
                    stack.pop_back();
                    const Val x = as_number(stack.back());
                    if (x.kind == Val::Error)
                        stack.back() = x;
                    else if (digits.kind == Val::Error)
                        stack.back() = digits;
                    else {
                        // The digits are truncated; beyond ±400 the result no longer changes.
                        const double d = std::clamp(std::trunc(digits.number), -400.0, 400.0);
                        stack.back() = number(excel_round(x.number, static_cast<int>(d)));
                    }
                    break;
                }
                case Op::Sum: {
                    KahanSum sum;
                    Err e = Err::None;
                    const size_t first = stack.size() - in.argc;
                    for (size_t i = first; i < stack.size(); ++i) {
                        const Err ei = add_to_sum(stack[i], sum);
                        if (e == Err::None) e = ei;
                    }
                    stack.resize(first);
                    stack.push_back(e != Err::None ? error(e) : number(sum.get()));
                    break;
                }
            }
        }
        // A formula that is a bare reference shows the referenced value.
        return stack.size() == 1 ? as_number(stack.back()) : error(Err::Name);
    }

    // Evaluates a formula cell and every formula cell it depends on, without recursion: the work
    // list holds cells whose inputs are still unknown. A cell being worked on (Expanded) lies
    // below everything pushed after it, so meeting an Expanded cell as an input is a cycle.
    void resolve(uint64_t root) {
        work.assign(1, root);
        while (!work.empty()) {
            const uint64_t key = work.back();
            Memo::Slot* slot = memo.find(key);
            if (slot && Memo::state_of(*slot) == Memo::Done) {
                work.pop_back();
                continue;
            }
            memo.insert(key);
            const int32_t sheet = Memo::sheet_of(key);
            const Sheet& s = *sheets[static_cast<size_t>(sheet)];
            const Sheet::Cell* c = find_cell(s, Memo::row_of(key), Memo::col_of(key));
            missing.clear();
            cycle = false;
            Val v = (c && c->kind == CellKind::Formula)
                        ? run(s.cell_string(*c), sheet)
                        : cell_operand(sheet, Memo::row_of(key), Memo::col_of(key));
            if (cycle) {
                v = error(Err::Value);
            } else if (!missing.empty()) {
                pending.swap(missing);
                for (uint64_t m : pending) work.push_back(m);
                continue;
            }
            Memo::finish(*memo.find(key), v.number, v.kind == Val::Error ? v.err : Err::None);
            work.pop_back();
        }
    }

    static FormulaResult result(const Val& v) {
        FormulaResult r;
        if (v.kind == Val::Error) {
            r.is_error = true;
            r.error = error_text(v.err);
        } else {
            r.value = v.number;
        }
        return r;
    }
};

FormulaEvaluator::FormulaEvaluator(const Workbook& book) : m_impl(new Impl(book)) {}
FormulaEvaluator::~FormulaEvaluator() {
    delete m_impl;
}

FormulaResult FormulaEvaluator::evaluate(const Sheet& sheet, int32_t row, int32_t col) {
    Impl& impl = *m_impl;
    if (row < 1 || row > kMaxRow || col < 1 || col > kMaxCol) return Impl::result(Impl::error(Err::Ref));
    const int32_t index = impl.index_of(sheet);
    const Sheet::Cell* c = find_cell(sheet, row, col);
    if (!c || c->kind != CellKind::Formula) return Impl::result(impl.cell_operand(index, row, col));
    const uint64_t key = Memo::make_key(index, row, col);
    impl.resolve(key);
    const Memo::Slot& slot = *impl.memo.find(key);
    const Err e = Memo::error_of(slot);
    return Impl::result(e == Err::None ? Val{Val::Number, Err::None, slot.value, nullptr} : Impl::error(e));
}

void FormulaEvaluator::reserve(size_t formula_cells) {
    m_impl->memo.reserve(formula_cells);
}

FormulaResult FormulaEvaluator::evaluate_text(const Sheet& sheet, std::string_view formula) {
    Impl& impl = *m_impl;
    const int32_t index = impl.index_of(sheet);
    // Unknown inputs are resolved, then the text runs again; the second run finds them all.
    for (int attempt = 0;; ++attempt) {
        impl.missing.clear();
        impl.cycle = false;
        const Val v = impl.run(formula, index);
        if (impl.missing.empty() || attempt > 0)
            return Impl::result(impl.missing.empty() ? v : Impl::error(Err::Value));
        std::vector<uint64_t> inputs;
        inputs.swap(impl.missing);
        for (uint64_t key : inputs) impl.resolve(key);
    }
}

}  // namespace workbook
