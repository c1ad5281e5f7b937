#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "app/app_harness.h"
#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::AppHarness;
using test_support::FakeTuner;
using Messages = std::vector<test_support::ScriptedUi::Message>;

constexpr uint64_t kMiB = 1 << 20;

Settings AutoNamed(const std::string& folder) {
    Settings s;
    s.rec_autofilename = 1;
    s.rec_autopath = folder;
    return s;
}

// The selected entry's text ("" for none), then the entries, joined by "|".
std::string Shown(const ComboBox& combo) {
    std::string out = combo.selected < 0 ? "" : combo.entries[size_t(combo.selected)].text;
    for (const ComboEntry& e : combo.entries) {
        out += "|" + e.text;
    }
    return out;
}

TEST(EndpointLists, BulkEndpointsSplitByDirectionWithRememberedSelection) {
    constexpr auto B = FakeTuner::Bulk;
    constexpr auto I = FakeTuner::Interrupt;
    constexpr int32_t N = 0xFFFE;  // none remembered
    const struct {
        std::vector<EndpointInfo> endpoints;
        int32_t last_in, last_out;
        const char *in, *out;
    } cases[] = {
        {{B(0x81)}, N, N, "0x81|0x81", "なし|なし"},
        // Interrupt endpoints are left out; without a remembered one the last is selected.
        {{I(0x83), B(0x86), I(0x01), B(0x02)}, N, N, "0x86|0x86", "0x02|なし|0x02"},
        {{B(0x81), B(0x82), B(0x01), B(0x02)},
         0x81,
         0xFFFF,
         "0x81|0x81|0x82",
         "なし|なし|0x01|0x02"},
        {{B(0x02)}, N, N, "", "0x02|なし|0x02"},  // no IN at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.in) + " " + c.out);
        AppHarness h([&](Settings& s) {
            s.last_ep_in = c.last_in;
            s.last_ep_out = c.last_out;
        });
        h.tuner->endpoints = c.endpoints;
        ASSERT_TRUE(h.Initialise());
        const MainWindowState& w = h.app->Window();
        EXPECT_EQ(std::tuple(Shown(w.endpoint_in), Shown(w.endpoint_out)), std::tuple(c.in, c.out));
        EXPECT_EQ(w.endpoint_out.entries[0].data, kNoEndpoint);
        EXPECT_EQ(w.endpoint_in.enabled, *c.in != 0);
        EXPECT_TRUE(w.endpoint_out.enabled);
    }
}

TEST(DeviceSearch, ListsDevicesAndEnablesConnectOnlyWithOne) {
    for (const size_t count : {0u, 2u}) {
        SCOPED_TRACE(count);
        AppHarness h;
        h.tuner->names = {"Tuner A", "Tuner B"};
        h.tuner->names.resize(count);
        ASSERT_TRUE(h.Initialise());
        const MainWindowState& w = h.app->Window();
        EXPECT_EQ(Shown(w.device), count ? "Tuner A|Tuner A|Tuner B" : "");
        for (const bool enabled : {w.connect.enabled, w.device.enabled, w.endpoint_in.enabled}) {
            EXPECT_EQ(enabled, count > 0);
        }
        EXPECT_FALSE(w.record.enabled || w.send.enabled);
        EXPECT_EQ(w.recording.text, "録画停止中");  // the status display ran
    }
    AppHarness refused;
    refused.tuner->open_result = false;
    EXPECT_FALSE(refused.Initialise());
    EXPECT_FALSE(refused.app->Window().connect.enabled);
    EXPECT_TRUE(refused.app->Window().device.entries.empty());
}

// Decision: a device change during a capture is held until its stop.
TEST(DeviceSearch, AChangeDuringACaptureWaitsForItsStop) {
    test_support::TempDir dir;
    AppHarness h(AutoNamed(dir.Path()));
    ASSERT_TRUE(h.Initialise());
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    ASSERT_TRUE(h.app->StartRecording());
    h.tuner->names.push_back("Plugged in");
    h.tuner->recipient_->OnDeviceChange(true);
    h.ui_thread.Drain();
    EXPECT_NE(h.app->ActiveRecorder(), nullptr) << "the recording goes on";
    EXPECT_EQ(h.app->Window().device.entries.size(), 1u);
    h.tuner->Release();
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    EXPECT_EQ(h.app->Window().device.entries.size(), 2u);
}

