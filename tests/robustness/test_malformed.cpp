// SPDX-License-Identifier: MIT
// Damaged and hostile input of all three formats through the console program: each file ends
// with its own exit status and a German message, never with a crash, and a refused file leaves
// no workbook and no temporary copy behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/robustness/robustness_support.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kComplete = 0;
constexpr int kRefused = 1;
constexpr int kAborted = 3;

// The bundled sample bill of each format, read once.
const std::string& base(const std::string& format) {
    static std::map<std::string, std::string> bills;
    auto it = bills.find(format);
    if (it == bills.end()) {
        const std::string extension = format == "90" ? "d83" : format == "2000" ? "p83" : "x83";
        const auto path = std::filesystem::path(BREMORA_SOURCE_DIR) / "samples" / ("beispiel." + extension);
        it = bills.emplace(format, testsupport::read_file(path)).first;
    }
    return it->second;
}

std::string cut(const std::string& bytes, double fraction) {
    return bytes.substr(0, static_cast<size_t>(static_cast<double>(bytes.size()) * fraction));
}

std::string flipped(std::string bytes, unsigned seed, int count) {
    std::mt19937 rng(seed);
    for (int i = 0; i < count && !bytes.empty(); ++i) {
        const size_t at = rng() % bytes.size();
        bytes[at] = static_cast<char>(bytes[at] ^ static_cast<char>(1 + rng() % 255));
    }
    return bytes;
}

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (auto& c : out) c = static_cast<char>(rng() & 0xff);
    return out;
}

// Replaces the first occurrence of `from`; the case fails when the bill has no such text.
std::string replaced(std::string bytes, const std::string& from, const std::string& to) {
    const size_t at = bytes.find(from);
    if (at == std::string::npos) {
        ADD_FAILURE() << "the bill has no " << from;
        return bytes;
    }
    return bytes.replace(at, from.size(), to);
}

// Overwrites columns first..first+text.size()-1 (1-based) of the first line of `type`.
std::string g90_columns(std::string bytes, const std::string& type, size_t first, const std::string& text) {
    size_t at = bytes.rfind(type, 0) == 0 ? 0 : bytes.find("\n" + type);
    if (at == std::string::npos) {
        ADD_FAILURE() << "the bill has no record " << type;
        return bytes;
    }
    if (at != 0) ++at;
    return bytes.replace(at + first - 1, text.size(), text);
}

