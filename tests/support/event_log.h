#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "ts/broadcast_time.h"
#include "ts/event_record.h"
#include "ts/program_entries.h"
#include "ts/satellite_delivery.h"
#include "ts/ts_processor.h"

namespace tavrel::testing {

// Records the events of a processor with a copy of each payload. Packets only when asked for:
// long streams make a great many.
struct EventLog {
    struct Entry {
        uint32_t type = 0;
        uint32_t a = 0;
        uint32_t length = 0;
        std::vector<uint8_t> packet;
        std::vector<ProgramEntry> programs;  // event 16
        std::vector<StreamEntry> streams;    // event 17
        std::string text;                    // events 18 and 48, as UTF-8
        SatelliteDelivery delivery{};
        BroadcastTime time{};
        EventRecord record{};
    };
    std::vector<Entry> entries;
    bool keep_packets = false;

    void Attach(CTsProcessor& processor, bool packets = false) {
        keep_packets = packets;
        processor.SetOutputCallback(&Callback, this);
    }

    static void Callback(uint32_t type, uint32_t a, const void* data, uint32_t length, void* user) {
        auto* log = static_cast<EventLog*>(user);
        if (type == kEventPacket && !log->keep_packets) {
            return;
        }
        Entry e;
        e.type = type;
        e.a = a;
        e.length = length;
        switch (type) {
            case kEventPacket:
                e.packet.assign(static_cast<const uint8_t*>(data),
                                static_cast<const uint8_t*>(data) + length);
                break;
            case kEventPrograms:
                e.programs.assign(static_cast<const ProgramEntry*>(data),
                                  static_cast<const ProgramEntry*>(data) + length);
                break;
            case kEventStreams:
                e.streams.assign(static_cast<const StreamEntry*>(data),
                                 static_cast<const StreamEntry*>(data) + length);
                break;
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
        log->entries.push_back(std::move(e));
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
    // Units delivered on one output, in order.
    std::vector<std::vector<uint8_t>> Packets(uint32_t output) const {
        std::vector<std::vector<uint8_t>> out;
        for (const Entry& e : entries) {
            if (e.type == kEventPacket && e.a == output) {
                out.push_back(e.packet);
            }
        }
        return out;
    }
};

inline std::string Utf8(std::span<const char> shift_jis) {
    return ShiftJisBufferToUtf8(shift_jis);
}

}  // namespace tavrel::testing
