// SPDX-License-Identifier: MIT
// The priced workbook read back: our own .xlsx, the same re-saved by LibreOffice Calc (shared
// strings, its own cached results), and hand-made packages for what other writers do and for
// damaged and hostile files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "angebot/model.h"
#include "angebot/priced_workbook.h"
#include "angebot/pricing.h"
#include "angebot/x84_writer.h"
#include "tests/angebot/angebot_support.h"
#include "tests/angebot/x84_structure.h"
#include "tests/support/test_support.h"
#include "workbook/numbers.h"

namespace {

namespace fs = std::filesystem;
using angebot::CellType;
using angebot::PricedWorkbook;
using angebot_test::make_zip;
using angebot_test::workbook_parts;
using angebot_test::worksheet;

// OZ -> unit price cell of every row.
std::map<std::string, angebot::CellContent> prices_of(const PricedWorkbook& book) {
    std::map<std::string, angebot::CellContent> out;
    for (const auto& r : book.rows) out[r.oz] = r.unit_price;
    return out;
}

// The unit prices the sample workbook must give: rounded to cents by E = ROUND(G*H,2) with the
// calculation columns, as entered without them.
void expect_sample_prices(const PricedWorkbook& book, bool calc_columns) {
    const bill::Bill bill = angebot_test::sample_bill();
    const auto prices = angebot_test::sample_prices();
    const auto got = prices_of(book);
    ASSERT_EQ(got.size(), bill.items().size());
    for (size_t i = 0; i < bill.items().size(); ++i) {
        SCOPED_TRACE(bill.items()[i].oz);
        const auto it = got.find(bill.items()[i].oz);
        ASSERT_NE(it, got.end());
        ASSERT_EQ(it->second.type, CellType::Number);
        const double expected = calc_columns ? workbook::excel_round(*prices[i], 2) : *prices[i];
        EXPECT_DOUBLE_EQ(it->second.number, expected);
    }
    EXPECT_EQ(book.caption_row, 7);
    EXPECT_EQ(book.price_col, 5);
}

// Our workbooks in three shapes, and the same re-saved by LibreOffice, made once for the suite.
class PricedWorkbookFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = fs::temp_directory_path() / fs::path("bremora-angebot-" + std::to_string(::getpid()));
        fs::create_directories(s_dir);
        const bill::Bill bill = angebot_test::sample_bill();
        const auto prices = angebot_test::sample_prices();
        const std::pair<const char*, angebot_test::Shape> shapes[] = {
            {"kalkulation.xlsx", {}},
            {"ohne_kalkulationsspalten.xlsx", {false, false, false}},
            {"umsortiert.xlsx", {true, true, true}},
        };
        for (const auto& [name, shape] : shapes) {
            s_ours.push_back(s_dir / name);
            angebot_test::write_priced_workbook(bill, prices, s_ours.back(), shape);
        }
        s_resaved = angebot_test::libreoffice_resave(s_ours, s_dir);
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(s_dir, ec);
    }
    void skip_without_libreoffice() {
        if (s_resaved.empty()) GTEST_SKIP() << "LibreOffice (soffice) fehlt";
    }

    static inline fs::path s_dir;
    static inline std::vector<fs::path> s_ours, s_resaved;
};

TEST_F(PricedWorkbookFiles, OurOwnFilesWithInlineStrings) {
    expect_sample_prices(angebot::read_priced_workbook(s_ours[0]), true);
    expect_sample_prices(angebot::read_priced_workbook(s_ours[1]), false);
    expect_sample_prices(angebot::read_priced_workbook(s_ours[2]), true);
}

TEST_F(PricedWorkbookFiles, ResavedByLibreOffice) {
    skip_without_libreoffice();
    expect_sample_prices(angebot::read_priced_workbook(s_resaved[0]), true);
    expect_sample_prices(angebot::read_priced_workbook(s_resaved[1]), false);
    // Sorted backwards, with empty and note rows between the items: the rows move, nothing else.
    const PricedWorkbook moved = angebot::read_priced_workbook(s_resaved[2]);
    expect_sample_prices(moved, true);
    EXPECT_EQ(moved.rows.front().oz, "02.01.0020");
    EXPECT_GT(moved.rows.back().row, 30);
    // Quantities and totals come along with their cached values.
    for (const auto& r : moved.rows) {
        if (r.oz != "01.01.0020") continue;
        EXPECT_EQ(r.quantity.type, CellType::Number);
        EXPECT_DOUBLE_EQ(r.quantity.number, 12.5);
        EXPECT_EQ(r.total.type, CellType::Number);
        EXPECT_DOUBLE_EQ(r.total.number, 590.63);
    }
}

