#pragma once

// Programme records for the service window's tests, with UTF-8 names stored as Shift_JIS.
#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/text_encoding.h"
#include "support/timed_event.h"
#include "ts/event_record.h"
#include "ts/mjd_time.h"

namespace tavrel::testing {

// 2008-03-15, a Saturday.
inline constexpr uint32_t kSaturday = 54540;

inline MjdTime At(uint32_t mjd, int hour, int minute) {
    return {mjd, static_cast<uint32_t>(hour * 3600 + minute * 60)};
}

inline EventRecord Programme(uint16_t service_id, uint16_t event_id, MjdTime start,
                             uint32_t duration, const std::string& name, uint8_t version = 0,
                             const std::string& text = {}) {
    EventRecord r =
        TimedEvent(event_id, kEventKindPresentFollowingActual, version, start, duration);
    r.service_id = service_id;
    const std::string sjis = Utf8ToShiftJis(name);
    std::copy_n(sjis.begin(), std::min(sjis.size(), r.name.size() - 1), r.name.begin());
    const std::string detail = Utf8ToShiftJis(text);
    std::copy_n(detail.begin(), std::min(detail.size(), r.text.size() - 1), r.text.begin());
    return r;
}

}  // namespace tavrel::testing
