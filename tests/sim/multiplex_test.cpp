#include "sim/multiplex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include "databroadcast/carousel_fixture.h"
#include "platform/text_encoding.h"
#include "sim/pes_writer.h"
#include "support/event_log.h"
#include "ts/broadcast_time.h"
#include "ts/event_record.h"
#include "ts/processor_callback.h"
#include "ts/program_entries.h"
#include "ts/satellite_delivery.h"
#include "ts/ts_processor.h"

namespace tavrel::sim {
namespace {

std::vector<uint8_t> Generate(const MultiplexConfig& config,
                              MultiplexManifest* manifest = nullptr) {
    MultiplexGenerator generator(config);
    std::vector<uint8_t> bytes;
    generator.Run([&](std::span<const uint8_t> chunk) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    });
    if (manifest != nullptr) {
        *manifest = generator.Manifest();
    }
    return bytes;
}

using testing::EventLog;

// A processor with every table switch on, its table events and its carousel notifications.
struct Analysis {
    EventLog events;
    testing::NoticeLog carousel;
    StreamStats stats;
    // Last, so that it goes first: its store still notifies while it is destroyed.
    std::unique_ptr<CTsProcessor> processor = std::make_unique<CTsProcessor>();

    Analysis() {
        processor->decode_tables = 1;
        processor->data_broadcast = 1;
        processor->program_guide = 1;
        events.Attach(*processor);
        processor->SetCarouselCallback(&testing::NoticeLog::Hook, &carousel);
    }

