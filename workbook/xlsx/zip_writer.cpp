// SPDX-License-Identifier: MIT
#include "workbook/xlsx/zip_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace workbook::xlsx {

namespace {

constexpr size_t kBufferSize = size_t{1} << 16;
constexpr uint64_t kLimit = 0xFFFFFFFFu;
// 1980-01-01 00:00, the earliest time the format can hold: equal models give equal files.
constexpr uint16_t kDosTime = 0, kDosDate = (1 << 5) | 1;
constexpr uint16_t kVersion = 20;  // deflate, no Zip64
constexpr uint16_t kDeflated = 8;

void le16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void le32(std::vector<uint8_t>& out, uint64_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

[[noreturn]] void throw_errno(int error) {
    throw std::system_error(error ? error : EIO, std::generic_category());
}

void write_all(int fd, const uint8_t* data, size_t n) {
    while (n > 0) {
        const ssize_t done = ::write(fd, data, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) throw_errno(done < 0 ? errno : ENOSPC);
        data += done;
        n -= static_cast<size_t>(done);
    }
}

}  // namespace

void ZipWriter::local_header(const Entry& e, std::vector<uint8_t>& out) const {
    le32(out, 0x04034b50);
    le16(out, kVersion);
    le16(out, 0);  // flags
    le16(out, kDeflated);
    le16(out, kDosTime);
    le16(out, kDosDate);
    le32(out, e.crc);
    le32(out, e.packed);
    le32(out, e.size);
    le16(out, static_cast<uint16_t>(e.name.size()));
    le16(out, 0);  // extra field
    out.insert(out.end(), e.name.begin(), e.name.end());
}

void ZipWriter::put(const uint8_t* data, size_t n) {
    m_offset += n;
    if (m_buffer.size() + n > kBufferSize) flush();
    if (n >= kBufferSize) {
        write_all(m_fd, data, n);
        return;
    }
    m_buffer.insert(m_buffer.end(), data, data + n);
}

void ZipWriter::flush() {
    if (m_buffer.empty()) return;
    write_all(m_fd, m_buffer.data(), m_buffer.size());
    m_buffer.clear();
}

void ZipWriter::add(std::string_view name, const std::vector<uint8_t>& packed, uint32_t crc, uint64_t size) {
    if (size > kLimit || packed.size() > kLimit || m_offset > kLimit) throw ZipTooLarge{};
    Entry e{std::string(name), crc, packed.size(), size, m_offset};
    std::vector<uint8_t> header;
    local_header(e, header);
    put(header.data(), header.size());
    put(packed.data(), packed.size());
    m_entries.push_back(std::move(e));
}

void ZipWriter::begin(std::string_view name) {
    if (m_offset > kLimit) throw ZipTooLarge{};
    Entry e{std::string(name), 0, 0, 0, m_offset};
    std::vector<uint8_t> header;
    local_header(e, header);
    put(header.data(), header.size());
    m_entries.push_back(std::move(e));
    m_open = true;
}

void ZipWriter::write(const uint8_t* data, size_t n) {
    Entry& e = m_entries.back();
    e.packed += n;
    if (e.packed > kLimit) throw ZipTooLarge{};
    put(data, n);
}

void ZipWriter::end(uint32_t crc, uint64_t size) {
    Entry& e = m_entries.back();
    if (size > kLimit) throw ZipTooLarge{};
    e.crc = crc;
    e.size = size;
    m_open = false;
    // Checksum and sizes into the header written before the part's bytes.
    std::vector<uint8_t> fields;
    le32(fields, e.crc);
    le32(fields, e.packed);
    le32(fields, e.size);
    const uint64_t at = e.header + 14;
    const uint64_t flushed = m_offset - m_buffer.size();
    if (at >= flushed) {
        std::memcpy(m_buffer.data() + (at - flushed), fields.data(), fields.size());
        return;
    }
    flush();
    size_t done = 0;
    while (done < fields.size()) {
        const ssize_t n =
            ::pwrite(m_fd, fields.data() + done, fields.size() - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw_errno(n < 0 ? errno : EIO);
        done += static_cast<size_t>(n);
    }
}

void ZipWriter::finish() {
    const uint64_t directory = m_offset;
    if (directory > kLimit || m_entries.size() > 0xFFFF) throw ZipTooLarge{};
    std::vector<uint8_t> out;
    for (const Entry& e : m_entries) {
        le32(out, 0x02014b50);
        le16(out, kVersion);  // made by: MS-DOS attributes
        le16(out, kVersion);
        le16(out, 0);
        le16(out, kDeflated);
        le16(out, kDosTime);
        le16(out, kDosDate);
        le32(out, e.crc);
        le32(out, e.packed);
        le32(out, e.size);
        le16(out, static_cast<uint16_t>(e.name.size()));
        le16(out, 0);  // extra field
        le16(out, 0);  // comment
        le16(out, 0);  // disk
        le16(out, 0);  // internal attributes
        le32(out, 0);  // external attributes
        le32(out, e.header);
        out.insert(out.end(), e.name.begin(), e.name.end());
    }
    const uint64_t directory_size = out.size();
    le32(out, 0x06054b50);
    le16(out, 0);
    le16(out, 0);
    le16(out, static_cast<uint16_t>(m_entries.size()));
    le16(out, static_cast<uint16_t>(m_entries.size()));
    le32(out, directory_size);
    le32(out, directory);
    le16(out, 0);  // comment
    put(out.data(), out.size());
    flush();
}

}  // namespace workbook::xlsx
