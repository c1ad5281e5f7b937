#include "ts/byte_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavrel {
namespace {

TEST(ByteReader, ReadsBigEndianFailsStickyAtTheEndAndSubReadersAreCut) {
    const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A};
    // Every prefix reads what it holds and fails cleanly after it.
    for (size_t n = bytes.size() + 1; n-- > 0;) {
        ByteReader r(std::span<const uint8_t>(bytes.data(), n));
        const uint32_t v = r.U32();
        EXPECT_EQ(r.Ok(), n >= 4) << n;
        EXPECT_EQ(v, n >= 4 ? 0x12345678u : 0u) << n;
    }
    ByteReader r(bytes);
    ByteReader sub = r.Sub(2);
    EXPECT_EQ(sub.U16(), 0x1234u);
    EXPECT_FALSE(sub.More());
    EXPECT_EQ(sub.U8(), 0u);
    EXPECT_FALSE(sub.Ok());
    EXPECT_EQ(r.U24(), 0x56789Au);  // the outer reader is unaffected
    EXPECT_TRUE(r.Ok() && r.AtEnd());
    // A declared length beyond the data gives what is left and fails the outer reader.
    ByteReader r2(bytes);
    r2.Skip(1);
    EXPECT_EQ(r2.Sub(100).Remaining(), 4u);
    EXPECT_FALSE(r2.Ok());
}

}  // namespace
}  // namespace tavrel
