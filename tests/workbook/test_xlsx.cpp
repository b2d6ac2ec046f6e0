// SPDX-License-Identifier: MIT
// The saved .xlsx read back by independent readers: openpyxl, and LibreOffice recalculating.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

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

// Separators of a German locale: the model holds the formats as the locale writes them.
const std::string kMoneyDe = "#.###.##0,00";
const std::string kQuantityDe = "#######0,000";

struct Session {
    ExcelSession excel;
    Session() {
        excel.Connect();
        excel.set_locale_number_formats(kMoneyDe, kQuantityDe);
        excel.set_sheets_in_new_workbook(1);
        excel.add_workbook();
    }
    Workbook& book() { return excel.workbook(); }
};

void write_item(Sheet& p, int32_t r, const char* oz, double quantity, const char* unit, double price) {
    const std::string n = std::to_string(r);
    p.set_value(r, 1, oz);
    p.set_value(r, 2, "Position");
    p.set_font_color(r, 2, workbook::kColorRed);
    p.set_value(r, 3, quantity);
    p.set_value(r, 4, unit);
    p.set_value(r, 7, price);
    p.set_value(r, 8, 1.0);
    for (int32_t col : {7, 8}) {
        p.set_fill(r, col, workbook::kFillTurquoise);
        p.border_around(r, col);
    }
    p.set_formula(r, 5, "=ROUND($G$" + n + "*$H$" + n + ",2)");
    p.set_formula(r, 6, "=ROUND($C$" + n + "*$E$" + n + ",2)");
}

