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
        {"tab and typographic words", "{\\rtf1 a\\tab b\\emdash\\ldblquote c\\rdblquote}", "a b—“c”"},
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

TEST(RtfToText, WhatThePrintedTextDoesNotShowGivesNoText) {
    struct Case {
        std::string name, rtf, text;
    };
    const std::vector<Case> cases = {
        {"bookmarks",
         "{\\rtf1 Nr '{\\bkmkstart TA11}{\\bkmkstart Feld11}\\par Text{\\bkmkend Feld11}{\\*\\bkmkend TA11}}",
         "Nr '\r\nText"},
        {"headers, footers, notes and annotations",
         "{\\rtf1 {\\header Kopf}{\\footerr Fuss}a{\\footnote\\chftn Note}b{\\*\\atnid X}"
         "{\\*\\annotation Anm}{\\*\\atrfstart 1}c}",
         "abc"},
        {"document information and tables",
         "{\\rtf1{\\info{\\title T}{\\author A}{\\*\\company C}}{\\*\\listtable{\\list{\\listlevel"
         "{\\leveltext x;}}}}{\\*\\rsidtbl \\rsid1}{\\*\\generator G;}{\\*\\xmlnstbl{\\xmlns1 u}}Text}",
         "Text"},
        {"pictures, objects and shape properties",
         "{\\rtf1 a{\\*\\shppict{\\pict{\\*\\picprop{\\sp{\\sn n}{\\sv 1}}}\\pngblip 00}}"
         "{\\nonshppict{\\pict 00}}{\\object\\objemb{\\*\\objclass Excel}{\\*\\objdata 01}"
         "{\\result{\\pict 00}}}b}",
         "ab"},
        {"a shape's text once",
         "{\\rtf1 {\\shp{\\*\\shpinst{\\sp{\\sn fill}{\\sv 1}}{\\shptxt Kasten}}"
         "{\\shprslt{\\*\\do{\\dptxbxtext Kasten}}}} x}",
         "Kasten x"},
        {"index and contents entries", "{\\rtf1 Wort{\\xe {\\v Wort}}{\\tc Kapitel} weiter}", "Wort weiter"},
        {"field instruction and form-field data",
         "{\\rtf1 {\\field{\\*\\fldinst {FORMTEXT {\\*\\formfield{\\*\\ffname F1}}}}{\\fldrslt Wert}}}",
         "Wert"},
        {"hidden text", "{\\rtf1 a{\\v versteckt}b\\v c\\v0 d\\v e\\plain f}", "abdf"},
        {"unknown destination after \\*", "{\\rtf1 a{\\*\\unbekannt {\\b x}y}b}", "ab"},
        {"unicode version of a text", "{\\rtf1 {\\upr{Gr\\'f6sse}{\\*\\ud{Gr\\u246 ?\\u223 ?e}}}!}",
         "Größe!"},
        {"list numbers are what a reader sees",
         "{\\rtf1 {\\listtext 1.\\tab}Punkt\\par{\\pntext a)\\tab}Unter}", "1. Punkt\r\na) Unter"},
        {"marks of no width and dynamic fields", "{\\rtf1 a\\zwj\\zwnj\\ltrmark b\\chpgn\\chdate c}", "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RTFtoText(c.rtf), c.text);
    }
}

TEST(RtfToText, LineEndsCellsTabsAndControlSymbols) {
    struct Case {
        std::string name, rtf, text;
    };
    const std::vector<Case> cases = {
        {"every line end", "{\\rtf1 a\\line b\\sect c\\page d\\column e\\\r\nf\\\ng\\softline h}",
         "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\nh"},
        {"table rows",
         "{\\rtf1 \\trowd\\cellx100\\cellx200\\pard\\intbl A\\cell B\\cell\\row"
         "\\pard\\intbl\\cell C\\cell\\row Ende}",
         "A | B\r\n | C\r\nEnde"},
        {"nested table",
         "{\\rtf1 \\pard\\intbl a\\nestcell b\\nestcell{\\*\\nesttableprops\\nestrow}c\\cell\\row}",
         "a | b | c\r\n"},
        {"tabs are blanks", "{\\rtf1 Einbauort:\\tab Altbau\tDG\\tab\\tab x}", "Einbauort: Altbau DG  x"},
        {"control symbols", "{\\rtf1 a\\~b\\_c\\-d\\|e\\:f}", "a\u00A0b-cdef"},
        {"a control word ends at a raw line break", "{\\rtf1 eins\\par\r\nzwei\\b\nfett}",
         "eins\r\nzweifett"},
        {"a word broken over source lines stays whole", "{\\rtf1 Entw\\'e4sserungsdurchf\r\n\\'fchrung}",
         "Entwässerungsdurchführung"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RTFtoText(c.rtf), c.text);
    }
}

TEST(RtfToText, HexEscapesAreBytesOfTheDocumentsCodePage) {
    struct Case {
        std::string name, rtf, text;
    };
    const std::vector<Case> cases = {
        {"Windows-1252 without a code page", "{\\rtf1 \\'80 \\'e4}", "€ ä"},
        {"Central European", "{\\rtf1\\ansi\\ansicpg1250 \\'9a\\'e8}", "šč"},
        {"Cyrillic", "{\\rtf1\\ansi\\ansicpg1251 \\'c0\\'e1}", "Аб"},
        {"\\ansi after \\ansicpg keeps the code page", "{\\rtf1\\ansicpg1250\\ansi \\'9a}", "š"},
        {"DOS code page 850", "{\\rtf1\\pca \\'81\\'e1}", "üß"},
        {"UTF-8 as code page", "{\\rtf1\\ansicpg65001 \\'c3\\'a4}", "ä"},
        {"two bytes for one character", "{\\rtf1\\ansicpg932 \\'82\\'a0!}", "あ!"},
        {"unknown code page read as Windows-1252", "{\\rtf1\\ansicpg4242 \\'e4}", "ä"},
        {"a byte that does not convert", "{\\rtf1\\ansicpg932 \\'82}", "\uFFFD"},
        {"unicode fallback bytes are skipped", "{\\rtf1\\ansicpg1250 \\u269\\'e8x}", "čx"},
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
