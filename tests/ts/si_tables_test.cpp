// Service, network and time tables through the whole processor: literal sections written from
// the standard first, then sections from our writers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "sim/nit_writer.h"
#include "sim/pat_writer.h"
#include "sim/sdt_writer.h"
#include "sim/section_writer.h"
#include "sim/tot_writer.h"
#include "support/crc_reference.h"
#include "support/event_log.h"
#include "support/stream_builder.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using testing::Fields;
using testing::StreamBuilder;

// Names in the literals are JIS X 0208 codes through G0 (Kanji), the decoder's default.
// SDT actual, transport stream 0x7FE3, version 0: service 0x0400 "テレビ１" (provider "ＮＨＫ"),
// 0x0401 "テレビ２", 0x0402 without a service descriptor. CRC_32 0xC4341DF9.
const std::vector<uint8_t> kSdtActual = {
    0x42, 0xF0, 0x3B, 0x7F, 0xE3, 0xC1, 0x00, 0x00, 0x7F, 0xE3, 0xFF, 0x04, 0x00, 0xE3, 0x80, 0x13,
    0x48, 0x11, 0x01, 0x06, 0x23, 0x4E, 0x23, 0x48, 0x23, 0x4B, 0x08, 0x25, 0x46, 0x25, 0x6C, 0x25,
    0x53, 0x23, 0x31, 0x04, 0x01, 0xE3, 0x80, 0x0D, 0x48, 0x0B, 0x01, 0x00, 0x08, 0x25, 0x46, 0x25,
    0x6C, 0x25, 0x53, 0x23, 0x32, 0x04, 0x02, 0xE3, 0x80, 0x00, 0xC4, 0x34, 0x1D, 0xF9,
};
// The same, version 1. CRC_32 0x0D4AE8CF.
const std::vector<uint8_t> kSdtActualV1 = {
    0x42, 0xF0, 0x3B, 0x7F, 0xE3, 0xC3, 0x00, 0x00, 0x7F, 0xE3, 0xFF, 0x04, 0x00, 0xE3, 0x80, 0x13,
    0x48, 0x11, 0x01, 0x06, 0x23, 0x4E, 0x23, 0x48, 0x23, 0x4B, 0x08, 0x25, 0x46, 0x25, 0x6C, 0x25,
    0x53, 0x23, 0x31, 0x04, 0x01, 0xE3, 0x80, 0x0D, 0x48, 0x0B, 0x01, 0x00, 0x08, 0x25, 0x46, 0x25,
    0x6C, 0x25, 0x53, 0x23, 0x32, 0x04, 0x02, 0xE3, 0x80, 0x00, 0x0D, 0x4A, 0xE8, 0xCF,
};
// SDT other, transport stream 0x7FE4, version 0: service 0x0401 "ラジオ". CRC_32 0x8442546E.
const std::vector<uint8_t> kSdtOther = {
    0x46, 0xF0, 0x1C, 0x7F, 0xE4, 0xC1, 0x00, 0x00, 0x7F, 0xE3, 0xFF, 0x04, 0x01, 0xE3, 0x80, 0x0B,
    0x48, 0x09, 0x01, 0x00, 0x06, 0x25, 0x69, 0x25, 0x38, 0x25, 0x2A, 0x84, 0x42, 0x54, 0x6E,
};
// NIT actual, network 0x0004, version 0, name "ＢＳ放送": transport streams 0x4010 (12040.00, 110.0
// east, polarisation 0, modulation 8, 28.8600, FEC 8), 0x4011 (11727.48, 110.0 east, polarisation
// 1, modulation 9, 28.8600, FEC 4), 0x4030 without satellite delivery; each with a service list.
// CRC_32 0x2136C7B1.
const std::vector<uint8_t> kNit = {
    0x40, 0xF0, 0x52, 0x00, 0x04, 0xC1, 0x00, 0x00, 0xF0, 0x0A, 0x40, 0x08, 0x23, 0x42, 0x23,
    0x53, 0x4A, 0x7C, 0x41, 0x77, 0xF0, 0x3B, 0x40, 0x10, 0x00, 0x04, 0xF0, 0x12, 0x41, 0x03,
    0x41, 0x10, 0x01, 0x43, 0x0B, 0x01, 0x20, 0x40, 0x00, 0x11, 0x00, 0x88, 0x02, 0x88, 0x60,
    0x08, 0x40, 0x11, 0x00, 0x04, 0xF0, 0x12, 0x41, 0x03, 0x41, 0x11, 0x01, 0x43, 0x0B, 0x01,
    0x17, 0x27, 0x48, 0x11, 0x00, 0xA9, 0x02, 0x88, 0x60, 0x04, 0x40, 0x30, 0x00, 0x04, 0xF0,
    0x05, 0x41, 0x03, 0x41, 0x30, 0x01, 0x21, 0x36, 0xC7, 0xB1,
};
// Selection information section (0x7F), extension 0xFFFF, version 0, empty loops. CRC_32
// 0xF8A51E33.
const std::vector<uint8_t> kSit = {
    0x7F, 0xF0, 0x0B, 0xFF, 0xFF, 0xC1, 0x00, 0x00, 0xF0, 0x00, 0xF8, 0xA5, 0x1E, 0x33,
};
// NIT of another network (0x41), network 0x0005: ignored. CRC_32 0x5635099B.
const std::vector<uint8_t> kNitOther = {
    0x41, 0xF0, 0x0D, 0x00, 0x05, 0xC1, 0x00, 0x00, 0xF0, 0x00, 0xF0, 0x00, 0x56, 0x35, 0x09, 0x9B,
};
// TOT, MJD 58944 (2020-04-05) 19:00:05, one local time offset descriptor for JPN. CRC_32
// 0x4C51638F.
const std::vector<uint8_t> kTot = {
    0x73, 0x70, 0x1A, 0xE6, 0x40, 0x19, 0x00, 0x05, 0xF0, 0x0F, 0x58, 0x0D, 0x4A, 0x50, 0x4E,
    0x02, 0x00, 0x00, 0xE6, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x51, 0x63, 0x8F,
};
// The same at 19:00:10. CRC_32 0xF15E5DA8.
const std::vector<uint8_t> kTot2 = {
    0x73, 0x70, 0x1A, 0xE6, 0x40, 0x19, 0x00, 0x10, 0xF0, 0x0F, 0x58, 0x0D, 0x4A, 0x50, 0x4E,
    0x02, 0x00, 0x00, 0xE6, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF1, 0x5E, 0x5D, 0xA8,
};
// MJD 58945 23:59:59. CRC_32 0x031FDA0A.
const std::vector<uint8_t> kTot3 = {
    0x73, 0x70, 0x1A, 0xE6, 0x41, 0x23, 0x59, 0x59, 0xF0, 0x0F, 0x58, 0x0D, 0x4A, 0x50, 0x4E,
    0x02, 0x00, 0x00, 0xE6, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x1F, 0xDA, 0x0A,
};
// TDT at the same time: no CRC field.
const std::vector<uint8_t> kTdt = {0x70, 0x70, 0x05, 0xE6, 0x40, 0x19, 0x00, 0x05};

