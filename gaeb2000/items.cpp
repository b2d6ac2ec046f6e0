// SPDX-License-Identifier: MIT
// Items and sub-items: the item blocks of StringList4 become item rows with short and long texts.
#include <optional>
#include <vector>

#include "gaeb2000/reader.h"
#include "gaeb2000/rtf_to_text.h"
#include "gaeb2000/text_ops.h"
#include "workbook/errors.h"
#include "workbook/guarded.h"
#include "workbook/text.h"

namespace gaeb2000 {
namespace {

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
            m_r.run.process_events();
            const int64_t b = FindeKeyStringList4("#begin[Position]");
            const int64_t e = FindeKeyStringList4("#end[Position]");
            if (b == -1 || e == -1 || e <= b || e >= limit) break;
            MoveBereich(m_st.StringList4, b, e, m_st.Memo5);
            at(m_st.Memo5.line(0));
            m_r.place.leave_item();
            if (limit != INT64_MAX) limit -= e - b + 1;
            m_r.run.progress_step(m_st.Memo5.size() - 1);
            m_st.Memo5.erase_line(0);
            m_st.Memo5.erase_line(m_st.Memo5.size() - 1);

            if (auto v = take_key(m_st.Memo5, "[OZ]")) oz = field(*v, 40);
            // From here on every message about the item names it as column A does.
            oz = field(FormatPosition(oz, m_st.oz_mask), 40);
            m_r.place.enter_item(oz);
            bill::Item item;
            item.oz = oz;
            std::string quantity, unit_price, total_price;
            // The lines of the values, for the place of a value that is no number.
            std::string_view quantity_line, unit_price_line, total_price_line;
            if (auto v = take_key(m_st.Memo5, "[Menge]", &quantity_line)) quantity = field(*v, 40);
            if (auto v = take_text_key(m_st.Memo5, "[ME]")) item.unit = cell_text(field(*v, 40));
            take_key(m_st.Memo5, "[StLNr]");
            take_key(m_st.Memo5, "[LangtextTB]");
            if (auto v = take_key(m_st.Memo5, "[EP]", &unit_price_line)) unit_price = field(*v, 80);
            if (auto v = take_key(m_st.Memo5, "[GB]", &total_price_line)) total_price = field(*v, 80);
            read_short_text(m_st.Memo5);
            std::optional<std::string> bedarf = take_key(m_st.Memo5, "[Bedarf]");
            if (bedarf) bedarf = field(*bedarf, 80);
            // "[Bedarf]", compared exactly, letter case included: E a contingency without total,
            // M with total, A an alternative, G a basic item; empty a normal item. Only normal
            // items and M have a total; any other value is a kind of its own, without one.
            const std::string kind = bedarf.value_or("");
            const bool known = kind.empty() || kind == "E" || kind == "A" || kind == "G" || kind == "M";
            item.kind_code = known ? kind : cell_text(kind);
            item.has_total = kind.empty() || kind == "M";
            if (kind == "E") item.provis = bill::Provis::WithoutTotal;
            if (kind == "M") item.provis = bill::Provis::WithTotal;
            item.alternative = kind == "A";
            item.basic = kind == "G";

            // A value that is no number costs only itself: the item is reported without it, then
            // the fault, whose message names the value's own line.
            std::vector<bill::Fault> faults;
            const auto number = [&](std::string_view what, std::string_view text, std::string_view line) {
                std::optional<double> value;
                guarded([&] { value = gaeb_number(text); },
                        [&](const std::exception& ex) {
                            faults.push_back(
                                {m_r.place_at(offset_of(line)),
                                 "GAEB2000-Modul \"Positionen\", Abschnitt: Position einfügen, " +
                                     std::string(what) + " nicht übernommen\n\n" +
                                     m_r.place.prefix_at(offset_of(line)) + workbook::step_report(ex),
                                 false});
                        });
                return value;
            };
            if (m_st.exchange_phase != "84") {
                item.quantity = number("Menge", quantity, quantity_line);
                item.quantity_unreadable = !item.quantity;
                if (!unit_price.empty()) {
                    item.unit_price = number("Einheitspreis", unit_price, unit_price_line);
                    item.unit_price_unreadable = !item.unit_price;
                }
            } else {
                // The bid's quantity and prices as the bill gives them.
                if (!quantity.empty()) item.quantity = number("Menge", quantity, quantity_line);
                if (!unit_price.empty())
                    item.unit_price = number("Einheitspreis", unit_price, unit_price_line);
                if (!total_price.empty()) item.total = number("Gesamtbetrag", total_price, total_price_line);
            }
            guarded(m_r, "GAEB2000-Modul \"Positionen\", Abschnitt: Position einfügen\n\n",
                    [&] { m_r.sink.item(item); });
            for (const bill::Fault& fault : faults) m_r.sink.fault(fault);

