// SPDX-License-Identifier: MIT
#include "app/options.h"

#include <algorithm>
#include <iterator>

namespace app {

namespace {

// The workbook options lead the table.
constexpr size_t kWorkbookOptions = [] {
    size_t n = 0;
    while (n < std::size(kOptionTable) && kOptionTable[n].field) ++n;
    return n;
}();
static_assert(kWorkbookOptions == 6);
static_assert(std::none_of(std::begin(kOptionTable) + kWorkbookOptions, std::end(kOptionTable),
                           [](const OptionSpec& o) { return o.field != nullptr; }));

// Where the help of every option begins in --help.
constexpr size_t kHelpColumn = 30;

}  // namespace

std::span<const OptionSpec> workbook_options() {
    return std::span(kOptionTable).first(kWorkbookOptions);
}

std::vector<std::string> workbook_switches(const workbook::ConversionOptions& options) {
    std::vector<std::string> switches;
    for (const OptionSpec& o : workbook_options())
        if (options.*o.field == o.given) switches.emplace_back(o.name);
    return switches;
}

const OptionSpec* find_option(std::string_view arg) {
    const std::string_view name = arg.substr(0, arg.find('='));
    for (const OptionSpec& o : kOptionTable)
        if (name == o.name || (!o.alias.empty() && arg == o.alias)) return &o;
    return nullptr;
}

std::string option_lines(std::string_view section) {
    std::string out;
    for (const OptionSpec& o : kOptionTable) {
        if (o.section != section) continue;
        std::string line = "  ";
        if (!o.alias.empty()) line.append(o.alias).append(", ");
        line.append(o.name).append(o.value);
        line.resize(std::max(line.size() + 2, kHelpColumn), ' ');
        std::string_view help = o.help;
        for (size_t end; (end = help.find('\n')) != std::string_view::npos; help.remove_prefix(end + 1)) {
            out.append(line).append(help.substr(0, end)).append("\n");
            line.assign(kHelpColumn, ' ');
        }
        out.append(line).append(help).append("\n");
    }
    return out;
}

}  // namespace app
