// SPDX-License-Identifier: MIT
// The end of every temporary file on a signal, and the copy of an input that can be read only
// once (standard input, a pipe, a FIFO, a device).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "workbook/temp_files.h"

namespace app {

// SIGINT, SIGTERM and SIGHUP remove every temporary file of the program, then end it as the signal
// would have. A signal that was ignored when the program started stays ignored.
void install_temp_cleanup_handlers();

// The most an input that is not a regular file may hold: 2 GiB.
constexpr uint64_t kInputLimit = uint64_t{2} << 30;

// What a file that is not a regular one is, for messages: "eine benannte Pipe (FIFO)", ...
const char* file_kind_text(unsigned mode);

// True for "-" (standard input) and for an existing input that is not a regular file or folder.
bool read_once(const std::filesystem::path& input);

struct Spooled {
    enum Status { Copied, TooLarge, ReadFailed, WriteFailed };
    Status status = Copied;
    int error = 0;  // errno of a failed read, write or create
};
// Copies everything `fd` gives into a new temporary file `copy` in `folder`, refusing past `limit`
// bytes; on failure the copy is removed.
Spooled spool_input(int fd, workbook::TempFile& copy, const std::filesystem::path& folder, uint64_t limit);

}  // namespace app
