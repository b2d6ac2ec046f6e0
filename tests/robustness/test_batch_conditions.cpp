// SPDX-License-Identifier: MIT
// Several inputs under hostile conditions: too little memory for the batch or for its
// conversions, a report that cannot be written once the conversions are done, an unreadable
// folder, file names that are no UTF-8, a conversion or the batch itself killed with SIGKILL.
// Each ends with one clear message and an exit status that does not say success falsely, and
// leaves nothing behind: no temporary file, no temporary folder, no process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/robustness/robustness_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

fs::path sample(const std::string& extension) {
    return fs::path(BREMORA_SOURCE_DIR) / "samples" / ("beispiel." + extension);
}

// How a console run is started beyond its arguments.
struct Launch {
    fs::path temp;                        // TMPDIR; empty: the test's own
    rlim_t memory_limit = RLIM_INFINITY;  // RLIMIT_AS
    std::string standard_output;          // a file to write standard output to; empty: a log
    bool as_nobody = false;               // as root: run as nobody, so that permissions count
};

Launch in_temp(const fs::path& temp, rlim_t memory_limit = RLIM_INFINITY) {
    Launch launch;
    launch.temp = temp;
    launch.memory_limit = memory_limit;
    return launch;
}
Launch as_nobody() {
    Launch launch;
    launch.as_nobody = true;
    return launch;
}
Launch output_to(const std::string& file) {
    Launch launch;
    launch.standard_output = file;
    return launch;
}

struct Started {
    pid_t pid = -1;
    fs::path out, err;
};

