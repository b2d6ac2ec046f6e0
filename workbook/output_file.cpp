// SPDX-License-Identifier: MIT
#include "workbook/output_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "workbook/errors.h"

namespace workbook {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxFileName = 255;

std::string reason_of(int error) {
    return error == 0 ? "Das Ziel ist keine gewöhnliche Datei" : errno_text(error);
}

fs::path folder_of(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// What the target may be: nothing yet, or under Existing::Replace a regular file. Its mode, when
// it exists.
std::optional<mode_t> check_target(const fs::path& target, Existing existing) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) return std::nullopt;
    if (S_ISDIR(st.st_mode)) throw OutputFileError(EISDIR);
    if (existing == Existing::Keep) throw OutputFileError(EEXIST);
    if (!S_ISREG(st.st_mode)) throw OutputFileError(0);
    return st.st_mode & 07777;
}

// Renames `from` to `to` unless `to` exists, atomically where the filesystem can tell: without
// RENAME_NOREPLACE a hard link fails just as surely; without links only a last look is left.
int move_without_replacing(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP) return errno;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

fs::path numbered_name(const fs::path& wanted, int n) {
    if (n == 1) return wanted;
    return wanted.parent_path() /
           fmt::format("{} ({}){}", wanted.stem().string(), n, wanted.extension().string());
}

fs::path free_name(const fs::path& wanted, FunctionRef<bool(const fs::path&)> usable) {
    for (int n = 1;; ++n) {
        fs::path candidate = numbered_name(wanted, n);
        if (usable(candidate)) return candidate;
    }
}

fs::path free_name(const fs::path& wanted) {
    return free_name(wanted, [](const fs::path& candidate) {
        struct stat st {};
        return ::lstat(candidate.c_str(), &st) != 0;
    });
}

bool folder_writable(const fs::path& file) {
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    std::error_code ec;
    return fs::is_directory(folder, ec) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

OutputFileError::OutputFileError(int error) : std::runtime_error(reason_of(error)), m_error(error) {}

OutputFile::OutputFile(const fs::path& target, Existing existing) : m_target(target), m_existing(existing) {
    check_target(target, existing);
    std::string prefix = target.filename().string() + ".";
    if (prefix.size() + 10 > kMaxFileName) prefix = ".bremora.";
    m_fd = m_temp.create(folder_of(target), prefix, ".tmp");
    if (m_fd < 0) throw OutputFileError(errno);
}

OutputFile::~OutputFile() {
    if (m_fd >= 0) ::close(m_fd);
}

void OutputFile::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw OutputFileError(n < 0 ? errno : EIO);
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

void OutputFile::close() {
    if (m_fd < 0) return;
    const int fd = m_fd;
    m_fd = -1;
    // EINVAL: a filesystem that cannot sync; what was written stands.
    int error = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    if (::close(fd) != 0 && errno != EINTR && error == 0) error = errno;
    if (error != 0) throw OutputFileError(error);
}

void OutputFile::commit() {
    close();
    mode_t mode;
    if (const std::optional<mode_t> existing = check_target(m_target, m_existing)) {
        mode = *existing;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // The temporary file was made readable by its owner only.
    ::chmod(m_temp.path().c_str(), mode);
    const int error = m_existing == Existing::Replace
                          ? (::rename(m_temp.path().c_str(), m_target.c_str()) == 0 ? 0 : errno)
                          : move_without_replacing(m_temp.path(), m_target);
    if (error != 0) throw OutputFileError(error);
    m_temp.release();
    // The new name on disk as well, not only the data.
    const int dir = ::open(folder_of(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace workbook
