// Event information tables: programme events into the processor's event store, and the
// events that changed it out to the service window and the reservations.
#include "ts/byte_reader.h"
#include "ts/event_record.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

constexpr uint8_t kPresentFollowingActual = 0x4E;
constexpr uint8_t kScheduleActualFirst = 0x50;
constexpr uint8_t kScheduleActualLast = 0x57;
// From here on: extended schedules and all schedules of other streams, not kept.
constexpr uint8_t kFirstIgnored = 0x58;

}  // namespace

int CTsProcessor::HandleEit(const PacketHeader&, const SectionHeader& section,
                            SectionBuffer& buffer) {
    const std::span<const uint8_t> bytes = TakeSection(section, buffer);
    if (bytes.empty()) {
        return 0;
    }
    if (!program_guide) {
        return 1;
    }
    const uint8_t table_id = section.table_id;
    if (table_id >= kFirstIgnored) {
        return 1;
    }
    const uint32_t actual = table_id == kPresentFollowingActual ||
                            (table_id >= kScheduleActualFirst && table_id <= kScheduleActualLast);
    const uint16_t service_id = section.table_id_extension;
    if (!versions_.IsNewVersion(service_id, table_id, section.section_number,
                                section.version_number)) {
        repeat_ = true;
        return 1;
    }
    if (section.section_length <= 15) {
        return 1;  // no event loop
    }

    // The event loop runs from byte 14 (after last_table_id) to the CRC.
    const uint32_t type = table_id < kScheduleActualFirst ? kEventPresentFollowing : kEventSchedule;
    ByteReader loop(bytes.subspan(14, section.section_length - 15));
    while (loop.Has(12)) {
        const std::unique_ptr<EventRecord> record = NewEventRecord();
        if (!record) {
            break;
        }
        ParseEvent(loop, section, *record);
        if (event_store_.Insert(*record, service_id)) {
            Raise(type, service_id, record.get(), actual);
        }
    }
    return 1;
}

}  // namespace tavrel
