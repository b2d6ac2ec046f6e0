// SPDX-License-Identifier: MIT
#include "gaeb2000/load.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "workbook/text.h"

namespace gaeb2000 {
namespace {

constexpr std::string_view kBomUtf8 = "\xEF\xBB\xBF";
constexpr std::string_view kBomUtf16Le = "\xFF\xFE";
constexpr std::string_view kBomUtf16Be = "\xFE\xFF";

std::string decode_utf8(std::string bytes) {
    if (workbook::is_valid_utf8(bytes)) return bytes;
    return workbook::repair_utf8(bytes);
}

}  // namespace

std::string decode_gaeb2000(std::string_view bytes) {
    if (bytes.substr(0, 3) == kBomUtf8) return decode_utf8(std::string(bytes.substr(3)));
    if (bytes.substr(0, 2) == kBomUtf16Le) return workbook::utf16_to_utf8(bytes.substr(2), false);
    if (bytes.substr(0, 2) == kBomUtf16Be) return workbook::utf16_to_utf8(bytes.substr(2), true);
    return workbook::cp1252_to_utf8(bytes);
}

std::optional<std::string> read_gaeb2000(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || std::filesystem::is_directory(file, ec)) return std::nullopt;

    char head[3] = {};
    in.read(head, 3);
    const std::string_view start(head, static_cast<size_t>(in.gcount()));
    const bool unicode = start.substr(0, 3) == kBomUtf8 || start.substr(0, 2) == kBomUtf16Le ||
                         start.substr(0, 2) == kBomUtf16Be;
    if (unicode) {
        std::string bytes(start);
        bytes.resize(static_cast<size_t>(size));
        in.read(bytes.data() + start.size(), static_cast<std::streamsize>(bytes.size() - start.size()));
        bytes.resize(start.size() + static_cast<size_t>(in.gcount()));
        if (in.bad()) return std::nullopt;
        return decode_gaeb2000(bytes);
    }
    // Windows-1252 in pieces, so that the raw bytes and the decoded text are never held together.
    std::string text;
    text.reserve(static_cast<size_t>(size) + static_cast<size_t>(size) / 16);
    text += workbook::cp1252_to_utf8(start);
    std::string chunk(std::clamp(static_cast<size_t>(size), size_t{1}, size_t{1} << 22), '\0');
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<size_t>(in.gcount());
        if (got == 0) break;
        text += workbook::cp1252_to_utf8(std::string_view(chunk.data(), got));
    }
    if (in.bad()) return std::nullopt;
    return text;
}

void split_lines(std::string_view text, LineList& list) {
    size_t start = 0;
    const size_t n = text.size();
    while (start < n) {
        size_t i = start;
        while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
        list.append(text.substr(start, i - start));
        if (i < n && text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
}

}  // namespace gaeb2000
