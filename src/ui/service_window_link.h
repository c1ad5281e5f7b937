#pragma once

// The service window as the capture core sees it: the port's calls forwarded to the window's
// core, the capture's queries lent to it while a capture runs.
#include <cstdint>
#include <span>

#include "app/child_windows.h"
#include "reservation/schedule_commands.h"
#include "ui/service_window_core.h"

namespace tavrel {

class ServiceWindowLink final : public ServiceWindowPort {
public:
    explicit ServiceWindowLink(CServiceWindow& window) : window_(window) {}

    void ShowCaptureState(bool capturing) override { window_.SetCaptureState(capturing); }
    void SwitchFilterOff() override { window_.FilterOff(); }
    void SetBroadcastTime(MjdTime now) override { window_.RelayBroadcastTime(now); }
    // The main window's toggle and the saved place: a hidden window builds no guide rows.
    void SetPlace(const WindowPlace& place) override {
        ServiceWindowPort::SetPlace(place);
        window_.SetVisible(place.visible);
    }

    void Connect(ProcessorQueries* queries, bool program_guide, bool data_broadcast) override;
    void OnNewStream(uint32_t /*end_of_stream*/) override { window_.OnStreamReset(); }
    void OnProgram(const ProgramEntry& program) override {
        window_.OnProgramme(program.program_number, program.pmt_pid);
    }
    void OnStreams(uint16_t program_number, std::span<const StreamEntry> streams) override {
        window_.OnStreams(program_number, streams);
    }
    void OnServiceName(uint16_t service_id, const char* shift_jis_name) override;
    void OnEvent(const EventRecord& event, uint16_t service_id, uint32_t actual) override {
        window_.OnEventRecord(event, service_id, actual == 1);
    }

private:
    CServiceWindow& window_;
};

// The window's reservation requests answered by the schedule's commands.
class ScheduleRequests final : public ReservationRequests {
public:
    explicit ScheduleRequests(ScheduleCommands& commands) : commands_(commands) {}

    int RequestDateReservation(uint16_t service_id, const MjdTime& start, uint32_t duration,
                               std::string_view name) override {
        return commands_.RequestDateReservation(service_id, start, duration, name);
    }
    int RequestEventReservation(uint16_t network_id, uint16_t stream_id, uint16_t service_id,
                                uint16_t event_id, std::string_view name) override {
        return commands_.RequestEventReservation(network_id, stream_id, service_id, event_id, name);
    }

private:
    ScheduleCommands& commands_;
};

}  // namespace tavrel
