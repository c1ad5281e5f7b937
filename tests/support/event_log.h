#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <tuple>
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

// The fields of a programme event, its texts as UTF-8, as one value to compare.
inline auto Fields(const EventRecord& r) {
    return std::tuple(r.kind, r.version, r.event_id, r.start, r.end, r.duration,
                      r.video_component_type, r.audio_component_type, Utf8(r.name), Utf8(r.text));
}
inline auto Fields(const SatelliteDelivery& d) {
    return std::tuple(d.frequency, d.orbital_position, d.west_east_flag, d.polarisation,
                      d.modulation, d.symbol_rate, d.fec_inner);
}

// A processor with its events recorded and the table and programme guide switches on.
struct ProcessorRun {
    CTsProcessor processor;
    StreamStats stats;
    EventLog log;

    explicit ProcessorRun(bool packets = false) {
        log.Attach(processor, packets);
        processor.decode_tables = 1;
        processor.program_guide = 1;
    }
    // In blocks of the size the capture thread reads.
    void Feed(std::span<const uint8_t> bytes, size_t block = 0x8000) {
        for (size_t pos = 0; pos < bytes.size(); pos += block) {
            processor.Input(bytes.subspan(pos, std::min(block, bytes.size() - pos)), stats);
        }
    }
    // A service's name as UTF-8, "(unknown)" when the processor has none.
    std::string Name(uint16_t service_id) const {
        char name[64];
        if (!processor.ServiceName(service_id, name, sizeof name)) {
            return "(unknown)";
        }
        return Utf8(name);
    }
};

}  // namespace tavrel::testing
