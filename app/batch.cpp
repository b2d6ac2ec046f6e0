// SPDX-License-Identifier: MIT
#include "app/batch.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <string_view>
#include <vector>

#include "app/report.h"
#include "app/temp_file.h"
#include "workbook/errors.h"

extern char** environ;

namespace app {

namespace {

using ShownKind = ShownMessage::Kind;

// One input of the batch and, once it has run, its report entry.
struct Job {
    std::filesystem::path input;
    std::optional<std::filesystem::path> output;  // -o for the conversion; without it, its own rules
    bool decided = false;                         // the entry is known without a conversion
    ReportEntry entry;
    pid_t pid = -1;
    int report_fd = -1;          // the conversion's standard output: its report
    int messages_fd = -1;        // its standard error: its messages
    std::filesystem::path temp;  // its own temporary folder, its TMPDIR
};

std::string lower(std::string text) {
    for (char& ch : text)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

// ---- The inputs ------------------------------------------------------------------------------

class Collector {
public:
    explicit Collector(bool quiet) : m_quiet(quiet) {}

    // An input named on the command line; folders are searched when `recursive`.
    void add(const std::filesystem::path& input, bool recursive) {
        std::error_code ec;
        if (recursive && std::filesystem::is_directory(input, ec)) {
            const size_t before = m_found;
            walk(input);
            if (m_found == before && !m_quiet)
                std::fprintf(stderr, "In %s wurde keine GAEB-Datei gefunden.\n", input.c_str());
        } else {
            add_file(input);
        }
    }
    std::vector<Job>& jobs() { return m_jobs; }

private:
    // The same file named twice (or found again through another name) is converted once.
    void add_file(const std::filesystem::path& file, bool found = false) {
        if (found) ++m_found;
        struct stat st {};
        const std::string key = ::stat(file.c_str(), &st) == 0 ? fmt::format("{}:{}", st.st_dev, st.st_ino)
                                                               : "?" + file.lexically_normal().string();
        if (!m_seen.insert(key).second) return;
        Job job;
        job.input = file;
        m_jobs.push_back(std::move(job));
    }

    // Links to folders are not followed, so that a link back up cannot make the search endless.
    void walk(const std::filesystem::path& folder) {
        std::error_code ec;
        std::vector<std::filesystem::directory_entry> entries;
        std::filesystem::directory_iterator it(folder, ec);
        for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec))
            entries.push_back(*it);
        if (ec) {
            Job job;
            job.input = folder;
            job.decided = true;
            job.entry.input = folder.string();
            job.entry.status = kExitRefused;
            job.entry.messages.push_back(
                {ShownKind::Error, fmt::format("Der Ordner {} kann nicht gelesen werden: {}.",
                                               folder.string(), workbook::errno_text(ec.value()))});
            m_jobs.push_back(std::move(job));
            ++m_found;
            if (entries.empty()) return;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.path() < b.path(); });
        for (const auto& entry : entries) {
            std::error_code ignored;
            const bool link = entry.is_symlink(ignored);
            if (!link && entry.is_directory(ignored))
                walk(entry.path());
            else if (entry.is_regular_file(ignored) && gaeb_file_name(entry.path()))
                add_file(entry.path(), true);
        }
    }

    bool m_quiet;
    size_t m_found = 0;  // files (and unreadable folders) met in folders, duplicates included
    std::vector<Job> m_jobs;
    std::set<std::string> m_seen;
};

// Each workbook under its input's name, beside the input or in --ausgabeordner; a name that is
// taken on disk or by an earlier input of this call gives the next free "Name (2).xlsx".
void assign_outputs(std::vector<Job>& jobs, const std::optional<std::filesystem::path>& folder) {
    std::set<std::string> taken;
    auto key = [](const std::filesystem::path& p) {
        std::error_code ec;
        const std::filesystem::path canonical = std::filesystem::weakly_canonical(p, ec);
        return (ec ? p.lexically_normal() : canonical).string();
    };
    for (Job& job : jobs) {
        std::error_code ec;
        if (job.decided) continue;
        // A folder or a pipe keeps its own rules: the conversion tells what is wrong.
        if (std::filesystem::is_directory(job.input, ec) || (!folder && read_once(job.input))) continue;
        std::filesystem::path wanted =
            folder ? *folder / job.input.filename() : std::filesystem::path(job.input);
        wanted.replace_extension(".xlsx");
        const std::filesystem::path dir = wanted.parent_path();
        const std::string stem = wanted.stem().string();
        for (int n = 1;; ++n) {
            const std::filesystem::path candidate =
                n == 1 ? wanted : dir / fmt::format("{} ({}).xlsx", stem, n);
            if (std::filesystem::exists(candidate, ec) || std::filesystem::is_symlink(candidate, ec))
                continue;
            if (!taken.insert(key(candidate)).second) continue;
            job.output = candidate;
            break;
        }
    }
}

