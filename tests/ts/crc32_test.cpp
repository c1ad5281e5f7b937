#include "ts/crc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "support/crc_reference.h"

namespace tavrel {
namespace {

TEST(Crc32, CheckValueAndEmptyInput) {
    const std::string_view check = "123456789";
    EXPECT_EQ(Crc32Mpeg2({reinterpret_cast<const uint8_t*>(check.data()), check.size()}),
              0x0376E6E7u);
    EXPECT_EQ(Crc32Mpeg2({}), 0xFFFFFFFFu);
}

// The eight-byte steps and the byte tail must agree with the bit-by-bit definition for every
// length and every way of splitting the input over several updates.
TEST(Crc32, AgreesWithTheBitwiseDefinitionForEveryLengthAndSplit) {
    std::vector<uint8_t> data(67);
    uint32_t x = 0x12345678;
    for (auto& b : data) {
        x = x * 1664525 + 1013904223;
        b = static_cast<uint8_t>(x >> 24);
    }
    const std::span<const uint8_t> all(data);
    for (size_t length = 0; length <= data.size(); ++length) {
        const auto part = all.first(length);
        const uint32_t expected = testing::ReferenceCrc32(part);
        ASSERT_EQ(Crc32Mpeg2(part), expected) << "length " << length;
        for (size_t split = 1; split < length; split += 3) {
            const uint32_t crc = Crc32Update(Crc32Mpeg2(part.first(split)), part.subspan(split));
            ASSERT_EQ(crc, expected) << "length " << length << " split at " << split;
        }
    }
}

}  // namespace
}  // namespace tavrel
