// SPDX-License-Identifier: MIT
// Perfect bills under hostile conditions: an output name that is the input or no regular file,
// input that can be read only once, a full disk, too little memory, a signal during the save.
// Whatever happens, the user's files stay as they were unless a complete workbook replaces them
// by request, nothing temporary is left behind, and the exit status never says success falsely.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/robustness/robustness_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int kComplete = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;
constexpr int kAborted = 3;
constexpr int kNotSaved = 4;

fs::path sample(const std::string& extension) {
    return fs::path(BREMORA_SOURCE_DIR) / "samples" / ("beispiel." + extension);
}

bool is_root() {
    return ::geteuid() == 0;
}

// How a console run is started beyond its arguments.
struct Launch {
    fs::path temp;                        // TMPDIR
    std::optional<std::string> piped;     // written into a pipe that is standard input
    rlim_t memory_limit = RLIM_INFINITY;  // RLIMIT_AS
};

testsupport::CliRun run(const std::vector<std::string>& args, const Launch& launch) {
    const fs::path logs = testsupport::fresh_dir();
    const std::string out = (logs / "stdout.txt").string(), err = (logs / "stderr.txt").string();
    std::string program = BREMORA_CLI;
    std::vector<std::string> copy = args;
    std::vector<char*> argv{program.data()};
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipe_fds[2] = {-1, -1};
    if (launch.piped && ::pipe(pipe_fds) != 0) ADD_FAILURE() << "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in_fd = launch.piped ? pipe_fds[0] : ::open("/dev/null", O_RDONLY);
        const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0) std::_Exit(126);
        ::dup2(in_fd, 0);
        ::dup2(out_fd, 1);
        ::dup2(err_fd, 2);
        if (launch.piped) ::close(pipe_fds[1]);
        if (!launch.temp.empty()) ::setenv("TMPDIR", launch.temp.c_str(), 1);
        robustness::default_signals();
        const rlimit limit{launch.memory_limit, launch.memory_limit};
        ::setrlimit(RLIMIT_AS, &limit);
        ::execv(program.c_str(), argv.data());
        std::_Exit(127);
    }
    if (launch.piped) {
        ::close(pipe_fds[0]);
        // The reader may stop early; a broken pipe is no failure of the test.
        std::signal(SIGPIPE, SIG_IGN);
        const std::string& bytes = *launch.piped;
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(pipe_fds[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(pipe_fds[1]);
    }
    testsupport::CliRun result;
    result.exit_code = robustness::wait_cli(pid);
    result.out = testsupport::read_file(out);
    result.err = testsupport::read_file(err);
    return result;
}

std::vector<std::string> files_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
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

// The workbook the sample of `extension` gives when nothing goes wrong, as openpyxl reads it.
const std::string& reference_dump(const std::string& extension) {
    static std::map<std::string, std::string> dumps;
    auto it = dumps.find(extension);
    if (it == dumps.end()) {
        const fs::path out = testsupport::fresh_dir() / "referenz.xlsx";
        const auto r = run({sample(extension).string(), "-o", out.string()}, {});
        EXPECT_EQ(r.exit_code, kComplete) << r.err;
        it = dumps.emplace(extension, testsupport::xlsx_dump(out)).first;
    }
    return it->second;
}

// -o never destroys the bill itself and never replaces anything but a regular file, and that
// only with --ueberschreiben.
TEST(HostileConditions, OutputThatMustNotBeReplaced) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path input = dir / "lv.d83";
    fs::copy_file(sample("d83"), input);
    const std::string bill = testsupport::read_file(input);
    fs::create_hard_link(input, dir / "zweitname.d83");
    fs::create_symlink(input, dir / "verweis.d83");
    fs::create_symlink("/dev/stdout", dir / "stdout.xlsx");
    fs::create_directory(dir / "ordner.xlsx");
    testsupport::write_file(dir / "anderes.d83", "anderes LV");
    testsupport::write_file(dir / "schreibgeschuetzt.xlsx", "alt");
    fs::permissions(dir / "schreibgeschuetzt.xlsx", fs::perms::owner_read | fs::perms::group_read);
    ASSERT_EQ(::mkfifo((dir / "fifo.xlsx").c_str(), 0600), 0);
    const bool device =
        is_root() && ::mknod((dir / "geraet.xlsx").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;

    struct Case {
        std::string output;
        bool overwrite;
        std::string message;
    };
    std::vector<Case> cases = {
        {input.string(), false, "ist die Eingabedatei selbst"},
        {input.string(), true, "ist die Eingabedatei selbst"},
        {(dir / "." / "lv.d83").string(), true, "ist die Eingabedatei selbst"},
        {(dir / "zweitname.d83").string(), true, "ist die Eingabedatei selbst"},
        {(dir / "verweis.d83").string(), true, "ist die Eingabedatei selbst"},
        {(dir / "anderes.d83").string(), false,
         "ist schon vorhanden. Mit --ueberschreiben wird sie ersetzt."},
        {(dir / "schreibgeschuetzt.xlsx").string(), true, "ist schreibgeschützt und wird nicht ersetzt."},
        {(dir / "stdout.xlsx").string(), true, "ist eine symbolische Verknüpfung und wird nicht ersetzt."},
        {(dir / "fifo.xlsx").string(), true, "ist eine benannte Pipe (FIFO) und wird nicht ersetzt."},
        {(dir / "ordner.xlsx").string(), true, "ist ein Verzeichnis."},
    };
    if (device)
        cases.push_back({(dir / "geraet.xlsx").string(), true, "ist ein Gerät und wird nicht ersetzt."});
    const std::vector<std::string> before = files_in(dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output + (c.overwrite ? " --ueberschreiben" : ""));
        std::vector<std::string> args{input.string(), "-o", c.output};
        if (c.overwrite) args.push_back("--ueberschreiben");
        const auto r = run(args, {});
        EXPECT_EQ(r.exit_code, kUsage);
        EXPECT_NE(r.err.find("Die Ausgabedatei " + c.output + " " + c.message), std::string::npos) << r.err;
        EXPECT_EQ(testsupport::read_file(input), bill);
        EXPECT_EQ(files_in(dir), before);
    }
    EXPECT_EQ(testsupport::read_file(dir / "anderes.d83"), "anderes LV");
    EXPECT_EQ(testsupport::read_file(dir / "schreibgeschuetzt.xlsx"), "alt");
    EXPECT_TRUE(fs::is_fifo(dir / "fifo.xlsx"));
    if (device)
        EXPECT_TRUE(fs::is_character_file(dir / "geraet.xlsx"));
    else
        std::cout << "[ NOTE ] device node case needs root\n";

    // Asked to, a regular file is replaced by the complete workbook.
    const auto replaced = run({input.string(), "-o", (dir / "anderes.d83").string(), "--ueberschreiben"}, {});
    EXPECT_EQ(replaced.exit_code, kComplete) << replaced.err;
    EXPECT_EQ(testsupport::read_file(dir / "anderes.d83").substr(0, 2), "PK");
    // Without -o an existing workbook is never touched.
    testsupport::write_file(dir / "lv.xlsx", "alte Mappe");
    const auto derived = run({input.string()}, {});
    EXPECT_EQ(derived.exit_code, kComplete) << derived.err;
    EXPECT_EQ(testsupport::read_file(dir / "lv.xlsx"), "alte Mappe");
    EXPECT_EQ(testsupport::read_file(dir / "lv (2).xlsx").substr(0, 2), "PK");
}

