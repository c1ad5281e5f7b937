#pragma once

#include <cstdint>

namespace tavrel {

// The processor's one way out: packets of each output and every table event. `data` is
// valid only during the call.
using ProcessorOutputCallback = void (*)(uint32_t type, uint32_t a, const void* data,
                                         uint32_t length, void* user);

// Type codes of the callback.
enum ProcessorEvent : uint32_t {
    kEventPacket = 1,             // a = output number, data = one unit, length = unit length
    kEventStream = 2,             // new transport_stream_id (length 0) or end of stream (length 1)
    kEventPrograms = 16,          // a = transport_stream_id, data = ProgramEntry[length]
    kEventStreams = 17,           // a = programme_number, data = StreamEntry[length]
    kEventNetwork = 18,           // a = network_id, data = name; length 1: selection information
    kEventTransportStream = 19,   // a = network_id, data = SatelliteDelivery, length = ts id
    kEventTime = 32,              // data = BroadcastTime
    kEventServiceName = 48,       // a = service_id, data = name
    kEventPresentFollowing = 64,  // a = service_id, data = EventRecord, length = actual
    kEventSchedule = 65,          // as 64, for schedule tables
};

}  // namespace tavrel
