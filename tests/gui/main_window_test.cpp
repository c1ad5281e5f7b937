#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "app/capture_app.h"
#include "app/channel_window.h"
#include "gui/gui_harness.h"
#include "platform/loopback_receiver.h"

namespace tavrel::testing {
namespace {

std::string Text(QLabel& label) {
    return label.text().toStdString();
}

// Opens in Japanese on the simulated tuner, where it was closed, with the stop timer from the
// settings; the tuner pulled out and plugged in again reaches the window through the UI thread
// (the device list empties and fills without the user pressing "再検索"). Then the whole road of
// a user: connect, watch the figures, record with an automatic name, send to a local port, be
// refused closing while capturing, stop, and close with the windows' places and the endpoint
// in tavrel.ini.
TEST(MainWindowTest, FollowsTheTunerCapturesRecordsSendsAndClosesWithTheSettingsKept) {
    test_support::LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    // The rate of a satellite multiplex, the most a capture has to carry.
    gui::GuiOptions satellite;
    satellite.tuner.stream.multiplex.bitrate = 24'000'000;
    GuiHarness h(satellite);
    h.WriteIni("[Tavrel_M]\n" + h.AutoRecordingIni() +
               "NETWORK_ADDRESS=127.0.0.1\nNETWORK_PORT=" + std::to_string(receiver.Port()) +
               "\nNETWORK_SEND_SIZE=1316\nLAST_EP_IN=129\nPOS_X=210\nPOS_Y=60\nREC_TIME=30\n"
               "CHWND_SHOW=1\nCHWND_POS_X=500\nCHWND_POS_Y=40\n");
    bool closed = false;
    h.app->SetClosedHandler([&] { closed = true; });
    ASSERT_TRUE(h.app->Start());
    auto& device = h.Find<QComboBox>("device");
    auto& connect = h.Find<QPushButton>("connect");
    ASSERT_EQ(device.count(), 1);
    EXPECT_EQ(device.itemText(0).toStdString(), "Simulated FX2 tuner");
    EXPECT_EQ(connect.text().toStdString(), "接続");
    EXPECT_TRUE(connect.isEnabled());
    EXPECT_FALSE(h.Find<QPushButton>("record").isEnabled() ||
                 h.Find<QPushButton>("send").isEnabled());
    EXPECT_EQ(std::tuple(Text(h.Find<QLabel>("recording")), Text(h.Find<QLabel>("udp"))),
              std::tuple("録画停止中", "送信停止中"));
    EXPECT_TRUE(h.app->Main().isVisible());
    EXPECT_EQ(h.app->Main().pos(), QPoint(210, 60));
    EXPECT_FALSE(SaveScreenshot(h.app->Main(), "main_window_idle").empty());
    auto& stop_timer = h.Find<QLineEdit>("stop_timer");
    EXPECT_EQ(stop_timer.text().toStdString(), "30");
    h.Find<QPushButton>("plus_ten").click();
    EXPECT_EQ(stop_timer.text().toStdString(), "40");
    QWidget& channel = h.app->Main().Channel();
    EXPECT_TRUE(channel.isVisible());
    EXPECT_EQ(channel.pos(), QPoint(500, 40));

    h.app->Driver()->Unplug(0);
    ASSERT_TRUE(ProcessEventsUntil([&] { return device.count() == 0; }));
    EXPECT_FALSE(connect.isEnabled() || device.isEnabled());
    h.app->Driver()->Plug(0);
    ASSERT_TRUE(ProcessEventsUntil([&] { return device.count() == 1; }));
    EXPECT_TRUE(connect.isEnabled());
    EXPECT_EQ(h.Find<QComboBox>("endpoint_in").currentText().toStdString(), "0x81");

    MainWindow& main = h.app->Main();
    CaptureApp& app = h.app->App();
    auto& record = h.Find<QPushButton>("record");
    auto& success = h.Find<QLabel>("success");
    auto& time = h.Find<QLabel>("broadcast_time");

    connect.click();
    ASSERT_TRUE(app.Capturing()) << (h.ui.messages.empty() ? "" : h.ui.messages[0].text);
    EXPECT_TRUE(connect.isChecked() && record.isEnabled());
    EXPECT_FALSE(device.isEnabled());

    // The figures move on by themselves: posted status displays, no test code in between.
    ASSERT_TRUE(ProcessEventsUntil([&] { return Text(success) != "0" && !Text(time).empty(); }));
    const std::string first_success = Text(success);
    const std::string first_time = Text(time);
    const uint64_t batches_before = h.app->UiThread().BatchCost().batches;
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return Text(success) != first_success && Text(time) != first_time; }));
    EXPECT_EQ(Text(h.Find<QLabel>("packet_length")), "188");
    EXPECT_NE(Text(h.Find<QLabel>("rate")), "0.00 Mbps");

    record.click();
    ASSERT_NE(app.ActiveRecorder(), nullptr);
    const std::string recording = app.ActiveRecorder()->FilePath();
    EXPECT_EQ(recording.rfind(h.dir.File("recordings/cap-"), 0), 0u) << recording;
    EXPECT_TRUE(record.isChecked());
    EXPECT_FALSE(stop_timer.isEnabled());

    h.Find<QPushButton>("send").click();
    ASSERT_NE(app.ActiveSender(), nullptr);
    const auto datagram = receiver.Receive(5000);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->size(), 1316u);
    EXPECT_EQ((*datagram)[0], 0x47);

    ASSERT_TRUE(ProcessEventsUntil([&] {
        std::error_code ec;
        return std::filesystem::file_size(recording, ec) > (3u << 20) &&
               Text(h.Find<QLabel>("recording")).rfind("録画中 ", 0) == 0 &&
               Text(h.Find<QLabel>("udp")).rfind("送信中(127.0.0.1) ", 0) == 0;
    }));
    EXPECT_NE(Text(h.Find<QLabel>("status_1")).find(" 後に自動停止"), std::string::npos);
    EXPECT_FALSE(SaveScreenshot(main, "main_window_capturing").empty());

    // The core refuses closing while capturing: the window stays, the capture goes on.
    EXPECT_FALSE(main.close());
    EXPECT_TRUE(main.isVisible() && app.Capturing() && !closed);
    EXPECT_GE(h.app->UiThread().BatchCost().batches - batches_before, 3u)
        << "the status display refreshes about three times a second";

    record.click();
    h.Find<QPushButton>("send").click();
    connect.click();
    EXPECT_FALSE(app.Capturing() || connect.isChecked());
    EXPECT_EQ(Text(h.Find<QLabel>("recording")), "録画停止中");

    // Recorded in real time at the satellite rate, the file is still a clean stream.
    const cli::StreamReport stream = AnalyzeFile(recording).stream;
    ASSERT_GT(stream.bytes, 3u << 20);
    EXPECT_EQ(std::tuple(stream.packet_length, stream.bytes % 188, stream.sync_errors,
                         stream.discontinuities),
              std::tuple(188u, 0u, 0u, 0u));

    main.move(140, 90);
    EXPECT_TRUE(main.close());
    EXPECT_TRUE(closed);
    h.ExpectIni({"POS_X=140", "POS_Y=90", "LAST_EP_IN=129", "CHWND_SHOW=1", "CHWND_POS_X=500"});
}

}  // namespace
}  // namespace tavrel::testing
