// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace workbook {

// The string store: every text and formula of the workbook, append-only, in large chunks.
class StringStore {
public:
    uint64_t add(std::string_view s);
    std::string_view get(uint64_t handle) const;

private:
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::vector<size_t> m_sizes;
    size_t m_used = 0;
};

}  // namespace workbook
