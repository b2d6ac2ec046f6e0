// SPDX-License-Identifier: MIT
#include "tests/support/reference/zip_part.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <vector>

#include "workbook/xlsx/positioned_file.h"

namespace testsupport {

namespace {

using workbook::xlsx::PositionedFile;

constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kDirectoryEntry = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr size_t kEndSize = 22, kEntrySize = 46, kLocalSize = 30;
// A part to rewrite, and what follows it, is small: the document properties come last.
constexpr uint64_t kMaxPartBytes = uint64_t{64} << 20;

uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void set16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v & 0xff);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xff);
}
void set32(unsigned char* p, uint32_t v) {
    set16(p, v & 0xffff);
    set16(p + 2, v >> 16);
}

// The archive's directory and the entry of one part.
struct Archive {
    std::vector<unsigned char> end;        // the end record with its comment
    std::vector<unsigned char> directory;  // all directory entries
    uint64_t directory_offset = 0;
    size_t entry = 0;  // offset of the part's entry in `directory`
    // The part's local record: header, name and extra field, then its data.
    uint64_t local = 0, data = 0, packed = 0, size = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
};

// Reads the directory of `file` and finds `name`; false with `result` telling why.
bool open_archive(const PositionedFile& file, std::string_view name, Archive& a, ZipEdit& result) {
    auto fault = [&](std::string what) {
        result.fault = std::move(what);
        return false;
    };
    auto read_error = [&] {
        result.error = errno ? errno : EIO;
        return false;
    };
    const int64_t file_size = file.size();
    if (file_size < 0) return read_error();
    if (file_size < static_cast<int64_t>(kEndSize)) return fault("zu kurz für ein Zip-Archiv");
    const uint64_t tail_size = static_cast<uint64_t>(std::min<int64_t>(file_size, kEndSize + 65535));
    std::vector<unsigned char> tail(tail_size);
    const uint64_t tail_start = static_cast<uint64_t>(file_size) - tail_size;
    if (!file.read(tail_start, tail.data(), tail.size())) return read_error();
    size_t end = tail.size() - kEndSize + 1;
    while (end-- > 0)
        if (le32(&tail[end]) == kEndOfDirectory && end + kEndSize + le16(&tail[end + 20]) == tail.size())
            break;
    if (end == static_cast<size_t>(-1)) return fault("kein Zip-Verzeichnis");
    a.end.assign(tail.begin() + static_cast<std::ptrdiff_t>(end), tail.end());
    const uint16_t entries = le16(&a.end[10]);
    const uint32_t directory_size = le32(&a.end[12]);
    a.directory_offset = le32(&a.end[16]);
    if (le16(&a.end[4]) != 0 || le16(&a.end[6]) != 0 || le16(&a.end[8]) != entries)
        return fault("mehrteiliges Archiv");
    if (a.directory_offset + directory_size != tail_start + end) return fault("Verzeichnis nicht am Ende");
    a.directory.resize(directory_size);
    if (!file.read(a.directory_offset, a.directory.data(), a.directory.size())) return read_error();

    bool found = false;
    size_t at = 0;
    for (uint16_t i = 0; i < entries; ++i) {
        if (at + kEntrySize > a.directory.size() || le32(&a.directory[at]) != kDirectoryEntry)
            return fault("Verzeichnis beschädigt");
        const unsigned char* p = &a.directory[at];
        const size_t length = kEntrySize + le16(p + 28) + le16(p + 30) + le16(p + 32);
        if (at + length > a.directory.size()) return fault("Verzeichnis beschädigt");
        if (le32(p + 20) == 0xffffffff || le32(p + 24) == 0xffffffff || le32(p + 42) == 0xffffffff)
            return fault("Zip64-Archiv");
        const std::string_view entry_name(reinterpret_cast<const char*>(p + kEntrySize), le16(p + 28));
        if (entry_name == name) {
            if (found) return fault(std::string(name) + " doppelt");
            found = true;
            a.entry = at;
            a.method = le16(p + 10);
            a.crc = le32(p + 16);
            a.packed = le32(p + 20);
            a.size = le32(p + 24);
            a.local = le32(p + 42);
            if (le16(p + 8) & (1u | 8u))
                return fault(std::string(name) + ": verschlüsselt oder mit Datendeskriptor");
        }
        at += length;
    }
    if (!found) return fault(std::string(name) + " fehlt");
    if (a.method != 0 && a.method != Z_DEFLATED) return fault(std::string(name) + ": unbekannte Kompression");
    if (a.size > kMaxPartBytes) return fault(std::string(name) + ": zu groß");

    unsigned char local[kLocalSize];
    if (!file.read(a.local, local, sizeof local)) return read_error();
    if (le32(local) != kLocalHeader) return fault(std::string(name) + ": lokaler Kopf beschädigt");
    a.data = a.local + kLocalSize + le16(local + 26) + le16(local + 28);
    if (a.data + a.packed > a.directory_offset)
        return fault(std::string(name) + ": Daten reichen in das Verzeichnis");
    return true;
}

