// Time sections (in practice the TOT): the broadcast clock, which the status display, the
// event store's expiry and the reservations run on once it is known.
#include "ts/broadcast_time.h"
#include "ts/ts_processor.h"

namespace tavrel {

int CTsProcessor::HandleTime(const PacketHeader&, const SectionHeader& section,
                             SectionBuffer& buffer) {
    const std::span<const uint8_t> bytes = TakeSection(section, buffer);
    if (bytes.empty()) {
        return 0;
    }
    // Raised for every copy, so never a repeat: the clock moves with each one.
    const size_t o = section.section_syntax_indicator ? 8 : 3;
    if (bytes.size() < o + 5 + 4) {
        return 1;  // no room for the date, the time and the CRC
    }
    BroadcastClock clock;
    clock.mjd = static_cast<uint16_t>(bytes[o] << 8 | bytes[o + 1]);
    clock.hour = bytes[o + 2];
    clock.minute = bytes[o + 3];
    clock.second = bytes[o + 4];
    broadcast_clock_.store(clock.Pack(), std::memory_order_relaxed);

    const BroadcastTime time = MakeBroadcastTime(clock);
    Raise(kEventTime, 0, &time, 0);
    return 1;
}

}  // namespace tavrel
