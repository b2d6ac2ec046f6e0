// SPDX-License-Identifier: MIT
// A zip archive written front to back on a descriptor: each part's local header, its deflated
// bytes, and at the end the directory. A streamed part's header gets its checksum and sizes once
// the part is complete (written in place), so no data descriptors are needed. Every write is
// checked: a failure throws std::system_error with the system's errno.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace workbook::xlsx {

// A part or the archive that would pass 4 GiB, which the archive format holds only with Zip64.
struct ZipTooLarge {};

class ZipWriter {
public:
    explicit ZipWriter(int fd) : m_fd(fd) {}

    // A part with all its deflated bytes at hand.
    void add(std::string_view name, const std::vector<uint8_t>& packed, uint32_t crc, uint64_t size);
    // A part written in pieces: its header, then its deflated bytes, then its checksum and size.
    void begin(std::string_view name);
    void write(const uint8_t* data, size_t n);
    void end(uint32_t crc, uint64_t size);
    // The directory and its end record; the file is complete once this has returned.
    void finish();

private:
    struct Entry {
        std::string name;
        uint32_t crc = 0;
        uint64_t packed = 0, size = 0, header = 0;
    };
    void local_header(const Entry& e, std::vector<uint8_t>& out) const;
    void put(const uint8_t* data, size_t n);
    void flush();

    int m_fd;
    uint64_t m_offset = 0;  // bytes of the archive written or buffered
    std::vector<uint8_t> m_buffer;
    std::vector<Entry> m_entries;
    bool m_open = false;
};

}  // namespace workbook::xlsx
