// Carousel assembly: DII and DDB messages into modules, the limits, the update rules of a new
// DII, inflating, resets and the notifications. First the literal messages, then our writers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "databroadcast/carousel_fixture.h"
#include "databroadcast/carousel_literals.h"
#include "platform/temp_dir.h"
#include "sim/section_writer.h"

namespace tavrel {
namespace {

using testing::CarouselFixture;
using testing::MakeDii;
using testing::Pattern;
using testing::StoredResources;
using Codes = std::vector<uint32_t>;

constexpr uint16_t kPid = CarouselFixture::kPid;
constexpr uint8_t kTag = CarouselFixture::kTag;

sim::DiiModule Module(uint16_t id, uint32_t size, uint8_t version,
                      std::string_view type = "image/jpeg") {
    return {id, size, version, type.empty() ? std::vector<uint8_t>() : sim::TypeDescriptor(type)};
}

std::vector<std::vector<uint8_t>> Sections(uint32_t download_id, uint16_t id, uint8_t version,
                                           uint16_t block_size, std::span<const uint8_t> data) {
    return sim::ModuleDdbSections(download_id, id, version, block_size, data);
}

TEST(CarouselLiteral, DiiAndThreeDdbsGiveOnePngResource) {
    CarouselFixture f;
    EXPECT_TRUE(f.DiiSection(testing::kLiteralDii));
    // The same module behind a compatibility descriptor, on another PID.
    EXPECT_TRUE(f.DiiSection(testing::kLiteralDiiWithCompatibility, 0x0141));
    f.DdbSection(testing::kLiteralDdb2);
    f.DdbSection(testing::kLiteralDdb0);
    EXPECT_TRUE(StoredResources(f.store).empty());
    f.DdbSection(testing::kLiteralDdb1);

    ASSERT_EQ(f.log.Codes(), (Codes{0x51, 0x51, 0x53, 0x54}));
    const ModuleInfo announced = f.log.notices[1].info;
    EXPECT_EQ(std::tuple(f.log.notices[1].pid, announced.component_tag, announced.module_id,
                         announced.module_version, announced.module_size),
              std::tuple(0x0141u, kTag, 3, 1, 20u));
    EXPECT_EQ(f.log.notices[3].number, kTag);
    const auto resources = StoredResources(f.store);
    ASSERT_EQ(resources.size(), 1u);
    const auto& r = resources[0];
    EXPECT_EQ(std::tuple(r.service_id, r.component_tag, r.module_id, r.version, r.content_type,
                         r.path, r.data),
              std::tuple(CarouselFixture::kServiceId, kTag, 3, 1, "image/X-arib-png", "40/0003",
                         testing::kLiteralModule));

    const auto carousel = f.store.Carousel(kPid);
    ASSERT_TRUE(carousel && carousel->modules.size() == 1u);
    // Block data released after hand-over.
    EXPECT_EQ(std::tuple(carousel->download_id, carousel->block_size, carousel->complete,
                         carousel->modules[0].block_count, carousel->modules[0].collecting),
              std::tuple(1u, 8, true, 3, false));
    const auto m = f.Module(3, 0x0141);
    EXPECT_EQ(std::tuple(m.module_size, m.module_version, m.content_type, m.block_count),
              std::tuple(20u, 1, "image/X-arib-png", 3));
}

TEST(CarouselLiteral, OtherMessagesAndBrokenHeadersAreIgnored) {
    CarouselFixture f;
    auto dsi = testing::kLiteralDii;
    dsi[11] = 0x06;  // messageId 0x1006: a DownloadServerInitiate
    auto protocol = testing::kLiteralDii;
    protocol[8] = 0x12;
    auto type = testing::kLiteralDii;
    type[9] = 0x04;
    // Nor a DII cut inside its module loop.
    for (const auto& section :
         {dsi, protocol, type, testing::kLiteralDdb0,
          std::vector(testing::kLiteralDii.begin(), testing::kLiteralDii.begin() + 50)}) {
        EXPECT_TRUE(f.DiiSection(section));
    }
    // Block size 0: nothing to place blocks by.
    EXPECT_TRUE(f.Dii(MakeDii(1, 0, {Module(1, 100, 0)})));
    EXPECT_FALSE(f.store.HasCarousel(kPid));
    EXPECT_TRUE(f.log.notices.empty());
    // A DII read as a DDB changes nothing either.
    EXPECT_TRUE(f.DiiSection(testing::kLiteralDii));
    f.DdbSection(testing::kLiteralDii);
    EXPECT_EQ(f.Module(3).blocks_received, 0);
}

// 128 modules, and 1024 blocks a module, are taken; one more of either rejects the DII as a
// whole, which leaves the carousel as it was, a half-collected module included.
TEST(DiiLimits, UpToTheLimitAcceptedOneMoreRejectsTheWholeDii) {
    std::vector<sim::DiiModule> many;
    for (uint16_t id = 0; id < 128; ++id) {
        many.push_back(Module(id, id == 6 ? 0 : 100, 0, ""));
    }
    auto too_many = many;
    too_many.push_back(Module(128, 100, 0, ""));
    const struct {
        uint16_t block_size;
        std::vector<sim::DiiModule> at_limit, over;
        uint32_t code, extra;
    } kCases[] = {
        {64, many, too_many, kTooManyModules, 129},
        {16,
         {Module(1, 16 * 1024, 0), Module(5, 50, 0), Module(6, 0, 0)},
         {Module(1, 50, 0), Module(2, 16 * 1024 + 1, 0)},
         kTooManyBlocks,
         16 * 1024 + 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.code);
        CarouselFixture f;
        EXPECT_TRUE(f.Dii(MakeDii(7, c.block_size, c.at_limit)));
        EXPECT_EQ(f.store.Carousel(kPid)->modules.size(), c.at_limit.size());
        EXPECT_EQ(f.log.OfCode(kModuleAnnounced).size(), c.at_limit.size());
        f.Ddb(testing::Block(7, 5, 0, 0, Pattern(c.block_size)));  // one block of module 5
        f.log.notices.clear();
        EXPECT_FALSE(f.Dii(MakeDii(8, c.block_size, c.over)));
        ASSERT_EQ(f.log.Codes(), Codes{c.code});
        EXPECT_EQ(std::tuple(f.log.notices[0].number, f.log.notices[0].extra),
                  std::tuple(kTag, c.extra));
        EXPECT_EQ(f.store.Carousel(kPid)->download_id, 7u);
        EXPECT_EQ(f.store.Carousel(kPid)->modules.size(), c.at_limit.size());
        EXPECT_EQ(std::tuple(f.Module(5).blocks_received, f.Module(5).collecting),
                  std::tuple(1, true));
        for (const auto& m : c.at_limit) {
            EXPECT_EQ(f.Module(m.module_id).module_size, m.module_size);
        }
        // Module 1 (of 1024 blocks in the second case) completes; the empty module 6 takes none.
        const auto data = Pattern(f.Module(1).module_size, 6);
        f.AllBlocks(Sections(7, 1, 0, c.block_size, data));
        f.Ddb(testing::Block(7, 6, 0, 0, {1, 2, 3}));
        const auto empty = f.Module(6);
        EXPECT_EQ(std::tuple(empty.block_count, empty.complete, empty.collecting),
                  std::tuple(0, false, false));
        ASSERT_EQ(StoredResources(f.store).size(), 1u);
        EXPECT_EQ(StoredResources(f.store)[0].data, data);
    }
}

TEST(DiiDescriptors, TypeAndCompressionAreTakenOthersSkipped) {
    CarouselFixture f;
    const uint8_t unknown[] = {0xAA, 0xBB, 0xCC};
    sim::DiiModule a{1, 10, 0, sim::Descriptor(0x02, unknown)};
    for (const auto& d : {sim::TypeDescriptor(std::string(100, 't')),
                          sim::CompressionTypeDescriptor(0x01, 12345)}) {
        a.module_info.insert(a.module_info.end(), d.begin(), d.end());
    }
    EXPECT_TRUE(f.Dii(MakeDii(1, 512, {a, Module(2, 10, 0, "text/plain")})));
    const auto m = f.Module(1);
    EXPECT_EQ(std::tuple(m.content_type, m.compressed, m.original_size),
              std::tuple(std::string(79, 't'), true, 12345u));
    EXPECT_EQ(std::tuple(f.Module(2).content_type, f.Module(2).compressed),
              std::tuple("text/plain", false));
}

// A repeated DII changes nothing. A changed version restarts only that module (0x51), a dropped
// module loses its resources (0x52) only when it had any, a new one comes silently, and a new
// block size restarts the half-collected modules.
TEST(DiiUpdate, RepeatChangesNothingVersionAndBlockSizeRestartDroppedModulesLoseResources) {
    CarouselFixture f;
    const std::string_view list = "application/X-arib-resourceList";
    const auto dii = MakeDii(
        1, 100, {Module(1, 200, 0), Module(2, 150, 0), Module(3, 50, 4), Module(5, 50, 0, list)});
    const auto one = Pattern(200, 1);
    const auto blocks_one = Sections(1, 1, 0, 100, one);
    EXPECT_TRUE(f.Dii(dii));
    f.DdbSection(blocks_one[0]);
    f.AllBlocks(Sections(1, 2, 0, 100, Pattern(150, 9)));
    f.AllBlocks(Sections(1, 3, 4, 100, Pattern(50, 2)));
    f.AllBlocks(Sections(1, 5, 0, 100, Pattern(50, 3)));  // a resource list: nothing stored
    ASSERT_EQ(StoredResources(f.store).size(), 2u);

    // The same DII again: no notice, nothing restarted, the complete module not collected again.
    f.log.notices.clear();
    EXPECT_TRUE(f.Dii(dii));
    f.AllBlocks(Sections(1, 2, 0, 100, Pattern(150, 9)));
    EXPECT_TRUE(f.log.notices.empty());
    // Module 2 changes version, module 3 is dropped, module 4 is new.
    EXPECT_TRUE(f.Dii(MakeDii(
        1, 100,
        {Module(1, 200, 0), Module(2, 120, 1), Module(4, 300, 0), Module(5, 50, 0, list)})));
    const auto announced = f.log.OfCode(kModuleAnnounced);
    const auto dropped = f.log.OfCode(kModuleDropped);
    ASSERT_EQ(std::tuple(f.log.notices.size(), announced.size(), dropped.size()),
              std::tuple(2u, 1u, 1u));
    const ModuleInfo &a = announced[0].info, &d = dropped[0].info;
    EXPECT_EQ(std::tuple(a.module_id, a.module_version, a.module_size, d.module_id,
                         d.module_version, d.component_tag),
              std::tuple(2, 1, 120u, 3, 4, kTag));
    EXPECT_EQ(std::tuple(f.Module(2).complete, f.Module(2).blocks_received), std::tuple(false, 0));
    // The old version's resource stays until the new one replaces it; module 3's is gone.
    auto resources = StoredResources(f.store);
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(std::tuple(resources[0].module_id, resources[0].version), std::tuple(2, 0));
    const auto new_two = Pattern(120, 3);
    f.AllBlocks(Sections(1, 2, 1, 100, new_two));
    // Module 1 completes with its block from before both DIIs.
    f.DdbSection(blocks_one[1]);
    resources = StoredResources(f.store);
    ASSERT_EQ(resources.size(), 2u);
    EXPECT_EQ(std::tuple(resources[0].data, resources[1].version, resources[1].data),
              std::tuple(one, 1, new_two));

    // Modules without resources go silently: half collected ones and a resource list.
    f.Ddb(testing::Block(1, 4, 0, 0, {1, 2}));
    ASSERT_TRUE(f.Module(4).collecting);
    f.log.notices.clear();
    EXPECT_TRUE(f.Dii(MakeDii(1, 100, {Module(1, 200, 0), Module(2, 120, 1)})));
    EXPECT_TRUE(f.log.notices.empty());

    // A new block size: the half-collected module starts again, in blocks of the new size.
    const auto three = Pattern(300, 4);
    EXPECT_TRUE(f.Dii(MakeDii(2, 100, {Module(3, 300, 0)})));
    f.DdbSection(Sections(2, 3, 0, 100, three)[0]);
    EXPECT_TRUE(f.Dii(MakeDii(3, 150, {Module(3, 300, 0)})));
    EXPECT_EQ(std::tuple(f.Module(3).blocks_received, f.Module(3).block_count), std::tuple(0, 2));
    f.AllBlocks(Sections(3, 3, 0, 150, three));
    resources = StoredResources(f.store);
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].data, three);
}

