// The table handlers through the whole processor: literal sections written from the standard
// first, then sections from our writers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "sim/eit_writer.h"
#include "sim/nit_writer.h"
#include "sim/pat_writer.h"
#include "sim/pmt_writer.h"
#include "sim/sdt_writer.h"
#include "sim/section_writer.h"
#include "sim/tot_writer.h"
#include "support/crc_reference.h"
#include "support/event_log.h"
#include "support/stream_builder.h"
#include "ts/stream_types.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using testing::StreamBuilder;
using testing::Utf8;
using Lines = std::vector<std::string>;

// A copy of a literal with bytes replaced at `at` and the CRC made good again.
std::vector<uint8_t> Damaged(std::vector<uint8_t> section, size_t at,
                             const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), section.begin() + static_cast<ptrdiff_t>(at));
    sim::FixCrc(section);
    return section;
}
// Version 1 of a literal long section (version 0, current).
std::vector<uint8_t> V1(const std::vector<uint8_t>& section) {
    return Damaged(section, 5, {0xC3});
}

// PAT of transport stream 0x7FE3, version 0: programme 0 -> NIT PID 0x0010, programme 0x0400
// -> PMT PID 0x01F0, programme 0x0401 -> PMT PID 0x01F1. CRC_32 0x82332DA0.
const std::vector<uint8_t> kPat =
    testing::Hex("00B0157F E3C10000 0000E010 0400E1F0 0401E1F1 82332DA0");
// Transport stream 0x7FE4 with programmes 0x0500 and 0x0501 on the same PMT PIDs.
const std::vector<uint8_t> kPatOtherStream =
    testing::Hex("00B0157F E4C10000 0000E010 0500E1F0 0501E1F1 CBF9567B");
// PMT of programme 0x0400, version 0, PCR PID 0x0100: MPEG-2 video 0x0111 (tag 0x00), AAC
// 0x0112 (tag 0x10), two data carousels 0x0140 (tag 0x40) and 0x0141 (tag 0x41).
const std::vector<uint8_t> kPmt = testing::Hex(
    "02B02D04 00C10000 E100F000 02E111F0 03520100 0FE112F0 03520110 0DE140F0"
    "03520140 0DE141F0 03520141 60B5B66B");
// Version 1 of it without the second carousel.
const std::vector<uint8_t> kPmtV1 = testing::Hex(
    "02B02504 00C30000 E100F000 02E111F0 03520100 0FE112F0 03520110 0DE140F0"
    "03520140 7F60A135");

// Names in the literals are JIS X 0208 codes through G0 (Kanji), the decoder's default.
// SDT actual, transport stream 0x7FE3, version 0: service 0x0400 "テレビ１" (provider "ＮＨＫ"),
// 0x0401 "テレビ２", 0x0402 without a service descriptor. CRC_32 0xC4341DF9.
const std::vector<uint8_t> kSdtActual = testing::Hex(
    "42F03B7F E3C10000 7FE3FF04 00E38013 48110106 234E2348 234B0825 46256C25"
    "53233104 01E3800D 480B0100 08254625 6C255323 320402E3 8000C434 1DF9");
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
// The same at 19:00:10.
const std::vector<uint8_t> kTot2 = Damaged(kTot, 7, {0x10});
// MJD 58945 23:59:59. CRC_32 0x031FDA0A.
const std::vector<uint8_t> kTot3 =
    testing::Hex("73701AE6 41235959 F00F580D 4A504E02 0000E640 00000000 00031FDA 0A");
// TDT at the same time: no CRC field.
const std::vector<uint8_t> kTdt = {0x70, 0x70, 0x05, 0xE6, 0x40, 0x19, 0x00, 0x05};

// Texts in the literals are JIS X 0208 codes through G0 (Kanji), the decoder's default.
// EIT p/f actual, service 0x0400, version 0, section 0: event 0x1000 at MJD 58944 19:00:00 for
// 00:30:00, "ニュース" / "今日の出来事", video 0xB3, audio 0x03, an extended event descriptor.
// CRC_32 0x45D5506E.
const std::vector<uint8_t> kEitPresent = testing::Hex(
    "4EF05104 00C10001 7FE37FE3 014E1000 E6401900 00003000 80364D19 6A706E08"
    "254B2565 213C2539 0C3A2346 7C244E3D 504D683B 765006F1 B3006A70 6EC409F2"
    "03100FFF 5F6A706E 4E06006A 706E0000 45D5506E");
