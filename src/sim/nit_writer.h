#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tavrel::sim {

// Fields of the satellite delivery system descriptor (0x43), as decimal numbers in the units
// of its BCD digits.
struct SatelliteDeliveryFields {
    uint32_t frequency = 0;         // 8 digits, 1/100 units: 1172748 is 11727.48
    uint16_t orbital_position = 0;  // 4 digits, tenths: 1100 is 110.0
    bool east = true;               // west_east_flag
    uint8_t polarisation = 0;       // 2 bits
    uint8_t modulation = 0;         // 5 bits
    uint32_t symbol_rate = 0;       // 7 digits, 1/10000 units: 288600 is 28.86
    uint8_t fec_inner = 0;          // 4 bits
};

struct NitTransportStream {
    uint16_t transport_stream_id = 0;
    uint16_t original_network_id = 0;
    std::optional<SatelliteDeliveryFields> satellite;
    std::vector<uint8_t> more_descriptors;  // already encoded, written first (a service list)
};

std::vector<uint8_t> NetworkNameDescriptor(std::string_view name_utf8);
std::vector<uint8_t> SatelliteDeliveryDescriptor(const SatelliteDeliveryFields& delivery);
// The service list descriptor (0x41): service_id and service_type pairs.
std::vector<uint8_t> ServiceListDescriptor(
    const std::vector<std::pair<uint16_t, uint8_t>>& services);

// A network information section of the actual network (0x40), with a network name
// descriptor when the name is not empty.
std::vector<uint8_t> NitSection(uint16_t network_id, uint8_t version, std::string_view name_utf8,
                                const std::vector<NitTransportStream>& streams,
                                uint8_t section_number = 0, uint8_t last_section_number = 0);

}  // namespace tavrel::sim
