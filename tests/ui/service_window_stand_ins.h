#pragma once

// Stand-ins for what the service window reaches outside itself: the dialogs, the capture
// core's queries and the reservation requests. Each records what it was asked.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "platform/ui_services.h"
#include "ui/service_window_core.h"

namespace tavrel::testing {

struct RecordingUi final : UiServices {
    std::optional<std::string> folder;  // what the folder picker answers
    std::vector<std::string> messages;

    MessageAnswer ShowMessage(std::string_view text, std::string_view caption,
                              MessageButtons) override {
        messages.push_back(std::string(caption) + ": " + std::string(text));
        return MessageAnswer::kOk;
    }
    std::optional<std::string> PickSaveFile(const SaveFileRequest&) override { return {}; }
    std::optional<std::string> BrowseForFolder() override { return folder; }
};

struct ReservationCall {
    bool by_event = false;
    uint16_t network_id = 0;
    uint16_t stream_id = 0;
    uint16_t service_id = 0;
    uint16_t event_id = 0;
    MjdTime start;
    uint32_t duration = 0;
    std::string name;  // UTF-8
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
};

}  // namespace tavrel::testing
