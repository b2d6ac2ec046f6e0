// SPDX-License-Identifier: MIT
// The GAEB 90 reader alone, on the input taken as its normalised copy.
#include <sstream>
#include <string>

#include "fuzz/harness.h"
#include "gaeb90/gaeb90.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    fuzz::run_reader(in, workbook::GaebFormat::Gaeb90, fuzz::temp_folder() / "none.tmp",
                     [](workbook::Reading& r, std::string_view body) {
                         std::istringstream records{std::string(body)};
                         gaeb90::sa0(r, records);
                     });
    return 0;
}
