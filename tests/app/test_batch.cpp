// SPDX-License-Identifier: MIT
// Several inputs in one call and the JSON report, through the console program: workbooks equal to
// the single runs', the report's figures against the saved workbooks read by openpyxl, the exit
// status, and conversions that die or are interrupted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "app/batch.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

fs::path bundled_samples() {
    return fs::path(BREMORA_SOURCE_DIR) / "samples";
}

// What a saved workbook holds, read by openpyxl: item rows of Positionsteil (from row 8 on, with
// column A), the sum of their cached column F results, and the rows of "Fehlerhafte Zeilen".
struct Figures {
    int64_t items = 0;
    double total = 0;
    int64_t faulty = 0;
};

Figures figures_of(const fs::path& xlsx) {
    const fs::path dir = testsupport::fresh_dir();
    testsupport::write_file(dir / "figures.py", R"(import sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1], data_only=True)
sheet = book["Positionsteil"]
items = [r for r in range(8, sheet.max_row + 1) if sheet.cell(r, 1).value not in (None, "")]
total = sum(float(sheet.cell(r, 6).value or 0) for r in items)
faulty = book["Fehlerhafte Zeilen"].max_row if "Fehlerhafte Zeilen" in book.sheetnames else 0
print(len(items), round(total, 2), faulty)
)");
    const std::string command = "/usr/bin/python3 '" + (dir / "figures.py").string() + "' '" + xlsx.string() +
                                "' > '" + (dir / "figures.txt").string() + "'";
    Figures f;
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "openpyxl cannot read " << xlsx;
        return f;
    }
    std::istringstream(testsupport::read_file(dir / "figures.txt")) >> f.items >> f.total >> f.faulty;
    return f;
}

json read_json(const fs::path& file) {
    std::ifstream in(file);
    return json::parse(in);  // throws, and fails the test, when it does not parse
}

std::string garbage() {
    std::mt19937 rng(18);
    std::string bytes(2048, '\0');
    for (char& ch : bytes) ch = static_cast<char>(rng());
    return bytes;
}

// The console program started without waiting, with `env` added to its environment.
struct Started {
    pid_t pid = -1;
    fs::path out, err;
};
Started start_cli(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
    Started s;
    const fs::path dir = testsupport::fresh_dir();
    s.out = dir / "stdout.txt";
    s.err = dir / "stderr.txt";
    s.pid = ::fork();
    if (s.pid == 0) {
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        // A test run in the background may have inherited ignored signals; the program must see them.
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        std::freopen("/dev/null", "rb", stdin);
        std::freopen(s.out.c_str(), "wb", stdout);
        std::freopen(s.err.c_str(), "wb", stderr);
        std::vector<std::string> copy = args;
        std::string program = BREMORA_CLI;
        std::vector<char*> argv{program.data()};
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        std::_Exit(127);
    }
    return s;
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
bool wait_until(F&& done, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

size_t files_below(const fs::path& folder) {
    size_t files = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) ++files;
    return files;
}

// Every entry below `dir` with its kind and, for a file, its bytes: equal snapshots, nothing
// changed.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(entry.path(), dir).string();
        const fs::file_status st = entry.symlink_status();
        entries[name] = fs::is_symlink(st)        ? "-> " + fs::read_symlink(entry.path()).string()
                        : fs::is_regular_file(st) ? "= " + testsupport::read_file(entry.path())
                        : fs::is_directory(st)    ? "/"
                                                  : "?";
    }
    return entries;
}

// The line of the closing table that begins with `input` and a column gap; empty when none does.
std::string table_row(const std::string& table, const std::string& input) {
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(input + "  ", 0) == 0) return line;
    return {};
}

}  // namespace