// A small finished bill as the readers and the finishing pass leave it, built on the model.
void build_bill(Session& s) {
    Workbook& wb = s.book();
    Sheet& pos = wb.sheet(1);
    pos.set_name("Positionsteil");
    Sheet& sums = wb.add_sheet();
    sums.set_name("Teilsummen");
    Sheet& notes = wb.add_sheet();
    notes.set_name("Hinweistext");

    // Column formats first: every cell written later must carry them in the file.
    pos.set_number_format(Range::columns(1, 2), "@");
    pos.set_bold(Range::columns(1, 1), true);
    pos.set_halign(Range::columns(3, 3), HAlign::Right);
    pos.set_number_format(Range::columns(3, 3), kQuantityDe);
    pos.set_halign(Range::columns(5, 8), HAlign::Right);
    pos.set_number_format(Range::columns(5, 8), kMoneyDe);
    pos.set_fill(Range::columns(7, 8), workbook::kFillGrey);

    pos.set_value(1, 1, "Projektname:");
    pos.set_value(1, 2, "Neubau Kita Süd – 2. BA");
    const char* captions[] = {"Ordnungszahl", "Positionstext", "Menge",      "ME",
                              "E-Preis",      "G-Preis",       "Basispreis", "Faktor"};
    for (int32_t col = 1; col <= 8; ++col) {
        pos.set_value(7, col, captions[col - 1]);
        pos.set_fill(7, col, workbook::kFillYellow);
        pos.border_around(7, col);
        pos.set_bold(7, col, true);
        pos.set_halign(7, col, HAlign::Center);
    }
    pos.set_value(8, 2, "LV-Gruppe 01 Rohbau");
    pos.set_font_color(8, 2, workbook::kColorBlue);
    // 12.5 * 19.99 is 249.87499999999997 in binary; the spreadsheet rounds it to 249.88.
    write_item(pos, 9, "01.0010", 12.5, "m2", 19.99);
    pos.set_value(10, 2, "Langtext Zeile 1");
    pos.set_value(11, 2, "Langtext Zeile 2");
    pos.group_rows("10:11");
    write_item(pos, 12, "01.0020", 3, "St", 1.005);
    pos.set_value(13, 2, "Untertitel");
    pos.set_font_color(13, 2, workbook::kColorPurple);
    // A bid item without unit price: the quantity from the total divides by zero.
    pos.set_value(14, 1, "01.0030");
    pos.set_value(14, 5, 0.0);
    pos.set_value(14, 6, 100.0);
    pos.set_formula(14, 3, "=ROUND($F$14/$E$14,3)");
    pos.set_value(16, 2, "Summe Leistungsverzeichnis");
    pos.set_formula(16, 6, "=SUM($F$8:$F$14)");
    pos.set_bold(16, 2, true);
    pos.set_bold(16, 6, true);
    pos.outline_settings().summary_row_below = false;
    pos.set_column_width(1, 1, 20);
    pos.set_column_width(2, 2, 100);
    pos.set_column_width(5, 8, 10);

    for (Sheet* sheet : {&pos, &sums, &notes}) {
        auto& setup = sheet->page_setup();
        setup.paper_size = workbook::kPaperA4;
        setup.left_footer = "Kita Süd && Hort";
        setup.right_footer = "Seite &P von &N";
    }
    auto& page = pos.page_setup();
    page.zoom = 0;
    page.fit_to_pages_tall = 0;
    page.orientation = 2;
    page.print_title_rows = "$7:$7";
    page.print_area = "$A:$F";
    page.center_horizontally = true;
    page.left_margin = page.right_margin = page.top_margin = page.bottom_margin =
        s.excel.InchesToPoints(0.393700787401575);
    page.header_margin = s.excel.InchesToPoints(0);
    page.footer_margin = s.excel.InchesToPoints(0.196850393700787);
    auto& window = pos.window();
    window.zoom = 80;
    window.split_row = 7;
    window.freeze_panes = true;

    sums.set_number_format(Range::columns(1, 1), "@");
    sums.set_number_format(Range::columns(2, 2), kMoneyDe);
    sums.set_halign(Range::columns(2, 2), HAlign::Right);
    sums.set_value(1, 1, "Bezeichnung");
    sums.set_value(1, 2, "Wert");
    sums.set_value(2, 1, "LV-Gruppe 01 Rohbau");
    sums.set_formula(2, 2, "=SUM(Positionsteil!$F$9:$F$13)");
    sums.set_value(4, 1, "Gesamt");
    sums.set_formula(4, 2, "=ROUND(SUM($B$2:$B$3),2)");
    for (int32_t r = 2; r <= 4; ++r) sums.set_font_color(r, 1, workbook::kColorBlue);
    sums.set_column_width(2, 2, 15);
    sums.autofit_columns(1, 1);
    sums.select_cell(2, 1);

    notes.set_value(1, 1, "Vorbemerkung");
    notes.set_bold(1, 1, true);
    notes.set_value(2, 1, "Maße in m, Preise in €");
    notes.page_setup().zoom = 0;
    notes.page_setup().fit_to_pages_tall = 0;

    wb.properties().title = "Kita Süd & Hort\x01";
    wb.properties().subject = "Leistungsverzeichnis";
    wb.properties().application = "Bremora 9.9 <Test> & Co";

    wb.activate(pos);
}

