// SPDX-License-Identifier: MIT
// Our writer of the .xlsx package against libxlsxwriter: the same model saved by both gives the
// same parts. Each part is parsed and compared element by element: names, attributes, text and
// the order of the children. Ignored, because they say the same thing either way: the order of
// the attributes within an element, the XML declaration's spelling, and how the archive packs
// the parts (compression, order of the parts, zip headers). Nothing else is.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/reference/reference_writer.h"
#include "tests/support/reference/zip_part.h"
#include "tests/support/test_support.h"
#include "workbook/xlsx/xlsx_writer.h"

namespace {

namespace fs = std::filesystem;
using workbook::ExcelSession;
using workbook::HAlign;
using workbook::Range;
using workbook::Sheet;
using workbook::Workbook;
using workbook::xlsx::Existing;

// The names of the parts of an archive, from its directory.
std::set<std::string> part_names(const fs::path& file) {
    const std::string zip = testsupport::read_file(file);
    std::set<std::string> names;
    for (size_t at = zip.find("PK\x01\x02"); at != std::string::npos; at = zip.find("PK\x01\x02", at + 4)) {
        const auto le16 = [&](size_t p) {
            return static_cast<size_t>(static_cast<unsigned char>(zip[p]) |
                                       (static_cast<unsigned char>(zip[p + 1]) << 8));
        };
        names.insert(zip.substr(at + 46, le16(at + 28)));
    }
    return names;
}

// The first difference between two elements, as a path and what differs; empty when equal.
std::string difference(const pugi::xml_node& a, const pugi::xml_node& b, const std::string& path) {
    if (std::string(a.name()) != b.name()) return path + ": <" + a.name() + "> gegen <" + b.name() + ">";
    if (a.type() == pugi::node_pcdata || a.type() == pugi::node_cdata) {
        if (std::string(a.value()) != b.value())
            return path + ": Text \"" + a.value() + "\" gegen \"" + b.value() + "\"";
        return {};
    }
    std::map<std::string, std::string> attributes_a, attributes_b;
    for (const auto& x : a.attributes()) attributes_a[x.name()] = x.value();
    for (const auto& x : b.attributes()) attributes_b[x.name()] = x.value();
    if (attributes_a != attributes_b) {
        std::string text = path + "/" + a.name() + ": Attribute";
        for (const auto& [k, v] : attributes_a) text += " " + k + "=\"" + v + "\"";
        text += " gegen";
        for (const auto& [k, v] : attributes_b) text += " " + k + "=\"" + v + "\"";
        return text;
    }
    pugi::xml_node ca = a.first_child(), cb = b.first_child();
    for (int i = 1; ca || cb; ++i, ca = ca.next_sibling(), cb = cb.next_sibling()) {
        const std::string child_path = path + "/" + a.name() + "[" + std::to_string(i) + "]";
        if (!ca || !cb) return child_path + ": " + (ca ? "fehlt im zweiten" : "fehlt im ersten");
        if (ca.type() != cb.type()) return child_path + ": Knotenart";
        const std::string d = difference(ca, cb, child_path);
        if (!d.empty()) return d;
    }
    return {};
}

// Saves the model through both writers and compares every part; returns the faults found.
std::string compare_writers(const ExcelSession& excel, const Workbook& book) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path ours = dir / "eigen.xlsx", reference = dir / "bibliothek.xlsx";
    workbook::xlsx::save(excel, book, ours, Existing::Keep);
    testsupport::save_with_libxlsxwriter(excel, book, reference);
    const std::set<std::string> names = part_names(reference);
    if (part_names(ours) != names) return "andere Teile";
    std::string faults;
    for (const std::string& name : names) {
        const auto a = testsupport::read_zip_part(ours, name);
        const auto b = testsupport::read_zip_part(reference, name);
        if (!a || !b) return name + ": nicht lesbar";
        pugi::xml_document da, db;
        const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata;
        if (!da.load_buffer(a->data(), a->size(), options) || !db.load_buffer(b->data(), b->size(), options))
            return name + ": kein XML";
        const std::string d = difference(da.document_element(), db.document_element(), "");
        if (!d.empty()) faults += name + d + "\n";
    }
    // BREMORA_KEEP_DIFFERENT=folder keeps the pairs that differ, for a closer look.
    if (const char* keep = std::getenv("BREMORA_KEEP_DIFFERENT"); keep && !faults.empty()) {
        static int kept = 0;
        const std::string n = std::to_string(++kept);
        fs::create_directories(keep);
        fs::copy_file(ours, fs::path(keep) / (n + "_eigen.xlsx"));
        fs::copy_file(reference, fs::path(keep) / (n + "_bibliothek.xlsx"));
        testsupport::write_file(fs::path(keep) / (n + "_fehler.txt"), faults);
    }
    return faults;
}

