// Generation speed of the simulated multiplex: whole streams of about 64 MiB handed out in
// 1 MiB chunks, as a script writing a large test file takes them.
#include <benchmark/benchmark.h>

#include <vector>

#include "sim/multiplex.h"

namespace tavrel::sim {
namespace {

void BM_Multiplex(benchmark::State& state) {
    MultiplexConfig config;
    config.packet_size = static_cast<uint32_t>(state.range(0));
    config.bitrate = 16'000'000;
    config.seconds = 32.0;  // 64 MB of 188-byte packets
    if (state.range(1) != 0) {
        config.sync_errors = 20;
        config.continuity_errors = 20;
        config.scrambled_packets = 20;
        config.change_seconds = 16.0;
    }
    std::vector<uint8_t> chunk;
    uint64_t bytes = 0;
    for (auto _ : state) {
        MultiplexGenerator generator(config);
        while (generator.Next(chunk)) {
            benchmark::DoNotOptimize(chunk.data());
            bytes += chunk.size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_Multiplex)
    ->ArgNames({"unit", "faults"})
    ->Args({188, 0})
    ->Args({192, 0})
    ->Args({204, 0})
    ->Args({188, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tavrel::sim
