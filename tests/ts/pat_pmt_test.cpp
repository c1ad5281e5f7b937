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

// PAT of transport stream 0x7FE3, version 0: programme 0 -> NIT PID 0x0010, programme 0x0400
// -> PMT PID 0x01F0, programme 0x0401 -> PMT PID 0x01F1. CRC_32 0x82332DA0.
const std::vector<uint8_t> kPat = {0x00, 0xB0, 0x15, 0x7F, 0xE3, 0xC1, 0x00, 0x00,
                                   0x00, 0x00, 0xE0, 0x10, 0x04, 0x00, 0xE1, 0xF0,
                                   0x04, 0x01, 0xE1, 0xF1, 0x82, 0x33, 0x2D, 0xA0};
// The same with version 1.
const std::vector<uint8_t> kPatV1 = {0x00, 0xB0, 0x15, 0x7F, 0xE3, 0xC3, 0x00, 0x00,
                                     0x00, 0x00, 0xE0, 0x10, 0x04, 0x00, 0xE1, 0xF0,
                                     0x04, 0x01, 0xE1, 0xF1, 0x3C, 0xED, 0xF2, 0xF3};
// Transport stream 0x7FE4 with programmes 0x0500 and 0x0501 on the same PMT PIDs.
const std::vector<uint8_t> kPatOtherStream = {0x00, 0xB0, 0x15, 0x7F, 0xE4, 0xC1, 0x00, 0x00,
                                              0x00, 0x00, 0xE0, 0x10, 0x05, 0x00, 0xE1, 0xF0,
                                              0x05, 0x01, 0xE1, 0xF1, 0xCB, 0xF9, 0x56, 0x7B};
// PMT of programme 0x0400, version 0, PCR PID 0x0100: MPEG-2 video 0x0111 (tag 0x00), AAC
// 0x0112 (tag 0x10), two data carousels 0x0140 (tag 0x40) and 0x0141 (tag 0x41).
const std::vector<uint8_t> kPmt = {
    0x02, 0xB0, 0x2D, 0x04, 0x00, 0xC1, 0x00, 0x00, 0xE1, 0x00, 0xF0, 0x00, 0x02, 0xE1, 0x11, 0xF0,
    0x03, 0x52, 0x01, 0x00, 0x0F, 0xE1, 0x12, 0xF0, 0x03, 0x52, 0x01, 0x10, 0x0D, 0xE1, 0x40, 0xF0,
    0x03, 0x52, 0x01, 0x40, 0x0D, 0xE1, 0x41, 0xF0, 0x03, 0x52, 0x01, 0x41, 0x60, 0xB5, 0xB6, 0x6B};
// Version 1 of it without the second carousel.
const std::vector<uint8_t> kPmtV1 = {0x02, 0xB0, 0x25, 0x04, 0x00, 0xC3, 0x00, 0x00, 0xE1, 0x00,
                                     0xF0, 0x00, 0x02, 0xE1, 0x11, 0xF0, 0x03, 0x52, 0x01, 0x00,
                                     0x0F, 0xE1, 0x12, 0xF0, 0x03, 0x52, 0x01, 0x10, 0x0D, 0xE1,
                                     0x40, 0xF0, 0x03, 0x52, 0x01, 0x40, 0x7F, 0x60, 0xA1, 0x35};

using Tables = testing::ProcessorRun;

std::vector<uint8_t> Feed(Tables& run, const StreamBuilder& b) {
    auto bytes = b.Bytes();
    run.Feed(bytes);
    return bytes;
}