// EIT schedule actual (0x50), service 0x0400, version 0: event 0x1000 "予定". CRC_32 0x2826AC3F.
const std::vector<uint8_t> kEitSchedule = testing::Hex(
    "50F02604 00C10000 7FE37FE3 00501000 E6401900 00003000 800B4D09 6A706E04"
    "4D3D446A 002826AC 3F");
// EIT schedule other (0x60), service 0x0400, the same event. CRC_32 0x2CBCD3AF.
const std::vector<uint8_t> kEitScheduleOther = testing::Hex(
    "60F02604 00C10000 7FE37FE3 00601000 E6401900 00003000 800B4D09 6A706E04"
    "4D3D446A 002CBCD3 AF");
// EIT p/f other (0x4F), service 0x0401, version 3, section 1: event 0x2000 at 23:30:00 for 01:00:00
// "深夜", event 0x2001 at MJD 58945 00:30:00 with undefined duration and no descriptors. CRC_32
// 0xD759D8E5.
const std::vector<uint8_t> kEitFollowingOther = testing::Hex(
    "4FF03204 01C70101 7FE37FE3 014F2000 E6402330 00010000 800B4D09 6A706E04"
    "3F3C4C6B 002001E6 41003000 FFFFFF80 00D759D8 E5");

// Version 1 of some.
const std::vector<uint8_t> kPatV1 = V1(kPat), kSdtActualV1 = V1(kSdtActual),
                           kEitPresentV1 = V1(kEitPresent), kEitScheduleV1 = V1(kEitSchedule);

// With the table and guide switches on; Stored gives the store's copy of an event.
struct Tables : testing::ProcessorRun {
    using Units = std::vector<std::pair<uint16_t, std::span<const uint8_t>>>;
    void Feed(const StreamBuilder& b) { ProcessorRun::Feed(b.Bytes()); }
    // Each section in its own unit, in one block.
    void Feed(const Units& sections) {
        StreamBuilder b;
        for (const auto& [pid, section] : sections) {
            b.Section(pid, section);
        }
        Feed(b);
    }
    std::unique_ptr<EventRecord> Stored(uint16_t service_id, uint16_t event_id) {
        return processor.EventStore().EventById(service_id, event_id);
    }
};

const std::string kPatLine = "16 7fe3 2 0400>01f0 0401>01f1";
const std::string kPmtLine = "17 0400 4 02>0111 0f>0112 0d>0140 0d>0141";

// A PAT naming the network PID.
std::vector<uint8_t> PatWithNit(uint16_t transport_stream_id, uint16_t network_pid = 0x0010) {
    return sim::PatSection(transport_stream_id, 0, {{0, network_pid}, {0x0400, 0x01F0}});
}

// The events of kEitFollowingOther.
const Lines kLateNight = {
    "64 0401 0 k2 v3 e2000 58944 84600..58945 1800 3600 00 00 深夜 / ",
    "64 0401 0 k2 v3 e2001 58945 1800..58945 4294967295 4294967295 00 00  / "};

// The present event of kEitPresent, as raised with version v.
std::string News(int v) {
    return "64 0400 1 k1 v" + std::to_string(v) +
           " e1000 58944 68400..58944 70200 1800 b3 03 ニュース / 今日の出来事";
}

