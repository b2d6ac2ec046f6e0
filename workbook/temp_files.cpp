// SPDX-License-Identifier: MIT
#include "workbook/temp_files.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace workbook {

namespace {

// A slot is free, being filled, or holds the path of a live file. The handler reads only live
// slots, whose path is complete before the state says so.
enum SlotState : int { kFree = 0, kFilling = 1, kLive = 2 };

struct Slot {
    std::atomic<int> state{kFree};
    char path[4096] = {};
};

static_assert(std::atomic<int>::is_always_lock_free);

// Enough for every file a run has at once: the copies, the workbook and the writer's data.
constexpr int kSlots = 32;
Slot g_slots[kSlots];
std::atomic<int> g_log_fd{-1};

int take_slot() {
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (g_slots[i].state.compare_exchange_strong(expected, kFilling)) return i;
    }
    return -1;
}

// No SIGINT, SIGTERM or SIGHUP between creating a file and listing it.
class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t block;
        sigemptyset(&block);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, sig);
        pthread_sigmask(SIG_BLOCK, &block, &m_previous);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t m_previous;
};

// Six characters of [A-Za-z0-9] in place of "XXXXXX" at `at`, as mkstemp chooses them.
void fill_random(char* at) {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        static std::atomic<uint64_t> counter{0};
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t value = (static_cast<uint64_t>(::getpid()) << 40) ^ static_cast<uint64_t>(now.tv_nsec) ^
                         counter.fetch_add(0x9E3779B97F4A7C15);
        for (unsigned char& byte : bytes) {
            byte = static_cast<unsigned char>(value);
            value = (value >> 8) | (value << 56);
        }
    }
    for (size_t i = 0; i < sizeof bytes; ++i) at[i] = kChars[bytes[i] % (sizeof kChars - 1)];
}

// mkostemps for a watched process: the name goes to `log` before the file exists, so that a
// process killed right after making it still leaves its name. A name that exists is not listed.
int create_listed(std::string& pattern, size_t suffix_size, int log) {
    char* const random = pattern.data() + pattern.size() - suffix_size - 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fill_random(random);
        struct stat st {};
        if (::lstat(pattern.c_str(), &st) == 0) continue;
        // One write per name, so that names from several threads never interleave.
        char newline = '\n';
        iovec line[2] = {{pattern.data(), pattern.size()}, {&newline, 1}};
        while (::writev(log, line, 2) < 0 && errno == EINTR) {
        }
        const int fd = ::open(pattern.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

int TempFile::create(const std::filesystem::path& folder, std::string_view prefix, std::string_view suffix) {
    remove();
    std::string pattern = (folder / (std::string(prefix) + "XXXXXX" + std::string(suffix))).string();
    if (pattern.size() >= sizeof g_slots[0].path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const SignalsBlocked blocked;
    const int slot = take_slot();
    if (slot < 0) {
        errno = EMFILE;
        return -1;
    }
    const int log = g_log_fd.load();
    const int fd = log >= 0 ? create_listed(pattern, suffix.size(), log)
                            : ::mkostemps(pattern.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        g_slots[slot].state.store(kFree);
        errno = error;
        return -1;
    }
    std::memcpy(g_slots[slot].path, pattern.c_str(), pattern.size() + 1);
    g_slots[slot].state.store(kLive);
    m_slot = slot;
    m_path = pattern;
    return fd;
}

void TempFile::remove() {
    if (m_slot < 0) return;
    // Unlinked before the slot is freed: a signal in between unlinks a name that is gone.
    ::unlink(g_slots[m_slot].path);
    release();
}

void TempFile::release() {
    if (m_slot < 0) return;
    g_slots[m_slot].state.store(kFree);
    m_slot = -1;
    m_path.clear();
}

void remove_temp_files_now() noexcept {
    const int saved_errno = errno;
    for (Slot& slot : g_slots)
        if (slot.state.load() == kLive) ::unlink(slot.path);
    errno = saved_errno;
}

void log_temp_files_to(int fd) noexcept {
    g_log_fd.store(fd);
}

}  // namespace workbook