TEST(Batch, SamplesAndADamagedFileInOneCall) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path in = dir / "eingang", out = dir / "mappen";
    fs::create_directories(in / "teil");
    fs::create_directories(out);
    for (const auto& sample : fs::directory_iterator(bundled_samples()))
        fs::copy_file(sample.path(), in / sample.path().filename());
    // The same name in another folder, faulty records, a damaged file, a file that is no bill.
    fs::copy_file(bundled_samples() / "beispiel.d83", in / "teil" / "beispiel.d83");
    fs::copy_file(testsupport::data_dir() / "gaeb90" / "fehlerhafte_saetze.d81",
                  in / "fehlerhafte_saetze.d81");
    testsupport::write_file(in / "kaputt.d83", garbage());
    testsupport::write_file(in / "notiz.txt", "kein Leistungsverzeichnis");
    testsupport::write_file(out / "beispiel.xlsx", "schon da");

    const fs::path report = dir / "bericht.json";
    const auto run = testsupport::run_cli({"--rekursiv", "-j", "2", "--ausgabeordner", out.string(),
                                           "--bericht", report.string(), in.string()});
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_EQ(testsupport::read_file(out / "beispiel.xlsx"), "schon da");

    const json r = read_json(report);
    EXPECT_EQ(r["rueckgabewert"], 1);
    std::vector<std::string> inputs;
    for (const json& f : r["dateien"]) inputs.push_back(f["eingabe"]);
    const std::vector<std::string> expected{
        (in / "beispiel.d83").string(), (in / "beispiel.p83").string(),
        (in / "beispiel.x83").string(), (in / "fehlerhafte_saetze.d81").string(),
        (in / "kaputt.d83").string(),   (in / "teil" / "beispiel.d83").string()};
    ASSERT_EQ(inputs, expected);

    std::set<std::string> workbooks;
    int64_t faulty_seen = 0;
    for (const json& f : r["dateien"]) {
        const std::string input = f["eingabe"];
        SCOPED_TRACE(input);
        if (input == (in / "kaputt.d83").string()) {
            EXPECT_TRUE(table_row(run.out, input).ends_with("  1 abgewiesen     –")) << run.out;
            EXPECT_EQ(f["rueckgabewert"], 1);
            EXPECT_EQ(f["status"], "abgewiesen");
            EXPECT_TRUE(f["arbeitsmappe"].is_null());
            EXPECT_TRUE(f["positionen"].is_null());
            ASSERT_FALSE(f["meldungen"].empty());
            EXPECT_EQ(f["meldungen"][0]["art"], "fehler");
            EXPECT_NE(f["meldungen"][0]["text"].get<std::string>().find("ist keine GAEB-Datei"),
                      std::string::npos);
            EXPECT_NE(
                run.err.find("==> " + input + " <==\nFehler: Die Datei " + input + " ist keine GAEB-Datei."),
                std::string::npos)
                << run.err;
            continue;
        }
        EXPECT_EQ(f["rueckgabewert"], 0);
        const fs::path workbook = f["arbeitsmappe"].get<std::string>();
        EXPECT_EQ(workbook.parent_path(), out);
        // The table names the workbook each input became, at the end of its row.
        EXPECT_TRUE(table_row(run.out, input).ends_with("  " + workbook.string())) << run.out;
        EXPECT_TRUE(workbooks.insert(workbook.filename().string()).second) << workbook;
        const std::string ext = fs::path(input).extension().string();
        EXPECT_EQ(f["format"], ext[1] == 'd' ? "GAEB 90" : ext[1] == 'p' ? "GAEB 2000" : "GAEB DA XML");
        EXPECT_EQ(f["austauschphase"], ext.substr(2));

        // The workbook of the single run, byte for byte.
        const fs::path single = testsupport::fresh_dir() / "einzeln.xlsx";
        const auto alone = testsupport::run_cli({input, "-o", single.string()});
        ASSERT_EQ(alone.exit_code, 0) << alone.err;
        EXPECT_EQ(testsupport::read_file(workbook), testsupport::read_file(single));

        // The report's figures are the saved workbook's.
        const Figures figures = figures_of(workbook);
        EXPECT_GT(figures.items, 0);
        EXPECT_EQ(f["positionen"], figures.items);
        EXPECT_NEAR(f["gesamtsumme"].get<double>(), figures.total, 0.005);
        EXPECT_EQ(f["fehlerhafte_zeilen"], figures.faulty);
        EXPECT_TRUE(f["angegebene_gesamtsumme"].is_null());
        faulty_seen += figures.faulty;
        // Every message shown, the last one naming the workbook.
        ASSERT_FALSE(f["meldungen"].empty());
        EXPECT_EQ(f["meldungen"].back()["text"], "Arbeitsmappe gespeichert: " + workbook.string());
    }
    EXPECT_GT(faulty_seen, 0);
    EXPECT_EQ(workbooks.size(), 5u);
    EXPECT_EQ(workbooks.count("beispiel.xlsx"), 0u);

    // One table row per file, and the summary.
    EXPECT_EQ(run.out.rfind("Datei", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("kaputt.d83"), std::string::npos);
    EXPECT_NE(
        run.out.find("6 Dateien: 5 abgeschlossen, 1 abgewiesen. 1 Datei übersprungen. Rückgabewert 1.\n"),
        std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("notiz.txt"), std::string::npos);
    EXPECT_NE(
        run.err.find("Übersprungen: " + (in / "notiz.txt").string() + " – keine Endung einer GAEB-Datei\n"),
        std::string::npos)
        << run.err;
}