std::string utf16le(const std::string& ascii) {
    std::string out = "\xff\xfe";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string repeat(const std::string& piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

const std::string kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
const std::string k2000Head = "#begin[GAEB]\r\n";

struct Case {
    std::string name;
    std::string extension;
    std::function<std::string()> make;  // large inputs are made only when their case runs
    int exit_code;
    std::string message;  // a German text the run must print on stderr
};

std::function<std::string()> from_base(const std::string& format,
                                       std::function<std::string(const std::string&)> damage) {
    return [format, damage] { return damage(base(format)); };
}

std::function<std::string()> literal(std::string bytes) {
    return [bytes] { return bytes; };
}

// What the team's generator makes with --corrupt MODE, kept in tests/data/robustness
// (gaebgen FORMAT --items 10 --notes --seed 1 --corrupt MODE).
std::function<std::string()> corrupted(const std::string& file) {
    return [file] { return testsupport::read_file(robustness::fixture(file)); };
}

// Messages the console prints at the end of a run.
const std::string kDone = "Konvertierung abgeschlossen.";
// A bill without its closing record is converted as far as it goes, and the run says so.
const std::string kCutOff = "Die Datei endet ohne Schlusssatz: sie ist möglicherweise unvollständig.";
const std::string kAbortedText = "Die Konvertierung wurde abgebrochen.";
const std::string kNoFormat = "ist keine GAEB-Datei.";
const std::string kXmlLoad = "GAEB XML, Prozedur \"LoadFromFile\"";
// An XML document cut off is refused, in plain words.
const std::string kXmlCutOff = "Die Datei endet zu früh (Zeile ";
const std::string kPhaseUnknown = "Kann die Austauschphase von ";
const std::string kPhase85 = "Die Austauschphase 85wird nicht unterstützt!";

std::vector<Case> cases() {
    return {
        // Files without any recognisable content.
        {"empty", "d83", literal(""), kRefused, "ist leer (0 Bytes)"},
        {"only_utf8_bom", "d83", literal("\xef\xbb\xbf"), kRefused, kNoFormat},
        {"only_utf16_bom", "x83", literal("\xff\xfe"), kRefused, kNoFormat},
        {"binary_4k", "d83", literal(random_bytes(4096, 7)), kRefused, kNoFormat},
        {"binary_with_nul_lines", "d83", literal(repeat(std::string("\0\0\r\n", 4), 500)), kRefused,
         kNoFormat},
        {"single_line_20mb", "d83", [] { return std::string(20u << 20, 'A'); }, kRefused, kNoFormat},

        // GAEB 90.
        {"g90_cut_in_record_00", "d83", from_base("90", [](const std::string& b) { return b.substr(0, 11); }),
         kRefused, "Die Austauschphase 8wird nicht unterstützt!"},
        {"g90_cut_10", "d83", from_base("90", [](const std::string& b) { return cut(b, 0.1); }), kAborted,
         kCutOff},
        {"g90_cut_50", "d83", from_base("90", [](const std::string& b) { return cut(b, 0.5); }), kAborted,
         kCutOff},
        {"g90_cut_97", "d83", from_base("90", [](const std::string& b) { return cut(b, 0.97); }), kAborted,
         kCutOff},
        {"g90_flip_a", "d83", from_base("90", [](const std::string& b) { return flipped(b, 1, 40); }),
         kComplete, kDone},
        {"g90_flip_b", "d83", from_base("90", [](const std::string& b) { return flipped(b, 2, 400); }),
         kComplete, kDone},
        {"g90_phase_letters", "d83",
         from_base("90", [](const std::string& b) { return g90_columns(b, "00", 11, "8x"); }), kRefused,
         "Austauschphase"},
        {"g90_phase_blank", "d83",
         from_base("90", [](const std::string& b) { return g90_columns(b, "00", 11, "  "); }), kRefused,
         "Austauschphase"},
        {"g90_quantity_all_nines", "d83",
         from_base("90", [](const std::string& b) { return g90_columns(b, "21", 24, "99999999999"); }),
         kComplete, kDone},
        {"g90_quantity_letters", "d83",
         from_base("90", [](const std::string& b) { return g90_columns(b, "21", 24, "1e999x-+.,"); }),
         kComplete, kDone},
        {"g90_price_all_nines", "d83",
         from_base(
             "90",
             [](const std::string& b) { return g90_columns(b, "23", 12, "-9999999999999999999999999"); }),
         kComplete, kDone},
        {"g90_mask_garbage", "d83",
         from_base("90", [](const std::string& b) { return g90_columns(b, "00", 63, "ZZ\x01\xff?9PPP"); }),
         kComplete, kDone},
        {"g90_mask_too_long", "d83",
         from_base("90", [](const std::string& b) { return g90_columns(b, "00", 63, "111111111"); }),
         kComplete, kDone},
        {"g90_lf_only", "d83",
         from_base("90",
                   [](const std::string& b) {
                       std::string s;
                       for (char c : b)
                           if (c != '\r') s += c;
                       return s;
                   }),
         kComplete, kDone},
        {"g90_cr_only", "d83",
         from_base("90",
                   [](const std::string& b) {
                       // Classic Mac line ends: CR alone ends each record.
                       std::string s;
                       for (char c : b)
                           if (c != '\n') s += c;
                       return s;
                   }),
         kComplete, kDone},
        {"g90_utf16", "d83", from_base("90", [](const std::string& b) { return utf16le(b.substr(0, 2000)); }),
         kRefused, kNoFormat},
        {"g90_long_record_20mb", "d83",
         from_base("90",
                   [](const std::string& b) {
                       return b.substr(0, 82) + "25" + std::string(20u << 20, 'x') + "\r\n" + b.substr(82);
                   }),
         kComplete, kDone},
        {"g90_text_record_without_item", "d83",
         literal("00        83                                                  11PPPP            \r\n"
                 "26   Langtext ohne Position\r\n25Kurztext ohne Position\r\n24  \r\n23\r\n31\r\n99\r\n"),
         kComplete, kDone},
        {"g90_only_closing_records", "d83",
         literal("00        83                                                  11PPPP            \r\n" +
                 repeat("31\r\n11\r\n", 2000)),
         kAborted, kCutOff},
        {"g90_corrupt_truncate", "d83", corrupted("g90_truncate.d83"), kAborted, kCutOff},
        {"g90_corrupt_flip", "d83", corrupted("g90_flip.d83"), kComplete, kDone},
        {"g90_corrupt_phase", "d85", corrupted("g90_phase.d85"), kRefused, kPhase85},
        {"g90_corrupt_badrecord", "d83", corrupted("g90_badrecord.d83"), kComplete, kDone},

        // GAEB 2000.
        {"g2000_only_first_line", "p83", literal(k2000Head), kRefused, "Austauschphase"},
        {"g2000_bom_first_line", "p83", literal("\xef\xbb\xbf" + k2000Head), kRefused, "Austauschphase"},
        {"g2000_cut_before_phase", "p83",
         from_base("2000", [](const std::string& b) { return b.substr(0, b.find("[DP]")); }), kRefused,
         "Austauschphase"},
        {"g2000_cut_50", "p83", from_base("2000", [](const std::string& b) { return cut(b, 0.5); }), kAborted,
         kCutOff},
        {"g2000_cut_in_rtf", "p83",
         from_base("2000", [](const std::string& b) { return b.substr(0, b.find("\\pard") + 8); }), kAborted,
         kCutOff},
        {"g2000_flip_first_line", "p83",
         from_base("2000",
                   [](std::string b) {
                       for (size_t i = 1; i < 12; i += 2) b[i] = static_cast<char>(b[i] ^ 0x55);
                       return b;
                   }),
         kRefused, kNoFormat},
        {"g2000_flip_body", "p83",
         from_base("2000",
                   [](const std::string& b) { return b.substr(0, 14) + flipped(b.substr(14), 3, 60); }),
         kComplete, kDone},
        {"g2000_phase_letters", "p83",
         from_base("2000", [](const std::string& b) { return replaced(b, "[DP]83", "[DP]8x"); }), kRefused,
         "Austauschphase"},
        {"g2000_quantity_huge", "p83",
         from_base("2000", [](const std::string& b) { return replaced(b, "[Menge]", "[Menge]1e400"); }),
         kComplete, kDone},
        {"g2000_price_huge", "p83",
         from_base("2000",
                   [](const std::string& b) {
                       return replaced(b, "[EP]", "[EP]-" + std::string(400, '9') + ",99x");
                   }),
         kComplete, kDone},
        {"g2000_mask_length_huge", "p83",
         from_base("2000",
                   [](const std::string& b) { return replaced(b, "[Laenge]2", "[Laenge]2147483647"); }),
         kComplete, kDone},
        {"g2000_mask_length_negative", "p83",
         from_base("2000", [](const std::string& b) { return replaced(b, "[Laenge]2", "[Laenge]-5"); }),
         kComplete, kDone},
        {"g2000_no_end_blocks", "p83",
         from_base("2000",
                   [](const std::string& b) {
                       std::string s;
                       size_t from = 0;
                       for (size_t at; (at = b.find("#end[", from)) != std::string::npos;) {
                           s += b.substr(from, at - from);
                           from = b.find('\n', at) + 1;
                       }
                       return s + b.substr(from);
                   }),
         kAborted, kCutOff},
        {"g2000_only_end_blocks", "p83",
         literal(k2000Head + "[DP]83[end]\r\n" + repeat("#end[LVBereich]\r\n", 1000) + "#end[GAEB]\r\n"),
         kComplete, kDone},
        {"g2000_deep_blocks", "p83",
         [] {
             return k2000Head + "#begin[VergabeInfo]\r\n[DP]83[end]\r\n#end[VergabeInfo]\r\n#begin[LV]\r\n" +
                    repeat("#begin[LVBereich]\r\n[OZ]01[end]\r\n", 100000) +
                    repeat("#end[LVBereich]\r\n", 100000) + "#end[LV]\r\n#end[GAEB]\r\n";
         },
         kComplete, kDone},
        {"g2000_rtf_braces_deep", "p83",
         from_base("2000",
                   [](const std::string& b) {
                       return replaced(
                           b, "[Langtext]{",
                           "[Langtext]" + std::string(100000, '{') + "x" + std::string(100000, '}') + "{");
                   }),
         kComplete, kDone},
        {"g2000_rtf_unbalanced", "p83",
         from_base("2000",
                   [](const std::string& b) {
                       return replaced(b, "[Langtext]{",
                                       "[Langtext]{{{{{\\'\\u-99999999999?{\\bin999999999999 ");
                   }),
         kComplete, kDone},
        {"g2000_rtf_closing_only", "p83",
         from_base("2000",
                   [](const std::string& b) { return replaced(b, "[Langtext]{", "[Langtext]}}}}}\\'f"); }),
         kComplete, kDone},
        {"g2000_key_without_end_20mb", "p83",
         from_base("2000",
                   [](const std::string& b) {
                       return replaced(b, "[Kurztext]", "[Kurztext]" + std::string(20u << 20, 'y'));
                   }),
         kComplete, kDone},
        {"g2000_utf8_bom_cp1252_body", "p83",
         from_base("2000", [](const std::string& b) { return "\xef\xbb\xbf" + b; }), kComplete, kDone},
        {"g2000_utf16", "p83", from_base("2000", [](const std::string& b) { return utf16le(b); }), kComplete,
         kDone},
        {"g2000_corrupt_truncate", "p83", corrupted("g2000_truncate.p83"), kAborted, kCutOff},
        {"g2000_corrupt_flip", "p83", corrupted("g2000_flip.p83"), kAborted, kCutOff},
        {"g2000_corrupt_phase", "p85", corrupted("g2000_phase.p85"), kRefused, kPhaseUnknown},
        {"g2000_corrupt_noend", "p83", corrupted("g2000_noend.p83"), kComplete, kDone},

        // GAEB DA XML.
        {"xml_only_declaration", "x83", literal(kXmlHead), kRefused, kXmlLoad},
        {"xml_cut_10", "x83", from_base("xml", [](const std::string& b) { return cut(b, 0.1); }), kRefused,
         kXmlCutOff},
        {"xml_cut_60", "x83", from_base("xml", [](const std::string& b) { return cut(b, 0.6); }), kRefused,
         kXmlCutOff},
        {"xml_cut_last_byte", "x83",
         from_base("xml", [](const std::string& b) { return b.substr(0, b.size() - 3); }), kRefused,
         kXmlCutOff},
        {"xml_flip", "x83", from_base("xml", [](const std::string& b) { return flipped(b, 4, 3); }), kRefused,
         kXmlLoad},
        {"xml_binary_after_declaration", "x83", literal(kXmlHead + random_bytes(4096, 9)), kRefused,
         kXmlLoad},
        {"xml_deep_elements", "x83",
         [] { return kXmlHead + "<GAEB>" + repeat("<a>", 100000) + repeat("</a>", 100000) + "</GAEB>"; },
         kRefused, kPhaseUnknown},
        {"xml_deep_ranges", "x83",
         from_base("xml",
                   [](const std::string& b) {
                       return replaced(b, "<BoQBody>",
                                       "<BoQBody>" + repeat("<BoQCtgy RNoPart=\"1\"><BoQBody>", 100000) +
                                           repeat("</BoQBody></BoQCtgy>", 100000));
                   }),
         kComplete, kDone},
        {"xml_unclosed_root", "x83", literal(kXmlHead + "<GAEB><Award><DP>83</DP>"), kRefused, kXmlCutOff},
        {"xml_wrong_root", "x83", literal(kXmlHead + "<Ausschreibung><DP>83</DP></Ausschreibung>"), kRefused,
         "ist keine GAEB-XML-Datei"},
        {"xml_declared_utf16", "x83",
         from_base(
             "xml",
             [](const std::string& b) { return replaced(b, "encoding=\"UTF-8\"", "encoding=\"UTF-16\""); }),
         kComplete, kDone},
        {"xml_unknown_encoding", "x83",
         from_base("xml",
                   [](const std::string& b) {
                       return replaced(b, "encoding=\"UTF-8\"", "encoding=\"x-klingon\"");
                   }),
         kRefused, kXmlLoad},
        {"xml_invalid_utf8_text", "x83",
         from_base("xml",
                   [](const std::string& b) {
                       return replaced(b, "<span>", "<span>\xc3\x28\xff\xfe\xed\xa0\x80");
                   }),
         kComplete, kDone},
        {"xml_quantity_huge", "x83",
         from_base("xml", [](const std::string& b) { return replaced(b, "<Qty>", "<Qty>1e999"); }), kComplete,
         kDone},
        {"xml_price_huge", "x83",
         from_base("xml",
                   [](const std::string& b) { return replaced(b, "<UP>", "<UP>-" + std::string(400, '9')); }),
         kComplete, kDone},
        {"xml_rnopart_long", "x83",
         from_base("xml",
                   [](const std::string& b) {
                       return replaced(b, "RNoPart=\"", "RNoPart=\"" + std::string(5000, '9'));
                   }),
         kComplete, kDone},
        {"xml_mask_length_huge", "x83",
         from_base("xml",
                   [](const std::string& b) {
                       return replaced(b, "<Type>Item</Type><Length>4",
                                       "<Type>Item</Type><Length>2147483647");
                   }),
         kComplete, kDone},
        {"xml_entity_expansion", "x83",
         literal(kXmlHead +
                 "<!DOCTYPE GAEB [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
                 "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]><GAEB><Award><DP>83</DP><BoQ><BoQInfo>"
                 "<LblBoQ>&c;&c;&c;&c;</LblBoQ></BoQInfo></BoQ></Award></GAEB>"),
         kRefused, "Dokumenttypdeklaration"},
        {"xml_line_20mb", "x83",
         from_base("xml",
                   [](const std::string& b) {
                       return replaced(b, "<span>", "<span>" + std::string(20u << 20, 'z'));
                   }),
         kComplete, kDone},
        {"xml_corrupt_truncate", "x83", corrupted("xml_truncate.x83"), kRefused, kXmlCutOff},
        {"xml_corrupt_flip", "x83", corrupted("xml_flip.x83"), kRefused, kXmlLoad},
        {"xml_corrupt_phase", "x85", corrupted("xml_phase.x85"), kRefused,
         "--- GAEB XML ---\nDie Austauschphase 85 von "},
        {"xml_corrupt_unbalanced", "x83", corrupted("xml_unbalanced.x83"), kRefused, kXmlLoad},
    };
}

// Keeps gtest from printing the whole case as bytes.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class Malformed : public ::testing::TestWithParam<Case> {};

TEST_P(Malformed, EndsWithItsStatusAndAGermanMessage) {
    const Case& c = GetParam();
    const std::string bytes = c.make();

    const auto dir = testsupport::fresh_dir();
    const auto temp = dir / "tmp";
    std::filesystem::create_directories(temp);
    const auto input = dir / ("lv." + c.extension);
    const auto output = dir / "lv.xlsx";
    testsupport::write_file(input, bytes);

    const auto run = robustness::run_cli_in(temp, {input.string(), "-o", output.string()});
    EXPECT_LT(run.exit_code, 128) << "crashed\n" << run.err;
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << "stderr:\n" << run.err;
    EXPECT_EQ(std::filesystem::exists(output), c.exit_code != kRefused) << run.err;
    EXPECT_EQ(robustness::leftover_copies(temp), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Corpus, Malformed, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& param) { return param.param.name; });

}  // namespace
