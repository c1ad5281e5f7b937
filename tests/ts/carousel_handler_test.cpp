// Data carousels through the whole processor: packets in, modules and resources out, with the
// switches, the scrambling rule, both section forms, vanished carousels and resets. Last, a
// real capture of a carousel.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>

#include "databroadcast/carousel_fixture.h"
#include "databroadcast/carousel_literals.h"
#include "sim/ddb_writer.h"
#include "sim/dii_writer.h"
#include "sim/packetizer.h"
#include "sim/pat_writer.h"
#include "sim/pmt_writer.h"
#include "sim/section_writer.h"
#include "support/event_log.h"
#include "support/samples.h"
#include "support/stream_builder.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using testing::NoticeLog;
using testing::StoredResources;
using testing::StreamBuilder;

constexpr uint16_t kPmtPid = 0x01F0;
constexpr uint16_t kProgram = 0x0400;
constexpr uint16_t kCarouselA = 0x0140;
constexpr uint16_t kCarouselB = 0x0141;

std::vector<uint8_t> Pat(uint16_t transport_stream_id = 0x7FE3) {
    return sim::PatSection(transport_stream_id, 0, {{0, 0x0010}, {kProgram, kPmtPid}});
}

std::vector<uint8_t> Pmt(uint8_t version, bool with_b) {
    std::vector<sim::PmtStream> streams = {
        {0x02, 0x0111, sim::StreamIdentifierDescriptor(0x00)},
        {0x0D, kCarouselA, sim::StreamIdentifierDescriptor(0x40)},
        {0x0D, kCarouselB, sim::StreamIdentifierDescriptor(0x41)},
    };
    streams.resize(with_b ? 3 : 2);
    return sim::PmtSection(kProgram, version, 0x0111, {}, streams);
}

// The literal messages, each as its own payload unit.
StreamBuilder LiteralCarousel(StreamBuilder b, uint16_t pid = kCarouselA) {
    return b.Section(pid, testing::kLiteralDii)
        .Section(pid, testing::kLiteralDdb2)
        .Section(pid, testing::kLiteralDdb0)
        .Section(pid, testing::kLiteralDdb1);
}

// The notices outlive the processor, whose destruction still notifies: a base before it.
struct OwnNotices {
    NoticeLog own;
};
struct Fixture : OwnNotices, testing::ProcessorRun {
    NoticeLog& notices;

    explicit Fixture(NoticeLog* shared = nullptr) : notices(shared != nullptr ? *shared : own) {
        processor.data_broadcast = 1;
        processor.SetCarouselCallback(&NoticeLog::Hook, &notices);
    }
    void Feed(const StreamBuilder& b) { ProcessorRun::Feed(b.Bytes()); }
    CCarouselStore& Store() { return processor.CarouselStore(); }
};

StreamBuilder Programme(bool with_b = true) {
    StreamBuilder b;
    b.Section(0, Pat()).Section(kPmtPid, Pmt(0, with_b));
    return b;
}

TEST(CarouselHandler, LiteralCarouselArrivesThroughPacketsOnlyWithBothSwitchesOn) {
    StreamBuilder b = LiteralCarousel(Programme());
    // Stream descriptors on the same PID: read as a DII, they would repeat it and so clear the
    // carousel's completion.
    auto other = testing::kLiteralDii;
    other[0] = 0x3D;
    sim::FixCrc(other);
    b.Section(kCarouselA, other);
    Fixture f;
    f.Feed(b);
    const auto resources = StoredResources(f.Store());
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].service_id, kProgram);  // the programme of the PMT
    EXPECT_EQ(resources[0].component_tag, 0x40);   // from its stream identifier descriptor
    EXPECT_EQ(resources[0].data, testing::kLiteralModule);
    EXPECT_EQ(f.notices.Codes(), (std::vector<uint32_t>{0x51, 0x53, 0x54}));
    EXPECT_EQ(f.notices.notices[0].pid, kCarouselA);
    EXPECT_TRUE(f.Store().Carousel(kCarouselA)->complete);
    EXPECT_EQ(f.Store().Carousel(kCarouselA)->service_id, kProgram);

    Fixture off, no_tables;
    off.processor.data_broadcast = 0;
    no_tables.processor.decode_tables = 0;
    for (Fixture* g : {&off, &no_tables}) {
        g->Feed(b);
        EXPECT_TRUE(g->Store().Carousels().empty());
    }
    EXPECT_EQ(off.processor.Pid(kCarouselA).kind, PidState::kDataCarousel);
}

