// SPDX-License-Identifier: MIT
#include "tests/robustness/robustness_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace robustness {

std::filesystem::path fixture(const std::string& name) {
    return std::filesystem::path(BREMORA_TEST_DATA) / "robustness" / name;
}

std::filesystem::path big_gaeb90(size_t min_bytes) {
    const std::string sample =
        testsupport::read_file(std::filesystem::path(BREMORA_SOURCE_DIR) / "samples" / "beispiel.d83");
    // The items of the first group: from its first 21 record up to the next group record.
    const size_t first = sample.find("\n21") + 1;
    const size_t next_group = std::min(sample.find("\n11", first), sample.find("\n31", first)) + 1;
    const std::string items = sample.substr(first, next_group - first);
    std::string bill = sample.substr(0, first);
    while (bill.size() < min_bytes) bill += items;
    bill += sample.substr(next_group);
    const auto path = testsupport::fresh_dir() / "gross.d83";
    testsupport::write_file(path, bill);
    return path;
}

void default_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(sig, SIG_DFL);
        sigaddset(&set, sig);
    }
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

pid_t start_cli(const std::filesystem::path& temp, const std::vector<std::string>& args,
                const std::filesystem::path& logs) {
    const std::string out = (logs / "stdout.txt").string(), err = (logs / "stderr.txt").string();
    std::string program = BREMORA_CLI;
    std::vector<std::string> copy = args;
    std::vector<char*> argv{program.data()};
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in_fd = ::open("/dev/null", O_RDONLY);
        const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0) std::_Exit(126);
        ::dup2(in_fd, 0);
        ::dup2(out_fd, 1);
        ::dup2(err_fd, 2);
        ::setenv("TMPDIR", temp.c_str(), 1);
        default_signals();
        ::execv(program.c_str(), argv.data());
        std::_Exit(127);
    }
    return pid;
}

int wait_cli(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

testsupport::CliRun run_cli_in(const std::filesystem::path& temp, const std::vector<std::string>& args) {
    const auto logs = testsupport::fresh_dir();
    testsupport::CliRun run;
    run.exit_code = wait_cli(start_cli(temp, args, logs));
    run.out = testsupport::read_file(logs / "stdout.txt");
    run.err = testsupport::read_file(logs / "stderr.txt");
    return run;
}

std::vector<std::string> leftover_copies(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("bremora-", 0) == 0 && entry.path().extension() == ".tmp") names.push_back(name);
    }
    return names;
}

}  // namespace robustness