// Standard input, a pipe named /dev/stdin and a FIFO are read once and converted like the file.
TEST(HostileConditions, InputThatCanBeReadOnlyOnce) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path temp = dir / "tmp";
    fs::create_directory(temp);
    for (const std::string extension : {"d83", "p83", "x83"}) {
        SCOPED_TRACE(extension);
        const std::string bill = testsupport::read_file(sample(extension));
        const fs::path out1 = dir / ("strich_" + extension + ".xlsx"),
                       out2 = dir / ("stdin_" + extension + ".xlsx");
        const auto dash = run({"-", "-o", out1.string()}, {temp, bill});
        EXPECT_EQ(dash.exit_code, kComplete) << dash.err;
        EXPECT_EQ(testsupport::xlsx_dump(out1), reference_dump(extension));
        const auto dev_stdin = run({"/dev/stdin", "-o", out2.string()}, {temp, bill});
        EXPECT_EQ(dev_stdin.exit_code, kComplete) << dev_stdin.err;
        EXPECT_EQ(testsupport::xlsx_dump(out2), reference_dump(extension));

        const fs::path fifo = dir / ("lv_" + extension + ".fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::thread writer([&] { testsupport::write_file(fifo, bill); });
        const fs::path out3 = dir / ("fifo_" + extension + ".xlsx");
        const auto from_fifo = run({fifo.string(), "-o", out3.string()}, {temp, std::nullopt});
        writer.join();
        EXPECT_EQ(from_fifo.exit_code, kComplete) << from_fifo.err;
        EXPECT_EQ(testsupport::xlsx_dump(out3), reference_dump(extension));
        EXPECT_TRUE(files_in(temp).empty());
    }

    // Nowhere to put a workbook beside it: -o is needed.
    const auto no_name = run({"-"}, {temp, std::string("00")});
    EXPECT_EQ(no_name.exit_code, kUsage);
    EXPECT_NE(
        no_name.err.find("Die Standardeingabe ist keine gewöhnliche Datei: Bitte die Arbeitsmappe mit -o "
                         "angeben."),
        std::string::npos)
        << no_name.err;
    // Not GAEB: refused as such after one reading, not as unreadable.
    const auto junk = run({"-", "-o", (dir / "junk.xlsx").string()}, {temp, std::string("kein LV\n")});
    EXPECT_EQ(junk.exit_code, kRefused);
    EXPECT_NE(junk.err.find("Die Datei (Standardeingabe) ist keine GAEB-Datei"), std::string::npos)
        << junk.err;
    // An endless input is refused past 2 GiB.
    const auto endless = run({"/dev/zero", "-o", (dir / "null.xlsx").string()}, {temp, std::nullopt});
    EXPECT_EQ(endless.exit_code, kRefused);
    EXPECT_NE(endless.err.find("/dev/zero ist größer als 2 GiB und wird nicht gelesen."), std::string::npos)
        << endless.err;
    EXPECT_FALSE(fs::exists(dir / "junk.xlsx"));
    EXPECT_FALSE(fs::exists(dir / "null.xlsx"));
    EXPECT_TRUE(files_in(temp).empty());
}

