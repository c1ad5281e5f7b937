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

using testing::EventLog;
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
struct Fixture {
    CTsProcessor processor;
    StreamStats stats;
    EventLog events;
    Fixture() {
        events.Attach(processor);
        processor.decode_tables = 1;
    }
    void Feed(const StreamBuilder& b) { processor.Input(b.Bytes(), stats); }
    std::string Name(uint16_t service_id) {
        char name[64];
        std::memset(name, 'x', sizeof name);
        if (!processor.ServiceName(service_id, name, sizeof name)) {
            return "(unknown)";
        }
        return testing::Utf8(name);
    }
};

// A PAT naming the NIT on PID 0x0010.
std::vector<uint8_t> PatWithNit(uint16_t transport_stream_id, uint16_t network_pid = 0x0010) {
    return sim::PatSection(transport_stream_id, 0, {{0, network_pid}, {0x0400, 0x01F0}});
}

TEST(SiLiterals, CrcFieldsMatchABitwiseCrc) {
    for (const auto* s : {&kSdtActual, &kSdtActualV1, &kSdtOther, &kNit, &kSit, &kNitOther, &kTot,
                          &kTot2, &kTot3}) {
        EXPECT_EQ(testing::ReferenceCrc32(*s), 0u);
    }
}

TEST(SdtHandler, RaisesEveryServiceNameAndKeepsIt) {
    Fixture f;
    f.Feed(StreamBuilder().Section(0x0011, kSdtActual));
    const auto names = f.events.OfType(kEventServiceName);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].a, 0x0400u);
    EXPECT_EQ(names[0].text, "テレビ１");
    EXPECT_EQ(names[0].length, 0u);
    EXPECT_EQ(names[1].a, 0x0401u);
    EXPECT_EQ(names[1].text, "テレビ２");
    EXPECT_EQ(names[2].a, 0x0402u);
    EXPECT_EQ(names[2].text, "");  // no service descriptor: an empty name
    EXPECT_EQ(f.Name(0x0400), "テレビ１");
    EXPECT_EQ(f.Name(0x0402), "");
}

TEST(SdtHandler, RepeatRaisesNothingAndANewVersionRaisesEveryEntryAgain) {
    Fixture f;
    f.Feed(StreamBuilder()
               .Section(0x0011, kSdtActual)
               .Section(0x0011, kSdtActual)
               .Section(0x0011, kSdtActual));
    EXPECT_EQ(f.events.OfType(kEventServiceName).size(), 3u);
    f.Feed(StreamBuilder().Section(0x0011, kSdtActualV1).Section(0x0011, kSdtActualV1));
    EXPECT_EQ(f.events.OfType(kEventServiceName).size(), 6u);
}

TEST(SdtHandler, OtherStreamEntryOverwritesTheName) {
    Fixture f;
    f.Feed(StreamBuilder().Section(0x0011, kSdtActual).Section(0x0011, kSdtOther));
    const auto names = f.events.OfType(kEventServiceName);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[3].a, 0x0401u);
    EXPECT_EQ(names[3].text, "ラジオ");
    EXPECT_EQ(f.Name(0x0401), "ラジオ");
    EXPECT_EQ(f.Name(0x0400), "テレビ１");
}

TEST(SdtHandler, IgnoresOtherTablesOnItsPid) {
    Fixture f;
    sim::LongSection bat;
    bat.table_id = 0x4A;  // bouquet association
    bat.table_id_extension = 0x0001;
    bat.private_indicator = true;
    const std::vector<uint8_t> body = {0xF0, 0x00, 0xF0, 0x00};
    f.Feed(StreamBuilder().Section(0x0011, sim::MakeSection(bat, body)));
    EXPECT_TRUE(f.events.entries.empty());
}

