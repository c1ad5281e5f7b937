// A whole capture on the simulated tuner: device threads, chunk buffer, processing thread,
// recorder and UDP sender, driven by the application core as the window drives it.
//   BM_CaptureRealTime: 20 s at 24 Mbit/s with recording and sending on; the process's CPU
//     time (getrusage) as a share of one core. The tuner plays a pre-generated file, so the
//     figure is the capture's, not the multiplex generator's.
//   BM_CaptureAsFastAsPossible: the tuner delivers as fast as it can for 5 s with recording
//     on; the bytes recorded per second end to end, and the chunk buffer resets ("R:").
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/capture_app.h"
#include "bench_support.h"
#include "platform/ui_thread.h"
#include "sim/multiplex.h"
#include "sim/simulated_fx2.h"

namespace tavrel {
namespace {

using bench::BenchDir;

// Answers the save picker with a fixed path; no message is expected.
class BenchUi final : public UiServices {
public:
    explicit BenchUi(std::string path) : path_(std::move(path)) {}
    MessageAnswer ShowMessage(std::string_view text, std::string_view caption,
                              MessageButtons) override {
        std::fprintf(stderr, "[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        return MessageAnswer::kOk;
    }
    std::optional<std::string> PickSaveFile(const SaveFileRequest&) override { return path_; }
    std::optional<std::string> BrowseForFolder() override { return std::nullopt; }

private:
    std::string path_;
};

// A loopback socket nobody reads: the datagrams are sent for real and dropped by the kernel.
class Sink {
public:
    Sink() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        port_ = bench::BindLoopback(fd_);
    }
    ~Sink() { close(fd_); }
    uint16_t Port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Ten seconds of a 24 Mbit/s multiplex, played by the tuner in a loop.
std::string MultiplexFile(const BenchDir& dir) {
    const std::string file = dir.File("source.ts");
    sim::MultiplexConfig config;
    config.seconds = 10;
    config.bitrate = 24'000'000;
    sim::MultiplexGenerator generator(config);
    FILE* out = std::fopen(file.c_str(), "wb");
    generator.Run(
        [&](std::span<const uint8_t> chunk) { std::fwrite(chunk.data(), 1, chunk.size(), out); });
    std::fclose(out);
    return file;
}

struct Result {
    double cpu_seconds = 0;
    double wall_seconds = 0;
    uint64_t recorded = 0;
    uint32_t overflow_resets = 0;
};

Result RunCapture(const BenchDir& dir, const std::string& source, sim::Pacing pacing, int seconds,
                  bool send) {
    sim::SimulatedFx2Config config;
    config.stream.ts_file = source;
    config.stream.file_bitrate = 24'000'000;
    config.stream.pacing = pacing;
    sim::SimulatedTuner tuner = sim::MakeSimulatedTuner(config);

    Sink sink;
    Settings settings;
    settings.network_address = "127.0.0.1";
    settings.network_port = sink.Port();
    QueuedUiThread ui_thread;
    BenchUi ui(dir.File("capture.ts"));
    Result result;
    {
        CaptureApp app(settings, AppEnvironment{SystemClock::Instance(), ui_thread, ui,
                                                SystemTimerResolution::Instance()});
        app.Initialise(std::move(tuner.device));
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        app.StartStop();
        app.StartRecording();
        if (send) {
            app.StartSending();
        }
        auto next = t0 + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(seconds)) {
            // Sleeps until posted work (status refreshes) or the next second, as the CLI does.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                next - std::chrono::steady_clock::now());
            ui_thread.WaitForWork(static_cast<uint32_t>(std::max<int64_t>(0, left.count())));
            ui_thread.Drain();
            if (std::chrono::steady_clock::now() >= next) {
                app.RunStatusDisplay();  // the window's once-a-second work, as the CLI does
                next += std::chrono::seconds(1);
            }
        }
        result.overflow_resets = app.Stats().overflow_resets.load();
        app.StartStop();
        ui_thread.Drain();
        result.wall_seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        result.cpu_seconds = CpuSeconds() - cpu0;
        app.Close();
    }
    result.recorded = std::filesystem::file_size(dir.File("capture.ts"));
    return result;
}

void BM_CaptureRealTime(benchmark::State& state) {
    BenchDir dir("tavrel-bench-capture-");
    const std::string source = MultiplexFile(dir);
    Result r;
    for (auto _ : state) {
        r = RunCapture(dir, source, sim::Pacing::kRealTime, 20, true);
    }
    state.counters["cpu_percent_of_one_core"] = 100.0 * r.cpu_seconds / r.wall_seconds;
    state.counters["recorded_MB"] = static_cast<double>(r.recorded) / 1e6;
    state.counters["R"] = r.overflow_resets;
}
BENCHMARK(BM_CaptureRealTime)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_CaptureAsFastAsPossible(benchmark::State& state) {
    BenchDir dir("tavrel-bench-capture-");
    const std::string source = MultiplexFile(dir);
    Result r;
    for (auto _ : state) {
        r = RunCapture(dir, source, sim::Pacing::kAsFastAsPossible, 5, false);
    }
    state.counters["recorded_MB_per_s"] = static_cast<double>(r.recorded) / 1e6 / r.wall_seconds;
    state.counters["cpu_percent_of_one_core"] = 100.0 * r.cpu_seconds / r.wall_seconds;
    state.counters["R"] = r.overflow_resets;
}
BENCHMARK(BM_CaptureAsFastAsPossible)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace tavrel
