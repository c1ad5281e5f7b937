#include "ts/ts_processor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "sim/packetizer.h"
#include "sim/pat_writer.h"
#include "support/event_log.h"
#include "support/stream_builder.h"

namespace tavrel {
namespace {

using Bytes = std::vector<uint8_t>;
using Packets = std::vector<Bytes>;
using Programs = std::vector<ProgramEntry>;

Bytes Packet(uint16_t pid, uint8_t cc, bool start = false, uint8_t scrambling = 0) {
    const uint8_t body[4] = {static_cast<uint8_t>(pid), cc, 0xAB, 0xCD};
    return sim::MakePacket({.pid = pid,
                            .continuity_counter = cc,
                            .payload_unit_start = start,
                            .scrambling = scrambling},
                           body, 0x55);
}

// n packets of one PID with correct counters.
Packets PidRun(uint16_t pid, int n) {
    Packets packets;
    for (int i = 0; i < n; ++i) {
        packets.push_back(Packet(pid, static_cast<uint8_t>(i & 15), i % 4 == 0));
    }
    return packets;
}

Bytes Stream(const Packets& packets, uint32_t unit = 188) {
    Bytes s;
    sim::AppendUnits(s, packets, unit);
    return s;
}

// The packet engine alone: tables off, every delivered unit recorded.
struct Engine : testing::ProcessorRun {
    Engine() : ProcessorRun(true) { processor.decode_tables = 0; }
    void Feed(std::span<const uint8_t> bytes) { processor.Input(bytes, stats); }
};

TEST(PacketEngine, FindsTheGridOfEachUnitLengthBehindJunkAndDeliversWholeUnits) {
    for (const uint32_t unit : {188u, 192u, 204u}) {
        Engine e;
        // The last offset the search tries holds the first sync byte (after the 4-byte prefix
        // of a 192-byte unit); a lone sync byte in the junk is no grid.
        Bytes bytes(unit == 192 ? 199 : 203, 0x00);
        bytes[20] = 0x47;
        const auto packets = PidRun(0x200, 6);
        const auto s = Stream(packets, unit);
        bytes.insert(bytes.end(), s.begin(), s.end());
        e.Feed(bytes);
        EXPECT_EQ(e.stats.packet_length, unit);
        EXPECT_EQ(e.stats.sync_errors, 0u);
        const auto got = e.log.Packets(0);
        // A 192-byte unit is cut from its sync byte on, so the last one waits for the next.
        ASSERT_EQ(got.size(), unit == 192 ? 5u : 6u);
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].size(), unit);
            EXPECT_TRUE(std::equal(packets[i].begin(), packets[i].end(), got[i].begin()));
        }
    }
}

TEST(PacketEngine, BrokenSyncByteCountsOnceAndNeedsAFullSearchWindow) {
    Engine e;
    const auto packets = PidRun(0x100, 12);
    auto s = Stream(packets);
    s[5 * 188] = 0x00;  // break the sixth unit
    // Up to the broken unit plus less than a search window behind it.
    const size_t cut = 5 * 188 + 611;
    e.Feed(std::span(s).first(cut));
    EXPECT_EQ(e.stats.sync_errors, 1u);
    EXPECT_EQ(e.stats.packet_length, 0u);
    EXPECT_EQ(e.log.Packets(0).size(), 5u);
    EXPECT_EQ(e.processor.PendingBytes(), 611u);
    // One more byte completes the window: the grid is found again at the seventh unit.
    e.Feed(std::span(s).subspan(cut));
    EXPECT_EQ(e.stats.sync_errors, 1u);
    EXPECT_EQ(e.stats.packet_length, 188u);
    const auto got = e.log.Packets(0);
    ASSERT_EQ(got.size(), 11u);
    EXPECT_EQ(got[5], packets[6]);

    // When the search fails in the first 204 bytes, the whole block goes.
    Engine junk;
    Bytes bytes(700, 0x00);
    bytes.insert(bytes.end(), s.begin(), s.end());
    junk.Feed(bytes);
    EXPECT_TRUE(junk.log.Packets(0).empty());
    EXPECT_EQ(junk.processor.PendingBytes(), 0u);
}

