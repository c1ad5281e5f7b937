#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "support/hex.h"
#include "ts/broadcast_time.h"
#include "ts/event_record.h"
#include "ts/program_entries.h"
#include "ts/satellite_delivery.h"
#include "ts/ts_processor.h"

namespace tavrel::testing {

inline std::string Utf8(std::span<const char> shift_jis) {
    return ShiftJisBufferToUtf8(shift_jis);
}

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
        const auto copy = [&]<typename T>(std::vector<T>& to) {
            to.assign(static_cast<const T*>(data), static_cast<const T*>(data) + length);
        };
        const auto take = [&]<typename T>(T& to) { to = *static_cast<const T*>(data); };
        switch (type) {
            case kEventPacket:
                copy(e.packet);
                break;
            case kEventPrograms:
                copy(e.programs);
                break;
            case kEventStreams:
                copy(e.streams);
                break;
            case kEventNetwork:
            case kEventServiceName:
                e.text = ShiftJisToUtf8(static_cast<const char*>(data));
                break;
            case kEventTransportStream:
                take(e.delivery);
                break;
            case kEventTime:
                take(e.time);
                break;
            case kEventPresentFollowing:
            case kEventSchedule:
                take(e.record);
                break;
            default:
                break;
        }
        log->entries.push_back(std::move(e));
    }

    std::vector<Entry> OfType(uint32_t type) const {
        std::vector<Entry> out;
        std::ranges::copy_if(entries, std::back_inserter(out),
                             [&](const Entry& e) { return e.type == type; });
        return out;
    }
    // Every event but packets as one line, "type a length" in hex and its payload, in order:
    //   2 7fe3 0                       16 7fe3 2 0400>01f0 0401>01f1
    //   17 0400 2 02>0111 0d>0140      18 0004 0 name        48 0400 0 name
    //   19 0004 4010 12040.00 110.0 e p0 m8 28.8600 f8
    //   32 0 0 58944 68405 050019 19:00:05
    //   64 0400 1 k1 v0 e1000 58944 68400..58944 70200 1800 b3 03 name / text
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (const Entry& e : entries) {
            if (e.type != kEventPacket) {
                out.push_back(Line(e));
            }
        }
        return out;
    }
    static std::string Line(const Entry& e) {
        char b[160];
        std::snprintf(b, sizeof b, "%u %04x %x", e.type, e.a, e.length);
        std::string s = b;
        const auto add = [&](auto... v) {
            std::snprintf(b, sizeof b, v...);
            s += b;
        };
        switch (e.type) {
            case kEventPrograms:
                for (const ProgramEntry& p : e.programs) {
                    add(" %04x>%04x", p.program_number, p.pmt_pid);
                }
                break;
            case kEventStreams:
                for (const StreamEntry& t : e.streams) {
                    add(" %02x>%04x", t.stream_type, t.elementary_pid);
                }
                break;
            case kEventNetwork:
            case kEventServiceName:
                s += " " + e.text;
                break;
            case kEventTransportStream: {
                const SatelliteDelivery& d = e.delivery;
                add(" %.2f %.1f %c p%u m%u %.4f f%u", d.frequency, d.orbital_position,
                    d.west_east_flag ? 'e' : 'w', d.polarisation, d.modulation, d.symbol_rate,
                    d.fec_inner);
                break;
            }
            case kEventTime:
                add(" %u %u %06x %02u:%02u:%02u", e.time.mjd, e.time.seconds, e.time.raw,
                    e.time.hour, e.time.minute, e.time.second);
                break;
            case kEventPresentFollowing:
            case kEventSchedule: {
                const EventRecord& r = e.record;
                add(" k%u v%u e%04x %u %u..%u %u %u %02x %02x ", r.kind, r.version, r.event_id,
                    r.start.mjd, r.start.seconds, r.end.mjd, r.end.seconds, r.duration,
                    r.video_component_type, r.audio_component_type);
                s += Utf8(r.name) + " / " + Utf8(r.text);
                break;
            }
            default:
                break;
        }
        return s;
    }
    // Units delivered on one output, in order.
    std::vector<std::vector<uint8_t>> Packets(uint32_t output) const {
        std::vector<std::vector<uint8_t>> out;
        for (const Entry& e : OfType(kEventPacket)) {
            if (e.a == output) {
                out.push_back(e.packet);
            }
        }
        return out;
    }
};

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