// The round trip in miniature: the workbook as LibreOffice saved it, priced into the bill, written
// as a bid and read back by our DA XML reader gives every unit price and total of the workbook and
// its grand total.
TEST_F(PricedWorkbookFiles, RoundTripThroughTheBid) {
    skip_without_libreoffice();
    for (const auto& file : s_resaved) {
        SCOPED_TRACE(file.filename().string());
        const PricedWorkbook book = angebot::read_priced_workbook(file);
        bill::Bill bill = angebot_test::sample_bill();
        const angebot::PricingResult result = angebot::price(bill, book);
        ASSERT_TRUE(result.complete())
            << (result.problems.empty() ? result.refusal : result.problems[0].text);

        const fs::path bid = testsupport::fresh_dir() / "angebot.x84";
        angebot::X84Options options;
        options.date = "2024-07-01";
        options.time = "12:00:00";
        angebot::write_x84(bill, bid, options);
        EXPECT_EQ(angebot_test::x84_structure_faults(testsupport::read_file(bid)),
                  std::vector<std::string>{});

        workbook::ConversionOptions conversion;
        conversion.CalcColumns = false;
        auto back = testsupport::convert_in_memory(bid, conversion);
        ASSERT_EQ(back.end, workbook::RunEnd::Completed);
        const workbook::Sheet& sheet = back.book().sheet(1);
        std::map<std::string, std::pair<workbook::CellValue, workbook::CellValue>> read_back;
        for (int32_t r = 8; r <= sheet.last_row(); ++r)
            if (!sheet.text(r, 1).empty())
                read_back[sheet.text(r, 1)] = {sheet.value(r, 5), sheet.value(r, 6)};

        double workbook_total = 0, bid_total = 0;
        for (const auto& row : book.rows) {
            SCOPED_TRACE(row.oz);
            const auto it = read_back.find(row.oz);
            ASSERT_NE(it, read_back.end());
            EXPECT_DOUBLE_EQ(it->second.first.number, row.unit_price.number);
            if (row.total.type == CellType::Number) {
                EXPECT_DOUBLE_EQ(it->second.second.number, row.total.number);
                workbook_total += row.total.number;
            } else {
                EXPECT_TRUE(it->second.second.is_empty());
            }
            bid_total += it->second.second.number;
        }
        EXPECT_EQ(std::llround(bid_total * 100), std::llround(workbook_total * 100));
        EXPECT_EQ(std::llround(bid_total * 100), bill.total_cents());
    }
}

// A package made by hand: each case is what some writer does, or a damage.
struct PackageCase {
    const char* name;
    std::string bytes;
    // Expected OZ -> "N:value", "T:text", "E:error", "B:bool", "F" (formula without result), "-" empty;
    // or, for a refused file, a part of the German message in `error`.
    std::map<std::string, std::string> prices;
    std::string error;
};

std::string describe(const angebot::CellContent& c) {
    switch (c.type) {
        case CellType::Empty:
            return "-";
        case CellType::Number:
            return "N:" + workbook::format_number(c.number);
        case CellType::Text:
            return "T:" + c.text;
        case CellType::Boolean:
            return "B:" + c.text;
        case CellType::Error:
            return "E:" + c.text;
        case CellType::FormulaWithoutValue:
            return "F";
        case CellType::NumberOutOfRange:
            return "R:" + c.text;
    }
    return "?";
}

std::string inline_row(int r, const std::string& oz, const std::string& e_cell) {
    return "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) +
           "\" t=\"inlineStr\"><is><t>" + oz + "</t></is></c>" + e_cell + "</row>";
}

std::string zeros(size_t n) {
    return std::string(n, '0');
}

