// SPDX-License-Identifier: MIT
// The workbook layouts of the formats: the rules of one format that no golden dump shows alone.
#include <gtest/gtest.h>

#include "workbook/bill_layout.h"

TEST(ItemKinds, KnownCodesHaveLabels) {
    EXPECT_EQ(workbook::gaeb90_kind_label("NNN"), "*** Normalposition, Typ NNN");
    EXPECT_EQ(workbook::gaeb90_kind_label("NEN"), "*** Bedarfsposition ohne G-Preis, Typ NEN");
    EXPECT_EQ(workbook::gaeb90_kind_label("NMN"), "*** Bedarfsposition mit G-Preis, Typ NMN");
    EXPECT_EQ(workbook::gaeb90_kind_label("ANN"), "*** Alternativposition, Typ ANN");
    EXPECT_EQ(workbook::gaeb90_kind_label("GNN"), "*** Grundposition, Typ GNN");
    EXPECT_EQ(workbook::gaeb90_kind_label("NNL"), "*** Leitende Position, Typ NNL");
    for (const char* other : {"XYZ", "nnn", "NN", "", "   "})
        EXPECT_EQ(workbook::gaeb90_kind_label(other), "") << other;
}
