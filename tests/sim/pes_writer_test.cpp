#include "sim/pes_writer.h"

#include <gtest/gtest.h>

#include <array>

namespace tavrel::sim {
namespace {

TEST(PesWriter, PtsPcrAndHeaderFields) {
    std::array<uint8_t, 5> pts{};
    WritePts(pts, 0x1'2345'6789);
    // '0010', bits 32..30, marker; bits 29..15, marker; bits 14..0, marker.
    EXPECT_EQ(pts, (std::array<uint8_t, 5>{0x29, 0x8D, 0x15, 0xCF, 0x13}));
    std::array<uint8_t, 6> field{};
    for (const uint64_t pcr : {uint64_t{0}, uint64_t{299}, uint64_t{300}, uint64_t{27'000'000},
                               ((uint64_t{1} << 33) - 1) * 300 + 299}) {
        WritePcr(field, pcr);
        EXPECT_EQ(ReadPcr(field), pcr);
        EXPECT_EQ(field[4] & 0x7E, 0x7E) << "reserved bits set";
    }
    // Start code, stream id, length, PTS only, header length 5, the PTS.
    const auto h = PesHeader(0xC0, 0x1234, 90000);
    ASSERT_EQ(h.size(), kPesHeaderSize);
    EXPECT_EQ(std::vector<uint8_t>(h.begin(), h.begin() + 6),
              (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xC0, 0x12, 0x34}));
    EXPECT_EQ(h[7], 0x80);
    EXPECT_EQ(h[8], 5);
    WritePts(pts, 90000);
    EXPECT_TRUE(std::equal(pts.begin(), pts.end(), h.begin() + kPesPtsOffset));
}

}  // namespace
}  // namespace tavrel::sim
