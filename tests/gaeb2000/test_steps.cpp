// SPDX-License-Identifier: MIT
// Single steps of the reader on small texts: STLB-Bau lines, header sections, the limits of the
// additional texts and main notes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader_fixture.h"
#include "workbook/rows.h"
#include "workbook/text.h"

namespace {

std::string lines(const std::vector<std::string>& l) {
    std::string out;
    for (const auto& s : l) out += s + "\r\n";
    return out;
}

std::vector<std::string> held(const gaeb2000::LineList& list) {
    std::vector<std::string> out;
    for (int64_t i = 0; i < list.size(); ++i) out.emplace_back(list.line(i));
    return out;
}

}  // namespace

TEST(ReaderSteps, StlbBauLinesAreRemoved) {
    struct Case {
        std::vector<std::string> in, out;
    };
    const std::vector<Case> cases = {
        {{"a", "[STLBBau]x[end]", "b", "[stlbbau]y", "  [STLBBauTextKey]z", "[STLB]keep"},
         {"a", "b", "[STLB]keep"}},
        {{"a", "b"}, {"a", "b"}},
    };
    for (const Case& c : cases) {
        ReaderFixture f;
        f.reader->set_source(lines(c.in));
        f.reader->STLBBau_weg();
        EXPECT_EQ(held(f.reader->state().StringList1), c.out);
    }
}

TEST(ReaderSteps, HeaderSections) {
    struct Case {
        std::string name;
        std::vector<std::string> file;
        std::vector<std::string> header;  // A1:B5, "" for empty cells
    };
    const std::vector<std::string> glieder = {"#begin[LVGlied]", "[Typ]LVStufe[end]", "[Laenge]2[end]",
                                              "#end[LVGlied]",   "#begin[LVGlied]",   "[Typ]Position[end]",
                                              "[Laenge]4[end]",  "#end[LVGlied]"};
    auto lv_info = [&](std::vector<std::string> keys, bool with_glieder) {
        std::vector<std::string> l = {"#begin[LVInfo]"};
        l.insert(l.end(), keys.begin(), keys.end());
        if (with_glieder) l.insert(l.end(), glieder.begin(), glieder.end());
        l.push_back("#end[LVInfo]");
        return l;
    };
    auto join = [](std::vector<std::vector<std::string>> parts) {
        std::vector<std::string> l;
        for (auto& p : parts) l.insert(l.end(), p.begin(), p.end());
        return l;
    };
    const std::vector<Case> cases = {
        {"all sections",
         join({{"#begin[PrjInfo]", "[Bez]Projekt[end]", "#end[PrjInfo]", "#begin[AG]", "[Name1]Kunde[end]",
                "#end[AG]"},
               lv_info({"[Bez]LV 1[end]", "[Datum]01.01.2024[end]"}, true)}),
         {"Projektname:", "Projekt", "LV-Bezeichnung:", "LV 1", "LV-Datum:", "01.01.2024",
          "Auftraggeber:", "Kunde", "OZ-Maske:", "24"}},
        {"PrjInfo without [Bez], AG with an empty name",
         join({{"#begin[PrjInfo]", "[Name]P[end]", "#end[PrjInfo]", "#begin[AG]", "[Name1][end]",
                "#end[AG]"}}),
         {"", "", "", "", "", "", "", "", "", ""}},
        {"empty [Bez] and empty date",
         join({{"#begin[PrjInfo]", "[Bez][end]", "#end[PrjInfo]"}, lv_info({"[Datum][end]"}, false)}),
         {"", "", "", "", "LV-Datum:", "", "", "", "OZ-Maske:", ""}},
        {"an LVGlied without its end ends the mask",
         join({lv_info({"#begin[LVGlied]", "[Typ]LVStufe[end]", "[Laenge]3[end]", "#end[LVGlied]",
                        "#begin[LVGlied]", "[Typ]LVStufe[end]", "[Laenge]2[end]"},
                       false)}),
         {"", "", "", "", "", "", "", "", "OZ-Maske:", "3"}},
        {"a client name beyond its field: cut, every character kept",
         join({{"#begin[AG]",
                "[Name1]" +
                    [] {
                        std::string omegas;
                        for (int i = 0; i < 200; ++i) omegas += "Ω";
                        return omegas;
                    }() +
                    "[end]",
                "#end[AG]"}}),
         {"", "", "", "", "", "", "Auftraggeber:",
          [] {
              std::string omegas;  // 150 characters less the 7 of "[Name1]"
              for (int i = 0; i < 143; ++i) omegas += "Ω";
              return omegas;
          }(),
          "", ""}},
        {"a two-digit length gives two mask characters",
         join(
             {lv_info({"#begin[LVGlied]", "[Typ]LVStufe[end]", "[Laenge]10 [end]", "#end[LVGlied]"}, false)}),
         {"", "", "", "", "", "", "", "", "OZ-Maske:", "10"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderFixture f;
        f.reader->set_source(lines(c.file));
        f.reader->PrjInfo();
        f.reader->Auftraggeber();
        f.reader->LVInfo();
        const workbook::Sheet& s = f.book().sheet(workbook::kPositionsteil);
        std::vector<std::string> header;
        for (int32_t r = 1; r <= 5; ++r)
            for (int32_t col = 1; col <= 2; ++col) header.push_back(s.text(r, col));
        EXPECT_EQ(header, c.header);
        EXPECT_EQ(s.text(7, 2), "Positiontext");  // the caption row comes with or without AG
        EXPECT_EQ(f.rows().Positions, 8);
        EXPECT_TRUE(f.ui.messages.empty());
    }
}

TEST(ReaderSteps, AdditionalTextsAndMainNotesNeedTheirLimitLines) {
    const std::vector<std::string> zus = {"#begin[ZusText]", "[Text]Titel[end]", "[TextRTF]Text[end]",
                                          "#end[ZusText]"};
    const std::vector<std::string> note = {"#begin[Hinweis]", "[Langtext]Hinweis[end]", "#end[Hinweis]"};
    struct Case {
        std::string name;
        std::vector<std::string> file;
        std::vector<std::string> notes;
        int32_t next_row;
    };
    auto join = [](std::vector<std::vector<std::string>> parts) {
        std::vector<std::string> l;
        for (auto& p : parts) l.insert(l.end(), p.begin(), p.end());
        return l;
    };
    const std::vector<Case> cases = {
        {"both limits",
         join({zus, {"#begin[LV]"}, note, {"#begin[LVBereich]"}}),
         {"Titel", "Text", "", "Hinweis"},
         6},
        // found but not written: only the empty row after it
        {"no #begin[LV] and no #begin[LVBereich]", join({zus, note}), {}, 3},
        {"blocks behind their limits", join({{"#begin[LV]", "#begin[LVBereich]"}, zus, note}), {}, 3},
        {"neither block", {"#begin[LV]", "#begin[LVBereich]"}, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderFixture f;
        f.rows().Notes = 1;
        f.reader->set_source(lines(c.file));
        f.reader->Zusatztext();
        f.reader->HauptHinweistext();
        std::vector<std::string> notes;
        const workbook::Sheet& s = f.book().sheet(workbook::kHinweistext);
        for (int32_t r = 1; r <= s.last_row(); ++r) notes.push_back(s.text(r, 1));
        EXPECT_EQ(notes, c.notes);
        EXPECT_EQ(f.rows().Notes, c.next_row);
    }
}