TEST(XlsxWriter, SavedWorkbookReadsBackWithEverythingTheModelHolds) {
    Session s;
    build_bill(s);
    const fs::path file = testsupport::fresh_dir() / "lv.xlsx";
    workbook::xlsx::save(s.excel, s.book(), file);
    // Widths are shown as characters of the default font, the file's 5-pixel padding removed.
    const std::string want = R"(#sheets Hinweistext,Teilsummen,Positionsteil
#active Positionsteil
#properties	title=Kita Süd & Hort  | subject=Leistungsverzeichnis
Hinweistext!A1	s	Vorbemerkung	bold
Hinweistext!A2	s	Maße in m, Preise in €	
Hinweistext!view	zoom=100 selection=A1
Hinweistext!print	orientation=portrait paper=9 fit=1x0
Hinweistext!footer	left=Kita Süd && Hort | right=Seite &P von &N
Hinweistext!margins	left=0.75 right=0.75 top=1 bottom=1 header=0.3 footer=0.3
Teilsummen!A1	s	Bezeichnung	fmt=@
Teilsummen!B1	s	Wert	align=right fmt=#,###,##0.00
Teilsummen!A2	s	LV-Gruppe 01 Rohbau	color=0000FF fmt=@
Teilsummen!B2	f	=SUM(Positionsteil!$F$9:$F$13)	252.91	align=right fmt=#,###,##0.00
Teilsummen!A4	s	Gesamt	color=0000FF fmt=@
Teilsummen!B4	f	=ROUND(SUM($B$2:$B$3),2)	252.91	align=right fmt=#,###,##0.00
Teilsummen!view	zoom=100 selection=A2
Teilsummen!print	orientation=portrait paper=9
Teilsummen!footer	left=Kita Süd && Hort | right=Seite &P von &N
Teilsummen!margins	left=0.75 right=0.75 top=1 bottom=1 header=0.3 footer=0.3
Teilsummen!col:A	width=21.86 fmt=@
Teilsummen!col:B	width=15 align=right fmt=#,###,##0.00
Positionsteil!A1	s	Projektname:	bold fmt=@
Positionsteil!B1	s	Neubau Kita Süd – 2. BA	fmt=@
Positionsteil!A7	s	Ordnungszahl	bold fill=FFFF99 border align=center fmt=@
Positionsteil!B7	s	Positionstext	bold fill=FFFF99 border align=center fmt=@
Positionsteil!C7	s	Menge	bold fill=FFFF99 border align=center fmt=#######0.000
Positionsteil!D7	s	ME	bold fill=FFFF99 border align=center
Positionsteil!E7	s	E-Preis	bold fill=FFFF99 border align=center fmt=#,###,##0.00
Positionsteil!F7	s	G-Preis	bold fill=FFFF99 border align=center fmt=#,###,##0.00
Positionsteil!G7	s	Basispreis	bold fill=FFFF99 border align=center fmt=#,###,##0.00
Positionsteil!H7	s	Faktor	bold fill=FFFF99 border align=center fmt=#,###,##0.00
Positionsteil!B8	s	LV-Gruppe 01 Rohbau	color=0000FF fmt=@
Positionsteil!A9	s	01.0010	bold fmt=@
Positionsteil!B9	s	Position	color=FF0000 fmt=@
Positionsteil!C9	n	12.5	align=right fmt=#######0.000
Positionsteil!D9	s	m2	
Positionsteil!E9	f	=ROUND($G$9*$H$9,2)	19.99	align=right fmt=#,###,##0.00
Positionsteil!F9	f	=ROUND($C$9*$E$9,2)	249.88	align=right fmt=#,###,##0.00
Positionsteil!G9	n	19.99	fill=CCFFFF border align=right fmt=#,###,##0.00
Positionsteil!H9	n	1	fill=CCFFFF border align=right fmt=#,###,##0.00
Positionsteil!B10	s	Langtext Zeile 1	fmt=@
Positionsteil!B11	s	Langtext Zeile 2	fmt=@
Positionsteil!A12	s	01.0020	bold fmt=@
Positionsteil!B12	s	Position	color=FF0000 fmt=@
Positionsteil!C12	n	3	align=right fmt=#######0.000
Positionsteil!D12	s	St	
Positionsteil!E12	f	=ROUND($G$12*$H$12,2)	1.01	align=right fmt=#,###,##0.00
Positionsteil!F12	f	=ROUND($C$12*$E$12,2)	3.03	align=right fmt=#,###,##0.00
Positionsteil!G12	n	1.005	fill=CCFFFF border align=right fmt=#,###,##0.00
Positionsteil!H12	n	1	fill=CCFFFF border align=right fmt=#,###,##0.00
Positionsteil!B13	s	Untertitel	color=800080 fmt=@
Positionsteil!A14	s	01.0030	bold fmt=@
Positionsteil!C14	f	=ROUND($F$14/$E$14,3)	#DIV/0!	align=right fmt=#######0.000
Positionsteil!E14	n	0	align=right fmt=#,###,##0.00
Positionsteil!F14	n	100	align=right fmt=#,###,##0.00
Positionsteil!B16	s	Summe Leistungsverzeichnis	bold fmt=@
Positionsteil!F16	f	=SUM($F$8:$F$14)	352.90999999999997	bold align=right fmt=#,###,##0.00
Positionsteil!row:10	outline=1
Positionsteil!row:11	outline=1
Positionsteil!view	zoom=80 freeze=A8 selection=A1
Positionsteil!outline	summary=above
Positionsteil!print	orientation=landscape paper=9 fit=1x0 titles=$7:$7 area=$A:$F center=horizontal
Positionsteil!footer	left=Kita Süd && Hort | right=Seite &P von &N
Positionsteil!margins	left=0.3937 right=0.3937 top=0.3937 bottom=0.3937 header=0 footer=0.1969
Positionsteil!col:A	width=20 bold fmt=@
Positionsteil!col:B	width=100 fmt=@
Positionsteil!col:C	width=8.43 align=right fmt=#######0.000
Positionsteil!col:E	width=10 align=right fmt=#,###,##0.00
Positionsteil!col:F	width=10 align=right fmt=#,###,##0.00
Positionsteil!col:G	width=10 fill=C0C0C0 align=right fmt=#,###,##0.00
Positionsteil!col:H	width=10 fill=C0C0C0 align=right fmt=#,###,##0.00
)";
    EXPECT_EQ(testsupport::xlsx_dump(file), want);
    // The program that made the file, where the library would name another one.
    const auto app = testsupport::read_zip_part(file, "docProps/app.xml");
    ASSERT_TRUE(app);
    EXPECT_NE(app->find("<Application>Bremora 9.9 &lt;Test&gt; &amp; Co</Application>"), std::string::npos)
        << *app;
    EXPECT_EQ(app->find("Microsoft"), std::string::npos) << *app;
}

