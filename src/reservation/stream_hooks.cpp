#include "reservation/stream_hooks.h"

#include <cstring>
#include <memory>
#include <vector>

#include "ts/processor_callback.h"
#include "ts/ts_processor.h"

namespace tavrel {

ReservationStreamCallbacks ProcessorReservationCallbacks(CTsProcessor& processor, uint16_t output) {
    ReservationStreamCallbacks c;
    c.event_by_id = [&processor](uint16_t, uint16_t, uint16_t service_id, uint16_t event_id,
                                 EventRecord& out) {
        const std::unique_ptr<EventRecord> found =
            processor.EventStore().EventById(service_id, event_id);
        if (found) {
            out = *found;
        }
        return found != nullptr;
    };
    c.event_on_air = [&processor](uint16_t service_id, MjdTime at, EventRecord& out) {
        const std::unique_ptr<EventRecord> found = processor.EventStore().EventAt(service_id, at);
        if (found) {
            out = *found;
        }
        return found != nullptr;
    };
    c.filter = [&processor, output](uint32_t mode, std::span<const uint16_t> services,
                                    std::span<const uint16_t> pids) {
        if (services.empty() && pids.empty()) {
            processor.ClearOutputFilter(output);
        } else {
            processor.SetOutputFilter(output, mode, services.data(),
                                      static_cast<uint32_t>(services.size()), pids.data(),
                                      static_cast<uint32_t>(pids.size()));
        }
    };
    return c;
}

void ForwardToReservations(ReservationManager& manager, uint16_t output, uint32_t type, uint32_t a,
                           const void* data, uint32_t length) {
    switch (type) {
        case kEventPacket:
            if (a == output) {
                manager.WriteReservationData(
                    std::span<const uint8_t>(static_cast<const uint8_t*>(data), length));
            }
            break;
        case kEventStream:
            manager.ClearServicePids();
            break;
        case kEventStreams: {
            // Copied: the processor's block is not aligned for the entries.
            std::vector<StreamEntry> streams(length);
            if (length != 0) {
                std::memcpy(streams.data(), data, length * sizeof(StreamEntry));
            }
            manager.UpdateServicePids(static_cast<uint16_t>(a), streams);
            break;
        }
        default:
            break;
    }
}

}  // namespace tavrel