// ---- The conversions -------------------------------------------------------------------------

std::vector<std::string> child_arguments(const CommandLine& cl, const Job& job) {
    std::vector<std::string> args{"bremora-cli"};
    const workbook::ConversionOptions& o = cl.options;
    if (o.OnlyShortText) args.emplace_back("--nur-kurztexte");
    if (o.ExportNotesText) args.emplace_back("--hinweistext");
    if (!o.LogFaultyLines) args.emplace_back("--ohne-fehlerprotokoll");
    if (!o.RoundPrices) args.emplace_back("--ohne-runden");
    if (o.SubtotalsSheet) args.emplace_back("--teilsummen");
    if (!o.CalcColumns) args.emplace_back("--ohne-kalkulationsspalten");
    if (cl.rules_answer) args.emplace_back(*cl.rules_answer ? "--regelungen=ja" : "--regelungen=nein");
    if (cl.quiet) args.emplace_back("--leise");
    args.insert(args.end(), {"--bericht", "-"});
    if (job.output) args.insert(args.end(), {"-o", job.output->string()});
    args.insert(args.end(), {"--", job.input.string()});
    return args;
}

std::string read_all(int fd) {
    std::string text;
    if (::lseek(fd, 0, SEEK_SET) != 0) return text;
    char buffer[1 << 16];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string signal_name(int sig) {
    const char* abbrev = ::sigabbrev_np(sig);
    return abbrev ? std::string("SIG") + abbrev : std::to_string(sig);
}

// An entry's messages as the console shows them.
std::string entry_block(const ReportEntry& entry) {
    std::string block;
    for (const ShownMessage& m : entry.messages)
        block += (m.kind == ShownMessage::Kind::Error ? "Fehler: " : "") + m.text + "\n";
    return block;
}

class Runner {
public:
    // `watched`: the signals the caller has blocked for the loop to take; `original_mask` the mask
    // the conversions start with.
    Runner(const CommandLine& cl, const char* self, std::vector<Job>& jobs, const sigset_t& watched,
           const sigset_t& original_mask)
        : m_cl(cl), m_self(self), m_jobs(jobs), m_watched(watched), m_original_mask(original_mask) {
        std::error_code ec;
        m_temp_root = std::filesystem::temp_directory_path(ec);
        if (ec) m_temp_root = "/tmp";
    }

    size_t finished() const { return m_finished; }
    bool shown_any() const { return m_shown_any; }

    // Starts job `index`; false when it could not start (its entry says why).
    bool start(Job& job) {
        const std::vector<std::string> args = child_arguments(m_cl, job);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);

        // A folder of its own for the conversion's temporary files, removed with whatever a
        // conversion that died left in it. Without one it uses the common folder.
        std::string folder = (m_temp_root / "bremora-stapel-XXXXXX").string();
        if (::mkdtemp(folder.data())) job.temp = folder;
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e)
            if (job.temp.empty() || std::strncmp(*e, "TMPDIR=", 7) != 0) environment.emplace_back(*e);
        if (!job.temp.empty()) environment.push_back("TMPDIR=" + job.temp.string());
        std::vector<char*> envp;
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        job.report_fd = ::memfd_create("bremora-bericht", MFD_CLOEXEC);
        job.messages_fd = ::memfd_create("bremora-meldungen", MFD_CLOEXEC);
        int error = job.report_fd < 0 || job.messages_fd < 0 ? errno : 0;
        if (error == 0) {
            posix_spawn_file_actions_t actions;
            posix_spawnattr_t attributes;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_adddup2(&actions, job.report_fd, STDOUT_FILENO);
            posix_spawn_file_actions_adddup2(&actions, job.messages_fd, STDERR_FILENO);
            posix_spawnattr_init(&attributes);
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
            posix_spawnattr_setsigmask(&attributes, &m_original_mask);
            error =
                ::posix_spawn(&job.pid, "/proc/self/exe", &actions, &attributes, argv.data(), envp.data());
            if (error == ENOENT || error == EACCES) {
                // Without /proc: the program as it was called.
                error =
                    std::strchr(m_self, '/')
                        ? ::posix_spawn(&job.pid, m_self, &actions, &attributes, argv.data(), envp.data())
                        : ::posix_spawnp(&job.pid, m_self, &actions, &attributes, argv.data(), envp.data());
            }
            posix_spawnattr_destroy(&attributes);
            posix_spawn_file_actions_destroy(&actions);
        }
        if (error == 0) return true;
        release(job);
        job.pid = -1;
        job.entry.input = job.input.string();
        job.entry.status = kExitUnexpected;
        job.entry.messages.push_back(
            {ShownKind::Error, fmt::format("Die Konvertierung von {} kann nicht gestartet werden: {}.",
                                           job.input.string(), workbook::errno_text(error))});
        show(job, entry_block(job.entry));
        return false;
    }

    // Takes the ended conversion's report and messages, and shows them.
    void finish(Job& job, int wait_status) {
        const std::string report = read_all(job.report_fd);
        const std::string messages = read_all(job.messages_fd);
        release(job);

        const bool exited = WIFEXITED(wait_status);
        int status = exited ? WEXITSTATUS(wait_status) : kExitUnexpected;
        if (status > kExitUnexpected) status = kExitUnexpected;
        const std::optional<ReportEntry> parsed = parse_report_entry(report);
        if (parsed) job.entry = *parsed;
        job.entry.input = job.input.string();
        job.entry.status = status;

        std::string own;  // what the batch itself has to say about this conversion
        if (!parsed) {
            std::string text = ConsoleFrontend::console_text(messages);
            while (!text.empty() && text.back() == '\n') text.pop_back();
            if (!text.empty()) job.entry.messages.push_back({ShownKind::Message, text, true});
            std::error_code ec;
            if (job.output && std::filesystem::exists(*job.output, ec))
                job.entry.workbook = job.output->string();
            if (!exited)
                own = fmt::format(
                    "Die Konvertierung endete unerwartet (Signal {}). {}", signal_name(WTERMSIG(wait_status)),
                    job.entry.workbook ? "Die Arbeitsmappe " + *job.entry.workbook + " wurde geschrieben."
                                       : std::string("Es wurde keine Arbeitsmappe geschrieben."));
            else
                own = fmt::format("Die Konvertierung endete ohne Bericht (Rückgabewert {}).",
                                  WEXITSTATUS(wait_status));
        } else if (!exited) {
            own = fmt::format("Die Konvertierung endete unerwartet (Signal {}).",
                              signal_name(WTERMSIG(wait_status)));
        }
        if (!own.empty()) job.entry.messages.push_back({ShownKind::Error, own, true});
        show(job, messages + (own.empty() ? "" : "Fehler: " + own + "\n"));
    }

    // The messages of one input under its name, as soon as it is done; with --leise only when
    // there are any (the conversion itself left out all but the errors).
    void show(const Job& job, std::string block) {
        ++m_finished;
        if (m_cl.quiet && block.empty()) return;
        if (!block.empty() && block.back() != '\n') block += '\n';
        std::fprintf(stderr, "%s==> %s <==\n%s", m_shown_any ? "\n" : "", job.input.c_str(), block.c_str());
        std::fflush(stderr);
        m_shown_any = true;
    }

    // Runs every job, at most `parallel` at once. Returns 0, or the signal that interrupted.
    int run(int parallel) {
        size_t next = 0;
        std::vector<Job*> running;
        while (true) {
            while (static_cast<int>(running.size()) < parallel && next < m_jobs.size()) {
                Job& job = m_jobs[next++];
                if (job.decided) {
                    show(job, entry_block(job.entry));
                    continue;
                }
                if (start(job)) running.push_back(&job);
            }
            if (running.empty()) return 0;
            const timespec wait{0, 200'000'000};
            const int sig = ::sigtimedwait(&m_watched, nullptr, &wait);
            if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
                stop(running);
                return sig;
            }
            for (auto it = running.begin(); it != running.end();) {
                int wait_status = 0;
                const pid_t ended = ::waitpid((*it)->pid, &wait_status, WNOHANG);
                if (ended == (*it)->pid || (ended < 0 && errno == ECHILD)) {
                    // A conversion reaped by someone else has left no status: it counts as died.
                    finish(**it, ended < 0 ? SIGKILL : wait_status);
                    it = running.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }

private:
    // Ends the running conversions: each removes its temporary files on SIGTERM.
    void stop(std::vector<Job*>& running) {
        for (Job* job : running) ::kill(job->pid, SIGTERM);
        for (Job* job : running) {
            int wait_status = 0;
            while (::waitpid(job->pid, &wait_status, 0) < 0 && errno == EINTR) {
            }
            release(*job);
        }
    }

    // The ended conversion's descriptors and temporary folder.
    static void release(Job& job) {
        close_fd(job.report_fd);
        close_fd(job.messages_fd);
        job.pid = -1;
        if (!job.temp.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(job.temp, ec);
            job.temp.clear();
        }
    }

    const CommandLine& m_cl;
    const char* m_self;
    std::vector<Job>& m_jobs;
    const sigset_t& m_watched;
    const sigset_t& m_original_mask;
    std::filesystem::path m_temp_root;
    bool m_shown_any = false;
    size_t m_finished = 0;
};

// ---- The table -------------------------------------------------------------------------------

size_t display_width(std::string_view text) {
    size_t width = 0;
    for (char ch : text)
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++width;
    return width;
}

// 1234567.5 as "1.234.567,50".
std::string money_text(double value) {
    std::string digits = fmt::format("{:.2f}", value < 0 ? -value : value);
    const size_t point = digits.find('.');
    std::string whole = digits.substr(0, point);
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += '.';
        grouped += whole[i];
    }
    return (value < 0 && value <= -0.005 ? "-" : "") + grouped + "," + digits.substr(point + 1);
}