using Tables = testing::ProcessorRun;

void Feed(Tables& run, const StreamBuilder& b) {
    run.Feed(b.Bytes());
}

// A PAT naming the network PID.
std::vector<uint8_t> PatWithNit(uint16_t transport_stream_id, uint16_t network_pid = 0x0010) {
    return sim::PatSection(transport_stream_id, 0, {{0, network_pid}, {0x0400, 0x01F0}});
}

TEST(SiLiterals, CrcFieldsMatchABitwiseCrc) {
    for (const auto* s : {&kSdtActual, &kSdtActualV1, &kSdtOther, &kNit, &kSit, &kNitOther, &kTot,
                          &kTot2, &kTot3}) {
        EXPECT_EQ(testing::ReferenceCrc32(*s), 0u);
    }
}

TEST(SdtHandler, NamesEveryServiceOncePerVersionAndTheOtherStreamOverwrites) {
    Tables f;
    Feed(f, StreamBuilder()
                .Section(0x0011, kSdtActual)
                .Section(0x0011, kSdtActual)
                .Section(0x0011, kSdtOther));
    const auto names = f.log.OfType(kEventServiceName);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0].a, 0x0400u);
    EXPECT_EQ(names[0].text, "テレビ１");
    EXPECT_EQ(names[0].length, 0u);
    EXPECT_EQ(names[1].a, 0x0401u);
    EXPECT_EQ(names[1].text, "テレビ２");
    EXPECT_EQ(names[2].a, 0x0402u);
    EXPECT_EQ(names[2].text, "");  // no service descriptor: an empty name
    EXPECT_EQ(names[3].a, 0x0401u);
    EXPECT_EQ(names[3].text, "ラジオ");
    EXPECT_EQ(f.Name(0x0400), "テレビ１");
    EXPECT_EQ(f.Name(0x0401), "ラジオ");
    EXPECT_EQ(f.Name(0x0402), "");
    Feed(f, StreamBuilder().Section(0x0011, kSdtActualV1).Section(0x0011, kSdtActualV1));
    EXPECT_EQ(f.log.OfType(kEventServiceName).size(), 7u);
    EXPECT_EQ(f.Name(0x0401), "テレビ２");
}