std::vector<PackageCase> package_cases() {
    const std::string captions =
        "<row r=\"7\"><c r=\"A7\" t=\"inlineStr\"><is><t>Ordnungszahl</t></is></c><c r=\"E7\" "
        "t=\"inlineStr\"><is><t>E-Preis</t></is></c></row>";
    std::vector<PackageCase> cases;

    cases.push_back(
        {"rich text runs and a phonetic run in the shared strings",
         make_zip(workbook_parts(
             worksheet(captions +
                       "<row r=\"8\"><c r=\"A8\" t=\"s\"><v>0</v></c><c r=\"E8\"><v>12.5</v></c></row>"),
             "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"4294967295\" "
             "uniqueCount=\"4294967295\"><si><r><t>01.</t></r><r><rPr><b/></rPr><t "
             "xml:space=\"preserve\">01.0010 </t></r><rPh><t>X</t></rPh></si></sst>")),
         {{"01.01.0010", "N:12.5"}},
         {}});
    cases.push_back({"cells and rows without their r attribute",
                     make_zip(workbook_parts(worksheet(
                         captions + "<row><c t=\"inlineStr\"><is><t>01.01.0010</t></is></c><c/><c/><c/>"
                                    "<c><v>7</v></c></row><row><c t=\"inlineStr\"><is><t>01.01.0020</t>"
                                    "</is></c><c r=\"E9\"><v>8</v></c></row>"))),
                     {{"01.01.0010", "N:7"}, {"01.01.0020", "N:8"}},
                     {}});
    cases.push_back(
        {"every element under a namespace prefix",
         make_zip(workbook_parts(
             "<x:worksheet "
             "xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><x:sheetData><x:row "
             "r=\"8\"><x:c r=\"A8\" t=\"inlineStr\"><x:is><x:t>01.01.0010</x:t></x:is></x:c><x:c "
             "r=\"E8\"><x:v>3.5</x:v></x:c></x:row></x:sheetData></x:worksheet>")),
         {{"01.01.0010", "N:3.5"}},
         {}});
    cases.push_back({"values of every kind in the price column",
                     make_zip(workbook_parts(worksheet(
                         captions + inline_row(8, "1.1", "<c r=\"E8\" t=\"b\"><v>1</v></c>") +
                         inline_row(9, "1.2", "<c r=\"E9\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>") +
                         inline_row(10, "1.3", "<c r=\"E10\"><f>G10*H10</f></c>") +
                         inline_row(11, "1.4", "<c r=\"E11\" t=\"str\"><f>\"x\"</f><v>ca. 12</v></c>") +
                         inline_row(12, "1.5", "<c r=\"E12\"><v>1.25E1</v></c>") +
                         inline_row(13, "1.6", "<c r=\"E13\" t=\"inlineStr\"><is><t>12,50</t></is></c>") +
                         inline_row(14, "1.7", "") +
                         inline_row(15, "1.8", "<c r=\"E15\"><v>0.30000000000000004</v></c>") +
                         inline_row(16, "1.9", "<c r=\"E16\"><v>inf</v></c>") +
                         inline_row(17, "_x0031_.10", "<c r=\"E17\" t=\"s\"><v>3</v></c>")))),
                     {{"1.1", "B:WAHR"},
                      {"1.2", "E:#DIV/0!"},
                      {"1.3", "F"},
                      {"1.4", "T:ca. 12"},
                      {"1.5", "N:12.5"},
                      {"1.6", "T:12,50"},
                      {"1.7", "-"},
                      {"1.8", "N:0.30000000000000004"},
                      {"1.9", "R:inf"},
                      {"1.10", "E:#BEZUG!"}},
                     {}});
    {
        // The sheet is the second of the workbook and its part is not sheet1.xml, which holds a decoy.
        auto parts = workbook_parts(
            worksheet(captions + inline_row(8, "02.0010", "<c r=\"E8\"><v>99</v></c>")), {}, "blatt7.xml");
        parts.push_back(
            {"xl/worksheets/sheet1.xml", worksheet(inline_row(8, "09.0010", "<c r=\"E8\"><v>1</v></c>"))});
        for (auto& [name, bytes] : parts) {
            if (name == "xl/workbook.xml")
                bytes.replace(bytes.find("<sheet "), 0,
                              "<sheet name=\"Deckblatt\" sheetId=\"2\" r:id=\"rId9\"/>");
            if (name == "xl/_rels/workbook.xml.rels")
                bytes.replace(
                    bytes.find("</Relationships>"), 0,
                    "<Relationship Id=\"rId9\" Type=\"x/worksheet\" Target=\"/xl/worksheets/sheet1.xml\"/>");
        }
        cases.push_back({"the sheet found through the relationships, not by its file name",
                         make_zip(parts),
                         {{"02.0010", "N:99"}},
                         {}});
    }
    cases.push_back({"every number form, and numbers no bid can carry",
                     make_zip(workbook_parts(worksheet(
                         captions + inline_row(8, "2.1", "<c r=\"E8\"><v>1e-310</v></c>") +
                         inline_row(9, "2.2", "<c r=\"E9\"><v> -4.9E-324 </v></c>") +
                         inline_row(10, "2.3", "<c r=\"E10\"><v>1E+400</v></c>") +
                         inline_row(11, "2.4", "<c r=\"E11\"><v>1e-400</v></c>") +
                         inline_row(12, "2.5", "<c r=\"E12\"><v>nan</v></c>") +
                         inline_row(13, "2.6", "<c r=\"E13\"><v>+12.5</v></c>") +
                         inline_row(14, "2.7", "<c r=\"E14\"><v>+-12.5</v></c>") +
                         inline_row(15, "2.8", "<c r=\"E15\"><v>2.2250738585072014E-308</v></c>") +
                         inline_row(16, "2.9", "<c r=\"E16\"><v>0x10</v></c>") +
                         inline_row(17, "2.10", "<c r=\"E17\"><v>1.7976931348623157e308</v></c>")))),
                     {{"2.1", "R:1e-310"},
                      {"2.2", "R:-4.9E-324"},
                      {"2.3", "R:1E+400"},
                      {"2.4", "R:1e-400"},
                      {"2.5", "R:nan"},
                      {"2.6", "N:12.5"},
                      {"2.7", "T:+-12.5"},
                      {"2.8", "N:2.2250738585072014e-308"},
                      {"2.9", "T:0x10"},
                      {"2.10", "N:1.7976931348623157e+308"}},
                     {}});
    cases.push_back(
        {"no caption row: columns A and E, header labels kept as rows",
         make_zip(workbook_parts(worksheet(inline_row(1, "Projektname:", "") +
                                           inline_row(3, "01.0010", "<c r=\"E3\"><v>5</v></c>")))),
         {{"Projektname:", "-"}, {"01.0010", "N:5"}},
         {}});

    // Refused files.
    cases.push_back({"an empty file", "", {}, "die Datei ist leer"});
    std::mt19937 rng(17);
    std::string noise(4096, '\0');
    for (auto& c : noise) c = static_cast<char>(rng());
    cases.push_back(
        {"random bytes",
         noise,
         {},
         "kein ZIP-Archiv. Bitte die Arbeitsmappe in der Tabellenkalkulation als .xlsx speichern"});
    cases.push_back({"an encrypted workbook (OLE compound file)",
                     std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0'),
                     {},
                     "verschlüsselt"});
    cases.push_back(
        {"a zip without workbook", make_zip({{"hallo.txt", "Hallo"}}), {}, "\"xl/workbook.xml\" fehlt"});
    {
        auto parts = workbook_parts(worksheet(""));
        for (auto& [name, bytes] : parts)
            if (name == "xl/workbook.xml") bytes.replace(bytes.find("Positionsteil"), 13, "Tabelle1");
        cases.push_back(
            {"no sheet Positionsteil", make_zip(parts), {}, "hat kein Tabellenblatt \"Positionsteil\""});
    }
    {
        auto parts = workbook_parts(worksheet(""));
        parts.erase(parts.begin() + 4);
        cases.push_back({"the sheet's part missing", make_zip(parts), {}, "fehlt"});
    }
    {
        // The spreadsheet programs show the last copy of a part, a lookup by name finds the first.
        auto parts = workbook_parts(worksheet(captions + inline_row(8, "1.1", "<c r=\"E8\"><v>10</v></c>")));
        auto twice = parts;
        twice.push_back({"xl/worksheets/sheet1.xml",
                         worksheet(captions + inline_row(8, "1.1", "<c r=\"E8\"><v>99</v></c>"))});
        cases.push_back({"a part twice in the archive",
                         angebot_test::make_stored_zip(twice),
                         {},
                         "enthält den Teil \"xl/worksheets/sheet1.xml\" zweimal"});
        auto cased = parts;
        cased.push_back({"XL/Worksheets/Sheet1.xml", worksheet("")});
        cases.push_back(
            {"part names that differ only in letter case",
             make_zip(cased),
             {},
             "\"xl/worksheets/sheet1.xml\" und \"XL/Worksheets/Sheet1.xml\", die sich nur in Groß- "
             "und Kleinschreibung unterscheiden"});
        cases.push_back({"the same package without a second copy reads",
                         angebot_test::make_stored_zip(parts),
                         {{"1.1", "N:10"}},
                         {}});
    }
    cases.push_back(
        {"an OpenDocument spreadsheet (.ods)",
         angebot_test::make_stored_zip({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                                        {"content.xml", "<office:document-content/>"}}),
         {},
         "ist im OpenDocument-Format (.ods), nicht im Format .xlsx. Bitte die Arbeitsmappe in der "
         "Tabellenkalkulation als .xlsx speichern"});
    cases.push_back({"the sheet no XML",
                     make_zip(workbook_parts("<worksheet><sheetData><row>")),
                     {},
                     "kein gültiges XML"});
    cases.push_back({"a cell address out of the sheet",
                     make_zip(workbook_parts(worksheet("<row r=\"8\"><c r=\"E0\"><v>1</v></c></row>"))),
                     {},
                     "ungültige Zelladresse \"E0\""});
    cases.push_back({"a row number out of the sheet",
                     make_zip(workbook_parts(worksheet("<row r=\"1048577\"><c><v>1</v></c></row>"))),
                     {},
                     "ungültige Zeilennummer"});
    return cases;
}

