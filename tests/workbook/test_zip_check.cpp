// SPDX-License-Identifier: MIT
// The read-back of a finished workbook: archives that are whole pass, and every way a part can
// come out incomplete (cut short, a stretch lost, empty, zero-filled, missing, bit-flipped) is
// told apart from a whole one.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/reference/zip_part.h"
#include "tests/support/test_support.h"
#include "workbook/xlsx/zip_check.h"

namespace {

using testsupport::read_zip_part;
using testsupport::rewrite_zip_part;
using workbook::xlsx::check_zip;
using workbook::xlsx::ZipExpectation;

struct Part {
    std::string name;
    std::string data;
    bool deflate = true;
    int crc_offset = 0;  // added to the true CRC, to falsify it
};

void put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
}
void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

std::string deflated(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A zip archive as minizip writes one: local headers with sizes, then the directory.
std::string zip(const std::vector<Part>& parts) {
    std::string out, directory;
    for (const Part& p : parts) {
        const std::string packed = p.deflate ? deflated(p.data) : p.data;
        const auto crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(p.data.data()), static_cast<uInt>(p.data.size())) +
            static_cast<uLong>(p.crc_offset));
        const auto offset = static_cast<uint32_t>(out.size());
        const uint16_t method = p.deflate ? 8 : 0;
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, 0);
        put16(out, method);
        put32(out, 0);
        put32(out, crc);
        put32(out, static_cast<uint32_t>(packed.size()));
        put32(out, static_cast<uint32_t>(p.data.size()));
        put16(out, static_cast<uint32_t>(p.name.size()));
        put16(out, 0);
        out += p.name + packed;
        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, 0);
        put16(directory, method);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, static_cast<uint32_t>(packed.size()));
        put32(directory, static_cast<uint32_t>(p.data.size()));
        put16(directory, static_cast<uint32_t>(p.name.size()));
        for (int i = 0; i < 4; ++i) put16(directory, 0);
        put32(directory, 0);
        put32(directory, offset);
        directory += p.name;
    }
    const auto directory_at = static_cast<uint32_t>(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(parts.size()));
    put16(out, static_cast<uint32_t>(parts.size()));
    put32(out, static_cast<uint32_t>(directory.size()));
    put32(out, directory_at);
    put16(out, 0);
    return out;
}

const std::string kSheet =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
    "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Pos &amp; Text</t></is></c><c r=\"B1\" s=\"1\"/></row>"
    "<row r=\"2\"><c r=\"E2\"><f>ROUND(G2*H2,2)</f><v>22.99</v></c></row>"
    "</sheetData><pageMargins left='0.7' right=\"0.7\"/></worksheet>";
const std::string kTypes = "<?xml version=\"1.0\"?><Types><Default Extension=\"xml\"/></Types>";