TEST(SdtHandler, OtherTablesAreIgnoredAndLoopsEndInsideTheSection) {
    Tables f;
    sim::LongSection bat;
    bat.table_id = 0x4A;  // bouquet association, on the same PID
    bat.table_id_extension = 0x0001;
    bat.private_indicator = true;
    const std::vector<uint8_t> body = {0xF0, 0x00, 0xF0, 0x00};
    Feed(f, StreamBuilder().Section(0x0011, sim::MakeSection(bat, body)));
    EXPECT_TRUE(f.log.entries.empty());

    // The second entry claims 0xFFF descriptor bytes: it is read as far as it goes, no more.
    std::vector<uint8_t> section = kSdtActual;
    section[38] = 0x8F;
    section[39] = 0xFF;
    sim::FixCrc(section);
    Feed(f, StreamBuilder().Section(0x0011, section));
    const auto names = f.log.OfType(kEventServiceName);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].text, "テレビ１");
    EXPECT_EQ(names[1].a, 0x0401u);

    // A long name is cut to the 28 bytes of the record.
    sim::SdtService s;
    s.service_id = 0x0500;
    s.name = "一二三四五六七八九十一二三四五六七八九十";  // 20 Kanji, 40 bytes
    Feed(f, StreamBuilder().Section(0x0011, sim::SdtSection(true, 1, 1, 0, {s})));
    EXPECT_EQ(f.Name(0x0500), "一二三四五六七八九十一二三四");
}

TEST(ServiceName, CutsToTheDestinationWithANulAndLeavesItAloneForAnUnknownService) {
    Tables f;
    Feed(f, StreamBuilder().Section(0x0011, kSdtActual));
    char name[6];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(f.processor.ServiceName(0x0999, name, sizeof name), 0);
    EXPECT_EQ(std::string(name, sizeof name), std::string(6, 'x'));
    EXPECT_EQ(f.processor.ServiceName(0x0400, name, sizeof name), 1);
    // Room for 5 bytes of text: cut before the half of "ビ" that would not fit.
    EXPECT_EQ(testing::Utf8(name), "テレ");
    EXPECT_EQ(name[4], '\0');
    EXPECT_EQ(name[5], 'x');
    char seven[7];
    EXPECT_EQ(f.processor.ServiceName(0x0400, seven, sizeof seven), 1);
    EXPECT_EQ(testing::Utf8(seven), "テレビ");
    EXPECT_EQ(f.processor.ServiceName(0x0400, nullptr, 0), 1);  // known, nothing written
}

