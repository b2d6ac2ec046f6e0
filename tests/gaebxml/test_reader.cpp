// SPDX-License-Identifier: MIT
// Whole conversions in memory of documents written by the tests: versions and encodings, the OZ
// mask, header values, large bodies and texts, hostile documents.
#include <gtest/gtest.h>

#include <optional>

#include "tests/support/test_support.h"
#include "workbook/rows.h"
#include "workbook/text.h"

namespace {

using workbook::RunEnd;

struct Bill {
    std::string ns = "http://www.gaeb.de/GAEB_DA_XML/DA83/3.3";
    std::string root = "GAEB";
    std::string phase = "<DP>83</DP>";
    std::string prj = "<PrjInfo><NamePrj>Neubau</NamePrj><LblPrj>Neubau Halle</LblPrj></PrjInfo>";
    std::string bkdn =
        "<BoQBkdn><Type>BoQLevel</Type><Length>2</Length></BoQBkdn>"
        "<BoQBkdn><Type>Item</Type><Length>4</Length></BoQBkdn>";
    std::string body =
        "<BoQCtgy ID=\"A\" RNoPart=\"1\"><LblTx><p><span>Rohbau</span></p></LblTx><BoQBody><Itemlist>"
        "<Item ID=\"I\" RNoPart=\"10\"><Qty>2.5</Qty><QU>m2</QU></Item></Itemlist></BoQBody></BoQCtgy>";
    std::string xml() const {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root + " xmlns=\"" + ns + "\">" + prj +
               "<Award>" + phase +
               "<OWN><Address><Name1>Stadt</Name1></Address></OWN><BoQ><BoQInfo><LblBoQ>LV 1</LblBoQ>" +
               bkdn + "</BoQInfo><BoQBody>" + body + "</BoQBody></BoQ></Award></" + root + ">\n";
    }
};

testsupport::Converted convert_bytes(const std::string& bytes, workbook::ConversionOptions options = {}) {
    const auto path = testsupport::fresh_dir() / "lv.x83";
    testsupport::write_file(path, bytes);
    return testsupport::convert_in_memory(path, options);
}

std::string cell(testsupport::Converted& c, std::string_view sheet, int row, int col) {
    return c.book().sheet(sheet).text(row, col);
}

TEST(XmlReader, VersionsAndEncodingsConvertAlike) {
    Bill bill;
    bill.prj = "<PrjInfo><NamePrj>Straße Ä</NamePrj></PrjInfo>";
    auto reference = convert_bytes(bill.xml());
    ASSERT_EQ(reference.end, RunEnd::Completed);
    ASSERT_EQ(cell(reference, "Positionsteil", 1, 2), "Straße Ä");
    const std::string expected = testsupport::dump_workbook(reference.book());

    std::vector<std::string> variants;
    for (const char* ns :
         {"http://www.gaeb.de/GAEB_DA_XML/200407", "http://www.gaeb.de/GAEB_DA_XML/DA83/3.2", ""}) {
        Bill other = bill;
        other.ns = ns;
        variants.push_back(other.xml());
    }
    variants.push_back("\xEF\xBB\xBF" + bill.xml());
    const std::string latin =
        workbook::replace_all(workbook::replace_all(bill.xml(), "ß", "\xDF"), "Ä", "\xC4");
    for (const char* enc : {"ISO-8859-1", "windows-1252", "ISO-8859-15"})
        variants.push_back(
            workbook::replace_all(latin, "encoding=\"UTF-8\"", std::string("encoding=\"") + enc + "\""));
    for (const auto& bytes : variants) {
        SCOPED_TRACE(bytes.substr(0, 120));
        auto c = convert_bytes(bytes);
        EXPECT_EQ(c.end, RunEnd::Completed);
        EXPECT_EQ(testsupport::dump_workbook(c.book()), expected);
    }
}

TEST(XmlReader, RootNameIgnoresCaseButMustBeGaeb) {
    Bill lower;
    lower.root = "gaeb";
    auto c = convert_bytes(lower.xml());
    EXPECT_EQ(c.end, RunEnd::Completed);
    EXPECT_EQ(cell(c, "Positionsteil", 9, 1), "01.0010");

    Bill other;
    other.root = "GAEBX";
    auto refused = convert_bytes(other.xml());
    EXPECT_EQ(refused.end, RunEnd::Refused);
    ASSERT_FALSE(refused.ui->messages.empty());
    EXPECT_NE(refused.ui->messages.back().find("ist keine GAEB-XML-Datei"), std::string::npos);
}

TEST(XmlReader, ExchangePhases) {
    struct Case {
        const char* phase;
        bool accepted;
    };
    for (const Case& c :
         {Case{"<DP>80</DP>", true}, Case{"<DP>84</DP>", true}, Case{"<DP>083</DP>", false},
          Case{"<DP> 83</DP>", false}, Case{"<DP>85</DP>", false}, Case{"<DP/>", false}, Case{"", false}}) {
        SCOPED_TRACE(c.phase);
        Bill bill;
        bill.phase = c.phase;
        auto conv = convert_bytes(bill.xml());
        EXPECT_EQ(conv.end, c.accepted ? RunEnd::Completed : RunEnd::Refused);
        if (!c.accepted) {
            ASSERT_EQ(conv.ui->messages.size(), 1u);
            EXPECT_EQ(conv.ui->messages[0].rfind("--- GAEB XML ---\nKann die Austauschphase von ", 0), 0u);
            EXPECT_FALSE(conv.excel->connected());
        }
    }
}

TEST(XmlReader, OzMaskFromTheBreakdown) {
    const std::string level2 = "<BoQBkdn><Type>BoQLevel</Type><Length>2</Length></BoQBkdn>";
    struct Case {
        std::string bkdn;
        const char* mask;
        const char* oz;  // of the one item, under range 1
    };
    for (const Case& c : {
             Case{level2 + level2 +
                      "<BoQBkdn><Type>Item</Type><Length>4</Length></BoQBkdn>"
                      "<BoQBkdn><Type>Index</Type><Length>1</Length></BoQBkdn>",
                  "2241", "01.00.0010"},
             Case{level2 + level2 + "<BoQBkdn><Type>item</Type><Length>4</Length></BoQBkdn>", "224",
                  "01.00.0010"},
             // An entry without Length adds nothing.
             Case{level2 + "<BoQBkdn><Type>BoQLevel</Type></BoQBkdn><BoQBkdn><Type>Item</Type><Length>3</"
                           "Length></BoQBkdn>",
                  "23", "01.010"},
             // Another element ends the breakdown.
             Case{level2 + "<Totals/><BoQBkdn><Type>Item</Type><Length>3</Length></BoQBkdn>", "2", ""},
             // Pretty-printed breakdown: white space is no node.
             Case{"\n  " + level2 + "\n  <BoQBkdn>\n <Type>Item</Type>\n <Length>3</Length>\n</BoQBkdn>\n",
                  "23", "01.010"},
         }) {
        SCOPED_TRACE(c.bkdn);
        Bill bill;
        bill.bkdn = c.bkdn;
        auto conv = convert_bytes(bill.xml());
        EXPECT_EQ(cell(conv, "Positionsteil", 5, 2), c.mask);
        EXPECT_EQ(cell(conv, "Positionsteil", 9, 1), c.oz);
    }
}

TEST(XmlReader, BreakdownWithLengthButNoTypeIsNoGaebFile) {
    Bill bill;
    bill.bkdn = "<BoQBkdn><Length>2</Length></BoQBkdn>";
    auto c = convert_bytes(bill.xml());
    // Tidied and saved, but "Vorgang abgebrochen" is no success.
    EXPECT_EQ(c.end, RunEnd::Aborted);
    ASSERT_EQ(c.ui->messages.size(), 2u);
    EXPECT_EQ(c.ui->messages[0], "Es ist keine GAEB-XML-Datei\nVorgang abgebrochen");
    EXPECT_EQ(c.book().sheet("Positionsteil").last_row(), 0);
}

TEST(XmlReader, BreakdownWithoutItemEntry) {
    Bill bill;
    bill.bkdn = "<BoQBkdn><Type>BoQLevel</Type><Length>2</Length></BoQBkdn>";
    auto c = convert_bytes(bill.xml());
    ASSERT_EQ(c.ui->messages.size(), 2u);
    EXPECT_EQ(c.ui->messages[0], "Fehler bei der Ermittlung von\n ItemLength 10\nMenge bei ID I");
    EXPECT_EQ(cell(c, "Positionsteil", 9, 1), "");
    EXPECT_EQ(cell(c, "Positionsteil", 9, 2), "*** Normalposition");
    EXPECT_EQ(cell(c, "Positionsteil", 9, 3), "");
}

TEST(XmlReader, MissingHeaderValuesStayEmpty) {
    Bill bill;
    bill.prj = "";
    auto c = convert_bytes(bill.xml());
    EXPECT_EQ(c.end, RunEnd::Completed);
    for (int row = 1; row <= 2; ++row) EXPECT_EQ(cell(c, "Positionsteil", row, 2), "");
    EXPECT_EQ(cell(c, "Positionsteil", 3, 2), "LV 1");
    EXPECT_EQ(cell(c, "Positionsteil", 4, 2), "Stadt");
}

TEST(XmlReader, ItemListDirectlyInTheTopBody) {
    Bill bill;
    bill.body =
        "<Itemlist><Item ID=\"I\" RNoPart=\"7\"><Qty>1</Qty><QU>St</QU></Item></Itemlist>"
        "<BoQCtgy ID=\"A\" RNoPart=\"1\"><LblTx><span>nie</span></LblTx></BoQCtgy>";
    workbook::ConversionOptions options;
    options.SubtotalsSheet = true;
    auto c = convert_bytes(bill.xml(), options);
    EXPECT_EQ(cell(c, "Positionsteil", 8, 1), "0007");
    // The item, then an empty row and the bill's total.
    EXPECT_EQ(cell(c, "Positionsteil", 10, 2), "Summe Leistungsverzeichnis");
    EXPECT_EQ(c.book().sheet("Positionsteil").last_row(), 10);
    EXPECT_EQ(c.book().find_sheet("Teilsummen"), nullptr);  // no subtotal: deleted when empty
}

// More than fifty categories in one body and more than 500 paragraphs in one notes text.
TEST(XmlReader, LargeBodiesAndTextsAreConvertedWhole) {
    Bill bill;
    bill.body.clear();
    std::string paragraphs;
    for (int i = 1; i <= 501; ++i) paragraphs += "<p><span>Absatz " + std::to_string(i) + "</span></p>";
    bill.body = "<Remark><Description><CompleteText><DetailTxt><Text>" + paragraphs +
                "</Text></DetailTxt></CompleteText></Description></Remark>";
    for (int i = 1; i <= 60; ++i) {
        const std::string n = std::to_string(i);
        bill.body +=
            "<BoQCtgy ID=\"C" + n + "\" RNoPart=\"" + n + "\"><LblTx><span>B" + n +
            "</span></LblTx><BoQBody><Itemlist><Item ID=\"I\" RNoPart=\"1\"><Qty>1</Qty><QU>St</QU></Item>"
            "</Itemlist></BoQBody></BoQCtgy>";
    }
    workbook::ConversionOptions options;
    options.ExportNotesText = true;
    options.SubtotalsSheet = true;
    auto c = convert_bytes(bill.xml(), options);
    ASSERT_EQ(c.end, RunEnd::Completed);
    EXPECT_EQ(cell(c, "Hinweistext", 501, 1), "Absatz 501");
    EXPECT_EQ(cell(c, "Positionsteil", 8 + 2 * 59, 2), "LV-Bereich 60. -  B60");
    EXPECT_EQ(cell(c, "Positionsteil", 9 + 2 * 59, 1), "60.0001");
    EXPECT_EQ(cell(c, "Teilsummen", 61, 1), "60. -  B60");
    EXPECT_EQ(cell(c, "Teilsummen", 63, 1), "Gesamt");
}

TEST(XmlReader, NotesWithoutDirectTopRemarkTextAreSkipped) {
    Bill bill;
    bill.body =
        "<Remark><Description><CompleteText><DetailTxt><Text><p>lose<span>s1</span><span/></p>"
        "<span>direkt</span><p><span>s2</span></p></Text></DetailTxt></CompleteText></Description></Remark>" +
        bill.body;
    workbook::ConversionOptions options;
    options.ExportNotesText = true;
    auto c = convert_bytes(bill.xml(), options);
    EXPECT_EQ(testsupport::cell_lines(c.book().sheet("Hinweistext")),
              (std::vector<std::string>{"Hinweistext!A1\tt\ts1\t", "Hinweistext!A2\tt\ts2\t"}));
}

TEST(XmlReader, HostileDocumentsEndClearly) {
    struct Case {
        std::string name;
        std::string bytes;
        RunEnd end;
        std::string message;  // start of the first message
    };
    // Categories nested far deeper than the six levels the walk goes down.
    std::string deep = "<?xml version=\"1.0\"?><GAEB><Award><DP>83</DP><BoQ><BoQInfo>";
    for (int i = 0; i < 6; ++i) deep += "<BoQBkdn><Type>BoQLevel</Type><Length>1</Length></BoQBkdn>";
    deep += "<BoQBkdn><Type>Item</Type><Length>2</Length></BoQBkdn></BoQInfo><BoQBody>";
    for (int i = 0; i < 100000; ++i) deep += "<BoQCtgy ID=\"x\" RNoPart=\"1\"><BoQBody>";
    for (int i = 0; i < 100000; ++i) deep += "</BoQBody></BoQCtgy>";
    deep += "</BoQBody></BoQ></Award></GAEB>";
    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE GAEB [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
        "\"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]><GAEB><Award><DP>83</DP></Award><x>&c;</x></GAEB>";
    const std::string external =
        "<?xml version=\"1.0\"?><!DOCTYPE GAEB [<!ENTITY x SYSTEM \"/etc/passwd\">]><GAEB><Award><DP>&x;</DP>"
        "</Award></GAEB>";
    Bill huge;
    huge.body = "<BoQCtgy ID=\"A\" RNoPart=\"" + std::string(1000000, '9') +
                "\"><BoQBody><Itemlist><Item ID=\"I\" RNoPart=\"1\"><Qty>1</Qty><QU>m</QU></Item>"
                "</Itemlist></BoQBody></BoQCtgy>";
    Bill long_length;
    long_length.bkdn =
        "<BoQBkdn><Type>BoQLevel</Type><Length>2</Length></BoQBkdn>"
        "<BoQBkdn><Type>Item</Type><Length>999999999</Length></BoQBkdn>";
    for (const Case& c : {
             Case{"deep", deep, RunEnd::Completed,
                  "6. Bereichstufe B0QCtgy vorhanden\n\nSubbereich6-Prozedur existiert nicht"},
             Case{"laughs", laughs, RunEnd::Refused,
                  "GAEB XML, Prozedur \"LoadFromFile\"\nEDOMParseError : Das Dokument "
                  "enthält eine Dokumenttypdeklaration (DOCTYPE)"},
             Case{"external", external, RunEnd::Refused,
                  "GAEB XML, Prozedur \"LoadFromFile\"\nEDOMParseError : Das "
                  "Dokument enthält eine Dokumenttypdeklaration (DOCTYPE)"},
             Case{"huge attribute", huge.xml(), RunEnd::Completed, "Konvertierung abgeschlossen."},
             // A number group is not padded to a billion digits: the item's header step fails.
             Case{"huge length", long_length.xml(), RunEnd::Completed,
                  "Fehler bei der Ermittlung von\n ItemLength 10\n"},
         }) {
        SCOPED_TRACE(c.name);
        auto conv = convert_bytes(c.bytes);
        EXPECT_EQ(conv.end, c.end);
        ASSERT_FALSE(conv.ui->messages.empty());
        EXPECT_EQ(conv.ui->messages[0].substr(0, c.message.size()), c.message);
        // The range number is a field of 100 characters.
        if (c.name == "huge attribute") {
            EXPECT_EQ(cell(conv, "Positionsteil", 9, 1), std::string(100, '9') + "0001");
        }
    }
}

}  // namespace

namespace fs = std::filesystem;

TEST(XmlSamples, EverySampleConvertsOrIsRefusedWithItsReason) {
    if (!testsupport::have_samples()) GTEST_SKIP() << "no sample folder " << testsupport::samples_dir();
    int converted = 0;
    for (const auto& entry : fs::directory_iterator(testsupport::samples_dir() / "xml")) {
        SCOPED_TRACE(entry.path().filename().string());
        workbook::ConversionOptions options;
        options.SubtotalsSheet = true;
        options.ExportNotesText = true;
        auto run = testsupport::convert_in_memory(entry.path(), options);
        if (run.end == RunEnd::Refused) {
            // Phases 85 to 89 and files without Award/DP: the dialog names the exchange phase.
            ASSERT_FALSE(run.ui->messages.empty());
            EXPECT_NE(run.ui->messages.back().find("Austauschphase"), std::string::npos)
                << run.ui->messages.back();
            continue;
        }
        EXPECT_EQ(run.end, RunEnd::Completed);
        ++converted;
    }
    EXPECT_GT(converted, 20);
}
