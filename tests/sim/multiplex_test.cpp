// The generator on its own terms: determinism, timing, fault placement and the plan its
// tables announce. That an analysis finds exactly what was planned is checked end to end by the
// command-line tests.
#include "sim/multiplex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>

#include "sim/pes_writer.h"
#include "support/event_log.h"

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

MultiplexConfig Config(double seconds, uint64_t bitrate = 16'000'000) {
    MultiplexConfig c;
    c.seconds = seconds;
    c.bitrate = bitrate;
    return c;
}

// Each packet size at a bitrate of its own: the same seed gives the same bytes, handed out in
// whole units on the grid at the bitrate, and every PCR tells the time of its own packet (27 MHz
// ticks per 1504 bits), none more than 100 ms after the last of its PID.
TEST(Multiplex, SameSeedSameBytesOnTheGridAtTheBitrateWithPcrsOnTheSameClock) {
    for (const auto& [size, bitrate] :
         {std::pair<uint32_t, uint64_t>{188, 4'000'000}, {192, 16'000'000}, {204, 32'000'000}}) {
        SCOPED_TRACE(size);
        MultiplexConfig c = Config(1, bitrate);
        c.packet_size = size;
        c.seed = 7;
        c.scrambled_packets = 2;
        c.chunk_bytes = 10000;
        MultiplexGenerator g(c);
        std::vector<uint8_t> chunk, bytes;
        while (g.Next(chunk)) {
            EXPECT_LE(chunk.size(), 10000u);
            EXPECT_EQ(chunk.size() % size, 0u);
            bytes.insert(bytes.end(), chunk.begin(), chunk.end());
        }
        EXPECT_TRUE(g.Done());
        EXPECT_EQ(bytes, Generate(c));
        const size_t units = bytes.size() / size, sync = size == 192 ? 4 : 0;
        ASSERT_EQ(units * size, bytes.size());
        EXPECT_EQ(units, g.Manifest().total_units);
        EXPECT_NEAR(static_cast<double>(units) * 1504, static_cast<double>(bitrate),
                    bitrate * 0.001);
        std::map<uint16_t, std::pair<size_t, uint64_t>> first;
        std::map<uint16_t, uint64_t> last;
        for (size_t unit = 0; unit < units; ++unit) {
            const uint8_t* p = &bytes[unit * size + sync];
            ASSERT_EQ(p[0], 0x47) << "unit " << unit;
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
        if (size == 192) {
            // The 30-bit arrival stamps in front of the packets count 27 MHz ticks.
            auto stamp = [&](size_t unit) {
                const uint8_t* p = &bytes[unit * 192];
                return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
            };
            EXPECT_NEAR(static_cast<double>(stamp(1000) - stamp(0)),
                        1000 * 1504 * 27e6 / static_cast<double>(c.bitrate), 512);
        }
        c.seed = 8;
        const auto other = Generate(c);
        EXPECT_EQ(other.size(), bytes.size());
        EXPECT_NE(other, bytes);
    }
}

TEST(Multiplex, RefusesWhatItCannotHonour) {
    const std::function<void(MultiplexConfig&)> kBad[] = {
        [](MultiplexConfig& c) { c.packet_size = 190; },
        [](MultiplexConfig& c) { c.bitrate = 100'000; },
        [](MultiplexConfig& c) { c.change_seconds = 1.5; },
        [](MultiplexConfig& c) { c.continuity_errors = 1000; },  // fewer video frames a second
        [](MultiplexConfig& c) { c.sync_errors = 100000; },
    };
    for (const auto& bad : kBad) {
        MultiplexConfig c = Config(1);
        bad(c);
        EXPECT_THROW(MultiplexGenerator{c}, std::invalid_argument);
    }
}

TEST(Multiplex, FaultsSitApartOnTheUnitsTheManifestNames) {
    MultiplexConfig c = Config(2);
    c.sync_errors = c.continuity_errors = c.scrambled_packets = 3;
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
    std::set<uint64_t> all(m.faults.sync_error_units.begin(), m.faults.sync_error_units.end());
    all.insert(m.faults.continuity_error_units.begin(), m.faults.continuity_error_units.end());
    all.insert(m.faults.scrambled_units.begin(), m.faults.scrambled_units.end());
    ASSERT_EQ(all.size(), 9u);
    for (auto it = std::next(all.begin()); it != all.end(); ++it) {
        EXPECT_GE(*it - *std::prev(it), 4u) << "faults keep apart";
    }
    c.seed = 2;  // seeded places, not fixed ones
    MultiplexManifest other;
    Generate(c, &other);
    EXPECT_NE(other.faults.scrambled_units, m.faults.scrambled_units);
}

TEST(Multiplex, ChangeOfTransportStreamComesAtItsUnit) {
    MultiplexConfig c = Config(3);
    c.change_seconds = 1.25;
    MultiplexManifest m;
    const auto bytes = Generate(c, &m);
    ASSERT_TRUE(m.change_unit && m.change_byte_offset);
    EXPECT_EQ(*m.change_byte_offset, *m.change_unit * 188);
    EXPECT_NEAR(static_cast<double>(*m.change_unit) * 1504 / 16e6, 1.25, 0.001);
    testing::ProcessorRun a;
    const std::span<const uint8_t> all(bytes);
    a.Feed(all.first(*m.change_byte_offset + 188));
    // The unit at the change carries the new PAT.
    const auto changes = a.log.OfType(kEventStream);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[1].a, m.transport_streams[1].transport_stream_id);
}

TEST(Multiplex, TotFollowsTheStreamTimeEveryFiveSeconds) {
    MultiplexConfig c = Config(11, 4'000'000);
    c.start = MultiplexConfig::StartAt(2024, 12, 31, 23, 59, 55);
    MultiplexManifest m;
    testing::ProcessorRun a;
    a.Feed(Generate(c, &m));
    const auto times = a.log.OfType(kEventTime);
    ASSERT_EQ(times.size(), 3u);
    ASSERT_EQ(m.tot_times.size(), 3u);
    for (size_t i = 0; i < times.size(); ++i) {
        MjdTime expected = c.start;
        AddSeconds(expected, static_cast<int64_t>(5 * i));
        EXPECT_EQ(times[i].time.Moment(), expected) << "TOT " << i << " crosses into 2025";
        EXPECT_EQ(m.tot_times[i], expected);
    }
}

TEST(Multiplex, EitCarriesEveryPlannedProgrammeAndPresentFollowingMovesOn) {
    MultiplexManifest m;
    testing::ProcessorRun a;
    a.Feed(Generate(Config(10), &m));
    EXPECT_EQ(a.stats.discontinuities, 0u) << "every PID's counter runs on, the tables' too";
    size_t marked = 0;
    for (const PlannedService& s : m.transport_streams[0].services) {
        std::vector<EventRecord> stored;
        ASSERT_TRUE(a.processor.EventStore().SortedEvents(s.service_id, stored));
        ASSERT_EQ(stored.size(), s.events.size()) << s.service_id;
        for (size_t i = 0; i < stored.size(); ++i) {
            const PlannedEvent& e = s.events[i];
            const EventRecord& r = stored[i];
            EXPECT_EQ(
                std::tuple(r.event_id, r.start, r.duration, r.video_component_type,
                           r.audio_component_type, testing::Utf8(r.name), testing::Utf8(r.text)),
                std::tuple(e.event_id, e.start, e.duration, e.video_component_type,
                           e.audio_component_type, e.name, e.text));
            marked += e.name.find('[') != std::string::npos;
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
    EXPECT_GT(marked, 10u) << "programme marks are common";
    const auto& one_seg = m.transport_streams[0].services[2].events;
    EXPECT_EQ(std::count_if(one_seg.begin(), one_seg.end(),
                            [](const PlannedEvent& e) { return e.duration == kUndefinedDuration; }),
              1);

    // The first service's programme ends halfway: present/following are sent anew.
    const PlannedService& s = m.transport_streams[0].services[0];
    EXPECT_EQ(s.events[1].start.TotalSeconds(), m.start.TotalSeconds() + 5);
    std::vector<std::pair<uint16_t, uint8_t>> seen;  // event_id, version
    for (const auto& r : a.log.OfType(kEventPresentFollowing)) {
        if (r.a == s.service_id) {
            seen.emplace_back(r.record.event_id, r.record.version);
        }
    }
    ASSERT_EQ(seen.size(), 4u) << "present and following, twice";
    EXPECT_EQ(std::tuple(seen[0].first, seen[1].first, seen[2].first, seen[3].first),
              std::tuple(s.events[0].event_id, s.events[1].event_id, s.events[1].event_id,
                         s.events[2].event_id));
    EXPECT_NE(seen[2].second, seen[0].second);
}

}  // namespace
}  // namespace tavrel::sim
