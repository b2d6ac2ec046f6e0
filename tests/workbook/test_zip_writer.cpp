// SPDX-License-Identifier: MIT
// The writing side of the archive. Pieces of deflate that follow each other in one stream: what
// zlib inflates must be exactly the chunks given, for every kind of block libdeflate makes (stored
// for data that does not pack, fixed codes for a few bytes, dynamic codes for text). And the
// limit of an archive without Zip64, which a save refuses to pass.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "workbook/xlsx/deflate_pieces.h"
#include "workbook/xlsx/zip_writer.h"

namespace {

using workbook::xlsx::PiecePacker;

std::string inflate_all(const std::vector<uint8_t>& packed, bool& complete) {
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    std::string out;
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        char buffer[65536];
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    complete = status == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return out;
}

TEST(DeflatePieces, ChunksOfEveryKindFollowEachOtherInOneStream) {
    uint64_t seed = 7;
    auto noise = [&seed](size_t n) {
        std::string s(n, '\0');
        for (char& ch : s) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            ch = static_cast<char>(seed >> 56);
        }
        return s;
    };
    std::string text;
    for (int i = 0; text.size() < 3000000; ++i)
        text += "<row r=\"" + std::to_string(i) + "\"><c r=\"A" + std::to_string(i) +
                "\" t=\"inlineStr\"><is><t>Position " + std::to_string(i * 7 % 1000) + "</t></is></c></row>";
    const std::vector<std::string> chunks = {
        "x",           "",       noise(70000),         text.substr(0, 1000000),
        "ab",          noise(3), text.substr(1000000), std::string(500000, 'a'),
        noise(1 << 20)};
    PiecePacker packer;
    std::vector<uint8_t> packed;
    std::string all;
    for (const std::string& chunk : chunks) {
        packer.piece(chunk, packed);
        all += chunk;
    }
    packed.insert(packed.end(), std::begin(workbook::xlsx::kFinalBlock),
                  std::end(workbook::xlsx::kFinalBlock));
    bool complete = false;
    const std::string back = inflate_all(packed, complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(back.size(), all.size());
    EXPECT_TRUE(back == all);
}

TEST(DeflatePieces, FinalBlockFoundOnlyInACompleteStream) {
    PiecePacker packer;
    std::vector<uint8_t> whole;
    packer.whole("Langtext Zeile 1, Langtext Zeile 2, Langtext Zeile 3", whole);
    uint64_t header = 0, end = 0;
    ASSERT_TRUE(workbook::xlsx::find_final_block(whole.data(), whole.size(), header, end));
    EXPECT_EQ(header, 0u);
    EXPECT_LE(end, whole.size() * 8);
    EXPECT_GT(end + 8, whole.size() * 8);
    // Cut short, or a block type that does not exist.
    EXPECT_FALSE(workbook::xlsx::find_final_block(whole.data(), whole.size() / 2, header, end));
    const uint8_t reserved[] = {0x07, 0x00};
    EXPECT_FALSE(workbook::xlsx::find_final_block(reserved, sizeof reserved, header, end));
}

// A part of 4 GiB or more, or parts beginning past 4 GiB, need Zip64, which the writer does not
// write: it stops there, and the save reports the workbook as too large.
TEST(ZipWriter, PartsPastFourGibAreRefused) {
    using workbook::xlsx::ZipTooLarge;
    using workbook::xlsx::ZipWriter;
    const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ZipWriter zip(fd);
    zip.begin("xl/worksheets/sheet1.xml");
    EXPECT_NO_THROW(zip.end(0, 0xFFFFFFFFu));
    zip.begin("xl/worksheets/sheet2.xml");
    EXPECT_THROW(zip.end(0, uint64_t{0xFFFFFFFFu} + 1), ZipTooLarge);
    ::close(fd);
}

}  // namespace
