#include "reservation/schedule_commands.h"

#include <cstdio>

#include "device/dtv_base.h"
#include "platform/text_encoding.h"

namespace tavrel {
namespace {

constexpr const char* kWeekdays[] = {"水", "木", "金", "土", "日", "月", "火"};

// "YYYYMMDD-hhmm" of a moment, the stem of the names the prefills propose.
std::string Stem(MjdTime t) {
    const CalendarDate d = DateFromMjd(t.mjd);
    return FormatText("%04d%02d%02d-%02d%02d", d.year, d.month, d.day,
                      static_cast<int>(t.seconds / 3600), static_cast<int>(t.seconds / 60 % 60));
}

}  // namespace

std::string StateLabel(uint32_t state) {
    switch (state) {
        case RSV_STATE_PREPARING:
            return "[ 録画準備中 ]";
        case RSV_STATE_RECORDING:
            return "[ 録画中 ]";
        case RSV_STATE_FINISHED:
            return "[ 終了 ]";
        case RSV_STATE_ERROR:
            return "[ エラー ]";
        case RSV_STATE_INVALID:
            return "[ 無効 ]";
        case RSV_STATE_CANCELLED:
            return "[ キャンセル ]";
        default:
            return std::string();
    }
}

std::array<std::string, 4> ScheduleColumns(const Reservation& r) {
    std::array<std::string, 4> c;
    c[0] = r.ByDate() ? "日付" : r.ByEvent() ? "イベント" : "";
    c[0] += StateLabel(r.State());

    if (r.StartDateMJD != 0) {
        const CalendarDate d = DateFromMjd(r.StartDateMJD);
        const ClockTime t = SplitSeconds(r.StartTimeSec);
        c[1] = FormatText("%04d年%02d月%02d日(%s) %02u時%02u分%02u秒", d.year, d.month, d.day,
                          kWeekdays[r.StartDateMJD % 7], t.hours, t.minutes, t.seconds);
    } else {
        c[1] = FormatText("不明(ID=%04X:%04X:%04X:%04X)", r.NetworkID, r.StreamID, r.ServiceID,
                          r.EventID);
    }

    if (r.RecordSec == kUndeterminedLength) {
        c[2] = "未定";
    } else if (r.StartDateMJD != 0) {
        c[2] = FormatText("%02u 時間 %02u 分 %02u 秒", r.RecordSec / 3600, r.RecordSec / 60 % 60,
                          r.RecordSec % 60);
    } else {
        c[2] = "不明";
    }

    if ((r.Flag & RSV_DAILY) != 0) {
        c[3] += "[毎日]";
    }
    if ((r.Flag & RSV_WEEKLY) != 0) {
        c[3] += "[毎週]";
    }
    if ((r.Flag & RSV_CHANNEL_VALUE) != 0) {
        c[3] += FormatText("[チャンネル設定=%d]", r.ChVal);
    }
    if ((r.Flag & RSV_CHANNEL_TEXT) != 0) {
        c[3] += "[チャンネル文字列=" + std::string(TextOf(r.ChStr)) + "]";
    }
    if ((r.Flag & RSV_SERVICE_LIMIT) != 0) {
        c[3] += "[サービスID=" + std::string(TextOf(r.EnableServiceID)) + "]";
    }
    if ((r.Flag & RSV_FILE_GIVEN) != 0) {
        c[3] += "[ファイル名指定]";
    }
    if (r.ByEvent() && r.eventName[0] != '\0') {
        c[3] += "[" + ShiftJisBufferToUtf8(r.eventName) + "]";
    }
    return c;
}

ScheduleListState BuildScheduleList(const std::vector<Reservation>& pending,
                                    const std::vector<Reservation>& finished, ScheduleView view) {
    ScheduleListState state;
    state.pending_radio = FormatText("録画予約(%d件)", static_cast<int>(pending.size()));
    state.finished_radio = FormatText("録画終了(%d件)", static_cast<int>(finished.size()));
    const std::vector<Reservation>& shown = view == ScheduleView::kPending ? pending : finished;
    for (size_t i = 0; i < shown.size(); ++i) {
        state.rows.push_back({static_cast<int>(i), ScheduleColumns(shown[i])});
    }
    return state;
}

bool ScheduleCommands::SetView(ScheduleView view) {
    if (view == view_) {
        return false;
    }
    view_ = view;
    return true;
}

ScheduleListState ScheduleCommands::Rebuild() const {
    return BuildScheduleList(manager_.Pending(), manager_.Finished(), view_);
}

bool ScheduleCommands::RunEditor(Reservation& record) {
    editor_open_ = true;
    const bool ok = editor_.Run(record);
    editor_open_ = false;
    return ok;
}

void ScheduleCommands::Add() {
    if (!editor_open_ && NewDateReservation(false, 0, {}, 0, {})) {
        manager_.SetReservation(work_, -1);
    }
}

void ScheduleCommands::Change(int selected) {
    const std::vector<Reservation> pending = manager_.Pending();
    if (view_ != ScheduleView::kPending || editor_open_ || selected < 0 ||
        selected >= static_cast<int>(pending.size())) {
        return;
    }
    if (manager_.IsActiveEntry(selected) && manager_.ActiveIsRecording()) {
        if (manager_.Ui() != nullptr) {
            manager_.Ui()->ShowMessage("録画中のアイテムは編集できません。", "",
                                       MessageButtons::kOk);
        }
        return;
    }
    const Reservation original = pending[static_cast<size_t>(selected)];
    Reservation copy = original;
    if (!RunEditor(copy)) {
        return;
    }
    // The engine went on while the dialog was open: the entry is found again by what it was,
    // and one being prepared gives up its preparation for the new settings.
    const int index = manager_.FindEntry(original);
    if (index < 0) {
        return;  // finished meanwhile
    }
    if (manager_.IsActiveEntry(index) &&
        (manager_.ActiveIsRecording() || !manager_.CancelPreparation(index))) {
        return;  // it began recording meanwhile
    }
    manager_.SetReservation(copy, index);
}

void ScheduleCommands::Delete(int selected) {
    if (view_ != ScheduleView::kPending || selected < 0) {
        return;
    }
    if (manager_.IsActiveEntry(selected)) {
        if (manager_.ActiveIsRecording()) {
            manager_.EndActiveRecording();  // finished as ended at the next tick
            return;
        }
        manager_.CancelPreparation(selected);
    }
    manager_.FinishReservation(kFinishDeleted, selected);
}

bool ScheduleCommands::NewDateReservation(bool from_programme, uint16_t service_id, MjdTime start,
                                          uint32_t duration, std::string_view sjis_name) {
    work_ = Reservation();
    work_.Flag = RSV_BY_DATE;
    CopyText(work_.Dir, manager_.DefaultFolder());
    std::string file;
    if (from_programme) {
        work_.Flag |= RSV_SERVICE_LIMIT;
        CopyText(work_.EnableServiceID, std::to_string(service_id));
        work_.SetStart(start);
        work_.RecordSec = duration;
        file = Stem(start);
    } else {
        const MjdTime now = NowLocal(manager_.ClockSource());
        work_.SetStart(now);
        work_.RecordSec = 1800;
        file = Stem(now);
    }
    if (!sjis_name.empty()) {
        work_.Flag |= RSV_FILE_GIVEN;
        file += '-';
        file += FileNameFromProgramme(sjis_name);
    }
    CopyText(work_.File, file);
    CopyText(work_.Ext, ".ts");
    return RunEditor(work_);
}

bool ScheduleCommands::NewEventReservation(uint16_t network_id, uint16_t stream_id,
                                           uint16_t service_id, uint16_t event_id,
                                           std::string_view sjis_name, int channel) {
    if (editor_open_) {
        return false;
    }
    work_ = Reservation();
    CopyText(work_.Dir, manager_.DefaultFolder());
    work_.NetworkID = network_id;
    work_.StreamID = stream_id;
    work_.ServiceID = service_id;
    work_.EventID = event_id;
    work_.Flag = RSV_BY_EVENT | RSV_SERVICE_LIMIT;
    CopyText(work_.EnableServiceID, std::to_string(service_id));
    if (channel != -1) {
        work_.Flag |= RSV_CHANNEL_VALUE;
        work_.ChVal = static_cast<uint8_t>(channel);
    }
    CopyText(work_.File, !sjis_name.empty() ? FileNameFromProgramme(sjis_name)
                                            : Stem(NowLocal(manager_.ClockSource())));
    CopyText(work_.Ext, ".ts");
    return RunEditor(work_);
}

int ScheduleCommands::RequestDateReservation(uint16_t service_id, MjdTime start, uint32_t duration,
                                             std::string_view sjis_name) {
    if (!editor_open_ && NewDateReservation(true, service_id, start, duration, sjis_name)) {
        manager_.SetReservation(work_, -1);
    }
    return 1;
}

int ScheduleCommands::RequestEventReservation(uint16_t network_id, uint16_t stream_id,
                                              uint16_t service_id, uint16_t event_id,
                                              std::string_view sjis_name) {
    CDTV_Base* device = manager_.Device();
    const int channel = device != nullptr && (device->GetCapabilities() & kCapabilityChannel) != 0
                            ? device->GetChannel()
                            : -1;
    if (NewEventReservation(network_id, stream_id, service_id, event_id, sjis_name, channel)) {
        manager_.SetReservation(work_, -1);
    }
    return 1;
}

}  // namespace tavrel