// A small tmpfs mounted for one test and always unmounted again.
class SmallFilesystem {
public:
    SmallFilesystem(const fs::path& where, const std::string& size) : m_where(where) {
        fs::create_directories(where);
        m_mounted = ::mount("tmpfs", where.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0777").c_str()) == 0;
    }
    ~SmallFilesystem() {
        if (m_mounted && ::umount(m_where.c_str()) != 0) ::umount2(m_where.c_str(), MNT_DETACH);
    }
    SmallFilesystem(const SmallFilesystem&) = delete;
    SmallFilesystem& operator=(const SmallFilesystem&) = delete;
    bool mounted() const { return m_mounted; }
    // Takes every free block.
    void fill() const {
        const int fd = ::open((m_where / "voll").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(1 << 16, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, block.data(), 1) > 0) {
        }
        ::close(fd);
    }

private:
    fs::path m_where;
    bool m_mounted = false;
};

// Saving into a full filesystem fails as such, and leaves the old workbook and nothing else;
// with the temporary folder full instead, a run completes with a whole workbook or fails cleanly.
TEST(HostileConditions, FullFilesystem) {
    if (!is_root()) GTEST_SKIP() << "ein kleines Dateisystem einzuhängen braucht root";
    const fs::path dir = testsupport::fresh_dir();
    const fs::path big = robustness::big_gaeb90(size_t{2} << 20);
    {
        const SmallFilesystem small(dir / "klein", "512k");
        if (!small.mounted()) GTEST_SKIP() << "tmpfs kann hier nicht eingehängt werden";
        const fs::path target = dir / "klein" / "lv.xlsx";
        std::string old(300 << 10, '\0');
        for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i * 7919 % 251);
        testsupport::write_file(target, old);
        const auto r = run({big.string(), "-o", target.string(), "--ueberschreiben"}, {dir, std::nullopt});
        EXPECT_EQ(r.exit_code, kNotSaved) << r.err;
        EXPECT_NE(r.err.find("Die Arbeitsmappe " + target.string() +
                             " kann nicht gespeichert werden: Kein Speicherplatz mehr auf dem Gerät."),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(count(r.err, "Arbeitsmappe"), 1u) << r.err;
        EXPECT_TRUE(testsupport::read_file(target) == old);
        EXPECT_EQ(files_in(dir / "klein"), std::vector<std::string>{"lv.xlsx"});
    }
    {
        const SmallFilesystem temp(dir / "tmp", "256k");
        ASSERT_TRUE(temp.mounted());
        temp.fill();
        for (const std::string extension : {"d83", "p83", "x83"}) {
            SCOPED_TRACE(extension);
            const fs::path target = dir / ("mappe_" + extension + ".xlsx");
            testsupport::write_file(target, "alte Mappe");
            const auto r = run({sample(extension).string(), "-o", target.string(), "--ueberschreiben"},
                               {dir / "tmp", std::nullopt});
            if (r.exit_code == kComplete) {
                EXPECT_EQ(testsupport::xlsx_dump(target), reference_dump(extension));
            } else {
                EXPECT_TRUE(r.exit_code == kRefused || r.exit_code == kNotSaved) << r.exit_code << "\n"
                                                                                 << r.err;
                EXPECT_EQ(testsupport::read_file(target), "alte Mappe");
            }
            EXPECT_EQ(files_in(dir / "tmp"), std::vector<std::string>{"voll"});
        }
        for (const auto& name : files_in(dir)) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    }
}

// A bill of each format too big for the memory allowed: the run ends as aborted with the workbook
// so far, or refused with nothing written; one message says why, never success.
TEST(HostileConditions, TooLittleMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer braucht mehr Adressraum, als eine Grenze hier erlaubt";
#endif
    const fs::path dir = testsupport::fresh_dir();
    for (const std::string format : {"90", "2000", "xml"}) {
        SCOPED_TRACE(format);
        const auto generated = testsupport::generate_bill(format, "--items 60000");
        ASSERT_TRUE(generated);
        const fs::path bill = dir / ("gross." + format);
        fs::copy_file(*generated, bill);
        const fs::path out = dir / ("gross_" + format + ".xlsx");
        const auto r = run({bill.string(), "-o", out.string()}, {dir, std::nullopt, rlim_t{64} << 20});
        EXPECT_TRUE(r.exit_code == kAborted || r.exit_code == kRefused) << r.exit_code << "\n"
                                                                        << r.err.substr(0, 2000);
        EXPECT_EQ(r.err.rfind("Nicht genügend Arbeitsspeicher: Die Konvertierung wurde abgebrochen.", 0), 0u)
            << r.err.substr(0, 2000);
        EXPECT_EQ(count(r.err, "\n"), r.exit_code == kAborted ? 2u : 1u) << r.err.substr(0, 2000);
        if (r.exit_code == kAborted)
            EXPECT_TRUE(whole_zip(out));
        else
            EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(robustness::leftover_copies(dir).empty());
    }
}

// SIGINT, SIGTERM and SIGHUP while a large workbook is being saved: no temporary file of any
// kind is left, and the old workbook is as it was.
TEST(HostileConditions, SignalDuringTheSave) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path temp = dir / "tmp", out = dir / "mappe";
    fs::create_directories(temp);
    fs::create_directories(out);
    const fs::path big = robustness::big_gaeb90(size_t{24} << 20);
    const fs::path target = out / "lv.xlsx";
    testsupport::write_file(target, "alte Mappe");
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        const pid_t pid = robustness::start_cli(
            temp, {big.string(), "-o", target.string(), "--ueberschreiben"}, testsupport::fresh_dir());
        // The save has begun once the workbook's temporary file exists beside the target.
        bool saving = false;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!saving && std::chrono::steady_clock::now() < give_up) {
            for (const auto& name : files_in(out)) saving = saving || name.rfind("lv.xlsx.", 0) == 0;
            if (!saving) std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        ASSERT_TRUE(saving) << "no save seen";
        ::kill(pid, sig);
        EXPECT_EQ(robustness::wait_cli(pid), 128 + sig);
        EXPECT_EQ(files_in(out), std::vector<std::string>{"lv.xlsx"});
        EXPECT_EQ(testsupport::read_file(target), "alte Mappe");
        EXPECT_TRUE(files_in(temp).empty());
    }
}

// A signal while an input is being read once: the copy goes too.
TEST(HostileConditions, SignalWhileReadingAPipe) {
    const fs::path dir = testsupport::fresh_dir();
    const fs::path temp = dir / "tmp", fifo = dir / "lv.fifo";
    fs::create_directories(temp);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = robustness::start_cli(temp, {fifo.string(), "-o", (dir / "lv.xlsx").string()},
                                            testsupport::fresh_dir());
    const int writer = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    const std::string start = testsupport::read_file(sample("d83")).substr(0, 4096);
    ASSERT_EQ(::write(writer, start.data(), start.size()), static_cast<ssize_t>(start.size()));
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (files_in(temp).empty() && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(files_in(temp).size(), 1u);
    ::kill(pid, SIGTERM);
    EXPECT_EQ(robustness::wait_cli(pid), 128 + SIGTERM);
    ::close(writer);
    EXPECT_TRUE(files_in(temp).empty());
    EXPECT_FALSE(fs::exists(dir / "lv.xlsx"));
}

}  // namespace
