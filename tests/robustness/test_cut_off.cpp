// SPDX-License-Identifier: MIT
// Bills cut off, as a broken download or a full disk leaves them: real bills of every format, each
// cut inside a record, at a line end, inside an RTF group or an XML element, and right before and
// after its closing record. A GAEB 90 or GAEB 2000 bill converts what it holds and ends with 3,
// saying how many items it read; a GAEB DA XML bill is refused and says where it ends. Only a cut
// after the closing record ends as the whole bill does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/report.h"
#include "tests/support/test_support.h"
#include "workbook/finish.h"
#include "workbook/text.h"

namespace {

namespace fs = std::filesystem;

enum class Format { Gaeb90, Gaeb2000, Xml };

Format format_of(const fs::path& bill) {
    const std::string ext = workbook::to_upper_ascii(bill.extension().string());
    if (ext.starts_with(".D")) return Format::Gaeb90;
    if (ext.starts_with(".P")) return Format::Gaeb2000;
    return Format::Xml;
}

// The project's own sample bills and a few fixtures, so that the test runs everywhere, and every
// real bill beside the project when it is there.
std::vector<fs::path> bills() {
    const fs::path root = BREMORA_SOURCE_DIR;
    std::vector<fs::path> out = {
        root / "samples" / "beispiel.d83",
        root / "samples" / "beispiel.p83",
        root / "samples" / "beispiel.x83",
        testsupport::data_dir() / "gaeb90" / "angebot_summen.d84",
        testsupport::data_dir() / "gaeb90" / "hinweistext_verborgen.d83",
        testsupport::data_dir() / "gaeb2000" / "langtext_rtf.p83",
        testsupport::data_dir() / "gaeb2000" / "bereiche_drei_ebenen.p83",
        testsupport::data_dir() / "gaebxml" / "texte.x83",
    };
    if (testsupport::have_samples())
        for (const char* folder : {"gaeb90", "gaeb2000", "xml"}) {
            std::vector<fs::path> found;
            for (const auto& e : fs::directory_iterator(testsupport::samples_dir() / folder))
                if (e.is_regular_file()) found.push_back(e.path());
            std::sort(found.begin(), found.end());
            out.insert(out.end(), found.begin(), found.end());
        }
    return out;
}

struct Cut {
    std::string where;
    size_t length;       // bytes kept
    bool whole = false;  // after the closing record: the bill as a whole
};

size_t line_start(const std::string& b, size_t at) {
    const size_t nl = b.rfind('\n', at == 0 ? 0 : at - 1);
    return nl == std::string::npos ? 0 : nl + 1;
}

size_t line_end(const std::string& b, size_t at) {
    const size_t nl = b.find('\n', at);
    return nl == std::string::npos ? b.size() : nl + 1;
}

// The places to cut `b`, each in its second half (after the header, which a cut there would make
// a refused file), and around the closing record where the bill has one.
std::vector<Cut> cuts(const std::string& b, Format format) {
    std::vector<Cut> out;
    const size_t middle = line_start(b, b.size() / 2);
    const size_t middle_end = line_end(b, middle);
    if (middle_end - middle > 4) out.push_back({"in a record", middle + (middle_end - middle) / 2});
    out.push_back({"at a line end", line_end(b, b.size() * 2 / 3)});
    size_t closing = std::string::npos;
    switch (format) {
        case Format::Gaeb90:
            for (size_t at = 0; at < b.size(); at = line_end(b, at))
                if (b.compare(at, 2, "99") == 0) closing = at;
            break;
        case Format::Gaeb2000: {
            if (const size_t rtf = b.find("{\\rtf", b.size() / 3); rtf != std::string::npos)
                out.push_back({"in an RTF group", std::min(rtf + 40, b.size() - 1)});
            const size_t end = workbook::to_upper_ascii(b).rfind("#END[GAEB]");
            if (end != std::string::npos) closing = line_start(b, end);
            break;
        }
        case Format::Xml: {
            if (const size_t tag = b.find("<", b.size() / 2); tag != std::string::npos)
                out.push_back({"in an XML element", std::min(tag + 3, b.size() - 1)});
            closing = b.rfind("</");
            break;
        }
    }
    // A cut that keeps the closing record is no cut (a bill of one long line, for one).
    size_t whole_from = b.size();
    if (closing != std::string::npos && closing > 0) {
        whole_from = format == Format::Xml ? b.find('>', closing) + 1 : line_end(b, closing);
        out.push_back({"before the closing record", closing});
    }
    std::erase_if(out, [&](const Cut& c) { return c.length >= whole_from; });
    if (whole_from < b.size() || closing != std::string::npos)
        out.push_back({"after the closing record", whole_from, true});
    return out;
}

// The items a cut bill holds, counted in its text: GAEB 90 item records 21, GAEB 2000 item blocks
// complete up to their end.
int64_t items_in(const std::string& text, Format format) {
    int64_t n = 0;
    if (format == Format::Gaeb90) {
        for (size_t at = 0; at < text.size(); at = line_end(text, at))
            if (text.compare(at, 2, "21") == 0) ++n;
    } else {
        const std::string upper = workbook::to_upper_ascii(text);
        for (size_t at = upper.find("#END[POSITION]"); at != std::string::npos;
             at = upper.find("#END[POSITION]", at + 1))
            ++n;
    }
    return n;
}

struct CliReport {
    int exit_code = -1;
    std::string err;
    std::optional<app::ReportEntry> report;
};

CliReport convert(const fs::path& input) {
    const fs::path dir = testsupport::fresh_dir();
    const auto run = testsupport::run_cli(
        {input.string(), "-o", (dir / "lv.xlsx").string(), "--bericht", (dir / "bericht.json").string()});
    return {run.exit_code, run.err, app::parse_report_entry(testsupport::read_file(dir / "bericht.json"))};
}

bool said(const app::ReportEntry& report, const std::string& text) {
    return std::any_of(report.messages.begin(), report.messages.end(),
                       [&](const app::ShownMessage& m) { return m.text.find(text) != std::string::npos; });
}

TEST(CutOffBills, ConvertWhatTheyHoldAndNeverEndAsComplete) {
    const std::string cut_off = "Die Datei endet ohne Schlusssatz";
    int checked = 0;
    for (const fs::path& bill : bills()) {
        SCOPED_TRACE(bill.filename().string());
        const std::string bytes = testsupport::read_file(bill);
        const Format format = format_of(bill);
        const CliReport whole = convert(bill);
        // Bills the program does not convert (other phases) say nothing about their end.
        if (whole.exit_code == 1) continue;
        for (const Cut& cut : cuts(bytes, format)) {
            SCOPED_TRACE(cut.where + " at byte " + std::to_string(cut.length));
            const std::string text = bytes.substr(0, cut.length);
            const fs::path input = testsupport::fresh_dir() / bill.filename();
            testsupport::write_file(input, text);
            const CliReport run = convert(input);
            ASSERT_TRUE(run.report) << run.err;
            if (cut.whole) {
                EXPECT_EQ(run.exit_code, whole.exit_code) << run.err;
                continue;
            }
            ++checked;
            if (format == Format::Xml) {
                EXPECT_EQ(run.exit_code, 1) << run.err;
                EXPECT_NE(run.err.find("Die Datei endet zu früh (Zeile "), std::string::npos) << run.err;
                continue;
            }
            EXPECT_EQ(run.exit_code, 3) << run.err;
            const int64_t items = items_in(text, format);
            const std::string note = workbook::cut_off_note(items);
            EXPECT_NE(run.err.find(note), std::string::npos) << note << "\n" << run.err;
            EXPECT_EQ(run.report->items, items);
            EXPECT_EQ(run.report->status, 3);
            EXPECT_TRUE(said(*run.report, note));
            // Said once, at the end: only the closing message comes after it.
            EXPECT_EQ(run.err.find(cut_off), run.err.rfind(cut_off)) << run.err;
        }
    }
    EXPECT_GT(checked, 15);
}

// A whole bill says nothing about its end; a GAEB 90 bill cut off lists the note below its faulty
// lines, where that sheet is kept, and does not count it as one of them.
TEST(CutOffBills, TheFaultyLinesSheetCarriesTheNote) {
    const std::string bill =
        testsupport::read_file(testsupport::data_dir() / "gaeb90" / "fehlerhafte_saetze.d81");
    const size_t closing = bill.rfind("\n99") + 1;
    const fs::path input = testsupport::fresh_dir() / "lv.d81";
    testsupport::write_file(input, bill.substr(0, closing));
    const CliReport run = convert(input);
    ASSERT_TRUE(run.report) << run.err;
    EXPECT_EQ(run.exit_code, 3) << run.err;
    const CliReport whole = convert(testsupport::data_dir() / "gaeb90" / "fehlerhafte_saetze.d81");
    ASSERT_TRUE(whole.report) << whole.err;
    EXPECT_EQ(whole.err.find("Die Datei endet ohne Schlusssatz"), std::string::npos) << whole.err;
    EXPECT_EQ(run.report->faulty_lines, whole.report->faulty_lines);
}

}  // namespace
