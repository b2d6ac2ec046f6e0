// SPDX-License-Identifier: MIT
#include "workbook/string_store.h"

#include <algorithm>
#include <cstring>

namespace workbook {

namespace {
constexpr size_t kChunkSize = size_t{1} << 16;
}

uint64_t StringStore::add(std::string_view s) {
    const size_t need = s.size() + sizeof(uint32_t);
    if (m_chunks.empty() || m_used + need > m_sizes.back()) {
        const size_t size = std::max(kChunkSize, need);
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(size));
        m_sizes.push_back(size);
        m_used = 0;
    }
    char* base = m_chunks.back().get() + m_used;
    const auto length = static_cast<uint32_t>(s.size());
    std::memcpy(base, &length, sizeof length);
    if (!s.empty()) std::memcpy(base + sizeof length, s.data(), s.size());
    const uint64_t handle = (static_cast<uint64_t>(m_chunks.size() - 1) << 32) | m_used;
    m_used += need;
    return handle;
}

std::string_view StringStore::get(uint64_t handle) const {
    const size_t chunk = static_cast<size_t>(handle >> 32);
    const size_t offset = static_cast<size_t>(handle & 0xFFFFFFFFu);
    if (chunk >= m_chunks.size()) return {};
    const char* base = m_chunks[chunk].get() + offset;
    uint32_t length = 0;
    std::memcpy(&length, base, sizeof length);
    return {base + sizeof length, length};
}

}  // namespace workbook