// Which units each table raises, from literal sections: repeats once per version, what is
// ignored and how far a damaged loop is read.
TEST(TableHandlers, RaiseEachTableOncePerVersionFromTheLiterals) {
    sim::LongSection bat;
    bat.table_id = 0x4A;  // bouquet association, on the SDT PID
    bat.table_id_extension = 0x0001;
    bat.private_indicator = true;
    sim::SdtService s;
    s.service_id = 0x0500;
    s.name = "一二三四五六七八九十一二三四五六七八九十";  // 20 Kanji, 40 bytes
    auto bad_pmt = kPmtV1;
    bad_pmt[14] ^= 0x01;  // a PID bit flipped, CRC left as it was
    const auto pat = PatWithNit(0x4010),
               nit_v1 = sim::NitSection(0x0004, 1, "ＢＳ", {{0x4010, 0x0004, {}, {}}});
    const std::vector<uint8_t> bat_section =
        sim::MakeSection(bat, std::vector<uint8_t>{0xF0, 0, 0xF0, 0});
    const std::vector<uint8_t> long_name = sim::SdtSection(true, 1, 1, 0, {s});
    const std::vector<uint8_t> other_nit_pat = PatWithNit(0x4010, 0x0020);
    const auto overlong_sdt = Damaged(kSdtActual, 38, {0x8F, 0xFF});
    const auto overlong_nit = Damaged(kNit, 20, {0xF0, 0xF0});
    const auto pmt = sim::PmtSection(0x0400, 0, 0x100, {},
                                     {{0x02, 0x0111, sim::StreamIdentifierDescriptor(1)},
                                      {0x0D, 0x0140, sim::StreamIdentifierDescriptor(2)}});
    sim::LongSection tot_fields;
    tot_fields.table_id = 0x73;
    const std::vector<uint8_t> tot_body = {0xE6, 0x40, 0x12, 0x34, 0x56, 0xF0, 0x00},
                               long_tot = sim::MakeSection(tot_fields, tot_body),
                               tdt = sim::TdtSection({58944, 100}),
                               short_tot =
                                   sim::MakeShortSection(0x73, std::span(tot_body).first(3), true);
    const std::vector<uint8_t> pmt_info[] = {Damaged(pmt, 10, {0xFF, 0xFF}),
                                             Damaged(V1(pmt), 10, {0xF0, 0x30}),
                                             Damaged(Damaged(pmt, 5, {0xC5}), 10, {0xF0, 0x05})};
    const auto pmt_es = Damaged(pmt, 15, {0xF7, 0xFF}),
               eit_loop = Damaged(kEitPresent, 24, {0x8F, 0xFF}),
               eit_name = Damaged(kEitPresent, 31, {0xF0});
    const auto nit_lines = Lines{"19 0004 4010 12040.00 110.0 e p0 m8 28.8600 f8",
                                 "19 0004 4011 11727.48 110.0 e p1 m9 28.8600 f4",
                                 "19 0004 4030 0.00 0.0 w p0 m0 0.0000 f0", "18 0004 0 ＢＳ放送"};
    const struct {
        const char* name;
        Tables::Units sections;
        Lines lines;
        uint32_t decode_tables = 1;
    } kCases[] = {
        {"PAT repeats, then version 1",
         {{0, kPat}, {0, kPat}, {0, kPat}, {0, kPatV1}},
         {"2 7fe3 0", kPatLine, kPatLine}},
        {"a channel change empties every table and the first stream is new again",
         {{0, kPat}, {0, kPat}, {0, kPatOtherStream}, {0, kPat}, {0, kPat}},
         {"2 7fe3 0", kPatLine, "2 7fe4 0", "16 7fe4 2 0500>01f0 0501>01f1", "2 7fe3 0", kPatLine}},
        {"a PMT before the PAT is no PMT yet; a corrupt copy of a repeat is rejected",
         {{0x01F0, kPmt},
          {0, kPat},
          {0x01F0, kPmt},
          {0x01F0, kPmt},
          {0x01F0, bad_pmt},
          {0x01F0, kPmtV1}},
         {"2 7fe3 0", kPatLine, kPmtLine, "17 0400 3 02>0111 0f>0112 0d>0140"}},
        {"SDT: no service descriptor gives an empty name; the other stream's names come too",
         {{0x0011, kSdtActual},
          {0x0011, kSdtActual},
          {0x0011, kSdtOther},
          {0x0011, kSdtActualV1},
          {0x0011, kSdtActualV1}},
         {"48 0400 0 テレビ１", "48 0401 0 テレビ２", "48 0402 0 ", "48 0401 0 ラジオ",
          "48 0400 0 テレビ１", "48 0401 0 テレビ２", "48 0402 0 "}},
        {"SDT: other tables ignored, a loop of 0xFFF descriptor bytes read as far as it goes, a "
         "name cut to the 28 bytes of the record",
         {{0x0011, bat_section}, {0x0011, overlong_sdt}, {0x0011, long_name}},
         {"48 0400 0 テレビ１", "48 0401 0 テレビ２", "48 0500 0 一二三四五六七八九十一二三四"}},
        {"NIT only on the PAT's network PID; without delivery everything is zero",
         {{0x0010, kNit}, {0, pat}, {0x0010, kNit}, {0x0010, kNit}, {0x0010, nit_v1}},
         {"2 4010 0", "16 4010 1 0400>01f0", nit_lines[0], nit_lines[1], nit_lines[2], nit_lines[3],
          "19 0004 4010 0.00 0.0 w p0 m0 0.0000 f0", "18 0004 0 ＢＳ"}},
        {"a transport stream loop past the section stops at the CRC",
         {{0, pat}, {0x0010, overlong_nit}},
         {"2 4010 0", "16 4010 1 0400>01f0", nit_lines[0], nit_lines[1], nit_lines[2],
          nit_lines[3]}},
        {"other networks are ignored; selection information raises 18 with length 1",
         {{0, other_nit_pat}, {0x0020, kNitOther}, {0x0020, kSit}, {0x0020, kSit}},
         {"2 4010 0", "16 4010 1 0400>01f0", "18 ffff 1 "}},
        {"EIT: the same contents with a new version are raised again",
         {{0x0012, kEitPresent}, {0x0012, kEitPresent}, {0x0012, kEitPresentV1}},
         {News(0), News(1)}},
        {"a schedule, then present/following, then a new schedule version changes nothing",
         {{0x0012, kEitSchedule}, {0x0012, kEitPresent}, {0x0012, kEitScheduleV1}},
         {"65 0400 1 k3 v0 e1000 58944 68400..58944 70200 1800 00 00 予定 / ", News(0)}},
        {"other-stream events end across midnight; an undefined duration has no end",
         {{0x0012, kEitFollowingOther}},
         kLateNight},
        {"EIT on the other EIT PIDs",
         {{0x0026, kEitPresent}, {0x0027, kEitPresentV1}},
         {News(0), News(1)}},
        {"schedules of other streams never", {{0x0012, kEitScheduleOther}}, {}},
        {"PMT: a program_info_length past the section (0xFFF, 0x30) drops it; one inside it "
         "(0x05) misaligns the loop, which stays inside",
         {{0, kPat}, {0x01F0, pmt_info[0]}, {0x01F0, pmt_info[1]}, {0x01F0, pmt_info[2]}},
         {"2 7fe3 0", kPatLine, "17 0400 1 52>0101"}},
        {"PMT: an ES_info_length past the section ends the loop after the entries before it",
         {{0, kPat}, {0x01F0, pmt_es}},
         {"2 7fe3 0", kPatLine, "17 0400 1 02>0111"}},
        {"EIT: an event's descriptor loop of 0xFFF bytes is read as far as it goes",
         {{0x0012, eit_loop}},
         {News(0)}},
        {"EIT: an event name running past its descriptor is read to the descriptor's end and the "
         "text is lost, not the rest",
         {{0x0012, eit_name}},
         {"64 0400 1 k1 v0 e1000 58944 68400..58944 70200 1800 b3 03 ニュース今日の出来事 / "}},
        {"a TDT has no CRC and never arrives, nor a section too short; a long-form TOT is read "
         "after its eight-byte header",
         {{0x0014, kTdt}, {0x0014, tdt}, {0x0014, short_tot}, {0x0014, long_tot}},
         {"32 0000 0 58944 45296 563412 12:34:56"}},
        {"every TOT raises the time, even repeated and with the tables off",
         {{0, pat},
          {0x0011, kSdtActual},
          {0x0014, kTot},
          {0x0014, kTot2},
          {0x0014, kTot},
          {0x0014, kTot3}},
         {"32 0000 0 58944 68405 050019 19:00:05", "32 0000 0 58944 68410 100019 19:00:10",
          "32 0000 0 58944 68405 050019 19:00:05", "32 0000 0 58945 86399 595923 23:59:59"},
         0},
    };
    for (const auto& c : kCases) {
        Tables f;
        f.processor.decode_tables = c.decode_tables;
        f.Feed(c.sections);
        EXPECT_EQ(f.log.Lines(), c.lines) << c.name;
    }
}