std::string table_text(const std::vector<Job>& jobs, int status) {
    const char* dash = "–";
    std::vector<std::vector<std::string>> rows{
        {"Datei", "Format", "Phase", "Positionen", "Gesamtsumme", "Fehlerhafte Zeilen", "Status"}};
    int counts[kExitUnexpected + 1] = {};
    for (const Job& job : jobs) {
        const ReportEntry& e = job.entry;
        ++counts[std::clamp(e.status, 0, kExitUnexpected)];
        rows.push_back({e.input, e.format.value_or(dash), e.exchange_phase.value_or(dash),
                        e.items ? std::to_string(*e.items) : dash, e.total ? money_text(*e.total) : dash,
                        e.faulty_lines ? std::to_string(*e.faulty_lines) : dash,
                        fmt::format("{} {}", e.status, status_word(e.status))});
    }
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], display_width(row[c]));
    const auto right_aligned = [](size_t c) { return c >= 3 && c <= 5; };
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            const std::string pad(widths[c] - display_width(row[c]), ' ');
            if (c > 0) line += "  ";
            line += right_aligned(c) ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : "");
        }
        text += line + "\n";
    }
    std::string summary;
    for (int s = 0; s <= kExitUnexpected; ++s)
        if (counts[s] > 0)
            summary += fmt::format("{}{} {}", summary.empty() ? "" : ", ", counts[s], status_word(s));
    text += fmt::format("{} {}: {}. Rückgabewert {}.\n", jobs.size(), jobs.size() == 1 ? "Datei" : "Dateien",
                        summary, status);
    return text;
}

}  // namespace