TEST(SdtHandler, DescriptorLengthPastTheSectionEndsTheLoopInside) {
    // The second entry claims 0xFFF descriptor bytes: the loop must stop at the CRC.
    std::vector<uint8_t> section = kSdtActual;
    section[38] = 0x8F;
    section[39] = 0xFF;
    sim::FixCrc(section);
    Fixture f;
    f.Feed(StreamBuilder().Section(0x0011, section));
    const auto names = f.events.OfType(kEventServiceName);
    ASSERT_EQ(names.size(), 2u);  // the damaged entry is read as far as it goes, then no more
    EXPECT_EQ(names[0].text, "テレビ１");
    EXPECT_EQ(names[1].a, 0x0401u);
}

TEST(SdtHandler, LongNameIsCutToTwentyEightBytes) {
    Fixture f;
    sim::SdtService s;
    s.service_id = 0x0500;
    s.name = "一二三四五六七八九十一二三四五六七八九十";  // 20 Kanji, 40 bytes
    f.Feed(StreamBuilder().Section(0x0011, sim::SdtSection(true, 1, 1, 0, {s})));
    EXPECT_EQ(f.Name(0x0500), "一二三四五六七八九十一二三四");
}

TEST(ServiceName, CutsToTheDestinationWithANulAndLeavesItAloneForAnUnknownService) {
    Fixture f;
    f.Feed(StreamBuilder().Section(0x0011, kSdtActual));
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
    Fixture f;
    f.Feed(StreamBuilder()
               .Section(0, PatWithNit(0x7FE3))
               .Section(0x0011, kSdtActual)
               .Section(0x0014, kTot));
    EXPECT_EQ(f.Name(0x0400), "テレビ１");
    EXPECT_EQ(f.processor.BroadcastNow().mjd, 58944u);
    f.Feed(StreamBuilder().Section(0, PatWithNit(0x7FE4)));
    EXPECT_EQ(f.Name(0x0400), "(unknown)");
    EXPECT_EQ(f.processor.BroadcastNow().mjd, 0u);
    EXPECT_EQ(f.processor.BroadcastNow().seconds, 0u);
    // The same SDT is new again for the new stream.
    f.Feed(StreamBuilder().Section(0x0011, kSdtActual));
    EXPECT_EQ(f.Name(0x0400), "テレビ１");
}

TEST(ServiceName, LookupFromAnotherThreadWhileInputRuns) {
    Fixture f;
    // Alternating versions, so every section rewrites the table.
    std::vector<uint8_t> stream;
    {
        StreamBuilder b;
        for (int i = 0; i < 200; ++i) {
            b.Section(0x0011, (i % 2) ? kSdtActualV1 : kSdtActual);
            b.Section(0x0011, kSdtOther);
        }
        stream = b.Bytes();
    }
    std::atomic<bool> done{false};
    std::atomic<int> known{0};
    std::thread reader([&] {
        char name[30];
        while (!done.load()) {
            if (f.processor.ServiceName(0x0400, name, sizeof name) == 1) {
                EXPECT_EQ(testing::Utf8(name), "テレビ１");
                known.fetch_add(1);
            }
        }
    });
    f.processor.Input(stream, f.stats);
    done = true;
    reader.join();
    // The other stream's name came once; every later actual version overwrote it again.
    EXPECT_EQ(f.Name(0x0401), "テレビ２");
    EXPECT_EQ(f.events.OfType(kEventServiceName).size(), 200u * 3 + 1);
}

