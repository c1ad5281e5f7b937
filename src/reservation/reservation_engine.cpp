// The engine half of the reservation manager: the tick that prepares, starts and stops the
// recordings, the updates from the programme guide, output 1 and the status text.
#include <cinttypes>
#include <cstdio>
#include <set>

#include "capture/record_paths.h"
#include "device/dtv_base.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"
#include "reservation/reservation_manager.h"

namespace tavrel {
namespace {

// Applies the start and end offsets (minutes) to a start and length taken from the guide.
void ApplyOffsets(Reservation& r) {
    MjdTime start = r.Start();
    AddSeconds(start, 60 * int64_t{r.OffsetStart});
    r.SetStart(start);
    if (r.RecordSec == kUndeterminedLength) {
        return;
    }
    const int64_t length =
        int64_t{r.RecordSec} + 60 * int64_t{r.OffsetEnd} - 60 * int64_t{r.OffsetStart};
    r.RecordSec = length < 0 ? 0 : static_cast<uint32_t>(length);
}

// Copies what the guide says of the event into the reservation.
void ApplyEvent(Reservation& r, const EventRecord& e) {
    r.eventTableKind = e.kind;
    r.eventVersion = e.version;
    r.SetStart(e.start);
    r.RecordSec = e.duration;
    ApplyOffsets(r);
}

bool NewerThan(const EventRecord& e, const Reservation& r) {
    return e.kind != r.eventTableKind || e.version != r.eventVersion;
}

// Seconds from now to the end of a timed record; nothing when it has no end.
std::optional<int64_t> SecondsToEnd(const Reservation& r, MjdTime now) {
    if (!r.HasKnownStart() || r.RecordSec == kUndeterminedLength) {
        return std::nullopt;
    }
    return r.StartSeconds() + int64_t{r.RecordSec} - now.TotalSeconds();
}

// The end check: at least two seconds past the end.
bool PastEnd(const Reservation& r, MjdTime now) {
    const std::optional<int64_t> left = SecondsToEnd(r, now);
    return left && *left + 1 < 0;
}

}  // namespace

std::string FileNameFromProgramme(std::string_view sjis_name) {
    std::string name = ShiftJisToUtf8(sjis_name);
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F ||
            std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
            c = '_';
        }
    }
    return name;
}

std::string ReservationFilePath(const Reservation& r) {
    std::string path = AddSeparator(TextOf(r.Dir));
    if ((r.Flag & RSV_FILE_GIVEN) != 0) {
        path += TextOf(r.File);
        if (Extension(path).empty()) {
            path += TextOf(r.Ext);
        }
        return path;
    }
    const CalendarDate date = DateFromMjd(r.StartDateMJD);
    const auto hours = static_cast<int>(r.StartTimeSec / 3600);
    const auto minutes = static_cast<int>(r.StartTimeSec / 60 % 60);
    if (r.ByEvent()) {
        path +=
            FormatText("%04d%02d%02d-%02d%02d-", date.year, date.month, date.day, hours, minutes);
        path += FileNameFromProgramme(TextOf(r.eventName));
        path += ".ts";
    } else {
        path +=
            FormatText("%04d%02d%02d-%02d%02d.ts", date.year, date.month, date.day, hours, minutes);
    }
    return path;
}

std::vector<uint16_t> ComputeExcludedPids(const ServicePidTable& table,
                                          std::span<const uint16_t> services) {
    std::set<uint16_t> selected;
    std::set<uint16_t> others;
    for (const auto& [program, streams] : table) {
        const bool kept = std::find(services.begin(), services.end(), program) != services.end();
        for (const StreamEntry& s : streams) {
            (kept ? selected : others).insert(s.elementary_pid);
        }
    }
    std::vector<uint16_t> excluded;
    for (uint16_t pid : others) {
        if (!selected.contains(pid)) {
            excluded.push_back(pid);
        }
    }
    return excluded;
}

std::vector<uint16_t> ReservationManager::ComputeExcludedPids(
    std::span<const uint16_t> services) const {
    Guard lock(lock_);
    return tavrel::ComputeExcludedPids(service_pids_, services);
}

void ReservationManager::ClearServicePids() {
    Guard lock(lock_);
    service_pids_.clear();
}

void ReservationManager::UpdateServicePids(uint16_t program_number,
                                           std::span<const StreamEntry> streams) {
    Guard lock(lock_);
    service_pids_[program_number].assign(streams.begin(), streams.end());
    if (active_ && !active_->services.empty()) {
        active_->excluded_pids = tavrel::ComputeExcludedPids(service_pids_, active_->services);
        if (callbacks_.filter) {
            callbacks_.filter(0, active_->services, active_->excluded_pids);
        }
    }
}