            guarded(m_r, "GAEB2000-Modul \"Positionen\", Abschnitt: Kurztext einfügen\n\n",
                    [&] { report_lines(m_st.RTFMemo5, bill::TextKind::Short); });

            guarded(m_r, "GAEB2000-Modul \"Positionen\", Abschnitt: Langtext einfügen\n\n", [&] {
                m_st.RTFMemo5.clear();
                const int64_t bB = FindeKeyMemo5("#begin[Beschreibung]");
                const int64_t eB = FindeKeyMemo5("#end[Beschreibung]");
                if (bB == -1 || eB == -1 || m_r.options.OnlyShortText) return;
                const std::optional<std::string> text = long_text_of(m_st.Memo5, bB, eB);
                if (!text) return;
                m_st.RTFMemo5.assign(cell_text(RTFtoText(*text)));
                m_r.sink.long_text_begin();
                if (m_st.RTFMemo5.empty()) return;
                report_lines(m_st.RTFMemo5, bill::TextKind::Long);
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
                m_r.sink.texts_end();
            });
        }
    };
    // The item's OZ, where it has been read, stands in front of the report.
    const bool read = guarded(items, [&](const std::exception& ex) {
        m_r.fault("GAEB2000-Modul \"Positionen\"\n\n" + workbook::step_report(m_r.place, ex));
    });
    m_r.place.leave_item();
    if (!read) return;
    guarded(m_r, "GAEB2000-Modul \"Positionen\", Abschnitt: Teilsummenformel einfügen\n\n",
            [&] { m_r.sink.items_end(); });
}

void Reader::Unterpositionen() {
    using workbook::guarded;
    const bool labelled =
        guarded(m_r, "GAEB2000-Modul \"Unterpositionen\", Abschnitt: Unterschlüssel\n\n", [&] {
            bill::SubDescription sub;
            std::string quantity;
            if (auto v = take_key(m_st.Memo4, "[UbNr]")) sub.number = cell_text(field(*v, 40));
            if (auto v = take_key(m_st.Memo4, "[Menge]")) quantity = field(*v, 40);
            if (auto v = take_text_key(m_st.Memo4, "[ME]")) sub.unit = cell_text(field(*v, 40));
            sub.quantity_text = cell_text(quantity);
            guarded([&] { sub.quantity = gaeb_number(quantity); }, [](const std::exception&) {});
            m_r.sink.sub_description(sub);
            m_r.run.process_events();
        });
    if (!labelled) return;
    guarded(m_r, "GAEB2000-Modul \"Unterpositionen\", Abschnitt: Kurztext einfügen\n\n", [&] {
        read_short_text(m_st.Memo4);
        report_lines(m_st.RTFMemo5, bill::TextKind::Short);
    });
    guarded(m_r, "GAEB2000-Modul \"Unterpositionen\", Abschnitt: Langtext einfügen\n\n", [&] {
        m_st.RTFMemo5.clear();
        const int64_t bB = FindeKeyMemo4("#begin[Beschreibung]");
        const int64_t eB = FindeKeyMemo4("#end[Beschreibung]");
        if (bB == -1 || eB == -1 || m_r.options.OnlyShortText) return;
        const std::optional<std::string> text = long_text_of(m_st.Memo4, bB, eB);
        if (!text) return;
        m_st.RTFMemo5.assign(cell_text(RTFtoText(*text)));
        if (!m_st.RTFMemo5.empty()) report_lines(m_st.RTFMemo5, bill::TextKind::Long);
    });
}

}  // namespace gaeb2000
