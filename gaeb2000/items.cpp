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

// The key value of the first line of `holder` holding `key`; the line is deleted.
std::optional<std::string> take_key(LineList& holder, std::string_view key) {
    const int64_t i = holder.find(key);
    if (i == -1) return std::nullopt;
    std::string value = key_value(holder.line(i), key);
    holder.erase_line(i);
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

std::string about_item(std::string_view message, std::string_view oz) {
    return std::string(message) + ", Position: " + (oz.empty() ? std::string("(ohne OZ)") : std::string(oz));
}

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
            if (limit != INT64_MAX) limit -= e - b + 1;
            m_c.ui.progress_step(m_st.Memo5.size() - 1);
            m_st.Memo5.erase_line(0);
            m_st.Memo5.erase_line(m_st.Memo5.size() - 1);

            if (auto v = take_key(m_st.Memo5, "[OZ]")) oz = field(*v, 40);
            // From here on every message about the item names it as column A does.
            oz = field(FormatPosition(oz, m_st.oz_mask), 40);
            std::string quantity, unit, unit_price, total_price;
            if (auto v = take_key(m_st.Memo5, "[Menge]")) quantity = field(*v, 40);
            if (auto v = take_key(m_st.Memo5, "[ME]")) unit = cell_text(field(*v, 40));
            take_key(m_st.Memo5, "[StLNr]");
            take_key(m_st.Memo5, "[LangtextTB]");
            if (auto v = take_key(m_st.Memo5, "[EP]")) unit_price = field(*v, 80);
            if (auto v = take_key(m_st.Memo5, "[GB]")) total_price = field(*v, 80);
            read_short_text(m_st.Memo5);
            std::optional<std::string> bedarf = take_key(m_st.Memo5, "[Bedarf]");
            if (bedarf) bedarf = field(*bedarf, 80);
            const Kind kind = kind_of(bedarf);

            // A value that is no number costs only itself: the item is written without it.
            const auto number = [&](std::string_view what, std::string_view text) {
                std::optional<double> value;
                guarded(m_c.ui,
                        about_item("GAEB2000-Modul \"Positionen\", Abschnitt: Position einfügen", oz) + ", " +
                            std::string(what) + " nicht übernommen\n\n",
                        [&] { value = gaeb_number(text); });
                return value;
            };
            room_for_row(false);
            const int32_t r = rows().Positions;
            rows().LastItemRow = r;
            // On failure Positions stays: the short text starts on the item's row.
            guarded(
                m_c.ui,
                about_item("GAEB2000-Modul \"Positionen\", Abschnitt: Position einfügen", oz) + "\n\n", [&] {
                    m_kinds.positions();
                    m_kinds.item_oz(r, oz);
                    if (m_st.exchange_phase != "84") {
                        if (const auto q = number("Menge", quantity)) m_kinds.item_quantity(r, *q);
                        m_kinds.item_unit(r, unit);
                        std::optional<double> price;
                        if (!unit_price.empty()) price = number("Einheitspreis", unit_price);
                        m_kinds.item_price_cells(r, price);
                        if (!kind.without_total) m_kinds.item_total_formula(r);
                        m_kinds.item_label(r, cell_text(kind.label));
                    } else {
                        m_kinds.item_quantity_from_total(r);
                        m_kinds.item_number(
                            r, 5,
                            unit_price.empty() ? 0.0 : number("Einheitspreis", unit_price).value_or(0.0));
                        m_kinds.item_number(
                            r, 6,
                            total_price.empty() ? 0.0 : number("Gesamtbetrag", total_price).value_or(0.0));
                    }
                    ++rows().Positions;
                    m_c.ui.process_events();
                });

            guarded(m_c.ui,
                    about_item("GAEB2000-Modul \"Positionen\", Abschnitt: Kurztext einfügen", oz) + "\n\n",
                    [&] {
                        m_kinds.positions();
                        WriteChunked(m_st.RTFMemo5);
                    });

            guarded(m_c.ui,
                    about_item("GAEB2000-Modul \"Positionen\", Abschnitt: Langtext einfügen", oz) + "\n\n",
                    [&] {
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
                        WriteWrapped(m_st.RTFMemo5, kItemLongText, oz);
                        while (true) {
                            const int64_t m = FindeKeyMemo5("#begin[UnterBeschr]");
                            if (m == -1) break;
                            const int64_t l = m_st.Memo5.find("#end[UnterBeschr]", m + 1);
                            if (l == -1) break;
                            m_st.Memo4.clear();
                            m_st.RTFMemo5.clear();
                            move_lines_untrimmed(m_st.Memo5, m, l, m_st.Memo4);
                            Unterpositionen(oz);
                        }
                        m_kinds.TextGroup();
                    });
        }
    };
    const bool read = guarded(items, [&](const std::exception& ex) {
        m_c.ui.message("GAEB2000-Modul \"Positionen\", Position: " + oz + "\n\n" + workbook::step_report(ex));
    });
    if (!read) return;

    if (m_c.options.SubtotalsSheet && rows().GroupFirstRow > 0 && rows().LastItemRow >= rows().GroupFirstRow)
        guarded(m_c.ui, "GAEB2000-Modul \"Positionen\", Abschnitt: Teilsummenformel einfügen\n\n",
                [&] { m_kinds.subtotal_formula(); });
}

void Reader::Unterpositionen(std::string_view oz) {
    using workbook::guarded;
    const bool labelled = guarded(
        m_c.ui, about_item("GAEB2000-Modul \"Unterpositionen\", Abschnitt: Unterschlüssel", oz) + "\n\n",
        [&] {
            std::string number, quantity, unit;
            if (auto v = take_key(m_st.Memo4, "[UbNr]")) number = field(*v, 40);
            if (auto v = take_key(m_st.Memo4, "[Menge]")) quantity = field(*v, 40);
            if (auto v = take_key(m_st.Memo4, "[ME]")) unit = field(*v, 40);
            room_for_row(false);
            m_kinds.item_sub_label(
                rows().Positions, cell_text("Unterposition: " + number + ", Menge: " + quantity + " " + unit),
                workbook::kColorPurple);
            ++rows().Positions;
            m_c.ui.process_events();
        });
    if (!labelled) return;
    guarded(m_c.ui,
            about_item("GAEB2000-Modul \"Unterpositionen\", Abschnitt: Kurztext einfügen", oz) + "\n\n", [&] {
                read_short_text(m_st.Memo4);
                m_kinds.positions();
                WriteChunked(m_st.RTFMemo5);
            });
    guarded(m_c.ui,
            about_item("GAEB2000-Modul \"Unterpositionen\", Abschnitt: Langtext einfügen", oz) + "\n\n", [&] {
                m_st.RTFMemo5.clear();
                const int64_t bB = FindeKeyMemo4("#begin[Beschreibung]");
                const int64_t eB = FindeKeyMemo4("#end[Beschreibung]");
                if (bB == -1 || eB == -1 || m_c.options.OnlyShortText) return;
                const std::optional<std::string> text = long_text_of(m_st.Memo4, bB, eB);
                if (!text) return;
                m_st.RTFMemo5.assign(cell_text(RTFtoText(*text)));
                if (!m_st.RTFMemo5.empty()) WriteWrapped(m_st.RTFMemo5, kSubItemLongText, oz);
            });
}

}  // namespace gaeb2000
