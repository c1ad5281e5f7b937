// Real broadcast captures written by others: they catch what our own writers cannot. The
// expected values were read from the files with a separate decoder, not with this program.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>

#include "support/event_log.h"
#include "support/samples.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using Entry = testing::EventLog::Entry;

// A capture fed `repeat` times in 32 KiB blocks with every switch on.
struct SampleRun : testing::ProcessorRun {
    explicit SampleRun(const std::vector<uint8_t>& bytes, int repeat = 1) {
        processor.data_broadcast = 1;
        for (int i = 0; i < repeat; ++i) {
            Feed(bytes);
        }
        EXPECT_EQ(stats.packet_length, 188u);
        EXPECT_EQ(stats.sync_errors, 0u);
    }
    // The events since the last new transport stream: the processor forgot those before.
    std::vector<Entry> Since() const {
        const auto last = std::find_if(log.entries.rbegin(), log.entries.rend(), [](auto& e) {
            return e.type == kEventStream && e.length == 0;
        });
        return {last.base(), log.entries.end()};
    }
    std::vector<Entry> Of(uint32_t type) const { return testing::EventLog{Since()}.OfType(type); }
    std::vector<uint32_t> NewStreams() const {
        std::vector<uint32_t> out;
        std::ranges::transform(log.OfType(kEventStream), std::back_inserter(out), &Entry::a);
        return out;
    }
    // The last stream list of each programme, with how many streams have the given type.
    std::map<uint16_t, std::pair<size_t, size_t>> Streams(uint8_t type) const {
        std::map<uint16_t, std::pair<size_t, size_t>> out;
        for (const Entry& e : log.OfType(kEventStreams)) {
            out[static_cast<uint16_t>(e.a)] = {
                e.streams.size(),
                std::count_if(e.streams.begin(), e.streams.end(),
                              [&](const StreamEntry& s) { return s.stream_type == type; })};
        }
        return out;
    }
    std::map<uint16_t, std::string> Names() const {
        std::map<uint16_t, std::string> out;
        for (const Entry& e : Of(kEventServiceName)) {
            out[static_cast<uint16_t>(e.a)] = Name(static_cast<uint16_t>(e.a));
        }
        return out;
    }
};

#define LOAD_SAMPLE(var, name)                                                       \
    const auto var = testing::ReadSample(name);                                      \
    if (!var) {                                                                      \
        GTEST_SKIP() << "sample " << testing::SamplePath(name) << " is not present"; \
    }

TEST(RealSamples, SinglePatPacketGivesItsProgrammesOnce) {
    LOAD_SAMPLE(bytes, "pat_tsid7FE3.ts");
    const SampleRun run(*bytes, 4);  // one packet is too short for the grid search
    EXPECT_EQ(run.NewStreams(), std::vector<uint32_t>{0x7FE3});
    const auto pats = run.log.OfType(kEventPrograms);
    ASSERT_EQ(pats.size(), 1u);
    const auto& p = pats[0].programs;
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].program_number, 0x0418);
    EXPECT_EQ(p[0].pmt_pid, 0x0101);
    EXPECT_EQ(p[3].program_number, 0x049F);
    EXPECT_EQ(p[3].pmt_pid, 0x07F0);
}

TEST(RealSamples, TerrestrialProgrammesPresentFollowingForTwoServicesSdtAndNit) {
    LOAD_SAMPLE(bytes, "isdbt-akita-2020-sections.ts");
    const SampleRun run(*bytes);
    EXPECT_EQ(run.NewStreams(), std::vector<uint32_t>{0x7ED0});
    ASSERT_EQ(run.log.OfType(kEventPrograms).size(), 1u);
    EXPECT_EQ(run.log.OfType(kEventPrograms)[0].programs.size(), 4u);
    const auto data = run.Streams(0x0D);
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data.at(0x4800), (std::pair<size_t, size_t>{11, 7}));
    EXPECT_EQ(data.at(0xFFF0).first, 12u);
    // The one-segment service: H.264 video and AAC audio.
    EXPECT_EQ(run.Streams(0x1B).at(0x4980).second, 1u);
    EXPECT_EQ(run.Streams(0x0F).at(0x4980).second, 1u);

    const auto pf = run.Of(kEventPresentFollowing);
    ASSERT_EQ(pf.size(), 4u);
    std::map<uint16_t, int> per_service;
    for (const auto& e : pf) {
        ++per_service[static_cast<uint16_t>(e.a)];
        const EventRecord& r = e.record;
        const bool news = r.event_id == 0x0EDD;
        EXPECT_EQ(std::tuple(e.length, r.kind, r.video_component_type), std::tuple(1u, 1, 0xB3));
        if (news) {
            EXPECT_EQ(std::tuple(r.start, r.end, r.audio_component_type),
                      std::tuple(MjdTime{58944, 68400}, MjdTime{58944, 70200}, 0x02));
            EXPECT_EQ(testing::Utf8(r.name), "ＮＨＫニュース７[二][字]");
            EXPECT_EQ(testing::Utf8(r.text).rfind("夜７時、「一歩先へ、一歩深く」", 0), 0u);
        } else {
            EXPECT_EQ(std::tuple(r.event_id, r.start, r.duration, r.audio_component_type),
                      std::tuple(0x0EDE, MjdTime{58944, 70200}, 1800u, 0x03));
            EXPECT_EQ(testing::Utf8(r.name),
                      "ダーウィンが来た！「波乱のライオン学園に潜入！百獣の王を養成！！」[字]");
        }
    }
    EXPECT_EQ(per_service, (std::map<uint16_t, int>{{0x4800, 2}, {0x4801, 2}}));
    const std::map<uint16_t, std::string> expected = {
        {0x4800, "ＮＨＫ総合１・秋田"},
        {0x4801, "ＮＨＫ総合２・秋田"},
        {0x4980, "ＮＨＫ携帯Ｇ・秋田"},
    };
    EXPECT_EQ(run.Names(), expected);
    const auto network = run.Of(kEventNetwork);
    ASSERT_EQ(network.size(), 1u);
    EXPECT_EQ(network[0].a, 0x7ED0u);
    EXPECT_EQ(network[0].text, "秋田０");
}