    void Feed(std::span<const uint8_t> bytes, size_t block = 0x8000) {
        for (size_t pos = 0; pos < bytes.size(); pos += block) {
            processor->Input(bytes.subspan(pos, std::min(block, bytes.size() - pos)), stats);
        }
    }
    std::vector<EventLog::Entry> OfType(uint32_t type) const { return events.OfType(type); }
};

MultiplexConfig Short(double seconds = 3) {
    MultiplexConfig c;
    c.seconds = seconds;
    return c;
}

// --- the bytes ---

TEST(MultiplexBytes, SameSeedGivesTheSameBytesAndAnotherSeedOthers) {
    MultiplexConfig c = Short(2);
    c.seed = 7;
    c.sync_errors = 2;
    c.continuity_errors = 2;
    c.scrambled_packets = 2;
    c.change_seconds = 1.0;
    const auto first = Generate(c);
    EXPECT_EQ(first, Generate(c));
    c.seed = 8;
    const auto other = Generate(c);
    EXPECT_EQ(other.size(), first.size());
    EXPECT_NE(other, first);
}

TEST(MultiplexBytes, EachPacketSizeGivesWholeUnitsOnTheGrid) {
    for (const uint32_t size : {188u, 192u, 204u}) {
        MultiplexConfig c = Short(1);
        c.packet_size = size;
        MultiplexManifest m;
        const auto bytes = Generate(c, &m);
        ASSERT_EQ(bytes.size(), m.total_units * size) << size;
        EXPECT_EQ(m.bytes_written, bytes.size());
        const size_t sync = size == 192 ? 4 : 0;
        for (size_t pos = 0; pos < bytes.size(); pos += size) {
            ASSERT_EQ(bytes[pos + sync], 0x47) << "unit " << pos / size << " of " << size;
        }
        if (size == 192) {
            // The 30-bit arrival stamps in front of the packets count 27 MHz ticks.
            auto stamp = [&](size_t unit) {
                const uint8_t* p = &bytes[unit * 192];
                return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
            };
            EXPECT_NEAR(static_cast<double>(stamp(1000) - stamp(0)),
                        1000 * 1504 * 27e6 / static_cast<double>(c.bitrate), 512);
        }
        Analysis a;
        a.Feed(bytes);
        EXPECT_EQ(a.stats.packet_length.load(), size);
        EXPECT_EQ(a.stats.sync_errors.load(), 0u);
        EXPECT_EQ(a.stats.discontinuities.load(), 0u);
        EXPECT_EQ(a.stats.scrambled.load(), 0u);
    }
}

TEST(MultiplexBytes, NextHandsOutWholeUnitsUpToTheChunkSize) {
    MultiplexConfig c = Short(1);
    c.packet_size = 192;
    c.chunk_bytes = 10000;
    MultiplexGenerator g(c);
    std::vector<uint8_t> chunk, all;
    while (g.Next(chunk)) {
        EXPECT_LE(chunk.size(), 10000u);
        EXPECT_EQ(chunk.size() % 192, 0u);
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    EXPECT_TRUE(chunk.empty());
    EXPECT_TRUE(g.Done());
    EXPECT_EQ(all, Generate(c));
}

TEST(MultiplexBytes, ReachesTheBitrateWithPcrsOnTheSameClock) {
    for (const uint64_t bitrate : {4'000'000ull, 16'000'000ull, 60'000'000ull}) {
        MultiplexConfig c = Short(2);
        c.bitrate = bitrate;
        MultiplexManifest m;
        const auto bytes = Generate(c, &m);
        const double units = static_cast<double>(bytes.size() / 188);
        EXPECT_NEAR(units * 1504 / c.seconds, static_cast<double>(bitrate), bitrate * 0.001);

        // Every PCR tells the time of its own packet: 27 MHz ticks per 1504 bits, and none
        // is more than 100 ms after the last of its PID.
        std::map<uint16_t, std::pair<size_t, uint64_t>> first;
        std::map<uint16_t, uint64_t> last;
        for (size_t unit = 0; unit < bytes.size() / 188; ++unit) {
            const uint8_t* p = &bytes[unit * 188];
            const uint16_t pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
            if ((p[3] & 0x20) == 0 || p[4] < 7 || (p[5] & 0x10) == 0) {
                continue;
            }
            const uint64_t pcr = ReadPcr(std::span<const uint8_t, 6>(p + 6, 6));
            auto [it, inserted] = first.try_emplace(pid, unit, pcr);
            if (!inserted) {
                const double expected = static_cast<double>(unit - it->second.first) * 1504 * 27e6 /
                                        static_cast<double>(bitrate);
                ASSERT_NEAR(static_cast<double>(pcr - it->second.second), expected, 1.0);
                EXPECT_LE(pcr - last[pid], 27'000'000u / 10) << pid;
            }
            last[pid] = pcr;
        }
        EXPECT_EQ(first.size(), 3u) << "a PCR PID per service";
    }
}

TEST(MultiplexBytes, RefusesWhatItCannotHonour) {
    MultiplexConfig c = Short(1);
    c.packet_size = 190;
    EXPECT_THROW(MultiplexGenerator{c}, std::invalid_argument);
    c = Short(1);
    c.bitrate = 100'000;
    EXPECT_THROW(MultiplexGenerator{c}, std::invalid_argument);
    c = Short(1);
    c.change_seconds = 1.5;
    EXPECT_THROW(MultiplexGenerator{c}, std::invalid_argument);
    c = Short(1);
    c.continuity_errors = 1000;  // a second has fewer than a hundred video frames
    EXPECT_THROW(MultiplexGenerator{c}, std::invalid_argument);
    c = Short(1);
    c.sync_errors = 100000;
    EXPECT_THROW(MultiplexGenerator{c}, std::invalid_argument);
}

// --- faults ---

TEST(MultiplexFaults, AnAnalysisCountsExactlyTheInjectedFaultsAtEveryPacketSize) {
    for (const uint32_t size : {188u, 192u, 204u}) {
        MultiplexConfig c = Short(4);
        c.packet_size = size;
        c.seed = 11 + size;
        c.sync_errors = 6;
        c.continuity_errors = 9;
        c.scrambled_packets = 13;
        c.change_seconds = 2.0;
        MultiplexManifest m;
        const auto bytes = Generate(c, &m);
        ASSERT_EQ(m.faults.sync_error_units.size(), 6u);
        ASSERT_EQ(m.faults.continuity_error_units.size(), 9u);
        ASSERT_EQ(m.faults.scrambled_units.size(), 13u);
        // The damaged 204-byte units are cut short by their parity.
        EXPECT_EQ(bytes.size(), m.total_units * size - (size == 204 ? 6 * 16 : 0));

        Analysis a;
        a.Feed(bytes);
        EXPECT_EQ(a.stats.sync_errors.load(), 6u) << size;
        EXPECT_EQ(a.stats.discontinuities.load(), 9u) << size;
        EXPECT_EQ(a.stats.scrambled.load(), 13u) << size;
        // Nothing but the damaged null packets is lost.
        EXPECT_EQ(a.processor->UnitsSeen(), m.total_units - 6 - (size == 192 ? 1 : 0)) << size;
    }
}

TEST(MultiplexFaults, FaultsSitOnTheUnitsTheManifestNames) {
    MultiplexConfig c = Short(2);
    c.sync_errors = 3;
    c.continuity_errors = 3;
    c.scrambled_packets = 3;
    MultiplexManifest m;
    const auto bytes = Generate(c, &m);
    auto unit = [&](uint64_t i) { return &bytes[i * 188]; };
    auto pid = [](const uint8_t* p) { return (p[1] & 0x1F) << 8 | p[2]; };
    const std::set<int> video = {0x0111, 0x0211, 0x0181};
    for (const uint64_t i : m.faults.sync_error_units) {
        EXPECT_NE(unit(i)[0], 0x47);
        EXPECT_EQ(pid(unit(i)), 0x1FFF);
    }
    for (const uint64_t i : m.faults.continuity_error_units) {
        EXPECT_TRUE(video.count(pid(unit(i))));
        EXPECT_EQ(unit(i)[1] & 0x40, 0x40) << "a unit start";
    }
    for (const uint64_t i : m.faults.scrambled_units) {
        EXPECT_TRUE(video.count(pid(unit(i))));
        EXPECT_EQ(unit(i)[1] & 0x40, 0) << "a continuation";
        EXPECT_EQ(unit(i)[3] & 0xC0, 0x80);
    }
    std::vector<uint64_t> all = m.faults.sync_error_units;
    all.insert(all.end(), m.faults.continuity_error_units.begin(),
               m.faults.continuity_error_units.end());
    all.insert(all.end(), m.faults.scrambled_units.begin(), m.faults.scrambled_units.end());
    std::sort(all.begin(), all.end());
    for (size_t i = 1; i < all.size(); ++i) {
        EXPECT_GE(all[i] - all[i - 1], 4u) << "faults keep apart";
    }
    // Seeded places, not fixed ones.
    c.seed = 2;
    MultiplexManifest other;
    Generate(c, &other);
    EXPECT_NE(other.faults.scrambled_units, m.faults.scrambled_units);
}

// --- tables ---

TEST(MultiplexTables, PatPmtSdtAndNitDescribeThePlan) {
    MultiplexManifest m;
    Analysis a;
    a.Feed(Generate(Short(1), &m));
    const PlannedTransportStream& ts = m.transport_streams[0];
    const auto pats = a.OfType(kEventPrograms);
    ASSERT_EQ(pats.size(), 1u) << "the PAT repeats with one version";
    EXPECT_EQ(pats[0].a, ts.transport_stream_id);
    ASSERT_EQ(pats[0].programs.size(), ts.services.size());
    for (size_t i = 0; i < ts.services.size(); ++i) {
        EXPECT_EQ(pats[0].programs[i].program_number, ts.services[i].service_id);
        EXPECT_EQ(pats[0].programs[i].pmt_pid, ts.services[i].pmt_pid);
    }
    const auto pmts = a.OfType(kEventStreams);
    ASSERT_EQ(pmts.size(), ts.services.size());
    for (const PlannedService& s : ts.services) {
        const auto it = std::find_if(pmts.begin(), pmts.end(),
                                     [&](const auto& r) { return r.a == s.service_id; });
        ASSERT_NE(it, pmts.end());
        ASSERT_EQ(it->streams.size(), s.streams.size());
        for (size_t i = 0; i < s.streams.size(); ++i) {
            const StreamEntry& e = it->streams[i];
            EXPECT_EQ(e.stream_type, s.streams[i].stream_type);
            EXPECT_EQ(e.elementary_pid, s.streams[i].pid);
            EXPECT_EQ(a.processor->Pid(e.elementary_pid).component_tag, s.streams[i].component_tag);
        }
    }
    // Two television services with a data carousel each, one one-segment service.
    EXPECT_EQ(a.processor->CarouselPids().size(), 3u);
    EXPECT_EQ(ts.services[2].streams[0].stream_type, 0x1B);

    // Both SDTs, actual and other, name each service once.
    std::map<uint32_t, std::string> names;
    for (const auto& r : a.OfType(kEventServiceName)) {
        names[r.a] = r.text;
    }
    size_t count = 0;
    for (const PlannedTransportStream& planned : m.transport_streams) {
        for (const PlannedService& s : planned.services) {
            EXPECT_EQ(names[s.service_id], s.name) << s.service_id;
            ++count;
        }
    }
    EXPECT_EQ(names.size(), count);

    const auto deliveries = a.OfType(kEventTransportStream);
    ASSERT_EQ(deliveries.size(), m.network.transport_streams.size());
    for (size_t i = 0; i < deliveries.size(); ++i) {
        const PlannedDelivery& d = m.network.transport_streams[i];
        const SatelliteDelivery& s = deliveries[i].delivery;
        EXPECT_EQ(deliveries[i].a, m.network.network_id);
        EXPECT_EQ(deliveries[i].length, d.transport_stream_id);
        EXPECT_DOUBLE_EQ(s.frequency * 100, BcdToNumber(d.frequency_bcd));
        EXPECT_DOUBLE_EQ(s.orbital_position * 10, BcdToNumber(d.orbital_position_bcd));
        EXPECT_DOUBLE_EQ(s.symbol_rate * 10000, BcdToNumber(d.symbol_rate_bcd));
        EXPECT_EQ(s.west_east_flag, d.east ? 1u : 0u);
        EXPECT_EQ(s.polarisation, d.polarisation);
        EXPECT_EQ(s.modulation, d.modulation);
        EXPECT_EQ(s.fec_inner, d.fec_inner);
    }
    const auto networks = a.OfType(kEventNetwork);
    ASSERT_EQ(networks.size(), 1u);
    EXPECT_EQ(networks[0].a, m.network.network_id);
    EXPECT_EQ(networks[0].text, m.network.name);
}

TEST(MultiplexTables, ChangeOfTransportStreamRaisesEvent2AtItsUnit) {
    MultiplexConfig c = Short(3);
    c.change_seconds = 1.25;
    MultiplexManifest m;
    const auto bytes = Generate(c, &m);
    ASSERT_TRUE(m.change_unit && m.change_byte_offset);
    EXPECT_EQ(*m.change_byte_offset, *m.change_unit * 188);
    EXPECT_NEAR(static_cast<double>(*m.change_unit) * 1504 / 16e6, 1.25, 0.001);
    const std::span<const uint8_t> all(bytes);
    const uint16_t a_id = m.transport_streams[0].transport_stream_id;
    const uint16_t b_id = m.transport_streams[1].transport_stream_id;

    Analysis a;
    a.Feed(all.first(*m.change_byte_offset));
    auto changes = a.OfType(kEventStream);
    ASSERT_EQ(changes.size(), 1u) << "only the first PAT so far";
    EXPECT_EQ(changes[0].a, a_id);
    a.Feed(all.subspan(*m.change_byte_offset, 188));
    changes = a.OfType(kEventStream);
    ASSERT_EQ(changes.size(), 2u) << "the unit at the change carries the new PAT";
    EXPECT_EQ(changes[1].a, b_id);
    a.Feed(all.subspan(*m.change_byte_offset + 188));
    EXPECT_EQ(a.OfType(kEventStream).size(), 2u);
    EXPECT_EQ(a.processor->TransportStreamId(), b_id);
    const auto pats = a.OfType(kEventPrograms);
    ASSERT_EQ(pats.size(), 2u);
    EXPECT_EQ(pats[1].a, b_id);
    char name[40] = {};
    ASSERT_EQ(
        a.processor->ServiceName(m.transport_streams[1].services[0].service_id, name, sizeof name),
        1);
    EXPECT_EQ(ShiftJisToUtf8(name), m.transport_streams[1].services[0].name);
}

TEST(MultiplexTables, TotFollowsTheStreamTimeEveryFiveSeconds) {
    MultiplexConfig c = Short(16);
    c.bitrate = 4'000'000;
    c.start = MultiplexConfig::StartAt(2024, 12, 31, 23, 59, 50);
    MultiplexManifest m;
    Analysis a;
    a.Feed(Generate(c, &m));
    const auto times = a.OfType(kEventTime);
    ASSERT_EQ(times.size(), m.tot_times.size());
    ASSERT_EQ(times.size(), 4u);
    for (size_t i = 0; i < times.size(); ++i) {
        const BroadcastTime& t = times[i].time;
        EXPECT_EQ(t.Moment(), m.tot_times[i]);
        MjdTime expected = c.start;
        AddSeconds(expected, static_cast<int64_t>(5 * i));
        EXPECT_EQ(t.Moment(), expected) << "TOT " << i << " crosses midnight into 2025";
    }
    EXPECT_EQ(a.processor->BroadcastNow().Moment(), m.tot_times.back());
}

TEST(MultiplexTables, EitGivesEveryPlannedProgrammeWithItsMarksAndComponents) {
    MultiplexManifest m;
    Analysis a;
    a.Feed(Generate(Short(6), &m));
    for (const PlannedService& s : m.transport_streams[0].services) {
        std::vector<EventRecord> stored;
        ASSERT_TRUE(a.processor->EventStore().SortedEvents(s.service_id, stored));
        ASSERT_EQ(stored.size(), s.events.size()) << s.service_id;
        for (size_t i = 0; i < stored.size(); ++i) {
            const PlannedEvent& e = s.events[i];
            const EventRecord& r = stored[i];
            EXPECT_EQ(r.event_id, e.event_id);
            EXPECT_EQ(r.start, e.start);
            EXPECT_EQ(r.duration, e.duration);
            EXPECT_EQ(r.EndDefined(), e.duration != kUndefinedDuration);
            EXPECT_EQ(ShiftJisBufferToUtf8(r.name), e.name);
            EXPECT_EQ(ShiftJisBufferToUtf8(r.text), e.text);
            EXPECT_EQ(r.video_component_type, e.video_component_type);
            EXPECT_EQ(r.audio_component_type, e.audio_component_type);
        }
        // The day ahead, in programmes of 30 to 60 minutes.
        const auto last = s.events.back();
        EXPECT_GE(last.start.TotalSeconds() + last.on_air_seconds,
                  m.start.TotalSeconds() + 24 * 3600);
        for (size_t i = 1; i < s.events.size(); ++i) {
            EXPECT_GE(s.events[i].on_air_seconds, 1800u);
            EXPECT_LE(s.events[i].on_air_seconds, 3600u);
        }
    }
    const auto& one_seg = m.transport_streams[0].services[2].events;
    EXPECT_EQ(std::count_if(one_seg.begin(), one_seg.end(),
                            [](const PlannedEvent& e) { return e.duration == kUndefinedDuration; }),
              1);
    size_t marked = 0;
    for (const PlannedService& s : m.transport_streams[0].services) {
        for (const PlannedEvent& e : s.events) {
            marked += e.name.find('[') != std::string::npos;
        }
    }
    EXPECT_GT(marked, 10u) << "programme marks are common";
}

TEST(MultiplexTables, PresentFollowingChangesVersionWhenTheProgrammeEnds) {
    MultiplexManifest m;
    Analysis a;
    a.Feed(Generate(Short(10), &m));
    const PlannedService& s = m.transport_streams[0].services[0];
    // The first service's programme ends halfway through the stream.
    EXPECT_EQ(s.events[1].start.TotalSeconds(), m.start.TotalSeconds() + 5);
    std::vector<std::pair<uint16_t, uint8_t>> seen;  // event_id, version of events 64
    for (const auto& r : a.OfType(kEventPresentFollowing)) {
        if (r.a == s.service_id) {
            const EventRecord& e = r.record;
            seen.emplace_back(e.event_id, e.version);
            EXPECT_EQ(r.length, 1u) << "actual stream";
        }
    }
    ASSERT_EQ(seen.size(), 4u) << "present and following, twice";
    EXPECT_EQ(seen[0].first, s.events[0].event_id);
    EXPECT_EQ(seen[1].first, s.events[1].event_id);
    EXPECT_EQ(seen[2].first, s.events[1].event_id);
    EXPECT_EQ(seen[3].first, s.events[2].event_id);
    EXPECT_NE(seen[2].second, seen[0].second);
    const auto now =
        a.processor->EventStore().EventAt(s.service_id, a.processor->BroadcastNow().Moment());
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(now->event_id, s.events[1].event_id);
    EXPECT_EQ(now->kind, kEventKindPresentFollowingActual);
}

// --- data carousel ---

TEST(MultiplexCarousel, EveryModuleCompletesWithThePlannedResources) {
    MultiplexManifest m;
    Analysis a;
    a.Feed(Generate(Short(3), &m));
    std::map<uint64_t, std::map<std::string, std::pair<std::string, std::vector<uint8_t>>>> found;
    a.processor->CarouselStore().VisitResources([&](uint64_t key, const ResourceRecord& r) {
        found[key][std::string(Text(r.location))] = {
            std::string(Text(r.content_type)),
            std::vector<uint8_t>(r.data.get(), r.data.get() + r.length)};
    });
    size_t carousels = 0, expected = 0;
    for (const PlannedService& s : m.transport_streams[0].services) {
        if (!s.carousel) {
            continue;
        }
        ++carousels;
        const PlannedCarousel& c = *s.carousel;
        const auto status = a.processor->CarouselStore().Carousel(c.pid);
        ASSERT_TRUE(status.has_value());
        // (The carousel's own flag falls back with every repeated DII; its modules stay.)
        for (const ModuleStatus& mod : status->modules) {
            EXPECT_TRUE(mod.complete) << mod.module_id;
        }
        EXPECT_EQ(status->download_id, c.download_id);
        ASSERT_EQ(status->modules.size(), 3u);
        EXPECT_TRUE(c.modules[0].content_type.empty()) << "multipart, told by its first line";
        EXPECT_EQ(status->modules[1].content_type, "image/X-arib-png");
        EXPECT_TRUE(status->modules[2].compressed);
        EXPECT_EQ(status->modules[2].original_size, c.modules[2].original_size);
        EXPECT_GT(status->modules[1].block_count, 1u) << "the photo needs several blocks";
        for (const PlannedModule& mod : c.modules) {
            const auto& got = found[ResourceKey(s.service_id, c.component_tag, mod.module_id)];
            ASSERT_EQ(got.size(), mod.resources.size()) << mod.module_id;
            for (const PlannedResource& r : mod.resources) {
                const auto it = got.find(r.location);
                ASSERT_NE(it, got.end()) << r.location;
                EXPECT_EQ(it->second.first, r.content_type);
                EXPECT_EQ(it->second.second, r.bytes) << r.location;
                ++expected;
            }
        }
    }
    EXPECT_EQ(carousels, 2u);
    EXPECT_EQ(expected, 2u * 5u);
    EXPECT_EQ(a.carousel.OfCode(kCarouselCompleted).size(), 2u);
}

TEST(MultiplexCarousel, PngResourcesAreWholePngFiles) {
    MultiplexManifest m;
    Generate(Short(1), &m);
    const auto& modules = m.transport_streams[0].services[0].carousel->modules;
    for (const std::vector<uint8_t>* png :
         {&modules[0].resources[1].bytes, &modules[0].resources[2].bytes,
          &modules[1].resources[0].bytes}) {
        ASSERT_GT(png->size(), 8u + 25 + 12 + 12);
        EXPECT_EQ(std::vector<uint8_t>(png->begin(), png->begin() + 8),
                  (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
        EXPECT_EQ(std::string(png->begin() + 12, png->begin() + 16), "IHDR");
        EXPECT_EQ(std::string(png->end() - 8, png->end() - 4), "IEND");
    }
}

}  // namespace
}  // namespace tavrel::sim
