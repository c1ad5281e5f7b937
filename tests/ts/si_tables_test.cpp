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

using Lines = std::vector<std::string>;
using testing::StreamBuilder;

// Names in the literals are JIS X 0208 codes through G0 (Kanji), the decoder's default.
// SDT actual, transport stream 0x7FE3, version 0: service 0x0400 "テレビ１" (provider "ＮＨＫ"),
// 0x0401 "テレビ２", 0x0402 without a service descriptor. CRC_32 0xC4341DF9.
const std::vector<uint8_t> kSdtActual = testing::Hex(
    "42F03B7F E3C10000 7FE3FF04 00E38013 48110106 234E2348 234B0825 46256C25"
    "53233104 01E3800D 480B0100 08254625 6C255323 320402E3 8000C434 1DF9");
// The same, version 1. CRC_32 0x0D4AE8CF.
const std::vector<uint8_t> kSdtActualV1 = testing::Hex(
    "42F03B7F E3C30000 7FE3FF04 00E38013 48110106 234E2348 234B0825 46256C25"
    "53233104 01E3800D 480B0100 08254625 6C255323 320402E3 80000D4A E8CF");
// SDT other, transport stream 0x7FE4, version 0: service 0x0401 "ラジオ". CRC_32 0x8442546E.
const std::vector<uint8_t> kSdtOther =
    testing::Hex("46F01C7F E4C10000 7FE3FF04 01E3800B 48090100 06256925 38252A84 42546E");
// NIT actual, network 0x0004, version 0, name "ＢＳ放送": transport streams 0x4010 (12040.00, 110.0
// east, polarisation 0, modulation 8, 28.8600, FEC 8), 0x4011 (11727.48, 110.0 east, polarisation
// 1, modulation 9, 28.8600, FEC 4), 0x4030 without satellite delivery; each with a service list.
// CRC_32 0x2136C7B1.
const std::vector<uint8_t> kNit = testing::Hex(
    "40F05200 04C10000 F00A4008 23422353 4A7C4177 F03B4010 0004F012 41034110"
    "01430B01 20400011 00880288 60084011 0004F012 41034111 01430B01 17274811"
    "00A90288 60044030 0004F005 41034130 012136C7 B1");
// Selection information section (0x7F), extension 0xFFFF, version 0, empty loops. CRC_32
// 0xF8A51E33.
const std::vector<uint8_t> kSit = testing::Hex("7FF00BFF FFC10000 F000F8A5 1E33");
// NIT of another network (0x41), network 0x0005: ignored. CRC_32 0x5635099B.
const std::vector<uint8_t> kNitOther = testing::Hex("41F00D00 05C10000 F000F000 5635099B");
// TOT, MJD 58944 (2020-04-05) 19:00:05, one local time offset descriptor for JPN. CRC_32
// 0x4C51638F.
const std::vector<uint8_t> kTot =
    testing::Hex("73701AE6 40190005 F00F580D 4A504E02 0000E640 00000000 004C5163 8F");
// The same at 19:00:10. CRC_32 0xF15E5DA8.
const std::vector<uint8_t> kTot2 =
    testing::Hex("73701AE6 40190010 F00F580D 4A504E02 0000E640 00000000 00F15E5D A8");
// MJD 58945 23:59:59. CRC_32 0x031FDA0A.
const std::vector<uint8_t> kTot3 =
    testing::Hex("73701AE6 41235959 F00F580D 4A504E02 0000E640 00000000 00031FDA 0A");
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
    // No service descriptor gives an empty name.
    EXPECT_EQ(f.log.Lines(), (Lines{"48 0400 0 テレビ１", "48 0401 0 テレビ２", "48 0402 0 ",
                                    "48 0401 0 ラジオ"}));
    EXPECT_EQ(std::tuple(f.Name(0x0400), f.Name(0x0401), f.Name(0x0402)),
              std::tuple("テレビ１", "ラジオ", ""));
    Feed(f, StreamBuilder().Section(0x0011, kSdtActualV1).Section(0x0011, kSdtActualV1));
    EXPECT_EQ(f.log.Lines().size(), 7u);
    EXPECT_EQ(f.Name(0x0401), "テレビ２");
}

