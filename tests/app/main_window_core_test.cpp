#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_harness.h"
#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::AppHarness;
using test_support::FakeTuner;
using test_support::ScriptedUi;

std::vector<std::string> Texts(const ComboBox& combo) {
    std::vector<std::string> out;
    for (const ComboEntry& e : combo.entries) {
        out.push_back(e.text);
    }
    return out;
}

TEST(EndpointLists, BulkEndpointsSplitByDirectionWithRememberedSelection) {
    struct Case {
        const char* name;
        std::vector<EndpointInfo> endpoints;
        int32_t last_in, last_out;
        std::vector<std::string> in, out;
        std::string in_selected, out_selected;
        bool in_enabled;
    };
    const Case cases[] = {
        {"only a bulk IN",
         {FakeTuner::Bulk(0x81)},
         0xFFFE,
         0xFFFE,
         {"0x81"},
         {"なし"},
         "0x81",
         "なし",
         true},
        {"interrupt endpoints left out",
         {FakeTuner::Interrupt(0x83), FakeTuner::Bulk(0x86), FakeTuner::Interrupt(0x01),
          FakeTuner::Bulk(0x02)},
         0xFFFE,
         0xFFFE,
         {"0x86"},
         {"なし", "0x02"},
         "0x86",
         "0x02",
         true},
        {"last endpoints preselected",
         {FakeTuner::Bulk(0x81), FakeTuner::Bulk(0x82), FakeTuner::Bulk(0x01),
          FakeTuner::Bulk(0x02)},
         0x81,
         0xFFFF,
         {"0x81", "0x82"},
         {"なし", "0x01", "0x02"},
         "0x81",
         "なし",
         true},
        {"no IN at all",
         {FakeTuner::Bulk(0x02)},
         0xFFFE,
         0xFFFE,
         {},
         {"なし", "0x02"},
         "",
         "0x02",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Settings s;
        s.last_ep_in = c.last_in;
        s.last_ep_out = c.last_out;
        AppHarness h(s);
        h.tuner->endpoints = c.endpoints;
        ASSERT_TRUE(h.Initialise());
        const MainWindowState& w = h.app->Window();
        EXPECT_EQ(Texts(w.endpoint_in), c.in);
        EXPECT_EQ(Texts(w.endpoint_out), c.out);
        EXPECT_EQ(
            w.endpoint_in.selected < 0 ? "" : w.endpoint_in.entries[w.endpoint_in.selected].text,
            c.in_selected);
        EXPECT_EQ(w.endpoint_out.entries[w.endpoint_out.selected].text, c.out_selected);
        EXPECT_EQ(w.endpoint_out.entries[0].data, kNoEndpoint);
        EXPECT_EQ(w.endpoint_in.enabled, c.in_enabled);
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
        EXPECT_EQ(Texts(w.device), h.tuner->names);
        EXPECT_EQ(w.device.selected, count ? 0 : -1);
        EXPECT_EQ(w.connect.enabled, count > 0);
        EXPECT_EQ(w.device.enabled, count > 0);
        EXPECT_EQ(w.endpoint_in.enabled, count > 0);
        EXPECT_FALSE(w.record.enabled);
        EXPECT_FALSE(w.send.enabled);
        EXPECT_EQ(w.recording.text, "録画停止中");  // the status display ran
    }
}

TEST(DeviceSearch, FirmwareInitBoxOnlyForTheFx2Device) {
    for (const auto kind :
         {test_support::TunerKind::kFake, test_support::TunerKind::kSimulatedFx2}) {
        const bool fx2 = kind == test_support::TunerKind::kSimulatedFx2;
        Settings s;
        s.hv_kelvra_init = 1;
        AppHarness h(s, kind);
        ASSERT_TRUE(h.Initialise());
        EXPECT_EQ(h.app->Window().firmware_init.visible, fx2);
        EXPECT_EQ(h.app->Window().firmware_init.enabled, fx2);
        EXPECT_TRUE(h.app->Window().firmware_init.checked);
    }
}

TEST(DeviceSearch, AChangeDuringACaptureWaitsForItsStop) {
    test_support::TempDir dir;
    Settings s;
    s.rec_autofilename = 1;
    s.rec_autopath = dir.Path();
    AppHarness h(s);
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

TEST(DeviceSearch, OpenFailureStopsTheInitialisation) {
    AppHarness h;
    h.tuner->open_result = false;
    EXPECT_FALSE(h.Initialise());
    EXPECT_FALSE(h.app->Window().connect.enabled);
    EXPECT_TRUE(h.app->Window().device.entries.empty());
}

TEST(CloseRule, RefusedWhileCapturingThenStoresTheWindows) {
    Settings s;
    s.chwnd_show = 1;
    s.chwnd_pos_x = 40;
    s.chwnd_pos_y = 50;
    s.last_channel = 13;
    s.last_ep_in = 0x81;
    AppHarness h(s);
    h.tuner->capabilities = kCapabilityChannel;
    ServiceWindowPort service;
    ReservationPort schedule;
    ASSERT_TRUE(h.Initialise(&service, &schedule));
    EXPECT_TRUE(h.app->ChannelWindow().place.placed);
    EXPECT_FALSE(schedule.Place().placed);

    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    EXPECT_FALSE(h.app->Close());
    EXPECT_EQ(h.ui.messages,
              (std::vector<ScriptedUi::Message>{{"接続中は終了できません。", "tavrel"}}));
    h.ui_thread.Drain();
    h.app->ChannelWindow().channels.SelectData(27);
    EXPECT_TRUE(h.app->ChangeChannel());
    h.tuner->Release();
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);

    h.app->Window().place = {120, 80, 0, 0, true, true};
    h.app->ToggleServiceWindow();
    h.app->ToggleChannelWindow();
    ASSERT_TRUE(h.app->Close());
    const Settings& out = h.app->CurrentSettings();
    EXPECT_EQ(out.pos_x, 120);
    EXPECT_EQ(out.pos_y, 80);
    EXPECT_EQ(out.chwnd_show, 0);
    EXPECT_EQ(out.chwnd_pos_x, 40);
    EXPECT_EQ(out.last_channel, 27);
    EXPECT_EQ(out.filtwnd_show, 1);
    EXPECT_EQ(out.filtwnd_pos_x, 0);  // never placed: 0, 0
    EXPECT_EQ(out.schedule_show, 0);
    EXPECT_EQ(out.last_ep_in, 0x81);  // written back as read
}

TEST(CloseRule, AnUnchangedChannelIsKept) {
    Settings s;
    s.last_channel = 13;
    AppHarness h(s);
    ASSERT_TRUE(h.Initialise());
    ASSERT_TRUE(h.app->Close());
    EXPECT_EQ(h.app->CurrentSettings().last_channel, 13);
}

TEST(OptionsDialog, OkValidatesTheTimerAndTheFolder) {
    test_support::TempDir dir;
    struct Case {
        const char* timer;
        std::string path;
        const char* message;  // null: accepted
        int32_t period;
    };
    const Case cases[] = {
        {"0", dir.Path(), nullptr, 0},
        {"1", dir.Path(), nullptr, 1},
        {"1000000", dir.Path(), nullptr, 1000000},
        {"1000001", dir.Path(), "タイマ精度設定値が不正です", 0},
        {"abc", dir.Path(), "タイマ精度設定値が不正です", 0},
        {"-1", dir.Path(), "タイマ精度設定値が不正です", 0},
        {"", dir.Path(), "タイマ精度設定値が不正です", 0},
        {"5", dir.File("missing"), "保存先パスは無効です", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.timer) + " " + c.path);
        ScriptedUi ui;
        Settings s;
        s.thread_priority_proc = 2;
        OptionsDialogCore dialog(s, {15.6, 1, 1000000});
        EXPECT_EQ(dialog.increment, "標準タイマ分解能 : 15.60 ms");
        EXPECT_EQ(dialog.range, "設定可能範囲 : 1 - 1000000");
        EXPECT_EQ(dialog.priority_proc.SelectedData(), 2u);
        dialog.timer_period.text = c.timer;
        dialog.auto_path.text = c.path;
        dialog.priority_rec.SelectData(1);
        dialog.proc_epg.checked = true;
        const std::optional<Settings> result = dialog.Ok(ui);
        if (c.message) {
            EXPECT_FALSE(result.has_value());
            EXPECT_EQ(ui.messages, (std::vector<ScriptedUi::Message>{{c.message, "tavrel"}}));
            continue;
        }
        ASSERT_TRUE(result.has_value());
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(result->timer_period, c.period);
        EXPECT_EQ(result->rec_autopath, c.path);
        EXPECT_EQ(result->thread_priority_rec, 1);
        EXPECT_EQ(result->thread_priority_proc, 2);
        EXPECT_EQ(result->proc_epg, 1);
    }
}