struct Session {
    ExcelSession excel;
    Session() {
        excel.Connect();
        excel.set_locale_number_formats("#.###.##0,00", "#######0,000");
        excel.set_sheets_in_new_workbook(1);
        excel.add_workbook();
    }
    Workbook& book() { return excel.workbook(); }
};

// Everything the model can say to the file, with the edges of each: formats that the file cannot
// tell apart, texts that need escaping or keep their blanks, errors as results, panes frozen in
// both directions, print ranges of every shape and sheet names that need quoting.
void build_everything(Session& s) {
    Workbook& wb = s.book();
    Sheet& a = wb.sheet(1);
    a.set_name("Positionsteil");
    Sheet& b = wb.add_sheet();
    b.set_name("Fehlerhafte Zeilen");
    Sheet& c = wb.add_sheet();
    c.set_name("Leer");

    a.set_number_format(Range::columns(1, 1), "@");
    a.set_halign(Range::columns(2, 2), HAlign::General);
    a.set_bold(Range::columns(3, 3), false);
    a.set_fill(Range::columns(4, 4), 99);  // no colour the program knows
    a.set_number_format(Range::columns(5, 6), "#.###.##0,00");
    a.set_font_color(Range::columns(9, 9), 0);  // black
    a.set_fill(Range::columns(10, 10), 1);      // black too
    a.set_number_format(Range::columns(11, 11), std::string(150, '0') + ",0");
    a.set_column_width(1, 1, 0.5);
    a.set_column_width(2, 3, 40);
    a.set_column_width(7, 7, 8.43);
    a.set_column_width(12, 12, 0);
    a.set_column_width(13, 14, 12.25);
    a.set_value(1, 1, " führend");
    a.set_value(1, 2, "folgend\t");
    a.set_value(1, 3, "A & B <c> \"d\" 'e'");
    a.set_value(1, 4, std::string("Steuer\x01\x0b\x0d\x1f zeichen\nZeile"));
    a.set_value(1, 5, "");
    a.set_value(1, 6, "");
    a.set_value(2, 1, 0.1);
    a.set_value(2, 2, -1e-300);
    a.set_value(2, 3, 1.7976931348623157e308);
    a.set_value(2, 4, 123456789012345678.0);
    a.set_value(2, 5, 12.5);
    a.set_value(2, 6, 3.0);
    a.set_formula(2, 7, "=ROUND(E2*F2,2)");
    a.set_formula(2, 8, "=E2/0");
    a.set_formula(2, 9, "=UNBEKANNT(1)");
    a.set_formula(2, 10, "=SUM(E2:F2)&\"<x>\"");
    a.set_formula(2, 11, "='Fehlerhafte Zeilen'!A1+1");
    a.clear(3, 1);
    a.set_bold(3, 2, true);
    a.border_around(3, 3);
    a.set_halign(3, 4, HAlign::Left);
    a.set_halign(3, 5, HAlign::Center);
    a.set_halign(3, 6, HAlign::Right);
    a.set_fill(3, 7, workbook::kFillYellow);
    a.set_font_color(3, 8, workbook::kColorPurple);
    a.set_value(5, 20, "weit rechts");
    a.group_rows(6, 9);
    a.group_rows(7, 8);
    a.set_value(7, 2, "in der Gruppe");
    a.set_value(12, 1, "Summe");
    a.set_formula(12, 6, "=SUM(F1:F11)");
    a.outline_settings().summary_row_below = false;
    a.window().zoom = 85;
    a.window().split_row = 3;
    a.window().split_column = 2;
    a.window().freeze_panes = true;
    a.select_cell(4, 3);
    auto& page = a.page_setup();
    page.zoom = 75;
    page.orientation = 2;
    page.paper_size = workbook::kPaperA4;
    page.print_title_rows = "$1:$2";
    page.print_area = "$A$1:$F$12";
    page.center_horizontally = true;
    page.left_footer = "Links & <rechts>";
    page.center_footer = "&P";
    page.right_footer = std::string(300, 'x') + "&&";
    page.left_margin = 10.5;
    page.header_margin = 0;

    b.set_value(1, 1, "Zeile 1");
    b.window().split_column = 1;
    b.window().freeze_panes = true;
    b.page_setup().zoom = 0;
    b.page_setup().fit_to_pages_wide = 2;
    b.page_setup().fit_to_pages_tall = 0;
    b.page_setup().print_area = "$3:$9";
    b.page_setup().print_title_rows = "$1:$1";
    b.select_cell(1, 1);

    c.window().split_row = 1;
    c.window().freeze_panes = true;
    c.page_setup().print_area = "$A:$XFD";
    c.group_rows(3, 3);

    wb.properties().title = "Titel & <Untertitel>\x02";
    wb.properties().subject = "Betreff";
    wb.properties().application = "Bremora 1.0 & <Test>";
    wb.activate(b);
}

