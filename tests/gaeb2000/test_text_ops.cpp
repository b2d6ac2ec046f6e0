// SPDX-License-Identifier: MIT
// Ordinal numbers, picture removal, character references and the clean-up of long texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gaeb2000/text_ops.h"
#include "workbook/errors.h"

using gaeb2000::FormatBereich;
using gaeb2000::FormatPosition;

TEST(OzMask, EveryLevelWithoutBlanksPaddedToItsWidth) {
    struct Case {
        bool range;
        std::string number, mask, expected;
    };
    const std::vector<Case> cases = {
        {true, "01", "224", "01."},
        {true, "0102", "224", "01.02."},
        {true, "1", "224", "01."},  // the level the number holds, padded
        {true, "21", "113", "2.1."},
        {true, "01023", "224", "01.02.3"},  // beyond the range levels: kept
        {false, "010010", "24", "01.0010"},
        {false, "0102", "224", "01.02."},
        {false, "01", "224", "01.00."},  // levels past the end of the number are zeros
        {false, "01025", "221", "01.02.5"},
        {false, "010200010", "2214", "01.02.0.0010"},
        // blanks pad the fixed-width levels: removed, the level padded with zeros instead
        {false, "1  10", "113", "1.0.010"},
        {false, "21100", "113", "2.1.100"},
        {false, " 1 1   1", "224", "01.01.0001"},
        {false, "11 1", "112", "1.1.01"},
        {false, "0100101", "24", "01.00101"},  // an index after the item number stays with it
        {true, "", "224", ""},
        {false, "", "224", ""},
        // without a mask the number stays, less its blanks
        {true, "01", "", "01"},
        {false, "01 0010", "", "010010"},
        {true, "0102", "4", "0102"},
        {false, "12", "4", "0012"},  // a mask of one character: the item number only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number + " / " + c.mask);
        EXPECT_EQ(c.range ? FormatBereich(c.number, c.mask) : FormatPosition(c.number, c.mask), c.expected);
    }
    EXPECT_THROW(FormatBereich("0102", "2x4"), workbook::ConvertError);
    EXPECT_THROW(FormatPosition("0102", "A24"), workbook::ConvertError);
    EXPECT_THROW(FormatPosition("0102", "22x"), workbook::ConvertError);
    EXPECT_EQ(FormatBereich("1", "2x4"), "01.");  // the bad character is never reached
}

