// SPDX-License-Identifier: MIT
#include "workbook/xlsx/deflate_pieces.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace workbook::xlsx {

namespace {

// Reads a deflate stream bit by bit, least significant bit first; past the end it reads zeros
// and says so through overrun().
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint32_t peek(int bits) {
        if (m_count < bits) refill();
        return static_cast<uint32_t>(m_buffer & ((uint64_t{1} << bits) - 1));
    }
    void skip(int bits) {
        if (m_count < bits) refill();
        m_buffer >>= bits;
        m_count -= bits;
        m_position += static_cast<uint64_t>(bits);
    }
    uint32_t take(int bits) {
        const uint32_t v = peek(bits);
        skip(bits);
        return v;
    }
    // To the next byte boundary, as a stored block's length wants it.
    void align() { skip(static_cast<int>((8 - m_position % 8) % 8)); }
    // Jumps `bytes` ahead from a byte boundary.
    void skip_bytes(uint64_t bytes) {
        m_position += bytes * 8;
        m_buffer = 0;
        m_count = 0;
        m_next = static_cast<size_t>(std::min<uint64_t>(m_position / 8, m_size));
    }
    uint64_t position() const { return m_position; }
    bool overrun() const { return m_position > uint64_t{m_size} * 8; }

private:
    void refill() {
        if (m_next + 8 <= m_size) {
            // Eight bytes at once; those that do not fit are read again next time.
            uint64_t word;
            std::memcpy(&word, m_data + m_next, sizeof word);
            m_buffer |= word << m_count;
            m_next += static_cast<size_t>((63 - m_count) >> 3);
            m_count |= 56;
            return;
        }
        while (m_count <= 56) {
            const uint64_t byte = m_next < m_size ? m_data[m_next] : 0;
            ++m_next;
            m_buffer |= byte << m_count;
            m_count += 8;
        }
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_next = 0;
    uint64_t m_buffer = 0;
    int m_count = 0;
    uint64_t m_position = 0;
};

// A canonical Huffman code as one table indexed by the next `bits` bits of the stream: each entry
// holds the symbol and its code length.
class HuffmanTable {
public:
    // False for lengths that make no code (over-subscribed).
    bool build(const uint8_t* lengths, int count) {
        std::array<int, 16> per_length{};
        m_bits = 0;
        for (int s = 0; s < count; ++s) {
            ++per_length[lengths[s]];
            m_bits = std::max<int>(m_bits, lengths[s]);
        }
        per_length[0] = 0;
        if (m_bits == 0) m_bits = 1;
        int left = 1;
        for (int len = 1; len <= 15; ++len) {
            left = left * 2 - per_length[static_cast<size_t>(len)];
            if (left < 0) return false;
        }
        std::array<int, 16> next{};
        int code = 0;
        for (int len = 1; len <= 15; ++len) {
            code = (code + per_length[static_cast<size_t>(len) - 1]) << 1;
            next[static_cast<size_t>(len)] = code;
        }
        const size_t size = size_t{1} << m_bits;
        m_entries.assign(size, 0);  // an incomplete code's gaps read as length 0: no progress
        for (int s = 0; s < count; ++s) {
            const int len = lengths[s];
            if (len == 0) continue;
            const int c = next[static_cast<size_t>(len)]++;
            uint32_t reversed = 0;
            for (int i = 0; i < len; ++i) reversed |= static_cast<uint32_t>((c >> i) & 1) << (len - 1 - i);
            for (size_t x = reversed; x < size; x += size_t{1} << len)
                m_entries[x] = static_cast<uint16_t>((s << 4) | len);
        }
        return true;
    }
    // The next symbol, or -1 where the stream holds no code.
    int decode(BitReader& in) const {
        const uint16_t e = m_entries[in.peek(m_bits)];
        if ((e & 15) == 0) return -1;
        in.skip(e & 15);
        return e >> 4;
    }

private:
    std::vector<uint16_t> m_entries;
    int m_bits = 1;
};

constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// The code lengths of a dynamic block's header into `lengths`; false when they make no sense.
bool read_dynamic_lengths(BitReader& in, uint8_t* lengths, int& literals, int& distances) {
    literals = static_cast<int>(in.take(5)) + 257;
    distances = static_cast<int>(in.take(5)) + 1;
    const int code_lengths = static_cast<int>(in.take(4)) + 4;
    if (literals > 286 || distances > 30) return false;
    uint8_t cl[19] = {};
    for (int i = 0; i < code_lengths; ++i) cl[kCodeLengthOrder[i]] = static_cast<uint8_t>(in.take(3));
    HuffmanTable table;
    if (!table.build(cl, 19)) return false;
    const int total = literals + distances;
    for (int i = 0; i < total;) {
        const int s = table.decode(in);
        if (s < 0 || in.overrun()) return false;
        if (s < 16) {
            lengths[i++] = static_cast<uint8_t>(s);
            continue;
        }
        int repeat;
        uint8_t value = 0;
        if (s == 16) {
            if (i == 0) return false;
            repeat = 3 + static_cast<int>(in.take(2));
            value = lengths[i - 1];
        } else if (s == 17) {
            repeat = 3 + static_cast<int>(in.take(3));
        } else {
            repeat = 11 + static_cast<int>(in.take(7));
        }
        if (i + repeat > total) return false;
        while (repeat-- > 0) lengths[i++] = value;
    }
    return true;
}

}  // namespace