void ReservationManager::SetCurrentTime(MjdTime now) {
    Guard lock(lock_);
    now_ = now;
}

void ReservationManager::ScheduleTick(MjdTime now) {
    {
        Guard lock(lock_);
        now_ = now;
        TickLocked(now);
    }
    AddDeferredRepeats();
}

void ReservationManager::DropActive() {
    active_.reset();  // closes the file
    recording_active_ = false;
}

void ReservationManager::TickLocked(MjdTime now) {
    if (active_ && ActiveIndexLocked() < 0) {
        // Its entry left the list behind the engine's back (a reload): nothing to record for.
        DropActive();
        waiting_for_end_ = false;
    }
    if (pending_.empty()) {
        return;
    }
    UpdateFromEvents(now);

    bool prepare = true;
    if (!waiting_for_end_) {
        if (active_) {
            // The end check follows the active entry wherever the list now puts it.
            if (PastEnd(active_->record, now)) {
                if (recording_active_) {
                    StopReservationRecording(ActiveIndexLocked());
                }
                prepare = false;
            }
        } else {
            // An entry whose end passed with nothing recorded (the program was not running)
            // would hold back every later one: it finishes as invalid.
            while (!pending_.empty() && PastEnd(pending_.front(), now)) {
                FinishLocked(kFinishMissed, 0);
            }
        }
        if (prepare && !pending_.empty() && !recording_active_) {
            const Reservation& e0 = pending_.front();
            if (e0.HasKnownStart() && e0.StartSeconds() - now.TotalSeconds() < kPrepareAhead) {
                PrepareReservation(0);
            }
        }
    }

    const int index = ActiveIndexLocked();
    if (index >= 0 && recording_active_ && !active_->recorder &&
        pending_[static_cast<size_t>(index)].State() == RSV_STATE_PREPARING) {
        active_->record.RecordSec = 0;  // held at 0 until the recording begins
        if (now > active_->actual_start) {
            if (!StartReservationRecording(now, index) && !waiting_for_end_) {
                DropActive();
            }
        }
    }
}

void ReservationManager::PrepareReservation(int index) {
    Reservation& e = pending_[static_cast<size_t>(index)];
    if (device_ != nullptr) {
        const uint32_t capabilities = device_->GetCapabilities();
        if ((e.Flag & RSV_CHANNEL_VALUE) != 0 && (capabilities & kCapabilityChannel) != 0) {
            device_->SetChannel(e.ChVal);
        }
        if ((e.Flag & RSV_CHANNEL_TEXT) != 0 && (capabilities & kCapabilityText) != 0) {
            device_->SendText(std::string(TextOf(e.ChStr)).c_str());
        }
    }
    active_ = std::make_unique<ActiveRecording>();
    active_->actual_start = e.Start();
    AddSeconds(active_->actual_start, -kStartAhead);
    e.SetState(RSV_STATE_PREPARING);
    active_->record = e;
    recording_active_ = true;
    Refresh();
}

bool ReservationManager::StartReservationRecording(MjdTime now, int index) {
    const bool was_waiting = waiting_for_end_;
    waiting_for_end_ = false;
    Reservation& e = pending_[static_cast<size_t>(index)];
    const bool limited = (e.Flag & RSV_SERVICE_LIMIT) != 0;
    const uint16_t sid = e.LimitedService();

    if ((e.Flag & RSV_BY_EVENT) != 0 && limited && callbacks_.event_on_air) {
        EventRecord on_air;
        if (callbacks_.event_on_air(sid, now, on_air)) {
            if (on_air.duration == kUndefinedDuration && on_air.start != e.Start()) {
                // The programme before the reserved one runs on without a known end.
                waiting_for_end_ = true;
                return false;
            }
            if (was_waiting) {
                return false;  // the wait is over: prepared again from the next tick
            }
        }
    }

    if (callbacks_.filter) {
        if (limited) {
            active_->services = {sid};
            active_->excluded_pids = tavrel::ComputeExcludedPids(service_pids_, active_->services);
            callbacks_.filter(0, active_->services, active_->excluded_pids);
        } else {
            callbacks_.filter(0, {}, {});
        }
    }

    std::string path = ReservationFilePath(e);
    MakeUniquePath(path);
    active_->path = path;
    auto recorder = std::make_unique<Recorder>(clock_);
    if (recorder->Open(path)) {
        e.SetState(RSV_STATE_RECORDING);
        active_->record = e;
        active_->recorder = std::move(recorder);
        Refresh();
    } else {
        DropActive();
        FinishLocked(kFinishError, index);
    }
    return true;
}

