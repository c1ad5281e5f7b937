#include "ts/event_record.h"

#include <new>
#include <span>

#include "ts/arib_text.h"

namespace tavrel {
namespace {

constexpr uint8_t kShortEventDescriptor = 0x4D;
constexpr uint8_t kComponentDescriptor = 0x50;
constexpr uint8_t kAudioComponentDescriptor = 0xC4;

}  // namespace

uint8_t EventKindFromTableId(uint8_t table_id) {
    if (table_id == 0x4E) {
        return kEventKindPresentFollowingActual;
    }
    if (table_id == 0x4F) {
        return kEventKindPresentFollowingOther;
    }
    if (table_id >= 0x50 && table_id <= 0x57) {
        return kEventKindScheduleActual;
    }
    if (table_id >= 0x60 && table_id <= 0x67) {
        return kEventKindScheduleOther;
    }
    return kEventKindOther;
}

bool ParseEvent(ByteReader& loop, const SectionHeader& section, EventRecord& record) {
    if (!loop.Has(12)) {
        return false;
    }
    record = EventRecord{};
    record.kind = EventKindFromTableId(section.table_id);
    record.version = section.version_number;
    record.service_id = section.table_id_extension;
    record.event_id = loop.U16();

    record.start.mjd = loop.U16();
    const uint8_t hh = loop.U8();
    const uint8_t mm = loop.U8();
    const uint8_t ss = loop.U8();
    record.start.seconds = BcdTimeToSeconds(hh, mm, ss);

    const uint32_t duration = loop.U24();
    if (duration == 0xFFFFFF) {
        record.duration = kUndefinedDuration;
        record.end = {record.start.mjd, kUndefinedDuration};
    } else {
        record.duration =
            BcdTimeToSeconds(static_cast<uint8_t>(duration >> 16),
                             static_cast<uint8_t>(duration >> 8), static_cast<uint8_t>(duration));
        // 64 bits: BCD nibbles above 9 can make a duration longer than a day.
        const uint64_t total =
            uint64_t{record.start.mjd} * kSecondsPerDay + record.start.seconds + record.duration;
        record.end = {static_cast<uint32_t>(total / kSecondsPerDay),
                      static_cast<uint32_t>(total % kSecondsPerDay)};
    }

    ByteReader descriptors = loop.Sub(loop.U16() & 0x0FFF);
    while (descriptors.Has(2)) {
        const uint8_t tag = descriptors.U8();
        ByteReader body = descriptors.Sub(descriptors.U8());
        switch (tag) {
            case kShortEventDescriptor: {
                body.Skip(3);  // ISO 639 language code
                ByteReader name = body.Sub(body.U8());
                DecodeAribText(name.Rest(), record.name);
                ByteReader text = body.Sub(body.U8());
                DecodeAribText(text.Rest(), record.text);
                break;
            }
            case kComponentDescriptor:
                if (body.Has(2)) {
                    record.video_component_type = body.Peek(1);
                }
                break;
            case kAudioComponentDescriptor:
                if (body.Has(2)) {
                    record.audio_component_type = body.Peek(1);
                }
                break;
            default:
                break;  // extended event, content and the rest are not kept
        }
    }
    return true;
}

std::unique_ptr<EventRecord> NewEventRecord(const EventRecord& value) {
    try {
        return std::make_unique<EventRecord>(value);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace tavrel
