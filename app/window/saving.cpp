// SPDX-License-Identifier: MIT
#include "app/window/saving.h"

#include "app/command_line.h"
#include "workbook/output_file.h"

namespace app::window {

std::filesystem::path workbook_target(const std::filesystem::path& input, bool input_folder_writable,
                                      const std::filesystem::path& documents) {
    if (input_folder_writable) return app::derived_output(input);
    std::filesystem::path name = input.filename();
    name.replace_extension(".xlsx");
    return workbook::free_name(documents / name);
}

}  // namespace app::window
