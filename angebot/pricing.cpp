// SPDX-License-Identifier: MIT
#include "angebot/pricing.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "workbook/numbers.h"
#include "workbook/text.h"

namespace angebot {

namespace {

// GAEB keeps unit prices to three decimals; larger values than these are no prices of a bid.
constexpr int kMaxPriceDecimals = 3;
constexpr double kMaxUnitPrice = 1e11;
constexpr double kMaxTotal = 1e14;
constexpr size_t kMaxQuotedText = 40;

int64_t to_cents(double amount) {
    return std::llround(workbook::excel_round(amount, 2) * 100.0);
}

// A text in column A that an estimator would take for an OZ: digits, letters, dots and blanks,
// with a digit in it, and a dot or nothing but digits. Labels, notes and sums are none.
bool looks_like_oz(std::string_view text) {
    if (text.empty() || text.size() > 40) return false;
    bool digit = false, dot = false, other = false;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c == '.')
            dot = true;
        else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ')
            other = true;
        else
            return false;
    }
    return digit && (dot || !other);
}

std::string quote_text(std::string_view text) {
    const std::string_view cut = workbook::utf8_prefix(text, kMaxQuotedText);
    return fmt::format("\"{}{}\"", cut, cut.size() < text.size() ? "…" : "");
}

class Pricer {
public:
    Pricer(bill::Bill& model, const PricedWorkbook& book) : m_model(model), m_book(book) {}

