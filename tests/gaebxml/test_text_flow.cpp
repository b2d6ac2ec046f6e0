// SPDX-License-Identifier: MIT
// Formatted text as lines: paragraphs, spans, breaks, lists, tables, text complements, white space.
#include <gtest/gtest.h>

#include "gaebxml/text_flow.h"

namespace {

std::vector<std::string> lines(const std::string& xml) {
    gaebxml::XmlDocument doc;
    doc.load("<DetailTxt>" + xml + "</DetailTxt>", {});
    return gaebxml::text_lines(doc.root());
}

using Lines = std::vector<std::string>;

TEST(XmlTextFlow, LinesAsTheBillShowsThem) {
    struct Case {
        const char* name;
        std::string xml;
        Lines expected;
    };
    for (const Case& c : {
             Case{"spans of a paragraph are one line",
                  "<Text><p><span>Lage- und Höhengenauigkeit </span>\n  <span>±</span>\n  <span> 2 "
                  "cm.</span></p>"
                  "<p><span>zweite</span></p></Text>",
                  {"Lage- und Höhengenauigkeit ± 2 cm.", "zweite"}},
             Case{"a line break with indentation inside a span is one blank",
                  "<Text><p><span>Beton\n            C25/30,\r\n\tbewehrt</span></p></Text>",
                  {"Beton C25/30, bewehrt"}},
             Case{"br ends a line, empty lines are dropped",
                  "<Text><p><span>a</span><br/><br/><span>b</span><br/></p><p/><p><span>  </span></p></Text>",
                  {"a", "b"}},
             Case{"text outside spans, nested spans and bold",
                  "<Text><p>lose <span>x<b>fett</b>y</span></p></Text>",
                  {"lose xfetty"}},
             Case{"lists",
                  "<Text><p><span>bestehend "
                  "aus:</span></p><ul><li><span>Kies</span></li><li>Sand<br/>gewaschen</li>"
                  "</ul><ol><li>eins</li><li><p>zwei</p></li></ol></Text>",
                  {"bestehend aus:", "- Kies", "- Sand", "gewaschen", "1. eins", "2. zwei"}},
             Case{"tables: one line per row",
                  "<Text><table><tr><td><p>Dicke</p></td><td><p>140</p><p>mm</p></td></tr><tr><td>Gewicht</"
                  "td><td/>"
                  "<td>5 kg</td></tr></table></Text>",
                  {"Dicke | 140 mm", "Gewicht | 5 kg"}},
             Case{"images are no text",
                  "<Text><p><span>Bild:</span><image src=\"a.png\">x</image></p></Text>",
                  {"Bild:"}},
             Case{
                 "a text complement continues the sentence around it",
                 "<Text><p><span>aus Stoffen, </span></p></Text><TextComplement "
                 "Kind=\"Owner\"><ComplCaption><span>"
                 "Stoff</span></ComplCaption><ComplBody><span>'Kies</span><br/><span>0/32'</span></ComplBody>"
                 "<ComplTail><span>,</span></ComplTail></TextComplement><Text><p><span>oder "
                 "gleichwertig</span></p>"
                 "<p><span>neu</span></p></Text>",
                 {"aus Stoffen, Stoff 'Kies", "0/32' , oder gleichwertig", "neu"}},
             Case{"caption and body of a complement",
                  "<TextComplement><ComplCaption><span>Fabrikat:</span></ComplCaption>"
                  "<ComplBody><span>XY</span></ComplBody></TextComplement>",
                  {"Fabrikat: XY"}},
             Case{"a complement after br starts a line",
                  "<Text><p><span>x</span><br/></p></Text><TextComplement>"
                  "<ComplBody><span>C</span></ComplBody></TextComplement>",
                  {"x", "C"}},
             Case{"a span styled as a tab stands apart",
                  "<Text><p><span>Dicke:</span>\n<span style=\"gw-tab-space:0;\">140 mm</span></p></Text>",
                  {"Dicke: 140 mm"}},
             Case{"blanks written in the text stay", "<Text><p><span>  a   b</span></p></Text>", {"  a   b"}},
             // White space without a line break between or inside inline elements is a blank;
             // with a line break it is indentation, across which a word may go on.
             Case{"a blank between spans and a span of a blank",
                  "<Text><p><span>Stärke</span><span> </span><span>45</span> "
                  "<b>mm,</b>\t<i>fest</i></p></Text>",
                  {"Stärke 45 mm, fest"}},
             Case{"indentation between spans joins",
                  "<Text>\n <p>\n  <span>Ver</span>\n  <span>mutete</span>\r\n  <span> Leitung</span>\n "
                  "</p>\n</Text>",
                  {"Vermutete Leitung"}},
             Case{"blanks beside a paragraph or a break are no text",
                  "<Text><p> <span>a</span> <br/> <span>b</span> </p> <p> <span>c</span></p></Text>",
                  {"a", "b", "c"}},
             Case{"a \">\" in an attribute, a comment and CDATA pass",
                  "<Text><p><span title=\"1 > 0\">x</span> <span>y</span><!-- <span> --><span>z"
                  "</span><![CDATA[ ]]><span>w</span></p></Text>",
                  {"x yz w"}},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(lines(c.xml), c.expected);
    }
}

TEST(XmlTextFlow, DeepNestingIsOneLine) {
    std::string xml;
    for (int i = 0; i < 100000; ++i) xml += "<span>";
    xml += "tief";
    for (int i = 0; i < 100000; ++i) xml += "</span>";
    EXPECT_EQ(lines("<p>" + xml + "</p>"), Lines{"tief"});
}

TEST(XmlTextFlow, InlineTextOfASpan) {
    gaebxml::XmlDocument doc;
    doc.load("<span>Erd<b>bau</b><br/>arbeiten</span>", {});
    EXPECT_EQ(gaebxml::inline_text(doc.root()), "Erdbau arbeiten");
}

}  // namespace
