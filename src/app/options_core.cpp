#include "app/options_core.h"

#include <cstdio>

#include "platform/file.h"

namespace tavrel {
namespace {

constexpr std::string_view kCaption = "tavrel";

ComboBox PriorityCombo(int32_t value) {
    ComboBox combo;
    combo.Add("標準", 0);
    combo.Add("通常以上", 1);
    combo.Add("高", 2);
    combo.SelectData(static_cast<uint32_t>(value));
    return combo;
}

int32_t PriorityOf(const ComboBox& combo, int32_t keep) {
    const auto data = combo.SelectedData();
    return data ? static_cast<int32_t>(*data) : keep;
}

Control Check(int32_t value) {
    Control c;
    c.checked = value != 0;
    return c;
}

}  // namespace

std::optional<uint32_t> ParseUnsignedEdit(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(value);
}

OptionsDialogCore::OptionsDialogCore(const Settings& settings, const TimerFacts& facts)
    : settings_(settings), facts_(facts) {
    timer_period.text = std::to_string(settings.timer_period);
    char text[96];
    std::snprintf(text, sizeof text, "標準タイマ分解能 : %.2lf ms", facts.increment_ms);
    increment = text;
    std::snprintf(text, sizeof text, "設定可能範囲 : %u - %u", facts.min_period, facts.max_period);
    range = text;
    priority_rec = PriorityCombo(settings.thread_priority_rec);
    priority_res = PriorityCombo(settings.thread_priority_res);
    priority_proc = PriorityCombo(settings.thread_priority_proc);
    auto_file_name = Check(settings.rec_autofilename);
    auto_path.text = settings.rec_autopath;
    decode_psi = Check(settings.decode_psi);
    proc_data = Check(settings.proc_data);
    proc_epg = Check(settings.proc_epg);
    system_time = Check(settings.schedule_use_system_time);
}

std::optional<Settings> OptionsDialogCore::Ok(UiServices& ui) const {
    Settings s = settings_;
    const auto period = ParseUnsignedEdit(timer_period.text);
    // 0 means no timer period at all, whatever the system's range.
    if (!period || *period > INT32_MAX ||
        (*period != 0 && (*period < facts_.min_period || *period > facts_.max_period))) {
        ui.ShowMessage("タイマ精度設定値が不正です", kCaption, MessageButtons::kOk);
        return std::nullopt;
    }
    s.timer_period = static_cast<int32_t>(*period);

    s.rec_autofilename = auto_file_name.checked ? 1 : 0;
    // Checked even with automatic names off: reservations record there too.
    if (!PathExists(auto_path.text)) {
        ui.ShowMessage("保存先パスは無効です", kCaption, MessageButtons::kOk);
        return std::nullopt;
    }
    s.rec_autopath = auto_path.text;

    s.thread_priority_rec = PriorityOf(priority_rec, s.thread_priority_rec);
    s.thread_priority_res = PriorityOf(priority_res, s.thread_priority_res);
    s.thread_priority_proc = PriorityOf(priority_proc, s.thread_priority_proc);
    s.decode_psi = decode_psi.checked ? 1 : 0;
    s.proc_data = proc_data.checked ? 1 : 0;
    s.proc_epg = proc_epg.checked ? 1 : 0;
    s.schedule_use_system_time = system_time.checked ? 1 : 0;
    return s;
}

}  // namespace tavrel
