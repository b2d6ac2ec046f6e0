// SPDX-License-Identifier: MIT
// The RTF reader of GAEB 2000 long texts alone.
#include <string>
#include <string_view>

#include "gaeb2000/rtf_to_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = gaeb2000::RTFtoText(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)text;
    return 0;
}
