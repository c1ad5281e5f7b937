// Real broadcast captures written by others: they catch what our own writers cannot.
#include <gtest/gtest.h>

#include <map>

#include "support/samples.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

struct Seen {
    std::vector<uint32_t> new_streams;
    std::vector<std::vector<ProgramEntry>> programs;
    std::map<uint16_t, std::vector<StreamEntry>> streams;
};

void Collect(uint32_t type, uint32_t a, const void* data, uint32_t length, void* user) {
    auto* seen = static_cast<Seen*>(user);
    if (type == kEventStream && length == 0) {
        seen->new_streams.push_back(a);
    } else if (type == kEventPrograms) {
        const auto* e = static_cast<const ProgramEntry*>(data);
        seen->programs.emplace_back(e, e + length);
    } else if (type == kEventStreams) {
        const auto* e = static_cast<const StreamEntry*>(data);
        seen->streams[static_cast<uint16_t>(a)].assign(e, e + length);
    }
}

Seen Analyze(const std::vector<uint8_t>& bytes, int repeat = 1) {
    Seen seen;
    CTsProcessor processor;
    processor.decode_tables = 1;
    processor.data_broadcast = 1;
    processor.program_guide = 1;
    processor.SetOutputCallback(&Collect, &seen);
    StreamStats stats;
    for (int i = 0; i < repeat; ++i) {
        for (size_t pos = 0; pos < bytes.size(); pos += 0x8000) {
            const size_t n = std::min<size_t>(0x8000, bytes.size() - pos);
            processor.Input(static_cast<uint32_t>(n), stats, bytes.data() + pos);
        }
    }
    EXPECT_EQ(stats.packet_length, 188u);
    EXPECT_EQ(stats.sync_errors, 0u);
    processor.Finish(stats);
    return seen;
}

#define LOAD_SAMPLE(var, name)                                                       \
    const auto var = testing::ReadSample(name);                                      \
    if (!var) {                                                                      \
        GTEST_SKIP() << "sample " << testing::SamplePath(name) << " is not present"; \
    }

size_t CountType(const std::vector<StreamEntry>& streams, uint8_t type) {
    return static_cast<size_t>(std::count_if(streams.begin(), streams.end(),
                                             [&](auto& s) { return s.stream_type == type; }));
}

TEST(RealSamples, SinglePatPacketGivesItsProgrammesOnce) {
    LOAD_SAMPLE(bytes, "pat_tsid7FE3.ts");
    const Seen seen = Analyze(*bytes, 4);  // one packet is too short for the grid search
    EXPECT_EQ(seen.new_streams, std::vector<uint32_t>{0x7FE3});
    ASSERT_EQ(seen.programs.size(), 1u);
    const auto& p = seen.programs[0];
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].program_number, 0x0418);
    EXPECT_EQ(p[0].pmt_pid, 0x0101);
    EXPECT_EQ(p[3].program_number, 0x049F);
    EXPECT_EQ(p[3].pmt_pid, 0x07F0);
}

TEST(RealSamples, TerrestrialCaptureGivesFourProgrammesAndTheirStreams) {
    LOAD_SAMPLE(bytes, "isdbt-akita-2020-sections.ts");
    const Seen seen = Analyze(*bytes);
    EXPECT_EQ(seen.new_streams, std::vector<uint32_t>{0x7ED0});
    ASSERT_EQ(seen.programs.size(), 1u);
    EXPECT_EQ(seen.programs[0].size(), 4u);
    ASSERT_EQ(seen.streams.size(), 4u);
    EXPECT_EQ(seen.streams.at(0x4800).size(), 11u);
    EXPECT_EQ(CountType(seen.streams.at(0x4800), 0x0D), 7u);
    // The one-segment service: H.264 video and AAC audio.
    const auto& oneseg = seen.streams.at(0x4980);
    EXPECT_EQ(CountType(oneseg, 0x1B), 1u);
    EXPECT_EQ(CountType(oneseg, 0x0F), 1u);
    EXPECT_EQ(seen.streams.at(0xFFF0).size(), 12u);
}

TEST(RealSamples, PmtWithNineDataCarousels) {
    LOAD_SAMPLE(bytes, "tokyomx_psi_all.ts");
    const Seen seen = Analyze(*bytes, 2);
    EXPECT_EQ(seen.new_streams, std::vector<uint32_t>{0x7E87});
    ASSERT_EQ(seen.streams.count(0x5C38), 1u);
    EXPECT_EQ(CountType(seen.streams.at(0x5C38), 0x0D), 9u);
}

TEST(RealSamples, SatelliteCaptureWithScrambledStreams) {
    LOAD_SAMPLE(bytes, "test-101.ts");
    const Seen seen = Analyze(*bytes);
    ASSERT_EQ(seen.programs.size(), 1u);
    EXPECT_EQ(seen.programs[0].size(), 6u);
    EXPECT_EQ(seen.streams.size(), 3u);
    EXPECT_EQ(CountType(seen.streams.at(0x008D), 0x0D), 4u);
}

TEST(RealSamples, OddTablesAndPartialStreamsPassWithoutHarm) {
    for (const char* name : {"test-181.ts", "test-186.1.ts", "test-186.2.ts", "test-203.1.ts"}) {
        const auto bytes = testing::ReadSample(name);
        if (!bytes) {
            GTEST_SKIP() << "sample " << testing::SamplePath(name) << " is not present";
        }
        const Seen seen = Analyze(*bytes);
        EXPECT_TRUE(seen.programs.empty()) << name;  // none of them carries a PAT
    }
}

}  // namespace
}  // namespace tavrel
