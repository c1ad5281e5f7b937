#include "sim/packetizer.h"

#include <gtest/gtest.h>

#include "sim/section_writer.h"
#include "support/crc_reference.h"

namespace tavrel::sim {
namespace {

TEST(Packetizer, WritesTheHeaderFields) {
    PacketSpec fields;
    fields.pid = 0x1234;
    fields.continuity_counter = 0x1B;  // only the low four bits go out
    fields.payload_unit_start = true;
    fields.scrambling = 2;
    const uint8_t payload[3] = {1, 2, 3};
    const auto p = MakePacket(fields, payload, 0xFF);
    ASSERT_EQ(p.size(), 188u);
    EXPECT_EQ(p[0], 0x47);
    EXPECT_EQ(p[1], 0x52);  // unit start + PID high bits 0x12
    EXPECT_EQ(p[2], 0x34);
    EXPECT_EQ(p[3], 0x9B);  // scrambling 10, payload only, counter 0xB
    EXPECT_EQ(p[4], 1);
    EXPECT_EQ(p[7], 0xFF);
}

TEST(Packetizer, WritesAnAdaptationFieldWithPcr) {
    PacketSpec fields;
    fields.pid = 0x100;
    fields.adaptation_length = 7;
    fields.pcr = true;
    fields.pcr_base = 0x1'2345'6789;
    const auto p = MakePacket(fields, {});
    EXPECT_EQ(p[3] & 0x30, 0x30);
    EXPECT_EQ(p[4], 7);
    EXPECT_EQ(p[5], 0x10);
    // 33-bit base 0x123456789 -> bytes 91 A2 B3 C4 then the low bit and reserved bits.
    EXPECT_EQ(p[6], 0x91);
    EXPECT_EQ(p[7], 0xA2);
    EXPECT_EQ(p[8], 0xB3);
    EXPECT_EQ(p[9], 0xC4);
    EXPECT_EQ(p[10], 0xFE);
    EXPECT_THROW(MakePacket(fields, std::vector<uint8_t>(180)), std::invalid_argument);
}

TEST(Packetizer, SplitsASectionWithPointerFieldCountersAndStuffing) {
    LongSection f;
    f.table_id = 0x80;
    const auto section = MakeSection(f, std::vector<uint8_t>(388, 0x5A));  // 400 bytes
    SectionPacketizer packetizer(0x0100, 14);
    const auto packets = packetizer.Put(section);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0][1] & 0x40, 0x40);
    EXPECT_EQ(packets[1][1] & 0x40, 0x00);
    EXPECT_EQ(packets[0][3] & 0x0F, 14);
    EXPECT_EQ(packets[1][3] & 0x0F, 15);
    EXPECT_EQ(packets[2][3] & 0x0F, 0);
    EXPECT_EQ(packets[0][4], 0x00);  // pointer_field
    std::vector<uint8_t> joined;
    joined.insert(joined.end(), packets[0].begin() + 5, packets[0].end());
    joined.insert(joined.end(), packets[1].begin() + 4, packets[1].end());
    joined.insert(joined.end(), packets[2].begin() + 4, packets[2].end());
    EXPECT_TRUE(std::equal(section.begin(), section.end(), joined.begin()));
    for (size_t i = section.size(); i < joined.size(); ++i) {
        EXPECT_EQ(joined[i], 0xFF);
    }
    EXPECT_EQ(packetizer.NextCounter(), 1);
}

TEST(Packetizer, PacksSectionsWithAUnitStartWhereverOneBegins) {
    // Sections of 100, 100, 533 and 20 bytes: the first two begin in packet 0, the third in
    // packet 1 after the last 17 bytes of the second. The fourth would begin in the last byte
    // of packet 3, which carries stuffing there instead; it begins packet 4. (The assembly
    // tests read the bytes back.)
    LongSection f;
    f.table_id = 0x80;
    std::vector<std::vector<uint8_t>> sections;
    for (const size_t body : {88, 88, 521, 8}) {
        sections.push_back(MakeSection(f, std::vector<uint8_t>(body, 0x5A)));
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

TEST(Packetizer, UnitsOf192And204Bytes) {
    PacketSpec fields;
    const auto p = MakePacket(fields, {});
    const auto u192 = ToUnit(p, 192, 0x12345678);
    ASSERT_EQ(u192.size(), 192u);
    EXPECT_EQ(u192[0], 0x12);  // the top two bits of the timestamp prefix are reserved
    EXPECT_EQ(u192[3], 0x78);
    EXPECT_EQ(u192[4], 0x47);
    const auto u204 = ToUnit(p, 204);
    ASSERT_EQ(u204.size(), 204u);
    EXPECT_EQ(u204[0], 0x47);
}

TEST(SectionWriter, LongAndShortFormsCarryAValidCrc) {
    LongSection f;
    f.table_id = 0x42;
    f.table_id_extension = 0x7FE3;
    f.version = 5;
    f.private_indicator = true;
    const std::vector<uint8_t> body = {0xAA, 0xBB};
    const auto s = MakeSection(f, body);
    const std::vector<uint8_t> head = {0x42, 0xF0, 0x0B, 0x7F, 0xE3, 0xCB, 0x00, 0x00, 0xAA, 0xBB};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), s.begin()));
    EXPECT_EQ(testing::ReferenceCrc32(s), 0u);

    const auto tot = MakeShortSection(0x73, body, true);
    EXPECT_EQ(tot[1], 0x70);
    EXPECT_EQ(tot[2], 6);
    EXPECT_EQ(testing::ReferenceCrc32(tot), 0u);
    const auto tdt = MakeShortSection(0x70, body, false);
    EXPECT_EQ(tdt.size(), 5u);
}

}  // namespace
}  // namespace tavrel::sim
