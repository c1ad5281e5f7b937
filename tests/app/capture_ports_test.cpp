// The service window's core and the reservation engine plugged into a capture: the tables of
// the generated multiplex reach the window's rows, its popup's reservation requests reach the
// schedule, and the engine keeps nothing of a stopped capture. A reserved recording through the
// capture is run end to end, with the analyzer and ffprobe as witnesses, by the capture
// command's tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "app/app_harness.h"
#include "reservation/reservation_manager.h"
#include "reservation/reservation_port.h"
#include "reservation/schedule_commands.h"
#include "sim/multiplex.h"
#include "ui/service_window_core.h"
#include "ui/service_window_link.h"

namespace tavrel {
namespace {

using test_support::AppHarness;

// The edit dialog's OK on whatever the request prefilled.
class PressOk final : public ReservationEditor {
public:
    bool Run(Reservation&) override { return true; }
};

// The rows of the multiplex's services fill from a capture and empty at its stop; the popup's
// two reservation kinds on programmes the capture's broadcast time put in the rows become
// pending reservations through the schedule's commands.
TEST(CaptureServiceWindow, RowsFillAndPopupReservationsReachTheSchedule) {
    AppHarness h([](Settings& s) { s.decode_psi = s.proc_epg = 1; });
    sim::MultiplexManifest plan;
    h.tuner->stream = test_support::Multiplex(1.5, 1, &plan);
    CServiceWindow window{h.ui_thread, h.ui, h.clock};
    ServiceWindowLink link{window};
    ReservationManager manager(h.clock, &h.ui, nullptr);
    PressOk editor;
    ScheduleCommands commands(manager, editor);
    ScheduleRequests requests(commands);
    window.SetReservationRequests(&requests);
    ASSERT_TRUE(h.Initialise(&link, nullptr));
    h.app->ToggleServiceWindow();
    EXPECT_TRUE(window.Visible());
    h.CaptureAll();
    h.app->RunStatusDisplay();  // relays the broadcast time: current and next programmes
    h.ui_thread.Drain();
    std::vector<uint16_t> shown, planned;
    for (const ServiceListItem& item : window.ServiceItems()) {
        shown.push_back(item.service_id);
        EXPECT_FALSE(item.cells[0].empty()) << item.service_id;
    }
    for (const sim::PlannedService& s : plan.transport_streams[0].services) {
        planned.push_back(s.service_id);
    }
    std::sort(shown.begin(), shown.end());
    std::sort(planned.begin(), planned.end());
    ASSERT_EQ(shown, planned) << "one row per service";
    const std::vector<ServiceListItem> rows = window.ServiceItems();
    const std::optional<ServiceRow> first = window.Service(rows[0].service_id);
    const std::optional<ServiceRow> second = window.Service(rows[1].service_id);
    ASSERT_TRUE(first && second);
    ASSERT_NE(first->programmes.current.start.mjd, 0u) << "no programme on air";
    ASSERT_NE(second->programmes.next.start.mjd, 0u) << "no next programme";

    EXPECT_EQ(window.RunCommand(kCommandEventReserveCurrent, 0), 1);
    EXPECT_EQ(window.RunCommand(kCommandDateReserveNext, 1), 1);
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    h.ui_thread.Drain();
    EXPECT_TRUE(window.ServiceItems().empty()) << "the end of the stream empties the list";

    const std::vector<Reservation> pending = manager.Pending();
    ASSERT_EQ(pending.size(), 2u);
    const size_t e = pending[0].ByEvent() ? 0 : 1;
    const Reservation *by_event = &pending[e], *by_date = &pending[1 - e];
    ASSERT_TRUE(by_event->ByEvent() && by_date->ByDate());
    EXPECT_EQ(by_event->ServiceID, first->service_id);
    EXPECT_EQ(by_event->EventID, first->programmes.current.event_id);
    EXPECT_EQ(by_date->Start(), second->programmes.next.start);
    EXPECT_EQ(by_date->RecordSec, second->programmes.next.duration);
    EXPECT_NE(by_date->Flag & RSV_SERVICE_LIMIT, 0u);
    EXPECT_EQ(TextOf(by_date->EnableServiceID), std::to_string(second->service_id));
}

// The engine keeps nothing of a capture once it stopped: its next ticks, here after the
// application is gone, find no lookups to call and wait for the guide as before.
TEST(CaptureReservation, EngineKeepsNothingOfAStoppedCapture) {
    // The engine outlives the application, whose stop still talks to it.
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
