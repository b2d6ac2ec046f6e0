// SPDX-License-Identifier: MIT
// What the console program may write to: the rules for a file named with -o, shared by the
// workbook of a conversion, the bid and the report. Free names, the writable folder and the
// writing itself: workbook/output_file.h.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// Why `output` must not be written, or nothing: it is one of the `inputs` ("-": standard input;
// the same file under another name or through a link counts too), a folder, no regular file
// (pipe, device, socket, link), or an existing file without `overwrite`, or a write-protected one.
// `noun` names the file in the message ("Die Ausgabedatei", "Die Berichtsdatei").
std::optional<std::string> refuse_output(const std::filesystem::path& output,
                                         const std::vector<std::filesystem::path>& inputs, bool overwrite,
                                         std::string_view noun = "Die Ausgabedatei");

}  // namespace app