TEST(ZipCheck, WholeArchivesPassAndEveryIncompletePartIsFound) {
    const std::string sheet_start = kSheet.substr(0, kSheet.find("<row r=\"2\""));
    const std::string sheet_end = kSheet.substr(kSheet.find("</sheetData>"));
    std::string zero_filled = kSheet;
    zero_filled.replace(kSheet.find("<row r=\"2\""), 20, std::string(20, '\0'));
    struct Case {
        const char* what;
        std::vector<Part> parts;
        std::string fault;  // empty: the archive is whole
    };
    const std::vector<Case> cases = {
        {"whole, deflated", {{"[Content_Types].xml", kTypes}, {"xl/worksheets/sheet1.xml", kSheet}}, ""},
        {"whole, stored",
         {{"[Content_Types].xml", kTypes, false}, {"xl/worksheets/sheet1.xml", kSheet, false}},
         ""},
        {"cut inside a cell",
         {{"[Content_Types].xml", kTypes},
          {"xl/worksheets/sheet1.xml", kSheet.substr(0, kSheet.find("<v>"))}},
         "xl/worksheets/sheet1.xml: bricht in <c> ab"},
        {"a row lost between start and end",
         {{"[Content_Types].xml", kTypes}, {"xl/worksheets/sheet1.xml", sheet_start + sheet_end}},
         "xl/worksheets/sheet1.xml: 2 statt 3 Zellen"},
        {"rows cut, end appended",
         {{"[Content_Types].xml", kTypes},
          {"xl/worksheets/sheet1.xml", kSheet.substr(0, kSheet.find("<f>") + 4) + sheet_end}},
         "xl/worksheets/sheet1.xml: </sheetData> schließt <f>"},
        {"zero-filled stretch",
         {{"[Content_Types].xml", kTypes}, {"xl/worksheets/sheet1.xml", zero_filled}},
         "xl/worksheets/sheet1.xml: Nullbyte"},
        {"empty part",
         {{"[Content_Types].xml", kTypes}, {"xl/worksheets/sheet1.xml", ""}},
         "xl/worksheets/sheet1.xml: leer"},
        {"missing part", {{"[Content_Types].xml", kTypes}}, "xl/worksheets/sheet1.xml fehlt"},
        {"checksum",
         {{"[Content_Types].xml", kTypes}, {"xl/worksheets/sheet1.xml", kSheet, true, 1}},
         "xl/worksheets/sheet1.xml: Prüfsumme falsch"},
    };
    ZipExpectation expected;
    expected.parts["[Content_Types].xml"] = -1;
    expected.parts["xl/worksheets/sheet1.xml"] = 3;
    const auto dir = testsupport::fresh_dir();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::write_file(dir / "mappe.xlsx", zip(c.parts));
        const auto check = check_zip(dir / "mappe.xlsx", expected);
        EXPECT_EQ(check.ok, c.fault.empty());
        EXPECT_EQ(check.fault, c.fault);
        EXPECT_EQ(check.read_error, 0);
    }

    // The archive itself cut short: at its end, or inside a deflated part.
    const std::string whole = zip({{"[Content_Types].xml", kTypes}, {"xl/worksheets/sheet1.xml", kSheet}});
    testsupport::write_file(dir / "mappe.xlsx", whole.substr(0, whole.size() - 10));
    EXPECT_EQ(check_zip(dir / "mappe.xlsx", expected).fault, "kein Zip-Verzeichnis");
    std::string flipped = whole;
    flipped[whole.find("xl/worksheets/sheet1.xml") + 30] ^= 0x55;
    testsupport::write_file(dir / "mappe.xlsx", flipped);
    EXPECT_FALSE(check_zip(dir / "mappe.xlsx", expected).ok);
    EXPECT_EQ(check_zip(dir / "fehlt.xlsx", expected).fault, "nicht lesbar");
}

// One part written anew in place, stored or deflated, first, in the middle or last: longer and
// shorter than before, the parts after it moved, the archive whole and every other part unchanged.
TEST(ZipPart, RewritesOnePartInPlaceAndMovesThoseAfterIt) {
    const std::string app = "<Properties><Application>Microsoft Excel</Application></Properties>";
    const std::vector<Part> parts = {{"[Content_Types].xml", kTypes},
                                     {"docProps/app.xml", app, false},
                                     {"xl/worksheets/sheet1.xml", kSheet}};
    ZipExpectation expected;
    for (const Part& p : parts) expected.parts[p.name] = -1;
    const auto dir = testsupport::fresh_dir();
    const auto file = dir / "mappe.xlsx";
    for (const Part& target : parts) {
        for (const std::string& text :
             {target.data + "<!-- ein längerer Inhalt als vorher -->", std::string("<x/>")}) {
            SCOPED_TRACE(target.name + " -> " + text.substr(0, 20));
            testsupport::write_file(file, zip(parts));
            std::string before;
            const auto edit = rewrite_zip_part(file, target.name, [&](std::string_view old) {
                before = old;
                return text;
            });
            ASSERT_TRUE(edit.ok) << edit.fault;
            EXPECT_EQ(before, target.data);
            const auto check = check_zip(file, expected);
            EXPECT_TRUE(check.ok) << check.fault;
            for (const Part& p : parts)
                EXPECT_EQ(read_zip_part(file, p.name), p.name == target.name ? text : p.data);
        }
    }
    // What it cannot rewrite it leaves as it was, and says why.
    testsupport::write_file(file, zip(parts));
    const auto missing =
        rewrite_zip_part(file, "docProps/core.xml", [](std::string_view) { return std::string(); });
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.fault, "docProps/core.xml fehlt");
    testsupport::write_file(file, zip({{"docProps/app.xml", app, true, 1}}));
    EXPECT_EQ(
        rewrite_zip_part(file, "docProps/app.xml", [](std::string_view) { return std::string(); }).fault,
        "docProps/app.xml: Prüfsumme falsch");
    EXPECT_EQ(testsupport::read_file(file), zip({{"docProps/app.xml", app, true, 1}}));
    EXPECT_EQ(rewrite_zip_part(dir / "fehlt.xlsx", "docProps/app.xml",
                               [](std::string_view) { return std::string(); })
                  .error,
              ENOENT);
}

}  // namespace