TEST(PacketEngine, CountersScramblingAndNullPackets) {
    // Counters are compared only at unit starts but remembered always; null packets never count.
    Engine e;
    e.Feed(Stream({
        Packet(0x100, 0, true),
        Packet(0x100, 1),
        Packet(0x100, 7),         // jump without a unit start: not counted
        Packet(0x100, 8, true),   // compared with 7: fine
        Packet(0x100, 12, true),  // jump at a unit start: counted
        Packet(0x101, 9, true),   // first packet of another PID: nothing to compare
        Packet(0x100, 12, true),  // a repeat at a unit start is a discontinuity too
        Packet(0x1FFF, 3, true),
        Packet(0x1FFF, 9, true),
    }));
    e.Feed(Stream(
        {Packet(0x100, 13, true), Packet(0x100, 14), Packet(0x100, 15), Packet(0x100, 0, true)}));
    EXPECT_EQ(e.stats.discontinuities, 2u);
    // Null packets are dropped unless kept; scrambling counts even on them.
    for (const uint32_t keep : {0u, 1u}) {
        Engine n;
        n.processor.keep_null_packets = keep;
        n.Feed(Stream({Packet(0x100, 0, false, 2), Packet(0x100, 1, false, 3),
                       Packet(0x1FFF, 0, false, 1), Packet(0x100, 2), Packet(0x1FFF, 0)}));
        EXPECT_EQ(n.log.Packets(0).size(), keep ? 5u : 3u);
        EXPECT_EQ(n.stats.scrambled, 3u);
    }
}

TEST(PacketEngine, SameResultsWhateverTheBlockSizes) {
    // The carry-over between calls must give exactly the units and counts of one big block.
    Packets packets;
    for (int i = 0; i < 400; ++i) {
        packets.push_back(
            Packet(static_cast<uint16_t>(0x100 + i % 3), static_cast<uint8_t>(i / 3), i % 5 == 0));
        if (i % 37 == 0) {
            packets.push_back(Packet(0x1FFF, 0));
        }
    }
    auto s = Stream(packets);
    s.insert(s.begin(), 77, 0x11);
    s[100 * 188 + 77] = 0x48;  // a sync error in the middle
    s[101 * 188 + 77 + 5] = 0x47;

    Engine whole;
    whole.Feed(s);
    std::mt19937 rng(7);
    for (int trial = 0; trial < 8; ++trial) {
        Engine parts;
        for (size_t pos = 0, n = 0; pos < s.size(); pos += n) {
            n = std::min<size_t>(s.size() - pos, 1 + rng() % 900);
            parts.Feed(std::span(s).subspan(pos, n));
        }
        EXPECT_EQ(parts.log.Packets(0), whole.log.Packets(0)) << trial;
        EXPECT_EQ(parts.stats.sync_errors, whole.stats.sync_errors);
        EXPECT_EQ(parts.stats.discontinuities, whole.stats.discontinuities);
    }
    EXPECT_EQ(whole.stats.sync_errors, 1u);
    // The end of the stream is one event of its own.
    whole.processor.Finish(whole.stats);
    EXPECT_EQ(whole.log.Lines(), std::vector<std::string>{"2 0000 1"});
}

TEST(PacketEngine, InputBeyondTheBufferLimitCountsOneOverflow) {
    Engine e;
    Bytes big;
    big.reserve(CTsProcessor::kInputLimit + 188 * 8);
    for (uint32_t i = 0; big.size() + 188 <= CTsProcessor::kInputLimit + 188 * 4; ++i) {
        auto p = Packet(0x100, static_cast<uint8_t>(i & 15));
        big.insert(big.end(), p.begin(), p.end());
    }
    e.Feed(big);
    EXPECT_EQ(e.stats.counter_sy, 1u);
    EXPECT_EQ(e.stats.counter_st, 0u);
    // What fitted was processed: the limit is not a multiple of 188, the last partial unit
    // waits.
    EXPECT_EQ(e.log.Packets(0).size(), CTsProcessor::kInputLimit / 188);
}

