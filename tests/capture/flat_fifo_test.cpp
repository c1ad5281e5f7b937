#include "capture/flat_fifo.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace tavrel {
namespace {

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
