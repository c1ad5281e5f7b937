#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "app/window_state.h"
#include "ts/event_record.h"
#include "ts/mjd_time.h"
#include "ts/program_entries.h"

namespace tavrel {

// What the service window and the reservation engine may ask of the running capture. Every
// call is safe from any thread; those that need the stream processor do nothing and return 0
// while no capture runs.
class ProcessorQueries {
public:
    virtual ~ProcessorQueries() = default;
    // The service's name from the SDTs (NUL-terminated Shift_JIS cut to size): 1 when known.
    virtual int ServiceName(uint16_t service_id, char* destination, uint32_t size) = 0;
    // Output 0 keeps the listed programmes and PIDs (programme-set mode 1); with every list
    // null and empty, output 0 passes everything again. Returns 1 when applied.
    virtual int SetServiceFilter(const uint16_t* programs, uint32_t program_count,
                                 const uint16_t* pids, uint32_t pid_count) = 0;
    // Writes the data-broadcast files of one carousel PID under the folder.
    virtual int WriteDataBroadcast(const std::string& folder, uint16_t pid) = 0;
    // The same for output 1, the reserved recordings, with the engine's mode.
    virtual int ReservationFilter(uint32_t mode, const uint16_t* programs, uint32_t program_count,
                                  const uint16_t* pids, uint32_t pid_count) = 0;
    // One programme event from the processor's store, copied out: 1 when found.
    virtual int EventById(uint16_t service_id, uint16_t event_id, EventRecord& out) = 0;
    virtual int EventOnAir(uint16_t service_id, MjdTime at, EventRecord& out) = 0;
};

// The service window as the capture sees it. This class is the stand-in used until the window
// exists: it keeps its place and ignores everything else. The window derives from it.
//
// Methods marked "processing thread" run inside the stream processor's callback: they must
// not block on the user-interface thread (post to it instead) and must return quickly.
class ServiceWindowPort {
public:
    virtual ~ServiceWindowPort() = default;

    // Main thread.
    virtual void ShowCaptureState(bool /*capturing*/) {}
    // Switch its output filter off (a capture stopped or the device list changed).
    virtual void SwitchFilterOff() {}
    // The broadcast clock: show it and purge the ended events of its own store.
    virtual void SetBroadcastTime(MjdTime /*now*/) {}
    virtual WindowPlace Place() const { return place_; }
    virtual void SetPlace(const WindowPlace& place) { place_ = place; }

    // Processing thread. Connect lends the capture's queries when it starts and takes them
    // back (null) before it ends.
    virtual void Connect(ProcessorQueries* /*queries*/, bool /*program_guide*/,
                         bool /*data_broadcast*/) {}
    virtual void OnNewStream(uint32_t /*end_of_stream*/) {}
    virtual void OnProgram(const ProgramEntry& /*program*/) {}
    virtual void OnStreams(uint16_t /*program_number*/, std::span<const StreamEntry> /*streams*/) {}
    virtual void OnServiceName(uint16_t /*service_id*/, const char* /*shift_jis_name*/) {}
    virtual void OnEvent(const EventRecord& /*event*/, uint16_t /*service_id*/,
                         uint32_t /*actual*/) {}

protected:
    WindowPlace place_;
};

// The reservation engine and its schedule window as the capture sees them: the sink of output
// 1, the table events that follow a reserved service's PIDs, and the reservation clock. This
// class is the stand-in until the engine exists: no reservations, no status text.
class ReservationPort {
public:
    virtual ~ReservationPort() = default;

    // Processing thread, while a capture runs; Connect (null) ends it.
    virtual void Connect(ProcessorQueries* /*queries*/) {}
    // One unit of output 1 (the reservation output).
    virtual void WriteReservationData(std::span<const uint8_t> /*unit*/) {}
    // Table event 2: a new transport stream (a = transport_stream_id) or the stream's end.
    virtual void ClearServicePids(uint32_t /*a*/) {}
    // Table event 17: the elementary streams of one programme.
    virtual void UpdateServicePids(uint16_t /*program_number*/,
                                   std::span<const StreamEntry> /*streams*/) {}

    // Main thread, from every status display run while a capture runs: the reservation clock
    // (system or broadcast time, as the settings say; nothing while no broadcast time has
    // arrived), for the schedule window to store and show. Returns the engine's status text
    // for the status bar, empty when it has none.
    virtual std::string Tick(const std::optional<MjdTime>& /*clock*/) { return {}; }
    // Main thread: the folder for reserved recordings changed; the window closes and its
    // reservations are written to the schedule file.
    virtual void SetAutoPath(const std::string& /*folder*/) {}
    virtual void SaveSchedule() {}
    virtual WindowPlace Place() const { return place_; }
    virtual void SetPlace(const WindowPlace& place) { place_ = place; }

protected:
    WindowPlace place_;
};

}  // namespace tavrel
