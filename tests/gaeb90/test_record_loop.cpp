// SPDX-License-Identifier: MIT
// The opening scan, the record loop and its dispatch, faulty records, contractual rules and the
// ways a run ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "gaeb90/gaeb90.h"
#include "tests/gaeb90/records.h"
#include "workbook/layout.h"

using namespace gaeb90test;
using workbook::RunEnd;

namespace {

const std::string kHeader = opening("83", "1122PPPPI") + rec("03", {{3, "Stadt Oberbrück"}});

workbook::ConversionOptions no_log() {
    workbook::ConversionOptions o;
    o.LogFaultyLines = false;
    return o;
}

// The reader alone, on a stream, as the controller would call it.
struct Direct : testsupport::LayoutRun {
    explicit Direct(workbook::ConversionOptions options = {})
        : LayoutRun(workbook::GaebFormat::Gaeb90, options) {}
    RunEnd end() const { return reading.end; }
    void run(std::istream& in) { gaeb90::sa0(reading, in); }
    void run(const std::string& text) {
        std::istringstream in(text);
        run(in);
    }
};

// A stream that delivers `good` and then fails like a broken disk.
class FailingBuffer : public std::streambuf {
public:
    explicit FailingBuffer(std::string good) : m_good(std::move(good)) {
        setg(m_good.data(), m_good.data(), m_good.data() + m_good.size());
    }

protected:
    int_type underflow() override { throw std::ios_base::failure("Lesefehler"); }

private:
    std::string m_good;
};

}  // namespace

TEST(RecordLoop, TypesWithoutHandlerAreLoggedAndTheNextLineIsReadNormally) {
    // Each faulty line is followed by a short text, which must land in the rows one after another.
    struct Case {
        std::string line;    // as it stands in the file (without CR LF)
        std::string logged;  // as it appears on "Fehlerhafte Zeilen"
    };
    const Case cases[] = {
        {"05Satzart ohne Verarbeitung", "05Satzart ohne Verarbeitung"},
        {"22 0101", "22 0101"},
        {"30", "30"},
        {"1 Ziffer und Leerzeichen", "1 Ziffer und Leerzeichen"},  // "1 " is no number
        {"XYBuchstaben", "XYBuchstaben"},
        {"", ""},                          // an empty line
        {"00        83", "00        83"},  // a second opening record
        {"-1", "-1"},
        {"\x9A"
         "berschrift",
         "Überschrift"},
        {std::string(100, '7'), std::string(80, '7')},  // cut to 80 characters
    };
    std::string input = kHeader;
    for (const auto& c : cases) input += c.line + "\r\n" + short_text("danach");
    input += rec("99") + rec("05 nach dem Schlusssatz", {}, false);

    Bill run = convert(input);
    EXPECT_EQ(run.conv.end, RunEnd::Completed);
    std::vector<std::string> expected;
    for (const auto& c : cases) expected.push_back(c.logged);
    expected.push_back("05 nach dem Schlusssatz");
    EXPECT_EQ(run.column("Fehlerhafte Zeilen", 1, 1), expected);
    EXPECT_EQ(run.column("Positionsteil", 2, 8), std::vector<std::string>(std::size(cases), "danach"));
    // The faulty lines are reported before the completion.
    ASSERT_GE(run.messages().size(), 2u);
    EXPECT_EQ(
        run.messages()[run.messages().size() - 2],
        "Es wurden fehlerhafte Sätze in der Quelldatei gefunden.\rSie sind in der Tabelle \"Fehlerhafte "
        "Zeilen\" aufgelistet.");
}

TEST(RecordLoop, SkippedTypesAndLeadingBlankTypeNumbers) {
    std::string input = opening();
    for (const char* type : {"04", "06", "07", "08", "10", "27", "28", "32", "33", "34", "35",
                             "41", "42", "45", "46", "47", "79", "99", "T0", "T1", "T9"})
        input += rec(type, {{3, "nichts"}});
    input += rec(" 2", {{3, "Projekt"}});  // a blank and the digit 2: record 02
    Bill run = convert(input);
    EXPECT_EQ(run.conv.end, RunEnd::Completed);
    EXPECT_FALSE(run.has_sheet("Fehlerhafte Zeilen"));  // created, and deleted when empty
    EXPECT_FALSE(run.has_sheet("Regelungen"));
    EXPECT_EQ(run.cell("Positionsteil", "B1"), "t Projekt");
    EXPECT_EQ(run.messages(),
              std::vector<std::string>{"Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet."});
}

TEST(RecordLoop, FaultyRecordWithoutLoggingAbortsAndKeepsWhatWasWritten) {
    Bill run =
        convert(kHeader + short_text("vorher") + rec("22", {{3, "0101"}}) + short_text("nachher"), no_log());
    EXPECT_EQ(run.conv.end, RunEnd::Aborted);
    EXPECT_EQ(run.messages().front(),
              "OrdForCase-Fehler.\nZeile 4: Satzart <22> nicht im gültigen Bereich.\rDas Programm wird "
              "abgebrochen.");
    EXPECT_EQ(run.column("Positionsteil", 2, 8), std::vector<std::string>{"vorher"});
    EXPECT_FALSE(run.has_sheet("Fehlerhafte Zeilen"));
}

