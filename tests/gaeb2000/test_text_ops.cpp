// SPDX-License-Identifier: MIT
// Ordinal-number dots, picture removal and the clean-up of long texts.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "gaeb2000/text_ops.h"
#include "workbook/errors.h"

using gaeb2000::FindePicEndpos;
using gaeb2000::FormatBereich;
using gaeb2000::FormatPosition;
using gaeb2000::StringCount;

TEST(OzMask, FormatBereichAndFormatPosition) {
    struct Case {
        bool range;
        std::string number, mask, expected;
    };
    const std::vector<Case> cases = {
        {true, "01", "224", "01."},
        {true, "0102", "224", "01.02."},
        {true, "1", "224", "1"},
        {false, "0102", "224", "01.02."},
        {false, "01", "224", "01.."},
        {false, "01025", "221", "01.02.5"},
        {false, "010200010", "2214", "01.02.0.0010"},
        {true, "", "224", ""},
        {true, "01", "", ""},
        {false, "", "224", ""},
        {false, "01", "", ""},
        {true, "0102", "4", "0102"},
        {false, "0102", "4", "0102"},  // one character: unchanged
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number + " / " + c.mask);
        EXPECT_EQ(c.range ? FormatBereich(c.number, c.mask) : FormatPosition(c.number, c.mask), c.expected);
    }
    EXPECT_THROW(FormatBereich("0102", "2x4"), workbook::ConvertError);
    EXPECT_THROW(FormatPosition("0102", "A24"), workbook::ConvertError);
    EXPECT_EQ(FormatBereich("1", "2x4"), "1");  // the bad character is never reached
}

TEST(Pictures, StringCountAndFindePicEndpos) {
    const std::string s = "{\\rtf1 a{\\pict xx}b}";
    EXPECT_EQ(StringCount(s, '{', 9), 2);  // the picture's own brace included
    EXPECT_EQ(StringCount(s, '{', 8), 1);
    EXPECT_EQ(FindePicEndpos(s, '}', 2), 18);
    EXPECT_EQ(FindePicEndpos(s, '}', 1), 20);
    EXPECT_EQ(FindePicEndpos("{{{", '}', 1), 0);  // never reached
    EXPECT_EQ(FindePicEndpos("äb}", '}', 1), 3);  // positions count characters
}

namespace {

// The picture loop as written with StringCount and FindePicEndpos (ASCII text), ending when a
// picture's end cannot be found.
std::string remove_pictures_by_scanning(std::string text) {
    while (true) {
        const size_t at = text.find("{\\pict");
        if (at == std::string::npos) break;
        const int64_t o = static_cast<int64_t>(at) + 1;
        const int64_t d = StringCount(text, '{', o);
        const int64_t z = FindePicEndpos(text, '}', d);
        if (z <= 0 || z < o) break;
        text.erase(at, static_cast<size_t>(z - o + 1));
    }
    return text;
}

}  // namespace

TEST(Pictures, RemovalCases) {
    struct Case {
        std::string text, expected;
    };
    const std::vector<Case> cases = {
        {"{\\rtf1 a{\\pict\\pngblip 89ab}b\\par}", "{\\rtf1 ab\\par}"},
        // a group after the picture in the same enclosing group goes with it
        {"{\\rtf1 {\\pict 00}nach{\\b fett} Rest}", "{\\rtf1  Rest}"},
        {"{\\rtf1 {\\*\\shppict{\\pict 00}}x}", "{\\rtf1 {\\*\\shppict}x}"},
        {"{\\rtf1 {\\pict 1}a{\\pict 2}b}", "{\\rtf1 b}"},
        // unbalanced: no end can be found; the removal ends and keeps the text
        {"{\\rtf1 a{\\pict 00 b", "{\\rtf1 a{\\pict 00 b"},
        {"{a}{\\pict x", "{a}{\\pict x"},
        {"kein Bild", "kein Bild"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(gaeb2000::remove_pictures(c.text), c.expected);
        EXPECT_EQ(remove_pictures_by_scanning(c.text), c.expected);
    }
}

TEST(Pictures, OnePassRemovalMatchesTheScanningLoop) {
    const std::vector<std::string> pieces = {"{", "}", "{\\pict", "\\pict", "{\\pi", "ct", "x", " ", "\\par"};
    std::mt19937 rng(11);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int n = 1 + static_cast<int>(rng() % 14);
        for (int i = 0; i < n; ++i) text += pieces[rng() % pieces.size()];
        ASSERT_EQ(gaeb2000::remove_pictures(text), remove_pictures_by_scanning(text)) << text;
    }
}

TEST(Pictures, ManyPicturesInOneLongTextTakeOnePass) {
    // Each picture closes one level further out, so each is cut on its own: 100000 cuts.
    constexpr size_t kCount = 100000;
    std::string text(kCount, '{');
    std::string expected(kCount, '{');
    for (size_t i = 0; i < kCount; ++i) {
        text += "{\\pict 0}x}";
        expected += "x}";
    }
    EXPECT_EQ(gaeb2000::remove_pictures(text), expected);
    const std::string small = "{{{{\\pict 0}x}{\\pict 0}x}{\\pict 0}x}";
    EXPECT_EQ(remove_pictures_by_scanning(small), "{{{x}x}x}");
}

TEST(LongText, CleanUpPlaceholdersEntitiesAndTabs) {
    struct Case {
        std::string text, expected;
    };
    const std::vector<Case> cases = {
        {"\r\n\r\nText", "Text"},
        {"a\\tab b\tc", "a bc"},
        {"TB61TB70 TB80 TB60 TB81", "  TB60 TB81"},
        {"Feld61 Feld80 feld62", "  feld62"},  // letter case counts
        {"&#91;x&#93; 10 &#128;", "[x] 10 Euro"},
        {"TB6Feld611", "TB61"},  // one pass per placeholder, in order
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
    EXPECT_EQ(gaeb2000::long_text_of(memo, 0, 4), "{\\rtf1 eins\\parzwei drei\\par} ");

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
