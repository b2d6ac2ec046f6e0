// SPDX-License-Identifier: MIT
// Conversions running at the same time in one temporary folder: each gives the workbook it gives
// alone, and no run leaves its GAEB 90 copy behind, whether it completes, aborts or is killed.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <thread>

#include "tests/robustness/robustness_support.h"

namespace {

struct Bill {
    std::string file;  // below the source folder
    std::vector<std::string> options;
};

// Four GAEB 90 bills, so that several copies share the temporary folder, and two of each other
// format.
const std::vector<Bill> kBills = {
    {"samples/beispiel.d83", {}},
    {"tests/data/gaeb90/kalkulation.d83", {"--hinweistext", "--teilsummen"}},
    {"tests/data/gaeb90/angebot.d84", {"--regelungen=ja"}},
    {"tests/data/gaeb90/fehlerhafte_saetze.d81", {}},
    {"samples/beispiel.p83", {"--teilsummen"}},
    {"tests/data/gaeb2000/hinweise.p83", {"--hinweistext"}},
    {"samples/beispiel.x83", {"--hinweistext", "--nur-kurztexte"}},
    {"tests/data/gaebxml/angebot.x84", {}},
};

std::vector<std::string> arguments(const std::filesystem::path& input, const std::filesystem::path& output,
                                   const std::vector<std::string>& options) {
    std::vector<std::string> args{input.string()};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"-o", output.string()});
    return args;
}

TEST(ParallelRuns, EightAtOnceGiveTheirSingleRunWorkbooks) {
    const auto dir = testsupport::fresh_dir();
    const auto temp = dir / "tmp";
    std::filesystem::create_directories(temp);

    std::vector<std::filesystem::path> inputs;
    for (const Bill& bill : kBills) inputs.push_back(std::filesystem::path(BREMORA_SOURCE_DIR) / bill.file);

    std::vector<std::string> alone;
    for (size_t i = 0; i < kBills.size(); ++i) {
        const auto output = dir / ("alone" + std::to_string(i) + ".xlsx");
        const auto run = robustness::run_cli_in(temp, arguments(inputs[i], output, kBills[i].options));
        ASSERT_EQ(run.exit_code, 0) << "bill " << i << "\n" << run.err;
        alone.push_back(testsupport::xlsx_dump(output));
    }

    std::vector<pid_t> pids;
    std::vector<std::filesystem::path> logs;
    for (size_t i = 0; i < kBills.size(); ++i) {
        logs.push_back(testsupport::fresh_dir());
        const auto output = dir / ("together" + std::to_string(i) + ".xlsx");
        pids.push_back(
            robustness::start_cli(temp, arguments(inputs[i], output, kBills[i].options), logs.back()));
    }
    for (size_t i = 0; i < pids.size(); ++i)
        EXPECT_EQ(robustness::wait_cli(pids[i]), 0) << "bill " << i << "\n"
                                                    << testsupport::read_file(logs[i] / "stderr.txt");
    for (size_t i = 0; i < kBills.size(); ++i)
        EXPECT_EQ(testsupport::xlsx_dump(dir / ("together" + std::to_string(i) + ".xlsx")), alone[i])
            << "bill " << i;

    EXPECT_EQ(robustness::leftover_copies(temp), std::vector<std::string>{});
}

TEST(ParallelRuns, AbortedRunRemovesItsCopy) {
    const auto temp = testsupport::fresh_dir();
    const auto input = robustness::fixture("g90_badrecord.d83");
    const auto output = testsupport::fresh_dir() / "lv.xlsx";
    // Without the faulty-lines sheet the first faulty record ends the run.
    const auto run =
        robustness::run_cli_in(temp, {input.string(), "--ohne-fehlerprotokoll", "-o", output.string()});
    EXPECT_EQ(run.exit_code, 3) << run.err;
    EXPECT_NE(run.err.find("Die Konvertierung wurde abgebrochen."), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::exists(output));
    EXPECT_EQ(robustness::leftover_copies(temp), std::vector<std::string>{});
}

TEST(ParallelRuns, KilledRunRemovesItsCopy) {
    const auto temp = testsupport::fresh_dir();
    // Big enough to be still reading when the signal comes.
    const auto input = robustness::big_gaeb90(size_t{30} << 20);
    const auto logs = testsupport::fresh_dir();
    const pid_t pid = robustness::start_cli(temp, {input.string(), "-o", (logs / "lv.xlsx").string()}, logs);

    // Wait for the copy to appear, then let the run go on for a moment.
    bool copy_seen = false;
    for (int i = 0; i < 3000 && !copy_seen; ++i) {
        copy_seen = !robustness::leftover_copies(temp).empty();
        if (!copy_seen) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, SIGTERM);
    const int exit_code = robustness::wait_cli(pid);
    if (!copy_seen) std::cout << "note: the run ended before its copy was seen\n";
    if (exit_code != 128 + SIGTERM)
        std::cout << "note: the run had ended before SIGTERM (" << exit_code << ")\n";
    EXPECT_TRUE(exit_code == 128 + SIGTERM || exit_code == 0) << testsupport::read_file(logs / "stderr.txt");
    EXPECT_EQ(robustness::leftover_copies(temp), std::vector<std::string>{});
}

}  // namespace
