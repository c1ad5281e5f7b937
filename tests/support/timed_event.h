#pragma once

#include <cstdint>

#include "ts/event_record.h"
#include "ts/mjd_time.h"

namespace tavrel::testing {

// A programme event of `duration` seconds from `start`; kUndefinedDuration leaves its end
// open, as the tables announce it.
inline EventRecord TimedEvent(uint16_t event_id, uint8_t kind, uint8_t version, MjdTime start,
                              uint32_t duration) {
    EventRecord r;
    r.kind = kind;
    r.version = version;
    r.event_id = event_id;
    r.start = start;
    r.duration = duration;
    if (duration == kUndefinedDuration) {
        r.end = {start.mjd, kUndefinedDuration};
    } else {
        r.end = start;
        AddSeconds(r.end, duration);
    }
    return r;
}

}  // namespace tavrel::testing