TEST(XlsxWriter, TextsReachTheFileIntactOrMadeSafe) {
    Session s;
    Sheet& sh = s.book().sheet(1);
    const std::string long_text(40000, 'x');
    struct Case {
        std::string in, want;  // want as the dump escapes it
    } cases[] = {
        {"Fliesen 30×60 cm, Fuge ≤ 3 mm", "Fliesen 30×60 cm, Fuge ≤ 3 mm"},
        {"Zeile 1\nZeile 2\tTab", "Zeile 1\\nZeile 2\\tTab"},
        // A literal that looks like the file format's own escape stays literal.
        {"Maß _x0041_ bleibt", "Maß _x0041_ bleibt"},
        {"Steuer\x01zeichen", "Steuer\\x01zeichen"},
        // Bytes that are no UTF-8 would make the file unreadable: replaced, the rest kept.
        {std::string("Ger\xe4t \xff\xfe Ende"), "Ger\xEF\xBF\xBDt \xEF\xBF\xBD\xEF\xBF\xBD Ende"},
        {std::string("over\xC0\xAFlong \xED\xA0\x80 surrogate"),
         "over\xEF\xBF\xBD\xEF\xBF\xBDlong \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD surrogate"},
        {std::string("nul\0byte", 8),
         "nul\xEF\xBF\xBD"
         "byte"},
        // The file format holds 32767 characters per cell.
        {long_text, std::string(32767, 'x')},
    };
    int32_t row = 1;
    for (const auto& c : cases) sh.set_value(row++, 1, c.in);
    const fs::path file = testsupport::fresh_dir() / "texte.xlsx";
    workbook::xlsx::save(s.excel, s.book(), file);
    const std::string dump = testsupport::xlsx_dump(file);
    row = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(row);
        const std::string line = "Tabelle1!A" + std::to_string(row++) + "\ts\t" + c.want + "\t\n";
        EXPECT_NE(dump.find(line), std::string::npos) << "missing line: " << line.substr(0, 80);
    }
}

bool has_temp_files(const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".tmp") return true;
    return false;
}

TEST(XlsxWriter, ReplacesAnExistingFileOnlyWhenToldAndKeepsItsPermissions) {
    Session s;
    build_bill(s);
    const fs::path dir = testsupport::fresh_dir();
    const fs::path file = dir / "lv.xlsx";
    testsupport::write_file(file, "alte Datei");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_THROW(workbook::xlsx::save(s.excel, s.book(), file), workbook::WorkbookError);
    EXPECT_EQ(testsupport::read_file(file), "alte Datei");
    workbook::xlsx::save(s.excel, s.book(), file, workbook::xlsx::Existing::Replace);
    EXPECT_EQ(testsupport::read_file(file).substr(0, 2), "PK");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_FALSE(has_temp_files(dir));
}

