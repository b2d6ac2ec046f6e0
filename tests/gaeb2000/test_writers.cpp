// SPDX-License-Identifier: MIT
// WriteWrapped and WriteChunked: how lines are cut into cells.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader_fixture.h"
#include "workbook/rows.h"
#include "workbook/run_end.h"
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

TEST(WriteWrapped, CutsLongLinesAtTheLastBlank) {
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
        f.reader->WriteWrapped(*ReaderFixture::memo(c.line), gaeb2000::kItemLongText);
        const auto cells = f.column(workbook::kPositionsteil, 2, 8);
        EXPECT_EQ(lengths(cells), c.cells);
        EXPECT_EQ(f.reader->rows().Positions, 8 + static_cast<int32_t>(c.cells.size()));
        std::string joined;
        for (const auto& cell : cells) joined += cell;
        if (c.name != "leading blanks of a later piece go") {
            EXPECT_EQ(joined, c.line);  // nothing lost
        }
    }
    ReaderFixture f;
    f.reader->WriteWrapped(*ReaderFixture::memo(blank_at_120), gaeb2000::kItemLongText);
    EXPECT_EQ(f.column(workbook::kPositionsteil, 2, 8).front().back(), ' ');  // the blank ends the piece
}

TEST(WriteWrapped, EmptyAndBlankLinesDependOnTheUse) {
    ReaderFixture f;
    f.reader->WriteWrapped(*ReaderFixture::memo("eins\r\n\r\n   \r\n  zwei"), gaeb2000::kItemLongText);
    EXPECT_EQ(f.column(workbook::kPositionsteil, 2, 8), (std::vector<std::string>{"eins", "zwei"}));

    f.reader->rows().Notes = 1;
    f.reader->WriteWrapped(*ReaderFixture::memo("eins\r\n\r\n   \r\n  zwei"), gaeb2000::kMainNotes);
    // The empty line takes no row; the blank one is written as an empty cell.
    EXPECT_EQ(f.column(workbook::kHinweistext, 1, 1), (std::vector<std::string>{"eins", "", "zwei"}));
    EXPECT_EQ(f.reader->rows().Notes, 4);
}

TEST(WriteWrapped, AFullSheetEndsTheWritingWithoutAMessagePerRow) {
    ReaderFixture f;
    f.reader->rows().Positions = workbook::kMaxRow;  // the last row of a sheet
    const auto text = ReaderFixture::memo(std::string(300, 'x') + "\r\nkurz");
    EXPECT_THROW(f.reader->WriteWrapped(*text, gaeb2000::kItemLongText), workbook::SheetFull);
    EXPECT_EQ(f.c.book().sheet(workbook::kPositionsteil).text(workbook::kMaxRow, 2), std::string(140, 'x'));
    EXPECT_TRUE(f.ui.messages.empty());

    // The same for items (here outside any range): the run stops at the first one without room.
    ReaderFixture g;
    std::string items;
    for (int i = 1; i <= 3; ++i)
        for (const char* l :
             {"#begin[Position]", "[OZ]0010[end]", "[Menge]1[end]", "[Kurztext]Text[end]", "#end[Position]"})
            items += std::string(l) + "\r\n";
    g.reader->set_source(items);
    g.reader->rows().Positions = workbook::kMaxRow - 2;
    EXPECT_THROW(g.reader->LVBereich(), workbook::SheetFull);
    EXPECT_EQ(g.reader->rows().Positions, workbook::kMaxRow + 1);
    EXPECT_TRUE(g.ui.messages.empty());
}

TEST(WriteChunked, PiecesOf140CharactersTheLastUntrimmed) {
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
        f.reader->WriteChunked(*ReaderFixture::memo(c.line));
        EXPECT_EQ(f.column(workbook::kPositionsteil, 2, 8), c.cells);
        EXPECT_EQ(f.reader->rows().Positions, 8 + static_cast<int32_t>(c.cells.size()));
    }
}
