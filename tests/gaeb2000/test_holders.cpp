// SPDX-License-Identifier: MIT
// The text holders and the operations on lines: lookups, memo rules, key values, block moves,
// loading and decoding.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "gaeb2000/line_list.h"
#include "gaeb2000/load.h"
#include "gaeb2000/text_ops.h"
#include "workbook/errors.h"

using gaeb2000::LineList;

namespace {

// A list whose lines view `storage` (which must outlive it).
void fill(LineList& list, const std::vector<std::string>& storage) {
    for (const std::string& s : storage) list.append(s);
}

std::vector<std::string> lines_of(const LineList& list) {
    std::vector<std::string> out;
    for (int64_t i = 0; i < list.size(); ++i) out.emplace_back(list.line(i));
    return out;
}

}  // namespace

TEST(Lookups, FindLinesByKeyIgnoringCaseOfAsciiLettersOnly) {
    const std::vector<std::string> storage = {"[Menge]12.5[end]", "[BezTX]Dach[end]", "[oz]0101[end]",
                                              "[Kurztext]über[end]", "[ME]m2[end]"};
    LineList list;
    fill(list, storage);
    struct Case {
        std::string needle;
        int64_t from;
        int64_t expected;
    };
    const std::vector<Case> cases = {
        {"[ME]", 0, 4},             // "[ME]" is no part of "[Menge]"
        {"[Bez]", 0, -1},           // nor "[Bez]" of "[BezTX]"
        {"[OZ]", 0, 2},             // a key in small letters is found
        {"[KURZTEXT]ÜBER", 0, -1},  // umlauts must match exactly
        {"[KURZTEXT]üBER", 0, 3},
        {"[menge]", 1, -1},  // from the given line on
        {"", 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.needle);
        EXPECT_EQ(list.find(c.needle, c.from), c.expected);
    }
    LineList empty;
    EXPECT_EQ(empty.find("[OZ]"), -1);
}

TEST(Lookups, RememberedSearchesGiveTheSameAnswersAsAFreshScan) {
    // Random appends, deletions and searches, checked against a plain vector searched from the top.
    const std::vector<std::string> pool = {"#begin[Position]", "[OZ]01[end]", "[oz]02[end]",
                                           "#end[Position]",   "text",        "",
                                           "#BEGIN[position]", "[end]"};
    const std::vector<std::string> needles = {"#begin[Position]", "[OZ]", "#end[Position]", "[end]", "x"};
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        LineList list;
        std::vector<std::string> model;
        for (int op = 0; op < 400; ++op) {
            const int kind = static_cast<int>(rng() % 10);
            if (kind < 4 || model.empty()) {
                const std::string& s = pool[rng() % pool.size()];
                list.append(s);
                model.push_back(s);
            } else if (kind < 6) {
                const size_t b = rng() % model.size();
                const size_t e = std::min(model.size() - 1, b + rng() % 5);
                list.erase(static_cast<int64_t>(b), static_cast<int64_t>(e));
                model.erase(model.begin() + static_cast<ptrdiff_t>(b),
                            model.begin() + static_cast<ptrdiff_t>(e) + 1);
            } else {
                const std::string& needle = needles[rng() % needles.size()];
                const int64_t from =
                    (rng() % 3 == 0 && !model.empty()) ? static_cast<int64_t>(rng() % model.size()) : 0;
                int64_t expected = -1;
                for (size_t i = static_cast<size_t>(from); i < model.size(); ++i)
                    if (gaeb2000::holds_key(model[i], needle)) {
                        expected = static_cast<int64_t>(i);
                        break;
                    }
                ASSERT_EQ(list.find(needle, from), expected)
                    << "round " << round << " op " << op << " " << needle;
            }
            ASSERT_EQ(lines_of(list), model);
        }
    }
}

