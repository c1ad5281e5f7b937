#include <gtest/gtest.h>

#include "sim/pat_writer.h"
#include "support/crc_reference.h"
#include "support/event_log.h"
#include "support/stream_builder.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using testing::StreamBuilder;
using Units = std::vector<std::vector<uint8_t>>;

const std::vector<uint8_t> kPat =
    sim::PatSection(0x7FE3, 0, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}});

// Output 0 drops programme 0x0401 (or, with keep, passes only it); output 1 has no filter.
struct Outputs : testing::ProcessorRun {
    explicit Outputs(uint32_t program_mode = 1) : ProcessorRun(true) {
        processor.AddOutput(1);
        const uint16_t programs[] = {0x0401};
        processor.SetOutputFilter(0, program_mode, programs, 1, nullptr, 0);
    }
    // The PID 0 units an output received.
    Units Pats(uint32_t output) const {
        Units out;
        for (auto& unit : log.Packets(output)) {
            if (((unit[1] & 0x1F) << 8 | unit[2]) == 0) {
                out.push_back(unit);
            }
        }
        return out;
    }
};

// A unit holds one complete PAT section at `start` with a CRC that matches a bit-by-bit
// computation, listing `programs` (number, PMT PID), and stuffing up to the end of the 188 bytes.
void ExpectPat(const std::vector<uint8_t>& unit, size_t start,
               const std::vector<std::pair<uint16_t, uint16_t>>& programs) {
    const size_t length = static_cast<size_t>(unit[start + 1] & 0x0F) << 8 | unit[start + 2];
    ASSERT_EQ(length, 9 + 4 * programs.size());
    const size_t end = start + 3 + length;
    ASSERT_LE(end, 188u);
    EXPECT_EQ(testing::ReferenceCrc32(std::span(unit).subspan(start, end - start)), 0u);
    EXPECT_EQ(unit[start + 3], 0x7F);  // transport_stream_id as received
    for (size_t i = 0; i < programs.size(); ++i) {
        const uint8_t* e = &unit[start + 8 + 4 * i];
        EXPECT_EQ(e[0] << 8 | e[1], programs[i].first);
        EXPECT_EQ((e[2] & 0x1F) << 8 | e[3], programs[i].second);
    }
    for (size_t i = end; i < 188; ++i) {
        EXPECT_EQ(unit[i], 0xFF) << "byte " << i;
    }
}

TEST(PatRewrite, DroppingOrKeepingAProgrammeRewritesEveryCopyOthersGetItAsReceived) {
    Outputs f;
    f.Feed(StreamBuilder().Section(0, kPat).Section(0, kPat).Bytes());
    // The first copy too: its section completes in the dispatch before the output stage.
    const auto rewritten = f.Pats(0);
    ASSERT_EQ(rewritten.size(), 2u);
    const std::vector<uint8_t> expected = {0x00, 0xB0, 0x0D, 0x7F, 0xE3, 0xC1, 0x00, 0x00,
                                           0x04, 0x00, 0xE1, 0xF0, 0x23, 0xA7, 0x75, 0x48};
    for (const auto& unit : rewritten) {
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), unit.begin() + 5));
        ExpectPat(unit, 5, {{0x0400, 0x01F0}});
    }
    const auto plain = f.Pats(1);
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_TRUE(std::equal(kPat.begin(), kPat.end(), plain[0].begin() + 5));

    Outputs keep(0);
    keep.Feed(StreamBuilder().Section(0, kPat).Bytes());
    ASSERT_EQ(keep.Pats(0).size(), 1u);
    ExpectPat(keep.Pats(0)[0], 5, {{0x0401, 0x01F1}});
}

TEST(PatRewrite, BeforeAnyPatIsDecodedTheListIsEmpty) {
    Outputs f;
    f.processor.decode_tables = 0;  // the PAT list never fills
    f.Feed(StreamBuilder().Section(0, kPat).Bytes());
    ASSERT_EQ(f.Pats(0).size(), 1u);
    ExpectPat(f.Pats(0)[0], 5, {});
}

TEST(PatRewrite, HonoursAnAdaptationFieldInFrontOfThePointerField) {
    Outputs f(0);
    const sim::PacketSpec fields{.payload_unit_start = true, .adaptation_length = 7};
    std::vector<uint8_t> payload = {0x00};
    payload.insert(payload.end(), kPat.begin(), kPat.end());
    f.Feed(StreamBuilder().Packet(sim::MakePacket(fields, payload)).Bytes());
    ASSERT_EQ(f.Pats(0).size(), 1u);
    const auto unit = f.Pats(0)[0];
    EXPECT_EQ(unit[4], 7);      // the adaptation field is kept
    EXPECT_EQ(unit[12], 0x00);  // pointer_field
    ExpectPat(unit, 13, {{0x0401, 0x01F1}});
}

TEST(PatRewrite, UnitWhereTheSectionCannotFitIsNotSent) {
    Outputs f;
    // pointer_field 180: the section would start at byte 185 and not fit into the packet.
    std::vector<uint8_t> payload(184, 0xFF);
    payload[0] = 180;
    f.Feed(StreamBuilder().Section(0, kPat).RawPayload(0, true, payload).Bytes());
    EXPECT_EQ(f.Pats(0).size(), 1u);  // only the good one
    EXPECT_EQ(f.Pats(1).size(), 2u);  // the unfiltered output gets both as received
}

TEST(PatRewrite, LongUnitsKeepTheirBytesBeyondThePacket) {
    Outputs f;
    StreamBuilder b;
    b.Section(0, kPat);
    std::vector<uint8_t> bytes;
    sim::AppendUnits(bytes, b.Packets(), 204);
    for (auto& byte : std::span<uint8_t>(bytes).subspan(204 * 3 + 188, 16)) {
        byte = 0xA5;  // the parity bytes of the PAT unit
    }
    f.Feed(bytes);
    ASSERT_EQ(f.Pats(0).size(), 1u);
    const auto unit = f.Pats(0)[0];
    ASSERT_EQ(unit.size(), 204u);
    ExpectPat(unit, 5, {{0x0400, 0x01F0}});
    EXPECT_EQ(std::vector<uint8_t>(unit.begin() + 188, unit.end()), std::vector<uint8_t>(16, 0xA5));
}

}  // namespace
}  // namespace tavrel
