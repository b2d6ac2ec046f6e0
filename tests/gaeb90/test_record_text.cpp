// SPDX-License-Identifier: MIT
// The pieces of a GAEB 90 record: code page, text clean-up, OZ mask and ordinal numbers, numbers.
#include <gtest/gtest.h>

#include "gaeb90/record_text.h"
#include "workbook/errors.h"
#include "workbook/text.h"

using namespace gaeb90;
using namespace std::string_literals;

TEST(Ascii2Ansi, DecodesCodePage850OneCharacterPerByteAndEndsAtNul) {
    // 0x84 ä, 0x94 ö, 0x81 ü, 0xE1 ß, 0x8E Ä, 0x99 Ö, 0x9A Ü, 0xF8 °, 0xFD ²
    const std::string oem = "\x84\x94\x81\xE1\x8E\x99\x9A\xF8\xFD";
    EXPECT_EQ(ASCII2ANSI(oem), "äöüßÄÖÜ°²");
    EXPECT_EQ(workbook::utf8_length(ASCII2ANSI(oem + "  x")), oem.size() + 3);
    EXPECT_EQ(ASCII2ANSI("Stra\xE1"
                         "e\0 danach"s),
              "Straße");
    EXPECT_EQ(ASCII2ANSI(""), "");
    EXPECT_EQ(ASCII2ANSI("\0abc"s), "");
}

TEST(RecordFields, ColumnsCountFromTheStartOfTheRecord) {
    const std::string data = "0102001 NNN";  // columns 3-13
    EXPECT_EQ(field(data, 3, 11), "0102001 N");
    EXPECT_EQ(field(data, 12, 14), "NN");  // the line ends in column 13
    EXPECT_EQ(field(data, 24, 31), "");
    EXPECT_EQ(field("", 3, 72), "");
}

TEST(TextCleanup, TabsBecomeBlanksAndQuotesStay) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        // A workbook cell holds text, not a formula: 3/4" stays 3/4", the field keeps its length.
        {"Rohr 3/4\" verzinkt" + std::string(51, ' '), "Rohr 3/4\" verzinkt" + std::string(51, ' ')},
        {"\"\"", "\"\""},
        {"a\tb\t", "a b "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        text_cleanup(text);
        EXPECT_EQ(text, c.expected);
    }
}

TEST(OzMask, CountsDigitsPerLevelItemAndIndex) {
    struct Case {
        std::string mask;
        MaskWidths expected;
    };
    const Case cases[] = {
        {"1122PPPPI", {2, 2, 0, 0, 4, 1}}, {"12PPPP   ", {1, 1, 0, 0, 4, 0}},
        {"11PPPPI  ", {2, 0, 0, 0, 4, 1}}, {"1234PPPPI", {1, 1, 1, 1, 4, 1}},
        {"11PPPPI00", {2, 0, 0, 0, 4, 1}},  // "0" and blanks count nothing
        {"AB pp i  ", {0, 0, 0, 0, 0, 0}}, {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        EXPECT_EQ(count_mask(c.mask), c.expected);
    }
}

TEST(OzMask, GroupOzIsCutIntoItsLevels) {
    struct Case {
        std::string mask, oz, dotted;
    };
    const Case cases[] = {
        {"1122PPPP", "01", "01"},
        {"1122PPPP", "0102", "01.02"},
        {"1122PPPP", "010", ""},  // matches no sum of level widths
        {"PPPP", "01", ""},       // a mask without levels
        {"11PPPPI", " 1", "01"},  // a leading blank counts for the length, then gives way to a zero
        {"1122PPPP", " 1 2", "01.02"},
        {"112233PPP", "010203", "01.02.03"},
        {"1234PPPP", "1234", "1.2.3.4"},
        {"1234PPPP", "123", "1.2.3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask + " / " + c.oz);
        EXPECT_EQ(group_oz_dotted(c.oz, count_mask(c.mask)), c.dotted);
    }
}

TEST(OzMask, ItemOzGetsItsLevelSeparators) {
    struct Case {
        std::string mask, oz_field, formatted;
    };
    const Case cases[] = {
        {"1122PPPPI", "01020010A", "01.02.0010.A"},
        {"1122PPPPI", "01020010 ", "01.02.0010"},  // blank index
        {"11PPPPI", "010010A  ", "01.0010.A"},
        {"11PPPP", "010010   ", "01.0010"},
        {"PPPP", "0010     ", "0010"},
        {"11223PPPP", "010230010", "01.02.3.0010"},
        {"1234PPPPI", "12340010B", "1.2.3.4.0010.B"},
        {"11PPPPI00", " 1  10   ", "01.0010"},  // right-aligned fields, as a real exporter writes them
        {"1122PPPPI", " 1 2  10A", "01.02.0010.A"},
        {"1122PPPPI", "0102", "01.02."},  // the line ends inside the OZ
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask + " / " + c.oz_field);
        EXPECT_EQ(format_item_oz(c.oz_field, count_mask(c.mask)), c.formatted);
    }
}

TEST(Numbers, IntegerAndDecimalColumnsMakeOneNumber) {
    struct Case {
        std::string integer, decimals;
        std::optional<double> value;  // nullopt: does not convert
    };
    const Case cases[] = {
        {"00000012", "500", 12.5},
        {"      12", "5  ", 12.5},  // blanks before the digits and after the decimals
        {"-00001234", "560", -1234.56},
        {"     -12", "000", -12},
        {"00000000", "000", 0},
        {"        ", "250", 0.25},
        {"        ", "   ", std::nullopt},  // blank field
        {"-       ", "   ", std::nullopt},
        {"  1 2   ", "000", std::nullopt},
        {"0000001a", "000", std::nullopt},
        {"00000001", "5 0", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.integer + "' '" + c.decimals + "'");
        const std::string text = number_text(c.integer, c.decimals);
        if (c.value) {
            EXPECT_DOUBLE_EQ(to_number(text), *c.value);
        } else {
            EXPECT_THROW(to_number(text), workbook::ConvertError);
        }
    }
    EXPECT_EQ(number_text("         ", "   "), ".");
}
