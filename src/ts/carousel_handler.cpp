// Data-carousel sections (PIDs a PMT lists with stream_type 0x0D): DSM-CC download messages
// for the carousel store. No version memory here: the store tells repeats apart itself.
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

constexpr uint8_t kTableDownloadInfo = 0x3B;  // DII (and DSI)
constexpr uint8_t kTableDownloadData = 0x3C;  // DDB

}  // namespace

int CTsProcessor::HandleCarousel(const PacketHeader& header, const SectionHeader& section,
                                 SectionBuffer& buffer) {
    const std::span<const uint8_t> bytes = TakeSection(section, buffer);
    if (bytes.empty()) {
        return 0;
    }
    // Scrambled carousels cannot be read; their sections are only consumed.
    if (!data_broadcast || header.transport_scrambling_control != 0) {
        return 1;
    }
    const uint32_t offset = section.section_syntax_indicator ? 8 : 3;
    const PidState& state = pids_[header.pid];
    bool result = true;
    switch (section.table_id) {
        case kTableDownloadInfo:
            result = carousel_store_.HandleDii(bytes, offset, header.pid, state.program_number,
                                               state.component_tag);
            break;
        case kTableDownloadData:
            // The message ends before the last four bytes (the CRC of a long-form section).
            if (section.section_length < offset + 1) {
                return 1;
            }
            result =
                carousel_store_.HandleDdb(header.pid, state.program_number, bytes, offset,
                                          section.section_length - offset - 1, state.component_tag);
            break;
        default:
            break;
    }
    return result ? 1 : 0;
}

}  // namespace tavrel
