// SPDX-License-Identifier: MIT
#include "gaeb2000/rtf_to_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using gaeb2000::RTFtoText;

TEST(RtfToText, VisibleTextOneLinePerParagraph) {
    struct Case {
        std::string name, rtf, text;
    };
    const std::vector<Case> cases = {
        {"paragraphs", "{\\rtf1\\ansi Erste Zeile.\\par Zweite\\line Dritte}",
         "Erste Zeile.\r\nZweite\r\nDritte"},
        {"last paragraph mark", "{\\rtf1 A\\par}", "A\r\n"},
        {"source line breaks are no text", "{\\rtf1 a\r\nb\nc\\par\r\nd}", "abc\r\nd"},
        {"tables of the header give no text",
         "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}{\\colortbl;\\red0\\green0\\blue0;}"
         "{\\stylesheet{\\s0 Normal;}}{\\info{\\title T}{\\author A}}\\pard\\plain\\f0\\fs20 Text\\par}",
         "Text\r\n"},
        {"ignorable destinations", "{\\rtf1 {\\*\\generator WPTools;}{\\*\\wptools{\\x 00ff}}sichtbar}",
         "sichtbar"},
        {"picture", "{\\rtf1 vor{\\pict\\pngblip 89504e47}nach}", "vornach"},
        {"groups keep their text", "{\\rtf1 {\\b fett} und {\\i {kursiv}}}", "fett und kursiv"},
        {"hex escapes are Windows-1252", "{\\rtf1 M\\'fcnster \\'80 \\'96}", "Münster € –"},
        {"unicode with one fallback", "{\\rtf1 \\u8364?\\u252 ?x}", "€üx"},
        {"unicode fallback count", "{\\rtf1\\uc2 \\u8364\\'80\\'80x{\\uc0 \\u8364 y}\\u252??z}", "€x€yüz"},
        {"negative unicode and surrogate pair", "{\\rtf1 \\u-4064?\\u-10179?\\u-8704?}", "\xEF\x80\xA0😀"},
        {"escaped characters", "{\\rtf1 \\{a\\} \\\\b\\~c}",
         "{a} \\b\xC2\xA0"
         "c"},
        {"control word delimiter and parameter", "{\\rtf1\\b0 x\\par-1\\fs20-y}", "x\r\n-y"},
        {"tab and typographic words", "{\\rtf1 a\\tab b\\emdash\\ldblquote c\\rdblquote}", "a\tb—“c”"},
        {"field result stays, instruction goes",
         "{\\rtf1 {\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt Link}}}", "Link"},
        {"binary data skipped", "{\\rtf1 a\\bin3 }{}b}", "ab"},
        {"text after the document", "{\\rtf1 drin} draussen", "drin"},
        {"leading blanks before the header", "\r\n {\\rtf1 x}", "x"},
        {"utf-8 text stays", "{\\rtf1 Maß ü}", "Maß ü"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RTFtoText(c.rtf), c.text);
    }
}

TEST(RtfToText, PlainTextKeepsItsLineBreaks) {
    EXPECT_EQ(RTFtoText("eins\r\nzwei\ndrei\rvier\r\n"), "eins\r\nzwei\r\ndrei\r\nvier\r\n");
    EXPECT_EQ(RTFtoText("{\\rt kein RTF}"), "{\\rt kein RTF}");
    EXPECT_EQ(RTFtoText(""), "");
}

TEST(RtfToText, HostileInputEndsCleanly) {
    struct Case {
        std::string name, rtf, text;
    };
    const std::vector<Case> cases = {
        {"missing closing braces", "{\\rtf1 {\\b offen", "offen"},
        {"extra closing brace ends the document", "{\\rtf1 a}}b", "a"},
        {"truncated control word", "{\\rtf1 a\\pa", "a"},
        {"backslash at the end", "{\\rtf1 a\\", "a"},
        {"truncated hex escape", "{\\rtf1 a\\'f", "a"},
        {"unicode without number", "{\\rtf1 a\\u}", "a"},
        {"huge parameter", "{\\rtf1 \\uc99999999999999 \\u99999999999 a}", "\xEF\xBF\xBD"},
        {"bin longer than the input", "{\\rtf1 a\\bin999999999 xyz", "a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RTFtoText(c.rtf), c.text);
    }
    // Nesting tens of thousands deep: no recursion, bounded state; the deep part gives no text.
    const std::string deep = "{\\rtf1 x" + std::string(50000, '{') + "tief" + std::string(50000, '}') + "y}";
    EXPECT_EQ(RTFtoText(deep), "xy");
    const std::string unclosed = "{\\rtf1 x" + std::string(100000, '{') + "tief";
    EXPECT_EQ(RTFtoText(unclosed), "x");
    const std::string letters = "{\\rtf1 \\" + std::string(1000000, 'a') + " b}";
    EXPECT_EQ(RTFtoText(letters), "b");
}