TEST(XlsxWriter, FailureLeavesNoFileBehindAndTheOldOneIntact) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path existing = dir / "lv.xlsx";
    testsupport::write_file(existing, "alte Datei");
    fs::create_directory(dir / "ordner.xlsx");
    fs::create_symlink(existing, dir / "verknuepfung.xlsx");

    // A sheet name the file format refuses, met after the first sheet has been written.
    Session bad_name;
    build_bill(bad_name);
    bad_name.book().sheet("Hinweistext").set_name("'Alt'");
    struct Case {
        const char* what;
        Session* session;
        fs::path target;
        workbook::xlsx::Existing existing;
        const char* reason;
    };
    using workbook::xlsx::Existing;
    Session fine;
    build_bill(fine);
    Session bad_area;
    build_bill(bad_area);
    bad_area.book().sheet("Positionsteil").page_setup().print_area = "$A:";
    const Case cases[] = {
        {"sheet name", &bad_name, existing, Existing::Replace, "Ungültiger Tabellenname \"'Alt'\""},
        {"print area", &bad_area, existing, Existing::Replace, ""},
        {"missing folder", &fine, dir / "fehlt" / "lv.xlsx", Existing::Replace, "Der Ordner existiert nicht"},
        {"target is a folder", &fine, dir / "ordner.xlsx", Existing::Replace, "Das Ziel ist ein Ordner"},
        {"target exists", &fine, existing, Existing::Keep,
         "Eine Datei dieses Namens ist inzwischen angelegt worden"},
        {"target is a link", &fine, dir / "verknuepfung.xlsx", Existing::Replace,
         "Das Ziel ist keine gewöhnliche Datei"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            workbook::xlsx::save(c.session->excel, c.session->book(), c.target, c.existing);
            ADD_FAILURE() << "saved without error";
        } catch (const workbook::WorkbookError& e) {
            const std::string prefix =
                "Die Arbeitsmappe " + c.target.string() + " kann nicht gespeichert werden: ";
            EXPECT_EQ(std::string(e.what()).rfind(prefix + c.reason, 0), 0u) << e.what();
        }
        EXPECT_EQ(testsupport::read_file(existing), "alte Datei");
        EXPECT_FALSE(has_temp_files(dir));
        EXPECT_TRUE(fs::is_directory(dir / "ordner.xlsx"));
        EXPECT_TRUE(fs::is_symlink(dir / "verknuepfung.xlsx"));
    }
}

TEST(XlsxWriter, EqualModelsGiveByteEqualFiles) {
    const fs::path dir = testsupport::fresh_dir();
    Session first, second;
    build_bill(first);
    build_bill(second);
    workbook::xlsx::save(first.excel, first.book(), dir / "a.xlsx");
    workbook::xlsx::save(second.excel, second.book(), dir / "b.xlsx");
    const std::string a = testsupport::read_file(dir / "a.xlsx");
    EXPECT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == testsupport::read_file(dir / "b.xlsx"));
}

// Prices and quantities that hit the rounding boundaries, as many readers' items would.
void build_rounding_bill(Session& s, int32_t items) {
    Sheet& pos = s.book().sheet(1);
    pos.set_name("Positionsteil");
    Sheet& sums = s.book().add_sheet();
    sums.set_name("Teilsummen");
    uint64_t seed = 20240611;
    auto next = [&seed](uint64_t range) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return (seed >> 33) % range;
    };
    const double factors[] = {1.0, 1.15, 0.95, 1.005, 0.285, 1.125, 2.675};
    int32_t group_start = 8, sum_row = 2;
    for (int32_t i = 0; i < items; ++i) {
        const int32_t r = 8 + i;
        const std::string n = std::to_string(r);
        pos.set_value(r, 3, static_cast<double>(next(100000)) / 1000.0);
        pos.set_value(r, 7, static_cast<double>(next(1000000)) / 1000.0 + 0.005);
        pos.set_value(r, 8, factors[next(7)]);
        pos.set_formula(r, 5, "=ROUND($G$" + n + "*$H$" + n + ",2)");
        pos.set_formula(r, 6, (i % 3 == 0 ? "=$C$" + n + "*$E$" + n : "=ROUND($C$" + n + "*$E$" + n + ",2)"));
        if (i % 5 == 4) pos.set_formula(r, 9, "=ROUND($F$" + n + "/$E$" + n + ",3)");
        if (i % 25 == 24) {
            sums.set_formula(sum_row++, 2,
                             "=SUM(Positionsteil!$F$" + std::to_string(group_start) + ":$F$" + n + ")");
            group_start = r + 1;
        }
    }
    pos.set_value(8 + items, 5, 0.0);
    pos.set_formula(8 + items, 3, "=$F$" + std::to_string(8 + items) + "/$E$" + std::to_string(8 + items));
    sums.set_formula(sum_row + 1, 2, "=ROUND(SUM($B$2:$B$" + std::to_string(sum_row - 1) + "),2)");
}

