#include "sim/nit_writer.h"

#include <stdexcept>

#include "sim/arib_text_writer.h"
#include "sim/section_writer.h"
#include "sim/tot_writer.h"

namespace tavrel::sim {

std::vector<uint8_t> NetworkNameDescriptor(std::string_view name_utf8) {
    return Descriptor(0x40, EncodeAribText(name_utf8));
}

std::vector<uint8_t> SatelliteDeliveryDescriptor(const SatelliteDeliveryFields& delivery) {
    if (delivery.symbol_rate > 9999999) {
        throw std::invalid_argument("symbol rate has seven digits");
    }
    std::vector<uint8_t> body;
    PutU32(body, ToBcd(delivery.frequency));
    PutU16(body, ToBcd(delivery.orbital_position));
    PutU8(body, (delivery.east ? 0x80 : 0) | (delivery.polarisation & 3) << 5 |
                    (delivery.modulation & 0x1F));
    PutU32(body, ToBcd(delivery.symbol_rate) << 4 | (delivery.fec_inner & 0x0F));
    return Descriptor(0x43, body);
}

std::vector<uint8_t> ServiceListDescriptor(
    const std::vector<std::pair<uint16_t, uint8_t>>& services) {
    std::vector<uint8_t> body;
    for (const auto& [service_id, type] : services) {
        PutU16(body, service_id);
        PutU8(body, type);
    }
    return Descriptor(0x41, body);
}

std::vector<uint8_t> NitSection(uint16_t network_id, uint8_t version, std::string_view name_utf8,
                                const std::vector<NitTransportStream>& streams,
                                uint8_t section_number, uint8_t last_section_number) {
    std::vector<uint8_t> network_descriptors;
    if (!name_utf8.empty()) {
        network_descriptors = NetworkNameDescriptor(name_utf8);
    }
    std::vector<uint8_t> loop;
    for (const NitTransportStream& ts : streams) {
        std::vector<uint8_t> descriptors = ts.more_descriptors;
        if (ts.satellite) {
            PutBytes(descriptors, SatelliteDeliveryDescriptor(*ts.satellite));
        }
        PutU16(loop, ts.transport_stream_id);
        PutU16(loop, ts.original_network_id);
        PutU16(loop, 0xF000 | descriptors.size());
        PutBytes(loop, descriptors);
    }
    std::vector<uint8_t> body;
    PutU16(body, 0xF000 | network_descriptors.size());
    PutBytes(body, network_descriptors);
    PutU16(body, 0xF000 | loop.size());
    PutBytes(body, loop);

    LongSection fields;
    fields.table_id = 0x40;
    fields.table_id_extension = network_id;
    fields.version = version;
    fields.section_number = section_number;
    fields.last_section_number = last_section_number;
    fields.private_indicator = true;
    return MakeSection(fields, body);
}

}  // namespace tavrel::sim