bool gaeb_file_name(const std::filesystem::path& file) {
    static const std::set<std::string> extensions{".d81", ".d82", ".d83", ".d84", ".p81", ".p83", ".p84",
                                                  ".x80", ".x81", ".x82", ".x83", ".x84", ".off"};
    return extensions.count(lower(file.extension().string())) > 0;
}

int default_jobs() {
    cpu_set_t set;
    CPU_ZERO(&set);
    long n =
        ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : ::sysconf(_SC_NPROCESSORS_ONLN);
    return static_cast<int>(std::clamp<long>(n, 1, kMaxJobs));
}

std::optional<std::string> prepare_output_folder(const std::filesystem::path& folder) {
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) return std::nullopt;
    if (std::filesystem::exists(folder, ec) || std::filesystem::is_symlink(folder, ec))
        return "Der Ausgabeordner " + folder.string() + " ist kein Verzeichnis.";
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return fmt::format("Der Ausgabeordner {} kann nicht angelegt werden: {}.", folder.string(),
                           workbook::errno_text(ec.value()));
    return std::nullopt;
}

int run_batch(const CommandLine& cl, const char* self) {
    auto usage_error = [](const std::string& text) {
        std::fprintf(stderr, "bremora-cli: %s\n", text.c_str());
        return kExitUsage;
    };
    if (cl.folder) {
        if (const auto refusal = prepare_output_folder(*cl.folder)) return usage_error(*refusal);
        if (::access(cl.folder->c_str(), W_OK | X_OK) != 0)
            return usage_error("In den Ausgabeordner " + cl.folder->string() +
                               " kann nicht geschrieben werden.");
    }

    Collector collector(cl.quiet);
    for (const std::filesystem::path& input : cl.inputs) collector.add(input, cl.recursive);
    std::vector<Job>& jobs = collector.jobs();
    if (jobs.empty()) {
        std::fputs("Fehler: Es wurde keine GAEB-Datei zum Umwandeln gefunden.\n", stderr);
        return kExitRefused;
    }
    if (cl.report) {
        std::vector<std::filesystem::path> inputs;
        for (const Job& job : jobs) inputs.push_back(job.input);
        if (const auto refusal = refuse_report(*cl.report, inputs)) return usage_error(*refusal);
    }
    assign_outputs(jobs, cl.folder);

    // The signals are taken in turn by the loop below rather than by a handler; a signal ignored
    // at the start (nohup) stays ignored, also in the conversions.
    // The conversions are waited for here, whatever SIGCHLD was set to by whoever started us.
    std::signal(SIGCHLD, SIG_DFL);
    sigset_t watched, original;
    sigemptyset(&watched);
    sigaddset(&watched, SIGCHLD);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        sigaction(sig, nullptr, &current);
        if (current.sa_handler != SIG_IGN) sigaddset(&watched, sig);
    }
    sigprocmask(SIG_BLOCK, &watched, &original);

    Runner runner(cl, self, jobs, watched, original);
    const int parallel = std::min<int>(cl.jobs.value_or(default_jobs()), static_cast<int>(jobs.size()));
    if (const int sig = runner.run(parallel)) {
        std::fprintf(stderr, "bremora-cli: Abgebrochen (%s): %zu von %zu Dateien waren fertig.\n",
                     signal_name(sig).c_str(), runner.finished(), jobs.size());
        std::fflush(stderr);
        sigprocmask(SIG_SETMASK, &original, nullptr);
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return 128 + sig;
    }

    int status = kExitComplete;
    std::vector<ReportEntry> entries;
    for (const Job& job : jobs) {
        status = std::max(status, job.entry.status);
        entries.push_back(job.entry);
    }
    if (!cl.quiet) {
        // A blank line after the messages; the table on standard output unless the report is there.
        if (runner.shown_any()) std::fputc('\n', stderr);
        std::fflush(stderr);
        std::FILE* table = cl.report == std::filesystem::path("-") ? stderr : stdout;
        std::fputs(table_text(jobs, status).c_str(), table);
        std::fflush(table);
    }
    if (cl.report) {
        std::vector<std::filesystem::path> keep;
        for (const Job& job : jobs) {
            keep.push_back(job.input);
            if (job.entry.workbook) keep.emplace_back(*job.entry.workbook);
        }
        if (const auto failure = write_report(*cl.report, report_json(entries, status), keep)) {
            std::fprintf(stderr, "Fehler: %s\n", failure->c_str());
            status = std::max(status, kExitNotSaved);
        }
    }
    return status;
}

}  // namespace app
