// SPDX-License-Identifier: MIT
// The parts of an Office Open XML package (a zip archive) read with bounded sizes. Internal to
// angebot/; the only code that includes zip.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "angebot/priced_workbook.h"

struct zip;

namespace angebot {

class ZipPackage {
public:
    // `what` names the workbook in messages: "Die Arbeitsmappe \"Angebot.xlsx\"".
    // Both throw AngebotError when the archive cannot be opened or holds a part name twice (also
    // in other letter case), std::bad_alloc when memory runs out.
    ZipPackage(const std::filesystem::path& path, std::string what, const ReadLimits& limits);
    ZipPackage(std::string_view bytes, std::string what, const ReadLimits& limits);
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    // The part's bytes; nullopt when the archive has no such part (names compared exactly, then
    // without letter case, as part names are). Throws AngebotError when it cannot be read or is
    // larger than the limits allow.
    std::optional<std::string> read(std::string_view name);

    const std::string& what() const { return m_what; }

private:
    void open_source(void* source);
    void refuse_duplicates();
    struct zip* m_zip = nullptr;
    std::string m_what;
    std::string m_head;  // the first bytes of the file, to tell an encrypted workbook
    ReadLimits m_limits;
    uint64_t m_total = 0;
};

}  // namespace angebot
