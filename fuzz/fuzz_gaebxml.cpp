// SPDX-License-Identifier: MIT
// The GAEB DA XML reader alone.
#include "fuzz/harness.h"
#include "gaebxml/gaebxml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    fuzz::run_reader(in, workbook::GaebFormat::Xml, fuzz::write_input(in.body, "input.x83"),
                     [](workbook::Reading& r, std::string_view) { gaebxml::gaebxml_start(r); });
    return 0;
}
