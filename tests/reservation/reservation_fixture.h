#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui_services.h"
#include "reservation/reservation.h"
#include "reservation/reservation_manager.h"
#include "support/timed_event.h"
#include "ts/mjd_time.h"

namespace tavrel::testing {

inline MjdTime At(int year, int month, int day, int hour, int minute, int second) {
    return {MjdFromDate(month, year, day),
            static_cast<uint32_t>(hour * 3600 + minute * 60 + second)};
}

inline MjdTime Plus(MjdTime t, int64_t seconds) {
    AddSeconds(t, seconds);
    return t;
}

inline Reservation DateReservation(MjdTime start, uint32_t length, uint32_t extra_flags = 0) {
    Reservation r;
    r.Flag = RSV_BY_DATE | extra_flags;
    r.SetStart(start);
    r.RecordSec = length;
    return r;
}

inline Reservation EventReservation(uint16_t service, uint16_t event, uint32_t extra_flags = 0) {
    Reservation r;
    r.Flag = RSV_BY_EVENT | RSV_SERVICE_LIMIT | extra_flags;
    r.ServiceID = service;
    r.EventID = event;
    CopyText(r.EnableServiceID, std::to_string(service));
    return r;
}

// Answers every question with the configured button and keeps what was asked; the folder
// picker answers `folder`.
class ScriptedUi final : public UiServices {
public:
    MessageAnswer answer = MessageAnswer::kYes;
    std::vector<std::pair<std::string, std::string>> asked;  // text, caption
    std::function<void()> while_asking;
    std::optional<std::string> folder;

    MessageAnswer ShowMessage(std::string_view text, std::string_view caption,
                              MessageButtons) override {
        asked.emplace_back(text, caption);
        if (while_asking) {
            while_asking();
        }
        return answer;
    }
    std::optional<std::string> PickSaveFile(const SaveFileRequest&) override { return {}; }
    std::optional<std::string> BrowseForFolder() override { return folder; }
};

// A programme guide the test edits by hand, served through the engine's lookups.
struct FakeGuide {
    std::map<std::pair<uint16_t, uint16_t>, EventRecord> events;  // (service, event)
    int lookups = 0;

    EventRecord& Put(uint16_t service, uint16_t event, MjdTime start, uint32_t duration,
                     uint8_t version, const std::string& sjis_name = "") {
        EventRecord& e = events[{service, event}] =
            TimedEvent(event, kEventKindPresentFollowingActual, version, start, duration);
        e.service_id = service;
        CopyText(e.name, sjis_name);
        return e;
    }

    ReservationStreamCallbacks Callbacks() {
        ReservationStreamCallbacks c;
        c.event_by_id = [this](uint16_t, uint16_t, uint16_t service, uint16_t event,
                               EventRecord& out) {
            ++lookups;
            auto it = events.find({service, event});
            if (it == events.end()) {
                return false;
            }
            out = it->second;
            return true;
        };
        c.event_on_air = [this](uint16_t service, MjdTime at, EventRecord& out) {
            const EventRecord* best = nullptr;
            for (const auto& [key, e] : events) {
                if (key.first != service || e.start > at) {
                    continue;
                }
                const bool running = !e.EndDefined() || at < e.end;
                if (running && (best == nullptr || best->start < e.start)) {
                    best = &e;
                }
            }
            if (best == nullptr) {
                return false;
            }
            out = *best;
            return true;
        };
        return c;
    }
};

}  // namespace tavrel::testing
