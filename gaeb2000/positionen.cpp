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

void Gaeb2kReader::read_short_text(LineList& holder) {
    const int64_t k = holder.find("[Kurztext]");
    if (k == -1) return;
    std::string text = DeleteLineKey("[Kurztext]", holder.line(k));
    if (holds_key(text, "[end]")) {
        text = DeleteLineKey("[end]", text);
        holder.erase_line(k);
    } else {
        // The text goes on over the following lines up to the one that holds "[end]".
        int64_t j = k + 1;
        bool ended = false;
        for (; j < holder.size(); ++j) {
            const std::string_view l = holder.line(j);
            text.append(workbook::trim_ctl(l));
            text.append(" \r\n");
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
    RTFMemo5.assign(RTFtoText(workbook::trim_ctl(text)));
}

void Gaeb2kReader::Positionen(int64_t limit) {
    using workbook::guarded;
    std::string oz;
    const auto items = [&] {
        while (true) {
            Memo5.clear();
            RTFMemo5.clear();
            oz.clear();
            if (StringList4.empty()) break;
            c.ui.process_events();
            const int64_t b = FindeKeyStringList4("#begin[Position]");
            const int64_t e = FindeKeyStringList4("#end[Position]");
            if (b == -1 || e == -1 || e <= b || e >= limit) break;
            MoveBereich(StringList4, b, e, Memo5);
            if (limit != INT64_MAX) limit -= e - b + 1;
            c.ui.progress_step(Memo5.size() - 1);
            Memo5.erase_line(0);
            Memo5.erase_line(Memo5.size() - 1);

            if (auto v = take_key(Memo5, "[OZ]")) oz = field(*v, 40);
            std::string quantity, unit, unit_price, total_price;
            if (auto v = take_key(Memo5, "[Menge]")) quantity = field(*v, 40);
            if (auto v = take_key(Memo5, "[ME]")) unit = field(*v, 40);
            take_key(Memo5, "[StLNr]");
            take_key(Memo5, "[LangtextTB]");
            if (auto v = take_key(Memo5, "[EP]")) unit_price = field(*v, 80);
            if (auto v = take_key(Memo5, "[GB]")) total_price = field(*v, 80);
            read_short_text(Memo5);
            std::optional<std::string> bedarf = take_key(Memo5, "[Bedarf]");
            if (bedarf) bedarf = field(*bedarf, 80);
            const Kind kind = kind_of(bedarf);
            oz = field(FormatPosition(oz, oz_mask), 40);

            room_for_row(false);
            const int32_t r = rows.Positions;
            rows.LastItemRow = r;
            // On failure Positions stays: the short text starts on the item's row.
            guarded(c.ui, "GAEB2000-Modul \"Positionen\", Abschnitt: Position einfügen\n\n", [&] {
                kinds.positions();
                kinds.item_oz(r, oz);
                if (Austauschphase != "84") {
                    kinds.item_quantity(r, gaeb_number(quantity));
                    kinds.item_unit(r, unit);
                    std::optional<double> price;
                    if (!unit_price.empty()) price = gaeb_number(unit_price);
                    kinds.item_price_cells(r, price);
                    if (!kind.without_total) kinds.item_total_formula(r);
                    kinds.item_label(r, kind.label);
                } else {
                    kinds.item_quantity_from_total(r);
                    kinds.item_number(r, 5, unit_price.empty() ? 0.0 : gaeb_number(unit_price));
                    kinds.item_number(r, 6, total_price.empty() ? 0.0 : gaeb_number(total_price));
                }
                ++rows.Positions;
                c.ui.process_events();
            });

            guarded(c.ui, "GAEB2000-Modul \"Positionen\", Abschnitt: Kurztext einfügen\n\n", [&] {
                kinds.positions();
                WriteChunked();
            });

            guarded(c.ui, "GAEB2000-Modul \"Positionen\", Abschnitt: Langtext einfügen\n\n", [&] {
                RTFMemo5.clear();
                const int64_t bB = FindeKeyMemo5("#begin[Beschreibung]");
                const int64_t eB = FindeKeyMemo5("#end[Beschreibung]");
                kinds.positions();
                if (bB == -1 || eB == -1 || c.options.OnlyShortText) return;
                const std::optional<std::string> text = long_text_of(Memo5, bB, eB);
                if (!text) return;
                RTFMemo5.assign(RTFtoText(*text));
                rows.TextGroupStart = rows.Positions;
                if (RTFMemo5.empty()) return;
                WriteWrapped(RTFMemo5, kItemLongText);
                while (true) {
                    const int64_t m = FindeKeyMemo5("#begin[UnterBeschr]");
                    if (m == -1) break;
                    const int64_t l = Memo5.find("#end[UnterBeschr]", m + 1);
                    if (l == -1) break;
                    Memo4.clear();
                    RTFMemo5.clear();
                    MoveBereichUnchanged(Memo5, m, l, Memo4);
                    Unterpositionen();
                }
                kinds.TextGroup();
            });
        }
    };
    const bool read = guarded(items, [&](const std::exception& ex) {
        c.ui.message("GAEB2000-Modul \"Positionen\", Position: " + oz + "\n\n" + workbook::step_report(ex));
    });
    if (!read) return;

    if (c.options.SubtotalsSheet && rows.GroupFirstRow > 0 && rows.LastItemRow >= rows.GroupFirstRow)
        guarded(c.ui, "GAEB2000-Modul \"Positionen\", Abschnitt: Teilsummenformel einfügen\n\n",
                [&] { kinds.SubtotalFormula(); });
}

void Gaeb2kReader::Unterpositionen() {
    using workbook::guarded;
    const bool labelled =
        guarded(c.ui, "GAEB2000-Modul \"Unterpositionen\", Abschnitt: Unterschlüssel\n\n", [&] {
            std::string number, quantity, unit;
            if (auto v = take_key(Memo4, "[UbNr]")) number = field(*v, 40);
            if (auto v = take_key(Memo4, "[Menge]")) quantity = field(*v, 40);
            if (auto v = take_key(Memo4, "[ME]")) unit = field(*v, 40);
            room_for_row(false);
            kinds.item_sub_label(rows.Positions,
                                 "Unterposition: " + number + ", Menge: " + quantity + " " + unit,
                                 workbook::kColorPurple);
            ++rows.Positions;
            c.ui.process_events();
        });
    if (!labelled) return;
    guarded(c.ui, "GAEB2000-Modul \"Unterpositionen\", Abschnitt: Kurztext einfügen\n\n", [&] {
        read_short_text(Memo4);
        kinds.positions();
        WriteChunked();
    });
    guarded(c.ui, "GAEB2000-Modul \"Unterpositionen\", Abschnitt: Langtext einfügen\n\n", [&] {
        RTFMemo5.clear();
        const int64_t bB = FindeKeyMemo4("#begin[Beschreibung]");
        const int64_t eB = FindeKeyMemo4("#end[Beschreibung]");
        if (bB == -1 || eB == -1 || c.options.OnlyShortText) return;
        const std::optional<std::string> text = long_text_of(Memo4, bB, eB);
        if (!text) return;
        RTFMemo5.assign(RTFtoText(*text));
        if (!RTFMemo5.empty()) WriteWrapped(RTFMemo5, kSubItemLongText);
    });
}

}  // namespace gaeb2000