TEST(SdtHandler, OtherTablesAreIgnoredLoopsEndInsideTheSectionLongNamesAreCut) {
    Tables f;
    sim::LongSection bat;
    bat.table_id = 0x4A;  // bouquet association, on the same PID
    bat.table_id_extension = 0x0001;
    bat.private_indicator = true;
    // The second entry claims 0xFFF descriptor bytes: it is read as far as it goes, no more.
    std::vector<uint8_t> overlong = kSdtActual;
    overlong[38] = 0x8F;
    overlong[39] = 0xFF;
    sim::FixCrc(overlong);
    sim::SdtService s;
    s.service_id = 0x0500;
    s.name = "一二三四五六七八九十一二三四五六七八九十";  // 20 Kanji, 40 bytes
    Feed(f, StreamBuilder()
                .Section(0x0011, sim::MakeSection(bat, std::vector<uint8_t>{0xF0, 0, 0xF0, 0}))
                .Section(0x0011, overlong)
                .Section(0x0011, sim::SdtSection(true, 1, 1, 0, {s})));
    // A name is cut to the 28 bytes of the record.
    EXPECT_EQ(f.log.Lines(), (Lines{"48 0400 0 テレビ１", "48 0401 0 テレビ２",
                                    "48 0500 0 一二三四五六七八九十一二三四"}));
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
    EXPECT_EQ(std::string(name, 6), std::string("\x83\x65\x83\x8C\0x", 6));
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
    EXPECT_EQ(f.processor.BroadcastNow().Moment(), (MjdTime{0, 0}));
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
    Feed(f, StreamBuilder()
                .Section(0, PatWithNit(0x4010))
                .Section(0x0010, kNit)
                .Section(0x0010, kNit)
                .Section(0x0010, sim::NitSection(0x0004, 1, "ＢＳ", {{0x4010, 0x0004, {}, {}}})));
    EXPECT_EQ(f.log.Lines(), (Lines{"2 4010 0", "16 4010 1 0400>01f0",
                                    "19 0004 4010 12040.00 110.0 e p0 m8 28.8600 f8",
                                    "19 0004 4011 11727.48 110.0 e p1 m9 28.8600 f4",
                                    "19 0004 4030 0.00 0.0 w p0 m0 0.0000 f0", "18 0004 0 ＢＳ放送",
                                    "19 0004 4010 0.00 0.0 w p0 m0 0.0000 f0", "18 0004 0 ＢＳ"}));
    // Without a satellite delivery descriptor every byte is zero, padding too.
    const SatelliteDelivery zero{};
    EXPECT_EQ(std::memcmp(&f.log.entries[4].delivery, &zero, sizeof zero), 0);
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
    EXPECT_EQ(f.log.Lines(), (Lines{"2 4010 0", "16 4010 1 0400>01f0", "18 ffff 1 "}));
}

TEST(NitHandler, TransportStreamLoopPastTheSectionStopsAtTheCrc) {
    std::vector<uint8_t> section = kNit;
    section[20] = 0xF0;  // transport_stream_loop_length 0x0FF0
    section[21] = 0xF0;
    sim::FixCrc(section);
    Tables f;
    Feed(f, StreamBuilder().Section(0, PatWithNit(0x4010)).Section(0x0010, section));
    // The three entries that are there, then the name.
    const auto lines = f.log.Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "19 0004 4030 0.00 0.0 w p0 m0 0.0000 f0");
    EXPECT_EQ(lines[5], "18 0004 0 ＢＳ放送");
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
    EXPECT_EQ(f.log.Lines(), (Lines{"32 0000 0 58944 68405 050019 19:00:05",
                                    "32 0000 0 58944 68410 100019 19:00:10",
                                    "32 0000 0 58944 68405 050019 19:00:05"}));
    EXPECT_EQ(f.processor.BroadcastNow().Moment(), (MjdTime{58944, 68405}));
    Feed(f, StreamBuilder().Section(0x0014, kTot3));
    EXPECT_EQ(f.processor.BroadcastNow().Moment(), (MjdTime{58945, 86399}));
}

TEST(TimeHandler, TdtWithoutCrcAndSectionsTooShortNeverArriveLongFormDoes) {
    sim::LongSection fields;
    fields.table_id = 0x73;  // read after its eight-byte header
    const std::vector<uint8_t> body = {0xE6, 0x40, 0x12, 0x34, 0x56, 0xF0, 0x00};
    Tables f;
    Feed(f, StreamBuilder()
                .Section(0x0014, kTdt)
                .Section(0x0014, sim::TdtSection({58944, 100}))
                .Section(0x0014, sim::MakeShortSection(0x73, std::span(body).first(3), true))
                .Section(0x0014, sim::MakeSection(fields, body)));
    EXPECT_EQ(f.log.Lines(), (Lines{"32 0000 0 58944 45296 563412 12:34:56"}));
}

}  // namespace
}  // namespace tavrel