TEST(DdbAssembly, StrayBlocksAreIgnoredOthersInAnyOrderWithRepeatsCompleteOncePerVersion) {
    CarouselFixture f;
    const auto stray = Pattern(128, 50);
    f.Ddb(testing::Block(3, 9, 2, 0, stray));  // no DII yet
    EXPECT_FALSE(f.store.HasCarousel(kPid));
    const auto data = Pattern(1000, 4);
    EXPECT_TRUE(f.Dii(MakeDii(3, 128, {Module(9, 1000, 2)})));
    f.Ddb(testing::Block(3, 8, 2, 0, stray));  // unknown module
    f.Ddb(testing::Block(3, 9, 2, 8, stray));  // block 8 of an eight-block module
    f.Ddb(testing::Block(3, 9, 2, 1023, stray));
    f.Ddb(testing::Block(3, 9, 2, 1, stray), 0x0141);  // another PID
    f.Ddb(testing::Block(4, 9, 2, 0, stray));          // a foreign download id
    EXPECT_EQ(std::tuple(f.Module(9).blocks_received, f.Module(9).collecting),
              std::tuple(0, false));

    auto blocks = Sections(3, 9, 2, 128, data);
    ASSERT_EQ(blocks.size(), 8u);
    // Blocks are matched by download and module id only: the last one says version 7.
    blocks[4] = Sections(3, 9, 7, 128, data)[4];
    for (const size_t i : {7, 3, 3, 0, 7, 5, 1, 2, 6, 1, 4}) {
        f.DdbSection(blocks[i]);
    }
    f.AllBlocks(blocks);  // all again after completion: ignored
    const auto done = f.log.OfCode(kModuleCompleted);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(std::tuple(done[0].info.module_version, done[0].info.module_size),
              std::tuple(7, 1000u));  // the DDB's version
    EXPECT_EQ(f.log.OfCode(kCarouselCompleted).size(), 1u);
    const auto resources = StoredResources(f.store);
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(std::tuple(resources[0].data, resources[0].version),
              std::tuple(data, 2));  // the resource keeps the DII's version
}

