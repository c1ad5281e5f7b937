#include "ts/crc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "support/crc_reference.h"

namespace tavrel {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(Crc32, KnownValues) {
    struct Case {
        std::string_view text;
        uint32_t crc;
    };
    // The catalogued check value, a single byte and the empty input.
    const Case cases[] = {{"123456789", 0x0376E6E7}, {"a", 0xE66C6494}, {"", 0xFFFFFFFF}};
    for (const auto& c : cases) {
        EXPECT_EQ(Crc32Mpeg2(Bytes(c.text)), c.crc) << '"' << c.text << '"';
    }
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

TEST(Crc32, ASectionWithItsCrcYieldsZero) {
    // A PAT with one programme (number 1 on PID 0x0100), CRC_32 field last.
    std::vector<uint8_t> section = {0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1,
                                    0x00, 0x00, 0x00, 0x01, 0xE1, 0x00};
    const uint32_t crc = Crc32Mpeg2(section);
    for (int shift = 24; shift >= 0; shift -= 8) {
        section.push_back(static_cast<uint8_t>(crc >> shift));
    }
    EXPECT_EQ(Crc32Mpeg2(section), 0u);
}

}  // namespace
}  // namespace tavrel
