// SPDX-License-Identifier: MIT
// A converted bill as an estimator prints and prices it, read back by independent readers:
// openpyxl for the page setup, the footer, the outline and the total row; LibreOffice and
// pdftotext for the printout itself.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "workbook/text.h"

namespace {

namespace fs = std::filesystem;

// The lines of an xlsx_dump keyed by what stands before their first tab ("Positionsteil!F24").
struct Dump {
    std::map<std::string, std::string> lines;
    std::vector<std::string> order;

    explicit Dump(const std::string& text) {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            const size_t tab = line.find('\t');
            if (tab == std::string::npos) continue;
            lines[line.substr(0, tab)] = line.substr(tab + 1);
            order.push_back(line.substr(0, tab));
        }
    }
    std::string operator[](const std::string& key) const {
        const auto it = lines.find(key);
        return it == lines.end() ? std::string() : it->second;
    }
    // Field `n` (0-based) of a cell line: kind, value, cached result of a formula, styles.
    std::string field(const std::string& key, size_t n) const {
        std::string rest = (*this)[key];
        for (size_t i = 0; i < n; ++i) {
            const size_t tab = rest.find('\t');
            if (tab == std::string::npos) return {};
            rest = rest.substr(tab + 1);
        }
        return rest.substr(0, rest.find('\t'));
    }
    // A cell's number: its value, or a formula's cached result.
    std::optional<double> number(const std::string& key) const {
        const std::string kind = field(key, 0);
        const std::string text = kind == "n" ? field(key, 1) : kind == "f" ? field(key, 2) : "";
        if (text.empty()) return std::nullopt;
        return std::strtod(text.c_str(), nullptr);
    }
    // Rows of Positionsteil from 8 on with an ordinal number in column A.
    std::vector<int> item_rows() const {
        std::vector<int> rows;
        for (const std::string& key : order) {
            if (!key.starts_with("Positionsteil!A")) continue;
            const int row = std::atoi(key.c_str() + std::string("Positionsteil!A").size());
            if (row >= 8) rows.push_back(row);
        }
        return rows;
    }
    // The value beside the header label `label` in column A of rows 1 to 5, blanks removed.
    std::string header(const std::string& label) const {
        for (int row = 1; row <= 5; ++row)
            if (field("Positionsteil!A" + std::to_string(row), 1) == label)
                return std::string(workbook::trim_ctl(field("Positionsteil!B" + std::to_string(row), 1)));
        return {};
    }
};