TEST(PricedWorkbook, HandMadePackages) {
    for (const auto& c : package_cases()) {
        SCOPED_TRACE(c.name);
        try {
            const PricedWorkbook book = angebot::read_priced_workbook_bytes(c.bytes);
            EXPECT_TRUE(c.error.empty()) << "read, but expected: " << c.error;
            std::map<std::string, std::string> got;
            for (const auto& r : book.rows) got[r.oz] = describe(r.unit_price);
            EXPECT_EQ(got, c.prices);
        } catch (const angebot::AngebotError& e) {
            EXPECT_FALSE(c.error.empty()) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("Die Arbeitsmappe", 0), 0u) << e.what();
        }
    }
}

// The unit price is taken as computed from the calculation columns of its own row only where E
// is their product, rounded or not; G and H are read then.
TEST(PricedWorkbook, PriceFromTheCalculationColumns) {
    const std::pair<std::string, bool> formulas[] = {
        {"ROUND($G$8*$H$8,2)", true},    {"G8*H8", true},
        {"=round( h8 * g8 ; 2 )", true}, {"ROUND(G9*H9,2)", false},
        {"ROUND(G8*H8*2,2)", false},     {"G8+H8", false},
        {"SUM(G8:H8)", false},           {"", false},
    };
    for (const auto& [formula, calculated] : formulas) {
        SCOPED_TRACE(formula);
        const std::string rows =
            "<row r=\"7\"><c r=\"A7\" t=\"inlineStr\"><is><t>Ordnungszahl</t></is></c><c r=\"E7\" "
            "t=\"inlineStr\"><is><t>E-Preis</t></is></c><c r=\"G7\" "
            "t=\"inlineStr\"><is><t>Basispreis</t></is></c>"
            "<c r=\"H7\" t=\"inlineStr\"><is><t>Faktor</t></is></c></row>" +
            inline_row(8, "1.1",
                       "<c r=\"E8\" t=\"e\"><f>" + formula +
                           "</f><v>#VALUE!</v></c><c r=\"G8\" t=\"inlineStr\"><is><t>ca. 12</t></is></c>"
                           "<c r=\"H8\"><v>1</v></c>");
        const PricedWorkbook book =
            angebot::read_priced_workbook_bytes(make_zip(workbook_parts(worksheet(rows))));
        ASSERT_EQ(book.rows.size(), 1u);
        const angebot::PricedRow& row = book.rows[0];
        EXPECT_EQ(row.calculated_price, calculated);
        EXPECT_EQ(describe(row.unit_price), "E:#VALUE!");
        EXPECT_EQ(describe(row.base_price), calculated ? "T:ca. 12" : "-");
        EXPECT_EQ(describe(row.factor), calculated ? "N:1" : "-");
    }
}

