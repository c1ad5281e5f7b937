#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "capture/recorder.h"
#include "platform/clock.h"
#include "platform/lock.h"
#include "platform/ui_services.h"
#include "reservation/reservation.h"
#include "ts/event_record.h"
#include "ts/mjd_time.h"
#include "ts/program_entries.h"

namespace tavrel {

class CDTV_Base;

// What the engine needs of a running capture. Installed when the processing thread starts and
// removed before its processor goes; each may be empty.
struct ReservationStreamCallbacks {
    // A copy of the event with these ids (network and stream id are passed, not used).
    std::function<bool(uint16_t network_id, uint16_t stream_id, uint16_t service_id,
                       uint16_t event_id, EventRecord& out)>
        event_by_id;
    // A copy of the programme on air on the service at the time.
    std::function<bool(uint16_t service_id, MjdTime at, EventRecord& out)> event_on_air;
    // Limits the reservation output to the services, dropping the PIDs; with both lists empty
    // the output carries the whole stream again.
    std::function<void(uint32_t mode, std::span<const uint16_t> services,
                       std::span<const uint16_t> excluded_pids)>
        filter;
};

// Programme number to the elementary streams of its latest PMT.
using ServicePidTable = std::map<uint16_t, std::vector<StreamEntry>>;

// The elementary PIDs of the table that only programmes outside `services` use, ascending.
// PIDs shared with a kept programme, and PIDs in no stream list, are never excluded.
std::vector<uint16_t> ComputeExcludedPids(const ServicePidTable& table,
                                          std::span<const uint16_t> services);

// The recording of one reservation, from its preparation until it stops or is abandoned.
struct ActiveRecording {
    Reservation record;    // the entry when prepared; refreshed at start and by the guide
    MjdTime actual_start;  // 5 s before the reservation's start
    std::unique_ptr<Recorder> recorder;  // from the moment the file is open
    std::vector<uint16_t> services;      // the service limitation, one entry or none
    std::vector<uint16_t> excluded_pids;
    std::string path;
};

// The pending and finished reservations, their file, and the engine that records them.
//
// One re-entrant lock guards everything. The UI thread runs the list operations, the ticks
// and the status text; the processing thread writes output 1 and the PMT updates. Whatever
// the engine calls while holding the lock (the event store's lookups, the output filter, the
// recorder, the tuner) takes only its own locks, so the order is manager lock first.
// The overlap question is asked with the lock released, so the processing thread never
// waits for the user; public operations must therefore not be called with the lock held.
class ReservationManager {
public:
    static constexpr int64_t kPrepareAhead = 30;
    static constexpr int64_t kStartAhead = 5;
    static constexpr int64_t kStopAfter = 2;

    // ui and device may be null: without a UI overlaps are accepted, without a tuner the
    // channel fields are ignored.
    ReservationManager(const Clock& clock, UiServices* ui, CDTV_Base* device);
    ~ReservationManager();
    ReservationManager(const ReservationManager&) = delete;
    ReservationManager& operator=(const ReservationManager&) = delete;

    // Called after every change of either list, on the thread that made it, with the lock
    // held: it must only post (the schedule window's rebuild).
    void SetRefreshListener(std::function<void()> listener);
    void SetStreamCallbacks(ReservationStreamCallbacks callbacks);
    void ClearStreamCallbacks();
    void SetDefaultFolder(const std::string& folder);
    std::string DefaultFolder() const;
    CDTV_Base* Device() const { return device_; }
    UiServices* Ui() const { return ui_; }
    const Clock& ClockSource() const { return clock_; }

    // schedule.ini. A given path is stored first; nothing happens while no path is stored.
    void LoadSchedule(const std::optional<std::string>& path = std::nullopt);
    // False when nothing could be written.
    bool SaveSchedule(const std::optional<std::string>& path = std::nullopt);

    // Adds (index -1) or replaces entry index; false when the index is bad or the overlap
    // question is answered No.
    bool SetReservation(const Reservation& record, int index);
    // The index of the entry that was `original`, wherever the engine has moved or updated
    // it since; -1 when it is gone.
    int FindEntry(const Reservation& original) const;
    // Moves entry index out of the pending list with the code; a repeat is added after.
    bool FinishReservation(uint32_t code, int index);
    bool IsActiveEntry(int index) const;
    // True to accept: no overlap, or the user forces it.
    bool CheckOverlap(const Reservation& record, int skip);

    std::vector<Reservation> Pending() const;
    std::vector<Reservation> Finished() const;
    void ClearFinished();

    // The schedule window's actions on the entry being prepared or recorded.
    // Abandons the preparation of entry index; false when it is not being prepared.
    bool CancelPreparation(int index);
    // Lets a running recording end at the next tick.
    void EndActiveRecording();
    bool ActiveIsRecording() const;

    // One engine step at `now`, which also becomes the current time.
    void ScheduleTick(MjdTime now);
    void SetCurrentTime(MjdTime now);
    // The status bar's reservation text, UTF-8.
    std::string GetReservationStatus() const;
    // Output 1 of the processor: goes to the active recording, or nowhere.
    void WriteReservationData(std::span<const uint8_t> data);

    // The processor's events 2 (new stream) and 17 (a PMT's streams) for the service limitation.
    void ClearServicePids();
    void UpdateServicePids(uint16_t program_number, std::span<const StreamEntry> streams);
    std::vector<uint16_t> ComputeExcludedPids(std::span<const uint16_t> services) const;

    // For the status display and tests.
    bool RecordingActive() const;
    bool WaitingForEnd() const;
    std::optional<Reservation> ActiveRecord() const;
    std::string ActivePath() const;

private:
    using Guard = std::unique_lock<RecursiveLock>;

    // The index of the entry that was `original`, starting the search at `hint`; -1 when gone.
    int Relocate(const Reservation& original, int hint) const;
    bool FindOverlap(const Reservation& record, int skip) const;
    bool AskOverlap();
    void StoreLocked(const Reservation& record, int index);
    bool FinishLocked(uint32_t code, int index);
    // Adds the repeats that finishing queued, asking about overlaps with the lock released.
    void AddDeferredRepeats();
    int ActiveIndexLocked() const;
    void Refresh();

    void TickLocked(MjdTime now);
    void UpdateFromEvents(MjdTime now);
    void PrepareReservation(int index);
    bool StartReservationRecording(MjdTime now, int index);
    void StopReservationRecording(int index);
    void DropActive();
    void FollowMovedPreparation(MjdTime now);

    const Clock& clock_;
    UiServices* ui_;
    CDTV_Base* device_;

    mutable RecursiveLock lock_;
    std::function<void()> refresh_;
    ReservationStreamCallbacks callbacks_;
    std::string path_;
    std::string default_folder_;
    std::vector<Reservation> pending_;
    std::vector<Reservation> finished_;
    std::vector<Reservation> deferred_repeats_;
    std::unique_ptr<ActiveRecording> active_;
    bool recording_active_ = false;
    bool waiting_for_end_ = false;
    MjdTime now_;
    ServicePidTable service_pids_;
};

// The name of a reserved recording: Dir and File (+ Ext) when given, else the start time and,
// for an event reservation, the programme's name made safe for a file name.
std::string ReservationFilePath(const Reservation& r);
// A programme name (Shift_JIS) as part of a file name: UTF-8, with path separators, characters
// file systems refuse and control characters replaced.
std::string FileNameFromProgramme(std::string_view sjis_name);

}  // namespace tavrel
