#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "app/app_harness.h"
#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::AppHarness;
using Messages = std::vector<test_support::ScriptedUi::Message>;

constexpr uint64_t kMiB = 1 << 20;

Settings AutoNamed(const std::string& folder) {
    Settings s;
    s.rec_autofilename = 1;
    s.rec_autopath = folder;
    return s;
}

TEST(Recording, StartFailuresShowOneMessageAndCreateNothing) {
    test_support::TempDir dir;
    const struct {
        const char* name;
        Settings settings;
        std::optional<std::string> picked;
        Messages messages;
    } cases[] = {
        {"automatic folder missing",
         AutoNamed(dir.File("missing")),
         std::nullopt,
         {{"", "tavrel"}, {"開始に失敗しました", "tavrel"}}},
        {"picker cancelled", Settings{}, std::nullopt, {{"開始に失敗しました", "tavrel"}}},
        {"file cannot be created",
         Settings{},
         dir.File("no/such/folder/x.ts"),
         {{"開始に失敗しました", "tavrel"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppHarness h(c.settings);
        h.ui.save_path = c.picked;
        ASSERT_TRUE(h.Initialise());
        h.app->Window().stop_timer.enabled = false;
        h.app->Window().record.checked = true;
        EXPECT_FALSE(h.app->StartRecording());
        EXPECT_EQ(h.ui.messages, c.messages);
        EXPECT_EQ(h.app->ActiveRecorder(), nullptr);
        EXPECT_TRUE(h.app->Window().stop_timer.enabled);
        EXPECT_FALSE(h.app->Window().record.checked);
        EXPECT_EQ(h.app->AutoStopTick(), 0u);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(Recording, StopTimerAndPlusTenMinutes) {
    test_support::TempDir dir;
    AppHarness h(AutoNamed(dir.Path()));
    ASSERT_TRUE(h.Initialise());
    MainWindowState& w = h.app->Window();

    // Without a recording "+10分" counts up the edit.
    w.stop_timer.text = "5";
    h.app->AddTenMinutes();
    EXPECT_EQ(w.stop_timer.text, "15");

    const uint32_t start = h.clock.TickCount();
    ASSERT_TRUE(h.app->StartRecording());
    EXPECT_TRUE(PathExists(dir.File("cap-20090102-030405.ts")));
    EXPECT_EQ(h.app->CurrentSettings().rec_time, 15);
    EXPECT_FALSE(w.stop_timer.enabled);
    EXPECT_EQ(h.app->AutoStopTick(), start + 15 * 60000);
    h.app->AddTenMinutes();
    EXPECT_EQ(h.app->AutoStopTick(), start + 25 * 60000);
    EXPECT_EQ(w.stop_timer.text, "15");

    h.clock.Advance(65'000);
    h.app->RunStatusDisplay();
    EXPECT_EQ(w.status_bar, (std::array<std::string, 3>{"1:05", "23:55 後に自動停止", " "}));
    EXPECT_EQ(w.recording.text, "録画バッファ中");

    h.clock.Advance(25 * 60000 - 65'000);
    h.app->RunStatusDisplay();
    EXPECT_EQ(h.app->ActiveRecorder(), nullptr);
    EXPECT_EQ(w.status_bar, (std::array<std::string, 3>{" ", "自動停止処理中", " "}));
    EXPECT_EQ(std::tuple(w.recording.text, w.record.text), std::tuple("録画停止中", "録画開始"));
    EXPECT_TRUE(w.stop_timer.enabled);
    EXPECT_TRUE(h.ui.messages.empty());
}

// Zero minutes records until stopped by hand; more than 35 791 (decision) is clamped to them,
// the most a 32-bit millisecond tick can count.
TEST(Recording, StopTimerZeroMeansNoneAndLargeIsClamped) {
    test_support::TempDir dir;
    AppHarness h(AutoNamed(dir.Path()));
    ASSERT_TRUE(h.Initialise());
    h.app->Window().stop_timer.text = "99999";
    ASSERT_TRUE(h.app->StartRecording());
    EXPECT_EQ(h.app->AutoStopTick(), h.clock.TickCount() + 35791u * 60000);
    h.app->ToggleRecording();

    h.clock.Advance(1000);
    h.app->Window().stop_timer.text = "0";
    ASSERT_TRUE(h.app->StartRecording());
    EXPECT_EQ(h.app->AutoStopTick(), 0u);
    h.app->AddTenMinutes();  // no timer to extend
    EXPECT_EQ(h.app->AutoStopTick(), 0u);
    h.clock.Advance(0x7FFFFFFF);
    h.app->RunStatusDisplay();
    ASSERT_NE(h.app->ActiveRecorder(), nullptr);
    EXPECT_EQ(h.app->Window().status_bar[1], "録画自動停止設定なし");
    h.app->ToggleRecording();
    EXPECT_EQ(h.app->ActiveRecorder(), nullptr);
}

// At the bound the status display's stop ends the recording with a message.
TEST(Recording, LowFreeSpaceStopsTheRecording) {
    test_support::TempDir dir;
    AppHarness h(AutoNamed(dir.Path()));
    ASSERT_TRUE(h.Initialise());
    h.app->SetFreeSpaceProbe([](const Recorder&) { return 200 * kMiB; });
    ASSERT_TRUE(h.app->StartRecording());
    h.app->RunStatusDisplay();
    EXPECT_EQ(h.app->ActiveRecorder(), nullptr);
    EXPECT_EQ(h.ui.messages,
              (Messages{{"録画先ディスク容量が少ないので録画停止しました。", "ERROR"}}));
    EXPECT_EQ(h.app->Window().free_space.text, " ");
}

// Decision: a port above 65535 or a datagram above 65507 fails the start.
TEST(Sending, StartFailuresAndTheControlsOfARunningSender) {
    const struct {
        const char* address;
        const char* port;
        const char* size;
        bool ok;
    } cases[] = {
        {"127.0.0.1", "65535", "65507", true},
        {"no-such-host.invalid", "1234", "32767", false},
        {"127.0.0.1", "65536", "32767", false},
        {"127.0.0.1", "1234", "65508", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address + std::string(":") + c.port + "/" + c.size);
        AppHarness h;
        ASSERT_TRUE(h.Initialise());
        MainWindowState& w = h.app->Window();
        w.address.text = c.address;
        w.port.text = c.port;
        w.packet_size.text = c.size;
        w.send.checked = true;
        EXPECT_EQ(h.app->StartSending(), c.ok);
        EXPECT_EQ(w.send.checked, c.ok);
        EXPECT_EQ(h.app->ActiveSender() != nullptr, c.ok);
        EXPECT_EQ(w.address.enabled, !c.ok);
        EXPECT_EQ(h.app->CurrentSettings().network_address, c.address);
        if (!c.ok) {
            EXPECT_EQ(h.ui.messages, (Messages{{"開始に失敗しました", "tavrel"}}));
            continue;
        }
        EXPECT_EQ(w.send.text, "送信停止");
        h.app->RunStatusDisplay();
        EXPECT_EQ(w.udp.text, "送信バッファ中");
        h.app->ToggleSending();
        EXPECT_EQ(h.app->ActiveSender(), nullptr);
        EXPECT_EQ(w.send.text, "送信開始");
        EXPECT_TRUE(w.address.enabled && w.port.enabled && w.packet_size.enabled);
        h.app->RunStatusDisplay();
        EXPECT_EQ(w.udp.text, "送信停止中");
    }
}

}  // namespace
}  // namespace tavrel