TEST(PatHandler, ClassifiesPidsAndANewTransportStreamResetsEverythingFirst) {
    Tables f;
    f.Feed(
        {{0, kPat}, {0x01F0, kPmt}, {0x0011, kSdtActual}, {0x0014, kTot}, {0x0012, kEitPresent}});
    EXPECT_EQ(std::tuple(f.processor.Pid(0x0010).kind, f.processor.Pid(0x01F0).kind,
                         f.processor.Pid(0x01F1).program_number, f.processor.TransportStreamId()),
              std::tuple(PidState::kNit, PidState::kPmt, 0x0401, 0x7FE3));
    EXPECT_EQ(
        std::tuple(f.processor.Pid(0x0140).kind, f.processor.Pid(0x0140).program_number,
                   f.processor.Pid(0x0141).component_tag, f.processor.Pid(0x0112).component_tag),
        std::tuple(PidState::kDataCarousel, 0x0400, 0x41, 0x10));
    EXPECT_EQ(f.processor.CarouselPids().at(0x0400), (std::vector<uint16_t>{0x0140, 0x0141}));
    EXPECT_EQ(std::tuple(f.Name(0x0400), f.processor.BroadcastNow().mjd,
                         f.processor.EventStore().EventCount()),
              std::tuple("テレビ１", 58944u, 1u));
    f.log.entries.clear();
    f.Feed({{0, kPatOtherStream}});
    EXPECT_EQ(f.processor.Pid(0x0140).kind, PidState::kUnknown);
    EXPECT_TRUE(f.processor.CarouselPids().empty());
    EXPECT_EQ(std::tuple(f.Name(0x0400), f.processor.BroadcastNow().Moment(),
                         f.processor.EventStore().EventCount()),
              std::tuple("(unknown)", MjdTime{0, 0}, 0u));
    // The old sections are new again for the new stream.
    f.Feed({{0x01F0, kPmt}, {0x0011, kSdtActual}, {0x0012, kEitPresent}});
    EXPECT_EQ(f.log.Lines(),
              (Lines{"2 7fe4 0", "16 7fe4 2 0500>01f0 0501>01f1", kPmtLine, "48 0400 0 テレビ１",
                     "48 0401 0 テレビ２", "48 0402 0 ", News(0)}));
    f.Feed({{0x01F0, kPmtV1}});
    EXPECT_EQ(f.processor.CarouselPids().at(0x0400), (std::vector<uint16_t>{0x0140}));
    EXPECT_EQ(f.processor.VanishedCarouselPids(), (std::vector<uint16_t>{0x0141}));
    // Another network PID is marked as such; a PAT of nothing else raises no programmes, and
    // the first PAT with transport_stream_id 0 is no change of stream.
    Tables g;
    g.Feed({{0, sim::PatSection(0, 0, {{0, 0x0020}})}});
    EXPECT_EQ(g.processor.Pid(0x0020).kind, PidState::kOtherNetwork);
    EXPECT_TRUE(g.log.entries.empty());
}