// The part's bytes, checked against its size and CRC.
bool read_part(const PositionedFile& file, const Archive& a, std::string_view name, std::string& out,
               ZipEdit& result) {
    std::vector<unsigned char> packed(a.packed);
    if (!file.read(a.data, packed.data(), packed.size())) {
        result.error = errno ? errno : EIO;
        return false;
    }
    if (a.method == 0) {
        out.assign(packed.begin(), packed.end());
    } else {
        out.assign(a.size, '\0');
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
        z.next_in = packed.data();
        z.avail_in = static_cast<uInt>(packed.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        const int status = inflate(&z, Z_FINISH);
        const bool whole = status == Z_STREAM_END && z.avail_out == 0 && z.avail_in == 0;
        inflateEnd(&z);
        if (status == Z_MEM_ERROR) throw std::bad_alloc();
        if (!whole) {
            result.fault = std::string(name) + ": Kompression unvollständig";
            return false;
        }
    }
    if (out.size() != a.size ||
        crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size())) != a.crc) {
        result.fault = std::string(name) + ": Prüfsumme falsch";
        return false;
    }
    return true;
}

std::string deflate_bytes(std::string_view data) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END) throw std::bad_alloc();
    return out;
}

}  // namespace

std::optional<std::string> read_zip_part(const std::filesystem::path& path, std::string_view name,
                                         ZipEdit* result) {
    ZipEdit local;
    ZipEdit& r = result ? *result : local;
    const PositionedFile file(path, O_RDONLY);
    if (!file.is_open()) {
        r.error = errno;
        return std::nullopt;
    }
    Archive a;
    std::string bytes;
    if (!open_archive(file, name, a, r) || !read_part(file, a, name, bytes, r)) return std::nullopt;
    r.ok = true;
    return bytes;
}

ZipEdit rewrite_zip_part(const std::filesystem::path& path, std::string_view name,
                         workbook::FunctionRef<std::string(std::string_view)> change) {
    ZipEdit result;
    const PositionedFile file(path, O_RDWR);
    if (!file.is_open()) {
        result.error = errno;
        return result;
    }
    Archive a;
    std::string old_bytes;
    if (!open_archive(file, name, a, result) || !read_part(file, a, name, old_bytes, result)) return result;
    const std::string new_bytes = change(old_bytes);
    const std::string packed = deflate_bytes(new_bytes);

    // The new local record: the old header with method, CRC and sizes changed, name and extra as
    // they were, the new data; then everything between the old record and the directory.
    const uint64_t moved_from = a.data + a.packed;
    if (a.directory_offset - moved_from > kMaxPartBytes) {
        result.fault = std::string(name) + ": zu viele Daten danach";
        return result;
    }
    std::vector<unsigned char> record(a.data - a.local);
    std::vector<unsigned char> moved(a.directory_offset - moved_from);
    if (!file.read(a.local, record.data(), record.size()) ||
        !file.read(moved_from, moved.data(), moved.size())) {
        result.error = errno ? errno : EIO;
        return result;
    }
    const auto crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(new_bytes.data()), static_cast<uInt>(new_bytes.size())));
    set16(&record[8], Z_DEFLATED);
    set32(&record[14], crc);
    set32(&record[18], static_cast<uint32_t>(packed.size()));
    set32(&record[22], static_cast<uint32_t>(new_bytes.size()));

    const uint64_t record_end = a.data + packed.size();
    const uint64_t directory_offset = record_end + moved.size();
    if (directory_offset + a.directory.size() + a.end.size() > 0xffffffffu) {
        result.fault = "Archiv zu groß";
        return result;
    }
    // Entries of the parts that moved point to their new place.
    const auto shift = static_cast<int64_t>(record_end) - static_cast<int64_t>(moved_from);
    for (size_t at = 0; at < a.directory.size();) {
        unsigned char* p = &a.directory[at];
        if (at == a.entry) {
            set16(p + 10, Z_DEFLATED);
            set32(p + 16, crc);
            set32(p + 20, static_cast<uint32_t>(packed.size()));
            set32(p + 24, static_cast<uint32_t>(new_bytes.size()));
        } else if (le32(p + 42) > a.local) {
            set32(p + 42, static_cast<uint32_t>(static_cast<int64_t>(le32(p + 42)) + shift));
        }
        at += kEntrySize + le16(p + 28) + le16(p + 30) + le16(p + 32);
    }
    set32(&a.end[16], static_cast<uint32_t>(directory_offset));

    if (!file.write(a.local, record.data(), record.size()) ||
        !file.write(a.data, packed.data(), packed.size()) ||
        !file.write(record_end, moved.data(), moved.size()) ||
        !file.write(directory_offset, a.directory.data(), a.directory.size()) ||
        !file.write(directory_offset + a.directory.size(), a.end.data(), a.end.size()) ||
        !file.truncate(directory_offset + a.directory.size() + a.end.size())) {
        result.error = errno ? errno : EIO;
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace testsupport
