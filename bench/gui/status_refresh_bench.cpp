// What the status display costs the UI thread while a capture runs: the core's status display
// (snapshot, texts, broadcast-time relay) and the main window's full redraw, as one posted
// refresh runs them. The capture is live (simulated tuner at 24 Mbit/s, recording and sending
// on), so the figures really change between iterations.
//   BM_StatusRefresh: one RunStatusDisplay and one MainWindow::Refresh per iteration; the
//     event loop runs between iterations, outside the timing.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/capture_app.h"
#include "app/main_window.h"
#include "bench_support.h"
#include "gui/gui_app.h"

namespace tavrel {
namespace {

// The save picker is never asked (automatic names); messages would be a fault of the set-up.
class BenchUi final : public UiServices {
public:
    MessageAnswer ShowMessage(std::string_view text, std::string_view caption,
                              MessageButtons) override {
        std::fprintf(stderr, "[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        return MessageAnswer::kOk;
    }
    std::optional<std::string> PickSaveFile(const SaveFileRequest&) override {
        return std::nullopt;
    }
    std::optional<std::string> BrowseForFolder() override { return std::nullopt; }
};

void BM_StatusRefresh(benchmark::State& state) {
    bench::BenchDir dir("tavrel-gui-bench-");
    const int sink = socket(AF_INET, SOCK_DGRAM, 0);
    const uint16_t port = bench::BindLoopback(sink);
    {
        FILE* ini = std::fopen(dir.File("tavrel.ini").c_str(), "w");
        std::fprintf(ini,
                     "[Tavrel_M]\nREC_AUTOFILENAME=1\nREC_AUTOPATH=%s\nNETWORK_ADDRESS=127.0.0.1\n"
                     "NETWORK_PORT=%u\n",
                     dir.File("").c_str(), port);
        std::fclose(ini);
    }
    BenchUi ui;
    gui::GuiOptions options;
    options.start_directory = dir.File("");
    options.ui = &ui;
    options.tuner.stream.multiplex.bitrate = 24'000'000;
    gui::GuiApp app(options);
    if (!app.Start() || app.App().StartStop() != StartError::kNone || !app.App().StartRecording() ||
        !app.App().StartSending()) {
        state.SkipWithError("the capture did not start");
        close(sink);
        return;
    }
    MainWindow& window = app.Main();
    window.Refresh();
    for (auto _ : state) {
        app.App().RunStatusDisplay();
        window.Refresh();
        state.PauseTiming();
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        state.ResumeTiming();
    }
    const auto cost = app.UiThread().BatchCost();
    state.counters["posted_batches"] = static_cast<double>(cost.batches);
    state.counters["posted_mean_us"] =
        cost.batches == 0 ? 0.0 : static_cast<double>(cost.total_ns) / cost.batches / 1000.0;
    state.counters["posted_max_us"] = static_cast<double>(cost.max_ns) / 1000.0;
    app.App().StopRecording();
    app.App().StopSending();
    app.App().StartStop();
    close(sink);
}
BENCHMARK(BM_StatusRefresh)->Unit(benchmark::kMicrosecond)->MinTime(3.0)->UseRealTime();

}  // namespace
}  // namespace tavrel

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication qt(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
