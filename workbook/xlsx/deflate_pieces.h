// SPDX-License-Identifier: MIT
// Deflate in pieces that follow each other in one stream: a large part is cut into chunks, each
// packed on its own (no history across the cut, which costs a few bytes per chunk), ending
// byte-aligned on an empty stored block, and the stream closed by an empty final block. libdeflate
// packs whole buffers only and marks its last block final; that mark is found by walking the
// piece's blocks and cleared, so that the next piece may follow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

struct libdeflate_compressor;

namespace workbook::xlsx {

// Level of every part: files no larger than zlib's level 6 made them, at a third of its time.
inline constexpr int kDeflateLevel = 5;

class PiecePacker {
public:
    PiecePacker();
    ~PiecePacker();
    PiecePacker(const PiecePacker&) = delete;
    PiecePacker& operator=(const PiecePacker&) = delete;

    // Appends `data` packed as a piece that is not final and ends on a byte boundary (nothing for
    // empty data). Throws std::bad_alloc when memory runs out.
    void piece(std::string_view data, std::vector<uint8_t>& out);
    // Appends a whole stream of `data` alone: a small part in one go.
    void whole(std::string_view data, std::vector<uint8_t>& out);

private:
    libdeflate_compressor* m_compressor;
};

// The empty final block that ends a stream of pieces.
inline constexpr uint8_t kFinalBlock[] = {0x03, 0x00};

// The bit positions of the final block's header and of the stream's end in `stream`, a complete
// deflate stream; false when it is not one.
bool find_final_block(const uint8_t* stream, size_t size, uint64_t& final_header, uint64_t& end);

}  // namespace workbook::xlsx
