// Service, network and event tables of real broadcast captures. The expected values were read
// from the files with a separate decoder, not with this program.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "support/event_log.h"
#include "support/samples.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using testing::EventLog;

struct SiRun {
    EventLog events;
    std::map<uint16_t, std::string> names;  // from ServiceName after the run
};

// Feeds the capture in 32 KiB blocks with every table switch on; events before the last new
// transport stream are dropped (the processor forgot them too).
SiRun Analyze(const std::vector<uint8_t>& bytes) {
    SiRun run;
    CTsProcessor processor;
    processor.decode_tables = 1;
    processor.program_guide = 1;
    run.events.Attach(processor);
    StreamStats stats;
    for (size_t pos = 0; pos < bytes.size(); pos += 0x8000) {
        const size_t n = std::min<size_t>(0x8000, bytes.size() - pos);
        processor.Input(static_cast<uint32_t>(n), stats, bytes.data() + pos);
    }
    auto& entries = run.events.entries;
    const auto last_stream = std::find_if(entries.rbegin(), entries.rend(), [](const auto& e) {
        return e.type == kEventStream && e.length == 0;
    });
    if (last_stream != entries.rend()) {
        entries.erase(entries.begin(), last_stream.base());
    }
    for (const auto& e : run.events.OfType(kEventServiceName)) {
        char name[30];
        if (processor.ServiceName(static_cast<uint16_t>(e.a), name, sizeof name)) {
            run.names[static_cast<uint16_t>(e.a)] = testing::Utf8(name);
        }
    }
    return run;
}

#define LOAD_SAMPLE(var, name)                                                       \
    const auto var = testing::ReadSample(name);                                      \
    if (!var) {                                                                      \
        GTEST_SKIP() << "sample " << testing::SamplePath(name) << " is not present"; \
    }

TEST(RealSamplesSi, TokyoSdtNamesSixServicesNitNamesTheNetworkWithoutSatelliteDelivery) {
    LOAD_SAMPLE(bytes, "tokyomx_psi_all.ts");
    const SiRun run = Analyze(*bytes);
    EXPECT_EQ(run.events.OfType(kEventServiceName).size(), 6u);
    const std::map<uint16_t, std::string> expected = {
        {0x5C38, "ＴＯＫＹＯ　ＭＸ１"}, {0x5C39, "ＴＯＫＹＯ　ＭＸ１"},
        {0x5C3A, "ＴＯＫＹＯ　ＭＸ２"}, {0x5C3F, "ＴＯＫＹＯ　ＭＸ臨時"},
        {0x5DB8, "ＭＸワンセグ１"},     {0x5DB9, "ＭＸワンセグ２"},
    };
    EXPECT_EQ(run.names, expected);
    EXPECT_EQ(
        run.events.Types(),
        (std::vector<uint32_t>{kEventPrograms, kEventStreams, kEventTransportStream, kEventNetwork,
                               kEventServiceName, kEventServiceName, kEventServiceName,
                               kEventServiceName, kEventServiceName, kEventServiceName}));
    const auto streams = run.events.OfType(kEventTransportStream);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].a, 0x7E87u);
    EXPECT_EQ(streams[0].length, 0x7E87u);
    EXPECT_EQ(streams[0].delivery.frequency, 0.0);  // terrestrial: no 0x43 descriptor
    const auto network = run.events.OfType(kEventNetwork);
    EXPECT_EQ(network[0].text, "東京７");
}

TEST(RealSamplesSi, SatelliteNitListsTwentySixStreamsAndOtherPresentFollowingIsKept) {
    LOAD_SAMPLE(bytes, "test-101.ts");
    const SiRun run = Analyze(*bytes);
    const auto streams = run.events.OfType(kEventTransportStream);
    ASSERT_EQ(streams.size(), 26u);
    for (const auto& s : streams) {
        EXPECT_EQ(s.a, 0x0004u);
        EXPECT_DOUBLE_EQ(s.delivery.orbital_position, 110.0);
        EXPECT_EQ(s.delivery.west_east_flag, 1u);
        EXPECT_EQ(s.delivery.polarisation, 3);
        EXPECT_EQ(s.delivery.modulation, 8);
        EXPECT_DOUBLE_EQ(s.delivery.symbol_rate, 28.86);
        EXPECT_EQ(s.delivery.fec_inner, 8);
    }
    EXPECT_EQ(streams[0].length, 0x4010u);
    EXPECT_DOUBLE_EQ(streams[0].delivery.frequency, 11727.48);
    EXPECT_EQ(streams[25].length, 0x4771u);
    EXPECT_DOUBLE_EQ(streams[25].delivery.frequency, 12149.44);
    const auto network = run.events.OfType(kEventNetwork);
    ASSERT_EQ(network.size(), 1u);
    EXPECT_EQ(network[0].text, "ＢＳＤｉｇｉｔａｌ");

    EXPECT_TRUE(run.events.OfType(kEventSchedule).empty());  // only tables 0x60 are carried
    const auto pf = run.events.OfType(kEventPresentFollowing);
    ASSERT_EQ(pf.size(), 1u);
    EXPECT_EQ(pf[0].a, 0x00EAu);
    EXPECT_EQ(pf[0].length, 0u);
    const EventRecord& r = pf[0].record;
    EXPECT_EQ(r.kind, kEventKindPresentFollowingOther);
    EXPECT_EQ(r.version, 28);
    EXPECT_EQ(r.event_id, 0x9989);
    EXPECT_EQ(r.start, (MjdTime{58978, 82800}));
    EXPECT_EQ(r.end, (MjdTime{58978, 84600}));
    EXPECT_EQ(testing::Utf8(r.name), "[再]ＶＡＮで勝ち馬さがしてみませんか＃７６");
}

TEST(RealSamplesSi, TerrestrialPresentFollowingForTwoServicesSdtAndNit) {
    LOAD_SAMPLE(bytes, "isdbt-akita-2020-sections.ts");
    const SiRun run = Analyze(*bytes);
    const auto pf = run.events.OfType(kEventPresentFollowing);
    ASSERT_EQ(pf.size(), 4u);
    std::map<uint16_t, int> per_service;
    for (const auto& e : pf) {
        ++per_service[static_cast<uint16_t>(e.a)];
        EXPECT_EQ(e.length, 1u);
        const EventRecord& r = e.record;
        EXPECT_EQ(r.kind, kEventKindPresentFollowingActual);
        EXPECT_EQ(r.video_component_type, 0xB3);
        if (r.event_id == 0x0EDD) {
            EXPECT_EQ(r.start, (MjdTime{58944, 68400}));
            EXPECT_EQ(r.end, (MjdTime{58944, 70200}));
            EXPECT_EQ(r.audio_component_type, 0x02);
            EXPECT_EQ(testing::Utf8(r.name), "ＮＨＫニュース７[二][字]");
            EXPECT_EQ(testing::Utf8(r.text).rfind("夜７時、「一歩先へ、一歩深く」", 0), 0u);
        } else {
            EXPECT_EQ(r.event_id, 0x0EDE);
            EXPECT_EQ(r.start, (MjdTime{58944, 70200}));
            EXPECT_EQ(r.duration, 1800u);
            EXPECT_EQ(r.audio_component_type, 0x03);
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
    EXPECT_EQ(run.names, expected);
    const auto network = run.events.OfType(kEventNetwork);
    ASSERT_EQ(network.size(), 1u);
    EXPECT_EQ(network[0].a, 0x7ED0u);
    EXPECT_EQ(network[0].text, "秋田０");
}

}  // namespace
}  // namespace tavrel