// Closing and the options are refused while capturing; closing stores the windows.
TEST(CloseRule, RefusedWhileCapturingThenStoresTheWindows) {
    AppHarness h([&](Settings& s) {
        s.last_ep_in = 0x81;
        s.chwnd_show = 1;
        s.chwnd_pos_x = 40;
        s.chwnd_pos_y = 50;
        s.last_channel = 13;
    });
    h.tuner->capabilities = kCapabilityChannel;
    ServiceWindowPort service;
    ReservationPort schedule;
    ASSERT_TRUE(h.Initialise(&service, &schedule));
    EXPECT_TRUE(h.app->ChannelWindow().place.placed);
    EXPECT_FALSE(schedule.Place().placed);
    ASSERT_TRUE(h.app->Close());
    EXPECT_EQ(h.app->CurrentSettings().last_channel, 13) << "an unchanged channel is kept";

    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    EXPECT_FALSE(h.app->Close());
    EXPECT_FALSE(h.app->OpenOptions().has_value());
    EXPECT_EQ(h.ui.messages, (Messages{{"接続中は終了できません。", "tavrel"},
                                       {"接続中は設定変更できません", "tavrel"}}));
    h.ui_thread.Drain();
    h.app->ChannelWindow().channels.SelectData(27);
    EXPECT_TRUE(h.app->ChangeChannel());
    h.tuner->Release();
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    EXPECT_TRUE(h.app->OpenOptions().has_value());

    h.app->Window().place = {120, 80, 0, 0, true, true};
    h.app->ToggleServiceWindow();
    h.app->ToggleChannelWindow();
    ASSERT_TRUE(h.app->Close());
    const Settings& out = h.app->CurrentSettings();
    EXPECT_EQ(std::tuple(out.pos_x, out.pos_y, out.chwnd_show, out.chwnd_pos_x, out.last_channel),
              std::tuple(120, 80, 0, 40, 27));
    // The service window never placed: 0, 0; the endpoint written back as read.
    EXPECT_EQ(std::tuple(out.filtwnd_show, out.filtwnd_pos_x, out.schedule_show, out.last_ep_in),
              std::tuple(1, 0, 0, 0x81));
}

TEST(OptionsDialog, OkValidatesTheTimerAndTheFolder) {
    test_support::TempDir dir;
    const struct {
        const char* timer;
        std::string path;
        const char* message;  // null: accepted
    } cases[] = {
        {"0", dir.Path(), nullptr},
        {" 1000000 ", dir.Path(), nullptr},
        {"1000001", dir.Path(), "タイマ精度設定値が不正です"},
        {"abc", dir.Path(), "タイマ精度設定値が不正です"},
        {"-1", dir.Path(), "タイマ精度設定値が不正です"},
        {"", dir.Path(), "タイマ精度設定値が不正です"},
        {"5", dir.File("missing"), "保存先パスは無効です"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.timer) + " " + c.path);
        test_support::ScriptedUi ui;
        Settings settings;
        settings.thread_priority_proc = 2;
        OptionsDialogCore dialog(settings, {15.6, 1, 1000000});
        EXPECT_EQ(std::tuple(dialog.increment, dialog.range, dialog.priority_proc.SelectedData()),
                  std::tuple("標準タイマ分解能 : 15.60 ms", "設定可能範囲 : 1 - 1000000", 2u));
        dialog.timer_period.text = c.timer;
        dialog.auto_path.text = c.path;
        dialog.priority_rec.SelectData(1);
        dialog.proc_epg.checked = true;
        const std::optional<Settings> result = dialog.Ok(ui);
        EXPECT_EQ(ui.messages, (c.message ? Messages{{c.message, "tavrel"}} : Messages{}));
        ASSERT_EQ(result.has_value(), c.message == nullptr);
        if (result) {
            EXPECT_EQ(
                std::tuple(result->timer_period, result->rec_autopath, result->thread_priority_rec,
                           result->thread_priority_proc, result->proc_epg),
                std::tuple(std::stoi(c.timer), c.path, 1, 2, 1));
        }
    }
}

