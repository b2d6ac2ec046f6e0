// SPDX-License-Identifier: MIT
// The bill model as the readers will fill it: masks, dates, OZ parts and the tree of ranges.
#include <gtest/gtest.h>

#include "angebot/model.h"
#include "tests/angebot/angebot_support.h"

namespace {

using angebot::BreakdownType;

TEST(AngebotModel, BreakdownFromGaebMask) {
    const auto b = angebot::breakdown_from_mask("1122PPPPI");
    ASSERT_EQ(b.size(), 4u);
    EXPECT_EQ(b[0].type, BreakdownType::Range);
    EXPECT_EQ(b[0].length, 2);
    EXPECT_EQ(b[1].length, 2);
    EXPECT_EQ(b[2].type, BreakdownType::Item);
    EXPECT_EQ(b[2].length, 4);
    EXPECT_EQ(b[3].type, BreakdownType::Index);
    EXPECT_FALSE(b[3].numeric);
    // Blanks and zeros of a GAEB 90 record 00 count for nothing; no item digit: no breakdown.
    EXPECT_EQ(angebot::breakdown_from_mask("11PPPPI00").size(), 3u);
    EXPECT_TRUE(angebot::breakdown_from_mask("1122").empty());
}

TEST(AngebotModel, IsoDates) {
    const std::pair<const char*, const char*> cases[] = {
        {"2024-06-15", "2024-06-15"},
        {"15.06.2024", "2024-06-15"},
        {"15.06.24", "2024-06-15"},
        {"01.01.99", "1999-01-01"},
        {"29.02.2023", ""},
        {"2024-13-01", ""},
        {"15.6.2024", ""},
        {"", ""},
        {"heute", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(angebot::iso_date(in), out) << in;
}

TEST(AngebotModel, OzParts) {
    EXPECT_EQ(angebot::oz_parts("01.02.0010.a", 2).rno_part, "0010");
    EXPECT_EQ(angebot::oz_parts("01.02.0010.a", 2).rno_index, "a");
    EXPECT_EQ(angebot::oz_parts("01.02.0010.", 2).rno_index, "");
    EXPECT_EQ(angebot::oz_parts("0010", 0).rno_part, "0010");
    EXPECT_EQ(angebot::oz_parts("01.", 2).rno_part, "");
}

TEST(AngebotModel, BuilderKeepsDocumentOrderAndNesting) {
    angebot::BillModel bill;
    bill.info.breakdown = angebot::breakdown_from_mask("1122PPPP");
    angebot::ModelBuilder b(bill);
    b.leave_range();  // at the bill itself: nothing happens
    angebot::Item first;
    first.oz = "00.00.0001";
    b.add_item(first);  // items beside ranges stay where they stand
    b.enter_range("01", "Rohbau", "C1");
    b.enter_range("02", "Erdarbeiten");
    angebot::Item item;
    item.oz = "01.02.0010";
    b.add_item(item);
    EXPECT_EQ(b.depth(), 2);
    b.leave_range();
    b.leave_range();
    EXPECT_EQ(b.depth(), 0);

    const auto& root = bill.root();
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_FALSE(root.children[0].is_range);
    EXPECT_TRUE(root.children[1].is_range);
    const auto& rohbau = bill.ranges()[root.children[1].index];
    EXPECT_EQ(rohbau.id, "C1");
    ASSERT_EQ(rohbau.children.size(), 1u);
    const auto& erd = bill.ranges()[rohbau.children[0].index];
    EXPECT_EQ(erd.parent, root.children[1].index);
    ASSERT_EQ(erd.children.size(), 1u);
    EXPECT_EQ(bill.items()[erd.children[0].index].rno_part, "0010");  // taken from the OZ
}

// GAEB 90 and GAEB 2000 name their ranges only through the OZ: a change of a range group opens
// the range, a group the breakdown does not have (or the last one) is the item's own.
TEST(AngebotModel, ItemsPlacedByTheirOz) {
    angebot::BillModel bill;
    bill.info.breakdown = angebot::breakdown_from_mask("1122PPPPI");
    angebot::ModelBuilder b(bill);
    for (const char* oz :
         {"01.01.0010", "01.01.0010.A", "01.02.0010", "02.01.0010", "01.01.0020", "0030", "02.0040"}) {
        angebot::Item item;
        item.oz = oz;
        b.place_item(item);
    }
    EXPECT_EQ(angebot_test::outline(bill),
              "01\n"
              "  01\n"
              "    0010 01.01.0010\n"
              "    0010.A 01.01.0010.A\n"
              "  02\n"
              "    0010 01.02.0010\n"
              "02\n"
              "  01\n"
              "    0010 02.01.0010\n"
              // A range met again later is a range of its own, as the bill has it.
              "01\n"
              "  01\n"
              "    0020 01.01.0020\n"
              "0030 0030\n"
              "02\n"
              "  0040 02.0040\n");
}

}  // namespace
