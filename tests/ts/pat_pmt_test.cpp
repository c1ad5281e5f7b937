// Programme tables through the whole processor: literal sections written from the standard,
// then sections from our writers.
#include <gtest/gtest.h>

#include "sim/pat_writer.h"
#include "sim/pmt_writer.h"
#include "sim/section_writer.h"
#include "support/event_log.h"
#include "support/stream_builder.h"
#include "ts/stream_types.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using testing::StreamBuilder;
using Lines = std::vector<std::string>;

// PAT of transport stream 0x7FE3, version 0: programme 0 -> NIT PID 0x0010, programme 0x0400
// -> PMT PID 0x01F0, programme 0x0401 -> PMT PID 0x01F1. CRC_32 0x82332DA0.
const std::vector<uint8_t> kPat =
    testing::Hex("00B0157F E3C10000 0000E010 0400E1F0 0401E1F1 82332DA0");
// The same with version 1.
const std::vector<uint8_t> kPatV1 =
    testing::Hex("00B0157F E3C30000 0000E010 0400E1F0 0401E1F1 3CEDF2F3");
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

using Tables = testing::ProcessorRun;

std::vector<uint8_t> Feed(Tables& run, const StreamBuilder& b) {
    auto bytes = b.Bytes();
    run.Feed(bytes);
    return bytes;
}

const std::string kPatLine = "16 7fe3 2 0400>01f0 0401>01f1";
const std::string kPmtLine = "17 0400 4 02>0111 0f>0112 0d>0140 0d>0141";

TEST(PatHandler, ClassifiesPidsAndRaisesTheProgrammesOncePerVersion) {
    Tables f;
    Feed(f, StreamBuilder().Section(0, kPat).Section(0, kPat).Section(0, kPat).Section(0, kPatV1));
    EXPECT_EQ(f.log.Lines(), (Lines{"2 7fe3 0", kPatLine, kPatLine}));
    EXPECT_EQ(f.processor.Pid(0x0010).kind, PidState::kNit);
    EXPECT_EQ(f.processor.Pid(0x01F0).kind, PidState::kPmt);
    EXPECT_EQ(f.processor.Pid(0x01F1).program_number, 0x0401);
    EXPECT_EQ(f.processor.TransportStreamId(), 0x7FE3);
    // Another network PID is marked as such; a PAT of nothing else raises no programmes, and
    // the first PAT with transport_stream_id 0 is no change of stream.
    Tables g;
    Feed(g, StreamBuilder().Section(0, sim::PatSection(0, 0, {{0, 0x0020}})));
    EXPECT_EQ(g.processor.Pid(0x0020).kind, PidState::kOtherNetwork);
    EXPECT_TRUE(g.log.entries.empty());
}

TEST(PatHandler, NewTransportStreamResetsEverythingFirst) {
    Tables f;
    Feed(f, StreamBuilder().Section(0, kPat).Section(0x01F0, kPmt));
    EXPECT_EQ(f.processor.Pid(0x0140).kind, PidState::kDataCarousel);
    f.log.entries.clear();
    // The old PMT is new again for the new stream.
    Feed(f, StreamBuilder().Section(0, kPatOtherStream));
    EXPECT_EQ(f.processor.Pid(0x0140).kind, PidState::kUnknown);
    EXPECT_TRUE(f.processor.CarouselPids().empty());
    Feed(f, StreamBuilder().Section(0x01F0, kPmt));
    EXPECT_EQ(f.log.Lines(), (Lines{"2 7fe4 0", "16 7fe4 2 0500>01f0 0501>01f1", kPmtLine}));
}