bool find_final_block(const uint8_t* stream, size_t size, uint64_t& final_header, uint64_t& end) {
    BitReader in(stream, size);
    HuffmanTable literal_table, distance_table;
    uint8_t lengths[286 + 30];
    for (;;) {
        const uint64_t header = in.position();
        const bool final = in.take(1) != 0;
        const uint32_t type = in.take(2);
        if (type == 0) {
            in.align();
            const uint32_t length = in.take(16);
            if ((in.take(16) ^ 0xFFFF) != length) return false;
            in.skip_bytes(length);
        } else if (type == 1 || type == 2) {
            int literals = 288, distances = 30;
            if (type == 1) {
                std::fill(lengths, lengths + 144, uint8_t{8});
                std::fill(lengths + 144, lengths + 256, uint8_t{9});
                std::fill(lengths + 256, lengths + 280, uint8_t{7});
                std::fill(lengths + 280, lengths + 286, uint8_t{8});
                std::fill(lengths + 286, lengths + 316, uint8_t{5});
                literals = 286;
            } else if (!read_dynamic_lengths(in, lengths, literals, distances)) {
                return false;
            }
            if (!literal_table.build(lengths, literals) ||
                !distance_table.build(lengths + literals, distances))
                return false;
            for (;;) {
                const int s = literal_table.decode(in);
                if (s < 0 || in.overrun()) return false;
                if (s < 256) continue;
                if (s == 256) break;
                if (s > 285) return false;
                in.skip(kLengthExtra[s - 257]);
                const int d = distance_table.decode(in);
                if (d < 0 || d > 29) return false;
                in.skip(kDistanceExtra[d]);
            }
        } else {
            return false;
        }
        if (in.overrun()) return false;
        if (final) {
            final_header = header;
            end = in.position();
            return true;
        }
    }
}

PiecePacker::PiecePacker() : m_compressor(libdeflate_alloc_compressor(kDeflateLevel)) {
    if (!m_compressor) throw std::bad_alloc();
}

PiecePacker::~PiecePacker() {
    libdeflate_free_compressor(m_compressor);
}

void PiecePacker::whole(std::string_view data, std::vector<uint8_t>& out) {
    const size_t bound = libdeflate_deflate_compress_bound(m_compressor, data.size());
    const size_t at = out.size();
    out.resize(at + bound);
    const size_t n =
        libdeflate_deflate_compress(m_compressor, data.data(), data.size(), out.data() + at, bound);
    out.resize(at + n);  // the bound always suffices
}

void PiecePacker::piece(std::string_view data, std::vector<uint8_t>& out) {
    if (data.empty()) return;
    const size_t bound = libdeflate_deflate_compress_bound(m_compressor, data.size());
    const size_t at = out.size();
    out.resize(at + bound + 5);
    uint8_t* const p = out.data() + at;
    const size_t n = libdeflate_deflate_compress(m_compressor, data.data(), data.size(), p, bound);
    uint64_t final_header = 0, end = 0;
    if (n > 0 && find_final_block(p, n, final_header, end)) {
        // The final mark cleared; an empty stored block (three zero bits, the rest of the byte,
        // then length 0 and its complement) brings the piece to a byte boundary.
        p[final_header / 8] &= static_cast<uint8_t>(~(1u << (final_header % 8)));
        const size_t bytes = static_cast<size_t>((end + 3 + 7) / 8);
        for (uint64_t bit = end; bit < uint64_t{bytes} * 8; ++bit)
            p[bit / 8] &= static_cast<uint8_t>(~(1u << (bit % 8)));
        const uint8_t stored[] = {0x00, 0x00, 0xFF, 0xFF};
        std::memcpy(p + bytes, stored, sizeof stored);
        out.resize(at + bytes + sizeof stored);
        return;
    }
    out.resize(at);
    // Never expected of libdeflate's output; zlib's sync flush makes the same kind of piece.
    z_stream z{};
    if (deflateInit2(&z, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    const size_t zbound = deflateBound(&z, static_cast<uLong>(data.size())) + 16;
    out.resize(at + zbound);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data() + at;
    z.avail_out = static_cast<uInt>(zbound);
    const int status = deflate(&z, Z_SYNC_FLUSH);
    const size_t written = zbound - z.avail_out;
    deflateEnd(&z);
    if (status != Z_OK || z.avail_in != 0) throw std::bad_alloc();
    out.resize(at + written);
}

}  // namespace workbook::xlsx