TEST(ChannelWindow, FillEnableChangeAndSend) {
    const struct {
        uint32_t capabilities;
        bool capturing;
        bool channel_controls, text_controls;
    } cases[] = {
        {0, true, false, false},
        {kCapabilityChannel, true, true, false},
        {kCapabilityText, true, false, true},
        {kCapabilityChannel | kCapabilityText, false, false, false},
    };
    FakeClock clock;
    for (const auto& c : cases) {
        FakeTuner tuner(clock);
        tuner.capabilities = c.capabilities;
        ChannelWindowCore window(&tuner, -1);
        EXPECT_FALSE(window.change.enabled || window.send.enabled || window.channels.enabled);
        window.SetCapturing(c.capturing);
        EXPECT_EQ(
            std::tuple(window.channels.enabled, window.change.enabled, window.text.enabled,
                       window.send.enabled),
            std::tuple(c.channel_controls, c.channel_controls, c.text_controls, c.text_controls));
        window.Fill(27);
        const bool channels = c.capabilities & kCapabilityChannel;
        const bool text = c.capabilities & kCapabilityText;
        EXPECT_EQ(window.channels.entries.size(), channels ? 2u : 0u);
        window.text.text = "x";
        EXPECT_EQ(window.Send(), text ? 1 : 0);
        EXPECT_EQ(tuner.texts.size(), text ? 1u : 0u);
    }

    FakeTuner tuner(clock);
    tuner.capabilities = kCapabilityChannel | kCapabilityText;
    ChannelWindowCore window(&tuner, -1);
    window.Fill(27);
    EXPECT_EQ(Shown(window.channels), "CH27|CH13|CH27");
    window.Fill(5);  // unknown: the first stays selected
    EXPECT_EQ(window.channels.SelectedData(), 13u);
    ASSERT_TRUE(window.Change());
    EXPECT_EQ(window.CurrentChannel(), 13);
    window.channels.Add("broken", 99);
    window.channels.SelectData(99);
    EXPECT_FALSE(window.Change());
    EXPECT_EQ(window.CurrentChannel(), 13);
    // At most 80 bytes, never cut inside a character.
    for (const auto& [text, sent] : {std::pair{std::string(81, 'a'), std::string(80, 'a')},
                                     {std::string(79, 'a') + "あいう", std::string(79, 'a')}}) {
        window.text.text = text;
        EXPECT_EQ(window.Send(), 1);
        EXPECT_EQ(tuner.texts.back(), sent);
    }
    window.Empty();
    EXPECT_TRUE(window.channels.entries.empty());
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

// The stop timer and "+10分", then zero minutes: until stopped by hand; more than 35 791
// (decision) is clamped to them, the most a 32-bit millisecond tick can count. At the free-space
// bound the status display's stop ends the recording with a message.
TEST(Recording, StopTimerPlusTenMinutesAndTheFreeSpaceStop) {
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

    h.clock.Advance(1000);  // a new automatic name
    w.stop_timer.text = "99999";
    ASSERT_TRUE(h.app->StartRecording());
    EXPECT_EQ(h.app->AutoStopTick(), h.clock.TickCount() + 35791u * 60000);
    h.app->ToggleRecording();
    h.clock.Advance(1000);
    w.stop_timer.text = "0";
    ASSERT_TRUE(h.app->StartRecording());
    EXPECT_EQ(h.app->AutoStopTick(), 0u);
    h.app->AddTenMinutes();  // no timer to extend
    EXPECT_EQ(h.app->AutoStopTick(), 0u);
    h.clock.Advance(0x7FFFFFFF);
    h.app->RunStatusDisplay();
    ASSERT_NE(h.app->ActiveRecorder(), nullptr);
    EXPECT_EQ(w.status_bar[1], "録画自動停止設定なし");

    h.app->SetFreeSpaceProbe([](const Recorder&) { return 200 * kMiB; });
    h.app->RunStatusDisplay();
    EXPECT_EQ(h.app->ActiveRecorder(), nullptr);
    EXPECT_EQ(h.ui.messages,
              (Messages{{"録画先ディスク容量が少ないので録画停止しました。", "ERROR"}}));
    EXPECT_EQ(w.free_space.text, " ");
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
