// SPDX-License-Identifier: MIT
// The place in the input in front of a message: its parts where known, offsets located only when
// a message is made, and a failure's own line before the reader's.
#include <gtest/gtest.h>

#include <string>

#include "workbook/errors.h"
#include "workbook/input_place.h"

namespace {

using workbook::InputPlace;
using workbook::LineColumn;

// Lines and columns of a fixed text, counting how often it is asked.
struct TextLocator : InputPlace::Locator {
    std::string text;
    workbook::LineIndex lines;
    int asked = 0;
    explicit TextLocator(std::string t) : text(std::move(t)) { lines.build(text); }
    LineColumn locate(int64_t offset) noexcept override {
        ++asked;
        return lines.locate(offset, text);
    }
};

TEST(InputPlace, NamesWhatIsKnown) {
    InputPlace place;
    EXPECT_EQ(place.prefix(), "");
    place.at_line(12);
    EXPECT_EQ(place.prefix(), "Zeile 12: ");
    place.at_line(12, 7);
    EXPECT_EQ(place.prefix(), "Zeile 12, Spalte 7: ");
    place.enter_item("01.0010");
    EXPECT_EQ(place.prefix(), "Zeile 12, Spalte 7, Position 01.0010: ");
    place.at_offset(-1);
    EXPECT_EQ(place.prefix(), "Position 01.0010: ");
    place.enter_item("");
    EXPECT_EQ(place.prefix(), "Position ohne OZ: ");
    place.leave_item();
    EXPECT_EQ(place.prefix(), "");
    place.at_line(3);
    place.clear();
    EXPECT_EQ(place.prefix(), "");
}

TEST(InputPlace, OffsetsAreLocatedOnlyForAMessage) {
    // Lines end at LF, CR LF and a lone CR; columns count characters, not bytes.
    TextLocator text("eins\nzwei\r\ndrei\rä<x>");
    InputPlace place;
    place.set_locator(&text);
    for (int64_t offset = 0; offset < 16; ++offset) place.at_offset(offset);
    EXPECT_EQ(text.asked, 0);
    place.at_offset(static_cast<int64_t>(text.text.find('<')));
    EXPECT_EQ(place.prefix(), "Zeile 4, Spalte 2: ");
    place.at_offset(static_cast<int64_t>(text.text.find("zwei")));
    EXPECT_EQ(place.prefix(), "Zeile 2, Spalte 1: ");
    // The value at fault in place of the item's element; an offset not located keeps the item's.
    place.enter_item("01.0010");
    EXPECT_EQ(place.prefix_at(static_cast<int64_t>(text.text.find("drei")) + 2),
              "Zeile 3, Spalte 3, Position 01.0010: ");
    EXPECT_EQ(place.prefix_at(1000), "Zeile 2, Spalte 1, Position 01.0010: ");
    EXPECT_EQ(place.prefix_at(-1), "Zeile 2, Spalte 1, Position 01.0010: ");
}

TEST(InputPlace, AFailureThatKnowsItsLineGoesFirst) {
    InputPlace place;
    place.at_line(5);
    workbook::ConvertError located("'x' ist keine Zahl");
    located.at(40, 3);
    EXPECT_EQ(workbook::step_report(place, located),
              "Zeile 40, Spalte 3: EConvertError : 'x' ist keine Zahl");
    EXPECT_EQ(workbook::step_report(place, workbook::ConvertError("'y' ist keine Zahl")),
              "Zeile 5: EConvertError : 'y' ist keine Zahl");
    EXPECT_EQ(workbook::step_report(place, std::runtime_error("kaputt")),
              "Zeile 5: std::runtime_error : kaputt");
}

}  // namespace
