// SPDX-License-Identifier: MIT
#include "gaebxml/text_flow.h"

#include <array>
#include <cstring>

namespace gaebxml {
namespace {

using Kind = TextFlow::Kind;

struct ElementKind {
    std::string_view name;
    Kind kind;
};

// GAEB DA XML texts use a small set of XHTML elements; anything not named here is a block of its
// own (Text, TextOutlTxt, DetailAddText and the like hold paragraphs or spans).
constexpr std::array<ElementKind, 35> kKinds{{
    // The most frequent first: spans in paragraphs, and the elements holding them.
    {"span", Kind::Inline},       {"p", Kind::Block},           {"br", Kind::Break},
    {"Text", Kind::Block},        {"OutlTxt", Kind::Block},     {"TextOutlTxt", Kind::Block},
    {"b", Kind::Inline},          {"i", Kind::Inline},          {"u", Kind::Inline},
    {"s", Kind::Inline},          {"strong", Kind::Inline},     {"em", Kind::Inline},
    {"sup", Kind::Inline},        {"sub", Kind::Inline},        {"font", Kind::Inline},
    {"a", Kind::Inline},          {"small", Kind::Inline},      {"big", Kind::Inline},
    {"strike", Kind::Inline},     {"code", Kind::Inline},       {"image", Kind::Skip},
    {"img", Kind::Skip},          {"ComplBodyDec", Kind::Skip}, {"ul", Kind::List},
    {"ol", Kind::List},           {"li", Kind::ListItem},       {"tr", Kind::Row},
    {"td", Kind::Cell},           {"th", Kind::Cell},           {"TextComplement", Kind::Complement},
    {"ComplCaption", Kind::Part}, {"ComplBody", Kind::Part},    {"ComplTail", Kind::Part},
    {"DetailTxt", Kind::Block},   {"OutlineText", Kind::Block},
}};

Kind kind_of(std::string_view name) {
    for (const ElementKind& k : kKinds)
        if (name == k.name) return k.kind;
    return Kind::Block;
}

Kind kind_of(Node element) {
    return kind_of(std::string_view(element.name()));
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A span styled as a tab stop stands apart from the text before it.
bool tab_span(Node span) {
    const std::string_view style = span.attribute("style").value();
    return !style.empty() && style.find("tab-space") != std::string_view::npos;
}

}  // namespace

bool is_inline_element(std::string_view name) {
    return kind_of(name) == Kind::Inline;
}

void TextFlow::add(Node holder) {
    walk(holder, false);
}

void TextFlow::add_inline(Node holder) {
    walk(holder, true);
}

void TextFlow::add_node(Node node) {
    const pugi::xml_node_type type = node.type();
    if (type == pugi::node_pcdata || type == pugi::node_cdata) {
        text(node.value());
    } else if (type == pugi::node_element) {
        const Kind k = kind_for(node, false);
        if (k == Kind::Skip) return;
        enter(node, k);
        walk(node, false);
        leave(k);
    }
}

TextFlow::Kind TextFlow::kind_for(Node element, bool inline_only) const {
    const Kind k = kind_of(element);
    if (!inline_only || k == Kind::Skip || k == Kind::Inline) return k;
    return Kind::Part;  // a blank where the element begins and ends
}

void TextFlow::walk(Node holder, bool inline_only) {
    std::vector<Open>& open = m_open;
    open.clear();
    Node n = holder.first_child();
    while (n) {
        const pugi::xml_node_type type = n.type();
        if (type == pugi::node_pcdata || type == pugi::node_cdata) {
            text(n.value());
        } else if (type == pugi::node_element) {
            const Kind kind = kind_for(n, inline_only);
            if (kind != Kind::Skip) {
                enter(n, kind);
                if (n.first_child()) {
                    open.push_back({n, kind});
                    n = n.first_child();
                    continue;
                }
                leave(kind);
            }
        }
        // The next node: a sibling, or the sibling of the nearest open element that has one.
        while (true) {
            if (const Node next = n.next_sibling()) {
                n = next;
                break;
            }
            if (open.empty()) {
                n = Node();
                break;
            }
            n = open.back().node;
            leave(open.back().kind);
            open.pop_back();
        }
    }
}

void TextFlow::block_boundary() {
    if (m_cells > 0) {
        m_blank_pending = true;
        return;
    }
    m_glued = false;
    if (!m_visible)
        m_line.clear();  // blanks alone are no line
    else if (m_break == Break::None)
        m_break = Break::Block;
}

void TextFlow::enter(Node element, Kind kind) {
    switch (kind) {
        case Kind::Inline:
            if (tab_span(element)) m_blank_pending = true;
            break;
        case Kind::Block:
        case Kind::List:
        case Kind::Row:
            // The paragraph that goes on after a text complement starts no new line.
            if (!m_glued) block_boundary();
            if (kind == Kind::List) m_list_numbers.push_back(std::strcmp(element.name(), "ol") == 0 ? 0 : -1);
            if (kind == Kind::Row) m_row_cells.push_back(0);
            break;
        case Kind::ListItem:
            block_boundary();
            if (m_list_numbers.empty() || m_list_numbers.back() < 0)
                m_prefix = "- ";
            else
                m_prefix = std::to_string(++m_list_numbers.back()) + ". ";
            break;
        case Kind::Cell:
            if (!m_row_cells.empty() && m_row_cells.back()++ > 0) m_separator_pending = true;
            ++m_cells;
            break;
        case Kind::Break:
            if (m_cells > 0) {
                m_blank_pending = true;
            } else {
                m_glued = false;
                if (!m_visible)
                    m_line.clear();
                else
                    m_break = Break::Hard;
            }
            break;
        case Kind::Complement:
            if (m_complement) m_complement(element);
            // A complement continues the paragraph before it, but not a line ended by br.
            if (m_break == Break::Block) m_break = Break::None;
            m_glued = false;
            m_blank_pending = true;
            break;
        case Kind::Part:
            m_blank_pending = true;
            break;
        case Kind::Skip:
            break;
    }
}

void TextFlow::leave(Kind kind) {
    switch (kind) {
        case Kind::Block:
            block_boundary();
            break;
        case Kind::List:
            if (!m_list_numbers.empty()) m_list_numbers.pop_back();
            block_boundary();
            break;
        case Kind::ListItem:
            m_prefix.clear();
            block_boundary();
            break;
        case Kind::Row:
            if (!m_row_cells.empty()) m_row_cells.pop_back();
            m_separator_pending = false;
            block_boundary();
            break;
        case Kind::Cell:
            --m_cells;
            break;
        case Kind::Complement:
            m_glued = true;
            m_blank_pending = true;
            break;
        case Kind::Part:
            m_blank_pending = true;
            break;
        case Kind::Inline:
        case Kind::Break:
        case Kind::Skip:
            break;
    }
}

void TextFlow::begin_content(bool visible) {
    if (m_break != Break::None) flush();
    m_glued = false;
    if (!m_prefix.empty() && !m_visible) {
        m_line = m_prefix;
        m_prefix.clear();
        m_visible = true;
        m_blank_pending = false;
    }
    if (m_separator_pending) {
        if (m_visible) {
            while (!m_line.empty() && m_line.back() == ' ') m_line.pop_back();
            m_line += " | ";
        }
        m_separator_pending = false;
        m_blank_pending = false;
    }
    if (m_blank_pending) {
        // Only between two texts, and never beside a blank that is there already.
        if (visible && m_visible && m_line.back() != ' ') m_line += ' ';
        m_blank_pending = false;
    }
}

void TextFlow::text(std::string_view raw) {
    size_t i = 0;
    while (i < raw.size()) {
        // A run of white space with a line break or a tab in it, blanks before it included,
        // collapses; everything up to it is written as it stands.
        const size_t run = raw.find_first_of("\t\r\n", i);
        size_t end = run == std::string_view::npos ? raw.size() : run;
        if (run != std::string_view::npos)
            while (end > i && raw[end - 1] == ' ') --end;
        if (end > i) {
            const std::string_view part = raw.substr(i, end - i);
            begin_content(part.front() != ' ');
            m_line.append(part);
            if (part.find_first_not_of(' ') != std::string_view::npos) m_visible = true;
        }
        if (run == std::string_view::npos) break;
        i = run;
        while (i < raw.size() && is_space(raw[i])) ++i;
        m_blank_pending = true;
    }
}

void TextFlow::flush() {
    if (m_visible) m_emit(m_line);
    m_line.clear();
    m_visible = false;
    m_break = Break::None;
    m_blank_pending = false;
    m_separator_pending = false;
}

void TextFlow::clear() {
    m_line.clear();
    m_prefix.clear();
    m_break = Break::None;
    m_glued = m_blank_pending = m_separator_pending = m_visible = false;
    m_cells = 0;
    m_list_numbers.clear();
    m_row_cells.clear();
    m_open.clear();
}

std::vector<std::string> text_lines(Node holder) {
    std::vector<std::string> lines;
    TextFlow flow([&](std::string_view line) { lines.emplace_back(line); });
    flow.add(holder);
    flow.flush();
    return lines;
}

std::string inline_text(Node element) {
    std::string text;
    TextFlow flow([&](std::string_view line) { text = line; });
    flow.add_inline(element);
    flow.flush();
    return text;
}

}  // namespace gaebxml