TEST(StreamTypes, NamesAndFormat) {
    const std::pair<uint8_t, const char*> kNames[] = {
        {0x01, "mpg"}, {0x02, "m2v"}, {0x06, "m2s"}, {0x0D, "dat"},
        {0x0F, "aac"}, {0x10, "mp4"}, {0x1B, "264"}, {0x24, "???"},
    };
    for (const auto& [type, name] : kNames) {
        EXPECT_STREQ(StreamTypeName(type), name);
    }
    EXPECT_EQ(FormatStream(0x0F, 0x0AB2), "0x0AB2(aac) ");
}

TEST(TableWriters, MatchTheLiteralSections) {
    EXPECT_EQ(sim::PatSection(0x7FE3, 0, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}}), kPat);
    EXPECT_EQ(sim::PmtSection(0x0400, 0, 0x0100, {},
                              {{0x02, 0x0111, sim::StreamIdentifierDescriptor(0x00)},
                               {0x0F, 0x0112, sim::StreamIdentifierDescriptor(0x10)},
                               {0x0D, 0x0140, sim::StreamIdentifierDescriptor(0x40)},
                               {0x0D, 0x0141, sim::StreamIdentifierDescriptor(0x41)}}),
              kPmt);
    sim::LocalTimeOffset japan;  // JPN, region 0, +00:00, changing at MJD 58944 00:00:00
    japan.time_of_change = {58944, 0};
    EXPECT_EQ(sim::TotSection({58944, 19 * 3600 + 5}, {japan}), kTot);
    EXPECT_EQ(sim::TdtSection({58944, 19 * 3600 + 5}), kTdt);
}

