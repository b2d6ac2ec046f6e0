// SPDX-License-Identifier: MIT
// The bill as data: masks, dates, OZ parts and the tree of ranges the builder makes.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "bill/bill.h"

namespace {

using bill::BreakdownType;

// The tree of ranges and items, one line each, indented by depth: "01" for a range, "0010.a
// 01.01.0010.a" for an item (its number and index, its OZ).
std::string tree(const bill::Bill& b) {
    std::string out;
    std::function<void(uint32_t, int)> walk = [&](uint32_t r, int depth) {
        for (const bill::Entry& e : b.ranges()[r].children) {
            out += std::string(static_cast<size_t>(depth) * 2, ' ');
            if (e.is_range()) {
                out += b.ranges()[e.index].rno_part + "\n";
                walk(e.index, depth + 1);
                continue;
            }
            const bill::Item& i = b.items()[e.index];
            out += i.rno_part + (i.rno_index.empty() ? "" : "." + i.rno_index) + " " + i.oz + "\n";
        }
    };
    walk(0, 0);
    return out;
}

TEST(Bill, BreakdownFromGaebMask) {
    const auto b = bill::breakdown_from_mask("1122PPPPI");
    ASSERT_EQ(b.size(), 4u);
    EXPECT_EQ(b[0].type, BreakdownType::Range);
    EXPECT_EQ(b[0].length, 2);
    EXPECT_EQ(b[1].length, 2);
    EXPECT_EQ(b[2].type, BreakdownType::Item);
    EXPECT_EQ(b[2].length, 4);
    EXPECT_EQ(b[3].type, BreakdownType::Index);
    EXPECT_FALSE(b[3].numeric);
    // Blanks and zeros of a GAEB 90 record 00 count for nothing; no item digit: no breakdown.
    EXPECT_EQ(bill::breakdown_from_mask("11PPPPI00").size(), 3u);
    EXPECT_TRUE(bill::breakdown_from_mask("1122").empty());
}

TEST(Bill, IsoDates) {
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
    for (const auto& [in, out] : cases) EXPECT_EQ(bill::iso_date(in), out) << in;
}

TEST(Bill, OzParts) {
    EXPECT_EQ(bill::oz_parts("01.02.0010.a", 2).rno_part, "0010");
    EXPECT_EQ(bill::oz_parts("01.02.0010.a", 2).rno_index, "a");
    EXPECT_EQ(bill::oz_parts("01.02.0010.", 2).rno_index, "");
    EXPECT_EQ(bill::oz_parts("0010", 0).rno_part, "0010");
    EXPECT_EQ(bill::oz_parts("01.", 2).rno_part, "");
}

TEST(Bill, BuilderKeepsDocumentOrderAndNesting) {
    bill::Bill bill;
    bill.header.breakdown = bill::breakdown_from_mask("1122PPPP");
    bill::Builder b(bill);
    b.leave_range();  // at the bill itself: nothing happens
    bill::Item first;
    first.oz = "00.00.0001";
    b.add_item(first);  // items beside ranges stay where they stand
    b.enter_range({.id = "C1", .rno_part = "01", .label = "Rohbau"});
    b.enter_range({.rno_part = "02", .label = "Erdarbeiten"});
    bill::Item item;
    item.oz = "01.02.0010";
    b.add_item(item);
    EXPECT_EQ(b.depth(), 2);
    b.leave_range();
    b.leave_range();
    EXPECT_EQ(b.depth(), 0);

    const auto& root = bill.root();
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_TRUE(root.children[0].is_item());
    EXPECT_TRUE(root.children[1].is_range());
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
TEST(Bill, ItemsPlacedByTheirOz) {
    bill::Bill bill;
    bill.header.breakdown = bill::breakdown_from_mask("1122PPPPI");
    bill::Builder b(bill);
    for (const char* oz :
         {"01.01.0010", "01.01.0010.A", "01.02.0010", "02.01.0010", "01.01.0020", "0030", "02.0040"}) {
        bill::Item item;
        item.oz = oz;
        b.place_item(item);
    }
    EXPECT_EQ(tree(bill),
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
