// Program map table: the elementary streams of one programme, and which of them carry a data
// carousel.
#include <algorithm>
#include <set>

#include "ts/byte_reader.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

constexpr uint8_t kStreamTypeDataCarousel = 0x0D;
constexpr uint8_t kStreamIdentifierDescriptor = 0x52;

}  // namespace

int CTsProcessor::HandlePmt(const PacketHeader&, const SectionHeader& section,
                            SectionBuffer& buffer) {
    const std::span<const uint8_t> bytes = TakeSection(section, buffer);
    if (bytes.empty()) {
        return 0;
    }
    const uint16_t program_number = section.table_id_extension;
    if (section.section_length < 13) {
        return 1;  // too short for the fixed fields and the CRC
    }
    if (!versions_.IsNewVersion(program_number, section.table_id, section.section_number,
                                section.version_number)) {
        repeat_ = true;
        return 1;
    }

    // Everything between the fixed fields and the CRC; loops are cut to their declared
    // lengths inside it, so a bad length can only end them early.
    ByteReader body(bytes.subspan(8, section.section_length - 9));
    body.Skip(2);  // PCR_PID
    const uint16_t program_info_length = body.U16() & 0x0FFF;
    body.Skip(program_info_length);

    std::vector<StreamEntry> entries;
    std::vector<uint16_t> carousels;
    while (body.Has(5)) {
        const uint8_t stream_type = body.U8();
        const uint16_t pid = body.U16() & 0x1FFF;
        const uint16_t es_info_length = body.U16() & 0x07FF;
        ByteReader descriptors = body.Sub(es_info_length);
        if (stream_type == kStreamTypeDataCarousel) {
            pids_[pid].kind = PidState::kDataCarousel;
            pids_[pid].program_number = program_number;
            carousels.push_back(pid);
        }
        while (descriptors.Has(2)) {
            const uint8_t tag = descriptors.U8();
            ByteReader descriptor = descriptors.Sub(descriptors.U8());
            if (tag == kStreamIdentifierDescriptor && descriptor.Has(1)) {
                pids_[pid].component_tag = descriptor.U8();
            }
        }
        entries.push_back({stream_type, 0, pid});
    }
    if (entries.empty()) {
        return 1;
    }

    std::vector<uint16_t>& known = carousel_pids_[program_number];
    std::set<uint16_t> vanished(known.begin(), known.end());
    for (const uint16_t pid : carousels) {
        vanished.erase(pid);
    }
    known = std::move(carousels);
    vanished_carousel_pids_.assign(vanished.begin(), vanished.end());
    if (data_broadcast) {
        // A carousel the programme no longer carries takes its modules and resources along.
        for (const uint16_t pid : vanished_carousel_pids_) {
            carousel_store_.ResetCarousel(pid, true);
        }
    }

    Raise(kEventStreams, program_number, entries.data(), static_cast<uint32_t>(entries.size()));
    return 1;
}

}  // namespace tavrel
