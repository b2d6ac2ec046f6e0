// SPDX-License-Identifier: MIT
// Format detection, the GAEB 90 normalised copy and whichever reader the input reaches.
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::run_controller(fuzz::split(data, size));
    return 0;
}
