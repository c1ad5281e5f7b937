#include "sim/elementary_headers.h"

#include <gtest/gtest.h>

namespace tavrel::sim {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ElementaryHeaders, AdtsMpeg2AndH264FramesStartAsTheStandardsSay) {
    // ADTS: sync word, MPEG-4 without CRC; LC, 48 kHz, 2 channels; frame length 100; VBR.
    const auto adts = AdtsHeader(100);
    ASSERT_EQ(adts.size(), 14u);
    EXPECT_EQ(Bytes(adts.begin(), adts.begin() + 7),
              (Bytes{0xFF, 0xF1, 0x4C, 0x80, 0x0C, 0x9F, 0xFC}));
    EXPECT_THROW(AdtsHeader(6), std::invalid_argument);
    EXPECT_THROW(AdtsHeader(0x2000), std::invalid_argument);
    // 1440 x 1080, 16:9, 29.97 frames/s; then the sequence extension (main profile, high level).
    const auto m2v = Mpeg2VideoFrameStart(1440, 1080);
    EXPECT_EQ(Bytes(m2v.begin(), m2v.begin() + 8),
              (Bytes{0x00, 0x00, 0x01, 0xB3, 0x5A, 0x04, 0x38, 0x34}));
    EXPECT_EQ(std::tuple(m2v[12], m2v[15], m2v[16]), std::tuple(0x00, 0xB5, 0x14));
    // NAL types in order: delimiter, SPS, PPS, IDR slice, filler; no start code emulation.
    const auto h264 = H264FrameStart(128, 96);
    std::vector<int> types;
    for (size_t i = 0; i + 3 < h264.size(); ++i) {
        if (h264[i] == 0 && h264[i + 1] == 0 && h264[i + 2] == 1) {
            types.push_back(h264[i + 3] & 0x1F);
        }
    }
    EXPECT_EQ(types, (std::vector<int>{9, 7, 8, 5, 12}));
    EXPECT_THROW(H264FrameStart(100, 96), std::invalid_argument);
}

}  // namespace
}  // namespace tavrel::sim