TEST(ServiceName, NamesAndClockAreEmptiedByANewTransportStream) {
    Tables f;
    Feed(f, StreamBuilder()
                .Section(0, PatWithNit(0x7FE3))
                .Section(0x0011, kSdtActual)
                .Section(0x0014, kTot));
    EXPECT_EQ(f.Name(0x0400), "テレビ１");
    EXPECT_EQ(f.processor.BroadcastNow().mjd, 58944u);
    Feed(f, StreamBuilder().Section(0, PatWithNit(0x7FE4)));
    EXPECT_EQ(f.Name(0x0400), "(unknown)");
    EXPECT_EQ(f.processor.BroadcastNow().mjd, 0u);
    EXPECT_EQ(f.processor.BroadcastNow().seconds, 0u);
    // The same SDT is new again for the new stream.
    Feed(f, StreamBuilder().Section(0x0011, kSdtActual));
    EXPECT_EQ(f.Name(0x0400), "テレビ１");
}

TEST(ServiceName, LookupFromAnotherThreadWhileInputRuns) {
    Tables f;
    // Alternating versions, so every section rewrites the table.
    StreamBuilder b;
    for (int i = 0; i < 200; ++i) {
        b.Section(0x0011, (i % 2) ? kSdtActualV1 : kSdtActual);
        b.Section(0x0011, kSdtOther);
    }
    const auto stream = b.Bytes();
    std::atomic<bool> done{false};
    std::thread reader([&] {
        char name[30];
        while (!done.load()) {
            if (f.processor.ServiceName(0x0400, name, sizeof name) == 1) {
                EXPECT_EQ(testing::Utf8(name), "テレビ１");
            }
        }
    });
    f.processor.Input(stream, f.stats);
    done = true;
    reader.join();
    // The other stream's name came once; every later actual version overwrote it again.
    EXPECT_EQ(f.Name(0x0401), "テレビ２");
    EXPECT_EQ(f.log.OfType(kEventServiceName).size(), 200u * 3 + 1);
}

TEST(NitHandler, EachTransportStreamRaises19ThenTheNetworkName18OncePerVersion) {
    Tables f;
    Feed(f, StreamBuilder().Section(0x0010, kNit));  // the network PID is only known from the PAT
    EXPECT_TRUE(f.log.entries.empty());
    Feed(f, StreamBuilder().Section(0, PatWithNit(0x4010)).Section(0x0010, kNit));
    f.log.entries.erase(f.log.entries.begin(), f.log.entries.begin() + 2);  // event 2 and the PAT
    Feed(f, StreamBuilder().Section(0x0010, kNit));
    ASSERT_EQ(f.log.Types(), (std::vector<uint32_t>{19, 19, 19, 18}));
    const auto streams = f.log.OfType(kEventTransportStream);
    EXPECT_EQ(streams[0].a, 0x0004u);
    EXPECT_EQ(streams[0].length, 0x4010u);
    EXPECT_EQ(Fields(streams[0].delivery), std::tuple(12040.0, 110.0, 1u, 0, 8, 28.86, 8));
    EXPECT_EQ(streams[1].length, 0x4011u);
    EXPECT_EQ(Fields(streams[1].delivery), std::tuple(11727.48, 110.0, 1u, 1, 9, 28.86, 4));
    // No satellite delivery descriptor: every field zero, padding too.
    EXPECT_EQ(streams[2].length, 0x4030u);
    const SatelliteDelivery zero{};
    EXPECT_EQ(std::memcmp(&streams[2].delivery, &zero, sizeof zero), 0);
    const auto network = f.log.OfType(kEventNetwork);
    EXPECT_EQ(network[0].a, 0x0004u);
    EXPECT_EQ(network[0].text, "ＢＳ放送");
    EXPECT_EQ(network[0].length, 0u);

    Feed(f, StreamBuilder().Section(
                0x0010, sim::NitSection(0x0004, 1, "ＢＳ放送", {{0x4010, 0x0004, {}, {}}})));
    EXPECT_EQ(f.log.Types().size(), 6u);
    // A descriptor body too short for the whole delivery leaves the record alone.
    SatelliteDelivery d{};
    EXPECT_FALSE(ParseSatelliteDelivery(std::span(kNit).subspan(35, 10), d));
    EXPECT_EQ(d.frequency, 0.0);
}