TEST(CarouselHandler, DiiOverTwoPacketsIsDroppedOnlyWhenTheCompletingOneIsScrambled) {
    // The literal module behind thirty empty ones, so that the DII needs two packets.
    std::vector<sim::DiiModule> modules = {{3, 20, 1, sim::TypeDescriptor("image/X-arib-png")}};
    for (uint16_t id = 10; id < 40; ++id) {
        modules.push_back({id, 10, 0, {}});
    }
    const auto dii = sim::DiiSection(testing::MakeDii(1, 8, modules));
    Fixture f;
    StreamBuilder b = Programme();
    auto packets = sim::SectionPacketizer(kCarouselA).Put(dii);
    ASSERT_EQ(packets.size(), 2u);
    packets[1][3] |= 0x80;
    f.Feed(b.Packet(packets[0]).Packet(packets[1]));
    EXPECT_FALSE(f.Store().HasCarousel(kCarouselA));
    packets = sim::SectionPacketizer(kCarouselA, 2).Put(dii);
    packets[0][3] |= 0xC0;
    f.Feed(StreamBuilder().Packet(packets[0]).Packet(packets[1]));
    ASSERT_TRUE(f.Store().HasCarousel(kCarouselA));
    EXPECT_EQ(f.Store().Carousel(kCarouselA)->modules.size(), 31u);
    // Blocks after it complete the module the whole DII described; in short-form sections,
    // the message sits at offset three.
    StreamBuilder blocks;
    for (uint16_t n = 0; n < 3; ++n) {
        const auto part = std::span(testing::kLiteralModule).subspan(n * 8u);
        const auto block = testing::Block(
            1, 3, 1, n, {part.begin(), part.begin() + std::min<size_t>(8, part.size())});
        blocks.Section(kCarouselA,
                       sim::MakeShortSection(0x3C, sim::DdbMessage(block), true, false));
    }
    f.Feed(blocks);
    ASSERT_EQ(StoredResources(f.Store()).size(), 1u);
    EXPECT_EQ(StoredResources(f.Store())[0].data, testing::kLiteralModule);
}

TEST(CarouselHandler, CarouselDroppedByANewPmtIsRemovedUnlessDataBroadcastIsOff) {
    for (const uint32_t data_broadcast : {1u, 0u}) {
        Fixture f;
        f.Feed(LiteralCarousel(LiteralCarousel(Programme(), kCarouselA), kCarouselB));
        ASSERT_EQ(StoredResources(f.Store()).size(), 2u);
        f.notices.notices.clear();
        f.processor.data_broadcast = data_broadcast;
        f.Feed(StreamBuilder().Section(kPmtPid, Pmt(1, false)));
        EXPECT_EQ(f.processor.VanishedCarouselPids(), std::vector<uint16_t>{kCarouselB});
        EXPECT_TRUE(f.Store().HasCarousel(kCarouselA));
        EXPECT_EQ(f.Store().HasCarousel(kCarouselB), data_broadcast == 0);
        if (data_broadcast == 0) {
            continue;
        }
        ASSERT_EQ(f.notices.Codes(), std::vector<uint32_t>{kCarouselReset});
        EXPECT_EQ(f.notices.notices[0].pid, kCarouselB);
        EXPECT_EQ(f.notices.notices[0].number, 0x41u);
        const auto resources = StoredResources(f.Store());
        ASSERT_EQ(resources.size(), 1u);
        EXPECT_EQ(resources[0].component_tag, 0x40);
    }
}