TEST(Holders, MemoRulesOfAssignAndReadBack) {
    LineList memo(LineList::Kind::Memo);
    memo.assign("eins\r\nzwei\nnoch zwei\r\n\r\ndrei\r\n");
    EXPECT_EQ(lines_of(memo), (std::vector<std::string>{"eins", "zwei\nnoch zwei", "", "drei"}));
    EXPECT_EQ(memo.line(4), "");  // past the end: an empty line
    EXPECT_EQ(memo.line(-1), "");
    memo.append("fünf");
    EXPECT_EQ(memo.size(), 5);

    // A line of any length is read back whole: a long text must not lose its end.
    std::string longer(4000, 'a');
    for (int i = 0; i < 2000; ++i) longer += "ä";
    memo.assign(longer + "\r\nkurz");
    EXPECT_EQ(memo.line(0), longer);
    EXPECT_EQ(memo.line(1), "kurz");
    // A string list fails on a line past its end.
    LineList list;
    list.append(longer);
    EXPECT_EQ(list.line(0), longer);
    EXPECT_THROW(list.line(1), workbook::BremoraError);
    EXPECT_THROW(list.erase(0, 1), workbook::BremoraError);
    LineList empty_text(LineList::Kind::Memo);
    empty_text.assign("");
    EXPECT_TRUE(empty_text.empty());
}

