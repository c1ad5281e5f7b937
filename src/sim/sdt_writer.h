#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::sim {

struct SdtService {
    uint16_t service_id = 0;
    uint8_t service_type = 0x01;  // digital television
    std::string provider;         // UTF-8, written as ARIB text
    std::string name;             // UTF-8, written as ARIB text
    bool eit_schedule = false;
    bool eit_present_following = true;
    uint8_t running_status = 4;  // running
    bool free_ca = false;
    bool service_descriptor = true;         // false: an entry without a name
    std::vector<uint8_t> more_descriptors;  // already encoded, after the service descriptor
};

// The service descriptor (0x48) with both names as ARIB text.
std::vector<uint8_t> ServiceDescriptor(uint8_t service_type, std::string_view provider_utf8,
                                       std::string_view name_utf8);

// A service description section: table 0x42 for the actual transport stream, 0x46 for
// another one.
std::vector<uint8_t> SdtSection(bool actual, uint16_t transport_stream_id,
                                uint16_t original_network_id, uint8_t version,
                                const std::vector<SdtService>& services, uint8_t section_number = 0,
                                uint8_t last_section_number = 0);

}  // namespace tavrel::sim