TEST(PmtHandler, RaisesStreamsLearnsCarouselsAndTagsAndReportsVanishedCarousels) {
    Tables f;
    // Before the PAT the PID is no PMT PID yet.
    Feed(f, StreamBuilder().Section(0x01F0, kPmt).Section(0, kPat).Section(0x01F0, kPmt));
    EXPECT_EQ(f.log.Lines(), (Lines{"2 7fe3 0", kPatLine, kPmtLine}));
    EXPECT_EQ(f.processor.Pid(0x0140).kind, PidState::kDataCarousel);
    EXPECT_EQ(f.processor.Pid(0x0140).program_number, 0x0400);
    EXPECT_EQ(f.processor.Pid(0x0141).component_tag, 0x41);
    EXPECT_EQ(f.processor.Pid(0x0112).component_tag, 0x10);
    EXPECT_EQ(f.processor.CarouselPids().at(0x0400), (std::vector<uint16_t>{0x0140, 0x0141}));

    Feed(f, StreamBuilder().Section(0x01F0, kPmtV1));
    EXPECT_EQ(f.log.Lines().back(), "17 0400 3 02>0111 0f>0112 0d>0140");
    EXPECT_EQ(f.processor.CarouselPids().at(0x0400), (std::vector<uint16_t>{0x0140}));
    EXPECT_EQ(f.processor.VanishedCarouselPids(), (std::vector<uint16_t>{0x0141}));
}

TEST(PmtHandler, OversizedLengthsNeverReadOutsideTheSection) {
    // program_info_length and ES_info_length running past the section; run under ASan.
    for (const uint16_t info_length : {0x0FFF, 0x0030, 0x0005}) {
        Tables f;
        auto pmt = sim::PmtSection(0x0400, 0, 0x100, {}, {{0x02, 0x0111, {}}, {0x0D, 0x0140, {}}});
        pmt[10] = static_cast<uint8_t>(0xF0 | (info_length >> 8));
        pmt[11] = static_cast<uint8_t>(info_length);
        sim::FixCrc(pmt);
        Feed(f, StreamBuilder().Section(0, kPat).Section(0x01F0, pmt));
        EXPECT_EQ(f.stats.sync_errors, 0u);
    }
    Tables f;
    auto pmt = sim::PmtSection(0x0400, 0, 0x100, {},
                               {{0x02, 0x0111, sim::StreamIdentifierDescriptor(1)},
                                {0x0D, 0x0140, sim::StreamIdentifierDescriptor(2)}});
    pmt[15] = 0xF7;  // first ES_info_length: 0x7FF
    pmt[16] = 0xFF;
    sim::FixCrc(pmt);
    Feed(f, StreamBuilder().Section(0, kPat).Section(0x01F0, pmt));
    EXPECT_EQ(f.log.Lines().back(), "17 0400 1 02>0111");  // the loop ends at the bad entry
    EXPECT_EQ(f.processor.Pid(0x0111).component_tag, 1);
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

TEST(PatWriter, MatchesTheLiteralSections) {
    EXPECT_EQ(sim::PatSection(0x7FE3, 0, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}}), kPat);
    EXPECT_EQ(sim::PmtSection(0x0400, 0, 0x0100, {},
                              {{0x02, 0x0111, sim::StreamIdentifierDescriptor(0x00)},
                               {0x0F, 0x0112, sim::StreamIdentifierDescriptor(0x10)},
                               {0x0D, 0x0140, sim::StreamIdentifierDescriptor(0x40)},
                               {0x0D, 0x0141, sim::StreamIdentifierDescriptor(0x41)}}),
              kPmt);
}

// Repeated tables are recognised without a full decode; that must never hide a change.
TEST(RepeatedTables, ARepeatIsHandledAgainOnceAnythingChangedAndACorruptCopyIsRejected) {
    Tables f;
    Feed(f, StreamBuilder()
                .Section(0, kPat)
                .Section(0, kPat)
                .Section(0, kPatOtherStream)  // a channel change empties every table
                .Section(0, kPat)             // and the first stream is new again
                .Section(0, kPat));
    EXPECT_EQ(f.log.Lines(), (Lines{"2 7fe3 0", kPatLine, "2 7fe4 0",
                                    "16 7fe4 2 0500>01f0 0501>01f1", "2 7fe3 0", kPatLine}));

    Tables g;
    auto bad = kPmtV1;
    bad[14] ^= 0x01;  // a PID bit flipped, CRC left as it was
    Feed(g, StreamBuilder()
                .Section(0, kPat)
                .Section(0x01F0, kPmt)
                .Section(0x01F0, kPmt)
                .Section(0x01F0, bad)
                .Section(0x01F0, kPmtV1));
    EXPECT_EQ(g.log.Lines(),
              (Lines{"2 7fe3 0", kPatLine, kPmtLine, "17 0400 3 02>0111 0f>0112 0d>0140"}));
}

}  // namespace
}  // namespace tavrel
