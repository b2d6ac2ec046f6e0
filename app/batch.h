// SPDX-License-Identifier: MIT
// Several inputs in one call: each conversion runs as a process of its own, the console program
// called with that one input, so that one file's crash, memory exhaustion or signal never stops
// the others and every conversion keeps its own temporary files. At the end one table row per
// file with the workbook it became and, with --bericht, one report of them all.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/command_line.h"

namespace app {

// A name a folder search (--rekursiv) takes: the extensions of the exchange phases the readers
// take, GAEB 90 d81-d84, GAEB 2000 p81, p83, p84, GAEB DA XML x80-x84 and x86, and "off", in
// any case.
bool gaeb_file_name(const std::filesystem::path& file);

// The number of processors this process may run on; at least 1, at most kMaxJobs.
int default_jobs();

// Creates --ausgabeordner with its parents when missing. Returns the German usage error when
// that fails or the name is taken by something that is not a folder.
std::optional<std::string> prepare_output_folder(const std::filesystem::path& folder);

// Converts every input of `cl` (and with --rekursiv every GAEB file below a folder among them; the
// files passed over are listed with the reason, or counted with --leise), at most -j at once;
// `self` is how the program was called (argv[0]), used only where /proc/self/exe is missing.
// Returns the highest exit status of the conversions, at least 4 when the report could not be
// written, 1 when memory ran out in the batch itself. SIGINT, SIGTERM and SIGHUP end the running
// conversions, which remove their temporary files, and then the program as the signal would have.
// A conversion that dies leaves nothing behind either: the batch removes the temporary files it
// listed, and its temporary folder, held by the batch under a lock, goes with the next batch when
// the batch itself was killed.
int run_batch(const CommandLine& cl, const char* self);

// First thing in a conversion that a batch started (nothing otherwise): it ends when the batch
// dies (SIGTERM as the parent-death signal, so that its temporary files go too), and lists every
// temporary file it makes for the batch to remove should it die without the chance to.
void join_batch();

}  // namespace app