    PricingResult run() {
        m_result.item_count = m_model.items().size();
        match();
        decide_refusal();
        for (size_t i = 0; i < m_model.items().size(); ++i)
            if (!m_model.items()[i].surcharge) price_item(i);
        for (size_t i = 0; i < m_model.items().size(); ++i)
            if (m_model.items()[i].surcharge) price_item(i);
        sum_ranges();
        std::stable_sort(m_problems.begin(), m_problems.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        m_result.problems.reserve(m_problems.size());
        for (auto& p : m_problems) m_result.problems.push_back(std::move(p.second));
        return std::move(m_result);
    }

private:
    // Problems of an item carry its index, those of the workbook's own rows come after all items.
    static constexpr size_t kRowProblem = SIZE_MAX;
    void add(size_t item, ProblemKind kind, bool blocking, std::string oz, std::string cell,
             std::string text) {
        m_problems.push_back({item, {kind, blocking, std::move(oz), std::move(cell), std::move(text)}});
    }

    // The k-th item with an OZ takes the k-th row with that OZ, in row order.
    void match() {
        std::unordered_map<std::string_view, std::vector<const PricedRow*>> rows;
        for (const auto& r : m_book.rows) rows[r.oz].push_back(&r);
        std::unordered_map<std::string_view, size_t> in_model;
        m_rows.assign(m_model.items().size(), nullptr);
        for (size_t i = 0; i < m_model.items().size(); ++i) {
            const std::string_view oz = workbook::trim_ctl(m_model.items()[i].oz);
            const auto it = rows.find(oz);
            size_t& k = in_model[oz];
            if (it != rows.end() && k < it->second.size()) {
                m_rows[i] = it->second[k];
            } else {
                ++m_missing;
                add(i, ProblemKind::ItemMissing, true, std::string(oz), {},
                    fmt::format("OZ {}: die Position fehlt im Tabellenblatt \"{}\"", oz, kSheetName));
            }
            ++k;
        }
        std::unordered_map<std::string_view, size_t> seen;
        for (const auto& r : m_book.rows) {
            const size_t k = seen[r.oz]++;
            const auto it = in_model.find(r.oz);
            const size_t wanted = it == in_model.end() ? 0 : it->second;
            const std::string cell = m_book.address(r.row, m_book.oz_col);
            if (wanted == 0) {
                if (!looks_like_oz(r.oz)) continue;
                ++m_foreign;
                add(kRowProblem, ProblemKind::ForeignOz, true, r.oz, cell,
                    fmt::format("{}: die OZ {} gibt es im Leistungsverzeichnis nicht", cell, r.oz));
            } else if (k >= wanted) {
                add(kRowProblem, ProblemKind::DuplicateOz, true, r.oz, cell,
                    fmt::format("{}, OZ {}: die OZ steht mehrfach im Tabellenblatt (zuerst in Zeile {})",
                                cell, r.oz, rows[r.oz].front()->row));
            }
        }
    }

    void decide_refusal() {
        const size_t items = m_model.items().size();
        std::vector<std::string> reasons;
        if (items == 0) {
            m_result.refused = true;
            m_result.refusal =
                "Das Leistungsverzeichnis enthält keine Positionen; es gibt nichts anzubieten.";
            return;
        }
        if (m_foreign > 0)
            reasons.push_back(
                fmt::format("{} OZ des Tabellenblatts \"{}\" gibt es im Leistungsverzeichnis nicht",
                            m_foreign, kSheetName));
        if (m_missing * 2 > items)
            reasons.push_back(
                fmt::format("{} von {} Positionen fehlen in der Arbeitsmappe", m_missing, items));
        if (reasons.empty()) return;
        m_result.refused = true;
        std::string text = "Die Arbeitsmappe ist nicht aus diesem Leistungsverzeichnis erstellt: ";
        for (size_t i = 0; i < reasons.size(); ++i) text += (i ? "; " : "") + reasons[i];
        m_result.refusal = text + ".";
    }

    // The unit price cell checked; nullopt after a blocking fault.
    std::optional<double> unit_price(const bill::Item& item, const PricedRow& row) {
        const CellContent& c = row.unit_price;
        const std::string cell = m_book.address(row.row, m_book.price_col);
        const std::string head = fmt::format("{}, OZ {}", cell, row.oz);
        const char* what = item.surcharge ? "Zuschlagssatz" : "Einheitspreis";
        auto block = [&](ProblemKind kind, std::string text) {
            add(m_current, kind, true, row.oz, cell, fmt::format("{}: {}", head, text));
            return std::nullopt;
        };
        switch (c.type) {
            case CellType::Empty:
                return block(ProblemKind::PriceMissing, fmt::format("kein {}", what));
            case CellType::Text:
                if (workbook::trim_ctl(c.text).empty())
                    return block(ProblemKind::PriceMissing, fmt::format("kein {}", what));
                return block(ProblemKind::PriceNotANumber,
                             fmt::format("{} ist keine Zahl: {}", what, quote_text(c.text)));
            case CellType::Boolean:
                return block(ProblemKind::PriceNotANumber,
                             fmt::format("{} ist keine Zahl: {}", what, c.text));
            case CellType::Error:
                return block(ProblemKind::PriceNotANumber,
                             fmt::format("Fehlerwert {} statt eines {}es", c.text, what));
            case CellType::FormulaWithoutValue:
                return block(
                    ProblemKind::PriceNotANumber,
                    fmt::format("die Formel des {}es hat kein gespeichertes Ergebnis (die Arbeitsmappe in "
                                "der Tabellenkalkulation neu berechnen und speichern)",
                                what));
            case CellType::Number:
                break;
        }
        const double value = spreadsheet_value(c.number);
        if (value == 0) return block(ProblemKind::PriceZero, fmt::format("{} 0", what));
        if (std::fabs(value) >= kMaxUnitPrice)
            return block(ProblemKind::PriceOutOfRange,
                         fmt::format("{} {} ist zu groß", what, german_number(value)));
        if (decimals_of(value) > kMaxPriceDecimals)
            return block(
                ProblemKind::PriceTooPrecise,
                fmt::format("{} {} hat mehr als drei Nachkommastellen; ein GAEB-Angebot hat höchstens drei",
                            what, german_number(value)));
        if (value < 0)
            add(m_current, ProblemKind::PriceNegative, false, row.oz, cell,
                fmt::format("{}: negativer {} {}", head, what, german_number(value)));
        return value;
    }

    void price_item(size_t index) {
        m_current = index;
        bill::Item& item = m_model.items()[index];
        const PricedRow* row = m_rows[index];
        if (row == nullptr) return;
        const std::optional<double> up = unit_price(item, *row);
        if (!up) return;
        item.unit_price = *up;
        ++m_result.priced_count;
        if (item.surcharge) {
            price_surcharge(index);
            check_total(item, *row);
            return;
        }
        quantity(item, *row);
        if (!item.counts_in_total()) return;
        const double total = workbook::excel_round(item.quantity_used.value_or(0) * *up, 2);
        if (std::fabs(total) >= kMaxTotal) {
            add(m_current, ProblemKind::PriceOutOfRange, true, row->oz,
                m_book.address(row->row, m_book.price_col),
                fmt::format("{}, OZ {}: der Gesamtbetrag {} ist zu groß",
                            m_book.address(row->row, m_book.price_col), row->oz, german_number(total)));
            item.unit_price.reset();
            --m_result.priced_count;
            return;
        }
        item.total_cents = to_cents(total);
        check_total(item, *row);
    }

    // Column F as the workbook stored it against the total of the bid.
    void check_total(const bill::Item& item, const PricedRow& row) {
        if (!item.total_cents || row.total.type != CellType::Number) return;
        const double total = static_cast<double>(*item.total_cents) / 100.0;
        if (std::fabs(row.total.number - total) <= 0.005) return;
        const std::string cell = m_book.address(row.row, m_book.total_col);
        add(m_current, ProblemKind::TotalDiffers, false, row.oz, cell,
            fmt::format("{}, OZ {}: G-Preis {} weicht vom berechneten Gesamtbetrag {} ab", cell, row.oz,
                        german_number(row.total.number), german_number(total)));
    }

    // The tender's quantity; the bidder's from the workbook where the tender has none.
    void quantity(bill::Item& item, const PricedRow& row) {
        const std::string cell = m_book.address(row.row, m_book.quantity_col);
        const bool in_book = row.quantity.type == CellType::Number;
        if (item.quantity) {
            item.quantity_used = item.quantity;
            const double q = *item.quantity;
            if (in_book && std::fabs(row.quantity.number - q) > 1e-9 * std::max(1.0, std::fabs(q)))
                add(m_current, ProblemKind::QuantityDiffers, false, row.oz, cell,
                    fmt::format("{}, OZ {}: Menge {} weicht vom Leistungsverzeichnis ab ({}); das Angebot "
                                "enthält die "
                                "Menge des Leistungsverzeichnisses",
                                cell, row.oz, german_number(row.quantity.number), german_number(q)));
        } else if (in_book) {
            item.quantity_used = spreadsheet_value(row.quantity.number);
        } else if (item.counts_in_total()) {
            add(m_current, ProblemKind::QuantityMissing, false, row.oz, cell,
                fmt::format("{}, OZ {}: keine Menge; der Gesamtbetrag ist 0,00", cell, row.oz));
        }
    }

    // Surcharge on: AllInCat the items of its list before it (back to the surcharges before
    // those), IdentAsMark the marked ones among them, ListInSubQty the items it lists.
    void price_surcharge(size_t index) {
        bill::Item& item = m_model.items()[index];
        int64_t base = 0;
        if (item.markup_type == bill::MarkupType::ListInSubQty) {
            if (m_by_id.empty())
                for (size_t i = 0; i < m_model.items().size(); ++i)
                    if (!m_model.items()[i].id.empty()) m_by_id.emplace(m_model.items()[i].id, i);
            for (const auto& ref : item.markup_refs) {
                const auto it = m_by_id.find(ref.item_id);
                if (it == m_by_id.end()) continue;
                const bill::Item& target = m_model.items()[it->second];
                if (!target.unit_price || target.surcharge) continue;
                if (ref.sub_quantity)
                    base += to_cents(*ref.sub_quantity * *target.unit_price);
                else if (target.total_cents)
                    base += *target.total_cents;
            }
        } else {
            const bill::Range& parent = m_model.ranges()[range_of(index)];
            size_t at = 0;
            while (at < parent.children.size() &&
                   !(parent.children[at].is_item() && parent.children[at].index == index))
                ++at;
            bool in_own_run = true;
            while (at-- > 0) {
                const bill::Entry& e = parent.children[at];
                if (!e.is_item()) continue;
                const bill::Item& before = m_model.items()[e.index];
                if (before.surcharge) {
                    if (in_own_run) continue;
                    break;
                }
                in_own_run = false;
                if (item.markup_type == bill::MarkupType::IdentAsMark && !before.markup_subject) continue;
                if (before.total_cents && before.counts_in_total()) base += *before.total_cents;
            }
        }
        item.markup_base = static_cast<double>(base) / 100.0;
        item.total_cents = to_cents(*item.markup_base * *item.unit_price / 100.0);
    }

    uint32_t range_of(size_t item_index) {
        if (m_item_range.empty()) {
            m_item_range.assign(m_model.items().size(), 0);
            for (uint32_t r = 0; r < m_model.ranges().size(); ++r)
                for (const bill::Entry& e : m_model.ranges()[r].children)
                    if (e.is_item()) m_item_range[e.index] = r;
        }
        return m_item_range[item_index];
    }

    void sum_ranges() {
        auto& ranges = m_model.ranges();
        for (auto& r : ranges) r.total_cents = 0;
        for (auto& r : ranges)
            for (const bill::Entry& e : r.children)
                if (e.is_item()) {
                    const bill::Item& item = m_model.items()[e.index];
                    if (item.total_cents && item.counts_in_total()) r.total_cents += *item.total_cents;
                }
        // A range is always stored after its parent.
        for (size_t r = ranges.size(); r-- > 1;)
            ranges[ranges[r].parent].total_cents += ranges[r].total_cents;
    }

    bill::Bill& m_model;
    const PricedWorkbook& m_book;
    PricingResult m_result;
    std::vector<const PricedRow*> m_rows;  // per item, its row or null
    std::vector<std::pair<size_t, Problem>> m_problems;
    std::vector<uint32_t> m_item_range;
    std::unordered_map<std::string_view, size_t> m_by_id;
    size_t m_missing = 0, m_foreign = 0;
    size_t m_current = 0;  // the item being priced
};

}  // namespace