// The save tells its progress through all its stages, in steps that only grow, up to the end; a
// display that fails stops the save without leaving anything behind.
TEST(XlsxWriter, SaveReportsItsProgressUpToTheEnd) {
    Session s;
    build_rounding_bill(s, 5000);
    const fs::path dir = testsupport::fresh_dir();
    std::vector<int64_t> seen;
    workbook::xlsx::save(s.excel, s.book(), dir / "lv.xlsx", workbook::xlsx::Existing::Keep,
                         [&](int64_t done, int64_t total) {
                             EXPECT_EQ(total, workbook::xlsx::kSaveSteps);
                             seen.push_back(done);
                         });
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::adjacent_find(seen.begin(), seen.end(), std::greater_equal<>()) == seen.end());
    EXPECT_EQ(seen.back(), workbook::xlsx::kSaveSteps);
    // Rows written, the library packing them, the read-back: each stage moves the display.
    for (const auto& [from, to] : {std::pair{0, 300}, std::pair{300, 820}, std::pair{820, 1000}})
        EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](int64_t v) { return v > from && v < to; }))
            << from << " to " << to;

    for (const int64_t fail_at : {100, 500, 900}) {
        SCOPED_TRACE(fail_at);
        const fs::path target = dir / ("abbruch" + std::to_string(fail_at) + ".xlsx");
        EXPECT_THROW(workbook::xlsx::save(s.excel, s.book(), target, workbook::xlsx::Existing::Keep,
                                          [&](int64_t done, int64_t) {
                                              if (done >= fail_at) throw std::runtime_error("Anzeige kaputt");
                                          }),
                     workbook::WorkbookError);
        EXPECT_FALSE(fs::exists(target));
        EXPECT_FALSE(has_temp_files(dir));
    }
}