// A part that unpacks to more than allowed is refused while it is unpacked, whatever the archive
// claims; so is a package whose parts together do.
TEST(PricedWorkbook, ZipBombsAreRefused) {
    angebot::ReadLimits limits;
    limits.part_bytes = 1 << 20;
    limits.total_bytes = 3 << 19;
    const std::string big = worksheet("<row r=\"8\"><c r=\"A8\"><v>" + zeros(2 << 20) + "</v></c></row>");
    try {
        angebot::read_priced_workbook_bytes(make_zip(workbook_parts(big)), limits);
        ADD_FAILURE() << "a part of 2 MiB was read";
    } catch (const angebot::AngebotError& e) {
        EXPECT_NE(std::string(e.what()).find("ist zu groß"), std::string::npos) << e.what();
    }
    const std::string half =
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>" +
        zeros(900 << 10) + "</t></si></sst>";
    const std::string sheet = worksheet("<row r=\"8\"><c r=\"A8\"><v>" + zeros(900 << 10) + "</v></c></row>");
    try {
        angebot::read_priced_workbook_bytes(make_zip(workbook_parts(sheet, half)), limits);
        ADD_FAILURE() << "parts of 1.8 MiB in all were read";
    } catch (const angebot::AngebotError& e) {
        EXPECT_NE(std::string(e.what()).find("entpackt mehr als 1 MiB"), std::string::npos) << e.what();
    }
}