Started start(const std::vector<std::string>& args, const Launch& launch) {
    const fs::path logs = testsupport::fresh_dir();
    fs::permissions(logs, fs::perms::all);
    Started s{-1, logs / "stdout.txt", logs / "stderr.txt"};
    const std::string out = launch.standard_output.empty() ? s.out.string() : launch.standard_output;
    std::string program = launch.as_nobody ? testsupport::cli_for_other_users() : std::string(BREMORA_CLI);
    std::vector<std::string> copy = args;
    std::vector<char*> argv{program.data()};
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    s.pid = ::fork();
    if (s.pid == 0) {
        const int in_fd = ::open("/dev/null", O_RDONLY);
        const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err_fd = ::open(s.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0) std::_Exit(126);
        ::dup2(in_fd, 0);
        ::dup2(out_fd, 1);
        ::dup2(err_fd, 2);
        for (int fd : {in_fd, out_fd, err_fd})
            if (fd > 2) ::close(fd);
        if (!launch.temp.empty()) ::setenv("TMPDIR", launch.temp.c_str(), 1);
        robustness::default_signals();
        const rlimit limit{launch.memory_limit, launch.memory_limit};
        ::setrlimit(RLIMIT_AS, &limit);
        if (launch.as_nobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            std::_Exit(125);
        ::execv(program.c_str(), argv.data());
        std::_Exit(127);
    }
    return s;
}

testsupport::CliRun finish(const Started& s) {
    testsupport::CliRun run;
    run.exit_code = robustness::wait_cli(s.pid);
    run.out = testsupport::read_file(s.out);
    run.err = testsupport::read_file(s.err);
    return run;
}

testsupport::CliRun run(const std::vector<std::string>& args, const Launch& launch = {}) {
    return finish(start(args, launch));
}

// Names below `folder`, folders with a trailing "/"; empty when it does not exist.
std::vector<std::string> tree(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(fs::relative(it->path(), folder).string() + (it->is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Every part of the archive reads back with its checksum (Python's zipfile, independent of ours).
bool whole_zip(const fs::path& file) {
    const std::string command =
        "/usr/bin/python3 -c 'import sys, zipfile; "
        "sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' '" +
        file.string() + "'";
    return std::system(command.c_str()) == 0;
}

// Processes whose command line contains `marker`.
std::vector<pid_t> processes_naming(const std::string& marker) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline = testsupport::read_file(entry.path() / "cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (cmdline.find(marker) != std::string::npos) found.push_back(std::stoi(name));
    }
    return found;
}

template <class F>
bool wait_until(F&& done, std::chrono::seconds limit = std::chrono::seconds(120)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The workbooks being saved in `folder`: "NAME.xlsx.XXXXXX.tmp".
size_t saves_in(const fs::path& folder) {
    size_t saving = 0;
    for (const std::string& name : tree(folder)) saving += name.ends_with(".tmp") ? 1 : 0;
    return saving;
}

}  // namespace

// Memory runs out in the batch itself (a folder of 30,000 files to pass over in little more than
// the program needs to start) or in each conversion (bills too big for what is allowed): one
// message for the batch, one for each conversion, never success, nothing temporary left.
TEST(BatchConditions, TooLittleMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit here allows";
#endif
    rlim_t start_limit = 0;
    for (rlim_t mb = 8; mb <= 96 && start_limit == 0; mb += 2)
        if (run({"--version"}, in_temp({}, mb << 20)).exit_code == 0) start_limit = mb << 20;
    ASSERT_NE(start_limit, 0u) << "the program does not start in 96 MiB";

    const fs::path dir = testsupport::fresh_dir();
    const fs::path many = dir / "viele";
    fs::create_directories(many);
    fs::copy_file(sample("d83"), many / "lv.d83");
    for (int i = 0; i < 30000; ++i)
        testsupport::write_file(many / ("notiz-" + std::to_string(i) + std::string(80, 'x') + ".txt"), "");
    const auto bill = testsupport::generate_bill("90", "--items 60000");
    if (!bill) GTEST_SKIP() << "no generator for big bills here";
    fs::copy_file(*bill, dir / "a.d83");
    fs::copy_file(*bill, dir / "b.d83");

    struct Case {
        const char* what;
        std::vector<std::string> inputs;
        rlim_t limit;
        std::string message;  // once for the batch, or once for each conversion
        size_t times;
    };
    const std::vector<Case> cases{
        {"the batch itself",
         {"--rekursiv", many.string()},
         start_limit + (rlim_t{4} << 20),
         "Nicht genügend Arbeitsspeicher: Es wurde keine Datei umgewandelt und nichts geschrieben.\n",
         1},
        {"each conversion",
         {(dir / "a.d83").string(), (dir / "b.d83").string()},
         rlim_t{64} << 20,
         "Nicht genügend Arbeitsspeicher: Die Konvertierung wurde abgebrochen.",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path temp = testsupport::fresh_dir(), out = testsupport::fresh_dir() / "aus";
        std::vector<std::string> args{
            "-j",         "2",         "--ausgabeordner",
            out.string(), "--bericht", (out.parent_path() / "bericht.json").string()};
        args.insert(args.end(), c.inputs.begin(), c.inputs.end());
        const auto r = run(args, in_temp(temp, c.limit));
        EXPECT_EQ(count(r.err, "Arbeitsspeicher"), c.times) << r.err.substr(0, 2000);
        EXPECT_EQ(count(r.err, c.message), c.times) << r.err.substr(0, 2000);
        EXPECT_TRUE(tree(temp).empty());
        if (c.times == 1) {
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.err, c.message);
            EXPECT_EQ(r.out, "");
            EXPECT_FALSE(fs::exists(out.parent_path() / "bericht.json"));
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        // A conversion that ran out of memory saves what it has (3) or nothing (1).
        EXPECT_TRUE(r.exit_code == 1 || r.exit_code == 3) << r.exit_code;
        EXPECT_EQ(saves_in(out), 0u);
        for (const std::string& name : tree(out)) EXPECT_TRUE(whole_zip(out / name)) << name;
        const json report = json::parse(testsupport::read_file(out.parent_path() / "bericht.json"));
        EXPECT_EQ(report["rueckgabewert"], r.exit_code);
    }
}

// Faults found on the way: each row one condition with its exit status, the words the console
// shows (and must not show), and the workbooks afterwards.
TEST(BatchConditions, SmallerFaults) {
    struct Case {
        const char* what;
        std::function<std::vector<std::string>(const fs::path& dir)> prepare;  // the arguments
        Launch launch;
        int exit_code;
        std::vector<std::string> words, absent;
        std::vector<std::string> workbooks;  // in dir/aus
        std::function<void(const fs::path& dir)> check;
    };
    const std::string latin1_name = "lv-\xE4";  // "lv-ä" in ISO 8859-1: no UTF-8
    const std::vector<Case> cases{
        {"a folder that cannot be read is a read failure",
         [](const fs::path& dir) {
             fs::create_directories(dir / "eingang" / "gesperrt");
             fs::copy_file(sample("d83"), dir / "eingang" / "lv.d83");
             fs::permissions(dir / "eingang" / "gesperrt", fs::perms::none);
             return std::vector<std::string>{"--rekursiv", "--ausgabeordner", (dir / "aus").string(),
                                             (dir / "eingang").string()};
         },
         as_nobody(),
         1,
         {"Der Ordner /", "/eingang/gesperrt kann nicht gelesen werden: Keine Leseberechtigung.",
          "Rückgabewert 1.\n"},
         {"Schreibberechtigung"},
         {"lv.xlsx"},
         nullptr},
        {"a report that cannot be written after the conversions: the table shows the final status",
         [](const fs::path& dir) {
             return std::vector<std::string>{"--ausgabeordner",      (dir / "aus").string(), "--bericht", "-",
                                             sample("d83").string(), sample("x83").string()};
         },
         output_to("/dev/full"),
         4,
         {"Fehler: Der Bericht kann nicht auf die Standardausgabe geschrieben werden: Kein Speicherplatz",
          "2 Dateien: 2 abgeschlossen. Der Bericht wurde nicht geschrieben. Rückgabewert 4.\n"},
         {"Rückgabewert 0"},
         {"beispiel (2).xlsx", "beispiel.xlsx"},
         nullptr},
        {"names that are no UTF-8 keep their bytes in the report",
         [&](const fs::path& dir) {
             fs::create_directories(dir / "eingang");
             fs::copy_file(sample("d83"), dir / "eingang" / (latin1_name + ".d83"));
             testsupport::write_file(dir / "eingang" / "notiz-\xFC.txt", "");
             return std::vector<std::string>{"--rekursiv",
                                             "--ausgabeordner",
                                             (dir / "aus").string(),
                                             "--bericht",
                                             (dir / "bericht.json").string(),
                                             (dir / "eingang").string()};
         },
         {},
         0,
         {"Rückgabewert 0.\n"},
         {},
         {latin1_name + ".xlsx"},
         [&](const fs::path& dir) {
             // Python's urllib.parse.unquote_to_bytes, as the manual tells, gives back each name.
             const fs::path script = dir / "bytes.py";
             testsupport::write_file(script, R"(import json, sys, urllib.parse
r = json.load(open(sys.argv[1], encoding="utf-8"))
f = r["dateien"][0]
names = [f["eingabe_bytes"], f["arbeitsmappe_bytes"], r["uebersprungen"][0]["pfad_bytes"]]
assert "\ufffd" in f["eingabe"]
sys.stdout.buffer.write(b"\n".join(urllib.parse.unquote_to_bytes(n) for n in names))
)");
             const std::string command = "/usr/bin/python3 '" + script.string() + "' '" +
                                         (dir / "bericht.json").string() + "' > '" +
                                         (dir / "namen.txt").string() + "'";
             ASSERT_EQ(std::system(command.c_str()), 0) << testsupport::read_file(dir / "bericht.json");
             EXPECT_EQ(testsupport::read_file(dir / "namen.txt"),
                       (dir / "eingang" / (latin1_name + ".d83")).string() + "\n" +
                           (dir / "aus" / (latin1_name + ".xlsx")).string() + "\n" +
                           (dir / "eingang" / "notiz-\xFC.txt").string());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path dir = testsupport::fresh_dir();
        const std::vector<std::string> args = c.prepare(dir);
        Launch launch = c.launch;
        launch.temp = dir / "tmp";
        fs::create_directories(launch.temp);
        if (launch.as_nobody && ::geteuid() == 0)
            for (const fs::path& folder : {dir, dir / "eingang", launch.temp})
                fs::permissions(folder, fs::perms::all);
        const auto r = run(args, launch);
        EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
        const std::string console = r.err + r.out;
        for (const std::string& words : c.words)
            EXPECT_NE(console.find(words), std::string::npos) << words << "\n" << console;
        for (const std::string& words : c.absent)
            EXPECT_EQ(console.find(words), std::string::npos) << words << "\n" << console;
        EXPECT_EQ(tree(dir / "aus"), c.workbooks);
        EXPECT_TRUE(tree(launch.temp).empty());
        if (c.check) c.check(dir);
    }
}

// A conversion killed with SIGKILL while it saves its workbook cannot remove what it began: the
// batch does, and goes on with the others.
TEST(BatchConditions, AConversionKilledDuringItsSave) {
    const auto bill = testsupport::generate_bill("90", "--items 100000");
    if (!bill) GTEST_SKIP() << "no generator for big bills here";
    const fs::path dir = testsupport::fresh_dir();
    const fs::path temp = dir / "tmp", out = dir / "aus";
    fs::create_directories(temp);
    fs::copy_file(*bill, dir / "a.d83");
    fs::copy_file(*bill, dir / "b.d83");
    const Started s = start(
        {"-j", "1", "--ausgabeordner", out.string(), (dir / "a.d83").string(), (dir / "b.d83").string()},
        in_temp(temp));
    ASSERT_TRUE(wait_until([&] { return saves_in(out) == 1; })) << "no save seen";
    const std::vector<pid_t> saving = processes_naming("-- " + (dir / "a.d83").string());
    ASSERT_EQ(saving.size(), 1u);
    ::kill(saving.front(), SIGKILL);
    const auto r = finish(s);
    EXPECT_EQ(r.exit_code, 5) << r.err;
    EXPECT_NE(r.err.find("Die Konvertierung endete unerwartet (Signal SIGKILL). Es wurde keine Arbeitsmappe "
                         "geschrieben."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(tree(out), std::vector<std::string>{"b.xlsx"});
    EXPECT_TRUE(tree(temp).empty());
}

// The batch killed with SIGKILL while its conversions save: they end with it and remove their
// temporary files; the batch's temporary folder is removed by the next batch, while the folder of
// a batch that still runs stays.
TEST(BatchConditions, AKilledBatchTakesItsConversionsWithIt) {
    const auto bill = testsupport::generate_bill("90", "--items 100000");
    if (!bill) GTEST_SKIP() << "no generator for big bills here";
    const fs::path dir = testsupport::fresh_dir();
    const fs::path temp = dir / "tmp", out = dir / "aus";
    fs::create_directories(temp);
    fs::copy_file(*bill, dir / "a.d83");
    fs::copy_file(*bill, dir / "b.d83");
    const Started s = start(
        {"-j", "2", "--ausgabeordner", out.string(), (dir / "a.d83").string(), (dir / "b.d83").string()},
        in_temp(temp));
    ASSERT_TRUE(wait_until([&] { return saves_in(out) == 2; })) << "no saves seen";
    ::kill(s.pid, SIGKILL);
    EXPECT_EQ(robustness::wait_cli(s.pid), 128 + SIGKILL);
    EXPECT_TRUE(wait_until([&] { return processes_naming(out.string()).empty(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(tree(out).empty());
    const std::vector<std::string> left = tree(temp);
    ASSERT_FALSE(left.empty());  // the killed batch could not remove its folder
    EXPECT_EQ(left.front().rfind("bremora-stapel-", 0), 0u);

    // A batch that runs, its conversion waiting for a pipe, and one that comes after.
    const fs::path pipe = dir / "wartet.d83";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int writer = ::open(pipe.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const Started running = start(
        {"--ausgabeordner", (dir / "aus2").string(), pipe.string(), sample("x83").string()}, in_temp(temp));
    ASSERT_TRUE(wait_until([&] { return processes_naming("-- " + pipe.string()).size() == 1; }));
    const auto next =
        run({"--ausgabeordner", (dir / "aus3").string(), sample("d83").string(), sample("p83").string()},
            in_temp(temp));
    EXPECT_EQ(next.exit_code, 0) << next.err;
    const std::vector<std::string> remaining = tree(temp);
    EXPECT_TRUE(std::none_of(remaining.begin(), remaining.end(),
                             [&](const std::string& name) { return name == left.front(); }));
    EXPECT_FALSE(remaining.empty());  // the running batch's folder

    const std::string bill_text = testsupport::read_file(sample("d83"));
    ASSERT_EQ(::write(writer, bill_text.data(), bill_text.size()), static_cast<ssize_t>(bill_text.size()));
    ::close(writer);
    const auto ended = finish(running);
    EXPECT_EQ(ended.exit_code, 0) << ended.err;
    EXPECT_TRUE(tree(temp).empty());
}