TEST(OptionsDialog, RefusedWhileCapturing) {
    AppHarness h;
    ASSERT_TRUE(h.Initialise());
    ASSERT_EQ(h.app->StartStop(), StartError::kNone);
    EXPECT_FALSE(h.app->OpenOptions().has_value());
    EXPECT_EQ(h.ui.messages,
              (std::vector<ScriptedUi::Message>{{"接続中は設定変更できません", "tavrel"}}));
    h.tuner->Release();
    h.app->StartStop();
    EXPECT_TRUE(h.app->OpenOptions().has_value());
}

TEST(ChannelWindow, FillEnableChangeAndSend) {
    struct Case {
        uint32_t capabilities;
        bool capturing;
        bool channel_controls, text_controls;
    };
    const Case cases[] = {
        {0, true, false, false},
        {kCapabilityChannel, true, true, false},
        {kCapabilityText, true, false, true},
        {kCapabilityChannel | kCapabilityText, false, false, false},
    };
    FakeClock clock;
    for (const Case& c : cases) {
        FakeTuner tuner(clock);
        tuner.capabilities = c.capabilities;
        ChannelWindowCore window(&tuner, -1);
        EXPECT_FALSE(window.change.enabled || window.send.enabled || window.channels.enabled);
        window.SetCapturing(c.capturing);
        EXPECT_EQ(window.channels.enabled, c.channel_controls);
        EXPECT_EQ(window.change.enabled, c.channel_controls);
        EXPECT_EQ(window.text.enabled, c.text_controls);
        EXPECT_EQ(window.send.enabled, c.text_controls);
    }

    FakeTuner tuner(clock);
    tuner.capabilities = kCapabilityChannel | kCapabilityText;
    ChannelWindowCore window(&tuner, -1);
    window.Fill(27);
    EXPECT_EQ(Texts(window.channels), (std::vector<std::string>{"CH13", "CH27"}));
    EXPECT_EQ(window.channels.SelectedData(), 27u);
    window.Fill(5);  // unknown: the first stays selected
    EXPECT_EQ(window.channels.SelectedData(), 13u);
    ASSERT_TRUE(window.Change());
    EXPECT_EQ(window.CurrentChannel(), 13);
    window.channels.Add("broken", 99);
    window.channels.SelectData(99);
    EXPECT_FALSE(window.Change());
    EXPECT_EQ(window.CurrentChannel(), 13);

    window.text.text = std::string(79, 'a') + "あいう";
    EXPECT_EQ(window.Send(), 1);
    EXPECT_EQ(tuner.texts.back(), std::string(79, 'a')) << "never cut inside a character";
    window.Empty();
    EXPECT_TRUE(window.channels.entries.empty());

    FakeTuner plain(clock);
    ChannelWindowCore none(&plain, -1);
    none.Fill(27);
    EXPECT_TRUE(none.channels.entries.empty());
    none.text.text = "x";
    EXPECT_EQ(none.Send(), 0);
    EXPECT_TRUE(plain.texts.empty());
}

}  // namespace
}  // namespace tavrel
