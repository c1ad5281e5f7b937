// Disk throughput of the recorder fed 188-byte deliveries, next to a plain write of the same
// bytes in 1 MiB blocks, in the same run. Each iteration writes 1 GiB to a new file in a
// temporary folder; the folder is removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "capture/recorder.h"

namespace tavrel {
namespace {

constexpr size_t kPacket = 188;
constexpr size_t kTotal = size_t{1} << 30;
constexpr size_t kBlock = size_t{1} << 20;

using bench::BenchDir;

BenchDir& Dir() {
    static BenchDir dir("tavrel-bench-rec-");
    return dir;
}

// 2 MiB of varying bytes, enough that deliveries are not all served from one cache line.
const std::vector<uint8_t>& Source() {
    static const std::vector<uint8_t> source = [] {
        std::vector<uint8_t> v(2 * kBlock + kPacket);
        for (size_t i = 0; i < v.size(); ++i) {
            v[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
        }
        return v;
    }();
    return source;
}

void RemoveFile(benchmark::State& state, const std::string& path) {
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
}

void BM_PlainWrite1MiBBlocks(benchmark::State& state) {
    const std::string path = Dir().File("plain.ts");
    const auto& source = Source();
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            state.SkipWithError("cannot create the file");
            return;
        }
        for (size_t written = 0; written < kTotal; written += kBlock) {
            const uint8_t* block = source.data() + (written / kBlock % 2) * kBlock;
            if (write(fd, block, kBlock) != static_cast<ssize_t>(kBlock)) {
                state.SkipWithError("write failed");
                close(fd);
                return;
            }
        }
        close(fd);
        RemoveFile(state, path);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_Recorder188ByteDeliveries(benchmark::State& state) {
    const std::string path = Dir().File("recorder.ts");
    const auto& source = Source();
    const size_t deliveries = kTotal / kPacket;
    for (auto _ : state) {
        Recorder recorder;
        if (!recorder.Open(path)) {
            state.SkipWithError("cannot create the file");
            return;
        }
        size_t at = 0;
        for (size_t i = 0; i < deliveries; ++i) {
            if (!recorder.Write(std::span<const uint8_t>(source.data() + at, kPacket))) {
                state.SkipWithError("write failed");
                return;
            }
            at += kPacket;
            if (at + kPacket > source.size()) {
                at = 0;
            }
        }
        recorder.Close();
        RemoveFile(state, path);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * deliveries * kPacket));
}

BENCHMARK(BM_PlainWrite1MiBBlocks)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Recorder188ByteDeliveries)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace
}  // namespace tavrel
