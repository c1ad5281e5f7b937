// The service window's core plugged into a capture: the tables of the generated multiplex
// reach its rows through the port, its queries reach the running processor, and its popup's
// reservation requests reach the schedule.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>
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

Settings WithTables() {
    Settings s;
    s.decode_psi = 1;
    s.proc_epg = 1;
    return s;
}

// The edit dialog's OK on whatever the request prefilled.
class PressOk final : public ReservationEditor {
public:
    bool Run(Reservation&) override { return true; }
};

// A capture of 1.5 s of the multiplex, with the window plugged in.
class CaptureServiceWindow : public ::testing::Test {
protected:
    CaptureServiceWindow() : h(WithTables()) {
        sim::MultiplexConfig config;
        config.seconds = 1.5;
        sim::MultiplexGenerator generator(config);
        generator.Run([&](std::span<const uint8_t> chunk) {
            h.tuner->stream.insert(h.tuner->stream.end(), chunk.begin(), chunk.end());
        });
        for (const sim::PlannedService& s : generator.Manifest().transport_streams[0].services) {
            expected.insert(s.service_id);
        }
    }

    // Starts the capture and waits until the processing thread has taken the whole stream.
    void CaptureAll() {
        ASSERT_EQ(h.app->StartStop(), StartError::kNone);
        h.tuner->Release();
        ASSERT_TRUE(h.tuner->WaitDelivered());
        for (int i = 0; i < 5000 && h.app->ChunkBuffer().Held() >= CaptureApp::kBlockSize; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        h.ui_thread.Drain();
    }

    AppHarness h;
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
    CaptureAll();

    std::set<uint16_t> shown;
    for (const ServiceListItem& item : window.ServiceItems()) {
        shown.insert(item.service_id);
        EXPECT_FALSE(item.cells[0].empty()) << item.service_id;
    }
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(window.ServiceItems().size(), 3u) << "one row per service";
    std::set<uint16_t> guide;
    for (const GuideListItem& item : window.GuideItems()) {
        guide.insert(item.service_id);
    }
    EXPECT_EQ(guide, expected);
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
    CaptureAll();
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
    const auto by_event = std::find_if(pending.begin(), pending.end(),
                                       [](const Reservation& r) { return r.ByEvent(); });
    const auto by_date = std::find_if(pending.begin(), pending.end(),
                                      [](const Reservation& r) { return r.ByDate(); });
    ASSERT_NE(by_event, pending.end());
    ASSERT_NE(by_date, pending.end());
    EXPECT_EQ(by_event->ServiceID, first->service_id);
    EXPECT_EQ(by_event->EventID, first->programmes.current.event_id);
    EXPECT_EQ(by_date->Start(), second->programmes.next.start);
    EXPECT_EQ(by_date->RecordSec, second->programmes.next.duration);
    EXPECT_NE(by_date->Flag & RSV_SERVICE_LIMIT, 0u);
    EXPECT_EQ(TextOf(by_date->EnableServiceID), std::to_string(second->service_id));
}

}  // namespace
}  // namespace tavrel