TEST(NitHandler, ThreeTransportStreamsRaiseThreeEvents19ThenOne18) {
    Fixture f;
    f.Feed(StreamBuilder().Section(0, PatWithNit(0x4010)).Section(0x0010, kNit));
    std::vector<uint32_t> types;
    for (const auto& e : f.events.entries) {
        if (e.type == kEventNetwork || e.type == kEventTransportStream) {
            types.push_back(e.type);
        }
    }
    ASSERT_EQ(types, (std::vector<uint32_t>{19, 19, 19, 18}));
    const auto streams = f.events.OfType(kEventTransportStream);
    EXPECT_EQ(streams[0].a, 0x0004u);
    EXPECT_EQ(streams[0].length, 0x4010u);
    EXPECT_DOUBLE_EQ(streams[0].delivery.frequency, 12040.0);
    EXPECT_DOUBLE_EQ(streams[0].delivery.orbital_position, 110.0);
    EXPECT_EQ(streams[0].delivery.west_east_flag, 1u);
    EXPECT_EQ(streams[0].delivery.polarisation, 0);
    EXPECT_EQ(streams[0].delivery.modulation, 8);
    EXPECT_DOUBLE_EQ(streams[0].delivery.symbol_rate, 28.86);
    EXPECT_EQ(streams[0].delivery.fec_inner, 8);
    EXPECT_EQ(streams[1].length, 0x4011u);
    EXPECT_DOUBLE_EQ(streams[1].delivery.frequency, 11727.48);
    EXPECT_EQ(streams[1].delivery.polarisation, 1);
    EXPECT_EQ(streams[1].delivery.modulation, 9);
    EXPECT_EQ(streams[1].delivery.fec_inner, 4);
    // No satellite delivery descriptor: every field zero.
    EXPECT_EQ(streams[2].length, 0x4030u);
    const SatelliteDelivery zero{};
    EXPECT_EQ(std::memcmp(&streams[2].delivery, &zero, sizeof zero), 0);

    const auto network = f.events.OfType(kEventNetwork);
    EXPECT_EQ(network[0].a, 0x0004u);
    EXPECT_EQ(network[0].text, "ＢＳ放送");
    EXPECT_EQ(network[0].length, 0u);
}

TEST(NitHandler, RepeatRaisesNothingAndANewVersionRaisesAgain) {
    Fixture f;
    f.Feed(
        StreamBuilder().Section(0, PatWithNit(0x4010)).Section(0x0010, kNit).Section(0x0010, kNit));
    EXPECT_EQ(f.events.OfType(kEventNetwork).size(), 1u);
    const auto v1 = sim::NitSection(0x0004, 1, "ＢＳ放送", {{0x4010, 0x0004, {}, {}}});
    f.Feed(StreamBuilder().Section(0x0010, v1));
    EXPECT_EQ(f.events.OfType(kEventNetwork).size(), 2u);
    EXPECT_EQ(f.events.OfType(kEventTransportStream).size(), 4u);
}

TEST(NitHandler, NetworkPidIsOnlyKnownFromThePat) {
    Fixture f;
    f.Feed(StreamBuilder().Section(0x0010, kNit));
    EXPECT_TRUE(f.events.entries.empty());
}

TEST(NitHandler, SelectionInformationOnAnotherNetworkPidRaises18WithLength1) {
    Fixture f;
    f.Feed(StreamBuilder().Section(0, PatWithNit(0x4010, 0x0020)).Section(0x0020, kSit));
    const auto network = f.events.OfType(kEventNetwork);
    ASSERT_EQ(network.size(), 1u);
    EXPECT_EQ(network[0].a, 0xFFFFu);
    EXPECT_EQ(network[0].length, 1u);
    EXPECT_EQ(network[0].text, "");
    EXPECT_TRUE(f.events.OfType(kEventTransportStream).empty());
    f.Feed(StreamBuilder().Section(0x0020, kSit));  // a repeat
    EXPECT_EQ(f.events.OfType(kEventNetwork).size(), 1u);
}

TEST(NitHandler, OtherNetworkTablesAreIgnored) {
    Fixture f;
    f.Feed(StreamBuilder().Section(0, PatWithNit(0x4010)).Section(0x0010, kNitOther));
    EXPECT_TRUE(f.events.OfType(kEventNetwork).empty());
    EXPECT_TRUE(f.events.OfType(kEventTransportStream).empty());
}

TEST(NitHandler, TransportStreamLoopPastTheSectionStopsAtTheCrc) {
    std::vector<uint8_t> section = kNit;
    section[20] = 0xF0;  // transport_stream_loop_length 0x0FF0
    section[21] = 0xF0;
    sim::FixCrc(section);
    Fixture f;
    f.Feed(StreamBuilder().Section(0, PatWithNit(0x4010)).Section(0x0010, section));
    // The three entries that are there, then the name.
    EXPECT_EQ(f.events.OfType(kEventTransportStream).size(), 3u);
    ASSERT_EQ(f.events.OfType(kEventNetwork).size(), 1u);
    EXPECT_EQ(f.events.OfType(kEventNetwork)[0].text, "ＢＳ放送");
}

