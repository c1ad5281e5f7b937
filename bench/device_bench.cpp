// The tuner device over the simulated FX2 driver, the data callback writing into the 10 MiB
// capture chunk buffer and another thread draining it in 32 KiB blocks, as a capture does.
// - BM_DeviceAsFastAsPossible: throughput with the simulator pacing nothing (the 1 ms sleep
//   per pass of each transfer thread bounds it near 32 MiB/s).
// - BM_DeviceCpuAtBroadcastRate: CPU time of the whole process (getrusage) per second of
//   streaming 24 Mbit/s for 10 s, as a percentage of one core; "file" plays a stream
//   generated beforehand, "generator" makes it on the fly (the simulator's own cost too).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/chunk_buffer.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "sim/multiplex.h"
#include "sim/simulated_fx2.h"

namespace tavrel::sim {
namespace {

constexpr uint64_t kBroadcastBitrate = 24'000'000;

// The consumer side as the capture's processing thread runs it: the callback signals each
// whole block, and the drainer sleeps until then instead of polling the buffer.
struct Pipeline {
    static constexpr uint32_t kBlock = 0x8000;
    CBufferMT buffer{10u << 20};
    Event block_ready{false};
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> drained{0};
    std::atomic<uint64_t> overflow{0};

    static void Callback(const uint8_t* data, uint32_t length, uint32_t, uint32_t, void* user) {
        auto& p = *static_cast<Pipeline*>(user);
        uint32_t taken = 0;
        {
            ScopedLock lock(p.buffer.Lock());
            taken = p.buffer.Write(data, length);
        }
        if (taken < length) {
            p.overflow.fetch_add(length - taken, std::memory_order_relaxed);
        }
        if (p.buffer.Held() >= kBlock) {
            p.block_ready.Set();
        }
    }

    // Takes whole blocks while there are some (any remainder with minimum 1); bytes taken.
    uint32_t Take(std::vector<uint8_t>& block, uint32_t minimum) {
        if (buffer.Held() < minimum) {
            return 0;
        }
        ScopedLock lock(buffer.Lock());
        return buffer.Read(block.data(), kBlock, true);
    }

    void Drain() {
        std::vector<uint8_t> block(kBlock);
        while (!stop.load(std::memory_order_acquire)) {
            while (const uint32_t got = Take(block, kBlock)) {
                drained.fetch_add(got, std::memory_order_relaxed);
            }
            block_ready.Wait(Event::kInfinite);
        }
        while (const uint32_t got = Take(block, 1)) {
            drained.fetch_add(got, std::memory_order_relaxed);
        }
    }

    void Stop() {
        stop.store(true, std::memory_order_release);
        block_ready.Set();
    }
};

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Streams for `seconds` and returns {bytes drained, CPU seconds used}.
std::pair<uint64_t, double> Stream(const SimulatedFx2Config& config, double seconds) {
    auto tuner = MakeSimulatedTuner(config);
    Pipeline pipe;
    tuner.device->data_callback = &Pipeline::Callback;
    tuner.device->callback_user = &pipe;
    tuner.device->Open("", nullptr, nullptr);
    Thread drainer([&] { pipe.Drain(); }, Thread::Start::kRunning, "drain");
    const double cpu0 = CpuSeconds();
    tuner.device->Connect(0, 0x81, kNoEndpoint);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    tuner.device->Disconnect();
    const double cpu = CpuSeconds() - cpu0;
    pipe.Stop();
    drainer.Join(Event::kInfinite);
    return {pipe.drained.load(), cpu};
}

void BM_DeviceAsFastAsPossible(benchmark::State& state) {
    SimulatedFx2Config config;
    config.stream.pacing = Pacing::kAsFastAsPossible;
    config.stream.multiplex.bitrate = kBroadcastBitrate;
    config.stream.multiplex.seconds = 20;
    uint64_t bytes = 0;
    for (auto _ : state) {
        bytes += Stream(config, 3.0).first;
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_DeviceAsFastAsPossible)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// A file of 12 s of multiplex, written once and removed at exit, so repetitions share it.
struct StreamFileHolder {
    std::string path;
    StreamFileHolder() {
        const auto p = std::filesystem::temp_directory_path() /
                       ("tavrel-bench-fx2-" + std::to_string(getpid()) + ".ts");
        MultiplexConfig config;
        config.bitrate = kBroadcastBitrate;
        config.seconds = 12;
        MultiplexGenerator gen(config);
        std::ofstream out(p, std::ios::binary);
        gen.Run([&](std::span<const uint8_t> chunk) {
            out.write(reinterpret_cast<const char*>(chunk.data()),
                      static_cast<std::streamsize>(chunk.size()));
        });
        path = p.string();
    }
    ~StreamFileHolder() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

const std::string& StreamFile() {
    static const StreamFileHolder holder;
    return holder.path;
}

void BM_DeviceCpuAtBroadcastRate(benchmark::State& state) {
    SimulatedFx2Config config;
    config.stream.multiplex.bitrate = kBroadcastBitrate;
    config.stream.multiplex.seconds = 60;
    if (state.range(0) == 0) {
        config.stream.ts_file = StreamFile();
        config.stream.file_bitrate = kBroadcastBitrate;
    }
    constexpr double kSeconds = 10.0;
    double cpu = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        const auto [b, c] = Stream(config, kSeconds);
        bytes += b;
        cpu += c;
    }
    state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / kSeconds;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_DeviceCpuAtBroadcastRate)
    ->ArgNames({"generator"})
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace tavrel::sim