TEST_F(PricedWorkbookFiles, DamagedFilesAndPaths) {
    const std::string good = testsupport::read_file(s_ours[0]);
    const fs::path dir = testsupport::fresh_dir();
    const std::pair<const char*, std::string> damaged[] = {
        {"half.xlsx", good.substr(0, good.size() / 2)},
        {"flipped.xlsx",
         [&] {
             std::string b = good;
             for (size_t i = b.size() / 4; i < b.size() / 2; i += 97) b[i] = static_cast<char>(b[i] ^ 0x5a);
             return b;
         }()},
    };
    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        testsupport::write_file(dir / name, bytes);
        try {
            angebot::read_priced_workbook(dir / name);
            ADD_FAILURE() << "read a damaged file";
        } catch (const angebot::AngebotError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Die Arbeitsmappe \"" + std::string(name) + "\"", 0), 0u)
                << e.what();
        }
    }
    ::mkfifo((dir / "pipe.xlsx").c_str(), 0600);
    for (const fs::path& p : {dir / "fehlt.xlsx", dir, dir / "pipe.xlsx"}) {
        try {
            angebot::read_priced_workbook(p);
            ADD_FAILURE() << p;
        } catch (const angebot::AngebotError& e) {
            SUCCEED() << e.what();
        }
    }
}

// A sheet far larger than one piece of the reader: every row arrives, with markup that a textual
// scan could trip over (a '>' in an attribute, comments and CDATA holding row tags).
TEST(PricedWorkbook, LargeSheetReadInPieces) {
    std::string rows =
        "<row r=\"7\" spans=\"1:5\" x=\"a>b\"><c r=\"A7\" t=\"inlineStr\"><is><t>Ordnungszahl</t></is></c>"
        "<c r=\"E7\" t=\"inlineStr\"><is><t>E-Preis</t></is></c></row><!-- </sheetData> <row> -->";
    constexpr int kRows = 60000;
    for (int i = 0; i < kRows; ++i) {
        const int r = 8 + i;
        rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) +
                "\" t=\"inlineStr\"><is><t>" + std::to_string(i) + ".1</t></is></c><c r=\"E" +
                std::to_string(r) + "\"><v>" + std::to_string(i) + ".5</v></c></row>";
        if (i % 1000 == 0) rows += "<![CDATA[</row><row r=\"1\">]]>";
    }
    std::map<std::string, std::string> parts;
    for (auto& [name, bytes] : workbook_parts(worksheet(rows))) parts[name] = bytes;
    ASSERT_GT(parts["xl/worksheets/sheet1.xml"].size(), size_t{5} << 20);
    const PricedWorkbook book = angebot::read_priced_workbook_parts(parts);
    ASSERT_EQ(book.rows.size(), static_cast<size_t>(kRows));
    EXPECT_EQ(book.rows[12345].oz, "12345.1");
    EXPECT_DOUBLE_EQ(book.rows[12345].unit_price.number, 12345.5);
    EXPECT_EQ(book.rows.back().row, 7 + kRows);
}

TEST(PricedWorkbook, CellAddresses) {
    EXPECT_EQ(angebot::parse_cell_address("E12"), std::make_pair(12, 5));
    EXPECT_EQ(angebot::parse_cell_address("XFD1048576"), std::make_pair(1048576, 16384));
    for (const char* bad : {"", "E", "12", "E0", "E012", "XFE1", "AAAA1", "E1048577", "e12", "E1x"})
        EXPECT_EQ(angebot::parse_cell_address(bad), std::make_pair(0, 0)) << bad;
    PricedWorkbook book;
    EXPECT_EQ(book.address(12, 5), "Positionsteil!E12");
    EXPECT_EQ(book.address(3, 28), "Positionsteil!AB3");
}

}  // namespace
