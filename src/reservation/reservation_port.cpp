#include "reservation/reservation_port.h"

namespace tavrel {

ReservationStreamCallbacks CallbacksFromQueries(ProcessorQueries& queries) {
    ReservationStreamCallbacks c;
    c.event_by_id = [&queries](uint16_t, uint16_t, uint16_t service_id, uint16_t event_id,
                               EventRecord& out) {
        return queries.EventById(service_id, event_id, out) != 0;
    };
    c.event_on_air = [&queries](uint16_t service_id, MjdTime at, EventRecord& out) {
        return queries.EventOnAir(service_id, at, out) != 0;
    };
    c.filter = [&queries](uint32_t mode, std::span<const uint16_t> services,
                          std::span<const uint16_t> pids) {
        // Both lists empty: null lists, which open output 1 up again.
        queries.ReservationFilter(mode, services.empty() ? nullptr : services.data(),
                                  static_cast<uint32_t>(services.size()),
                                  pids.empty() ? nullptr : pids.data(),
                                  static_cast<uint32_t>(pids.size()));
    };
    return c;
}

void ReservationEnginePort::Connect(ProcessorQueries* queries) {
    if (queries != nullptr) {
        manager_.SetStreamCallbacks(CallbacksFromQueries(*queries));
    } else {
        manager_.ClearStreamCallbacks();
    }
}

std::string ReservationEnginePort::Tick(const std::optional<MjdTime>& clock) {
    if (!clock) {
        return {};
    }
    manager_.ScheduleTick(*clock);
    return manager_.GetReservationStatus();
}

}  // namespace tavrel
