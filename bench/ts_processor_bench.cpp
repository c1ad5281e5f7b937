// Throughput of the packet engine: a realistic stream fed in 32 KiB blocks to outputs 0 and 1,
// with a callback that reads every cache line of each unit it receives.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "alloc_counter.h"
#include "sim/packetizer.h"
#include "sim/pat_writer.h"
#include "sim/pmt_writer.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

constexpr size_t kStreamBytes = 64u << 20;
constexpr uint32_t kBlock = 0x8000;

// Video, audio and data PIDs with correct counters and about 3% null packets.
std::vector<uint8_t> MakeStream(uint32_t unit_length) {
    const uint16_t pids[] = {0x111, 0x111,  0x111, 0x111, 0x111, 0x111, 0x112, 0x112,
                             0x140, 0x1011, 0x111, 0x111, 0x111, 0x112, 0x111, 0x1FFF};
    uint8_t counters[0x2000] = {};
    std::vector<uint8_t> stream;
    stream.reserve(kStreamBytes + unit_length);
    for (uint32_t i = 0; stream.size() + unit_length <= kStreamBytes; ++i) {
        sim::PacketSpec fields;
        fields.pid = pids[i % 16];
        fields.continuity_counter = counters[fields.pid]++ & 0x0F;
        fields.payload_unit_start = (i % 41) == 0;
        std::vector<uint8_t> payload(184);
        for (size_t k = 0; k < payload.size(); ++k) {
            payload[k] = static_cast<uint8_t>(i * 31 + k);
        }
        const auto unit = sim::ToUnit(sim::MakePacket(fields, payload), unit_length, i * 600);
        stream.insert(stream.end(), unit.begin(), unit.end());
    }
    return stream;
}

// The same mix where every tenth packet carries a table: the PAT and the PMTs of three
// programmes in turn, as a multiplex repeating them every 100 ms does.
std::vector<uint8_t> MakeStreamWithTables() {
    const std::vector<ProgramEntry> programs = {
        {0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}, {0x0402, 0x01F2}};
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> tables;
    tables.emplace_back(0x0000, sim::PatSection(0x7FE3, 1, programs));
    for (uint16_t k = 0; k < 3; ++k) {
        const uint16_t base = static_cast<uint16_t>(0x0111 + 0x20 * k);
        tables.emplace_back(
            0x01F0 + k,
            sim::PmtSection(
                0x0400 + k, 2, base, {},
                {{0x02, base, sim::StreamIdentifierDescriptor(0x00)},
                 {0x0F, static_cast<uint16_t>(base + 1), sim::StreamIdentifierDescriptor(0x10)},
                 {0x0D, static_cast<uint16_t>(base + 2), sim::StreamIdentifierDescriptor(0x40)}}));
    }
    const std::vector<uint8_t> plain = MakeStream(188);
    std::vector<uint8_t> stream;
    stream.reserve(plain.size());
    uint8_t counters[0x2000] = {};
    size_t table = 0;
    for (size_t pos = 0; pos + 188 <= plain.size(); pos += 188) {
        stream.insert(stream.end(), plain.begin() + static_cast<long>(pos),
                      plain.begin() + static_cast<long>(pos + 188));
        if ((pos / 188) % 9 == 8) {
            const auto& [pid, section] = tables[table++ % tables.size()];
            sim::SectionPacketizer packetizer(pid, counters[pid]);
            const auto packets = packetizer.Put(section);
            counters[pid] = packetizer.NextCounter();
            stream.insert(stream.end(), packets[0].begin(), packets[0].end());
        }
    }
    return stream;
}

struct Sink {
    uint64_t sum = 0;
    uint64_t units = 0;
};

void Touch(uint32_t type, uint32_t, const void* data, uint32_t length, void* user) {
    if (type != kEventPacket) {
        return;
    }
    auto* sink = static_cast<Sink*>(user);
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (uint32_t offset = 0; offset + 8 <= length; offset += 64) {
        uint64_t word;
        std::memcpy(&word, bytes + offset, 8);
        sink->sum += word;
    }
    ++sink->units;
}

void RunEngine(benchmark::State& state, const std::vector<uint8_t>& stream, bool tables) {
    Sink sink;
    size_t heap = 0;
    for (auto _ : state) {
        const size_t before = bench::HeapInUse();
        bench::ResetHeapPeak();
        auto owned = std::make_unique<CTsProcessor>();
        CTsProcessor& processor = *owned;
        processor.decode_tables = tables ? 1 : 0;
        processor.AddOutput(1);
        processor.SetOutputCallback(&Touch, &sink);
        StreamStats stats;
        for (size_t pos = 0; pos < stream.size(); pos += kBlock) {
            const size_t n = std::min<size_t>(kBlock, stream.size() - pos);
            processor.Input(static_cast<uint32_t>(n), stats, stream.data() + pos);
        }
        processor.Finish(stats);
        heap = bench::HeapPeak() - before;
        if (stats.discontinuities != 0 || stats.sync_errors != 0) {
            state.SkipWithError("the generated stream was not clean");
        }
    }
    benchmark::DoNotOptimize(sink.sum);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["units_per_run"] =
        static_cast<double>(sink.units) / static_cast<double>(state.iterations());
    // Everything the processor allocates, itself included, at its peak during a run.
    state.counters["processor_peak_bytes"] = static_cast<double>(heap);
}

void BM_PacketEngine(benchmark::State& state) {
    const uint32_t unit_length = static_cast<uint32_t>(state.range(0));
    static std::vector<uint8_t> streams[3];
    auto& stream = streams[unit_length == 188 ? 0 : unit_length == 192 ? 1 : 2];
    if (stream.empty()) {
        stream = MakeStream(unit_length);
    }
    RunEngine(state, stream, false);
}
BENCHMARK(BM_PacketEngine)->Arg(188)->Arg(192)->Arg(204)->Unit(benchmark::kMillisecond);

// Table decoding on: the plain stream (no tables to find) and the one with 10% tables.
void BM_PacketEngineDecoding(benchmark::State& state) {
    static const std::vector<uint8_t> plain = MakeStream(188);
    static const std::vector<uint8_t> with_tables = MakeStreamWithTables();
    RunEngine(state, state.range(0) ? with_tables : plain, true);
}
BENCHMARK(BM_PacketEngineDecoding)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tavrel