TEST(Holders, DeleteLineKeyAndKeyValues) {
    struct Case {
        std::string key, line, expected;
    };
    const std::vector<Case> cases = {
        {"[end]", "A[END]B[end]", "AB[end]"},  // the first occurrence only, found ignoring case
        {"[OZ]", "[oz]0101[end]", "0101[end]"},
        {"[Bez]", "kein Schlüssel", "kein Schlüssel"},
        {"[ME]", "[ME][end]", "[end]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(gaeb2000::DeleteLineKey(c.key, c.line), c.expected);
    }
    EXPECT_EQ(gaeb2000::key_value("[Menge] 12.5 [end][end]", "[Menge]"), " 12.5 [end]");
    EXPECT_EQ(gaeb2000::key_value("x[OZ]01[end]", "[OZ]"), "x01");  // text before the key stays
    // Through a field of 10 characters the "[end]" is cut off before it can be removed.
    EXPECT_EQ(gaeb2000::key_value("[OZ]123456[end]", "[OZ]", 10), "123456");
    EXPECT_EQ(gaeb2000::key_value("[OZ]1234567[end]", "[OZ]", 10), "123456");
}

TEST(Holders, KeyTextGoesOnOverLinesJoinedWithOneBlank) {
    struct Case {
        std::vector<std::string> lines;  // the key in the first line
        std::string text;
        int64_t last;
    };
    const std::vector<Case> cases = {
        {{"[Bez]Pflaster[end]", "x"}, "Pflaster", 0},
        {{"[Bez]Außenanlagen und  ", "  Pflaster[end]", "x"}, "Außenanlagen und Pflaster", 1},
        {{"[Bez]Wege", "", "und Plätze", "[end]"}, "Wege und Plätze", 3},
        {{"[Bez]", "Wege[END]"}, "Wege", 1},
        // Without "[end]", another key or a block line ends the text with its first line.
        {{"[Bez]Dach", "[Menge]2[end]"}, "Dach", 0},
        {{"[Bez]Dach", "Ziegel", "#end[LVBereich]"}, "Dach", 0},
        {{"[Bez]Dach"}, "Dach", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.front() + " / " + std::to_string(c.lines.size()));
        LineList list;
        fill(list, c.lines);
        int64_t last = -1;
        EXPECT_EQ(gaeb2000::key_text(list, 0, "[Bez]", 0, &last), c.text);
        EXPECT_EQ(last, c.last);
    }
    const std::vector<std::string> long_name = {"[Name1]Stadt", "Oberbrück[end]"};
    LineList list;
    fill(list, long_name);
    EXPECT_EQ(gaeb2000::key_text(list, 0, "[Name1]", 8), "Stadt Ob");
}

TEST(Holders, MoveBereichTrimsAndConsumes) {
    const std::vector<std::string> storage = {"a", " \t b", "\x01 c ", "d"};
    LineList source, target;
    fill(source, storage);
    gaeb2000::MoveBereich(source, 1, 2, target);
    EXPECT_EQ(lines_of(target), (std::vector<std::string>{"b", "c "}));
    EXPECT_EQ(lines_of(source), (std::vector<std::string>{"a", "d"}));
    gaeb2000::MoveBereich(source, 1, 0, target);  // e < b: nothing
    EXPECT_EQ(source.size(), 2);
    EXPECT_EQ(target.size(), 2);
    gaeb2000::move_lines_untrimmed(target, 0, 1, source);
    EXPECT_EQ(lines_of(source), (std::vector<std::string>{"a", "d", "b", "c "}));
}

TEST(Holders, NumbersOfTheFileWhateverTheLocale) {
    struct Case {
        std::string text;
        double value;
    };
    for (const Case& c : std::vector<Case>{
             {"12.500", 12.5}, {"12,500", 12.5}, {" 3 ", 3}, {"-0.25", -0.25}, {"1944.270", 1944.27}}) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(gaeb2000::gaeb_number(c.text), c.value);
    }
    for (const std::string bad : {"", "1.234,5", "1,2,3", "12 m", "abc"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(gaeb2000::gaeb_number(bad), workbook::ConvertError);
    }
}

TEST(Loading, ByteOrderMarkSelectsTheEncoding) {
    struct Case {
        std::string name, bytes, text;
    };
    const std::vector<Case> cases = {
        {"windows-1252", "Ma\xdf \x80", "Maß €"},
        {"utf-8 with mark", "\xEF\xBB\xBFMa\xC3\x9F \xE2\x82\xAC", "Maß €"},
        {"utf-8 with a stray byte", "\xEF\xBB\xBF\xFC", "ü"},
        {"utf-16 le", std::string("\xFF\xFEM\0\xDF\0\xAC\x20", 8), "Mß€"},
        {"utf-16 be", std::string("\xFE\xFF\0M\0\xDF\xD8\x3D\xDE\x00", 10), "Mß😀"},
        {"utf-16 unpaired surrogate", std::string("\xFF\xFE\x00\xD8", 4), "\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(gaeb2000::decode_gaeb2000(c.bytes), c.text);
    }
}

TEST(Loading, AFileCutOffGetsTheEndsOfItsOpenRanges) {
    struct Case {
        std::string name, text;
        bool closed;
        std::string ends;
    };
    const std::string head = "#begin[GAEB]\r\n#begin[Vergabe]\r\n#begin[LV]\r\n#begin[LVBereich]\r\n";
    const std::vector<Case> cases = {
        {"whole", head + "#end[LVBereich]\r\n#end[LV]\r\n#end[Vergabe]\r\n#END[GAEB]\r\n", true, ""},
        // The open item stays open: its end is missing.
        {"in an item", head + "#begin[LVBereich]\r\n#begin[Position]\r\n[OZ]0101", false,
         "\r\n#end[LVBereich]\r\n#end[LVBereich]\r\n#end[LV]\r\n#end[Vergabe]\r\n#end[GAEB]\r\n"},
        // An end closes the blocks left open inside it.
        {"after a range", head + "#begin[Position]\r\n#end[LVBereich]\r\n", false,
         "#end[LV]\r\n#end[Vergabe]\r\n#end[GAEB]\r\n"},
        {"in the header", "#begin[GAEB]\r\n#begin[PrjInfo]\r\n[Bez]Sch", false, "\r\n#end[GAEB]\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(gaeb2000::has_closing_line(c.text), c.closed);
        if (!c.closed) {
            EXPECT_EQ(gaeb2000::closing_lines(c.text), c.ends);
        }
    }
}

TEST(Loading, LinesEndAtCrLfLfOrCr) {
    const std::string text = "a\r\nb\nc\rd\r\n\r\ne";
    LineList list;
    gaeb2000::split_lines(text, list);
    EXPECT_EQ(lines_of(list), (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
    LineList trailing;
    const std::string ends = "x\r\n";
    gaeb2000::split_lines(ends, trailing);
    EXPECT_EQ(lines_of(trailing), (std::vector<std::string>{"x"}));
}
