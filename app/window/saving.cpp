// SPDX-License-Identifier: MIT
#include "app/window/saving.h"

#include <unistd.h>

#include "app/command_line.h"

namespace app::window {

bool folder_writable(const std::filesystem::path& file) {
    std::filesystem::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::filesystem::path workbook_target(const std::filesystem::path& input, bool input_folder_writable,
                                      const std::filesystem::path& documents) {
    if (input_folder_writable) return app::derived_output(input);
    std::filesystem::path name = input.filename();
    name.replace_extension(".xlsx");
    return app::free_name(documents / name);
}

}  // namespace app::window
