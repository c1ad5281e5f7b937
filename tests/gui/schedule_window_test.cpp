// The schedule window and the reservation edit dialog as a user meets them: a reservation made
// in the dialog is prepared, recorded and finished by the running capture.
#include "reservation/schedule_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimeEdit>
#include <filesystem>

#include "app/capture_app.h"
#include "app/main_window.h"
#include "gui/gui_harness.h"

namespace tavrel::testing {
namespace {

TEST(ScheduleWindowTest, AddsADateReservationThatIsRecordedAndFinished) {
    GuiHarness h;
    const std::string recordings = h.dir.File("recordings");
    std::filesystem::create_directories(recordings);
    h.WriteIni(
        "[Tavrel_M]\nSCHEDULE_SHOW=1\nSCHEDULE_POS_X=30\nSCHEDULE_POS_Y=40\n"
        "SCHEDULE_SIZE_X=720\nSCHEDULE_SIZE_Y=280\n"
        "[Tavrel_M_SCHEDULE]\nSCHEDULE_USE_SYSTEM_TIME=1\n");
    ASSERT_TRUE(h.app->Start());
    ScheduleWindow& window = h.app->Schedule();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.size(), QSize(720, 280));
    auto& pending = Child<QRadioButton>(window, "view_pending");
    auto& finished = Child<QRadioButton>(window, "view_finished");
    auto& list = Child<QTableWidget>(window, "schedule_list");
    EXPECT_EQ(std::tuple(pending.text().toStdString(), finished.text().toStdString(),
                         list.horizontalHeaderItem(1)->text().toStdString(), list.columnWidth(3)),
              std::tuple("録画予約(0件)", "録画終了(0件)", "開始日時", 250));
    EXPECT_TRUE(pending.isChecked());

    // "追加": the dialog comes prefilled with now and 30 minutes; a missing folder is refused
    // and the dialog stays; a start in a few seconds for five seconds is taken.
    WhenModal("reservation_edit_dialog", [&](QWidget& dialog) {
        auto& time = Child<QTimeEdit>(dialog, "start_time");
        auto& length = Child<QTimeEdit>(dialog, "length");
        EXPECT_EQ(
            std::tuple(Child<QComboBox>(dialog, "kind").currentText().toStdString(),
                       Child<QDateEdit>(dialog, "start_date").text().toStdString(),
                       length.text().toStdString()),
            std::tuple("日時指定", QDate::currentDate().toString("yyyy年MM月dd日").toStdString(),
                       "00時間30分00秒"));
        for (const char* name : {"kind", "channel", "event_id"}) {
            EXPECT_FALSE(Child<QWidget>(dialog, name).isEnabled()) << name;
        }
        EXPECT_FALSE(SaveScreenshot(dialog, "edit_dialog_date").empty());

        Child<QLineEdit>(dialog, "dir").setText(QString::fromStdString(h.dir.File("missing")));
        Child<QPushButton>(dialog, "ok").click();
        EXPECT_TRUE(dialog.isVisible());
        ASSERT_FALSE(h.ui.messages.empty());
        EXPECT_EQ(h.ui.messages.back().text, "無効なパスです。");

        Child<QLineEdit>(dialog, "dir").setText(QString::fromStdString(recordings));
        time.setTime(QTime::currentTime().addSecs(8));
        length.setTime(QTime(0, 0, 5));
        Child<QPushButton>(dialog, "ok").click();
    });
    Child<QPushButton>(window, "add").click();
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(std::tuple(CellText(list, 0, 0), CellText(list, 0, 2), pending.text().toStdString()),
              std::tuple("日付", "00 時間 00 分 05 秒", "録画予約(1件)"));

    // The capture runs the engine: prepared, recorded, finished.
    h.Find<QPushButton>("connect").click();
    ASSERT_TRUE(h.app->App().Capturing());
    ASSERT_TRUE(ProcessEventsUntil([&] { return CellText(list, 0, 0) == "日付[ 録画中 ]"; }, 30000))
        << CellText(list, 0, 0);
    EXPECT_FALSE(SaveScreenshot(window, "schedule_window_recording").empty());
    list.selectRow(0);
    h.ui.messages.clear();
    Child<QPushButton>(window, "change").click();
    ASSERT_EQ(h.ui.messages.size(), 1u);
    EXPECT_EQ(h.ui.messages[0].text, "録画中のアイテムは編集できません。");
    ASSERT_TRUE(ProcessEventsUntil([&] { return finished.text().toStdString() == "録画終了(1件)"; },
                                   30000));
    EXPECT_EQ(pending.text().toStdString(), "録画予約(0件)");
    h.Find<QPushButton>("connect").click();

    // A second one for tomorrow stays pending.
    WhenModal("reservation_edit_dialog", [&](QWidget& dialog) {
        auto& date = Child<QDateEdit>(dialog, "start_date");
        date.setDate(date.date().addDays(1));
        Child<QCheckBox>(dialog, "file_given").setChecked(true);
        Child<QPushButton>(dialog, "ok").click();
    });
    Child<QPushButton>(window, "add").click();
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(CellText(list, 0, 3), "[ファイル名指定]");
    EXPECT_FALSE(SaveScreenshot(window, "schedule_window_pending").empty());

    finished.click();
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(CellText(list, 0, 0), "日付[ 終了 ]");
    EXPECT_FALSE(SaveScreenshot(window, "schedule_window_finished").empty());
    // The buttons reach the lists.
    Child<QPushButton>(window, "clear_finished").click();
    EXPECT_EQ(std::tuple(list.rowCount(), finished.text().toStdString()),
              std::tuple(0, "録画終了(0件)"));
    pending.click();
    list.selectRow(0);
    Child<QPushButton>(window, "delete").click();
    EXPECT_EQ(pending.text().toStdString(), "録画予約(0件)");

    // Hidden by its close box, shown again by the menu with its size and view.
    window.close();
    EXPECT_FALSE(window.isVisible());
    h.app->App().ToggleScheduleWindow();
    EXPECT_TRUE(window.isVisible() && window.size() == QSize(720, 280));
    ASSERT_TRUE(h.app->Main().close());
    h.ExpectIni({"SCHEDULE_SHOW=1", "SCHEDULE_SIZE_X=720"});
}

}  // namespace
}  // namespace tavrel::testing