TEST(OutputStage, FiltersDropListedPidsAndNewOrClearedOutputsGetEverything) {
    Engine e;
    EXPECT_EQ(e.processor.AddOutput(1), 1);
    EXPECT_EQ(e.processor.AddOutput(1), 0);
    EXPECT_EQ(e.processor.AddOutput(2), 1);
    const uint16_t pids[] = {0x101, 0x102};
    for (const uint16_t output : {0, 2, 5}) {  // 5: no such output, nothing happens
        e.processor.SetOutputFilter(output, 1, nullptr, 0, pids, 2);
    }
    e.processor.ClearOutputFilter(2);
    const Packets packets = {Packet(0x100, 0), Packet(0x101, 0), Packet(0x102, 0),
                             Packet(0x000, 0, true), Packet(0x103, 0)};
    e.Feed(Stream(packets));
    EXPECT_EQ(e.log.Packets(0), (Packets{packets[0], packets[3], packets[4]}));
    EXPECT_EQ(e.log.Packets(1), packets);
    EXPECT_EQ(e.log.Packets(2), packets);
    // Outputs are walked in ascending number for each packet.
    ASSERT_GE(e.log.entries.size(), 3u);
    EXPECT_EQ(std::tuple(e.log.entries[1].a, e.log.entries[2].a), std::tuple(1u, 2u));
    e.processor.ResetOutputs();
    ASSERT_EQ(e.processor.OutputFilters().size(), 1u);
    EXPECT_EQ(e.processor.OutputFilters()[0].number, 0u);
}

// A change made while one packet is being delivered must not split that packet's outputs:
// it takes effect from the next packet on.
TEST(OutputStage, FilterChangedInsideDeliveryAppliesFromTheNextPacket) {
    Engine e;
    e.processor.AddOutput(1);
    e.processor.SetOutputCallback(
        [](uint32_t type, uint32_t a, const void* data, uint32_t length, void* user) {
            auto* run = static_cast<Engine*>(user);
            testing::EventLog::Callback(type, a, data, length, &run->log);
            if (type == kEventPacket && a == 0 && run->log.entries.size() == 1) {
                const uint16_t drop[] = {0x100};
                run->processor.SetOutputFilter(1, 1, nullptr, 0, drop, 1);
            }
        },
        &e);
    const Packets packets = PidRun(0x100, 4);
    e.Feed(Stream(packets));
    EXPECT_EQ(e.log.Packets(0), packets);
    EXPECT_EQ(e.log.Packets(1), Packets{packets[0]});
    EXPECT_EQ(e.log.entries[1].a, 1u);  // the first packet reached both outputs before the next
}

TEST(OutputStage, FilterChangesFromAnotherThreadAreRaceFree) {
    // Run under ThreadSanitizer: a second thread flips the filters while Input runs.
    std::atomic<uint64_t> counts[2] = {0, 0};
    CTsProcessor processor;
    processor.AddOutput(1);
    processor.SetOutputCallback(
        [](uint32_t type, uint32_t a, const void*, uint32_t, void* user) {
            if (type == kEventPacket && a <= 1) {
                static_cast<std::atomic<uint64_t>*>(user)[a].fetch_add(1);
            }
        },
        counts);
    const auto s = Stream(PidRun(0x100, 512));
    std::atomic<bool> stop{false};
    std::thread flipper([&] {
        const uint16_t drop[] = {0x100};
        const uint16_t programs[] = {1};
        for (int i = 0; !stop.load(); ++i) {
            if (i % 2) {
                processor.SetOutputFilter(0, 1, programs, 1, drop, 1);
            } else {
                processor.ClearOutputFilter(0);
            }
            processor.AddOutput(static_cast<uint16_t>(2 + i % 3));
            (void)processor.OutputFilters();
        }
    });
    StreamStats stats;
    for (int round = 0; round < 40; ++round) {
        processor.Input(s, stats);
    }
    stop = true;
    flipper.join();
    EXPECT_EQ(counts[1].load(), 40u * 512u);  // output 1 was never filtered
    EXPECT_LE(counts[0].load(), 40u * 512u);
}

