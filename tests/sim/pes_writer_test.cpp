#include "sim/pes_writer.h"

#include <gtest/gtest.h>

#include <array>

namespace tavrel::sim {
namespace {

TEST(PesWriter, PtsSpreadsItsBitsAroundTheMarkers) {
    std::array<uint8_t, 5> pts{};
    WritePts(pts, 0x1'2345'6789);
    // '0010', bits 32..30, marker; bits 29..15, marker; bits 14..0, marker.
    EXPECT_EQ(pts, (std::array<uint8_t, 5>{0x29, 0x8D, 0x15, 0xCF, 0x13}));
    WritePts(pts, 0);
    EXPECT_EQ(pts, (std::array<uint8_t, 5>{0x21, 0x00, 0x01, 0x00, 0x01}));
}

TEST(PesWriter, PcrKeepsBaseAndExtension) {
    std::array<uint8_t, 6> field{};
    for (const uint64_t pcr : {uint64_t{0}, uint64_t{299}, uint64_t{300}, uint64_t{27'000'000},
                               ((uint64_t{1} << 33) - 1) * 300 + 299}) {
        WritePcr(field, pcr);
        EXPECT_EQ(ReadPcr(field), pcr);
        EXPECT_EQ(field[4] & 0x7E, 0x7E) << "reserved bits set";
    }
}

TEST(PesWriter, HeaderCarriesStreamIdLengthAndPts) {
    const auto h = PesHeader(0xC0, 0x1234, 90000);
    ASSERT_EQ(h.size(), kPesHeaderSize);
    EXPECT_EQ(h[0], 0x00);
    EXPECT_EQ(h[1], 0x00);
    EXPECT_EQ(h[2], 0x01);
    EXPECT_EQ(h[3], 0xC0);
    EXPECT_EQ(h[4], 0x12);
    EXPECT_EQ(h[5], 0x34);
    EXPECT_EQ(h[7], 0x80) << "PTS only";
    EXPECT_EQ(h[8], 5);
    std::array<uint8_t, 5> pts{};
    WritePts(pts, 90000);
    EXPECT_TRUE(std::equal(pts.begin(), pts.end(), h.begin() + kPesPtsOffset));
}

}  // namespace
}  // namespace tavrel::sim