TEST(Batch, ExitStatusIsTheHighestAndQuietShowsOnlyErrors) {
    const fs::path dir = testsupport::fresh_dir();
    testsupport::write_file(dir / "kaputt.d83", garbage());
    const std::string damaged = (dir / "kaputt.d83").string();
    const std::string faulty = (testsupport::data_dir() / "gaeb90" / "fehlerhafte_saetze.d81").string();
    const std::string good = (bundled_samples() / "beispiel.d83").string();

    // Without the log of faulty lines the faulty bill is aborted (3): higher than the refusal (1).
    const auto run = testsupport::run_cli({"--leise", "--ohne-fehlerprotokoll", "--ausgabeordner",
                                           (dir / "aus").string(), damaged, faulty, good});
    EXPECT_EQ(run.exit_code, 3) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("==> " + damaged + " <=="), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("==> " + faulty + " <=="), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Die bis dahin erstellte Arbeitsmappe wurde gespeichert"), std::string::npos);
    EXPECT_EQ(run.err.find(good), std::string::npos) << run.err;
    EXPECT_EQ(names_in(dir / "aus"), (std::vector<std::string>{"beispiel.xlsx", "fehlerhafte_saetze.xlsx"}));

    // The single run: nothing on success, everything on failure.
    const auto quiet = testsupport::run_cli({"--leise", good, "-o", (dir / "einzeln.xlsx").string()});
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.err, "");
    const auto refused = testsupport::run_cli({"--leise", damaged});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_EQ(refused.err.rfind("Fehler: Die Datei " + damaged + " ist keine GAEB-Datei.", 0), 0u)
        << refused.err;
}

