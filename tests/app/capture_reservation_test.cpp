// The reservation engine plugged into a capture. A reserved recording through the capture is
// run end to end, with the analyzer and ffprobe as witnesses, by the capture command's tests.
#include <gtest/gtest.h>

#include <optional>

#include "app/app_harness.h"
#include "reservation/reservation_manager.h"
#include "reservation/reservation_port.h"

namespace tavrel {
namespace {

// The engine keeps nothing of a capture once it stopped: its next ticks, here after the
// application is gone, find no lookups to call and wait for the guide as before.
TEST(CaptureReservation, EngineKeepsNothingOfAStoppedCapture) {
    // The engine outlives the application, whose stop still talks to it.
    std::optional<ReservationManager> engine;
    std::optional<ReservationEnginePort> port;
    test_support::AppHarness h;
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
