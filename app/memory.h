// SPDX-License-Identifier: MIT
// Running out of memory. A reserve set aside at start is given back once the run has stopped, so
// that it can still end in order (the partial workbook tidied and saved), and a failed allocation
// is marked even where the code that met it caught it and went on.
#pragma once

#include <cstddef>

namespace app {

// Sets aside `reserve` bytes and watches every allocation through operator new and the XML
// parser's allocator. Once per program, before the first conversion.
void install_memory_guard(size_t reserve);

// An allocation has failed since the last reset.
bool memory_exhausted();
void reset_memory_exhausted();
// Marks it for a failure met elsewhere (a library's own allocation, a std::bad_alloc caught).
void mark_memory_exhausted();

// Gives the reserve back (nothing when it is gone already).
void release_memory_reserve();

}  // namespace app
