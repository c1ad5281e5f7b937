#include "ts/byte_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavrel {
namespace {

TEST(ByteReader, ReadsBigEndianAndFailsStickyAtTheEnd) {
    const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A};
    ByteReader r(bytes);
    EXPECT_EQ(r.U16(), 0x1234u);
    EXPECT_EQ(r.U24(), 0x56789Au);
    EXPECT_TRUE(r.Ok());
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(r.U8(), 0u);
    EXPECT_FALSE(r.Ok());
    EXPECT_FALSE(r.More());
    EXPECT_EQ(r.Remaining(), 0u);
}

TEST(ByteReader, ShrinkingInputNeverReadsPastTheEnd) {
    // Walk the length down to zero: every prefix reads what it holds and fails cleanly.
    const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8};
    for (size_t n = bytes.size() + 1; n-- > 0;) {
        ByteReader r(std::span<const uint8_t>(bytes.data(), n));
        const uint32_t v = r.U32();
        EXPECT_EQ(r.Ok(), n >= 4) << n;
        if (n >= 4) {
            EXPECT_EQ(v, 0x01020304u);
        }
    }
}

TEST(ByteReader, SubReaderIsCutToItsLength) {
    const std::vector<uint8_t> bytes = {0xAA, 0xBB, 0xCC, 0xDD};
    ByteReader r(bytes);
    ByteReader sub = r.Sub(2);
    EXPECT_EQ(sub.U16(), 0xAABBu);
    EXPECT_FALSE(sub.More());
    sub.U8();
    EXPECT_FALSE(sub.Ok());
    EXPECT_TRUE(r.Ok());  // the outer reader is unaffected
    EXPECT_EQ(r.U8(), 0xCCu);

    // A declared length beyond the data gives what is left and fails the outer reader.
    ByteReader r2(bytes);
    r2.Skip(1);
    ByteReader big = r2.Sub(100);
    EXPECT_EQ(big.Remaining(), 3u);
    EXPECT_FALSE(r2.Ok());
}

}  // namespace
}  // namespace tavrel
