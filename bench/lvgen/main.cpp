// SPDX-License-Identifier: MIT
// bremora-lvgen: writes a synthetic bill of quantities for tests and benchmarks (bench/lvgen/lvgen.h).
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "bench/lvgen/lvgen.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") {
            std::fputs(lvgen::usage().c_str(), stdout);
            return 0;
        }
    std::string error;
    const auto options = lvgen::parse_arguments(args, error);
    if (!options) {
        std::fprintf(stderr, "bremora-lvgen: %s\n\"bremora-lvgen --help\" zeigt alle Optionen.\n",
                     error.c_str());
        return 2;
    }
    const bool to_stdout = options->output == "-";
    std::FILE* out = to_stdout ? stdout : std::fopen(options->output.c_str(), "wb");
    if (!out) {
        std::perror(("bremora-lvgen: " + options->output).c_str());
        return 1;
    }
    try {
        const lvgen::Summary s = lvgen::write_bill(*options, out);
        if (std::fflush(out) != 0 || (!to_stdout && std::fclose(out) != 0)) {
            std::perror(("bremora-lvgen: " + options->output).c_str());
            return 1;
        }
        if (!options->quiet)
            std::fprintf(stderr, "%s: %lld Positionen in %lld Bereichen, Summe %lld,%02lld, %lld Bytes\n",
                         options->output.c_str(), static_cast<long long>(s.items),
                         static_cast<long long>(s.ranges), static_cast<long long>(s.total_cents / 100),
                         static_cast<long long>(s.total_cents % 100), static_cast<long long>(s.bytes));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bremora-lvgen: %s: %s\n", options->output.c_str(), e.what());
        return 1;
    }
    return 0;
}
