// SPDX-License-Identifier: MIT
// A file read and written at given offsets (pread/pwrite), retried on EINTR; closed with the
// object. Used by the save's read-back check and by the tests' rewrite of a single package part.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>

namespace workbook::xlsx {

class PositionedFile {
public:
    // `flags` as for open(2); O_CLOEXEC is added. is_open() tells whether it worked (errno set).
    PositionedFile(const std::filesystem::path& path, int flags)
        : m_fd(::open(path.c_str(), flags | O_CLOEXEC)) {}
    ~PositionedFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    PositionedFile(const PositionedFile&) = delete;
    PositionedFile& operator=(const PositionedFile&) = delete;

    bool is_open() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // -1 with errno set on failure.
    int64_t size() const {
        struct stat st {};
        return ::fstat(m_fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    }
    // Exactly `n` bytes at `offset`; false on a read error (errno set) or past the end (errno 0).
    bool read(uint64_t offset, void* data, size_t n) const {
        auto* out = static_cast<unsigned char*>(data);
        while (n > 0) {
            const ssize_t got = ::pread(m_fd, out, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                if (got == 0) errno = 0;
                return false;
            }
            out += got;
            offset += static_cast<uint64_t>(got);
            n -= static_cast<size_t>(got);
        }
        return true;
    }
    // Exactly `n` bytes at `offset`; false with errno set.
    bool write(uint64_t offset, const void* data, size_t n) const {
        const auto* in = static_cast<const unsigned char*>(data);
        while (n > 0) {
            const ssize_t put = ::pwrite(m_fd, in, n, static_cast<off_t>(offset));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                if (put == 0) errno = EIO;
                return false;
            }
            in += put;
            offset += static_cast<uint64_t>(put);
            n -= static_cast<size_t>(put);
        }
        return true;
    }
    bool truncate(uint64_t length) const { return ::ftruncate(m_fd, static_cast<off_t>(length)) == 0; }

private:
    int m_fd;
};

}  // namespace workbook::xlsx
