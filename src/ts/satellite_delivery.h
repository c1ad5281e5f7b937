#pragma once

#include <cstdint>
#include <span>

#include "ts/mjd_time.h"

namespace tavrel {

// What the satellite delivery system descriptor (0x43) of one transport stream says; the
// payload of the transport stream event (19). All zero when the entry has no such descriptor.
struct SatelliteDelivery {
    double frequency;         // 8 BCD digits / 100: 0x01204000 gives 12040.0
    double orbital_position;  // 4 BCD digits / 10
    uint32_t west_east_flag;
    uint8_t polarisation;  // 2 bits
    uint8_t modulation;    // 5 bits
    double symbol_rate;    // 7 BCD digits / 10000
    uint8_t fec_inner;     // 4 bits
};

// Fills `out` from a descriptor body. A body shorter than the 11 bytes of the descriptor
// leaves `out` alone and gives false: half a frequency is worse than none.
inline bool ParseSatelliteDelivery(std::span<const uint8_t> body, SatelliteDelivery& out) {
    if (body.size() < 11) {
        return false;
    }
    const uint32_t frequency =
        uint32_t{body[0]} << 24 | uint32_t{body[1]} << 16 | uint32_t{body[2]} << 8 | body[3];
    const uint32_t orbital = uint32_t{body[4]} << 8 | body[5];
    // The symbol rate is the 28 bits in front of FEC_inner.
    const uint32_t symbol_rate =
        uint32_t{body[7]} << 20 | uint32_t{body[8]} << 12 | uint32_t{body[9]} << 4 | body[10] >> 4;
    out.frequency = BcdToNumber(frequency) / 100.0;
    out.orbital_position = BcdToNumber(orbital) / 10.0;
    out.west_east_flag = body[6] >> 7;
    out.polarisation = (body[6] >> 5) & 0x03;
    out.modulation = body[6] & 0x1F;
    out.symbol_rate = BcdToNumber(symbol_rate) / 10000.0;
    out.fec_inner = body[10] & 0x0F;
    return true;
}

}  // namespace tavrel
