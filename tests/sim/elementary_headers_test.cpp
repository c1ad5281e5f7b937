#include "sim/elementary_headers.h"

#include <gtest/gtest.h>

namespace tavrel::sim {
namespace {

TEST(ElementaryHeaders, AdtsHeaderCarriesLengthRateAndChannels) {
    const auto frame = AdtsHeader(100);
    ASSERT_EQ(frame.size(), 14u);
    // Sync word, MPEG-4 without CRC; LC, 48 kHz, 2 channels; frame length 100; VBR fullness.
    const std::vector<uint8_t> header = {0xFF, 0xF1, 0x4C, 0x80, 0x0C, 0x9F, 0xFC};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), frame.begin()));
    EXPECT_THROW(AdtsHeader(6), std::invalid_argument);
    EXPECT_THROW(AdtsHeader(0x2000), std::invalid_argument);
}

TEST(ElementaryHeaders, Mpeg2FrameStartsWithSequenceHeaderAndExtension) {
    const auto bytes = Mpeg2VideoFrameStart(1440, 1080);
    // 1440 x 1080, 16:9, 29.97 frames/s; then the sequence extension (main profile, high level).
    const std::vector<uint8_t> start = {0x00, 0x00, 0x01, 0xB3, 0x5A, 0x04, 0x38, 0x34};
    EXPECT_TRUE(std::equal(start.begin(), start.end(), bytes.begin()));
    EXPECT_EQ(bytes[12], 0x00);
    EXPECT_EQ(bytes[15], 0xB5);
    EXPECT_EQ(bytes[16], 0x14);
}

TEST(ElementaryHeaders, H264FrameHasNoStartCodeEmulationInItsNalUnits) {
    const auto bytes = H264FrameStart(128, 96);
    // NAL types in order: delimiter, SPS, PPS, IDR slice, filler.
    std::vector<int> types;
    for (size_t i = 0; i + 3 < bytes.size(); ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            types.push_back(bytes[i + 3] & 0x1F);
        }
    }
    EXPECT_EQ(types, (std::vector<int>{9, 7, 8, 5, 12}));
    EXPECT_THROW(H264FrameStart(100, 96), std::invalid_argument);
}

}  // namespace
}  // namespace tavrel::sim
