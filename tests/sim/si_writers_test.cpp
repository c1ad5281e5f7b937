// Writers of the service, network, time and event tables: their bytes against the layouts of
// the standard. What the processor reads back from them is checked through the simulated
// multiplex.
#include <gtest/gtest.h>

#include "sim/eit_writer.h"
#include "sim/nit_writer.h"
#include "sim/sdt_writer.h"
#include "sim/tot_writer.h"
#include "support/crc_reference.h"
#include "ts/event_record.h"

namespace tavrel {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(TimeFieldWriter, BcdStartTimeAndDuration) {
    EXPECT_EQ(sim::ToBcd(1204000), 0x01204000u);
    EXPECT_EQ(sim::ToBcd(99999999), 0x99999999u);
    EXPECT_THROW(sim::ToBcd(100000000), std::invalid_argument);
    Bytes out;
    sim::PutMjdTime(out, {58944, 23 * 3600 + 30 * 60 + 7});
    sim::PutDuration(out, 3600 + 59);
    sim::PutDuration(out, kUndefinedDuration);
    EXPECT_EQ(out, (Bytes{0xE6, 0x40, 0x23, 0x30, 0x07, 0x01, 0x00, 0x59, 0xFF, 0xFF, 0xFF}));
    EXPECT_THROW(sim::PutMjdTime(out, {0x10000, 0}), std::invalid_argument);
}

TEST(TotWriter, MatchesTheLiteralSectionsTdtWithoutCrc) {
    // TOT at MJD 58944 19:00:05 with a local time offset descriptor for JPN (region 0, offset
    // +00:00, change at MJD 58944 00:00:00, next offset 00:00). CRC_32 0x4C51638F.
    const Bytes tot = {0x73, 0x70, 0x1A, 0xE6, 0x40, 0x19, 0x00, 0x05, 0xF0, 0x0F,
                       0x58, 0x0D, 0x4A, 0x50, 0x4E, 0x02, 0x00, 0x00, 0xE6, 0x40,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x51, 0x63, 0x8F};
    sim::LocalTimeOffset japan;
    japan.time_of_change = {58944, 0};
    EXPECT_EQ(sim::TotSection({58944, 19 * 3600 + 5}, {japan}), tot);
    EXPECT_EQ(sim::TdtSection({58944, 19 * 3600 + 5}),
              (Bytes{0x70, 0x70, 0x05, 0xE6, 0x40, 0x19, 0x00, 0x05}));
}

TEST(SdtWriter, LayoutOfTheFixedFieldsAndOneEntry) {
    sim::SdtService s;
    s.service_id = 0x0400;
    s.eit_schedule = s.free_ca = true;
    s.service_descriptor = false;
    s.more_descriptors = {0xC1, 0x01, 0x84};  // digital copy control
    const auto sdt = sim::SdtSection(false, 0x7FE4, 0x7FE3, 3, {s});
    ASSERT_EQ(sdt.size(), 11u + 5 + 3 + 4);
    // Other stream, syntax and reserved bits, version 3 current; then the entry.
    EXPECT_EQ(Bytes(sdt.begin(), sdt.begin() + 19),
              (Bytes{0x46, 0xF0, 0x14, 0x7F, 0xE4, 0xC7, 0x00, 0x00, 0x7F, 0xE3, 0xFF, 0x04, 0x00,
                     0xE3, 0x90, 0x03, 0xC1, 0x01, 0x84}));
    EXPECT_EQ(testing::ReferenceCrc32(sdt), 0u);
}

TEST(NitWriter, SatelliteDeliveryDescriptorBytes) {
    EXPECT_EQ(
        sim::SatelliteDeliveryDescriptor({1172748, 1100, true, 1, 9, 288600, 4}),
        (Bytes{0x43, 0x0B, 0x01, 0x17, 0x27, 0x48, 0x11, 0x00, 0xA9, 0x02, 0x88, 0x60, 0x04}));
}

TEST(EitWriter, EventLoopEntryAndSectionHeaderBytes) {
    sim::EitEvent e;
    e.event_id = 0x1234;
    e.start = {58944, 19 * 3600};
    e.duration = 1800;
    e.running_status = 4;
    e.short_event = false;
    e.video_component_type = 0xB3;
    EXPECT_EQ(sim::EitEventBytes(e),
              (Bytes{0x12, 0x34, 0xE6, 0x40, 0x19, 0x00, 0x00, 0x00, 0x30, 0x00,
                     0x80, 0x08, 0x50, 0x06, 0xF1, 0xB3, 0x00, 0x6A, 0x70, 0x6E}));
    const auto s = sim::EitSection({0x51, 0x0400, 9, 0x18, 0xF8, 0x7FE3, 0x0004, 0x19, 0x57}, {});
    EXPECT_EQ(s, (Bytes{0x51, 0xF0, 0x0F, 0x04, 0x00, 0xD3, 0x18, 0xF8, 0x7F, 0xE3, 0x00, 0x04,
                        0x19, 0x57, s[14], s[15], s[16], s[17]}));
    EXPECT_EQ(testing::ReferenceCrc32(s), 0u);
}

}  // namespace
}  // namespace tavrel
