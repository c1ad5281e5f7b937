#pragma once

#include <cstdint>

#include "reservation/reservation_manager.h"

namespace tavrel {

class CTsProcessor;

// The processor's output that reserved recordings are written from.
inline constexpr uint16_t kReservationOutput = 1;

// The engine's view of a running processor: its event store and the filter of the reservation
// output. The processor must outlive the callbacks' installation.
ReservationStreamCallbacks ProcessorReservationCallbacks(CTsProcessor& processor,
                                                         uint16_t output = kReservationOutput);

// Hands the processor callback's traffic that concerns reservations to the manager: the
// packets of the reservation output, a new stream (event 2) and a PMT's streams (event 17).
// Other types are ignored. Runs on the processing thread.
void ForwardToReservations(ReservationManager& manager, uint16_t output, uint32_t type, uint32_t a,
                           const void* data, uint32_t length);

}  // namespace tavrel
