#include <gtest/gtest.h>

#include "sim/pat_writer.h"
#include "support/crc_reference.h"
#include "support/event_log.h"
#include "support/stream_builder.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using testing::EventLog;
using testing::ReferenceCrc32;
using testing::StreamBuilder;

const std::vector<uint8_t> kPat =
    sim::PatSection(0x7FE3, 0, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}});

struct Fixture {
    CTsProcessor processor;
    StreamStats stats;
    EventLog log;
    explicit Fixture(uint32_t decode = 1) {
        log.Attach(processor, true);
        processor.decode_tables = decode;
        processor.AddOutput(1);
    }
    // The PID 0 units an output received.
    std::vector<std::vector<uint8_t>> PatUnits(uint32_t output) const {
        std::vector<std::vector<uint8_t>> out;
        for (auto& unit : log.Packets(output)) {
            if (((unit[1] & 0x1F) << 8 | unit[2]) == 0) {
                out.push_back(unit);
            }
        }
        return out;
    }
};

// Checks that a unit holds one complete PAT section after its pointer field, with a CRC that
// matches a bit-by-bit computation, and stuffing up to the end of the 188 bytes.
void ExpectValidPat(const std::vector<uint8_t>& unit, size_t section_start) {
    const size_t length =
        static_cast<size_t>(unit[section_start + 1] & 0x0F) << 8 | unit[section_start + 2];
    const size_t end = section_start + 3 + length;
    ASSERT_LE(end, 188u);
    EXPECT_EQ(
        ReferenceCrc32(std::span<const uint8_t>(unit.data() + section_start, end - section_start)),
        0u);
    for (size_t i = end; i < 188; ++i) {
        EXPECT_EQ(unit[i], 0xFF) << "byte " << i;
    }
}

TEST(PatRewrite, DroppingAProgrammeLeavesTheOtherWithAValidCrc) {
    Fixture f;
    const uint16_t programs[] = {0x0401};
    f.processor.SetOutputFilter(0, 1, programs, 1, nullptr, 0);
    f.processor.Input(StreamBuilder().Section(0, kPat).Section(0, kPat).Bytes(), f.stats);

    const auto rewritten = f.PatUnits(0);
    ASSERT_EQ(rewritten.size(), 2u);
    // The first copy was rewritten before the PAT was decoded (the section completes in the
    // dispatch that precedes the output stage, so even the first one carries the list).
    for (const auto& unit : rewritten) {
        const std::vector<uint8_t> expected_section = {0x00, 0xB0, 0x0D, 0x7F, 0xE3, 0xC1,
                                                       0x00, 0x00, 0x04, 0x00, 0xE1, 0xF0,
                                                       0x23, 0xA7, 0x75, 0x48};
        EXPECT_TRUE(std::equal(expected_section.begin(), expected_section.end(), unit.begin() + 5));
        ExpectValidPat(unit, 5);
    }
    // An output without a programme set gets the PAT as received.
    const auto plain = f.PatUnits(1);
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_TRUE(std::equal(kPat.begin(), kPat.end(), plain[0].begin() + 5));
}

TEST(PatRewrite, KeepModeListsOnlyTheChosenProgramme) {
    Fixture f;
    const uint16_t programs[] = {0x0401};
    f.processor.SetOutputFilter(1, 0, programs, 1, nullptr, 0);
    f.processor.Input(StreamBuilder().Section(0, kPat).Bytes(), f.stats);
    const auto units = f.PatUnits(1);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0][5 + 2], 13);
    EXPECT_EQ(units[0][5 + 8], 0x04);
    EXPECT_EQ(units[0][5 + 9], 0x01);
    EXPECT_EQ(units[0][5 + 10], 0xE1);
    EXPECT_EQ(units[0][5 + 11], 0xF1);
    ExpectValidPat(units[0], 5);
}

TEST(PatRewrite, BeforeAnyPatIsDecodedTheListIsEmpty) {
    // With table decoding off the PAT list never fills: the rewrite sends no programmes.
    Fixture f(0);
    const uint16_t programs[] = {0x0401};
    f.processor.SetOutputFilter(0, 1, programs, 1, nullptr, 0);
    f.processor.Input(StreamBuilder().Section(0, kPat).Bytes(), f.stats);
    const auto units = f.PatUnits(0);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0][5 + 1], 0xB0);
    EXPECT_EQ(units[0][5 + 2], 9);
    EXPECT_EQ(units[0][5 + 3], 0x7F);  // transport_stream_id stays as received
    ExpectValidPat(units[0], 5);
}

TEST(PatRewrite, HonoursAnAdaptationFieldInFrontOfThePointerField) {
    Fixture f;
    const uint16_t programs[] = {0x0400};
    f.processor.SetOutputFilter(0, 1, programs, 1, nullptr, 0);
    sim::PacketSpec fields;
    fields.pid = 0;
    fields.payload_unit_start = true;
    fields.adaptation_length = 7;
    std::vector<uint8_t> payload = {0x00};
    payload.insert(payload.end(), kPat.begin(), kPat.end());
    f.processor.Input(StreamBuilder().Packet(sim::MakePacket(fields, payload)).Bytes(), f.stats);
    const auto units = f.PatUnits(0);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0][4], 7);      // the adaptation field is kept
    EXPECT_EQ(units[0][12], 0x00);  // pointer_field
    EXPECT_EQ(units[0][13 + 2], 13);
    EXPECT_EQ(units[0][13 + 8], 0x04);
    EXPECT_EQ(units[0][13 + 9], 0x01);
    ExpectValidPat(units[0], 13);
}

TEST(PatRewrite, UnitWhereTheSectionCannotFitIsNotSent) {
    Fixture f;
    const uint16_t programs[] = {0x0401};
    f.processor.SetOutputFilter(0, 1, programs, 1, nullptr, 0);
    // pointer_field 180: the section would start at byte 185 and not fit into the packet.
    std::vector<uint8_t> payload(184, 0xFF);
    payload[0] = 180;
    f.processor.Input(StreamBuilder().Section(0, kPat).RawPayload(0, true, payload).Bytes(),
                      f.stats);
    EXPECT_EQ(f.PatUnits(0).size(), 1u);  // only the good one
    EXPECT_EQ(f.PatUnits(1).size(), 2u);  // the unfiltered output gets both as received
}

TEST(PatRewrite, LongUnitsKeepTheirBytesBeyondThePacket) {
    Fixture f;
    const uint16_t programs[] = {0x0401};
    f.processor.SetOutputFilter(0, 1, programs, 1, nullptr, 0);
    StreamBuilder b;
    b.Section(0, kPat);
    std::vector<uint8_t> bytes;
    sim::AppendUnits(bytes, b.Packets(), 204);
    for (auto& byte : std::span<uint8_t>(bytes).subspan(204 * 3 + 188, 16)) {
        byte = 0xA5;  // the parity bytes of the PAT unit
    }
    f.processor.Input(bytes, f.stats);
    const auto units = f.PatUnits(0);
    ASSERT_EQ(units.size(), 1u);
    ASSERT_EQ(units[0].size(), 204u);
    ExpectValidPat(units[0], 5);
    for (size_t i = 188; i < 204; ++i) {
        EXPECT_EQ(units[0][i], 0xA5);
    }
}

}  // namespace
}  // namespace tavrel