// ROUND at the rounding edge from 1e-7 to 1e15: for each magnitude and number of decimals kept, a
// decimal whose deciding digit is a 5 with nothing after it, the doubles just below and above it,
// both signs; exact fives between 10^14 and 10^15; then prices times factors and quantities times
// prices up to 10^15 as the item rows compute them. Returns the number of formulas.
int32_t build_round_table(Session& s) {
    Sheet& sheet = s.book().sheet(1);
    sheet.set_name("Runden");
    uint64_t seed = 20240612;
    auto digit = [&seed](uint64_t from) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<char>('0' + from + (seed >> 33) % (10 - from));
    };
    int32_t row = 0;
    auto add = [&](double value, int digits) {
        ++row;
        sheet.set_value(row, 1, value);
        sheet.set_value(row, 2, static_cast<double>(digits));
        sheet.set_formula(row, 3, "=ROUND(A" + std::to_string(row) + ",B" + std::to_string(row) + ")");
    };
    for (int magnitude = -7; magnitude <= 14; ++magnitude) {
        // Decimals kept from 10 down to 3 places before the point, as long as the deciding digit
        // lies within the value.
        for (int digits = 10; digits >= -3 && -(digits + 1) <= magnitude; --digits) {
            for (int k = 0; k < 3; ++k) {
                std::string text(1, digit(1));
                for (int place = magnitude - 1; place > -(digits + 1); --place) text += digit(0);
                if (-(digits + 1) < magnitude)
                    text += '5';
                else
                    text[0] = '5';
                text += "e" + std::to_string(-(digits + 1));
                double value = 0;
                std::from_chars(text.data(), text.data() + text.size(), value);
                const double sign = k == 1 ? -1.0 : 1.0;
                add(sign * value, digits);
                add(sign * std::nextafter(value, 0.0), digits);
                add(sign * std::nextafter(value, HUGE_VAL), digits);
            }
        }
    }
    add(1e15, 2);
    add(999999999999999.5, 0);
    // From 10^14 to 10^15 a double holds 15 digits before the point and 3 to 6 bits after it:
    // values whose deciding digit is a 5 that the double holds exactly (x.5, x.25, x.125, x.0625),
    // their neighbours, both signs; the file gives them to LibreOffice in at most 17 digits.
    const std::pair<int, std::vector<double>> exact_fives[] = {
        {0, {0.5}}, {1, {0.25, 0.75}}, {2, {0.125, 0.375, 0.625, 0.875}}, {3, {0.0625, 0.4375}}};
    for (const auto& [digits, fractions] : exact_fives)
        for (const double fraction : fractions)
            for (int k = 0; k < 4; ++k) {
                std::string whole(1, digit(1));
                for (int place = 0; place < 14; ++place) whole += digit(0);
                double value = 0;
                std::from_chars(whole.data(), whole.data() + whole.size(), value);
                value += fraction;
                if (digits == 3 && value >= 0x1p49) value -= 0x1p48;  // .0625 needs 4 bits after the point
                const double sign = k % 2 ? -1.0 : 1.0;
                add(sign * value, digits);
                add(sign * std::nextafter(value, 0.0), digits);
                add(sign * std::nextafter(value, HUGE_VAL), digits);
            }
    // The case that was reported: ROUND of 977,779,778,313,211.2 to cents. LibreOffice shows the
    // result with 15 digits and saves it so in its own .xlsx (977779778313211), but holds and
    // recalculates the double 977779778313211.25, which is what the cached value must be.
    add(977779778313211.2, 2);
    add(-977779778313211.2, 2);
    const int32_t table_rows = row;
    // Unit price times factor, rounded to cents, as the calculation columns do it.
    const double factors[] = {1.15, 0.95, 1.005, 2.675, 0.285, 1.125, 3.3, 0.07};
    for (int32_t i = 0; i < 600; ++i) {
        const int32_t r = table_rows + 1 + i;
        std::string price(1, digit(1));
        for (int place = 0; place < 2 + i % 13; ++place) price += digit(0);
        price += "e-2";
        double value = 0;
        std::from_chars(price.data(), price.data() + price.size(), value);
        sheet.set_value(r, 1, value);
        sheet.set_value(r, 4, factors[i % 8]);
        sheet.set_formula(r, 5, "=ROUND(A" + std::to_string(r) + "*D" + std::to_string(r) + ",2)");
    }
    // Quantities times unit prices whose totals lie between 10^14 and 10^15, rounded to cents as
    // the item rows do it, both signs; and the reported total as quantity 1000 times its price.
    const int32_t product_rows = table_rows + 600;
    for (int32_t i = 0; i < 200; ++i) {
        const int32_t r = product_rows + 1 + i;
        std::string quantity(1, digit(1)), price(1, digit(1));
        for (int place = 0; place < 2 + i % 8; ++place) quantity += digit(0);
        for (int place = 0; place < 15 - (2 + i % 8); ++place) price += digit(0);
        quantity += "e-3";
        price += "e-2";
        double q = 0, p = 0;
        std::from_chars(quantity.data(), quantity.data() + quantity.size(), q);
        std::from_chars(price.data(), price.data() + price.size(), p);
        sheet.set_value(r, 1, i % 2 ? -q : q);
        sheet.set_value(r, 4, p);
        sheet.set_formula(r, 5, "=ROUND(A" + std::to_string(r) + "*D" + std::to_string(r) + ",2)");
    }
    const int32_t reported = product_rows + 201;
    sheet.set_value(reported, 1, 1000.0);
    sheet.set_value(reported, 4, 977779778313.2112);
    sheet.set_formula(reported, 5,
                      "=ROUND(A" + std::to_string(reported) + "*D" + std::to_string(reported) + ",2)");
    // Sums of prices and of table values (magnitudes far apart, so that compensation matters),
    // and additions whose result is rounding noise.
    int32_t formulas = table_rows + 600 + 201;
    for (int32_t first = 1; first + 9 <= table_rows + 600; first += 10) {
        const std::string a = std::to_string(first), b = std::to_string(first + 9);
        sheet.set_formula(first, 7, "=SUM(A" + a + ":A" + b + ")");
        sheet.set_formula(first + 1, 7, "=A" + a + "+A" + std::to_string(first + 1) + "-A" + b);
        formulas += 2;
    }
    sheet.set_value(1, 8, 0.1);
    sheet.set_value(2, 8, 0.2);
    sheet.set_value(3, 8, 0.3);
    sheet.set_formula(4, 8, "=H1+H2-H3");
    sheet.set_formula(5, 8, "=SUM(H1:H2)-H3");
    return formulas + 2;
}

