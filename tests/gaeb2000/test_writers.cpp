// SPDX-License-Identifier: MIT
// How the GAEB 2000 layout cuts lines into cells: long texts and notes at the last blank within
// their width, short texts in pieces of 140 characters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader_fixture.h"
#include "workbook/rows.h"
#include "workbook/text.h"

namespace {

std::string repeat(std::string_view s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

std::vector<size_t> lengths(const std::vector<std::string>& cells) {
    std::vector<size_t> out;
    for (const auto& c : cells) out.push_back(workbook::utf8_length(c));
    return out;
}

}  // namespace

TEST(LongText, CutsLongLinesAtTheLastBlank) {
    struct Case {
        std::string name, line;
        std::vector<size_t> cells;
    };
    const std::string blank_at_170 = std::string(169, 'x') + " " + std::string(30, 'y');
    const std::string blank_at_120 =
        std::string(49, 'a') + " " + std::string(69, 'b') + " " + std::string(21, 'c');
    const std::vector<Case> cases = {
        {"no blank at all", std::string(300, 'x'), {140, 140, 20}},
        {"only blank beyond the width", blank_at_170, {140, 60}},
        {"exactly the width", std::string(140, 'x'), {140}},
        {"last blank at 120", blank_at_120, {120, 21}},
        {"characters, not bytes", repeat("ä", 150), {140, 10}},
        {"leading blanks of a later piece go",
         std::string(139, 'a') + "  " + std::string(10, 'b'),
         {140, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderFixture f;
        f.layout->text_line(bill::TextKind::Long, c.line);
        const auto cells = f.column(workbook::kPositionsteil, 2, 8);
        EXPECT_EQ(lengths(cells), c.cells);
        EXPECT_EQ(f.rows().Positions, 8 + static_cast<int32_t>(c.cells.size()));
        std::string joined;
        for (const auto& cell : cells) joined += cell;
        if (c.name != "leading blanks of a later piece go") {
            EXPECT_EQ(joined, c.line);  // nothing lost
        }
    }
    ReaderFixture f;
    f.layout->text_line(bill::TextKind::Long, blank_at_120);
    EXPECT_EQ(f.column(workbook::kPositionsteil, 2, 8).front().back(), ' ');  // the blank ends the piece
}

TEST(LongText, EmptyAndBlankLinesDependOnTheUse) {
    const std::vector<std::string> lines = {"eins", "", "   ", "  zwei"};
    ReaderFixture f;
    for (const auto& l : lines) f.layout->text_line(bill::TextKind::Long, l);
    EXPECT_EQ(f.column(workbook::kPositionsteil, 2, 8), (std::vector<std::string>{"eins", "zwei"}));

    f.rows().Notes = 1;
    f.layout->notes_begin({});
    for (const auto& l : lines) f.layout->note_line(l);
    // The empty line takes no row; the blank one is written as an empty cell.
    EXPECT_EQ(f.column(workbook::kHinweistext, 1, 1), (std::vector<std::string>{"eins", "", "zwei"}));
    EXPECT_EQ(f.rows().Notes, 4);
    f.layout->notes_end();  // an empty row after the bill's notes
    EXPECT_EQ(f.rows().Notes, 5);
}

TEST(LongText, AFullSheetEndsTheRunWithOneMessage) {
    const std::vector<std::string> full = {
        "Das Tabellenblatt \"Positionsteil\" ist voll (1048576 Zeilen).\nDie Konvertierung wird "
        "abgebrochen."};
    ReaderFixture f;
    f.rows().Positions = workbook::kMaxRow;  // the last row of a sheet
    EXPECT_THROW(f.layout->text_line(bill::TextKind::Long, std::string(300, 'x')), bill::Stop);
    EXPECT_EQ(f.book().sheet(workbook::kPositionsteil).text(workbook::kMaxRow, 2), std::string(140, 'x'));
    EXPECT_EQ(f.ui.messages, full);

    // The same for items (here outside any range): the run stops at the first one without room.
    ReaderFixture g;
    std::string items;
    for (int i = 1; i <= 3; ++i)
        for (const char* l :
             {"#begin[Position]", "[OZ]0010[end]", "[Menge]1[end]", "[Kurztext]Text[end]", "#end[Position]"})
            items += std::string(l) + "\r\n";
    g.reader->set_source(items);
    g.rows().Positions = workbook::kMaxRow - 2;
    EXPECT_THROW(g.reader->LVBereich(), bill::Stop);
    EXPECT_EQ(g.rows().Positions, workbook::kMaxRow + 1);
    EXPECT_EQ(g.ui.messages, full);
}

TEST(ShortText, PiecesOf140CharactersTheLastUntrimmed) {
    struct Case {
        std::string name, line;
        std::vector<std::string> cells;
    };
    const std::vector<Case> cases = {
        {"280 characters", std::string(280, 'k'), {std::string(140, 'k'), std::string(140, 'k')}},
        {"300 characters",
         std::string(280, 'k') + "  " + std::string(18, 'r'),
         {std::string(140, 'k'), std::string(140, 'k'), "  " + std::string(18, 'r')}},
        {"full pieces trimmed",
         std::string(140, 'a') + "   " + std::string(137, 'b') + "c",
         {std::string(140, 'a'), std::string(137, 'b'), "c"}},
        {"short line trimmed at the left only", "  kurz  ", {"kurz  "}},
        {"empty line", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderFixture f;
        f.layout->text_line(bill::TextKind::Short, c.line);
        EXPECT_EQ(f.column(workbook::kPositionsteil, 2, 8), c.cells);
        EXPECT_EQ(f.rows().Positions, 8 + static_cast<int32_t>(c.cells.size()));
    }
}
