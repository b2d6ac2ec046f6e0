// SPDX-License-Identifier: MIT
// Formatted GAEB DA XML text (paragraphs, spans, line breaks, lists, tables, text complements)
// turned into the lines a reader of the bill sees: the text of one paragraph is one line; p, br,
// list items and table rows end a line; a text complement continues the sentence it stands in.
// Lines without visible text are dropped.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gaebxml/xml_document.h"

namespace gaebxml {

class TextFlow {
public:
    using LineFn = std::function<void(std::string_view)>;
    explicit TextFlow(LineFn line) : m_emit(std::move(line)) {}
    // Called with every text complement (TextComplement) the flow meets, as it meets it.
    void on_complement(std::function<void(Node)> complement) { m_complement = std::move(complement); }

    // Every text below `holder`, in document order; deep nesting needs no recursion. The line in
    // progress stays open, so that what is added next can continue it.
    void add(Node holder);
    // The node itself: a text, or an element with everything below it.
    void add_node(Node node);
    // The text below `holder` as one run of inline text: p, br and the like are blanks.
    void add_inline(Node holder);
    // Text as it stands in the document: white space holding a line break or a tab collapses to
    // one blank, and such a blank is dropped at the start and the end of a line.
    void text(std::string_view raw);
    // Passes on the line in progress, if it holds visible text, and starts a new one.
    void flush();
    // Forgets everything of the texts added before, the line in progress too.
    void clear();

    // How an element shapes the text; public for the table in the source.
    enum class Kind : unsigned char {
        Inline,
        Block,
        Break,
        Skip,
        List,
        ListItem,
        Row,
        Cell,
        Complement,
        Part
    };

private:
    void walk(Node holder, bool inline_only);
    Kind kind_for(Node element, bool inline_only) const;
    void enter(Node element, Kind kind);
    void leave(Kind kind);
    void block_boundary();
    void begin_content(bool visible);

    enum class Break : unsigned char { None, Block, Hard };
    LineFn m_emit;
    std::function<void(Node)> m_complement;
    std::string m_line;
    std::string m_prefix;              // "- " or "3. " of a list item, before its first text
    Break m_break = Break::None;       // the next text starts a new line
    bool m_glued = false;              // after a text complement: the next block's start is no break
    bool m_blank_pending = false;      // a blank goes before the next text, unless one is there
    bool m_separator_pending = false;  // " | " goes before the next text of a table row
    bool m_visible = false;            // the line holds more than blanks
    int m_cells = 0;                   // open table cells: inside one, a block boundary is a blank
    std::vector<int> m_list_numbers;   // per open list: -1 for a bullet list, else the last number
    std::vector<int> m_row_cells;      // per open table row: the cells begun so far
    struct Open {
        Node node;
        Kind kind;
    };
    std::vector<Open> m_open;  // the elements walk() is inside; kept for the next walk
};

// Whether an element of this name is inline text (span, b, i, sup and the like), which continues
// the line it stands in.
bool is_inline_element(std::string_view name);

// The lines of `holder` (tests, label paragraphs).
std::vector<std::string> text_lines(Node holder);
// The text of one inline element such as a span, as one line.
std::string inline_text(Node element);

}  // namespace gaebxml
