// SPDX-License-Identifier: MIT
#include "gaeb2000/load.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

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

bool has_closing_line(std::string_view text) {
    return find_key(text, "#end[GAEB]") != std::string_view::npos;
}

std::string closing_lines(std::string_view text) {
    // The blocks whose end is implied by the end of the file.
    constexpr std::string_view kStructure[] = {"GAEB", "Vergabe", "LV", "LVBereich"};
    const auto structural = [&](std::string_view name) {
        return std::any_of(std::begin(kStructure), std::end(kStructure),
                           [&](std::string_view s) { return workbook::equals_ci(s, name); });
    };
    // The name of the block a line begins or ends ("#begin[" or "#end[" + name + "]").
    const auto block_name = [](std::string_view line,
                               std::string_view mark) -> std::optional<std::string_view> {
        const size_t at = find_key(line, mark);
        if (at == std::string_view::npos) return std::nullopt;
        const std::string_view rest = line.substr(at + mark.size());
        const size_t close = rest.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        return rest.substr(0, close);
    };
    std::vector<std::string_view> open;
    size_t start = 0;
    while (start < text.size()) {
        size_t i = start;
        while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
        const std::string_view line = text.substr(start, i - start);
        if (const auto name = block_name(line, "#begin[")) {
            open.push_back(*name);
        } else if (const auto ended = block_name(line, "#end[")) {
            // An end closes its block and every block left open inside it.
            for (size_t k = open.size(); k-- > 0;)
                if (workbook::equals_ci(open[k], *ended)) {
                    open.resize(k);
                    break;
                }
        }
        if (i < text.size() && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    std::string out;
    for (size_t k = open.size(); k-- > 0;)
        if (structural(open[k])) out += "#end[" + std::string(open[k]) + "]\r\n";
    if (!out.empty() && !text.empty() && text.back() != '\n' && text.back() != '\r') out.insert(0, "\r\n");
    return out;
}

}  // namespace gaeb2000
