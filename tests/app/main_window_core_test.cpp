#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_harness.h"
#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::AppHarness;
using test_support::FakeTuner;
using Messages = std::vector<test_support::ScriptedUi::Message>;
using Texts = std::vector<std::string>;

// The selected entry's text ("" for none), then the entries.
Texts Shown(const ComboBox& combo) {
    Texts out{combo.selected < 0 ? "" : combo.entries[static_cast<size_t>(combo.selected)].text};
    for (const ComboEntry& e : combo.entries) {
        out.push_back(e.text);
    }
    return out;
}

TEST(EndpointLists, BulkEndpointsSplitByDirectionWithRememberedSelection) {
    constexpr auto B = FakeTuner::Bulk;
    constexpr auto I = FakeTuner::Interrupt;
    struct Case {
        std::vector<EndpointInfo> endpoints;
        int32_t last_in, last_out;
        Texts in, out;
    };
    constexpr int32_t N = 0xFFFE;  // none remembered
    const std::string X = "なし";
    const Case cases[] = {
        {{B(0x81)}, N, N, {"0x81", "0x81"}, {X, X}},
        // Interrupt endpoints are left out; without a remembered one the last is selected.
        {{I(0x83), B(0x86), I(0x01), B(0x02)}, N, N, {"0x86", "0x86"}, {"0x02", X, "0x02"}},
        {{B(0x81), B(0x82), B(0x01), B(0x02)},
         0x81,
         0xFFFF,
         {"0x81", "0x81", "0x82"},
         {X, X, "0x01", "0x02"}},
        {{B(0x02)}, N, N, {""}, {"0x02", X, "0x02"}},  // no IN at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in[0] + " " + c.out[0]);
        AppHarness h([&](Settings& s) {
            s.last_ep_in = c.last_in;
            s.last_ep_out = c.last_out;
        });
        h.tuner->endpoints = c.endpoints;
        ASSERT_TRUE(h.Initialise());
        const MainWindowState& w = h.app->Window();
        EXPECT_EQ(Shown(w.endpoint_in), c.in);
        EXPECT_EQ(Shown(w.endpoint_out), c.out);
        EXPECT_EQ(w.endpoint_out.entries[0].data, kNoEndpoint);
        EXPECT_EQ(w.endpoint_in.enabled, c.in.size() > 1);
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
        EXPECT_EQ(Shown(w.device), (count ? Texts{"Tuner A", "Tuner A", "Tuner B"} : Texts{""}));
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
    AppHarness h([&](Settings& s) {
        s.rec_autofilename = 1;
        s.rec_autopath = dir.Path();
    });
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
    EXPECT_EQ(Shown(window.channels), (Texts{"CH27", "CH13", "CH27"}));
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

}  // namespace
}  // namespace tavrel