TEST(ServiceName, CutsToTheDestinationWithANulAndLeavesItAloneForAnUnknownService) {
    Tables f;
    f.Feed({{0x0011, kSdtActual}, {0x0011, kSdtOther}});  // the other stream overwrites
    EXPECT_EQ(std::tuple(f.Name(0x0401), f.Name(0x0402)), std::tuple("ラジオ", ""));
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

TEST(NitHandler, DeliveryRecordIsWhollyZeroWithoutItsDescriptorAndLeftAloneWhenShort) {
    Tables f;
    f.Feed({{0, PatWithNit(0x4010)}, {0x0010, kNit}});
    ASSERT_EQ(f.log.entries.size(), 6u);
    const SatelliteDelivery zero{};  // padding too
    EXPECT_EQ(std::memcmp(&f.log.entries[4].delivery, &zero, sizeof zero), 0);
    SatelliteDelivery d{};
    EXPECT_FALSE(ParseSatelliteDelivery(std::span(kNit).subspan(35, 10), d));
    EXPECT_EQ(d.frequency, 0.0);
}

TEST(EitHandler, EventsAreStoredWithEveryFieldAndPresentFollowingOverSchedule) {
    Tables f;
    f.Feed({{0x0012, kEitSchedule}});
    EXPECT_EQ(Utf8(f.Stored(0x0400, 0x1000)->name), "予定");
    f.Feed({{0x0012, kEitPresent}, {0x0012, kEitPresentV1}, {0x0012, kEitScheduleV1}});
    const auto stored = f.Stored(0x0400, 0x1000);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->service_id, 0x0400);
    EXPECT_EQ(stored->kind, kEventKindPresentFollowingActual);
    EXPECT_EQ(testing::EventLog::Line({64, 0x0400, 1, {}, {}, {}, {}, {}, {}, *stored}), News(1));
    f.Feed({{0x0012, kEitFollowingOther}});
    EXPECT_FALSE(f.Stored(0x0401, 0x2001)->EndDefined());
    // Both switches are needed.
    Tables off, no_tables;
    off.processor.program_guide = 0;
    no_tables.processor.decode_tables = 0;
    for (Tables* g : {&off, &no_tables}) {
        g->Feed({{0x0012, kEitPresent}});
        EXPECT_TRUE(g->log.entries.empty());
        EXPECT_EQ(g->processor.EventStore().ServiceCount(), 0u);
    }
    // The broadcast time follows each TOT with the tables off too.
    no_tables.Feed({{0x0014, kTot}, {0x0014, kTot3}});
    EXPECT_EQ(no_tables.processor.BroadcastNow().Moment(), (MjdTime{58945, 86399}));
}

// Multiplexers pack the sections of several services back to back, the same way at every
// repetition. After two copies a section is a known repeat that skips the long way; what is
// packed behind it in the same payload, new or known, in this packet or the next, is still read.
TEST(EitHandler, SectionsPackedBackToBackAllReachTheStore) {
    Tables f;
    f.Feed({{0x0012, kEitPresent}, {0x0012, kEitPresent}});
    f.Feed(StreamBuilder().Sections(0x0012,
                                    {kEitPresent, kEitFollowingOther, kEitPresentV1, kEitPresent}));
    EXPECT_EQ(f.log.Lines(), (Lines{News(0), kLateNight[0], kLateNight[1], News(1), News(0)}));
    EXPECT_NE(f.Stored(0x0401, 0x2001), nullptr);
}