TEST(RecordLoop, ReadErrorEndsTheRunWithCaseFehler) {
    Direct d;
    FailingBuffer buffer(kHeader + short_text("gelesen"));
    std::istream in(&buffer);
    d.run(in);
    EXPECT_EQ(d.end(), RunEnd::Aborted);
    ASSERT_FALSE(d.ui.messages.empty());
    EXPECT_EQ(
        d.ui.messages.back(),
        "Case-Fehler.\rZeile 3: Satzart <25> nicht im gültigen Bereich.\rDas Programm wird abgebrochen.");
    EXPECT_FALSE(d.excel.connected());
    EXPECT_EQ(d.excel.result()->sheet("Positionsteil").text(8, 2), "gelesen");
}

TEST(OpeningScan, ContractualRulesQuestionAtTheFirstT0Only) {
    // T1 before the first T0 is not written; a quote in column 73 stays as it is.
    const std::string rules = rec("T1", {{3, "vor T0"}}) + rec("T0") +
                              rec("T1", {{3, "Es gilt die VOB/B."}}) + rec("T9") + rec("T0") +
                              rec("T1", {{3, "Frist"}, {73, "\""}}) + rec("XX Müll");
    Bill yes = convert(rules + opening() + rec("T1", {{3, "nach 00"}}), {}, {true});
    EXPECT_EQ(yes.conv.end, RunEnd::Completed);
    EXPECT_EQ(
        std::count_if(yes.conv.ui->events.begin(), yes.conv.ui->events.end(),
                      [](const std::string& e) {
                          return e ==
                                 "ask: Sätze mit s.g. vertraglichen Regelungen gefunden.\rSollen sie mit "
                                 "exportiert werden?";
                      }),
        1);
    EXPECT_EQ(
        yes.column("Regelungen", 1, 1),
        (std::vector<std::string>{"Es gilt die VOB/B.", "Frist" + std::string(65, ' ') + "\"", "nach 00"}));
    EXPECT_EQ(yes.book().sheets_in_tab_order().front()->name(), "Regelungen");
    EXPECT_FALSE(yes.has_sheet("Fehlerhafte Zeilen"));  // lines before record 00 are never faulty

    Bill no = convert(rules + opening(), {}, {false});
    EXPECT_FALSE(no.has_sheet("Regelungen"));

    // Rules after record 00: no question, no sheet.
    Bill late = convert(opening() + rec("T0") + rec("T1", {{3, "spät"}}), {}, {true});
    EXPECT_FALSE(late.has_sheet("Regelungen"));
    for (const auto& e : late.conv.ui->events) EXPECT_NE(e.rfind("ask:", 0), 0u) << e;
}

TEST(OpeningScan, EndsWithoutOpeningRecordOrWithAnUnsupportedPhase) {
    Direct none;
    none.run(rec("01", {{3, "kein Eröffnungssatz"}}) + rec("T0"));
    EXPECT_EQ(none.end(), RunEnd::Refused);
    EXPECT_EQ(none.ui.messages,
              std::vector<std::string>{"Kann den Eröffnungssatz \"00\" nicht finden.\nProgrammabbruch."});

    Direct empty;
    empty.run("");
    EXPECT_EQ(empty.end(), RunEnd::Refused);

    // The controller refuses such a file already; the reader checks again.
    Direct phase;
    phase.run(opening("85") + item("01010010", "NNN"));
    EXPECT_EQ(phase.end(), RunEnd::Refused);
    EXPECT_EQ(phase.ui.messages,
              std::vector<std::string>{
                  "Die Austauschphase wird nicht unterstützt.\rSatzart: 00, Austauschphase: 85"});
}

TEST(OpeningScan, OnlyTheOpeningRecordGivesAnEmptyCompletedWorkbook) {
    Bill run = convert(opening());
    EXPECT_EQ(run.conv.end, RunEnd::Completed);
    EXPECT_EQ(run.book().sheet("Positionsteil").last_row(), 0);
}

TEST(RecordLoop, FullPositionsSheetEndsTheRunOnce) {
    // More short-text lines than a sheet has rows: one report, then the run ends.
    class ManyLines : public std::streambuf {
    public:
        explicit ManyLines(std::string head, std::string line, int64_t count)
            : m_head(std::move(head)), m_line(std::move(line)), m_left(count) {
            setg(m_head.data(), m_head.data(), m_head.data() + m_head.size());
        }

    protected:
        int_type underflow() override {
            if (m_left-- <= 0) return traits_type::eof();
            setg(m_line.data(), m_line.data(), m_line.data() + m_line.size());
            return traits_type::to_int_type(m_line[0]);
        }

    private:
        std::string m_head, m_line;
        int64_t m_left;
    };
    ManyLines lines(opening(), "25x\r\n", workbook::kMaxRow + 5);
    std::istream in(&lines);
    Direct d;
    d.run(in);
    EXPECT_EQ(d.end(), RunEnd::Aborted);
    EXPECT_EQ(d.ui.messages,
              (std::vector<std::string>{
                  "Prozedur sa25\n\nZeile 1048571: EWorkbookError : Ungültige Zellposition: Zeile 1048577, "
                  "Spalte 2",
                  "Das Tabellenblatt \"Positionsteil\" ist voll (1048576 Zeilen).\nDie Konvertierung wird "
                  "abgebrochen."}));
    EXPECT_EQ(d.excel.result()->sheet("Positionsteil").text(workbook::kMaxRow, 2), "x");
}