TEST(Pictures, RemovalCases) {
    struct Case {
        std::string text, expected;
    };
    const std::vector<Case> cases = {
        {"{\\rtf1 a{\\pict\\pngblip 89ab}b\\par}", "{\\rtf1 ab\\par}"},
        // what follows the picture stays, groups included
        {"{\\rtf1 {\\pict 00}nach{\\b fett} Rest}", "{\\rtf1 nach{\\b fett} Rest}"},
        {"{\\rtf1 {\\*\\shppict{\\pict{\\*\\picprop{\\sp{\\sn a}}}00}}x}", "{\\rtf1 {\\*\\shppict}x}"},
        {"{\\rtf1 {\\pict 1}a{\\pict 2}b}", "{\\rtf1 ab}"},
        // escaped braces and binary data inside the picture do not count
        {"{\\rtf1 {\\pict \\} \\{ }x}", "{\\rtf1 x}"},
        {"{\\rtf1 {\\pict\\bin3 }}}}x}", "{\\rtf1 x}"},
        // unbalanced: no end can be found; the removal ends and keeps the text
        {"{\\rtf1 a{\\pict 00 b", "{\\rtf1 a{\\pict 00 b"},
        {"{a}{\\pict x", "{a}{\\pict x"},
        {"kein Bild", "kein Bild"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(gaeb2000::remove_pictures(c.text), c.expected);
    }
}

TEST(Pictures, ManyPicturesInOneLongTextTakeOnePass) {
    constexpr size_t kCount = 100000;
    std::string text(kCount, '{');
    std::string expected(kCount, '{');
    for (size_t i = 0; i < kCount; ++i) {
        text += "{\\pict 0}x}";
        expected += "x}";
    }
    EXPECT_EQ(gaeb2000::remove_pictures(text), expected);
}

TEST(References, NumericAndTheFiveXmlEntitiesAreDecoded) {
    struct Case {
        std::string text, expected;
    };
    const std::vector<Case> cases = {
        {"2.000 &#8364; netto", "2.000 € netto"},
        {"GmbH &#38; Co.KG", "GmbH & Co.KG"},
        {"&lt;= 1 W, &gt;0, &quot;a&quot; &apos;b&apos; &amp;", "<= 1 W, >0, \"a\" 'b' &"},
        {"&#91;x&#93; &#x5B;&#X5d; &#xe4;", "[x] [] ä"},
        // 128 to 159 are Windows-1252 bytes, as the bills mean them
        {"10 &#128; &#150; &#132;x&#147;", "10 € – „x“"},
        {"&#0; &#55296; &#99999999999999;", "\uFFFD \uFFFD \uFFFD"},
        // decoded once: an escaped reference stays a reference
        {"&amp;#91;", "&#91;"},
        // no reference
        {"& &# &#; &#x; &#12 &#a1; &auml; &LT; a&b", "& &# &#; &#x; &#12 &#a1; &auml; &LT; a&b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(gaeb2000::decode_references(c.text), c.expected);
    }
    EXPECT_EQ(gaeb2000::cell_text("a\tb&#9;c"), "a b c");
}

TEST(LongText, CleanUpPlaceholdersAndTabs) {
    struct Case {
        std::string text, expected;
    };
    const std::vector<Case> cases = {
        {"\r\n\r\nText", "Text"},
        // a tab is a blank; in RTF the reader makes the blank of "\tab"
        {"a\\tab b\tc", "a  b c"},
        {"{\\rtf1 a\\tab b\tc}", "{\\rtf1 a\\tab b c}"},
        {"TB61TB70 TB80 TB60 TB81", "  TB60 TB81"},
        {"Feld61 Feld80 feld62", "  feld62"},  // letter case counts
        {"TB6Feld611", "TB61"},                // one pass per placeholder, in order
        {"&#91;x&#93;", "&#91;x&#93;"},        // references are decoded after the conversion
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(gaeb2000::clean_long_text(c.text), c.expected);
    }
}

TEST(LongText, JoinedCutAtLangtextInRtfModeAndPlainMode) {
    const std::vector<std::string> rtf = {"#begin[Beschreibung]", "[Langtext]{\\rtf1 eins\\par", "zwei",
                                          "drei\\par}[end]", "#end[Beschreibung]"};
    gaeb2000::LineList memo(gaeb2000::LineList::Kind::Memo);
    for (const auto& s : rtf) memo.append(s);
    // The line breaks of the source stay: the RTF reader drops them, and they end a control word.
    EXPECT_EQ(gaeb2000::long_text_of(memo, 0, 4), "{\\rtf1 eins\\par\r\nzwei\r\ndrei\\par}\r\n");

    const std::vector<std::string> plain = {"#begin[Beschreibung]", "x [LANGTEXT]Zeile 1", "Zeile 2[END]",
                                            "#end[Beschreibung]"};
    gaeb2000::LineList memo2(gaeb2000::LineList::Kind::Memo);
    for (const auto& s : plain) memo2.append(s);
    EXPECT_EQ(gaeb2000::long_text_of(memo2, 0, 3), "Zeile 1\r\nZeile 2\r\n");

    gaeb2000::LineList memo3(gaeb2000::LineList::Kind::Memo);
    memo3.append("#begin[Beschreibung]");
    memo3.append("[Kurztext]nur kurz[end]");
    memo3.append("#end[Beschreibung]");
    EXPECT_EQ(gaeb2000::long_text_of(memo3, 0, 2), std::nullopt);
}