void ReservationManager::StopReservationRecording(int index) {
    DropActive();
    FinishLocked(kFinishEnded, index);
}

void ReservationManager::UpdateFromEvents(MjdTime now) {
    if (!callbacks_.event_by_id) {
        return;
    }
    if (active_ && (active_->record.Flag & RSV_BY_EVENT) != 0) {
        Reservation& r = active_->record;
        EventRecord e;
        if (callbacks_.event_by_id(r.NetworkID, r.StreamID, r.ServiceID, r.EventID, e)) {
            if (NewerThan(e, r)) {
                ApplyEvent(r, e);
                if (!active_->recorder) {
                    FollowMovedPreparation(now);
                }
            }
            EventRecord on_air;
            if (e.duration == kUndefinedDuration && callbacks_.event_on_air &&
                callbacks_.event_on_air(r.ServiceID, now, on_air) &&
                on_air.event_id != e.event_id) {
                r.RecordSec = 0;  // the open-ended programme is over
            }
        } else {
            r.RecordSec = 0;
        }
    }
    for (size_t i = 0; i < pending_.size(); ++i) {
        Reservation r = pending_[i];
        if ((r.Flag & RSV_BY_EVENT) == 0) {
            continue;
        }
        EventRecord e;
        if (!callbacks_.event_by_id(r.NetworkID, r.StreamID, r.ServiceID, r.EventID, e) ||
            !NewerThan(e, r)) {
            continue;
        }
        CopyText(r.eventName, TextOf(e.name));
        ApplyEvent(r, e);
        StoreLocked(r, static_cast<int>(i));
        return;  // one entry per tick
    }
}

// The guide moved the programme being prepared: the recording starts 5 s before the new start,
// and a start that is no longer near is prepared again in time (tuning included).
void ReservationManager::FollowMovedPreparation(MjdTime now) {
    active_->actual_start = active_->record.Start();
    AddSeconds(active_->actual_start, -kStartAhead);
    if (active_->record.StartSeconds() - now.TotalSeconds() >= kPrepareAhead) {
        const int index = ActiveIndexLocked();
        DropActive();
        waiting_for_end_ = false;
        if (index >= 0) {
            pending_[static_cast<size_t>(index)].SetState(RSV_STATE_WAITING);
        }
        Refresh();
    }
}

void ReservationManager::WriteReservationData(std::span<const uint8_t> data) {
    Guard lock(lock_);
    if (recording_active_ && active_ && active_->recorder) {
        active_->recorder->Write(data);
    }
}

std::string ReservationManager::GetReservationStatus() const {
    Guard lock(lock_);
    const int64_t now = now_.TotalSeconds();
    if (active_) {
        if (waiting_for_end_) {
            return "終了時刻未定の為待機中";
        }
        const uint32_t state = active_->record.State();
        if (state == RSV_STATE_PREPARING) {
            const int64_t n = active_->record.StartSeconds() - now - kStartAhead;
            return n > 0 ? FormatText("予約録画準備中(開始まで%02" PRId64 "秒)", n) : std::string();
        }
        if (state == RSV_STATE_RECORDING && active_->recorder) {
            return FormatText("予約録画中(%" PRIu64 "MB 残%" PRIu64 " MB)",
                              active_->recorder->BytesWritten() >> 20,
                              active_->recorder->GetRecorderFreeSpace() >> 20);
        }
        return std::string();
    }
    if (pending_.empty() || now_.mjd == 0) {
        return std::string();
    }
    const Reservation& e0 = pending_.front();
    if (!e0.HasKnownStart()) {
        return "イベント情報取得待ち";
    }
    const int64_t n = e0.StartSeconds() - now - kPrepareAhead;
    if (n <= 0) {
        return std::string();
    }
    if (n < 60) {
        return FormatText("録画準備まであと%02" PRId64 "秒", n);
    }
    if (n >= kSecondsPerDay) {
        return "１日以内に予約はありません";
    }
    const int64_t m = n / 60;
    const int64_t s = n % 60;
    if (m < 60) {
        return FormatText("録画準備まであと%" PRId64 ":%02" PRId64, m, s);
    }
    return FormatText("録画準備まであと %" PRId64 ":%02" PRId64 ":%02" PRId64, m / 60, m % 60, s);
}

}  // namespace tavrel
