// SPDX-License-Identifier: MIT
#include "app/temp_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <vector>

namespace app {

namespace {

extern "C" void remove_and_die(int sig) {
    workbook::remove_temp_files_now();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void install_temp_cleanup_handlers() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        sigaction(sig, nullptr, &previous);
        if (previous.sa_handler == SIG_IGN) continue;  // nohup and background jobs keep theirs
        struct sigaction sa {};
        sa.sa_handler = remove_and_die;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

const char* file_kind_text(unsigned mode) {
    if (S_ISLNK(mode)) return "eine symbolische Verknüpfung";
    if (S_ISFIFO(mode)) return "eine benannte Pipe (FIFO)";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "ein Gerät";
    if (S_ISSOCK(mode)) return "ein Socket";
    return "keine gewöhnliche Datei";
}

bool read_once(const std::filesystem::path& input) {
    if (input == "-") return true;
    struct stat st {};
    if (::stat(input.c_str(), &st) != 0) return false;
    return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

Spooled spool_input(int fd, workbook::TempFile& copy, const std::filesystem::path& folder, uint64_t limit) {
    Spooled result;
    const int out = copy.create(folder, "bremora-", ".tmp");
    if (out < 0) {
        result.status = Spooled::WriteFailed;
        result.error = errno;
        return result;
    }
    std::vector<char> buffer(size_t{1} << 16);
    uint64_t total = 0;
    while (true) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = {Spooled::ReadFailed, errno};
            break;
        }
        if (n == 0) break;
        total += static_cast<uint64_t>(n);
        if (total > limit) {
            result.status = Spooled::TooLarge;
            break;
        }
        if (!write_all(out, buffer.data(), static_cast<size_t>(n))) {
            result = {Spooled::WriteFailed, errno};
            break;
        }
    }
    if (::close(out) != 0 && result.status == Spooled::Copied) result = {Spooled::WriteFailed, errno};
    if (result.status != Spooled::Copied) copy.remove();
    return result;
}

}  // namespace app
