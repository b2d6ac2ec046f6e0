// SPDX-License-Identifier: MIT
// Items and sub-items: the item blocks of StringList4 become item rows with short and long texts.
#include <optional>

#include "gaeb2000/reader.h"
#include "gaeb2000/rtf_to_text.h"
#include "gaeb2000/text_ops.h"
#include "workbook/errors.h"
#include "workbook/guarded.h"
#include "workbook/text.h"

namespace gaeb2000 {
namespace {

constexpr std::string_view kNormalposition = "*** Normalposition, Typ NNN";

// The key value of the first line of `holder` holding `key`; the line is deleted. `where`, when
// given, gets the line (a view into the text the holder's lines view).
std::optional<std::string> take_key(LineList& holder, std::string_view key,
                                    std::string_view* where = nullptr) {
    const int64_t i = holder.find(key);
    if (i == -1) return std::nullopt;
    const std::string_view line = holder.line(i);
    std::string value = key_value(line, key);
    if (where) *where = line;
    holder.erase_line(i);
    return value;
}

// The same for a key of plain text (a unit), which may go on over further lines (key_text).
std::optional<std::string> take_text_key(LineList& holder, std::string_view key) {
    const int64_t i = holder.find(key);
    if (i == -1) return std::nullopt;
    int64_t last = i;
    std::string value = key_text(holder, i, key, 0, &last);
    holder.erase(i, last);
    return value;
}

struct Kind {
    std::string label;
    bool without_total;
};

// "[Bedarf]" compared exactly, letter case included: E, A, G without total, M with.
Kind kind_of(const std::optional<std::string>& bedarf) {
    if (!bedarf || bedarf->empty()) return {std::string(kNormalposition), false};
    const std::string& v = *bedarf;
    if (v == "E") return {"*** Bedarfsposition ohne G-Preis, Typ NEN", true};
    if (v == "A") return {"*** Alternativposition, Typ ANN", true};
    if (v == "G") return {"*** Grundposition, Typ GNN", true};
    if (v == "M") return {"*** Bedarfsposition mit G-Preis, Typ NMN", false};
    return {v, true};
}

}  // namespace

void Reader::read_short_text(LineList& holder) {
    const int64_t k = holder.find("[Kurztext]");
    if (k == -1) return;
    std::string text = DeleteLineKey("[Kurztext]", holder.line(k));
    if (holds_key(text, "[end]")) {
        text = DeleteLineKey("[end]", text);
        holder.erase_line(k);
    } else {
        // The text goes on over the following lines up to the one that holds "[end]". A plain short
        // text is one text wrapped by the exporter: its lines are joined with one blank. In RTF
        // the line breaks of the source are no text.
        const bool rtf = workbook::trim_left_ctl(text).substr(0, 5) == "{\\rtf";
        if (!rtf) text = std::string(workbook::trim_right_ctl(text));
        int64_t j = k + 1;
        bool ended = false;
        for (; j < holder.size(); ++j) {
            const std::string_view l = holder.line(j);
            const std::string_view piece = workbook::trim_ctl(l);
            if (rtf)
                text.append("\r\n");
            else if (!piece.empty() && !text.empty())
                text.push_back(' ');
            text.append(piece);
            if (holds_key(l, "[end]")) {
                ended = true;
                break;
            }
        }
        if (ended) {
            text = DeleteLineKey("[end]", text);
            holder.erase(k, j);
        }
    }
    m_st.RTFMemo5.assign(cell_text(RTFtoText(workbook::trim_ctl(text))));
}

void Reader::Positionen(int64_t limit) {
    using workbook::guarded;
    std::string oz;
    const auto items = [&] {
        while (true) {
            m_st.Memo5.clear();
            m_st.RTFMemo5.clear();
            oz.clear();
            if (m_st.StringList4.empty()) break;
            m_c.ui.process_events();
            const int64_t b = FindeKeyStringList4("#begin[Position]");
            const int64_t e = FindeKeyStringList4("#end[Position]");
            if (b == -1 || e == -1 || e <= b || e >= limit) break;
            MoveBereich(m_st.StringList4, b, e, m_st.Memo5);
            at(m_st.Memo5.line(0));
            m_c.place.leave_item();
            if (limit != INT64_MAX) limit -= e - b + 1;
            m_c.ui.progress_step(m_st.Memo5.size() - 1);
            m_st.Memo5.erase_line(0);
            m_st.Memo5.erase_line(m_st.Memo5.size() - 1);

            if (auto v = take_key(m_st.Memo5, "[OZ]")) oz = field(*v, 40);
            // From here on every message about the item names it as column A does.
            oz = field(FormatPosition(oz, m_st.oz_mask), 40);
            m_c.place.enter_item(oz);
            std::string quantity, unit, unit_price, total_price;
            // The lines of the values, for the place of a value that is no number.
            std::string_view quantity_line, unit_price_line, total_price_line;
            if (auto v = take_key(m_st.Memo5, "[Menge]", &quantity_line)) quantity = field(*v, 40);
            if (auto v = take_text_key(m_st.Memo5, "[ME]")) unit = cell_text(field(*v, 40));
            take_key(m_st.Memo5, "[StLNr]");
            take_key(m_st.Memo5, "[LangtextTB]");
            if (auto v = take_key(m_st.Memo5, "[EP]", &unit_price_line)) unit_price = field(*v, 80);
            if (auto v = take_key(m_st.Memo5, "[GB]", &total_price_line)) total_price = field(*v, 80);
            read_short_text(m_st.Memo5);
            std::optional<std::string> bedarf = take_key(m_st.Memo5, "[Bedarf]");
            if (bedarf) bedarf = field(*bedarf, 80);
            const Kind kind = kind_of(bedarf);

            // A value that is no number costs only itself: the item is written without it. The
            // message names the value's own line.
            const auto number = [&](std::string_view what, std::string_view text, std::string_view line) {
                std::optional<double> value;
                guarded([&] { value = gaeb_number(text); },
                        [&](const std::exception& ex) {
                            m_c.ui.message("GAEB2000-Modul \"Positionen\", Abschnitt: Position einfügen, " +
                                           std::string(what) + " nicht übernommen\n\n" +
                                           m_c.place.prefix_at(offset_of(line)) + workbook::step_report(ex));
                        });
                return value;
            };
            room_for_row(false);
            const int32_t r = rows().Positions;
            rows().LastItemRow = r;
            // On failure Positions stays: the short text starts on the item's row.
            guarded(m_c, "GAEB2000-Modul \"Positionen\", Abschnitt: Position einfügen\n\n", [&] {
                m_kinds.positions();
                m_kinds.item_oz(r, oz);
                if (m_st.exchange_phase != "84") {
                    bid_item(r, oz, quantity, unit, bedarf);
                    if (const auto q = number("Menge", quantity, quantity_line)) m_kinds.item_quantity(r, *q);
                    m_kinds.item_unit(r, unit);
                    std::optional<double> price;
                    if (!unit_price.empty()) price = number("Einheitspreis", unit_price, unit_price_line);
                    m_kinds.item_price_cells(r, price);
                    if (!kind.without_total) m_kinds.item_total_formula(r);
                    m_kinds.item_label(r, cell_text(kind.label));
                } else {
                    // The bid shows the bill's quantity and unit where it gives them; the quantity
                    // follows from total and unit price only where it gives none, and never from a
                    // unit price of 0.
                    std::optional<double> q, price, total;
                    if (!quantity.empty()) q = number("Menge", quantity, quantity_line);
                    if (!unit_price.empty()) price = number("Einheitspreis", unit_price, unit_price_line);
                    if (!total_price.empty()) total = number("Gesamtbetrag", total_price, total_price_line);
                    if (q) m_kinds.item_quantity(r, *q);
                    if (!unit.empty()) m_kinds.item_unit(r, unit);
                    m_kinds.item_number(r, 5, price.value_or(0.0));
                    m_kinds.item_number(r, 6, total.value_or(0.0));
                    if (!q && price && *price != 0 && total) m_kinds.item_quantity_from_total(r);
                }
                ++rows().Positions;
                m_c.ui.process_events();
            });

            guarded(m_c, "GAEB2000-Modul \"Positionen\", Abschnitt: Kurztext einfügen\n\n", [&] {
                m_kinds.positions();
                WriteChunked(m_st.RTFMemo5);
            });

            guarded(m_c, "GAEB2000-Modul \"Positionen\", Abschnitt: Langtext einfügen\n\n", [&] {
                m_st.RTFMemo5.clear();
                const int64_t bB = FindeKeyMemo5("#begin[Beschreibung]");
                const int64_t eB = FindeKeyMemo5("#end[Beschreibung]");
                m_kinds.positions();
                if (bB == -1 || eB == -1 || m_c.options.OnlyShortText) return;
                const std::optional<std::string> text = long_text_of(m_st.Memo5, bB, eB);
                if (!text) return;
                m_st.RTFMemo5.assign(cell_text(RTFtoText(*text)));
                rows().TextGroupStart = rows().Positions;
                if (m_st.RTFMemo5.empty()) return;
                WriteWrapped(m_st.RTFMemo5, kItemLongText);
                while (true) {
                    const int64_t m = FindeKeyMemo5("#begin[UnterBeschr]");
                    if (m == -1) break;
                    const int64_t l = m_st.Memo5.find("#end[UnterBeschr]", m + 1);
                    if (l == -1) break;
                    m_st.Memo4.clear();
                    m_st.RTFMemo5.clear();
                    move_lines_untrimmed(m_st.Memo5, m, l, m_st.Memo4);
                    at(m_st.Memo4.line(0));
                    Unterpositionen();
                }
                m_kinds.TextGroup();
            });
        }
    };
    // The item's OZ, where it has been read, stands in front of the report.
    const bool read = guarded(items, [&](const std::exception& ex) {
        m_c.ui.message("GAEB2000-Modul \"Positionen\"\n\n" + workbook::step_report(m_c.place, ex));
    });
    m_c.place.leave_item();
    if (!read) return;

    if (m_c.options.SubtotalsSheet && rows().GroupFirstRow > 0 && rows().LastItemRow >= rows().GroupFirstRow)
        guarded(m_c, "GAEB2000-Modul \"Positionen\", Abschnitt: Teilsummenformel einfügen\n\n",
                [&] { m_kinds.subtotal_formula(); });
}

void Reader::Unterpositionen() {
    using workbook::guarded;
    const bool labelled =
        guarded(m_c, "GAEB2000-Modul \"Unterpositionen\", Abschnitt: Unterschlüssel\n\n", [&] {
            std::string number, quantity, unit;
            if (auto v = take_key(m_st.Memo4, "[UbNr]")) number = field(*v, 40);
            if (auto v = take_key(m_st.Memo4, "[Menge]")) quantity = field(*v, 40);
            if (auto v = take_text_key(m_st.Memo4, "[ME]")) unit = field(*v, 40);
            room_for_row(false);
            m_kinds.item_sub_label(
                rows().Positions, cell_text("Unterposition: " + number + ", Menge: " + quantity + " " + unit),
                workbook::kColorPurple);
            ++rows().Positions;
            m_c.ui.process_events();
        });
    if (!labelled) return;
    guarded(m_c, "GAEB2000-Modul \"Unterpositionen\", Abschnitt: Kurztext einfügen\n\n", [&] {
        read_short_text(m_st.Memo4);
        m_kinds.positions();
        WriteChunked(m_st.RTFMemo5);
    });
    guarded(m_c, "GAEB2000-Modul \"Unterpositionen\", Abschnitt: Langtext einfügen\n\n", [&] {
        m_st.RTFMemo5.clear();
        const int64_t bB = FindeKeyMemo4("#begin[Beschreibung]");
        const int64_t eB = FindeKeyMemo4("#end[Beschreibung]");
        if (bB == -1 || eB == -1 || m_c.options.OnlyShortText) return;
        const std::optional<std::string> text = long_text_of(m_st.Memo4, bB, eB);
        if (!text) return;
        m_st.RTFMemo5.assign(cell_text(RTFtoText(*text)));
        if (!m_st.RTFMemo5.empty()) WriteWrapped(m_st.RTFMemo5, kSubItemLongText);
    });
}

}  // namespace gaeb2000