TEST(CarouselHandler, NewTransportStreamOrTheProcessorsEndResetsEveryCarousel) {
    NoticeLog notices;
    {
        Fixture f(&notices);
        f.Feed(LiteralCarousel(Programme(), kCarouselA));
        notices.notices.clear();
        f.Feed(StreamBuilder().Section(0, Pat(0x7FE4)));
        EXPECT_TRUE(f.Store().Carousels().empty());
        EXPECT_TRUE(StoredResources(f.Store()).empty());
        EXPECT_EQ(notices.Codes(), std::vector<uint32_t>{kCarouselReset});
        f.Feed(LiteralCarousel(LiteralCarousel(Programme(), kCarouselA), kCarouselB));
        notices.notices.clear();
    }
    ASSERT_EQ(notices.Codes(), (std::vector<uint32_t>{kCarouselReset, kCarouselReset}));
    EXPECT_EQ(notices.notices[0].pid, kCarouselA);
    EXPECT_EQ(notices.notices[1].pid, kCarouselB);
}

// --- A real carousel ---------------------------------------------------------------------

TEST(CarouselHandler, RealCaptureModulesComplete) {
    const auto sample = testing::ReadSample("test-203.1.ts");
    if (!sample) {
        GTEST_SKIP() << "sample " << testing::SamplePath("test-203.1.ts") << " is not present";
    }
    // The capture holds only the carousel PID: a programme declaring it goes in front.
    constexpr uint16_t kSamplePid = 0x076A;
    StreamBuilder head;
    head.Section(0, sim::PatSection(0x0001, 0, {{0x0001, 0x0100}}))
        .Section(0x0100,
                 sim::PmtSection(0x0001, 0, 0x1FFF, {},
                                 {{0x0D, kSamplePid, sim::StreamIdentifierDescriptor(0x40)}}));
    std::vector<uint8_t> stream = head.Bytes();
    stream.insert(stream.end(), sample->begin(), sample->end());

    Fixture f;
    f.ProcessorRun::Feed(stream);

    const auto carousel = f.Store().Carousel(kSamplePid);
    ASSERT_TRUE(carousel);
    EXPECT_EQ(carousel->download_id, 0x0000000Au);
    EXPECT_EQ(carousel->block_size, 4066);
    // The carousel completed once; the DII repeats after that replace the record and with it
    // the carousel's flag, while every module stays complete.
    EXPECT_FALSE(carousel->complete);
    // id, size, blocks, inflated size
    const std::tuple<uint16_t, uint32_t, uint16_t, uLong> expected[] = {
        {1, 133, 1, 294}, {2, 379138, 94, 756113}, {3, 29806, 8, 31946}};
    ASSERT_EQ(carousel->modules.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const ModuleStatus& m = carousel->modules[i];
        const auto& [id, size, blocks, inflated] = expected[i];
        // DVB module info: no 0xC2 descriptor, so not compressed.
        EXPECT_EQ(std::tuple(m.module_id, m.module_size, m.module_version, m.block_count,
                             m.complete, m.compressed),
                  std::tuple(id, size, 0x7D, blocks, true, false));
    }
    EXPECT_EQ(f.notices.OfCode(kModuleCompleted).size(), 3u);
    EXPECT_EQ(f.notices.OfCode(kCarouselCompleted).size(), 1u);

    // Each module is kept whole as sent; its zlib stream (checked by its Adler-32) proves the
    // blocks were put together in the right places.
    const auto resources = StoredResources(f.Store());
    ASSERT_EQ(resources.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const auto& [id, size, blocks, inflated_size] = expected[i];
        EXPECT_EQ(resources[i].module_id, id);
        ASSERT_EQ(resources[i].data.size(), size);
        std::vector<uint8_t> inflated(inflated_size + 1);
        uLongf length = static_cast<uLongf>(inflated.size());
        ASSERT_EQ(uncompress(inflated.data(), &length, resources[i].data.data(),
                             static_cast<uLong>(size)),
                  Z_OK);
        EXPECT_EQ(length, inflated_size);
        EXPECT_EQ(std::string(inflated.begin(), inflated.begin() + 4), "BIOP");
    }
}

}  // namespace
}  // namespace tavrel
