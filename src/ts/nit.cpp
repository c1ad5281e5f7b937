// Network information table: the network's name and, per transport stream, where a satellite
// carries it. Also the selection information table of a partial stream, which only says that
// the stream is one.
#include <algorithm>
#include <array>
#include <cstring>

#include "ts/arib_text.h"
#include "ts/byte_reader.h"
#include "ts/satellite_delivery.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

constexpr uint8_t kNitActual = 0x40;
constexpr uint8_t kSelectionInformation = 0x7F;
constexpr uint8_t kNetworkNameDescriptor = 0x40;
constexpr uint8_t kSatelliteDeliveryDescriptor = 0x43;
constexpr size_t kNetworkNameSize = 21;

}  // namespace

int CTsProcessor::HandleNit(const PacketHeader&, const SectionHeader& section,
                            SectionBuffer& buffer) {
    const std::span<const uint8_t> bytes = TakeSection(section, buffer);
    if (bytes.empty()) {
        return 0;
    }
    const uint16_t network_id = section.table_id_extension;
    if (!versions_.IsNewVersion(network_id, section.table_id, section.section_number,
                                section.version_number)) {
        repeat_ = true;
        return 1;
    }
    if (section.table_id == kSelectionInformation) {
        const char empty[1] = {'\0'};
        Raise(kEventNetwork, network_id, empty, 1);
        return 1;
    }
    if (section.table_id != kNitActual) {
        return 1;
    }

    // Everything after the header (5 bytes shorter without the long form) up to the CRC.
    const size_t start = section.section_syntax_indicator ? 8 : 3;
    const size_t content = bytes.size() >= start + 4 ? bytes.size() - 4 - start : 0;
    ByteReader body(bytes.subspan(std::min(start, bytes.size()), content));

    std::array<char, kNetworkNameSize> network_name{};
    ByteReader network_descriptors = body.Sub(body.U16() & 0x0FFF);
    while (network_descriptors.Has(2)) {
        const uint8_t tag = network_descriptors.U8();
        ByteReader descriptor = network_descriptors.Sub(network_descriptors.U8());
        if (tag == kNetworkNameDescriptor) {
            DecodeAribText(descriptor.Rest(), network_name);
        }
    }

    ByteReader streams = body.Sub(body.U16() & 0x0FFF);
    while (streams.Has(6)) {
        const uint16_t transport_stream_id = streams.U16();
        streams.Skip(2);  // original_network_id
        ByteReader descriptors = streams.Sub(streams.U16() & 0x0FFF);
        SatelliteDelivery delivery;
        std::memset(&delivery, 0, sizeof delivery);  // padding too: receivers copy it whole
        while (descriptors.Has(2)) {
            const uint8_t tag = descriptors.U8();
            ByteReader descriptor = descriptors.Sub(descriptors.U8());
            if (tag == kSatelliteDeliveryDescriptor) {
                ParseSatelliteDelivery(descriptor.Rest(), delivery);
            }
        }
        Raise(kEventTransportStream, network_id, &delivery, transport_stream_id);
    }
    Raise(kEventNetwork, network_id, network_name.data(), 0);
    return 1;
}

}  // namespace tavrel
