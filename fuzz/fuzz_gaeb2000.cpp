// SPDX-License-Identifier: MIT
// The GAEB 2000 reader alone.
#include "fuzz/harness.h"
#include "gaeb2000/gaeb2000.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    fuzz::run_reader(in, workbook::GaebFormat::Gaeb2000, fuzz::write_input(in.body, "input.p83"),
                     [](workbook::Reading& r, std::string_view) { gaeb2000::gaeb2k_start(r); });
    return 0;
}
