// SPDX-License-Identifier: MIT
// The program's temporary files: the GAEB 90 copy, the copy of an input that cannot be read twice,
// the workbook being saved and the writer's own data. Each one is listed, from the moment it exists
// until it is removed or renamed into place, in a fixed table that a signal handler can walk, so
// that an interrupted run leaves none of them behind.
#pragma once

#include <filesystem>
#include <string_view>

namespace workbook {

class TempFile {
public:
    TempFile() = default;
    ~TempFile() { remove(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Creates `folder`/`prefix`XXXXXX`suffix` with O_EXCL and mode 0600 and lists it. Returns its
    // descriptor, or -1 with errno set (EMFILE when the table is full); any earlier file of this
    // object is removed first.
    int create(const std::filesystem::path& folder, std::string_view prefix, std::string_view suffix);
    // Deletes the file and forgets it; nothing when there is none.
    void remove();
    // Forgets the file without deleting it, once it has been renamed into place.
    void release();
    // Empty when there is no file.
    const std::filesystem::path& path() const { return m_path; }

private:
    int m_slot = -1;
    std::filesystem::path m_path;
};

// Deletes every listed file. Only unlink(2) and atomics: safe inside a signal handler.
void remove_temp_files_now() noexcept;

// From now on the path of every file create() makes is also written to `fd`, one per line, just
// before the file is made: a process that watches this one can remove what it left when it dies
// without the chance to (SIGKILL). A name listed may not have come to exist. -1 stops it.
void log_temp_files_to(int fd) noexcept;

}  // namespace workbook
