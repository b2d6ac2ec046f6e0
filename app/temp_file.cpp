// SPDX-License-Identifier: MIT
#include "app/temp_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace app {
namespace {

// The path of the live copy for the signal handler; written only outside of it.
char g_live_path[4096] = {};
volatile std::sig_atomic_t g_live = 0;

extern "C" void remove_and_die(int sig) {
    if (g_live) ::unlink(g_live_path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

int TempCopy::create(const std::filesystem::path& folder) {
    remove();
    std::string pattern = (folder / "bremora-XXXXXX.tmp").string();
    if (pattern.size() >= sizeof g_live_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    // No signal between creating the file and telling the handler about it.
    sigset_t block, previous;
    sigemptyset(&block);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, sig);
    pthread_sigmask(SIG_BLOCK, &block, &previous);
    const int fd = ::mkstemps(pattern.data(), 4);  // O_CREAT | O_EXCL, mode 0600
    if (fd >= 0) {
        m_path = pattern;
        g_live = 0;
        std::memcpy(g_live_path, pattern.c_str(), pattern.size() + 1);
        g_live = 1;
    }
    const int saved_errno = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = saved_errno;
    return fd;
}

void TempCopy::remove() {
    if (m_path.empty()) return;
    g_live = 0;
    std::error_code ec;
    std::filesystem::remove(m_path, ec);
    m_path.clear();
}

void install_temp_cleanup_handlers() {
    struct sigaction sa {};
    sa.sa_handler = remove_and_die;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

}  // namespace app