// Formula cells of a workbook, and whether Positionsteil holds the bill's total row.
int64_t formula_count(const Workbook& book, bool& with_total) {
    int64_t n = 0;
    for (const Sheet* sheet : book.sheets_in_tab_order())
        for (int32_t row = 1; row <= sheet->last_row(); ++row)
            for (const Sheet::Cell& c : sheet->row_cells(row)) {
                n += c.kind == workbook::CellKind::Formula;
                if (sheet->name() == "Positionsteil" && c.col == 2 &&
                    sheet->cell_string(c) == "Summe Leistungsverzeichnis")
                    with_total = sheet->text(row, 6).starts_with("=SUM($F$8:$F$");
            }
    return n;
}

TEST(XlsxLibreOffice, RecalculatedValuesEqualTheStoredOnesExactly) {
    Session bill, rounding, table;
    build_bill(bill);
    build_rounding_bill(rounding, 500);
    const int32_t round_formulas = build_round_table(table);
    const fs::path dir = testsupport::fresh_dir();
    workbook::xlsx::save(bill.excel, bill.book(), dir / "lv.xlsx");
    workbook::xlsx::save(rounding.excel, rounding.book(), dir / "rundung.xlsx");
    workbook::xlsx::save(table.excel, table.book(), dir / "rundungstabelle.xlsx");
    std::vector<std::string> files = {"lv.xlsx", "rundung.xlsx", "rundungstabelle.xlsx"};
    std::vector<std::string> expected = {
        "lv.xlsx: 8 formula cells compared, 0 differ", "rundung.xlsx: 1122 formula cells compared, 0 differ",
        "rundungstabelle.xlsx: " + std::to_string(round_formulas) + " formula cells compared, 0 differ"};
    // Whole conversions with the finishing pass's total row, one bill of each format.
    workbook::ConversionOptions options;
    options.SubtotalsSheet = true;
    for (const char* input :
         {"gaeb90/kalkulation.d83", "gaeb2000/angebot.p84", "gaebxml/positionsarten.x83"}) {
        auto run = testsupport::convert_in_memory(testsupport::data_dir() / input, options);
        bool with_total = false;
        const int64_t formulas = formula_count(run.book(), with_total);
        EXPECT_TRUE(with_total) << input;
        const std::string name =
            fs::path(input).stem().string() + fs::path(input).extension().string().substr(1) + ".xlsx";
        workbook::xlsx::save(*run.excel, run.book(), dir / name);
        files.push_back(name);
        expected.push_back(name + ": " + std::to_string(formulas) + " formula cells compared, 0 differ");
    }
    std::string command =
        std::string("/usr/bin/python3 ") + BREMORA_SOURCE_DIR + "/scripts/lo_recalc_check.py";
    for (const std::string& f : files) command += " '" + (dir / f).string() + "'";
    command += " > '" + (dir / "check.txt").string() + "' 2>&1";
    const int rc = std::system(command.c_str());
    const std::string output = testsupport::read_file(dir / "check.txt");
    if (WIFEXITED(rc) && WEXITSTATUS(rc) == 77) GTEST_SKIP() << output;
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << output;
    // Every file was compared cell by cell.
    for (const std::string& line : expected)
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
}

}  // namespace
