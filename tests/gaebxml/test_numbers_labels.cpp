// SPDX-License-Identifier: MIT
// Number groups of the ordinal numbers, the range label rules and the 140-character line rule.
#include <gtest/gtest.h>

#include "gaebxml/reader.h"
#include "workbook/bill_layout.h"

namespace {

using gaebxml::XmlReaderState;

TEST(XmlNumbers, FormatBereichAndItem) {
    struct Case {
        const char* part;
        int length;
        const char* range;  // funcFormatBereich
        const char* item;   // funcFormatItem
    };
    for (const Case& c :
         {Case{"3", 2, "03.", "03"}, Case{"10", 4, "0010.", "0010"}, Case{"123", 2, "123.", "123"},
          // A level the mask gives no digits keeps its number as it stands.
          Case{"3", 0, "3.", "3"}, Case{"3", -1, "3.", "3"}, Case{"", 2, "00.", ""},
          Case{"ä", 3, "00ä.", "00ä"}}) {
        SCOPED_TRACE(std::string(c.part) + " / " + std::to_string(c.length));
        EXPECT_EQ(gaebxml::funcFormatBereich(c.part, c.length), c.range);
        EXPECT_EQ(gaebxml::funcFormatItem(c.part, c.length), c.item);
    }
}

TEST(XmlNumbers, RangeLevelsAndLengths) {
    XmlReaderState st;
    st.OzMask = "2241";
    st.MaskLength = 4;
    st.ItemLength = "4";
    st.IndexLength = "1";
    EXPECT_EQ(gaebxml::range_levels(st), 2);  // 2241: two ranges, item, index
    EXPECT_EQ(gaebxml::range_digits(st, 2), 2);
    EXPECT_EQ(gaebxml::range_digits(st, 3), 0);  // deeper than the mask: the number as it stands
    st.MaskLength = 3;
    st.IndexLength = "0";
    EXPECT_EQ(gaebxml::range_levels(st), 2);  // 224
    st.OzMask = "4";
    st.MaskLength = 1;
    EXPECT_EQ(gaebxml::range_levels(st), 0);  // only the item: ranges keep their numbers
    EXPECT_EQ(gaebxml::range_digits(st, 1), 0);
    st.OzMask = "22";
    st.MaskLength = 2;
    st.ItemLength.clear();
    EXPECT_EQ(gaebxml::range_levels(st), 2);  // no item entry: every digit is a range level

    EXPECT_EQ(gaebxml::length_number("4"), 4);
    EXPECT_EQ(gaebxml::length_number("0"), 0);
    for (const char* bad : {"", "x", "4 ", "1001", "99999999999999999999"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(gaebxml::length_number(bad), workbook::ConvertError);
    }
    EXPECT_EQ(gaebxml::mask_digit("2241", 3), 4);
    EXPECT_THROW(gaebxml::mask_digit("2241", 5), workbook::ConvertError);
    EXPECT_THROW(gaebxml::mask_digit("", 1), workbook::ConvertError);
    EXPECT_THROW(gaebxml::mask_digit("2X", 2), workbook::ConvertError);
}

TEST(XmlNumbers, ChkmaskeFillsUpToAllRangeLevels) {
    struct Case {
        const char* mask;
        const char* index_length;
        const char* oz;
        const char* expected;
        bool message;
    };
    for (const Case& c :
         {Case{"22241", "1", "01.02.", "01.02.00.", false},
          Case{"22241", "1", "01.02.03.", "01.02.03.", false}, Case{"224", "0", "01.", "01.00.", false},
          Case{"2241", "1", "", "00.00.", false}, Case{"1111112", "0", "1.", "1.0.0.0.0.0.", false},
          Case{"2X41", "1", "", "00.", true}}) {
        SCOPED_TRACE(std::string(c.mask) + " " + c.oz);
        XmlReaderState st;
        st.OzMask = c.mask;
        st.MaskLength = static_cast<int>(st.OzMask.size());
        st.ItemLength = "4";
        st.IndexLength = c.index_length;
        std::vector<std::string> faults;
        EXPECT_EQ(gaebxml::chkmaske(c.oz, st, [&](std::string f) { faults.push_back(std::move(f)); }),
                  c.expected);
        if (c.message) {
            ASSERT_EQ(faults.size(), 1u);
            EXPECT_EQ(faults[0].rfind("Funktion chkmaske\n\nEConvertError : ", 0), 0u) << faults[0];
        } else {
            EXPECT_TRUE(faults.empty());
        }
    }
}

// The heading and Teilsummen label of a range whose label the reader took as `label`, as the
// layout shows them; none without label.
workbook::XmlRangeCaption caption(const gaebxml::RangeLabel& label, const char* oz, int level) {
    if (label.text.empty()) return {};
    bill::Range range;
    range.oz = oz;
    range.level = level;
    range.label = label.text;
    range.label_written = label.written;
    return workbook::xml_range_caption(range);
}

// A BoQCtgy element parsed from text.
struct Category {
    gaebxml::XmlDocument doc;
    explicit Category(const std::string& xml) {
        doc.load(xml, [&] { return xml; });
    }
    gaebxml::Node node() const { return doc.root(); }
};

TEST(XmlLabels, FirstSpanAndAllSpansRules) {
    struct Case {
        const char* label_xml;  // inside BoQCtgy
        const char* oz;
        const char* first_heading;
        const char* first_subtotal;
        const char* all_heading;
        const char* all_subtotal;
    };
    for (const Case& c : {
             Case{"<LblTx><p><span>Rohbau</span></p></LblTx>", "01.", "LV-Bereich 01. -  Rohbau",
                  "01. -  Rohbau", "LV-Bereich 01. -   Rohbau", "01. Rohbau"},
             Case{"<LblTx><p><span>Erd</span><span>arbeiten</span></p><p><span>nicht</span></p></LblTx>",
                  "01.02.", "LV-Bereich 01.02. -  Erd", "01.02. -  Erd", "LV-Bereich 01.02. -   Erd arbeiten",
                  "01.02. Erdarbeiten"},
             // Spans directly in LblTx when the first paragraph holds none.
             Case{"<LblTx><span>Dach</span><span>haut</span></LblTx>", "03.", "LV-Bereich 03. -  Dach",
                  "03. -  Dach", "LV-Bereich 03. -   Dach haut", "03. Dachhaut"},
             // A span that is empty counts as none.
             Case{"<LblTx><p><span/><span>B</span></p></LblTx>", "04.", "", "", "", ""},
             Case{"<LblTx><p>ohne span</p></LblTx>", "05.", "", "", "", ""},
             Case{"", "06.", "", "", "", ""},
         }) {
        SCOPED_TRACE(c.label_xml);
        Category cat(std::string("<BoQCtgy>") + c.label_xml + "</BoQCtgy>");
        const auto first = caption(gaebxml::first_span_label(cat.node()), c.oz, 1);
        EXPECT_EQ(first.heading, c.first_heading);
        EXPECT_EQ(first.subtotal, c.first_subtotal);
        const auto all = caption(gaebxml::all_spans_label(cat.node()), c.oz, 2);
        EXPECT_EQ(all.heading, c.all_heading);
        EXPECT_EQ(all.subtotal, c.all_subtotal);
    }
}

TEST(XmlLabels, SubtotalLabelIsCutAt140Characters) {
    const std::string word(100, 'w');
    Category cat("<BoQCtgy><LblTx><p><span>" + word + "</span><span>" + word +
                 "</span></p></LblTx></BoQCtgy>");
    const auto all = caption(gaebxml::all_spans_label(cat.node()), "01.02.", 2);
    EXPECT_EQ(all.heading, "LV-Bereich 01.02. -   " + word + " " + word);
    EXPECT_EQ(all.subtotal, ("01.02. " + word + word).substr(0, 140));
    const auto first = caption(gaebxml::first_span_label(cat.node()), "01.", 1);
    EXPECT_EQ(first.subtotal, ("01. -  " + word).substr(0, 140));
}

// A span with formatting inside is read as the text it shows.
TEST(XmlLabels, SpanHoldingAnElementIsReadWhole) {
    Category cat("<BoQCtgy><LblTx><p><span>a<b>x</b>\n   y</span></p></LblTx></BoQCtgy>");
    EXPECT_EQ(caption(gaebxml::first_span_label(cat.node()), "01.", 1).heading, "LV-Bereich 01. -  ax y");
    EXPECT_EQ(caption(gaebxml::all_spans_label(cat.node()), "01.01.", 2).subtotal, "01.01. ax y");
}

std::vector<std::string> lines_of(std::string_view text) {
    return workbook::xml_text_rows(text);
}

TEST(XmlTexts, SplitTextLineRule) {
    const std::string blank_at_100 = std::string(99, 'a') + " " + std::string(41, 'b');
    const std::string blank_at_150 = std::string(149, 'c') + " " + std::string(50, 'd');
    std::string umlauts;
    for (int i = 0; i < 141; ++i) umlauts += "ä";
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    for (const Case& c : {
             Case{"", {}},
             Case{"kurz", {"kurz"}},
             Case{std::string(140, 'x'), {std::string(140, 'x')}},
             Case{blank_at_100, {std::string(99, 'a') + " ", std::string(41, 'b')}},
             Case{std::string(300, 'z'),
                  {std::string(140, 'z'), std::string(140, 'z'), std::string(20, 'z')}},
             Case{blank_at_150, {std::string(140, 'c'), std::string(9, 'c') + " " + std::string(50, 'd')}},
             // Characters, not bytes, are counted.
             Case{umlauts, {umlauts.substr(0, 280), "ä"}},
         }) {
        SCOPED_TRACE(c.text.size());
        EXPECT_EQ(lines_of(c.text), c.lines);
    }
}

}  // namespace
