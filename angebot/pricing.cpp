// SPDX-License-Identifier: MIT
#include "angebot/pricing.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "workbook/numbers.h"
#include "workbook/text.h"

namespace angebot {

namespace {

// GAEB keeps unit prices to three decimals; larger values than these are no prices of a bid.
constexpr int kMaxPriceDecimals = 3;
constexpr double kMaxUnitPrice = 1e11;
constexpr size_t kMaxQuotedText = 40;

// An amount in cents, or nothing when it is beyond what a bid carries (kMaxAmountCents).
std::optional<int64_t> to_cents(double amount) {
    const double rounded = workbook::excel_round(amount, 2);
    if (!std::isfinite(rounded) || std::fabs(rounded) * 100.0 >= static_cast<double>(kMaxAmountCents))
        return std::nullopt;
    const int64_t cents = std::llround(rounded * 100.0);
    if (cents <= -kMaxAmountCents || cents >= kMaxAmountCents) return std::nullopt;
    return cents;
}

// sum + cents, when it stays within what a bid carries; both are within it already, so the
// addition itself cannot overflow.
std::optional<int64_t> add_cents(int64_t sum, int64_t cents) {
    const int64_t result = sum + cents;
    if (result <= -kMaxAmountCents || result >= kMaxAmountCents) return std::nullopt;
    return result;
}

// A value the bid can carry at all: finite, and 0 or a normal double.
bool carriable(double value) {
    return std::isfinite(value) && std::fpclassify(value) != FP_SUBNORMAL;
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

// "zu groß für ein Angebot (höchstens 9.999.999.999.999,99)".
std::string beyond_bid() {
    std::string limit = std::to_string((kMaxAmountCents - 1) / 100);
    for (int at = static_cast<int>(limit.size()) - 3; at > 0; at -= 3)
        limit.insert(static_cast<size_t>(at), ".");
    return fmt::format("zu groß für ein Angebot (höchstens {},{:02})", limit, (kMaxAmountCents - 1) % 100);
}

// What is wrong with a cell that should hold a number, by the name of what it holds
// ("Einheitspreis", "Basispreis"); nothing when it holds a usable number other than 0.
struct CellFault {
    ProblemKind kind;
    std::string text;
};
std::optional<CellFault> cell_fault(const CellContent& c, const std::string& what) {
    // The genitive of the names used here: "eines Einheitspreises", "eines Faktors".
    const std::string genitive = what + (what.ends_with("s") || what.ends_with("z") ? "es" : "s");
    switch (c.type) {
        case CellType::Empty:
            return CellFault{ProblemKind::PriceMissing, fmt::format("kein {}", what)};
        case CellType::Text:
            if (workbook::trim_ctl(c.text).empty())
                return CellFault{ProblemKind::PriceMissing, fmt::format("kein {}", what)};
            return CellFault{ProblemKind::PriceNotANumber,
                             fmt::format("{} ist keine Zahl: {}", what, quote_text(c.text))};
        case CellType::Boolean:
            return CellFault{ProblemKind::PriceNotANumber,
                             fmt::format("{} ist keine Zahl: {}", what, c.text)};
        case CellType::Error:
            return CellFault{ProblemKind::PriceNotANumber, fmt::format("Fehlerwert {} statt eines {}",
                                                                       german_error_name(c.text), genitive)};
        case CellType::FormulaWithoutValue:
            return CellFault{
                ProblemKind::PriceNotANumber,
                fmt::format("die Formel des {} hat kein gespeichertes Ergebnis (die Arbeitsmappe in "
                            "der Tabellenkalkulation neu berechnen und speichern)",
                            genitive)};
        case CellType::NumberOutOfRange:
            return CellFault{ProblemKind::PriceOutOfRange,
                             fmt::format("{} {} liegt außerhalb der Zahlen, die ein Angebot tragen kann",
                                         what, quote_text(c.text))};
        case CellType::Number:
            if (!carriable(c.number))
                return CellFault{ProblemKind::PriceOutOfRange,
                                 fmt::format("{} {} liegt außerhalb der Zahlen, die ein Angebot tragen kann",
                                             what, fmt::format("{}", c.number))};
            if (spreadsheet_value(c.number) == 0)
                return CellFault{ProblemKind::PriceZero, fmt::format("{} 0", what)};
            return std::nullopt;
    }
    return std::nullopt;
}

// What E shows, for a message about the cell it is computed from.
std::string shown_in(const CellContent& c) {
    switch (c.type) {
        case CellType::Error:
            return german_error_name(c.text);
        case CellType::Number:
            return german_number(c.number);
        case CellType::Empty:
        case CellType::FormulaWithoutValue:
            return "nichts";
        default:
            return quote_text(c.text);
    }
}

class Pricer {
public:
    Pricer(bill::Bill& model, const PricedWorkbook& book) : m_model(model), m_book(book) {}

    PricingResult run() {
        m_result.item_count = m_model.items().size();
        for (auto& r : m_model.ranges()) r.total_cents = 0;
        match();
        decide_refusal();
        for (size_t i = 0; i < m_model.items().size(); ++i)
            if (!m_model.items()[i].surcharge) price_item(i);
        for (size_t i = 0; i < m_model.items().size(); ++i)
            if (m_model.items()[i].surcharge) price_item(i);
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

    // The unit price checked; nullopt after a blocking fault. Where E is the product of the
    // calculation columns of its row and shows no price, the fault is named at the cell the
    // estimator typed into (G or H) when the cause lies there.
    std::optional<double> unit_price(const bill::Item& item, const PricedRow& row) {
        const CellContent& c = row.unit_price;
        const char* what = item.surcharge ? "Zuschlagssatz" : "Einheitspreis";
        auto block = [&](int32_t col, ProblemKind kind, const std::string& text) {
            const std::string cell = m_book.address(row.row, col);
            add(m_current, kind, true, row.oz, cell, fmt::format("{}, OZ {}: {}", cell, row.oz, text));
            return std::nullopt;
        };
        if (const std::optional<CellFault> fault = cell_fault(c, what)) {
            if (row.calculated_price) {
                const std::pair<int32_t, const CellContent*> inputs[] = {{m_book.base_col, &row.base_price},
                                                                         {m_book.factor_col, &row.factor}};
                for (const auto& [col, content] : inputs) {
                    const char* name = col == m_book.base_col ? "Basispreis" : "Faktor";
                    if (const std::optional<CellFault> cause = cell_fault(*content, name))
                        return block(col, cause->kind,
                                     fmt::format("{} ({} zeigt {})", cause->text,
                                                 m_book.address(row.row, m_book.price_col), shown_in(c)));
                }
            }
            return block(m_book.price_col, fault->kind, fault->text);
        }
        const double value = spreadsheet_value(c.number);
        const std::string cell = m_book.address(row.row, m_book.price_col);
        if (std::fabs(value) >= kMaxUnitPrice)
            return block(m_book.price_col, ProblemKind::PriceOutOfRange,
                         fmt::format("{} {} ist zu groß", what, german_number(value)));
        if (decimals_of(value) > kMaxPriceDecimals)
            return block(
                m_book.price_col, ProblemKind::PriceTooPrecise,
                fmt::format("{} {} hat mehr als drei Nachkommastellen; ein GAEB-Angebot hat höchstens drei",
                            what, german_number(value)));
        if (value < 0)
            add(m_current, ProblemKind::PriceNegative, false, row.oz, cell,
                fmt::format("{}, OZ {}: negativer {} {}", cell, row.oz, what, german_number(value)));
        return value;
    }

    // An amount of the item beyond what a bid carries: the item keeps no price.
    void refuse_amount(bill::Item& item, const PricedRow& row, const std::string& text) {
        const std::string cell = m_book.address(row.row, m_book.price_col);
        add(m_current, ProblemKind::PriceOutOfRange, true, row.oz, cell,
            fmt::format("{}, OZ {}: {}", cell, row.oz, text));
        item.unit_price.reset();
        item.markup_base.reset();
        item.total_cents.reset();
        --m_result.priced_count;
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
            if (price_surcharge(index, *row) && sum_up(index, *row)) check_total(item, *row);
            return;
        }
        if (!quantity(item, *row)) {
            item.unit_price.reset();
            --m_result.priced_count;
            return;
        }
        if (!item.counts_in_total()) return;
        const double total = workbook::excel_round(item.quantity_used.value_or(0) * *up, 2);
        const std::optional<int64_t> cents = to_cents(total);
        if (!cents) {
            refuse_amount(item, *row,
                          fmt::format("der Gesamtbetrag {} ist {}", german_number(total), beyond_bid()));
            return;
        }
        item.total_cents = *cents;
        if (sum_up(index, *row)) check_total(item, *row);
    }

    // Adds the item's total to its range and every range above it, up to the bill. When one of
    // the sums would pass what a bid carries, the item keeps no price and no sum changes.
    bool sum_up(size_t index, const PricedRow& row) {
        bill::Item& item = m_model.items()[index];
        if (!item.total_cents || !item.counts_in_total()) return true;
        std::vector<std::pair<uint32_t, int64_t>> sums;
        for (uint32_t r = range_of(index);; r = m_model.ranges()[r].parent) {
            const std::optional<int64_t> sum = add_cents(m_model.ranges()[r].total_cents, *item.total_cents);
            if (!sum) {
                refuse_amount(item, row,
                              fmt::format("mit dieser Position wird die Summe {} {}",
                                          r == 0 ? std::string("des Leistungsverzeichnisses")
                                                 : "des Bereichs " + range_number(r),
                                          beyond_bid()));
                return false;
            }
            sums.push_back({r, *sum});
            if (r == 0) break;
        }
        for (const auto& [r, sum] : sums) m_model.ranges()[r].total_cents = sum;
        return true;
    }

    // "01.02": the numbers of the range and those above it.
    std::string range_number(uint32_t r) const {
        std::string number;
        for (; r != 0; r = m_model.ranges()[r].parent)
            number = m_model.ranges()[r].rno_part + (number.empty() ? "" : ".") + number;
        return number;
    }

    // Column F as the workbook stored it against the total of the bid.
    void check_total(const bill::Item& item, const PricedRow& row) {
        if (!item.total_cents) return;
        const double total = static_cast<double>(*item.total_cents) / 100.0;
        const std::string cell = m_book.address(row.row, m_book.total_col);
        std::string stored;
        if (row.total.type == CellType::Number && carriable(row.total.number)) {
            if (std::fabs(row.total.number - total) <= 0.005) return;
            stored = german_number(row.total.number);
        } else if (row.total.type == CellType::NumberOutOfRange) {
            stored = quote_text(row.total.text);
        } else {
            return;
        }
        add(m_current, ProblemKind::TotalDiffers, false, row.oz, cell,
            fmt::format("{}, OZ {}: G-Preis {} weicht vom berechneten Gesamtbetrag {} ab", cell, row.oz,
                        stored, german_number(total)));
    }

    // The tender's quantity; the bidder's from the workbook where the tender has none. False when
    // the workbook's quantity is needed and is no number a bid can carry.
    bool quantity(bill::Item& item, const PricedRow& row) {
        const std::string cell = m_book.address(row.row, m_book.quantity_col);
        const bool in_book = row.quantity.type == CellType::Number && carriable(row.quantity.number);
        if (item.quantity) {
            item.quantity_used = item.quantity;
            const double q = *item.quantity;
            std::string shown;
            if (in_book && std::fabs(row.quantity.number - q) > 1e-9 * std::max(1.0, std::fabs(q)))
                shown = german_number(row.quantity.number);
            else if (row.quantity.type == CellType::NumberOutOfRange)
                shown = quote_text(row.quantity.text);
            if (!shown.empty())
                add(m_current, ProblemKind::QuantityDiffers, false, row.oz, cell,
                    fmt::format("{}, OZ {}: Menge {} weicht vom Leistungsverzeichnis ab ({}); das Angebot "
                                "enthält die Menge des Leistungsverzeichnisses",
                                cell, row.oz, shown, german_number(q)));
        } else if (in_book) {
            item.quantity_used = spreadsheet_value(row.quantity.number);
        } else if (row.quantity.type == CellType::NumberOutOfRange || row.quantity.type == CellType::Number) {
            const std::string shown = row.quantity.type == CellType::Number
                                          ? fmt::format("{}", row.quantity.number)
                                          : quote_text(row.quantity.text);
            add(m_current, ProblemKind::QuantityOutOfRange, true, row.oz, cell,
                fmt::format("{}, OZ {}: Menge {} liegt außerhalb der Zahlen, die ein Angebot tragen kann",
                            cell, row.oz, shown));
            return false;
        } else if (item.counts_in_total()) {
            add(m_current, ProblemKind::QuantityMissing, false, row.oz, cell,
                fmt::format("{}, OZ {}: keine Menge; der Gesamtbetrag ist 0,00", cell, row.oz));
        }
        return true;
    }

    // Surcharge on: AllInCat the items of its list before it (back to the surcharges before
    // those), IdentAsMark the marked ones among them, ListInSubQty the items it lists. False when
    // its base or the surcharge itself is beyond what a bid carries (the item then keeps no price).
    bool price_surcharge(size_t index, const PricedRow& row) {
        bill::Item& item = m_model.items()[index];
        int64_t base = 0;
        auto add_to_base = [&base](std::optional<int64_t> cents) {
            const std::optional<int64_t> sum = cents ? add_cents(base, *cents) : std::nullopt;
            if (sum) base = *sum;
            return sum.has_value();
        };
        bool within = true;
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
                    within = within && add_to_base(to_cents(*ref.sub_quantity * *target.unit_price));
                else if (target.total_cents)
                    within = within && add_to_base(*target.total_cents);
            }
        } else {
            const bill::Range& parent = m_model.ranges()[range_of(index)];
            size_t at = 0;
            while (at < parent.children.size() &&
                   !(parent.children[at].is_item() && parent.children[at].index == index))
                ++at;
            bool in_own_run = true;
            while (at-- > 0 && within) {
                const bill::Entry& e = parent.children[at];
                if (!e.is_item()) continue;
                const bill::Item& before = m_model.items()[e.index];
                if (before.surcharge) {
                    if (in_own_run) continue;
                    break;
                }
                in_own_run = false;
                if (item.markup_type == bill::MarkupType::IdentAsMark && !before.markup_subject) continue;
                if (before.total_cents && before.counts_in_total()) within = add_to_base(*before.total_cents);
            }
        }
        if (!within) {
            refuse_amount(item, row,
                          fmt::format("die Summe der Positionen, auf die der Zuschlag gerechnet wird, ist {}",
                                      beyond_bid()));
            return false;
        }
        item.markup_base = static_cast<double>(base) / 100.0;
        const double surcharge = *item.markup_base * *item.unit_price / 100.0;
        const std::optional<int64_t> cents = to_cents(surcharge);
        if (!cents) {
            refuse_amount(item, row,
                          fmt::format("der Zuschlag {} ist {}", german_number(surcharge), beyond_bid()));
            return false;
        }
        item.total_cents = *cents;
        return true;
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
    const ParsedNumber shown = parse_number(fmt::format("{:.15g}", value));
    return shown.kind == ParsedNumber::Kind::Usable ? shown.value : value;
}

int decimals_of(double value) {
    if (!std::isfinite(value)) return 0;
    std::string text = fmt::format("{:.15g}", std::fabs(value));
    const size_t e = text.find('e');
    int exponent = 0;
    if (e != std::string::npos) {
        std::string_view digits = std::string_view(text).substr(e + 1);
        if (digits.starts_with('+')) digits.remove_prefix(1);
        std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        text.resize(e);
    }
    const size_t dot = text.find('.');
    int decimals = dot == std::string::npos ? 0 : static_cast<int>(text.size() - dot - 1);
    decimals -= exponent;
    return decimals < 0 ? 0 : decimals;
}

std::string german_number(double value) {
    value = spreadsheet_value(value);
    // Beyond 15 digits before the point: four significant digits are enough to see its size.
    std::string text = std::isfinite(value) && std::fabs(value) >= 1e15 ? fmt::format("{:.3e}", value)
                                                                        : fmt::format("{:.15g}", value);
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
