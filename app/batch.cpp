// SPDX-License-Identifier: MIT
#include "app/batch.h"

#include <dirent.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <sched.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "app/report.h"
#include "app/temp_file.h"
#include "workbook/errors.h"
#include "workbook/output_file.h"
#include "workbook/temp_files.h"

extern char** environ;

namespace app {

namespace {

namespace fs = std::filesystem;
using ShownKind = ShownMessage::Kind;

// A conversion started by a batch finds the batch's process id here, and on descriptor
// kTempLogFd the list its temporary files go to (a memfd of the name kTempLogName).
constexpr const char* kBatchVariable = "BREMORA_BATCH";
constexpr int kTempLogFd = 3;
constexpr const char* kTempLogName = "bremora-temp-log";

// The batch's own temporary folders: "bremora-stapel-XXXXXX" in the temporary folder.
constexpr const char* kFolderPrefix = "bremora-stapel-";

// Set aside for the way out when memory runs out in the batch itself: ending the conversions,
// removing the temporary folder.
constexpr size_t kReserve = size_t{4} << 20;
void* g_reserve = nullptr;

void on_out_of_memory() {
    std::free(g_reserve);
    g_reserve = nullptr;
    throw std::bad_alloc();
}

// Removes `name` in the folder `at` with everything below it; links are removed, never followed.
// Allocates nothing but the folder streams: it runs also when memory has run out.
void remove_tree(int at, const char* name) noexcept {
    const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (DIR* dir = ::fdopendir(fd)) {
            while (const dirent* entry = ::readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
                if (::unlinkat(fd, entry->d_name, 0) != 0 && errno == EISDIR) remove_tree(fd, entry->d_name);
            }
            ::closedir(dir);
        } else {
            ::close(fd);
        }
    }
    ::unlinkat(at, name, AT_REMOVEDIR);
}

// One input of the batch and, once it has run, its report entry.
struct Job {
    fs::path input;
    std::optional<fs::path> output;      // -o for the conversion; without it, its own rules
    bool replace = false;                // the output exists and is replaced (--ueberschreiben)
    std::pair<dev_t, ino_t> replaced{};  // the file it replaces: a workbook written is another one
    bool decided = false;                // the entry is known without a conversion
    ReportEntry entry;
    pid_t pid = -1;
    int report_fd = -1;    // the conversion's standard output: its report
    int messages_fd = -1;  // its standard error: its messages
    int temp_log_fd = -1;  // the temporary files it creates, one path a line
    fs::path temp;         // its own temporary folder, its TMPDIR
};

std::string lower(std::string text) {
    for (char& ch : text)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

// workbook::errno_text speaks of writing; this is a failed read.
std::string read_error_text(int error) {
    return error == EACCES || error == EPERM ? "Keine Leseberechtigung" : workbook::errno_text(error);
}

// Why a folder search passes over a file whose name it does not take.
std::string name_not_taken(const fs::path& file) {
    const std::string ext = lower(file.extension().string());
    const auto digit = [](char ch) { return ch >= '0' && ch <= '9'; };
    // GAEB names its files after the exchange phase: d/p/x and two digits.
    if (ext.size() == 4 && (ext[1] == 'd' || ext[1] == 'p' || ext[1] == 'x') && digit(ext[2]) &&
        digit(ext[3]))
        return "Austauschphase " + ext.substr(2) + " wird nicht umgewandelt";
    return "keine Endung einer GAEB-Datei";
}

// ---- The inputs ------------------------------------------------------------------------------

class Collector {
public:
    // An input named on the command line; folders are searched when `recursive`.
    void add(const fs::path& input, bool recursive) {
        std::error_code ec;
        if (recursive && fs::is_directory(input, ec)) {
            const size_t before = m_found;
            walk(input);
            if (m_found == before) m_empty_folders.push_back(input);
        } else {
            add_file(input);
        }
    }
    std::vector<Job>& jobs() { return m_jobs; }
    const std::vector<SkippedFile>& skipped() const { return m_skipped; }
    // Folders named on the command line in which no GAEB file was found.
    const std::vector<fs::path>& empty_folders() const { return m_empty_folders; }

private:
    // The same file named twice (or found again through another name) is converted once.
    void add_file(const fs::path& file, bool found = false) {
        if (found) ++m_found;
        struct stat st {};
        const std::string key = ::stat(file.c_str(), &st) == 0 ? fmt::format("{}:{}", st.st_dev, st.st_ino)
                                                               : "?" + file.lexically_normal().string();
        const auto [first, inserted] = m_seen.emplace(key, file);
        if (!inserted) {
            m_skipped.push_back({file.string(), "dieselbe Datei wie " + first->second.string()});
            return;
        }
        Job job;
        job.input = file;
        m_jobs.push_back(std::move(job));
    }

    // Links to folders are not followed, so that a link back up cannot make the search endless.
    // The folder is read with readdir: std::filesystem's iterator ends the program when memory
    // runs out during a step.
    void walk(const fs::path& folder) {
        std::vector<std::string> names;
        int error = 0;
        if (const std::unique_ptr<DIR, int (*)(DIR*)> dir{::opendir(folder.c_str()), ::closedir}) {
            while (true) {
                errno = 0;
                const dirent* entry = ::readdir(dir.get());
                if (!entry) {
                    error = errno;
                    break;
                }
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    names.emplace_back(entry->d_name);
            }
        } else {
            error = errno;
        }
        if (error != 0) {
            Job job;
            job.input = folder;
            job.decided = true;
            job.entry.input = folder.string();
            job.entry.status = kExitRefused;
            job.entry.messages.push_back(
                {ShownKind::Error, fmt::format("Der Ordner {} kann nicht gelesen werden: {}.",
                                               folder.string(), read_error_text(error))});
            m_jobs.push_back(std::move(job));
            ++m_found;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const fs::path file = folder / name;
            struct stat st {};
            if (::lstat(file.c_str(), &st) != 0) continue;  // gone meanwhile
            if (S_ISDIR(st.st_mode)) {
                walk(file);
                continue;
            }
            const bool link = S_ISLNK(st.st_mode);
            if (link && ::stat(file.c_str(), &st) != 0)
                m_skipped.push_back({file.string(), "Verknüpfung ohne Ziel"});
            else if (link && S_ISDIR(st.st_mode))
                m_skipped.push_back({file.string(), "Verknüpfung auf einen Ordner, wird nicht verfolgt"});
            else if (!S_ISREG(st.st_mode))
                m_skipped.push_back(
                    {file.string(), std::string(file_kind_text(st.st_mode)) + ", keine gewöhnliche Datei"});
            else if (gaeb_file_name(file))
                add_file(file, true);
            else
                m_skipped.push_back({file.string(), name_not_taken(file)});
        }
    }

    size_t m_found = 0;  // files (and unreadable folders) met in folders, duplicates included
    std::vector<Job> m_jobs;
    std::vector<SkippedFile> m_skipped;
    std::vector<fs::path> m_empty_folders;
    std::map<std::string, fs::path> m_seen;
};

// Each workbook under its input's name, beside the input or in --ausgabeordner, the inputs taken
// in order: a name taken by an earlier input of this call gives the next "Name (2).xlsx", and so
// does a name taken on disk, unless `overwrite` lets it be replaced: a regular, writable file that
// is none of the inputs. So a second run with --ueberschreiben replaces what each input got before.
void assign_outputs(std::vector<Job>& jobs, const std::optional<fs::path>& folder, bool overwrite) {
    std::set<std::pair<dev_t, ino_t>> inputs;
    for (const Job& job : jobs) {
        struct stat st {};
        if (::stat(job.input.c_str(), &st) == 0) inputs.emplace(st.st_dev, st.st_ino);
    }
    const auto may_replace = [&](const fs::path& candidate, const struct stat& st) {
        struct stat target {};
        return overwrite && S_ISREG(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
               ::access(candidate.c_str(), W_OK) == 0 && ::stat(candidate.c_str(), &target) == 0 &&
               inputs.count({target.st_dev, target.st_ino}) == 0;
    };
    std::set<std::string> taken;
    auto key = [](const fs::path& p) {
        std::error_code ec;
        const fs::path canonical = fs::weakly_canonical(p, ec);
        return (ec ? p.lexically_normal() : canonical).string();
    };
    for (Job& job : jobs) {
        std::error_code ec;
        if (job.decided) continue;
        // A folder or a pipe keeps its own rules: the conversion tells what is wrong.
        if (fs::is_directory(job.input, ec) || (!folder && read_once(job.input))) continue;
        fs::path wanted = folder ? *folder / job.input.filename() : fs::path(job.input);
        wanted.replace_extension(".xlsx");
        struct stat st {};
        bool exists = false;
        job.output = workbook::free_name(wanted, [&](const fs::path& candidate) {
            exists = ::lstat(candidate.c_str(), &st) == 0;
            return (!exists || may_replace(candidate, st)) && taken.insert(key(candidate)).second;
        });
        job.replace = exists;
        if (exists) job.replaced = {st.st_dev, st.st_ino};
    }
}

// ---- The temporary folder --------------------------------------------------------------------

// The batch's folder for the temporary files of its conversions, locked (flock) for as long as
// the batch runs. The kernel drops the lock when its holder ends, however it ends, so a folder
// whose lock can be taken was left by a batch that was killed: the next batch removes it. Unlike
// a process id in the name this cannot be fooled by a reused id or another pid namespace.
class BatchFolder {
public:
    explicit BatchFolder(const fs::path& temp_root) {
        remove_abandoned(temp_root);
        // A folder removed by another batch between its making and its lock is made again.
        for (int attempt = 0; attempt < 3 && m_fd < 0; ++attempt) {
            std::string folder = (temp_root / (std::string(kFolderPrefix) + "XXXXXX")).string();
            if (!::mkdtemp(folder.data())) return;
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            struct stat st {};
            if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0) {
                m_fd = fd;
                m_path = folder;
            } else if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    ~BatchFolder() { remove(); }
    BatchFolder(const BatchFolder&) = delete;
    BatchFolder& operator=(const BatchFolder&) = delete;

    // Empty when there is none: the conversions then use the common temporary folder.
    const fs::path& path() const { return m_path; }

    void remove() noexcept {
        if (m_fd < 0) return;
        remove_tree(AT_FDCWD, m_path.c_str());
        ::close(m_fd);
        m_fd = -1;
    }

private:
    // Our own batch folders in `temp_root` that no running batch holds.
    static void remove_abandoned(const fs::path& temp_root) {
        const int root = ::open(temp_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) return;
        DIR* dir = ::fdopendir(root);
        if (!dir) {
            ::close(root);
            return;
        }
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strncmp(entry->d_name, kFolderPrefix, std::strlen(kFolderPrefix)) != 0) continue;
            struct stat st {};
            if (::fstatat(root, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
                st.st_uid != ::geteuid())
                continue;
            const int fd = ::openat(root, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) continue;
            struct stat opened {};
            if (::fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev && opened.st_ino == st.st_ino &&
                ::flock(fd, LOCK_EX | LOCK_NB) == 0)
                remove_tree(root, entry->d_name);
            ::close(fd);
        }
        ::closedir(dir);
    }

    fs::path m_path;
    int m_fd = -1;
};

// ---- The conversions -------------------------------------------------------------------------

std::vector<std::string> child_arguments(const CommandLine& cl, const Job& job) {
    std::vector<std::string> args{"bremora-cli"};
    for (std::string& option : workbook_switches(cl.options)) args.push_back(std::move(option));
    if (cl.rules_answer) args.emplace_back(*cl.rules_answer ? "--regelungen=ja" : "--regelungen=nein");
    if (cl.quiet) args.emplace_back("--leise");
    args.insert(args.end(), {"--bericht", "-"});
    if (job.output) args.insert(args.end(), {"-o", job.output->string()});
    if (job.replace) args.emplace_back("--ueberschreiben");
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

// A new memfd whose number is above the three standard descriptors and the conversion's list
// (3), so that placing them in the conversion never overwrites one by another.
int spare_memfd(const char* name) {
    const int fd = ::memfd_create(name, MFD_CLOEXEC);
    if (fd < 0 || fd > kTempLogFd) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, kTempLogFd + 1);
    const int error = errno;
    ::close(fd);
    errno = error;
    return moved;
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
    // the conversions start with; `temp`: the batch's temporary folder, or empty.
    // `started` is set once a conversion has begun.
    Runner(const CommandLine& cl, const char* self, std::vector<Job>& jobs, const sigset_t& watched,
           const sigset_t& original_mask, const fs::path& temp, bool& started)
        : m_cl(cl),
          m_self(self),
          m_jobs(jobs),
          m_watched(watched),
          m_original_mask(original_mask),
          m_temp(temp),
          m_started_any(started) {}
    // Whatever ends the batch early (no memory) ends the running conversions first.
    ~Runner() { stop(); }
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    size_t finished() const { return m_finished; }
    bool shown_any() const { return m_shown_any; }

    // Runs every job, at most `parallel` at once. Returns 0, or the signal that interrupted.
    int run(int parallel) {
        size_t next = 0;
        while (true) {
            while (static_cast<int>(m_running.size()) < parallel && next < m_jobs.size()) {
                Job& job = m_jobs[next++];
                if (job.decided) {
                    show(job, entry_block(job.entry));
                    continue;
                }
                m_running.reserve(m_running.size() + 1);
                if (start(job, next)) m_running.push_back(&job);
            }
            if (m_running.empty()) return 0;
            const timespec wait{0, 200'000'000};
            const int sig = ::sigtimedwait(&m_watched, nullptr, &wait);
            if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
                stop();
                return sig;
            }
            for (size_t i = 0; i < m_running.size();) {
                Job& job = *m_running[i];
                int wait_status = 0;
                const pid_t ended = ::waitpid(job.pid, &wait_status, WNOHANG);
                if (ended == job.pid || (ended < 0 && errno == ECHILD)) {
                    // A conversion reaped by someone else has left no status: it counts as died.
                    job.pid = -1;
                    remove_leftovers(job);
                    m_running.erase(m_running.begin() + static_cast<std::ptrdiff_t>(i));
                    finish(job, ended < 0 ? SIGKILL : wait_status);
                } else {
                    ++i;
                }
            }
        }
    }

private:
    // Starts `job`, the `number`th; false when it could not start (its entry says why).
    bool start(Job& job, size_t number) {
        const std::vector<std::string> args = child_arguments(m_cl, job);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);

        // A folder of its own for the conversion's temporary files, removed with whatever a
        // conversion that died left in it. Without one it uses the common folder.
        if (!m_temp.empty()) {
            const fs::path folder = m_temp / std::to_string(number);
            if (::mkdir(folder.c_str(), 0700) == 0) job.temp = folder;
        }
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            const std::string_view entry(*e);
            if ((job.temp.empty() || entry.rfind("TMPDIR=", 0) != 0) &&
                entry.rfind(std::string(kBatchVariable) + "=", 0) != 0)
                environment.emplace_back(entry);
        }
        if (!job.temp.empty()) environment.push_back("TMPDIR=" + job.temp.string());
        environment.push_back(fmt::format("{}={}", kBatchVariable, ::getpid()));
        std::vector<char*> envp;
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        job.report_fd = spare_memfd("bremora-bericht");
        job.messages_fd = spare_memfd("bremora-meldungen");
        job.temp_log_fd = spare_memfd(kTempLogName);
        int error = job.report_fd < 0 || job.messages_fd < 0 || job.temp_log_fd < 0 ? errno : 0;
        if (error == 0) {
            posix_spawn_file_actions_t actions;
            posix_spawnattr_t attributes;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_adddup2(&actions, job.report_fd, STDOUT_FILENO);
            posix_spawn_file_actions_adddup2(&actions, job.messages_fd, STDERR_FILENO);
            posix_spawn_file_actions_adddup2(&actions, job.temp_log_fd, kTempLogFd);
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
        if (error == 0) {
            m_started_any = true;
            return true;
        }
        release(job);
        job.pid = -1;
        job.entry.input = job.input.string();
        if (error == ENOMEM) {
            job.entry.status = kExitRefused;
            job.entry.messages.push_back(
                {ShownKind::Closing, fmt::format("Nicht genügend Arbeitsspeicher: Die Konvertierung von {} "
                                                 "kann nicht gestartet werden. Es wurde keine Arbeitsmappe "
                                                 "geschrieben.",
                                                 job.input.string())});
        } else {
            job.entry.status = kExitUnexpected;
            job.entry.messages.push_back(
                {ShownKind::Error, fmt::format("Die Konvertierung von {} kann nicht gestartet werden: {}.",
                                               job.input.string(), workbook::errno_text(error))});
        }
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
            struct stat st {};
            if (job.output && ::stat(job.output->c_str(), &st) == 0 &&
                (!job.replace || std::pair<dev_t, ino_t>(st.st_dev, st.st_ino) != job.replaced))
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

    // Ends the running conversions: each removes its temporary files on SIGTERM. Where SIGTERM is
    // ignored (so it was when the batch started) and for one that does not end within seconds,
    // SIGKILL; the batch then removes what it listed.
    void stop() noexcept {
        const int sig = sigismember(&m_watched, SIGTERM) == 1 ? SIGTERM : SIGKILL;
        for (Job* job : m_running)
            if (job->pid > 0) ::kill(job->pid, sig);
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (Job* job : m_running) {
            while (job->pid > 0) {
                int wait_status = 0;
                const pid_t ended = ::waitpid(job->pid, &wait_status, WNOHANG);
                if (ended == job->pid || (ended < 0 && errno != EINTR)) break;
                if (std::chrono::steady_clock::now() > give_up) {
                    ::kill(job->pid, SIGKILL);
                    while (::waitpid(job->pid, &wait_status, 0) < 0 && errno == EINTR) {
                    }
                    break;
                }
                const timespec pause{0, 10'000'000};
                ::nanosleep(&pause, nullptr);
            }
            release(*job);
        }
        m_running.clear();
    }

    // The temporary files the ended conversion listed and did not remove or rename into place:
    // it died before it could (a workbook being saved beside its target, a copy of its input).
    static void remove_leftovers(Job& job) noexcept {
        if (job.temp_log_fd >= 0 && ::lseek(job.temp_log_fd, 0, SEEK_SET) == 0) {
            // Read in pieces without allocating: this runs also when memory has run out.
            char buffer[8192];
            size_t used = 0;
            while (true) {
                const ssize_t n = ::read(job.temp_log_fd, buffer + used, sizeof buffer - 1 - used);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                used += static_cast<size_t>(n);
                size_t begin = 0;
                for (size_t i = 0; i < used; ++i) {
                    if (buffer[i] != '\n') continue;
                    buffer[i] = '\0';
                    struct stat st {};
                    if (::lstat(buffer + begin, &st) == 0 && S_ISREG(st.st_mode)) ::unlink(buffer + begin);
                    begin = i + 1;
                }
                // A name longer than the buffer is no path the program makes.
                if (begin == 0 && used == sizeof buffer - 1) used = 0;
                std::memmove(buffer, buffer + begin, used - begin);
                used -= begin;
            }
        }
        close_fd(job.temp_log_fd);
    }

    // The ended conversion's descriptors, leftovers and temporary folder.
    static void release(Job& job) noexcept {
        job.pid = -1;
        remove_leftovers(job);
        close_fd(job.report_fd);
        close_fd(job.messages_fd);
        close_fd(job.temp_log_fd);
        if (!job.temp.empty()) {
            remove_tree(AT_FDCWD, job.temp.c_str());
            job.temp.clear();
        }
    }

    const CommandLine& m_cl;
    const char* m_self;
    std::vector<Job>& m_jobs;
    const sigset_t& m_watched;
    const sigset_t& m_original_mask;
    fs::path m_temp;
    std::vector<Job*> m_running;
    bool m_shown_any = false;
    bool& m_started_any;
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

// One row per input with the workbook it became.
std::string table_rows(const std::vector<Job>& jobs) {
    const char* dash = "–";
    std::vector<std::vector<std::string>> rows{{"Datei", "Format", "Phase", "Positionen", "Gesamtsumme",
                                                "Fehlerhafte Zeilen", "Status", "Arbeitsmappe"}};
    for (const Job& job : jobs) {
        const ReportEntry& e = job.entry;
        rows.push_back({e.input, e.format.value_or(dash), e.exchange_phase.value_or(dash),
                        e.items ? std::to_string(*e.items) : dash, e.total ? money_text(*e.total) : dash,
                        e.faulty_lines ? std::to_string(*e.faulty_lines) : dash,
                        fmt::format("{} {}", e.status, status_word(e.status)), e.workbook.value_or(dash)});
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
    return text;
}

// "6 Dateien: 5 abgeschlossen, 1 abgewiesen. 2 Dateien übersprungen. Rückgabewert 1." with the
// program's final status.
std::string table_summary(const std::vector<Job>& jobs, size_t skipped, bool report_failed, int status) {
    int counts[kExitUnexpected + 1] = {};
    for (const Job& job : jobs) ++counts[std::clamp(job.entry.status, 0, kExitUnexpected)];
    std::string summary;
    for (int s = 0; s <= kExitUnexpected; ++s)
        if (counts[s] > 0)
            summary += fmt::format("{}{} {}", summary.empty() ? "" : ", ", counts[s], status_word(s));
    std::string text =
        fmt::format("{} {}: {}.", jobs.size(), jobs.size() == 1 ? "Datei" : "Dateien", summary);
    if (skipped > 0) text += fmt::format(" {} {} übersprungen.", skipped, skipped == 1 ? "Datei" : "Dateien");
    if (report_failed) text += " Der Bericht wurde nicht geschrieben.";
    return text + fmt::format(" Rückgabewert {}.\n", status);
}

// Everything but the way out when memory runs out. `started`: a conversion has begun.
int batch(const CommandLine& cl, const char* self, bool& started) {
    auto usage_error = [](const std::string& text) {
        std::fprintf(stderr, "bremora-cli: %s\n", text.c_str());
        return kExitUsage;
    };
    std::error_code ec;
    if (cl.folder && !fs::is_directory(*cl.folder, ec) &&
        (fs::exists(*cl.folder, ec) || fs::is_symlink(*cl.folder, ec)))
        return usage_error("Der Ausgabeordner " + cl.folder->string() + " ist kein Verzeichnis.");
    Collector collector;
    for (const fs::path& input : cl.inputs) collector.add(input, cl.recursive);
    std::vector<Job>& jobs = collector.jobs();
    const std::vector<SkippedFile>& skipped = collector.skipped();
    if (!cl.quiet)
        for (const fs::path& folder : collector.empty_folders())
            std::fprintf(stderr, "In %s wurde keine GAEB-Datei gefunden.\n", folder.c_str());
    if (jobs.empty()) {
        std::fputs("Fehler: Es wurde keine GAEB-Datei zum Umwandeln gefunden.\n", stderr);
        return kExitRefused;
    }
    assign_outputs(jobs, cl.folder, cl.overwrite);
    if (cl.report) {
        std::vector<fs::path> inputs, workbooks;
        for (const Job& job : jobs) {
            inputs.push_back(job.input);
            if (job.output) workbooks.push_back(*job.output);
        }
        if (const auto refusal = refuse_report(*cl.report, inputs, workbooks, cl.overwrite))
            return usage_error(*refusal);
    }
    // Made only once nothing refuses the call.
    if (cl.folder) {
        if (const auto refusal = prepare_output_folder(*cl.folder)) return usage_error(*refusal);
        if (::access(cl.folder->c_str(), W_OK | X_OK) != 0)
            return usage_error("In den Ausgabeordner " + cl.folder->string() +
                               " kann nicht geschrieben werden.");
    }
    if (!skipped.empty()) {
        if (cl.quiet) {
            std::fprintf(stderr, "%zu %s übersprungen.\n", skipped.size(),
                         skipped.size() == 1 ? "Datei" : "Dateien");
        } else {
            for (const SkippedFile& file : skipped)
                std::fprintf(stderr, "Übersprungen: %s – %s\n", file.path.c_str(), file.reason.c_str());
        }
        std::fflush(stderr);
    }

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

    fs::path temp_root = fs::temp_directory_path(ec);
    if (ec) temp_root = "/tmp";
    BatchFolder temp(temp_root);
    Runner runner(cl, self, jobs, watched, original, temp.path(), started);
    const int parallel = std::min<int>(cl.jobs.value_or(default_jobs()), static_cast<int>(jobs.size()));
    const int sig = runner.run(parallel);
    if (sig != 0) {
        temp.remove();
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
    // The table is made before the report is written, so that nothing is left to go wrong once it
    // is; it shows the status the program ends with, also when the report could not be written.
    std::string rows, summary, summary_if_failed;
    if (!cl.quiet) {
        rows = table_rows(jobs);
        summary = table_summary(jobs, skipped.size(), false, status);
        summary_if_failed = table_summary(jobs, skipped.size(), true, std::max(status, kExitNotSaved));
    }
    bool report_failed = false;
    if (cl.report) {
        std::vector<fs::path> keep;
        for (const Job& job : jobs) {
            keep.push_back(job.input);
            if (job.entry.workbook) keep.emplace_back(*job.entry.workbook);
        }
        const std::string json = report_json(entries, status, true, skipped);
        if (const auto failure = write_report(*cl.report, json, keep, cl.overwrite)) {
            std::fprintf(stderr, "Fehler: %s\n", failure->c_str());
            status = std::max(status, kExitNotSaved);
            report_failed = true;
        }
    }
    if (!cl.quiet) {
        // A blank line after the messages; the table on standard output unless the report is there.
        if (runner.shown_any() || report_failed) std::fputc('\n', stderr);
        std::fflush(stderr);
        std::FILE* table = cl.report == fs::path("-") ? stderr : stdout;
        std::fputs(rows.c_str(), table);
        std::fputs((report_failed ? summary_if_failed : summary).c_str(), table);
        std::fflush(table);
    }
    return status;
}

}  // namespace

bool gaeb_file_name(const fs::path& file) {
    static const std::set<std::string> extensions{".d81", ".d82", ".d83", ".d84", ".p81", ".p83", ".p84",
                                                  ".x80", ".x81", ".x82", ".x83", ".x84", ".x86", ".off"};
    return extensions.count(lower(file.extension().string())) > 0;
}

int default_jobs() {
    cpu_set_t set;
    CPU_ZERO(&set);
    long n =
        ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : ::sysconf(_SC_NPROCESSORS_ONLN);
    return static_cast<int>(std::clamp<long>(n, 1, kMaxJobs));
}

std::optional<std::string> prepare_output_folder(const fs::path& folder) {
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return std::nullopt;
    if (fs::exists(folder, ec) || fs::is_symlink(folder, ec))
        return "Der Ausgabeordner " + folder.string() + " ist kein Verzeichnis.";
    fs::create_directories(folder, ec);
    if (ec)
        return fmt::format("Der Ausgabeordner {} kann nicht angelegt werden: {}.", folder.string(),
                           workbook::errno_text(ec.value()));
    return std::nullopt;
}

int run_batch(const CommandLine& cl, const char* self) {
    g_reserve = std::malloc(kReserve);
    std::set_new_handler(on_out_of_memory);
    bool started = false;
    try {
        return batch(cl, self, started);
    } catch (const std::bad_alloc&) {
        // The conversions have been ended and the temporary folder removed on the way here.
        std::fputs(started ? "Nicht genügend Arbeitsspeicher: Die Umwandlung der Dateien wurde abgebrochen, "
                             "laufende Konvertierungen wurden beendet. Schon gespeicherte Arbeitsmappen "
                             "bleiben erhalten; es wurde kein Bericht geschrieben.\n"
                           : "Nicht genügend Arbeitsspeicher: Es wurde keine Datei umgewandelt und nichts "
                             "geschrieben.\n",
                   stderr);
        return kExitRefused;
    }
}

void join_batch() {
    const char* value = std::getenv(kBatchVariable);
    if (!value) return;
    const std::string_view text(value);
    pid_t parent = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parent);
    ::unsetenv(kBatchVariable);
    // Only a batch gives the list on kTempLogFd: a stray variable changes nothing.
    char link[64] = {};
    const std::string fd_path = "/proc/self/fd/" + std::to_string(kTempLogFd);
    const ssize_t n = ::readlink(fd_path.c_str(), link, sizeof link - 1);
    const std::string expected = std::string("/memfd:") + kTempLogName;
    if (error != std::errc() || end != text.data() + text.size() || n <= 0 ||
        std::string_view(link, static_cast<size_t>(n)).rfind(expected, 0) != 0)
        return;
    ::fcntl(kTempLogFd, F_SETFD, FD_CLOEXEC);
    // SIGTERM lets the conversion remove its temporary files; where it is ignored, SIGKILL.
    struct sigaction term {};
    sigaction(SIGTERM, nullptr, &term);
    const int sig = term.sa_handler == SIG_IGN ? SIGKILL : SIGTERM;
    ::prctl(PR_SET_PDEATHSIG, sig);
    // The batch may have ended before the signal was asked for: then nobody sends it.
    if (::getppid() != parent) {
        std::raise(sig);
        std::_Exit(kExitUnexpected);
    }
    workbook::log_temp_files_to(kTempLogFd);
}

}  // namespace app
