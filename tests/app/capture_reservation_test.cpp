// The reservation engine plugged into a capture: the simulated tuner streams the generated
// multiplex, the status display ticks the engine with the application's clock, and output 1
// ends up in the reserved file.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_harness.h"
#include "cli/analyzer.h"
#include "platform/temp_dir.h"
#include "reservation/reservation_manager.h"
#include "reservation/reservation_port.h"
#include "sim/multiplex.h"
#include "sim/simulated_fx2.h"
#include "ts/mjd_time.h"

namespace tavrel {
namespace {

using test_support::AppHarness;

// Advances the clock second by second, running the status display after each step and giving
// the stream some real time, until the condition holds or the seconds are used up.
bool RunUntil(AppHarness& h, int seconds, const std::function<bool()>& done) {
    for (int i = 0; i < seconds; ++i) {
        h.clock.Advance(1000);
        h.app->RunStatusDisplay();
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(CaptureReservation, DateReservationRecordsOnlyTheLimitedService) {
    test_support::TempDir dir;
    Settings s;
    s.decode_psi = 1;
    s.proc_epg = 1;
    s.schedule_use_system_time = 1;
    sim::SimulatedFx2Config config;
    config.stream.multiplex.seconds = 2;
    config.stream.multiplex.seed = 5;
    config.stream.loop = true;
    config.stream.pacing = sim::Pacing::kRealTime;
    const sim::MultiplexGenerator generator(config.stream.multiplex);
    const auto& services = generator.Manifest().transport_streams.at(0).services;
    ASSERT_GE(services.size(), 2u);
    const uint16_t kept = services[1].service_id;

    // The engine outlives the application, whose stop still talks to it.
    std::optional<ReservationManager> engine;
    std::optional<ReservationEnginePort> port;
    AppHarness h(s, test_support::TunerKind::kSimulatedFx2, config);
    ReservationManager& manager = engine.emplace(h.clock, nullptr, nullptr);
    port.emplace(manager);
    Reservation r;
    r.Flag = RSV_BY_DATE | RSV_SERVICE_LIMIT | RSV_FILE_GIVEN;
    MjdTime start = NowLocal(h.clock);
    AddSeconds(start, 40);
    r.SetStart(start);
    r.RecordSec = 3;
    CopyText(r.Dir, dir.Path());
    CopyText(r.File, "limited");
    CopyText(r.Ext, ".ts");
    CopyText(r.EnableServiceID, std::to_string(kept));
    ASSERT_TRUE(manager.SetReservation(r, -1));

    ASSERT_TRUE(h.Initialise(nullptr, &*port));
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    // The status bar shows the engine's text while it waits.
    h.app->RunStatusDisplay();
    ASSERT_TRUE(RunUntil(h, 60, [&] { return manager.ActiveIsRecording(); }));
    ASSERT_FALSE(manager.GetReservationStatus().empty());
    EXPECT_EQ(h.app->Window().status_bar[2], manager.GetReservationStatus());
    // Let the stream run into the file for a while in real time.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(RunUntil(h, 30, [&] { return !manager.RecordingActive(); }));
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);

    ASSERT_EQ(manager.Finished().size(), 1u);
    EXPECT_EQ(manager.Finished()[0].State(), RSV_STATE_FINISHED);
    const std::vector<uint8_t> file = test_support::ReadWholeFile(dir.File("limited.ts"));
    ASSERT_GT(file.size(), 188u * 100);
    cli::AnalyzeOptions options;
    options.input = dir.File("limited.ts");
    cli::Analyzer analyzer(options);
    analyzer.Feed(file.data(), file.size());
    ASSERT_TRUE(analyzer.Finish());
    ASSERT_EQ(analyzer.Report().programmes.size(), 1u);
    EXPECT_EQ(analyzer.Report().programmes[0].service_id, kept);
}

// The engine keeps nothing of a capture once it stopped: its next ticks, here after the
// application is gone, find no lookups to call and wait for the guide as before.
TEST(CaptureReservation, EngineKeepsNothingOfAStoppedCapture) {
    std::optional<ReservationManager> engine;
    std::optional<ReservationEnginePort> port;
    AppHarness h;
    ReservationManager& manager = engine.emplace(h.clock, nullptr, nullptr);
    port.emplace(manager);
    Reservation r;
    r.Flag = RSV_BY_EVENT;
    r.ServiceID = 0x0400;
    r.EventID = 0x0011;
    ASSERT_TRUE(manager.SetReservation(r, -1));

    ASSERT_TRUE(h.Initialise(nullptr, &*port));
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    h.tuner->Release();
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    h.app.reset();

    manager.ScheduleTick(NowLocal(h.clock));
    EXPECT_EQ(manager.GetReservationStatus(), "イベント情報取得待ち");
    EXPECT_FALSE(manager.RecordingActive());
}

}  // namespace
}  // namespace tavrel