TEST(Batch, AConversionThatDiesDoesNotStopTheOthers) {
    const fs::path dir = testsupport::fresh_dir();
    fs::create_directories(dir / "tmp");
    // A conversion that has begun to copy a pipe into its temporary folder and waits for more,
    // until it is killed as the system kills a process when memory runs out.
    const fs::path pipe = dir / "wartet.d83";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int writer = ::open(pipe.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    const std::string start = "00        83\r\n";
    ASSERT_EQ(::write(writer, start.data(), start.size()), static_cast<ssize_t>(start.size()));
    const Started s = start_cli(
        {"-j", "2", "--ausgabeordner", (dir / "aus").string(), "--bericht", (dir / "bericht.json").string(),
         pipe.string(), (bundled_samples() / "beispiel.p83").string(),
         (bundled_samples() / "beispiel.x83").string()},
        {{"TMPDIR", (dir / "tmp").string()}});
    ASSERT_TRUE(wait_until([&] { return files_below(dir / "tmp") == 1; }));
    std::vector<pid_t> waiting;
    ASSERT_TRUE(wait_until([&] {
        waiting = processes_naming("-- " + pipe.string());
        return waiting.size() == 1;
    }));
    ::kill(waiting.front(), SIGKILL);
    int status = 0;
    ::waitpid(s.pid, &status, 0);
    ::close(writer);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);
    EXPECT_TRUE(names_in(dir / "tmp").empty());  // what the dead conversion left is gone

    EXPECT_EQ(names_in(dir / "aus"), (std::vector<std::string>{"beispiel (2).xlsx", "beispiel.xlsx"}));
    const json r = read_json(dir / "bericht.json");
    EXPECT_EQ(r["rueckgabewert"], 5);
    const json& died = r["dateien"][0];
    EXPECT_EQ(died["eingabe"], pipe.string());
    EXPECT_EQ(died["rueckgabewert"], 5);
    EXPECT_EQ(died["status"], "unerwartet beendet");
    EXPECT_TRUE(died["arbeitsmappe"].is_null());
    EXPECT_EQ(
        died["meldungen"].back()["text"],
        "Die Konvertierung endete unerwartet (Signal SIGKILL). Es wurde keine Arbeitsmappe geschrieben.");
    EXPECT_EQ(r["dateien"][1]["rueckgabewert"], 0);
    EXPECT_EQ(r["dateien"][2]["rueckgabewert"], 0);
    EXPECT_NE(testsupport::read_file(s.out).find("5 unerwartet beendet"), std::string::npos);
}

TEST(Batch, ASignalEndsEveryConversionAndLeavesNoTemporaryFiles) {
    const auto bill = testsupport::generate_bill("90", "--items 100000");
    ASSERT_TRUE(bill);
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        const fs::path dir = testsupport::fresh_dir();
        fs::create_directories(dir / "tmp");
        std::vector<std::string> args{"-j", "2", "--ausgabeordner", (dir / "aus").string()};
        for (const char* name : {"a.d83", "b.d83", "c.d83"}) {
            fs::copy_file(*bill, dir / name);
            args.push_back((dir / name).string());
        }
        const Started s = start_cli(args, {{"TMPDIR", (dir / "tmp").string()}});
        // Both conversions are under way once each has its working copy.
        ASSERT_TRUE(wait_until([&] { return files_below(dir / "tmp") == 2; }));
        ::kill(s.pid, sig);
        int status = 0;
        ::waitpid(s.pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_TRUE(processes_naming((dir / "aus").string()).empty());
        EXPECT_TRUE(names_in(dir / "tmp").empty());
        EXPECT_TRUE(names_in(dir / "aus").empty());
        EXPECT_NE(testsupport::read_file(s.err).find("Abgebrochen"), std::string::npos);
    }
}

TEST(Report, TheSingleRunReportsItsConversion) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path input = bundled_samples() / "beispiel.x83", workbook = dir / "lv.xlsx";
    const fs::path report = dir / "bericht.json";
    testsupport::write_file(report, "ein alter Bericht");
    const auto plain = testsupport::run_cli({input.string(), "-o", workbook.string()});
    fs::remove(workbook);
    const auto run = testsupport::run_cli(
        {input.string(), "-o", workbook.string(), "--bericht", report.string(), "--ueberschreiben"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, plain.err);  // the report adds nothing to the console
    EXPECT_EQ(run.out, "");

    const json r = read_json(report);
    EXPECT_EQ(r["programm"], "bremora-cli");
    EXPECT_EQ(r["rueckgabewert"], 0);
    ASSERT_EQ(r["dateien"].size(), 1u);
    const json& f = r["dateien"][0];
    const Figures figures = figures_of(workbook);
    EXPECT_EQ(f["eingabe"], input.string());
    EXPECT_EQ(f["format"], "GAEB DA XML");
    EXPECT_EQ(f["austauschphase"], "83");
    EXPECT_EQ(f["positionen"], figures.items);
    EXPECT_NEAR(f["gesamtsumme"].get<double>(), figures.total, 0.005);
    EXPECT_EQ(f["fehlerhafte_zeilen"], 0);
    EXPECT_EQ(f["arbeitsmappe"], workbook.string());
    EXPECT_EQ(f["status"], "abgeschlossen");
    std::string shown;
    for (const json& m : f["meldungen"])
        shown += (m["art"] == "fehler" ? "Fehler: " : "") + m["text"].get<std::string>() + "\n";
    EXPECT_EQ(shown, run.err);
    EXPECT_EQ(fs::status(report).permissions() & fs::perms::others_read, fs::perms::others_read);
}