TEST(RealSamples, TokyoSdtNamesSixServicesNitWithoutSatelliteDeliveryPmtWithNineCarousels) {
    LOAD_SAMPLE(bytes, "tokyomx_psi_all.ts");
    const SampleRun run(*bytes);
    const std::map<uint16_t, std::string> expected = {
        {0x5C38, "ＴＯＫＹＯ　ＭＸ１"}, {0x5C39, "ＴＯＫＹＯ　ＭＸ１"},
        {0x5C3A, "ＴＯＫＹＯ　ＭＸ２"}, {0x5C3F, "ＴＯＫＹＯ　ＭＸ臨時"},
        {0x5DB8, "ＭＸワンセグ１"},     {0x5DB9, "ＭＸワンセグ２"},
    };
    EXPECT_EQ(run.Names(), expected);
    std::vector<uint32_t> types;
    for (const Entry& e : run.Since()) {
        types.push_back(e.type);
    }
    EXPECT_EQ(types, (std::vector<uint32_t>{kEventPrograms, kEventStreams, kEventTransportStream,
                                            kEventNetwork, kEventServiceName, kEventServiceName,
                                            kEventServiceName, kEventServiceName, kEventServiceName,
                                            kEventServiceName}));
    const auto streams = run.Of(kEventTransportStream);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].a, 0x7E87u);
    EXPECT_EQ(streams[0].length, 0x7E87u);
    EXPECT_EQ(streams[0].delivery.frequency, 0.0);  // terrestrial: no 0x43 descriptor
    EXPECT_EQ(run.Of(kEventNetwork)[0].text, "東京７");

    const SampleRun twice(*bytes, 2);
    EXPECT_EQ(twice.NewStreams(), std::vector<uint32_t>{0x7E87});
    EXPECT_EQ(twice.Streams(0x0D).at(0x5C38).second, 9u);
}

TEST(RealSamples, SatelliteNitListsTwentySixStreamsAndOtherPresentFollowingIsKept) {
    LOAD_SAMPLE(bytes, "test-101.ts");
    const SampleRun run(*bytes);
    ASSERT_EQ(run.log.OfType(kEventPrograms).size(), 1u);
    EXPECT_EQ(run.log.OfType(kEventPrograms)[0].programs.size(), 6u);
    const auto data = run.Streams(0x0D);  // scrambled services: PMTs of three of them
    EXPECT_EQ(data.size(), 3u);
    EXPECT_EQ(data.at(0x008D).second, 4u);

    const auto streams = run.Of(kEventTransportStream);
    ASSERT_EQ(streams.size(), 26u);
    for (const auto& s : streams) {
        const SatelliteDelivery& d = s.delivery;
        EXPECT_EQ(std::tuple(s.a, d.orbital_position, d.west_east_flag, d.polarisation,
                             d.modulation, d.symbol_rate, d.fec_inner),
                  std::tuple(0x0004u, 110.0, 1u, 3, 8, 28.86, 8));
    }
    EXPECT_EQ(streams[0].length, 0x4010u);
    EXPECT_DOUBLE_EQ(streams[0].delivery.frequency, 11727.48);
    EXPECT_EQ(streams[25].length, 0x4771u);
    EXPECT_DOUBLE_EQ(streams[25].delivery.frequency, 12149.44);
    const auto network = run.Of(kEventNetwork);
    ASSERT_EQ(network.size(), 1u);
    EXPECT_EQ(network[0].text, "ＢＳＤｉｇｉｔａｌ");

    EXPECT_TRUE(run.Of(kEventSchedule).empty());  // only tables 0x60 are carried
    const auto pf = run.Of(kEventPresentFollowing);
    ASSERT_EQ(pf.size(), 1u);
    EXPECT_EQ(
        testing::EventLog::Line(pf[0]).rfind("64 00ea 0 k2 v28 e9989 58978 82800..58978 84600 ", 0),
        0u);
    EXPECT_EQ(testing::Utf8(pf[0].record.name), "[再]ＶＡＮで勝ち馬さがしてみませんか＃７６");
}

}  // namespace
}  // namespace tavrel
