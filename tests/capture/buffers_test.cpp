#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "capture/chunk_buffer.h"
#include "capture/flat_fifo.h"

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
    EXPECT_EQ(buffer.Write(data.data(), 1), 0u);         // full
    std::vector<uint8_t> out(100);
    EXPECT_EQ(buffer.Read(out.data(), 200, true), 100u);
    EXPECT_EQ(out, std::vector<uint8_t>(data.begin(), data.begin() + 100));
    EXPECT_EQ(buffer.Read(out.data(), 4, true), 0u);
    buffer.Write(data.data(), 100);
    buffer.Clear();
    EXPECT_EQ(buffer.Held(), 0u);
    EXPECT_EQ(buffer.Write(data.data(), 100), 100u);
}

// Reads gather across chunks; a peek gives the same bytes twice, a consuming read continues a
// partly read chunk where it was left.
TEST(ChunkBuffer, ReadsGatherAcrossChunksPeekingOrConsuming) {
    CBuffer buffer(0x100000);
    std::vector<uint8_t> all;
    for (const auto& chunk : {Sequence(188), Sequence(32768, 7), Sequence(100, 3)}) {
        buffer.Write(chunk.data(), static_cast<uint32_t>(chunk.size()));
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    std::vector<uint8_t> peeked(0x8000), out(0x8000);
    EXPECT_EQ(buffer.Read(peeked.data(), 0x8000, false), 0x8000u);
    ASSERT_EQ(buffer.Read(out.data(), 0x8000, true), 0x8000u);
    EXPECT_EQ(out, std::vector<uint8_t>(all.begin(), all.begin() + 0x8000));
    EXPECT_EQ(peeked, out);
    EXPECT_EQ(buffer.Held(), 288u);
    EXPECT_EQ(buffer.Read(out.data(), 0, true), 0u);
    std::vector<uint8_t> rest(288);
    ASSERT_EQ(buffer.Read(rest.data(), 288, true), 288u);
    EXPECT_EQ(rest, std::vector<uint8_t>(all.end() - 288, all.end()));
}

// A PAT section from the standard's layout; CRC_32 computed bit by bit apart from our code.
const std::vector<uint8_t> kPatSection = {0x00, 0xB0, 0x11, 0x7F, 0xE3, 0xC1, 0x00, 0x00,
                                          0x00, 0x00, 0xE0, 0x10, 0x04, 0x00, 0xE1, 0xF0,
                                          0x04, 0x01, 0xE1, 0xF1, 0x8E, 0x2E, 0x4F, 0x1A};

TEST(ChunkBuffer, CrcMatchesTheCheckValueAndIsZeroOverASectionWithItsCrc) {
    // Split over two chunks, the first behind a prefix that has been read.
    CBuffer buffer(1000);
    std::vector<uint8_t> first = {1, 2, 3};
    first.insert(first.end(), kPatSection.begin(), kPatSection.begin() + 15);
    buffer.Write(first.data(), static_cast<uint32_t>(first.size()));
    buffer.Write(kPatSection.data() + 15, static_cast<uint32_t>(kPatSection.size() - 15));
    uint8_t skip[3];
    buffer.Read(skip, 3, true);
    EXPECT_EQ(buffer.Crc(static_cast<uint32_t>(kPatSection.size())), 0u);
    EXPECT_EQ(buffer.Crc(1000), 0u);  // stops at the end of the data
    EXPECT_EQ(buffer.Crc(0), 0xFFFFFFFFu);
    // The catalogue check value of CRC-32/MPEG-2 over "123456789".
    CBuffer check(100);
    check.Write("123456789", 9);
    EXPECT_EQ(check.Crc(9), 0x0376E6E7u);
}

// The recorder's buffer must behave as the bounded chunk buffer it replaces: short counts at
// the limit, bytes out in the order they went in, whatever the pattern of writes and reads.
TEST(FlatFifo, KeepsOrderAndLimitAcrossWrapsAndMoves) {
    FlatFifo fifo(1000);
    std::vector<uint8_t> source(5000);
    std::iota(source.begin(), source.end(), uint8_t{0});
    std::vector<uint8_t> out;
    size_t in = 0;
    for (int round = 0; round < 200; ++round) {
        const size_t want = 1 + (round * 37) % 400;
        const uint32_t room = fifo.Limit() - fifo.Held();
        const uint32_t took = fifo.Write(std::span<const uint8_t>(source).subspan(in % 4000, want));
        EXPECT_EQ(took, std::min<size_t>(want, room));
        for (uint32_t k = 0; k < took; ++k) {
            out.push_back(source[in % 4000 + k]);
        }
        in += took == want ? want : took;
        const uint32_t n = (round % 3 == 0) ? fifo.Held() : fifo.Held() / 2;
        const auto front = fifo.Front(n);
        ASSERT_EQ(front.size(), n);
        std::vector<uint8_t> expected(out.begin(), out.begin() + n);
        EXPECT_TRUE(std::equal(front.begin(), front.end(), expected.begin()));
        fifo.Consume(n);
        out.erase(out.begin(), out.begin() + n);
        EXPECT_EQ(fifo.Held(), out.size());
    }
    fifo.Clear();
    EXPECT_EQ(fifo.Held(), 0u);
    FlatFifo empty(10);
    empty.Clear();  // nothing ever written: no storage, nothing to move
    EXPECT_EQ(empty.Write({}), 0u);
}

}  // namespace
}  // namespace tavrel
