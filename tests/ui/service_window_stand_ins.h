#pragma once

// Stand-ins for what the service window reaches outside itself (the dialogs are the
// reservation tests' ScriptedUi): the reservation requests, recorded as asked.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "ui/service_window_core.h"

namespace tavrel::testing {

struct ReservationCall {
    bool by_event = false;
    uint16_t network_id = 0;
    uint16_t stream_id = 0;
    uint16_t service_id = 0;
    uint16_t event_id = 0;
    MjdTime start;
    uint32_t duration = 0;
    std::string name;  // UTF-8
    friend bool operator==(const ReservationCall&, const ReservationCall&) = default;
};

struct RecordingReservations final : ReservationRequests {
    std::vector<ReservationCall> calls;

    int RequestDateReservation(uint16_t service_id, const MjdTime& start, uint32_t duration,
                               std::string_view name) override {
        calls.push_back({false, 0, 0, service_id, 0, start, duration, ShiftJisToUtf8(name)});
        return 1;
    }
    int RequestEventReservation(uint16_t network_id, uint16_t stream_id, uint16_t service_id,
                                uint16_t event_id, std::string_view name) override {
        calls.push_back(
            {true, network_id, stream_id, service_id, event_id, {}, 0, ShiftJisToUtf8(name)});
        return 1;
    }
};

struct FilterCall {
    std::vector<uint16_t> services;
    std::vector<uint16_t> pids;
    friend bool operator==(const FilterCall&, const FilterCall&) = default;
};

}  // namespace tavrel::testing