TEST(SatelliteDeliveryParse, ShortBodyLeavesTheRecordAlone) {
    SatelliteDelivery d{};
    const uint8_t body[10] = {0x01, 0x20, 0x40, 0x00, 0x11, 0x00, 0x88, 0x02, 0x88, 0x60};
    EXPECT_FALSE(ParseSatelliteDelivery(body, d));
    EXPECT_EQ(d.frequency, 0.0);
}

TEST(TimeHandler, EveryTotRaisesTheTimeEvenWhenRepeated) {
    Fixture f;
    f.Feed(StreamBuilder().Section(0x0014, kTot).Section(0x0014, kTot2).Section(0x0014, kTot));
    const auto times = f.events.OfType(kEventTime);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_EQ(times[0].a, 0u);
    EXPECT_EQ(times[0].length, 0u);
    EXPECT_EQ(times[0].time.mjd, 58944u);
    EXPECT_EQ(times[0].time.seconds, 19u * 3600 + 5);
    EXPECT_EQ(times[0].time.raw, 0x050019u);
    EXPECT_EQ(times[0].time.hour, 19);
    EXPECT_EQ(times[0].time.minute, 0);
    EXPECT_EQ(times[0].time.second, 5);
    EXPECT_EQ(times[1].time.seconds, 19u * 3600 + 10);
    EXPECT_EQ(times[2].time.seconds, 19u * 3600 + 5);
    EXPECT_EQ(f.processor.BroadcastNow().seconds, 19u * 3600 + 5);
    f.Feed(StreamBuilder().Section(0x0014, kTot3));
    EXPECT_EQ(f.processor.BroadcastNow().mjd, 58945u);
    EXPECT_EQ(f.processor.BroadcastNow().seconds, 86399u);
}

TEST(TimeHandler, ArrivesWithTablesOffAndNothingElseDoes) {
    Fixture f;
    f.processor.decode_tables = 0;
    f.Feed(StreamBuilder()
               .Section(0, PatWithNit(0x4010))
               .Section(0x0011, kSdtActual)
               .Section(0x0014, kTot));
    EXPECT_EQ(f.events.Types(), std::vector<uint32_t>{kEventTime});
}

TEST(TimeHandler, TdtWithoutCrcNeverArrives) {
    Fixture f;
    f.Feed(StreamBuilder().Section(0x0014, kTdt).Section(0x0014, sim::TdtSection({58944, 100})));
    EXPECT_TRUE(f.events.OfType(kEventTime).empty());
    EXPECT_EQ(f.processor.BroadcastNow().mjd, 0u);
}

TEST(TimeHandler, LongFormSectionIsReadAfterItsEightByteHeader) {
    sim::LongSection fields;
    fields.table_id = 0x73;
    const std::vector<uint8_t> body = {0xE6, 0x40, 0x12, 0x34, 0x56, 0xF0, 0x00};
    Fixture f;
    f.Feed(StreamBuilder().Section(0x0014, sim::MakeSection(fields, body)));
    const auto times = f.events.OfType(kEventTime);
    ASSERT_EQ(times.size(), 1u);
    EXPECT_EQ(times[0].time.mjd, 58944u);
    EXPECT_EQ(times[0].time.seconds, 12u * 3600 + 34 * 60 + 56);
}

TEST(TimeHandler, SectionTooShortForTheTimeIsIgnored) {
    const std::vector<uint8_t> body = {0xE6, 0x40, 0x12};
    Fixture f;
    f.Feed(StreamBuilder().Section(0x0014, sim::MakeShortSection(0x73, body, true)));
    EXPECT_TRUE(f.events.OfType(kEventTime).empty());
}

}  // namespace
}  // namespace tavrel