TEST(DdbAssembly, OverlongBlocksAreCutShortOnesLeaveZerosUnallocatedOnesAreDropped) {
    CarouselFixture f;
    EXPECT_TRUE(f.Dii(MakeDii(1, 8, {Module(1, 20, 0)})));
    const auto a = Pattern(12, 1);
    const auto c = Pattern(30, 100);
    {
        const ScopedCarouselAllocationLimit limit(19);  // no room for the module's buffer
        f.Ddb(testing::Block(1, 1, 0, 2, {0x11}));
    }
    EXPECT_EQ(f.Module(1).blocks_received, 0);
    f.Ddb(testing::Block(1, 1, 0, 0, a));  // longer than the block size
    f.Ddb(testing::Block(1, 1, 0, 2, c));  // longer than the module's remaining 4 bytes
    f.Ddb(testing::Block(1, 1, 0, 1, {0xAA, 0xBB}));
    std::vector<uint8_t> expected(a.begin(), a.begin() + 8);
    expected.insert(expected.end(), {0xAA, 0xBB, 0, 0, 0, 0, 0, 0});
    expected.insert(expected.end(), c.begin(), c.begin() + 4);
    ASSERT_EQ(StoredResources(f.store).size(), 1u);
    EXPECT_EQ(StoredResources(f.store)[0].data, expected);
}

