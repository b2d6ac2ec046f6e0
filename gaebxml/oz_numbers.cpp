// SPDX-License-Identifier: MIT
// Ordinal numbers (OZ) of the XML reader and the range labels.
#include <fmt/format.h>

#include <algorithm>

#include "gaebxml/reader.h"
#include "workbook/errors.h"
#include "workbook/guarded.h"
#include "workbook/numbers.h"
#include "workbook/oz.h"

namespace gaebxml {

int range_levels(const XmlReaderState& st) {
    // A breakdown without an item entry has no mask digit for the item.
    return st.MaskLength - (st.ItemLength.empty() ? 0 : 1) - (st.IndexLength == "0" ? 0 : 1);
}

std::string funcFormatBereich(std::string_view part, int length) {
    if (length <= 0) return std::string(part) + ".";
    return workbook::oz_range_part(part, length);
}

std::string funcFormatItem(std::string_view part, int length) {
    if (length <= 0) return std::string(part);
    return workbook::oz_item_part(part, length);
}

int range_digits(const XmlReaderState& st, int level) {
    return level <= range_levels(st) ? mask_digit(st.OzMask, level) : 0;
}

int mask_digit(std::string_view mask, int level) {
    if (level < 1 || static_cast<size_t>(level) > workbook::utf8_length(mask))
        throw workbook::ConvertError(fmt::format("Die OZ-Maske \"{}\" hat keine {}. Stelle", mask, level));
    const std::string_view c = workbook::utf8_substr(mask, static_cast<size_t>(level - 1), 1);
    if (c.size() != 1 || c[0] < '0' || c[0] > '9')
        throw workbook::ConvertError(fmt::format("'{}' ist kein gültiger ganzzahliger Wert", c));
    return c[0] - '0';
}

int length_number(std::string_view text) {
    const auto n = workbook::parse_integer(text);
    if (!n) throw workbook::ConvertError(fmt::format("'{}' ist kein gültiger ganzzahliger Wert", text));
    if (*n > kMaxGroupLength)
        throw workbook::ConvertError(
            fmt::format("Die Stellenzahl {} ist zu groß (höchstens {})", *n, kMaxGroupLength));
    return static_cast<int>(*n);
}

std::string chkmaske(std::string_view oz, const XmlReaderState& st,
                     workbook::FunctionRef<void(std::string)> fault) {
    std::string result(oz);
    workbook::guarded(
        [&] {
            int count = static_cast<int>(std::count(oz.begin(), oz.end(), '.'));
            const int levels = range_levels(st);
            while (count < levels) {
                ++count;
                const int digits = mask_digit(st.OzMask, count);
                result.append(static_cast<size_t>(digits), '0');
                result += '.';
            }
        },
        [&](const std::exception& e) { fault("Funktion chkmaske\n\n" + workbook::step_report(e)); });
    return result;
}

RangeLabel first_span_label(Node category) {
    const Node lbl = ChildElement(category, "LblTx");
    RangeLabel label;
    for (const Node holder : {ChildElement(lbl, "p"), lbl}) {
        const Node span = ChildElement(holder, "span");
        std::string v = inline_text(span);
        if (v.empty()) continue;
        label.written = v;
        label.text = std::move(v);
        label.holder = holder;
        label.first_span = span;
        break;
    }
    return label;
}

RangeLabel all_spans_label(Node category) {
    const Node lbl = ChildElement(category, "LblTx");
    RangeLabel label;
    const Node p = ChildElement(lbl, "p");
    if (!inline_text(ChildElement(p, "span")).empty())
        label.holder = p;
    else if (!inline_text(ChildElement(lbl, "span")).empty())
        label.holder = lbl;
    else
        return label;
    bool blank = false;
    for (Node child = label.holder.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_pcdata) {
            const std::string_view value = child.value();
            if (!value.empty() && value.find_first_not_of(" \t") == std::string_view::npos) blank = true;
            continue;
        }
        if (node_name(child) != "span") {
            if (child.type() == pugi::node_element) blank = true;
            continue;
        }
        const std::string text = inline_text(child);
        if (text.empty()) {
            if (*child.child_value() != '\0') blank = true;
            continue;
        }
        if (!label.text.empty()) label.text += ' ';
        label.text += text;
        std::string& w = label.written;
        if (blank && !w.empty() && w.back() != ' ' && text.front() != ' ') w += ' ';
        w += text;
        blank = false;
    }
    return label;
}

}  // namespace gaebxml