const Bytes kPat = sim::PatSection(0x7FE3, 0, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}});

// The PID 0 units among `units`.
Packets Pats(const Packets& units) {
    Packets out;
    std::ranges::copy_if(units, std::back_inserter(out),
                         [](auto& u) { return ((u[1] & 0x1F) << 8 | u[2]) == 0; });
    return out;
}

// Output 0 drops programme 0x0401 (mode 1) or passes only it (mode 0); output 1 has no filter
// and gets every PAT as received. The filtered copy keeps everything outside the section (the
// header, an adaptation field, the pointer_field and the bytes beyond 188 of a longer unit), and
// stuffs the rest of the packet behind the shorter section.
TEST(PatRewrite, EveryCopyIsRewrittenInPlaceForTheFilteredOutputOnly) {
    const Programs drop = {{0x0400, 0x01F0}}, keep = {{0x0401, 0x01F1}}, none;
    const Bytes one = testing::StreamBuilder().Section(0, kPat).Bytes();
    Bytes bad(184, 0xFF), adapted = {0x00};
    bad[0] = 180;  // pointer_field 180: the section would start at byte 185 and cannot fit
    adapted.insert(adapted.end(), kPat.begin(), kPat.end());
    auto long_units = Stream(testing::StreamBuilder().Section(0, kPat).Packets(), 204);
    std::fill_n(long_units.begin() + 204 * 3 + 188, 16, 0xA5);  // the PAT unit's parity bytes
    const struct {
        const char* name;
        uint32_t mode, decode_tables = 1;
        std::vector<uint8_t> bytes;
        size_t start, sent;
        Programs programs;
        uint32_t unit = 188;
    } kCases[] = {
        {"dropping, every copy (the first completes before the output stage)", 1, 1,
         testing::StreamBuilder().Section(0, kPat).Section(0, kPat).Bytes(), 5, 2, drop},
        {"keeping", 0, 1, one, 5, 1, keep},
        {"before any PAT is decoded the list is empty", 1, 0, one, 5, 1, none},
        {"behind an adaptation field", 0, 1,
         testing::StreamBuilder()
             .Packet(sim::MakePacket({.payload_unit_start = true, .adaptation_length = 7}, adapted))
             .Bytes(),
         13, 1, keep},
        {"a unit whose section cannot fit is not sent", 1, 1,
         testing::StreamBuilder().Section(0, kPat).RawPayload(0, true, bad).Bytes(), 5, 1, drop},
        {"204-byte units", 1, 1, long_units, 5, 1, drop, 204},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        testing::ProcessorRun f(true);
        f.processor.decode_tables = c.decode_tables;
        f.processor.AddOutput(1);
        const uint16_t programs[] = {0x0401};
        f.processor.SetOutputFilter(0, c.mode, programs, 1, nullptr, 0);
        f.Feed(c.bytes);
        Packets received;
        for (size_t at = 0; at < c.bytes.size(); at += c.unit) {
            received.emplace_back(c.bytes.begin() + at, c.bytes.begin() + at + c.unit);
        }
        const Packets in = Pats(received), out = Pats(f.log.Packets(0));
        EXPECT_EQ(Pats(f.log.Packets(1)), in);
        ASSERT_EQ(out.size(), c.sent);
        const auto pat = sim::PatSection(0x7FE3, 0, c.programs);
        for (size_t i = 0; i < out.size(); ++i) {
            auto expected = in[i];
            std::fill(expected.begin() + c.start, expected.begin() + 188, 0xFF);
            std::ranges::copy(pat, expected.begin() + c.start);
            EXPECT_EQ(out[i], expected) << i;
        }
    }
    // The first case's section from the standard: the CRC of the rewrite, checked independently.
    EXPECT_EQ(sim::PatSection(0x7FE3, 0, drop),
              testing::Hex("00B00D7F E3C10000 0400E1F0 23A77548"));
}

}  // namespace
}  // namespace tavrel
