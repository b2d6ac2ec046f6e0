// SPDX-License-Identifier: MIT
// The save of the workbook as a phase of its own in the progress display.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/console_frontend.h"
#include "tests/support/test_support.h"
#include "workbook/xlsx/xlsx_writer.h"

namespace {

using workbook::ProgressKind;
using workbook::SaveDisplay;

// Everything the console wrote to its stream.
std::string written(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    return out;
}

// Nothing is shown before the save reports; then the status, a bar in percent that follows every
// report, and its removal when the save is over.
TEST(SaveProgress, ShownFromTheFirstReportUntilTheSaveIsOver) {
    workbook::RecordingFrontend ui;
    {
        SaveDisplay shown(ui);
        EXPECT_TRUE(ui.events.empty());
        shown(3, 1000);
        shown(400, 1000);
        EXPECT_EQ(ui.progress_max, 1000);
        EXPECT_EQ(ui.progress_pos, 400);
    }
    EXPECT_EQ(ui.events, (std::vector<std::string>{"status: Arbeitsmappe wird gespeichert",
                                                   "progress: percent 1000", "progress: finish"}));
    workbook::RecordingFrontend quiet;
    { SaveDisplay unused(quiet); }
    EXPECT_TRUE(quiet.events.empty());
}

// On a terminal the line reads "Arbeitsmappe wird gespeichert … 40 % – 0 Min : 0 Sek" after the
// conversion's own line has gone, and is cleared when the save is over.
TEST(SaveProgress, ConsoleLineShowsThePercentage) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    {
        app::ConsoleFrontend ui(out, false, false, true);
        ui.progress_start(ProgressKind::Bar, 10);
        ui.progress_position(10);
        ui.elapsed_stop();
        ui.progress_finish();
        SaveDisplay shown(ui);
        shown(0, 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));  // the line is redrawn 5 times a second
        shown(400, 1000);
    }
    const std::string text = written(out);
    std::fclose(out);
    EXPECT_NE(text.find("\r\033[KArbeitsmappe wird gespeichert … 0 % – 0 Min : 0 Sek"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\r\033[KArbeitsmappe wird gespeichert … 40 % – 0 Min : 0 Sek"), std::string::npos)
        << text;
    EXPECT_TRUE(text.ends_with("\r\033[K")) << text;
}

// A whole save drives the display to its end.
TEST(SaveProgress, RealSaveReachesTheEnd) {
    auto run = testsupport::convert_in_memory(testsupport::data_dir() / "gaeb90" / "kalkulation.d83");
    workbook::RecordingFrontend ui;
    {
        SaveDisplay shown(ui);
        workbook::xlsx::save(*run.excel, run.book(), testsupport::fresh_dir() / "lv.xlsx",
                             workbook::xlsx::Existing::Keep, shown);
        EXPECT_EQ(ui.progress_pos, ui.progress_max);
        EXPECT_EQ(ui.progress_max, workbook::xlsx::kSaveSteps);
    }
    EXPECT_EQ(ui.events.back(), "progress: finish");
}

}  // namespace