TEST(EventParse, KindFollowsTheTableId) {
    const std::pair<uint8_t, uint8_t> kKinds[] = {{0x4E, kEventKindPresentFollowingActual},
                                                  {0x4F, kEventKindPresentFollowingOther},
                                                  {0x50, kEventKindScheduleActual},
                                                  {0x57, kEventKindScheduleActual},
                                                  {0x58, kEventKindOther},
                                                  {0x5F, kEventKindOther},
                                                  {0x60, kEventKindScheduleOther},
                                                  {0x67, kEventKindScheduleOther},
                                                  {0x68, kEventKindOther}};
    for (const auto& [table_id, kind] : kKinds) {
        EXPECT_EQ(EventKindFromTableId(table_id), kind) << int{table_id};
    }
}

TEST(EventParse, ConsumesTwelveBytesAndItsDescriptorsAndRollsWholeDays) {
    // Event 1 at MJD 0xE640 00:00:00 for 00:00:30 with a 4-byte unknown descriptor; event 2 at
    // 12:00:00 for 48:00:00 (BCD 0x48), ending two days later at noon; one byte more.
    const std::vector<uint8_t> bytes = {0x00, 0x01, 0xE6, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30,
                                        0xF0, 0x04, 0x99, 0x02, 0xAA, 0xBB, 0x00, 0x02, 0xE6, 0x40,
                                        0x12, 0x00, 0x00, 0x48, 0x00, 0x00, 0xF0, 0x00, 0x77};
    SectionHeader section;
    section.table_id = 0x50;
    section.table_id_extension = 0x0123;
    section.version_number = 7;
    ByteReader loop(bytes);
    EventRecord r;
    ASSERT_TRUE(ParseEvent(loop, section, r));
    EXPECT_EQ(loop.Remaining(), 13u);
    EXPECT_EQ(std::tuple(r.kind, r.version, r.service_id, r.event_id, r.duration, r.end),
              std::tuple(kEventKindScheduleActual, 7, 0x0123, 0x0001, 30u, MjdTime{58944, 30}));
    ASSERT_TRUE(ParseEvent(loop, section, r));
    EXPECT_EQ(r.end, (MjdTime{58946, 12 * 3600}));
    EXPECT_FALSE(ParseEvent(loop, section, r));  // one byte is not an event
    EXPECT_EQ(r.event_id, 0x0002);
}

TEST(EitWriter, LongNameAndTextAreCutToTheirBuffers) {
    sim::EitEvent e;
    e.start = {58944, 0};
    e.duration = 60;
    for (int i = 0; i < 80; ++i) {
        e.name += i < 45 ? "字" : "";
        e.text += "本";
    }
    Tables f;
    f.Feed({{0x0012, sim::PresentFollowingSections(true, 1, 1, 1, 0, &e, nullptr)[0]}});
    const auto raised = f.log.OfType(kEventPresentFollowing);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(std::string(raised[0].record.name.data()).size(), 78u);
    EXPECT_EQ(std::string(raised[0].record.text.data()).size(), 158u);
}

TEST(EitWriter, ScheduleCoversFourDaysPerTableInThreeHourSegments) {
    std::vector<sim::EitEvent> events(8 * 48);
    for (uint16_t i = 0; i < events.size(); ++i) {
        events[i].event_id = i;
        events[i].start = {58944 + i / 48u, i % 48 * 1800u};
        events[i].duration = 1800;
    }
    const auto sections = sim::ScheduleSections(true, 0x0400, 1, 1, 2, 58944, events);
    ASSERT_EQ(sections.size(), 64u);  // 2 tables × 32 segments, one section each
    StreamBuilder b;
    for (const auto& s : sections) {
        const SectionHeader h = ParseSectionHeader(s);
        EXPECT_EQ(std::tuple(h.table_id & 0xFE, h.section_number % 8, h.last_section_number, s[12],
                             s[13]),
                  std::tuple(0x50, 0, 0xF8, h.section_number, 0x51));
        b.Section(0x0012, s);  // each in its own unit, so that each completes at once
    }
    Tables f;
    f.Feed(b);
    EXPECT_EQ(f.processor.EventStore().EventCount(), 384u);
    EXPECT_EQ(f.processor.EventStore().EventAt(0x0400, {58948, 3600 * 5})->event_id, 4 * 48 + 10);
}

}  // namespace
}  // namespace tavrel
