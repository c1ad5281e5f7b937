#include "sim/png_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <stdexcept>
#include <string>

namespace tavrel::sim {
namespace {

uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

// The CRC of PNG chunks, bit by bit: reflected polynomial 0xEDB88320, inverted in and out.
uint32_t ReferenceCrc(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
        }
    }
    return ~crc;
}

struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
};

std::vector<Chunk> Chunks(const std::vector<uint8_t>& png) {
    std::vector<Chunk> out;
    size_t pos = 8;
    while (pos + 12 <= png.size()) {
        const uint32_t length = Be32(png, pos);
        Chunk c{std::string(png.begin() + pos + 4, png.begin() + pos + 8),
                std::vector<uint8_t>(png.begin() + pos + 8, png.begin() + pos + 8 + length)};
        EXPECT_EQ(Be32(png, pos + 8 + length), ReferenceCrc(&png[pos + 4], length + 4)) << c.type;
        out.push_back(std::move(c));
        pos += 12 + length;
    }
    EXPECT_EQ(pos, png.size());
    return out;
}

TEST(PngWriter, SignatureThreeChunksWithTheirCrcsAndRowsThatInflateBack) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 5 * 2 * 3; ++i) {
        rgb.push_back(static_cast<uint8_t>(i * 7));
    }
    const auto png = PngImage(5, 2, rgb);
    EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
              (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    const auto chunks = Chunks(png);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[0].data, (std::vector<uint8_t>{0, 0, 0, 5, 0, 0, 0, 2, 8, 2, 0, 0, 0}));
    EXPECT_EQ(chunks[1].type, "IDAT");
    EXPECT_EQ(chunks[2].type, "IEND");
    EXPECT_TRUE(chunks[2].data.empty());
    // Each row: filter type None, then its pixels.
    std::vector<uint8_t> raw(2 * 16);
    uLongf size = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &size, chunks[1].data.data(), chunks[1].data.size()), Z_OK);
    ASSERT_EQ(size, raw.size());
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(raw[y * 16], 0);
        EXPECT_TRUE(
            std::equal(rgb.begin() + y * 15, rgb.begin() + (y + 1) * 15, raw.begin() + y * 16 + 1));
    }
    EXPECT_THROW(PngImage(2, 2, std::vector<uint8_t>(11)), std::invalid_argument);
    EXPECT_THROW(PngImage(0, 2, {}), std::invalid_argument);
}

}  // namespace
}  // namespace tavrel::sim