TEST(Report, ARefusedInputIsReportedWithWhatWasRead) {
    const fs::path dir = testsupport::fresh_dir();
    testsupport::write_file(dir / "phase85.d83", "00        85\r\n");
    const auto refused = testsupport::run_cli({(dir / "phase85.d83").string(), "--bericht", "-"});
    EXPECT_EQ(refused.exit_code, 1);
    const json r = json::parse(refused.out);
    EXPECT_EQ(r["dateien"][0]["format"], nullptr);
    EXPECT_EQ(r["dateien"][0]["austauschphase"], "85");
    EXPECT_EQ(r["dateien"][0]["meldungen"][0]["text"], "Die Austauschphase 85wird nicht unterstützt!");
    EXPECT_EQ(r["dateien"][0]["status"], "abgewiesen");
}

// The report follows the rule of -o: an existing regular file is replaced only with
// --ueberschreiben, anything else never, nor a workbook of the same call; the call is refused (2)
// before a conversion starts, so nothing is written or changed.
TEST(Report, ReportsThatMustNotBeWritten) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path input = dir / "lv.d83", second = dir / "zwei.x83", out = dir / "aus";
    fs::copy_file(bundled_samples() / "beispiel.d83", input);
    fs::copy_file(bundled_samples() / "beispiel.x83", second);
    const fs::path old = dir / "alt.json", priced = dir / "kalkuliert.xlsx", fifo = dir / "fifo.json",
                   folder = dir / "ordner.json", link = dir / "verweis.json",
                   read_only = dir / "nurlesen.json";
    testsupport::write_file(old, "gestern");
    testsupport::write_file(priced, "die kalkulierte Mappe von gestern");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(folder);
    fs::create_symlink(old, link);
    testsupport::write_file(read_only, "alt");
    fs::permissions(read_only, fs::perms::owner_read);

    const std::string in = input.string(), two = second.string();
    struct Case {
        std::vector<std::string> args;
        std::string words;
    };
    const std::vector<Case> cases{
        {{in, "--bericht", old.string()},
         "Die Berichtsdatei " + old.string() +
             " ist schon vorhanden. Mit --ueberschreiben wird sie ersetzt."},
        {{in, "--bericht", priced.string()}, "ist schon vorhanden"},
        {{in, two, "--ausgabeordner", out.string(), "--bericht", old.string()}, "ist schon vorhanden"},
        {{in, "--ueberschreiben", "--bericht", fifo.string()},
         "ist eine benannte Pipe (FIFO) und wird nicht ersetzt"},
        {{in, two, "--ueberschreiben", "--bericht", "/dev/null"}, "ist ein Gerät und wird nicht ersetzt"},
        {{in, "--ueberschreiben", "--bericht", folder.string()}, "ist ein Verzeichnis"},
        {{in, "--ueberschreiben", "--bericht", link.string()}, "ist eine symbolische Verknüpfung"},
        {{in, "--ueberschreiben", "--bericht", read_only.string()}, "ist schreibgeschützt"},
        {{in, two, "--ueberschreiben", "--bericht", in}, "ist die Eingabedatei selbst"},
        // The workbook of the same call: named with -o, the name a run chooses, a batch's.
        {{in, "-o", (dir / "neu.xlsx").string(), "--bericht", (dir / "neu.xlsx").string()},
         "Die Berichtsdatei " + (dir / "neu.xlsx").string() + " ist eine Arbeitsmappe dieses Aufrufs."},
        {{in, "--bericht", (dir / "lv.xlsx").string()}, "ist eine Arbeitsmappe dieses Aufrufs"},
        {{in, two, "--ausgabeordner", out.string(), "--ueberschreiben", "--bericht",
          (out / "zwei.xlsx").string()},
         "ist eine Arbeitsmappe dieses Aufrufs"},
        {{in, "--bericht", (dir / "fehlt" / "b.json").string()}, "In den Ordner der Berichtsdatei"},
    };
    const auto before = snapshot(dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const auto run = testsupport::run_cli(c.args);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.err.rfind("bremora-cli: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.words), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(snapshot(dir), before);
    }

    // With --ueberschreiben the old report goes; "-" is standard output.
    const auto replaced = testsupport::run_cli({in, "--ueberschreiben", "--bericht", old.string()});
    EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
    EXPECT_EQ(read_json(old)["dateien"][0]["eingabe"], in);
    const auto to_stdout = testsupport::run_cli({two, "-o", (dir / "b.xlsx").string(), "--bericht", "-"});
    EXPECT_EQ(to_stdout.exit_code, 0) << to_stdout.err;
    EXPECT_EQ(json::parse(to_stdout.out)["dateien"][0]["arbeitsmappe"], (dir / "b.xlsx").string());
}

