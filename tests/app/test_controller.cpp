// SPDX-License-Identifier: MIT
// Format detection, the GAEB 90 normalised copy and the refusals of the start button.
#include <gtest/gtest.h>

#include "app/controller.h"
#include "tests/support/test_support.h"
#include "workbook/layout.h"

namespace {

// Runs the controller on `content` with a temporary folder of its own.
struct Detection {
    workbook::ExcelSession excel;
    workbook::RecordingFrontend ui;
    std::filesystem::path temp;
    std::unique_ptr<app::ConversionController> controller;
    workbook::RunEnd end = workbook::RunEnd::Running;

    explicit Detection(std::string_view content) {
        const auto dir = testsupport::fresh_dir();
        temp = dir / "tmp";
        std::filesystem::create_directories(temp);
        testsupport::write_file(dir / "input.gaeb", content);
        excel.Connect();
        workbook::PrepareWorkbook(excel, ui);
        controller = std::make_unique<app::ConversionController>(
            excel, ui, workbook::StartupValues{temp, "#,###,##0.00", "#######0.000"});
        end = controller->run(dir / "input.gaeb", {});
    }
    bool temp_empty() const { return std::filesystem::is_empty(temp); }
};

}  // namespace

TEST(Controller, DetectsTaggedFormatsByTheFirstLine) {
    struct Case {
        std::string content;
        workbook::GaebFormat expected;
    };
    for (const Case& c : {Case{"#begin[GAEB]\r\n", workbook::GaebFormat::Gaeb2000},
                          Case{"#BEGIN[gaeb]\n", workbook::GaebFormat::Gaeb2000},
                          Case{"\xEF\xBB\xBF#begin[GAEB]\r\n", workbook::GaebFormat::Gaeb2000},
                          Case{std::string("\xFF\xFE#\0b\0e\0g\0i\0n\0[\0G\0A\0E\0B\0]\0\r\0\n\0", 30),
                               workbook::GaebFormat::Gaeb2000},
                          Case{"<?xml version=\"1.0\"?><GAEB/>", workbook::GaebFormat::Xml},
                          Case{"<?XML VERSION=\"1.0\"?> #begin[GAEB]", workbook::GaebFormat::Xml}}) {
        SCOPED_TRACE(c.content);
        Detection d(c.content);
        EXPECT_EQ(d.controller->GaebFormat(), c.expected);
        EXPECT_TRUE(d.temp_empty());  // no copy for the tagged formats
    }
}

TEST(Controller, UnrecognisedInputIsToldAndLeavesNoCopy) {
    // The XML declaration must stand on the first line.
    Detection d("\n<?xml version=\"1.0\"?><GAEB/>");
    EXPECT_EQ(d.controller->GaebFormat(), workbook::GaebFormat::None);
    EXPECT_EQ(d.end, workbook::RunEnd::Refused);
    ASSERT_EQ(d.ui.messages.size(), 1u);
    EXPECT_NE(d.ui.messages[0].find("ist keine GAEB-Datei"), std::string::npos);
    EXPECT_TRUE(d.temp_empty());
}

TEST(Controller, RefusedExchangePhases) {
    struct Case {
        std::string content;
        const char* message;
    };
    for (const Case& c :
         {Case{"00        85          \r\n", "Die Austauschphase 85wird nicht unterstützt!"},
          Case{"00        8X\r\n", "Die Austauschphase 8Xwird nicht unterstützt!"},
          Case{"00\r\n", "Die Austauschphase wird nicht unterstützt!"},
          Case{"00        83\r\n00        86\r\n", "Die Austauschphase 86wird nicht unterstützt!"}}) {
        SCOPED_TRACE(c.content);
        Detection d(c.content);
        EXPECT_TRUE(d.controller->PhaseRefused());
        EXPECT_EQ(d.end, workbook::RunEnd::Refused);
        ASSERT_FALSE(d.ui.messages.empty());
        EXPECT_EQ(d.ui.messages.back(), c.message);
        EXPECT_TRUE(d.temp_empty());
    }
}

TEST(Controller, Gaeb90CopyIsHandedToTheReaderAndRemovedAfterwards) {
    Detection d("00        83                                                    1122PPPP\n01Bill\n");
    EXPECT_EQ(d.controller->GaebFormat(), workbook::GaebFormat::Gaeb90);
    EXPECT_FALSE(d.controller->PhaseRefused());
    EXPECT_TRUE(d.temp_empty());
}

TEST(Controller, TempFolderFromTheSystemPath) {
    EXPECT_EQ(app::MacheDirName("/tmp//"), "/tmp");
    EXPECT_EQ(app::MacheDirName("C:\\Temp\\\\"), "C:\\Temp");
    EXPECT_EQ(app::MacheDirName(""), ".");
}

TEST(Controller, NormalisedCopyCutsLinesAndEndsThemWithCrLf) {
    const std::string long_line = "26" + std::string(118, 'x');
    const std::string input = "00        83\n25kurz\r\n" + long_line + "\nmit\rCR\n99";
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    const app::NormalisedCopy r = app::normalise_gaeb90(in, out);
    EXPECT_TRUE(r.gaeb90);
    EXPECT_EQ(r.lines, 5);
    std::rewind(out);
    std::string copy(4096, '\0');
    copy.resize(std::fread(copy.data(), 1, copy.size(), out));
    EXPECT_EQ(copy, "00        83\r\n25kurz\r\n" + long_line.substr(0, 80) + "\r\nmitCR\r\n99\r\n");
    std::fclose(in);
    std::fclose(out);
}

// A bill with CR line ends only (classic Mac) keeps its records apart instead of becoming one line.
TEST(Controller, NormalisedCopyOfABillWithCrLineEnds) {
    const std::string input = "00        83\r25kurz\r26lang\r99\r";
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    const app::NormalisedCopy r = app::normalise_gaeb90(in, out);
    EXPECT_TRUE(r.gaeb90);
    EXPECT_EQ(r.lines, 4);
    std::rewind(out);
    std::string copy(4096, '\0');
    copy.resize(std::fread(copy.data(), 1, copy.size(), out));
    EXPECT_EQ(copy, "00        83\r\n25kurz\r\n26lang\r\n99\r\n");
    std::fclose(in);
    std::fclose(out);
}