TEST(NitHandler, OtherNetworksAreIgnoredSelectionInformationRaises18WithLength1) {
    Tables f;
    Feed(f, StreamBuilder()
                .Section(0, PatWithNit(0x4010, 0x0020))
                .Section(0x0020, kNitOther)
                .Section(0x0020, kSit)
                .Section(0x0020, kSit));
    ASSERT_EQ(f.log.OfType(kEventNetwork).size(), 1u);
    const auto network = f.log.OfType(kEventNetwork)[0];
    EXPECT_EQ(network.a, 0xFFFFu);
    EXPECT_EQ(network.length, 1u);
    EXPECT_EQ(network.text, "");
    EXPECT_TRUE(f.log.OfType(kEventTransportStream).empty());
}

TEST(NitHandler, TransportStreamLoopPastTheSectionStopsAtTheCrc) {
    std::vector<uint8_t> section = kNit;
    section[20] = 0xF0;  // transport_stream_loop_length 0x0FF0
    section[21] = 0xF0;
    sim::FixCrc(section);
    Tables f;
    Feed(f, StreamBuilder().Section(0, PatWithNit(0x4010)).Section(0x0010, section));
    // The three entries that are there, then the name.
    EXPECT_EQ(f.log.OfType(kEventTransportStream).size(), 3u);
    ASSERT_EQ(f.log.OfType(kEventNetwork).size(), 1u);
    EXPECT_EQ(f.log.OfType(kEventNetwork)[0].text, "ＢＳ放送");
}

TEST(TimeHandler, EveryTotRaisesTheTimeEvenRepeatedAndWithTablesOff) {
    Tables f;
    f.processor.decode_tables = 0;  // nothing but the time arrives then
    Feed(f, StreamBuilder()
                .Section(0, PatWithNit(0x4010))
                .Section(0x0011, kSdtActual)
                .Section(0x0014, kTot)
                .Section(0x0014, kTot2)
                .Section(0x0014, kTot));
    ASSERT_EQ(f.log.Types(), (std::vector<uint32_t>{kEventTime, kEventTime, kEventTime}));
    const auto& t = f.log.entries;
    EXPECT_EQ(std::tie(t[0].a, t[0].length), std::tuple(0u, 0u));
    EXPECT_EQ(std::tuple(t[0].time.mjd, t[0].time.seconds, t[0].time.raw, t[0].time.hour,
                         t[0].time.minute, t[0].time.second),
              std::tuple(58944u, 19u * 3600 + 5, 0x050019u, 19, 0, 5));
    EXPECT_EQ(t[1].time.seconds, 19u * 3600 + 10);
    EXPECT_EQ(t[2].time.seconds, 19u * 3600 + 5);
    EXPECT_EQ(f.processor.BroadcastNow().seconds, 19u * 3600 + 5);
    Feed(f, StreamBuilder().Section(0x0014, kTot3));
    EXPECT_EQ(f.processor.BroadcastNow().mjd, 58945u);
    EXPECT_EQ(f.processor.BroadcastNow().seconds, 86399u);
}

TEST(TimeHandler, TdtWithoutCrcAndSectionsTooShortNeverArriveLongFormDoes) {
    Tables f;
    Feed(f, StreamBuilder()
                .Section(0x0014, kTdt)
                .Section(0x0014, sim::TdtSection({58944, 100}))
                .Section(0x0014, sim::MakeShortSection(0x73, std::vector<uint8_t>{0xE6, 0x40, 0x12},
                                                       true)));
    EXPECT_TRUE(f.log.entries.empty());
    EXPECT_EQ(f.processor.BroadcastNow().mjd, 0u);
    // The long form is read after its eight-byte header.
    sim::LongSection fields;
    fields.table_id = 0x73;
    const std::vector<uint8_t> body = {0xE6, 0x40, 0x12, 0x34, 0x56, 0xF0, 0x00};
    Feed(f, StreamBuilder().Section(0x0014, sim::MakeSection(fields, body)));
    ASSERT_EQ(f.log.entries.size(), 1u);
    EXPECT_EQ(f.log.entries[0].time.mjd, 58944u);
    EXPECT_EQ(f.log.entries[0].time.seconds, 12u * 3600 + 34 * 60 + 56);
}

}  // namespace
}  // namespace tavrel