// Two inputs of the same name become LV.xlsx and LV (2).xlsx in input order; a second run with
// --ueberschreiben replaces exactly these, and no other file.
TEST(Batch, SameNameTwiceAndASecondRunWithUeberschreiben) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path first = dir / "a" / "LV.x83", second = dir / "b" / "LV.x83", out = dir / "aus";
    fs::create_directories(first.parent_path());
    fs::create_directories(second.parent_path());
    fs::create_directories(out);
    fs::copy_file(bundled_samples() / "beispiel.x83", first);
    fs::copy_file(testsupport::data_dir() / "gaebxml" / "teilsummen.x83", second);
    testsupport::write_file(out / "notiz.xlsx", "fremd");
    // What each input gives on its own.
    std::vector<std::string> alone;
    for (const fs::path& input : {first, second}) {
        const fs::path single = testsupport::fresh_dir() / "einzeln.xlsx";
        ASSERT_EQ(testsupport::run_cli({input.string(), "-o", single.string()}).exit_code, 0);
        alone.push_back(testsupport::read_file(single));
    }

    const auto run = testsupport::run_cli({"--ausgabeordner", out.string(), "--bericht",
                                           (dir / "eins.json").string(), first.string(), second.string()});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const fs::path lv = out / "LV.xlsx", lv2 = out / "LV (2).xlsx";
    EXPECT_EQ(names_in(out), (std::vector<std::string>{"LV (2).xlsx", "LV.xlsx", "notiz.xlsx"}));
    EXPECT_TRUE(table_row(run.out, first.string()).ends_with("  " + lv.string())) << run.out;
    EXPECT_TRUE(table_row(run.out, second.string()).ends_with("  " + lv2.string())) << run.out;
    const json r = read_json(dir / "eins.json");
    EXPECT_EQ(r["dateien"][0]["arbeitsmappe"], lv.string());
    EXPECT_EQ(r["dateien"][1]["arbeitsmappe"], lv2.string());

    // The user has worked on both since; a file of a third name is not theirs.
    testsupport::write_file(lv, "kalkuliert");
    testsupport::write_file(lv2, "auch kalkuliert");
    testsupport::write_file(out / "LV (3).xlsx", "fremd");
    const auto again = testsupport::run_cli({"--ausgabeordner", out.string(), "--ueberschreiben", "--bericht",
                                             (dir / "zwei.json").string(), first.string(), second.string()});
    ASSERT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(testsupport::read_file(lv), alone[0]);
    EXPECT_EQ(testsupport::read_file(lv2), alone[1]);
    EXPECT_EQ(testsupport::read_file(out / "LV (3).xlsx"), "fremd");
    EXPECT_EQ(testsupport::read_file(out / "notiz.xlsx"), "fremd");
    EXPECT_EQ(names_in(out),
              (std::vector<std::string>{"LV (2).xlsx", "LV (3).xlsx", "LV.xlsx", "notiz.xlsx"}));
    EXPECT_EQ(read_json(dir / "zwei.json")["dateien"][1]["arbeitsmappe"], lv2.string());

    // Without --ueberschreiben nothing is replaced: the next free names.
    const auto third =
        testsupport::run_cli({"--ausgabeordner", out.string(), first.string(), second.string()});
    ASSERT_EQ(third.exit_code, 0) << third.err;
    EXPECT_TRUE(table_row(third.out, first.string()).ends_with("LV (4).xlsx")) << third.out;
    EXPECT_TRUE(table_row(third.out, second.string()).ends_with("LV (5).xlsx")) << third.out;
    EXPECT_EQ(testsupport::read_file(lv), alone[0]);
}

