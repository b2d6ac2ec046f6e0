// SPDX-License-Identifier: MIT
// Helpers of the robustness tests: a big bill, console runs with their own temporary
// folder, and the temporary copies a run may leave behind.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace robustness {

// A file of tests/data/robustness.
std::filesystem::path fixture(const std::string& name);

// A GAEB 90 bill of at least `min_bytes`: the bundled sample with the items of its first group
// repeated.
std::filesystem::path big_gaeb90(size_t min_bytes);

// In a child about to become the console program: SIGINT, SIGTERM and SIGHUP as a terminal gives
// them (not ignored, not blocked), whatever the test runner was started with.
void default_signals();

// Starts the console program with TMPDIR set to `temp`; stdout and stderr go to files in `logs`.
pid_t start_cli(const std::filesystem::path& temp, const std::vector<std::string>& args,
                const std::filesystem::path& logs);
// Waits for a started run; the exit code, or 128 + the signal that ended it.
int wait_cli(pid_t pid);

// start_cli and wait_cli in one, with the run's stdout and stderr.
testsupport::CliRun run_cli_in(const std::filesystem::path& temp, const std::vector<std::string>& args);

// Names of the "bremora-*.tmp" files in `folder`.
std::vector<std::string> leftover_copies(const std::filesystem::path& folder);

}  // namespace robustness
