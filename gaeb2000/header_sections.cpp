// SPDX-License-Identifier: MIT
// The header sections: GAEBInfo, PrjInfo, VergabeInfo, AG and LVInfo with the OZ mask.
#include <fmt/format.h>

#include "gaeb2000/reader.h"
#include "gaeb2000/text_ops.h"
#include "workbook/guarded.h"
#include "workbook/text.h"

namespace gaeb2000 {

using workbook::guarded;

bool Reader::take_section(std::string_view name) {
    m_st.StringList2.clear();
    if (m_st.StringList1.empty()) return false;
    const int64_t b = FindeBereich(fmt::format("#begin[{}]", name));
    const int64_t e = FindeBereich(fmt::format("#end[{}]", name));
    if (b == -1 || e == -1) return false;
    at(m_st.StringList1.line(b));
    MoveBereich(m_st.StringList1, b, e, m_st.StringList2);
    progress_to_remaining();
    return true;
}

namespace {

void drop_block_lines(LineList& lines) {
    lines.erase_if([](std::string_view l) { return holds_key(l, "#begin[") || holds_key(l, "#end["); });
}

// The first line holding `key` that belongs to the section itself, not to a block inside it: the
// "[Bez]" of an LVGlied block names a level of the breakdown ("Los", "Titel"), not the bill.
int64_t own_line(const LineList& section, std::string_view key) {
    int depth = 0;
    for (int64_t i = 0; i < section.size(); ++i) {
        const std::string_view l = section.line(i);
        if (holds_key(l, "#begin[")) {
            ++depth;
        } else if (holds_key(l, "#end[")) {
            --depth;
        } else if (depth <= 1 && holds_key(l, key)) {
            return i;
        }
    }
    return -1;
}

// The breakdown of the mask: one digit per range level, the last one the item number; none when
// a character is no digit from 1 to 9.
std::vector<bill::Breakdown> breakdown_of(std::string_view mask) {
    std::vector<bill::Breakdown> out;
    for (char digit : mask) {
        if (digit < '1' || digit > '9') return {};
        out.push_back({bill::BreakdownType::Range, digit - '0', true, {}, {}});
    }
    if (!out.empty()) out.back().type = bill::BreakdownType::Item;
    return out;
}

}  // namespace

void Reader::GaebInfo() {
    guarded(m_r, "Verarbeitungsfehler auf GAEB-Info-Ebene\n\n", [&] {
        if (take_section("GAEBInfo")) drop_block_lines(m_st.StringList2);
    });
}

void Reader::PrjInfo() {
    guarded(m_r, "Verarbeitungsfehler auf PRJ-Info-Ebene\n\n", [&] {
        if (!take_section("PrjInfo")) return;
        drop_block_lines(m_st.StringList2);
        const int64_t i = m_st.StringList2.find("[Bez]");
        if (i == -1) return;
        const std::string value = cell_text(key_text(m_st.StringList2, i, "[Bez]"));
        if (!value.empty()) m_r.sink.header_field(bill::HeaderField::Project, value);
    });
}

// "[Wae]" the currency, "[WaeBez]" its name.
void Reader::VergabeInfo() {
    guarded(m_r, "Verarbeitungsfehler auf VergabeInfo-Ebene\n\n", [&] {
        if (!take_section("VergabeInfo")) return;
        drop_block_lines(m_st.StringList2);
        if (const int64_t i = m_st.StringList2.find("[Wae]"); i != -1)
            m_r.sink.header_field(
                bill::HeaderField::Currency,
                cell_text(workbook::trim_ctl(key_value(m_st.StringList2.line(i), "[Wae]"))));
        if (const int64_t i = m_st.StringList2.find("[WaeBez]"); i != -1)
            m_r.sink.header_field(
                bill::HeaderField::CurrencyLabel,
                cell_text(workbook::trim_ctl(key_value(m_st.StringList2.line(i), "[WaeBez]"))));
    });
}

void Reader::Auftraggeber() {
    guarded(m_r, "GAEB2000-Modul \"Arbeitgeber\", Abschnitt 1\n\n", [&] {
        if (!take_section("AG")) return;
        const int64_t i = m_st.StringList2.find("[Name1]");
        if (i == -1) return;
        const std::string value = cell_text(key_text(m_st.StringList2, i, "[Name1]", 150));
        if (!value.empty()) m_r.sink.header_field(bill::HeaderField::Client, value);
    });
}

void Reader::LVInfo() {
    guarded(m_r, "GAEB2000-Modul \"LVInfo\"\n\n", [&] {
        if (!take_section("LVInfo")) return;
        if (const int64_t i = own_line(m_st.StringList2, "[Bez]"); i != -1)
            m_r.sink.header_field(bill::HeaderField::Name,
                                  cell_text(key_text(m_st.StringList2, i, "[Bez]", 250)));
        if (const int64_t i = own_line(m_st.StringList2, "[Datum]"); i != -1)
            m_r.sink.header_field(bill::HeaderField::Date,
                                  cell_text(key_text(m_st.StringList2, i, "[Datum]", 100)));

        // The OZ mask: the length of each level (LVStufe) and of the item number (Position).
        m_st.oz_mask.clear();
        while (true) {
            m_st.Memo5.clear();
            const int64_t b = FindeBereichStringList2("#begin[LVGlied]");
            const int64_t e = FindeBereichStringList2("#end[LVGlied]");
            if (b == -1 || e == -1 || e < b) break;
            MoveBereich(m_st.StringList2, b, e, m_st.Memo5);
            const int64_t length = FindeKeyMemo5("[Laenge]");
            if (length == -1) continue;
            const std::string digits(
                workbook::trim_right_ctl(key_value(m_st.Memo5.line(length), "[Laenge]")));
            if (FindeKeyMemo5("[Typ]LVStufe") != -1) m_st.oz_mask = field(m_st.oz_mask + digits, 20);
            if (FindeKeyMemo5("[Typ]Position") != -1) m_st.oz_mask = field(m_st.oz_mask + digits, 20);
        }
        m_r.sink.header_field(bill::HeaderField::Mask, m_st.oz_mask);
        m_r.sink.breakdown(breakdown_of(m_st.oz_mask));
    });
}

}  // namespace gaeb2000
