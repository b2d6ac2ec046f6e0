// SPDX-License-Identifier: MIT
// Helpers of the robustness tests: generated bills, console runs with their own temporary
// folder, and the temporary copies a run may leave behind.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace robustness {

// A bill made by gaebgen (format "90", "2000" or "xml") in a fresh folder; nullopt when the
// generator cannot run here.
std::optional<std::filesystem::path> generate(const std::string& format,
                                              const std::vector<std::string>& args);

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