TEST(XlsxWriters, EveryPartOfACraftedModelIsTheLibrarys) {
    Session s;
    build_everything(s);
    EXPECT_EQ(compare_writers(s.excel, s.book()), "");
    Session empty;
    EXPECT_EQ(compare_writers(empty.excel, empty.book()), "");
}

// Every fixture of every reader, with every combination of the options that change the workbook
// (and for GAEB 90 both answers to the question about contractual rules).
TEST(XlsxWriters, EveryFixtureGivesTheLibrarysParts) {
    std::vector<workbook::ConversionOptions> variants;
    for (int mask = 0; mask < 64; ++mask) {
        workbook::ConversionOptions o;
        bool* fields[] = {&o.OnlyShortText, &o.ExportNotesText, &o.LogFaultyLines,
                          &o.RoundPrices,   &o.SubtotalsSheet,  &o.CalcColumns};
        for (int bit = 0; bit < 6; ++bit)
            if (mask & (1 << bit)) *fields[bit] = !*fields[bit];
        variants.push_back(o);
    }
    int compared = 0;
    for (const char* folder : {"gaeb90", "gaeb2000", "gaebxml", "robustness"}) {
        for (const auto& entry : fs::directory_iterator(testsupport::data_dir() / folder)) {
            for (size_t v = 0; v < variants.size(); ++v) {
                for (const bool rules : {false, true}) {
                    if (rules && std::string(folder) != "gaeb90") continue;
                    SCOPED_TRACE(entry.path().filename().string() + " variant " + std::to_string(v) +
                                 (rules ? " with rules" : ""));
                    auto run = testsupport::convert_in_memory(entry.path(), variants[v], {rules});
                    if (!run.excel->result()) continue;
                    EXPECT_EQ(compare_writers(*run.excel, run.book()), "");
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 2500);
}

TEST(XlsxWriters, GeneratedBillsGiveTheLibrarysParts) {
    for (const char* format : {"90", "2000", "xml"}) {
        // The large one fills many chunks of the packing thread.
        for (const char* args :
             {"--items 400 --seed 3", "--items 150 --seed 11 --phase 84", "--items 12000 --seed 5"}) {
            SCOPED_TRACE(std::string(format) + " " + args);
            const auto bill = testsupport::generate_bill(format, args);
            ASSERT_TRUE(bill);
            workbook::ConversionOptions options;
            options.SubtotalsSheet = options.ExportNotesText = true;
            auto run = testsupport::convert_in_memory(*bill, options, {true});
            ASSERT_TRUE(run.excel->result());
            EXPECT_EQ(compare_writers(*run.excel, run.book()), "");
        }
    }
}

}  // namespace
