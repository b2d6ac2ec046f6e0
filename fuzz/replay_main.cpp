// SPDX-License-Identifier: MIT
// Replays inputs through a fuzz target without libFuzzer, so that the normal build (and its
// sanitizer build) runs the regression inputs and the test fixtures as a test.
//
//   replay_TARGET [--every-option] PATH...
//
// A PATH is a file or a folder (read recursively, in name order). Files named before
// --every-option are passed as they stand, option byte included; files named after it are bills
// without one and are run once for each of the 128 option bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::filesystem::path> files_of(const std::filesystem::path& path) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(path)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(path);
    }
    return files;
}

void run(const std::string& bytes) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    bool every_option = false;
    std::size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--every-option") {
            every_option = true;
            continue;
        }
        if (!std::filesystem::exists(arg)) {
            std::fprintf(stderr, "%s: not found\n", arg.c_str());
            return 2;
        }
        for (const auto& file : files_of(arg)) {
            std::ifstream in(file, std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            if (!every_option) {
                run(bytes);
                ++runs;
                continue;
            }
            for (int option = 0; option < 128; ++option) {
                run(static_cast<char>(option) + bytes);
                ++runs;
            }
        }
    }
    std::printf("%zu runs\n", runs);
    return runs > 0 ? 0 : 2;
}
