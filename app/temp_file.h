// SPDX-License-Identifier: MIT
// The GAEB 90 normalised copy: a uniquely named file created exclusively in TempFolder and
// removed on every way out, including a run ended by SIGINT or SIGTERM.
#pragma once

#include <filesystem>
#include <string>

namespace app {

class TempCopy {
public:
    TempCopy() = default;
    ~TempCopy() { remove(); }
    TempCopy(const TempCopy&) = delete;
    TempCopy& operator=(const TempCopy&) = delete;

    // Creates "bremora-XXXXXX.tmp" in `folder` with O_EXCL and mode 0600; returns its descriptor
    // or -1 (errno set).
    int create(const std::filesystem::path& folder);
    void remove();
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Installs handlers for SIGINT and SIGTERM that remove the current copy and end the program.
void install_temp_cleanup_handlers();

}  // namespace app
