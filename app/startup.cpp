// SPDX-License-Identifier: MIT
#include <clocale>
#include <cstdlib>

#include "app/controller.h"
#include "app/version.h"

namespace app {

std::filesystem::path MacheDirName(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    if (path.empty()) return ".";
    return path;
}

workbook::StartupValues startup_values() {
    workbook::StartupValues v;
    // The locale's separators, read once; the caller has called setlocale(LC_ALL, "").
    const std::lconv* lc = std::localeconv();
    const std::string thousands = lc && lc->thousands_sep ? lc->thousands_sep : "";
    const std::string decimal = lc && lc->decimal_point && *lc->decimal_point ? lc->decimal_point : ".";
    v.money_format = workbook::make_money_format(thousands, decimal);
    v.quantity_format = workbook::make_quantity_format(decimal);
    v.application = std::string("Bremora ") + kVersion;
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    v.temp_folder = ec ? std::filesystem::path(".") : MacheDirName(temp.string());
    return v;
}

}  // namespace app
