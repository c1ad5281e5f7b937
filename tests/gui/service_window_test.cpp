// The service window and the provisional guide as a user meets them, on the simulated tuner.
#include "ui/service_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDateTimeEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QToolTip>
#include <filesystem>
#include <set>

#include "app/capture_app.h"
#include "app/main_window.h"
#include "gui/gui_harness.h"
#include "reservation/schedule_window.h"
#include "sim/multiplex.h"

namespace tavrel::testing {
namespace {

// The services the built-in tuner broadcasts.
const std::vector<sim::PlannedService>& Planned() {
    static const std::vector<sim::PlannedService> services = [] {
        sim::MultiplexConfig config = gui::GuiOptions::DefaultTuner().stream.multiplex;
        config.seconds = 60;
        return sim::MultiplexGenerator(config).Manifest().transport_streams[0].services;
    }();
    return services;
}

int RowOf(QTableWidget& list, uint16_t service_id) {
    for (int r = 0; r < list.rowCount(); ++r) {
        if (CellText(list, r, 0).rfind(std::to_string(service_id), 0) == 0) {
            return r;
        }
    }
    return -1;
}

bool AllRowsFilled(QTableWidget& list, int rows, std::initializer_list<int> columns) {
    for (int r = 0; r < rows; ++r) {
        for (const int c : columns) {
            if (CellText(list, r, c).empty()) {
                return false;
            }
        }
    }
    return list.rowCount() == rows;
}

QAction& Command(ServiceWindow& window, uint32_t command) {
    return Child<QAction>(window.Popup(), QString("command_%1").arg(command).toUtf8().constData());
}

// Shows the tip of a cell over the list and writes a picture of the window with it.
void ScreenshotWithTip(QWidget& window, QTableWidget& list, int row, const std::string& name) {
    const QRect cell = list.visualItemRect(list.item(row, 2));
    QToolTip::showText(list.viewport()->mapToGlobal(cell.center()), list.item(row, 2)->toolTip(),
                       list.viewport());
    ProcessEventsUntil([] { return false; }, 300);
    EXPECT_FALSE(SaveScreenshotWithTip(window, name).empty());
    QToolTip::hideText();
}

TEST(ServiceWindowTest, ListsTheServicesShowsTheProgrammesFiltersAndReservesFromTheGuide) {
    GuiHarness h;
    h.WriteIni("[Tavrel_M]\n" + h.AutoRecordingIni() +
               "FILTWND_SHOW=1\nFILTWND_POS_X=40\nFILTWND_POS_Y=60\nFILTWND_SIZE_X=900\n"
               "FILTWND_SIZE_Y=260\nSCHEDULE_SHOW=1\n[Tavrel_M_PSI]\nDECODE_PSI=1\nPROC_EPG=1\n"
               "PROC_DATA=1\n");
    ASSERT_TRUE(h.app->Start());
    h.Find<QPushButton>("connect").click();
    ASSERT_TRUE(h.app->App().Capturing());
    ServiceWindow& window = h.app->Services();
    QTableWidget& list = Child<QTableWidget>(window, "service_list");
    QTableWidget& on_air_list = Child<QTableWidget>(window, "guide_list");
    // Names, programmes on air and streams of the three services.
    ASSERT_TRUE(ProcessEventsUntil(
        [&] {
            return AllRowsFilled(list, 3, {0, 1, 2, 3, 4});
        },
        20000))
        << list.rowCount();
    EXPECT_TRUE(window.isVisible()) << "FILTWND_SHOW=1";
    EXPECT_EQ(window.size(), QSize(900, 260));

    ASSERT_EQ(Planned().size(), 3u);
    for (const sim::PlannedService& s : Planned()) {
        const int row = RowOf(list, s.service_id);
        ASSERT_GE(row, 0) << s.service_id;
        EXPECT_EQ(CellText(list, row, 1), s.name);
        EXPECT_EQ(list.item(row, 0)->checkState(), Qt::Checked) << "a new row is ticked";
        // The programme "19:00 - 19:54 name" with its tip.
        EXPECT_NE(CellText(list, row, 2).find(" - "), std::string::npos);
        const std::string tip = list.item(row, 2)->toolTip().toStdString();
        EXPECT_EQ(tip.rfind(s.name + "(" + std::to_string(s.service_id) + ")", 0), 0u) << tip;
    }
    EXPECT_EQ(list.horizontalHeaderItem(4)->text().toStdString(), "構成PID");
    // The given widths at least, and wide enough for every name in this font.
    EXPECT_GE(list.columnWidth(2), 200);
    for (int r = 0; r < list.rowCount(); ++r) {
        EXPECT_GE(list.columnWidth(1),
                  list.fontMetrics().horizontalAdvance(list.item(r, 1)->text()));
    }
    EXPECT_TRUE(list.showGrid());
    EXPECT_FALSE(SaveScreenshot(window, "service_window").empty());
    ScreenshotWithTip(window, list, 1, "service_window_tooltip");

    // The programmes on air of every service, instead of the service list.
    auto& on_air = Child<QPushButton>(window, "on_air");
    on_air.click();
    EXPECT_TRUE(on_air_list.isVisible() && !list.isVisible());
    ASSERT_TRUE(ProcessEventsUntil([&] { return AllRowsFilled(on_air_list, 3, {0, 1, 2}); }));
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(CellText(on_air_list, r, 0).back(), '*') << "services of this stream";
    }
    ScreenshotWithTip(window, on_air_list, 0, "service_window_on_air");
    on_air.click();
    EXPECT_TRUE(list.isVisible());

