// SPDX-License-Identifier: MIT
// The files the program writes for the user (workbook, bid, report): how a free name is chosen,
// whether a folder takes new files, and how a file is written without ever leaving a half-written
// one or touching an existing one before the new one is complete and on disk.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "workbook/function_ref.h"
#include "workbook/temp_files.h"

namespace workbook {

// `wanted` with " (n)" before its extension: "Name (2).xlsx"; n == 1 gives `wanted` itself.
std::filesystem::path numbered_name(const std::filesystem::path& wanted, int n);

// `wanted` when `usable` takes it, else the first "Name (2).ext", "Name (3).ext", ... that it takes.
std::filesystem::path free_name(const std::filesystem::path& wanted,
                                FunctionRef<bool(const std::filesystem::path&)> usable);
// The same for names that nothing has: no file, folder or link, not even a broken one.
std::filesystem::path free_name(const std::filesystem::path& wanted);

// True when files can be created in the folder of `file` (the working folder when it names none).
bool folder_writable(const std::filesystem::path& file);

// What becomes of a file that already has the target's name.
enum class Existing {
    Keep,     // the target is not written (EEXIST)
    Replace,  // a regular file is replaced, keeping its permissions; anything else is never replaced
};

// A step of writing an output file failed. error(): its errno; 0 when the target exists but is no
// regular file. what(): the reason in German ("Kein Speicherplatz mehr auf dem Gerät").
class OutputFileError : public std::runtime_error {
public:
    explicit OutputFileError(int error);
    int error() const noexcept { return m_error; }

private:
    int m_error;
};

// A new file for `target`, written under a temporary name beside it ("NAME.XXXXXX.tmp", one of
// the program's listed temporary files, so that a signal or a watching batch removes it) and put
// in its place by commit(): data and name synced to disk, never over a file that `existing` keeps.
// Until then, and when anything fails, the target is untouched and the temporary file removed.
// Every failure throws OutputFileError.
class OutputFile {
public:
    // Refuses at once what commit() would refuse: a folder (EISDIR), an existing file under
    // Existing::Keep (EEXIST), anything but a regular file.
    OutputFile(const std::filesystem::path& target, Existing existing);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The open temporary file, for writers that write on their own; -1 after close().
    int fd() const { return m_fd; }
    const std::filesystem::path& temp_path() const { return m_temp.path(); }

    // Writes all of `bytes` at the current position.
    void write(std::string_view bytes);
    // Syncs the data to disk and closes the file; a writer may read it back afterwards.
    void close();
    // close() when still open, then the name: the permissions of the file it replaces or those a
    // new file gets, the rename (under Existing::Keep one that fails when the target has appeared
    // meanwhile, where the filesystem can tell), and the folder synced.
    void commit();

private:
    std::filesystem::path m_target;
    Existing m_existing;
    TempFile m_temp;
    int m_fd = -1;
};

}  // namespace workbook
