// SPDX-License-Identifier: MIT
// Where the window saves a converted workbook.
#pragma once

#include <filesystem>

namespace app::window {

// The input's name with the extension .xlsx, next to the input when its folder is writable,
// else in `documents`; never an existing file ("Name (2).xlsx", ... instead).
std::filesystem::path workbook_target(const std::filesystem::path& input, bool input_folder_writable,
                                      const std::filesystem::path& documents);

}  // namespace app::window
