#include "capture/chunk_buffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace tavrel {
namespace {

std::vector<uint8_t> Sequence(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

TEST(ChunkBuffer, WriteStopsAtTheLimitWithAShortCountAndClearGivesTheRoomBack) {
    CBuffer buffer(100);
    const auto data = Sequence(150);
    EXPECT_EQ(buffer.Write(data.data(), 0), 0u);
    EXPECT_EQ(buffer.Write(data.data(), 60), 60u);
    EXPECT_EQ(buffer.Write(data.data() + 60, 90), 40u);  // exactly the free room
    EXPECT_EQ(buffer.Held(), 100u);
    EXPECT_EQ(buffer.Write(data.data(), 1), 0u);  // full

    std::vector<uint8_t> out(100);
    EXPECT_EQ(buffer.Read(out.data(), 200, true), 100u);
    EXPECT_EQ(out, std::vector<uint8_t>(data.begin(), data.begin() + 100));
    EXPECT_EQ(buffer.Read(out.data(), 4, true), 0u);
    buffer.Write(data.data(), 100);
    buffer.Clear();
    EXPECT_EQ(buffer.Held(), 0u);
    EXPECT_EQ(buffer.Write(data.data(), 100), 100u);
}

TEST(ChunkBuffer, ConsumingReadGathersAcrossChunksAndKeepsTheRest) {
    CBuffer buffer(0x100000);
    const auto a = Sequence(188, 0);
    const auto b = Sequence(32768, 7);
    const auto c = Sequence(100, 3);
    buffer.Write(a.data(), 188);
    buffer.Write(b.data(), 32768);
    buffer.Write(c.data(), 100);

    std::vector<uint8_t> out(0x8000);
    ASSERT_EQ(buffer.Read(out.data(), 0x8000, true), 0x8000u);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), out.begin()));
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + (0x8000 - 188), out.begin() + 188));
    EXPECT_EQ(buffer.Held(), 188u + 100u);

    // The partly consumed second chunk is continued where it was left.
    std::vector<uint8_t> rest(288);
    ASSERT_EQ(buffer.Read(rest.data(), 288, true), 288u);
    EXPECT_TRUE(std::equal(b.end() - 188, b.end(), rest.begin()));
    EXPECT_TRUE(std::equal(c.begin(), c.end(), rest.begin() + 188));
}

TEST(ChunkBuffer, PeekReturnsTheSameBytesTwice) {
    CBuffer buffer(1000);
    const auto data = Sequence(300);
    buffer.Write(data.data(), 100);
    buffer.Write(data.data() + 100, 200);
    std::vector<uint8_t> first(250), second(250);
    EXPECT_EQ(buffer.Read(first.data(), 250, false), 250u);
    EXPECT_EQ(buffer.Read(second.data(), 250, false), 250u);
    EXPECT_EQ(first, second);
    EXPECT_EQ(buffer.Held(), 300u);
    EXPECT_EQ(buffer.Read(first.data(), 0, true), 0u);
}

// A PAT section from the standard's layout, CRC written out by hand.
const std::vector<uint8_t> kPatSection = {0x00, 0xB0, 0x11, 0x7F, 0xE3, 0xC1, 0x00, 0x00,
                                          0x00, 0x00, 0xE0, 0x10, 0x04, 0x00, 0xE1, 0xF0,
                                          0x04, 0x01, 0xE1, 0xF1, 0x00, 0x00, 0x00, 0x00};

TEST(ChunkBuffer, CrcOverSectionWithItsCrcFieldIsZero) {
    CBuffer probe(1000);
    std::vector<uint8_t> section = kPatSection;
    probe.Write(section.data(), static_cast<uint32_t>(section.size() - 4));
    const uint32_t crc = probe.Crc(1000);  // stops at the end of the data
    section[section.size() - 4] = static_cast<uint8_t>(crc >> 24);
    section[section.size() - 3] = static_cast<uint8_t>(crc >> 16);
    section[section.size() - 2] = static_cast<uint8_t>(crc >> 8);
    section[section.size() - 1] = static_cast<uint8_t>(crc);

    // Split over two chunks, the first behind a prefix that has been read.
    CBuffer buffer(1000);
    std::vector<uint8_t> first = {1, 2, 3};
    first.insert(first.end(), section.begin(), section.begin() + 15);
    buffer.Write(first.data(), static_cast<uint32_t>(first.size()));
    buffer.Write(section.data() + 15, static_cast<uint32_t>(section.size() - 15));
    uint8_t skip[3];
    buffer.Read(skip, 3, true);
    EXPECT_EQ(buffer.Crc(static_cast<uint32_t>(section.size())), 0u);
    EXPECT_EQ(buffer.Crc(0), 0xFFFFFFFFu);
}

TEST(ChunkBuffer, CrcMatchesTheStandardCheckValue) {
    // The catalogue check value of CRC-32/MPEG-2 over "123456789".
    CBuffer buffer(100);
    buffer.Write("123456789", 9);
    EXPECT_EQ(buffer.Crc(9), 0x0376E6E7u);
}

}  // namespace
}  // namespace tavrel