// Files a folder search does not convert are named with the reason (with --leise counted), in the
// table's summary and in the report; they change no exit status.
TEST(Batch, FolderSearchNamesTheFilesItPassesOver) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path in = dir / "eingang";
    fs::create_directories(in);
    fs::create_directories(dir / "anderswo");
    fs::copy_file(bundled_samples() / "beispiel.d83", in / "lv.d83");
    fs::copy_file(testsupport::data_dir() / "gaebxml" / "rechnung.x89", in / "rechnung.x89");
    testsupport::write_file(in / "notiz.txt", "kein Leistungsverzeichnis");
    ASSERT_EQ(::mkfifo((in / "pipe.d83").c_str(), 0600), 0);
    fs::create_symlink(dir / "anderswo", in / "verweis");
    fs::create_symlink(in / "lv.d83", in / "zweitname.d83");
    const std::vector<std::pair<std::string, std::string>> expected{
        {"notiz.txt", "keine Endung einer GAEB-Datei"},
        {"pipe.d83", "eine benannte Pipe (FIFO), keine gewöhnliche Datei"},
        {"rechnung.x89", "Austauschphase 89 wird nicht umgewandelt"},
        {"verweis", "Verknüpfung auf einen Ordner, wird nicht verfolgt"},
        {"zweitname.d83", "dieselbe Datei wie " + (in / "lv.d83").string()}};

    const auto run = testsupport::run_cli({"--rekursiv", "--ausgabeordner", (dir / "aus").string(),
                                           "--bericht", (dir / "bericht.json").string(), in.string()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::string lines;
    for (const auto& [name, reason] : expected)
        lines += "Übersprungen: " + (in / name).string() + " – " + reason + "\n";
    EXPECT_EQ(run.err.rfind(lines, 0), 0u) << run.err;
    EXPECT_NE(run.out.find("1 Datei: 1 abgeschlossen. 5 Dateien übersprungen. Rückgabewert 0.\n"),
              std::string::npos)
        << run.out;
    const json passed_over = read_json(dir / "bericht.json")["uebersprungen"];
    ASSERT_EQ(passed_over.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(passed_over[i]["pfad"], (in / expected[i].first).string());
        EXPECT_EQ(passed_over[i]["grund"], expected[i].second);
    }

    const auto quiet = testsupport::run_cli(
        {"--leise", "--rekursiv", "--ausgabeordner", (dir / "aus").string(), in.string()});
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.err, "5 Dateien übersprungen.\n");
    EXPECT_EQ(quiet.out, "");
}

TEST(Batch, FolderSearchTakesTheExtensionsOfEveryPhaseRead) {
    for (const char* name : {"lv.d81", "LV.D84", "lv.p81", "lv.P84", "lv.x80", "lv.X84", "lv.x86", "lv.OFF"})
        EXPECT_TRUE(app::gaeb_file_name(name)) << name;
    // Phases no reader converts, and files of other kinds.
    for (const char* name : {"lv.d85", "lv.p82", "lv.x85", "lv.x87", "lv.x89", "lv.xlsx", "d83", "lv"})
        EXPECT_FALSE(app::gaeb_file_name(name)) << name;
}