size_t PricingResult::blocking_count() const {
    size_t n = 0;
    for (const auto& p : problems) n += p.blocking ? 1 : 0;
    return n;
}

size_t PricingResult::warning_count() const {
    size_t n = 0;
    for (const auto& p : problems) n += p.kind != ProblemKind::ForeignOz && !p.blocking ? 1 : 0;
    return n;
}

double spreadsheet_value(double value) {
    if (!std::isfinite(value) || value == 0) return value;
    const std::string text = fmt::format("{:.15g}", value);
    return workbook::parse_decimal(text).value_or(std::stod(text));
}

int decimals_of(double value) {
    if (!std::isfinite(value)) return 0;
    std::string text = fmt::format("{:.15g}", std::fabs(value));
    const size_t e = text.find('e');
    int exponent = 0;
    if (e != std::string::npos) {
        exponent = std::stoi(text.substr(e + 1));
        text.resize(e);
    }
    const size_t dot = text.find('.');
    int decimals = dot == std::string::npos ? 0 : static_cast<int>(text.size() - dot - 1);
    decimals -= exponent;
    return decimals < 0 ? 0 : decimals;
}

std::string german_number(double value) {
    std::string text = fmt::format("{:.15g}", spreadsheet_value(value));
    if (text.find('e') != std::string::npos) return text;
    for (char& c : text)
        if (c == '.') c = ',';
    return text;
}

PricingResult price(bill::Bill& model, const PricedWorkbook& workbook) {
    for (bill::Item& item : model.items()) {
        item.unit_price.reset();
        item.quantity_used.reset();
        item.markup_base.reset();
        item.total_cents.reset();
    }
    return Pricer(model, workbook).run();
}

}  // namespace angebot
