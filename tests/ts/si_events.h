#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "ts/broadcast_time.h"
#include "ts/event_record.h"
#include "ts/program_entries.h"
#include "ts/satellite_delivery.h"
#include "ts/ts_processor.h"

namespace tavrel::testing {

// Records the table events of a processor with a copy of each payload; packets are left out.
struct SiEvents {
    struct Entry {
        uint32_t type = 0;
        uint32_t a = 0;
        uint32_t length = 0;
        std::string text;  // events 18 and 48, as UTF-8
        SatelliteDelivery delivery{};
        BroadcastTime time{};
        EventRecord record{};
        std::vector<ProgramEntry> programs;  // event 16
        std::vector<StreamEntry> streams;    // event 17
    };
    std::vector<Entry> entries;

    void Attach(CTsProcessor& processor) { processor.SetOutputCallback(&Callback, this); }

    static void Callback(uint32_t type, uint32_t a, const void* data, uint32_t length, void* user) {
        if (type == kEventPacket) {
            return;
        }
        Entry e;
        e.type = type;
        e.a = a;
        e.length = length;
        switch (type) {
            case kEventPrograms: {
                const auto* p = static_cast<const ProgramEntry*>(data);
                e.programs.assign(p, p + length);
                break;
            }
            case kEventStreams: {
                const auto* p = static_cast<const StreamEntry*>(data);
                e.streams.assign(p, p + length);
                break;
            }
            case kEventNetwork:
            case kEventServiceName:
                e.text = ShiftJisToUtf8(static_cast<const char*>(data));
                break;
            case kEventTransportStream:
                e.delivery = *static_cast<const SatelliteDelivery*>(data);
                break;
            case kEventTime:
                e.time = *static_cast<const BroadcastTime*>(data);
                break;
            case kEventPresentFollowing:
            case kEventSchedule:
                e.record = *static_cast<const EventRecord*>(data);
                break;
            default:
                break;
        }
        static_cast<SiEvents*>(user)->entries.push_back(std::move(e));
    }

    std::vector<Entry> OfType(uint32_t type) const {
        std::vector<Entry> out;
        for (const Entry& e : entries) {
            if (e.type == type) {
                out.push_back(e);
            }
        }
        return out;
    }
    std::vector<uint32_t> Types() const {
        std::vector<uint32_t> out;
        for (const Entry& e : entries) {
            out.push_back(e.type);
        }
        return out;
    }
};

inline std::string Utf8(std::span<const char> shift_jis) {
    return ShiftJisBufferToUtf8(shift_jis);
}

}  // namespace tavrel::testing
