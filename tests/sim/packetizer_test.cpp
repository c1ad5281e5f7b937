#include "sim/packetizer.h"

#include <gtest/gtest.h>

#include "sim/section_writer.h"
#include "support/crc_reference.h"

namespace tavrel::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Range(const Bytes& b, size_t from, size_t to) {
    return {b.begin() + static_cast<std::ptrdiff_t>(from),
            b.begin() + static_cast<std::ptrdiff_t>(to)};
}

TEST(Packetizer, HeaderAdaptationFieldWithPcrAndLongerUnits) {
    // Only the low four bits of the counter go out.
    const uint8_t payload[3] = {1, 2, 3};
    auto p = MakePacket(
        {.pid = 0x1234, .continuity_counter = 0x1B, .payload_unit_start = true, .scrambling = 2},
        payload, 0xFF);
    ASSERT_EQ(p.size(), 188u);
    // Unit start + PID 0x1234; scrambling 10, payload only, counter 0xB; payload; stuffing.
    EXPECT_EQ(Range(p, 0, 8), (Bytes{0x47, 0x52, 0x34, 0x9B, 1, 2, 3, 0xFF}));

    const PacketSpec fields{
        .pid = 0x100, .adaptation_length = 7, .pcr = true, .pcr_base = 0x1'2345'6789};
    p = MakePacket(fields, {});
    // Adaptation field and payload, length 7, PCR flag; base 0x123456789 then its low bit and
    // the reserved bits.
    EXPECT_EQ(p[3] & 0x30, 0x30);
    EXPECT_EQ(Range(p, 4, 11), (Bytes{7, 0x10, 0x91, 0xA2, 0xB3, 0xC4, 0xFE}));
    EXPECT_THROW(MakePacket(fields, Bytes(180)), std::invalid_argument);

    const auto u192 = ToUnit(p, 192, 0x12345678);
    ASSERT_EQ(u192.size(), 192u);
    // The top two bits of the timestamp prefix are reserved.
    EXPECT_EQ(Range(u192, 0, 5), (Bytes{0x12, 0x34, 0x56, 0x78, 0x47}));
    const auto u204 = ToUnit(p, 204);
    ASSERT_EQ(u204.size(), 204u);
    EXPECT_EQ(Range(u204, 0, 188), p);
}

TEST(Packetizer, SplitsASectionWithPointerFieldCountersAndStuffing) {
    const auto section = MakeSection({.table_id = 0x80}, Bytes(388, 0x5A));  // 400 bytes
    SectionPacketizer packetizer(0x0100, 14);
    const auto packets = packetizer.Put(section);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(Range(packets[0], 1, 5),
              (Bytes{0x41, 0x00, 0x1E, 0x00}));  // start, counter 14, pointer 0
    EXPECT_EQ(Range(packets[1], 1, 4), (Bytes{0x01, 0x00, 0x1F}));
    EXPECT_EQ(packets[2][3], 0x10);
    Bytes joined = Range(packets[0], 5, 188);
    for (const size_t i : {1, 2}) {
        const auto rest = Range(packets[i], 4, 188);
        joined.insert(joined.end(), rest.begin(), rest.end());
    }
    EXPECT_EQ(Range(joined, 0, section.size()), section);
    EXPECT_EQ(Range(joined, section.size(), joined.size()), Bytes(joined.size() - 400, 0xFF));
    EXPECT_EQ(packetizer.NextCounter(), 1);
}

TEST(Packetizer, PacksSectionsWithAUnitStartWhereverOneBegins) {
    // Sections of 100, 100, 533 and 20 bytes: the first two begin in packet 0, the third in
    // packet 1 after the last 17 bytes of the second. The fourth would begin in the last byte
    // of packet 3, which carries stuffing there instead; it begins packet 4. (The assembly
    // tests read the bytes back.)
    std::vector<std::vector<uint8_t>> sections;
    for (const size_t body : {88, 88, 521, 8}) {
        sections.push_back(MakeSection({.table_id = 0x80}, std::vector<uint8_t>(body, 0x5A)));
    }
    const auto packets = SectionPacketizer(0x0100).PutAll(sections);
    ASSERT_EQ(packets.size(), 5u);
    const int kPointer[] = {0, 17, -1, -1, 0};  // -1: no unit start
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ((packets[i][1] & 0x40) != 0, kPointer[i] >= 0) << i;
        EXPECT_EQ(packets[i][3] & 0x0F, static_cast<int>(i));
        if (kPointer[i] >= 0) {
            EXPECT_EQ(packets[i][4], kPointer[i]) << i;
        }
    }
    EXPECT_EQ(packets[3][187], 0xFF);
    EXPECT_EQ(packets[4][5], 0x80);
}

TEST(SectionWriter, LongAndShortFormsCarryAValidCrc) {
    const Bytes body = {0xAA, 0xBB};
    const auto s = MakeSection(
        {.table_id = 0x42, .table_id_extension = 0x7FE3, .version = 5, .private_indicator = true},
        body);
    EXPECT_EQ(Range(s, 0, 10), (Bytes{0x42, 0xF0, 0x0B, 0x7F, 0xE3, 0xCB, 0x00, 0x00, 0xAA, 0xBB}));
    EXPECT_EQ(testing::ReferenceCrc32(s), 0u);
    const auto tot = MakeShortSection(0x73, body, true);
    EXPECT_EQ(Range(tot, 0, 5), (Bytes{0x73, 0x70, 6, 0xAA, 0xBB}));
    EXPECT_EQ(testing::ReferenceCrc32(tot), 0u);
    EXPECT_EQ(MakeShortSection(0x70, body, false), (Bytes{0x70, 0x70, 2, 0xAA, 0xBB}));
}

}  // namespace
}  // namespace tavrel::sim
