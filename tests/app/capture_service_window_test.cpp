// The service window's core plugged into a capture: the tables of the generated multiplex
// reach its rows through the port, its queries reach the running processor, and its popup's
// reservation requests reach the schedule.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "app/app_harness.h"
#include "reservation/reservation_manager.h"
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

// A capture of 1.5 s of the multiplex, with the window plugged in.
class CaptureServiceWindow : public ::testing::Test {
protected:
    CaptureServiceWindow() {
        h.tuner->stream = test_support::Multiplex(1.5, 1, &plan);
        for (const sim::PlannedService& s : plan.transport_streams[0].services) {
            expected.insert(s.service_id);
        }
    }
    static Settings WithTables() {
        Settings s;
        s.decode_psi = s.proc_epg = 1;
        return s;
    }

    AppHarness h{WithTables()};
    sim::MultiplexManifest plan;
    std::set<uint16_t> expected;
    CServiceWindow window{h.ui_thread, h.ui, h.clock};
    ServiceWindowLink link{window};
};

TEST_F(CaptureServiceWindow, CaptureFillsTheRowsWithTheMultiplexServices) {
    ASSERT_EQ(expected.size(), 3u);
    ASSERT_TRUE(h.Initialise(&link, nullptr));
    // The main window's toggle shows the window, which then lists the programmes on air too.
    EXPECT_FALSE(window.Visible());
    h.app->ToggleServiceWindow();
    EXPECT_TRUE(window.Visible());
    h.CaptureAll();

    std::multiset<uint16_t> shown, guide;
    for (const ServiceListItem& item : window.ServiceItems()) {
        shown.insert(item.service_id);
        EXPECT_FALSE(item.cells[0].empty()) << item.service_id;
    }
    for (const GuideListItem& item : window.GuideItems()) {
        guide.insert(item.service_id);
    }
    EXPECT_EQ(shown, std::multiset<uint16_t>(expected.begin(), expected.end()))
        << "one row per service";
    EXPECT_EQ(std::set<uint16_t>(guide.begin(), guide.end()), expected);
    // The end of the stream empties the list again.
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    h.ui_thread.Drain();
    EXPECT_TRUE(window.ServiceItems().empty());
}

// The popup's two reservation kinds on programmes the capture's broadcast time put in the rows
// become pending reservations through the schedule's commands.
TEST_F(CaptureServiceWindow, PopupReservationsReachTheSchedule) {
    ReservationManager manager(h.clock, &h.ui, nullptr);
    PressOk editor;
    ScheduleCommands commands(manager, editor);
    ScheduleRequests requests(commands);
    window.SetReservationRequests(&requests);
    ASSERT_TRUE(h.Initialise(&link, nullptr));
    h.CaptureAll();
    h.app->RunStatusDisplay();  // relays the broadcast time: current and next programmes
    h.ui_thread.Drain();
    const std::vector<ServiceListItem> rows = window.ServiceItems();
    ASSERT_EQ(rows.size(), 3u);
    const std::optional<ServiceRow> first = window.Service(rows[0].service_id);
    const std::optional<ServiceRow> second = window.Service(rows[1].service_id);
    ASSERT_TRUE(first && second);
    ASSERT_NE(first->programmes.current.start.mjd, 0u) << "no programme on air";
    ASSERT_NE(second->programmes.next.start.mjd, 0u) << "no next programme";

    EXPECT_EQ(window.RunCommand(kCommandEventReserveCurrent, 0), 1);
    EXPECT_EQ(window.RunCommand(kCommandDateReserveNext, 1), 1);
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);

    const std::vector<Reservation> pending = manager.Pending();
    ASSERT_EQ(pending.size(), 2u);
    const auto by_event = pending[0].ByEvent() ? pending.begin() : pending.begin() + 1;
    const auto by_date = pending[0].ByEvent() ? pending.begin() + 1 : pending.begin();
    ASSERT_TRUE(by_event->ByEvent() && by_date->ByDate());
    EXPECT_EQ(by_event->ServiceID, first->service_id);
    EXPECT_EQ(by_event->EventID, first->programmes.current.event_id);
    EXPECT_EQ(by_date->Start(), second->programmes.next.start);
    EXPECT_EQ(by_date->RecordSec, second->programmes.next.duration);
    EXPECT_NE(by_date->Flag & RSV_SERVICE_LIMIT, 0u);
    EXPECT_EQ(TextOf(by_date->EnableServiceID), std::to_string(second->service_id));
}

}  // namespace
}  // namespace tavrel