    // Untick one service and run the filter: the recording leaves it out. This is the only test
    // of the whole path from the tick to the recorded file.
    const uint16_t dropped = Planned()[0].service_id;
    list.item(RowOf(list, dropped), 0)->setCheckState(Qt::Unchecked);
    auto& filter = Child<QPushButton>(window, "filter");
    filter.click();
    EXPECT_TRUE(filter.isChecked() && window.Core().FilterActive());
    EXPECT_FALSE(list.isEnabled()) << "the ticks cannot change while filtering";
    auto& record = h.Find<QPushButton>("record");
    record.click();
    ASSERT_NE(h.app->App().ActiveRecorder(), nullptr);
    const std::string path = h.app->App().ActiveRecorder()->FilePath();
    ASSERT_TRUE(ProcessEventsUntil([&] {
        std::error_code ec;
        return std::filesystem::file_size(path, ec) > (1u << 20);
    }));
    record.click();
    filter.click();
    EXPECT_FALSE(filter.isChecked() || window.Core().FilterActive());
    EXPECT_TRUE(list.isEnabled());

    // The guide of a service: the programme chosen there is reserved by its event id.
    list.selectRow(1);
    const uint16_t service_id = static_cast<uint16_t>(std::stoi(CellText(list, 1, 0)));
    for (const uint32_t command : {kCommandGuide, kCommandDateReserveCurrent}) {
        EXPECT_TRUE(Command(window, command).isEnabled()) << command;
    }

    // Wait for a few programmes of the service in the window's store.
    ASSERT_TRUE(ProcessEventsUntil([&] {
        std::vector<EventRecord> events;
        return window.Core().Events().SortedEvents(service_id, events) && events.size() >= 3;
    }));
    std::string chosen_line;
    WhenModal("guide_dialog", [&](QWidget& dialog) {
        auto& lines = Child<QListWidget>(dialog, "guide_lines");
        EXPECT_TRUE(lines.count() >= 3 && lines.isEnabled());
        lines.setCurrentRow(1);
        chosen_line = lines.item(1)->text().toStdString();
        EXPECT_FALSE(SaveScreenshot(dialog, "guide_dialog").empty());
        WhenModal("reservation_edit_dialog", [&](QWidget& edit) {
            // An event whose start the guide knows, but the record does not yet.
            auto& length = Child<QDateTimeEdit>(edit, "length");
            EXPECT_EQ(Child<QDateTimeEdit>(edit, "start_date").text().toStdString(), "指定なし");
            EXPECT_EQ(length.text().toStdString(), "指定なし");
            EXPECT_FALSE(length.isEnabled());
            EXPECT_FALSE(SaveScreenshot(edit, "edit_dialog_event").empty());
            Child<QPushButton>(edit, "ok").click();
        });
        Child<QPushButton>(dialog, "reserve").click();
    });
    Command(window, kCommandGuide).trigger();

    // "2008/03/15(土) 19:00-19:54 [0x1A2B] name": the reservation carries that event id.
    ASSERT_NE(chosen_line.find("[0x"), std::string::npos) << chosen_line;
    const uint16_t event_id = static_cast<uint16_t>(
        std::stoi(chosen_line.substr(chosen_line.find("[0x") + 3, 4), nullptr, 16));
    const std::vector<Reservation> pending = h.app->Schedule().Manager().Pending();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(std::tuple(pending[0].ByEvent(), pending[0].ServiceID, pending[0].EventID),
              std::tuple(true, service_id, event_id));
    auto& schedule_list = Child<QTableWidget>(h.app->Schedule(), "schedule_list");
    // The engine's change reaches the schedule window through the UI thread.
    ASSERT_TRUE(ProcessEventsUntil([&] { return schedule_list.rowCount() == 1; }));
    EXPECT_EQ(CellText(schedule_list, 0, 0).rfind("イベント", 0), 0u);

    // Closing the guide reserves nothing.
    WhenModal("guide_dialog", [](QWidget& dialog) { Child<QPushButton>(dialog, "close").click(); });
    Command(window, kCommandGuide).trigger();
    EXPECT_EQ(h.app->Schedule().Manager().Pending().size(), 1u);

    h.Find<QPushButton>("connect").click();
    EXPECT_FALSE(filter.isEnabled()) << "no capture, no filter";

    std::set<uint16_t> recorded, kept;
    for (const cli::ProgrammeReport& p : AnalyzeFile(path).programmes) {
        recorded.insert(p.service_id);
    }
    for (const sim::PlannedService& s : Planned()) {
        if (s.service_id != dropped) {
            kept.insert(s.service_id);
        }
    }
    EXPECT_EQ(recorded, kept);

    // Hidden by its close box; its place and visibility go to the settings.
    window.close();
    EXPECT_FALSE(window.isVisible());
    window.Core().SetCaptureState(false);
    ASSERT_TRUE(h.app->Main().close());
    h.ExpectIni({"FILTWND_SHOW=0", "FILTWND_SIZE_X=900"});
}

}  // namespace
}  // namespace tavrel::testing
