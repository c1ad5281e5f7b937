// Program association table: which programmes the transport stream carries and where their
// PMTs and the network information travel.
#include "ts/byte_reader.h"
#include "ts/ts_processor.h"

namespace tavrel {

int CTsProcessor::HandlePat(const PacketHeader&, const SectionHeader& section,
                            SectionBuffer& buffer) {
    const std::span<const uint8_t> bytes = TakeSection(section, buffer);
    if (bytes.empty()) {
        return 0;
    }
    if (section.section_length < 9) {
        return 1;  // not even the fixed fields and the CRC: nothing to learn
    }
    const uint16_t transport_stream_id = section.table_id_extension;
    bool is_new = versions_.IsNewVersion(transport_stream_id, section.table_id,
                                         section.section_number, section.version_number);
    if (transport_stream_id != transport_stream_id_) {
        // A new transport stream (a channel change): everything learned belongs to the old one.
        Reset(true);
        Raise(kEventStream, transport_stream_id, nullptr, 0);
        carousel_pids_.clear();
        is_new = versions_.IsNewVersion(transport_stream_id, section.table_id,
                                        section.section_number, section.version_number);
    }
    if (!is_new) {
        repeat_ = true;
        return 1;
    }
    transport_stream_id_ = transport_stream_id;
    pat_list_.clear();

    // The programme loop runs from byte 8 to the CRC.
    ByteReader loop(bytes.subspan(8, section.section_length - 9));
    while (loop.Has(4)) {
        const uint16_t program_number = loop.U16();
        const uint16_t pid = loop.U16() & 0x1FFF;
        if (program_number != 0) {
            pids_[pid].kind = PidState::kPmt;
            pids_[pid].program_number = program_number;
            pat_list_.push_back({program_number, pid});
        } else if (pid == 0x0010) {
            pids_[pid].kind = PidState::kNit;
        } else {
            pids_[pid].kind = PidState::kOtherNetwork;
        }
    }
    if (!pat_list_.empty()) {
        // A copy: a handler of the event may reach back into the processor.
        const std::vector<ProgramEntry> entries = pat_list_;
        Raise(kEventPrograms, transport_stream_id, entries.data(),
              static_cast<uint32_t>(entries.size()));
    }
    return 1;
}

}  // namespace tavrel