TEST(DdbCompressed, StreamsThatDoNotInflateIntoTheirRoomCompleteWithoutResources) {
    const std::vector<uint8_t> content(5000, 'a');  // one block, compressed
    const struct {
        const char* what;
        size_t cut;               // bytes cut off the zlib stream
        uint32_t original_size;   // announced
        size_t allocation_limit;  // for the store's buffers
        bool stored;
    } kCases[] = {
        {"a truncated stream", 10, 5000, SIZE_MAX, false},
        {"a stream longer than the original size", 0, 4999, SIZE_MAX, false},
        {"a shorter one gives what it holds", 0, 6000, SIZE_MAX, true},
        {"an exact one too", 0, 5000, SIZE_MAX, true},
        {"no buffer to inflate into", 0, 5000, 4999, false},
        {"an original size up to the cap is taken", 0, kMaxInflatedModuleSize, SIZE_MAX, true},
        {"one beyond it is not", 0, kMaxInflatedModuleSize + 1, SIZE_MAX, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        CarouselFixture f;
        auto m = sim::CompressedModule(5, 1, content, "");
        m.bytes.resize(m.bytes.size() - c.cut);
        m.entry.module_size = static_cast<uint32_t>(m.bytes.size());
        m.entry.module_info = sim::CompressionTypeDescriptor(0, c.original_size);
        const ScopedCarouselAllocationLimit limit(c.allocation_limit);
        f.Deliver({m});
        EXPECT_EQ(f.log.Codes(), (Codes{kModuleAnnounced, kModuleCompleted, kCarouselCompleted}));
        EXPECT_FALSE(f.Module(5).collecting);
        const auto resources = StoredResources(f.store);
        ASSERT_EQ(resources.size(), c.stored ? 1u : 0u);
        if (c.stored) {
            EXPECT_EQ(resources[0].data, content);
        }
        // Not collected again until its version changes.
        f.AllBlocks(Sections(1, 5, 1, 4066, m.bytes));
        EXPECT_EQ(f.log.OfCode(kModuleCompleted).size(), 1u);
    }
}

TEST(CarouselReset, WithoutRemovalEmptiesTheRecordWithItForgetsItClearAllDoesSoInPidOrder) {
    CarouselFixture f;
    auto ours = [&](uint16_t module_id) {
        EXPECT_TRUE(f.Dii(MakeDii(1, 100, {Module(module_id, 10, 0), Module(2, 300, 0)})));
        f.AllBlocks(Sections(1, module_id, 0, 100, Pattern(10)));
        f.DdbSection(Sections(1, 2, 0, 100, Pattern(300))[0]);
    };
    ours(1);
    // The same component tag under other services (as a PMT dropping ours leaves them), and
    // another tag on another PID.
    f.store.StoreResource(0x0999, kTag, 7, Pattern(4), ResourceRecord{});
    EXPECT_TRUE(f.Dii(MakeDii(1, 100, {Module(1, 10, 0)}), 0x0150, 0x0401, kTag));
    f.AllBlocks(Sections(1, 1, 0, 100, Pattern(10)), 0x0150, 0x0401);
    EXPECT_TRUE(f.Dii(MakeDii(1, 100, {Module(1, 10, 0)}), 0x0141, 0x0400, 0x41));
    f.AllBlocks(Sections(1, 1, 0, 100, Pattern(10)), 0x0141);
    ASSERT_EQ(StoredResources(f.store).size(), 4u);
    using Owners = std::vector<std::pair<uint16_t, uint8_t>>;  // service, tag
    auto owners = [&] {
        Owners out;
        for (const auto& r : StoredResources(f.store)) {
            out.emplace_back(r.service_id, r.component_tag);
        }
        return out;
    };

    f.log.notices.clear();
    f.store.ResetCarousel(kPid, false);
    ASSERT_EQ(f.log.Codes(), Codes{kCarouselReset});
    EXPECT_EQ(std::tuple(f.log.notices[0].number, f.log.notices[0].pid), std::tuple(kTag, kPid));
    const auto carousel = f.store.Carousel(kPid);
    ASSERT_TRUE(carousel);
    EXPECT_EQ(std::tuple(carousel->modules.size(), carousel->download_id), std::tuple(0u, 0u));
    EXPECT_EQ(owners(), (Owners{{0x0400, 0x41}, {0x0401, kTag}, {0x0999, kTag}}));
    // A DDB finds nothing until the next DII.
    f.AllBlocks(Sections(0, 1, 0, 100, Pattern(10)));
    EXPECT_EQ(StoredResources(f.store).size(), 3u);

    ours(3);
    f.store.ResetCarousel(kPid, true);
    EXPECT_FALSE(f.store.HasCarousel(kPid));
    EXPECT_EQ(owners(), (Owners{{0x0400, 0x41}, {0x0401, kTag}, {0x0999, kTag}}));
    EXPECT_EQ(f.log.Codes().back(), kCarouselReset);
    // A carousel that is not there: nothing, not even a notification.
    f.log.notices.clear();
    f.store.ResetCarousel(kPid, true);
    f.store.ResetCarousel(kPid, false);
    EXPECT_TRUE(f.log.notices.empty());

    f.store.ClearAll();
    ASSERT_EQ(f.log.Codes(), (Codes{kCarouselReset, kCarouselReset}));
    EXPECT_EQ(std::tuple(f.log.notices[0].pid, f.log.notices[1].pid), std::tuple(0x0141u, 0x0150u));
    EXPECT_TRUE(f.store.Carousels().empty());
    EXPECT_TRUE(StoredResources(f.store).empty());
}

TEST(CarouselLock, HookMayCallBackIntoTheStore) {
    CarouselFixture f;
    struct Reentry {
        CCarouselStore* store;
        int resets = 0;
    } reentry{&f.store};
    f.store.SetNotificationCallback(
        [](uint32_t code, uint32_t pid, const void*, uint32_t, void* user) {
            auto* r = static_cast<Reentry*>(user);
            if (code == kModuleCompleted) {
                r->store->ResetCarousel(static_cast<uint16_t>(pid), true);
            } else if (code == kCarouselReset) {
                ++r->resets;
            }
        },
        &reentry);
    EXPECT_TRUE(f.Dii(MakeDii(1, 100, {Module(1, 10, 0), Module(2, 10, 0)})));
    f.AllBlocks(Sections(1, 1, 0, 100, Pattern(10)));
    EXPECT_EQ(
        std::tuple(reentry.resets, f.store.HasCarousel(kPid), StoredResources(f.store).size()),
        std::tuple(1, false, 0u));
}

TEST(CarouselLock, FeedingAndWritingOnTwoThreads) {
    CarouselFixture f;
    const auto dii_a = sim::DiiSection(MakeDii(1, 100, {Module(1, 300, 0)}));
    const auto dii_b = sim::DiiSection(MakeDii(1, 100, {Module(1, 300, 1)}));
    const auto blocks_a = Sections(1, 1, 0, 100, Pattern(300, 1));
    const auto blocks_b = Sections(1, 1, 1, 100, Pattern(300, 2));
    std::atomic<bool> done{false};
    std::thread feeder([&] {
        for (int i = 0; i < 300; ++i) {
            f.DiiSection(i % 2 ? dii_b : dii_a);
            f.AllBlocks(i % 2 ? blocks_b : blocks_a);
            if (i % 50 == 49) {
                f.store.ClearAll();
            }
        }
        done = true;
    });
    const test_support::TempDir folder;
    while (!done) {
        for (const auto& c : f.store.Carousels()) {
            EXPECT_LE(c.modules.size(), 1u);  // each DII lists one module
        }
        for (const auto& r : StoredResources(f.store)) {
            // A resource is never seen half replaced.
            EXPECT_TRUE(r.data == Pattern(300, 1) || r.data == Pattern(300, 2));
        }
        EXPECT_LE(f.store.WriteResources(folder.Path(), kPid), 1);
    }
    feeder.join();
    EXPECT_GT(f.log.OfCode(kModuleCompleted).size(), 0u);
}

}  // namespace
}  // namespace tavrel