TEST(PatHandler, ClassifiesPidsAndRaisesTheProgrammesOncePerVersion) {
    Tables f;
    Feed(f, StreamBuilder().Section(0, kPat).Section(0, kPat).Section(0, kPat));
    const auto pats = f.log.OfType(kEventPrograms);
    ASSERT_EQ(pats.size(), 1u);
    EXPECT_EQ(pats[0].a, 0x7FE3u);
    const auto& got = pats[0].programs;
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].program_number, 0x0400);
    EXPECT_EQ(got[0].pmt_pid, 0x01F0);
    EXPECT_EQ(got[1].program_number, 0x0401);
    EXPECT_EQ(got[1].pmt_pid, 0x01F1);
    EXPECT_EQ(f.processor.Pid(0x0010).kind, PidState::kNit);
    EXPECT_EQ(f.processor.Pid(0x01F0).kind, PidState::kPmt);
    EXPECT_EQ(f.processor.Pid(0x01F1).program_number, 0x0401);
    EXPECT_EQ(f.processor.TransportStreamId(), 0x7FE3);
    Feed(f, StreamBuilder().Section(0, kPatV1));
    EXPECT_EQ(f.log.OfType(kEventPrograms).size(), 2u);

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
    Feed(f, StreamBuilder().Section(0, kPatOtherStream));
    ASSERT_EQ(f.log.Types(), (std::vector<uint32_t>{kEventStream, kEventPrograms}));
    EXPECT_EQ(f.log.entries[0].a, 0x7FE4u);
    EXPECT_EQ(f.log.entries[0].length, 0u);
    EXPECT_EQ(f.processor.Pid(0x0140).kind, PidState::kUnknown);
    EXPECT_TRUE(f.processor.CarouselPids().empty());
    ASSERT_EQ(f.processor.PatList().size(), 2u);
    EXPECT_EQ(f.processor.PatList()[0].program_number, 0x0500);
    // The old PMT is new again for the new stream.
    Feed(f, StreamBuilder().Section(0x01F0, kPmt));
    EXPECT_EQ(f.log.OfType(kEventStreams).size(), 1u);
}

TEST(PmtHandler, RaisesStreamsLearnsCarouselsAndTagsAndReportsVanishedCarousels) {
    Tables f;
    Feed(f, StreamBuilder().Section(0x01F0, kPmt));  // before the PAT: not a PMT PID yet
    EXPECT_TRUE(f.log.entries.empty());
    Feed(f, StreamBuilder().Section(0, kPat).Section(0x01F0, kPmt));
    ASSERT_EQ(f.log.OfType(kEventStreams).size(), 1u);
    EXPECT_EQ(f.log.OfType(kEventStreams)[0].a, 0x0400u);
    const auto got = f.log.OfType(kEventStreams)[0].streams;
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].stream_type, 0x02);
    EXPECT_EQ(got[0].elementary_pid, 0x0111);
    EXPECT_EQ(got[3].stream_type, 0x0D);
    EXPECT_EQ(got[3].elementary_pid, 0x0141);
    EXPECT_EQ(f.processor.Pid(0x0140).kind, PidState::kDataCarousel);
    EXPECT_EQ(f.processor.Pid(0x0140).program_number, 0x0400);
    EXPECT_EQ(f.processor.Pid(0x0141).component_tag, 0x41);
    EXPECT_EQ(f.processor.Pid(0x0112).component_tag, 0x10);
    EXPECT_EQ(f.processor.CarouselPids().at(0x0400), (std::vector<uint16_t>{0x0140, 0x0141}));

    Feed(f, StreamBuilder().Section(0x01F0, kPmtV1));
    EXPECT_EQ(f.log.OfType(kEventStreams).size(), 2u);
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
    ASSERT_EQ(f.log.OfType(kEventStreams).size(), 1u);
    const auto got = f.log.OfType(kEventStreams)[0].streams;
    ASSERT_EQ(got.size(), 1u);  // the loop ends at the bad entry
    EXPECT_EQ(got[0].elementary_pid, 0x0111);
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
    std::vector<uint32_t> streams;
    for (const auto& e : f.log.OfType(kEventStream)) {
        streams.push_back(e.a);
    }
    EXPECT_EQ(streams, (std::vector<uint32_t>{0x7FE3, 0x7FE4, 0x7FE3}));
    EXPECT_EQ(f.log.OfType(kEventPrograms).size(), 3u);

    Tables g;
    auto bad = kPmtV1;
    bad[14] ^= 0x01;  // a PID bit flipped, CRC left as it was
    Feed(g, StreamBuilder()
                .Section(0, kPat)
                .Section(0x01F0, kPmt)
                .Section(0x01F0, kPmt)
                .Section(0x01F0, bad)
                .Section(0x01F0, kPmtV1));
    EXPECT_EQ(g.log.OfType(kEventStreams).size(), 2u);
    EXPECT_EQ(g.processor.CarouselPids().at(0x0400), (std::vector<uint16_t>{0x0140}));
}

}  // namespace
}  // namespace tavrel
