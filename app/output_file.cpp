// SPDX-License-Identifier: MIT
#include "app/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include "app/temp_file.h"

namespace app {

std::optional<std::string> refuse_output(const std::filesystem::path& output,
                                         const std::vector<std::filesystem::path>& inputs, bool overwrite,
                                         std::string_view noun) {
    const std::string name = std::string(noun) + " " + output.string();
    struct stat out {};
    if (::lstat(output.c_str(), &out) != 0) return std::nullopt;  // a new file
    struct stat target {};
    const bool have_target = ::stat(output.c_str(), &target) == 0;
    for (const std::filesystem::path& input : inputs) {
        struct stat in {};
        const bool have_input =
            input == "-" ? ::fstat(STDIN_FILENO, &in) == 0 : ::stat(input.c_str(), &in) == 0;
        if (have_input && have_target && target.st_dev == in.st_dev && target.st_ino == in.st_ino)
            return name + " ist die Eingabedatei selbst; sie wird nicht überschrieben.";
    }
    if (S_ISDIR(out.st_mode)) return name + " ist ein Verzeichnis.";
    if (!S_ISREG(out.st_mode))
        return name + " ist " + file_kind_text(out.st_mode) + " und wird nicht ersetzt.";
    if (!overwrite) return name + " ist schon vorhanden. Mit --ueberschreiben wird sie ersetzt.";
    if ((out.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(output.c_str(), W_OK) != 0)
        return name + " ist schreibgeschützt und wird nicht ersetzt.";
    return std::nullopt;
}

}  // namespace app
