// Service description table: the names of the services, for the service list and the
// recording file names.
#include <array>

#include "ts/arib_text.h"
#include "ts/byte_reader.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

constexpr uint8_t kSdtActual = 0x42;
constexpr uint8_t kSdtOther = 0x46;
constexpr uint8_t kServiceDescriptor = 0x48;

}  // namespace

int CTsProcessor::HandleSdt(const PacketHeader&, const SectionHeader& section,
                            SectionBuffer& buffer) {
    const std::span<const uint8_t> bytes = TakeSection(section, buffer);
    if (bytes.empty()) {
        return 0;
    }
    if (section.table_id != kSdtActual && section.table_id != kSdtOther) {
        return 1;  // bouquet association sections share the PID
    }
    const uint16_t transport_stream_id = section.table_id_extension;
    if (!versions_.IsNewVersion(transport_stream_id, section.table_id, section.section_number,
                                section.version_number)) {
        repeat_ = true;
        return 1;
    }
    if (section.section_length <= 12) {
        return 1;  // no service loop
    }

    // The service loop runs from byte 11 (after original_network_id) to the CRC.
    ByteReader loop(bytes.subspan(11, section.section_length - 12));
    while (loop.Has(5)) {
        const uint16_t service_id = loop.U16();
        loop.Skip(1);  // EIT flags
        ByteReader descriptors = loop.Sub(loop.U16() & 0x0FFF);
        std::array<char, ServiceNameTable::kNameSize> provider{};
        std::array<char, ServiceNameTable::kNameSize> name{};
        while (descriptors.Has(2)) {
            const uint8_t tag = descriptors.U8();
            ByteReader body = descriptors.Sub(descriptors.U8());
            if (tag != kServiceDescriptor) {
                continue;
            }
            body.Skip(1);  // service_type
            ByteReader provider_text = body.Sub(body.U8());
            DecodeAribText(provider_text.Rest(), provider);  // read, but nothing uses it
            ByteReader name_text = body.Sub(body.U8());
            DecodeAribText(name_text.Rest(), name);
        }
        service_names_.Set(service_id, name);
        Raise(kEventServiceName, service_id, name.data(), 0);
    }
    return 1;
}

}  // namespace tavrel