fs::path convert_with_cli(const fs::path& input, const std::vector<std::string>& options = {}) {
    const fs::path out = testsupport::fresh_dir() / "lv.xlsx";
    std::vector<std::string> args{input.string(), "-o", out.string(), "--regelungen=nein"};
    args.insert(args.end(), options.begin(), options.end());
    const auto run = testsupport::run_cli(args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return out;
}

// Every sheet on A4, Positionsteil one page wide, the bill's name in the footer and as the title,
// "+" on the item row, and below the rows the bill's total, whose stored result is the sum of the
// item totals.
TEST(Printout, SavedBillIsReadyToPrintAndPrice) {
    std::vector<std::pair<std::string, fs::path>> bills = {
        {"GAEB 90", testsupport::data_dir() / "gaeb90" / "kalkulation.d83"},
        {"GAEB 2000", testsupport::data_dir() / "gaeb2000" / "angebot.p84"},
        {"GAEB DA XML", testsupport::data_dir() / "gaebxml" / "positionsarten.x83"},
    };
    const auto generated = testsupport::generate_bill("xml", "--items 300 --phase 83");
    ASSERT_TRUE(generated);
    bills.emplace_back("generated", *generated);
    for (const auto& [what, input] : bills) {
        SCOPED_TRACE(what);
        const Dump dump(testsupport::xlsx_dump(convert_with_cli(input, {"--teilsummen"})));
        const std::string name = dump.header("LV-Bezeichnung:");
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(dump["#properties"], "title=" + name + " | subject=Leistungsverzeichnis");
        EXPECT_NE(dump["Positionsteil!print"].find("orientation=landscape paper=9 fit=1x0 "),
                  std::string::npos)
            << dump["Positionsteil!print"];
        EXPECT_NE(dump["Teilsummen!print"].find("paper=9"), std::string::npos) << dump["Teilsummen!print"];
        const std::string footer =
            "left=" + workbook::replace_all(name, "&", "&&") + " | right=Seite &P von &N";
        EXPECT_EQ(dump["Positionsteil!footer"], footer);
        EXPECT_EQ(dump["Teilsummen!footer"], footer);
        EXPECT_EQ(dump["Positionsteil!outline"], "summary=above");

        // The total row is the sheet's last row, below the last item.
        const std::vector<int> items = dump.item_rows();
        ASSERT_FALSE(items.empty());
        int total_row = 0, last_row = 0;
        for (const std::string& key : dump.order) {
            if (!key.starts_with("Positionsteil!") || key.find(':') != std::string::npos) continue;
            const size_t digits = key.find_first_of("0123456789");
            if (digits == std::string::npos) continue;
            const int row = std::atoi(key.c_str() + digits);
            last_row = std::max(last_row, row);
            if (dump.field(key, 1) == "Summe Leistungsverzeichnis") total_row = row;
        }
        ASSERT_GT(total_row, items.back());
        EXPECT_EQ(total_row, last_row);
        const std::string total = "Positionsteil!F" + std::to_string(total_row);
        ASSERT_EQ(dump.field(total, 0), "f") << dump[total];
        EXPECT_TRUE(dump.field(total, 1).starts_with("=SUM($F$8:$F$")) << dump[total];
        EXPECT_NE(dump.field(total, 3).find("bold"), std::string::npos);
        double sum = 0;
        for (const int item : items) sum += dump.number("Positionsteil!F" + std::to_string(item)).value_or(0);
        ASSERT_TRUE(dump.number(total));
        EXPECT_NEAR(*dump.number(total), sum, 1e-9 * std::max(1.0, std::fabs(sum)));
    }
}

// A GAEB 90 bill of phase 82 writes only the OZ of its items: there is no total to sum.
TEST(Printout, NoTotalRowWhereTheItemsCarryNoTotals) {
    const auto bill = testsupport::generate_bill("90", "--items 40 --phase 82");
    ASSERT_TRUE(bill);
    const std::string dump = testsupport::xlsx_dump(convert_with_cli(*bill));
    EXPECT_NE(dump.find("Positionsteil!A10\ts\t"), std::string::npos) << dump.substr(0, 2000);
    EXPECT_EQ(dump.find("Summe Leistungsverzeichnis"), std::string::npos);
    EXPECT_NE(dump.find("Positionsteil!col:F\twidth=12 "), std::string::npos);
    EXPECT_NE(dump.find("Positionsteil!print\torientation=landscape paper=9 fit=1x0 "), std::string::npos);
}

bool have_program(const char* name) {
    return std::system((std::string("command -v ") + name + " > /dev/null 2>&1").c_str()) == 0;
}

int run(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// "1,234.57" as LibreOffice shows #,###,##0.00 in an English locale.
std::string money(double value) {
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.2f", std::fabs(value));
    std::string whole(digits, std::string(digits).find('.'));
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ',';
        grouped += whole[i];
    }
    return (value < 0 ? "-" : "") + grouped + (digits + whole.size());
}

// A real-sized bill printed to PDF by LibreOffice: every page A4, the caption row with all six
// printed columns on each page, and the first item's OZ, quantity, unit, unit price and total on
// one line of one page.
TEST(Printout, PdfShowsEveryColumnOnEveryPage) {
    if (!have_program("soffice") || !have_program("pdftotext") || !have_program("pdfinfo"))
        GTEST_SKIP() << "LibreOffice (soffice) oder poppler-utils fehlt";
    const auto bill = testsupport::generate_bill("xml", "--items 400 --phase 83");
    ASSERT_TRUE(bill);
    const fs::path xlsx = convert_with_cli(*bill);
    const Dump dump(testsupport::xlsx_dump(xlsx));

    // A profile of its own (other runs may use LibreOffice meanwhile) and an English locale.
    const fs::path dir = xlsx.parent_path();
    const std::string q = "'";
    ASSERT_EQ(run("cd " + q + dir.string() + q + " && env LC_ALL=C.UTF-8 LANG=C.UTF-8 HOME=" + q +
                  dir.string() + q + " timeout 300 soffice -env:UserInstallation=file://" +
                  (dir / "profile").string() + " --headless --norestore --convert-to pdf --outdir " + q +
                  dir.string() + q + " lv.xlsx" + " > soffice.txt 2>&1"),
              0)
        << testsupport::read_file(dir / "soffice.txt");
    ASSERT_EQ(run("pdftotext -layout " + q + (dir / "lv.pdf").string() + q + " " + q +
                  (dir / "lv.txt").string() + q + " && pdfinfo -f 1 -l 1000 " + q +
                  (dir / "lv.pdf").string() + q + " > " + q + (dir / "info.txt").string() + q),
              0);

    std::vector<std::vector<std::string>> pages(1);
    {
        std::istringstream in(testsupport::read_file(dir / "lv.txt"));
        std::string line;
        while (std::getline(in, line)) {
            size_t feed;
            while ((feed = line.find('\f')) != std::string::npos) {
                pages.back().push_back(line.substr(0, feed));
                pages.emplace_back();
                line = line.substr(feed + 1);
            }
            pages.back().push_back(line);
        }
        while (!pages.empty() && pages.back().size() <= 1 &&
               (pages.back().empty() || pages.back()[0].empty()))
            pages.pop_back();
    }
    ASSERT_GT(pages.size(), 5u);
    const std::string info = testsupport::read_file(dir / "info.txt");
    size_t a4 = 0;
    for (size_t at = 0; (at = info.find("(A4)", at)) != std::string::npos; ++at) ++a4;
    EXPECT_EQ(a4, pages.size()) << info;

    for (size_t p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE("page " + std::to_string(p + 1));
        bool captions = false, footer = false;
        for (const std::string& line : pages[p]) {
            captions = captions || (line.find("Ordnungszahl") != std::string::npos &&
                                    line.find("Menge") < line.find("G-Preis") &&
                                    line.find("G-Preis") != std::string::npos);
            footer = footer || line.find("Seite " + std::to_string(p + 1) + " von " +
                                         std::to_string(pages.size())) != std::string::npos;
        }
        EXPECT_TRUE(captions);
        EXPECT_TRUE(footer);
    }

    const int first = dump.item_rows().front();
    const std::string r = std::to_string(first);
    const std::string oz = dump.field("Positionsteil!A" + r, 1);
    char quantity[64];
    std::snprintf(quantity, sizeof quantity, "%.3f", dump.number("Positionsteil!C" + r).value_or(-1));
    const std::vector<std::string> wanted = {oz, quantity, dump.field("Positionsteil!D" + r, 1),
                                             money(dump.number("Positionsteil!E" + r).value_or(-1)),
                                             money(dump.number("Positionsteil!F" + r).value_or(-1))};
    std::string found;
    for (const auto& page : pages)
        for (const std::string& line : page)
            if (found.empty() && line.find(oz) != std::string::npos) found = line;
    ASSERT_FALSE(found.empty()) << oz;
    size_t at = 0;
    for (const std::string& w : wanted) {
        const size_t next = found.find(w, at);
        EXPECT_NE(next, std::string::npos) << "\"" << w << "\" in: " << found;
        if (next != std::string::npos) at = next + w.size();
    }
}

}  // namespace
