// Programme events: the EIT handler through the whole processor with literal sections written
// from the standard, then with sections from our writer.
#include <gtest/gtest.h>

#include <string>

#include "sim/eit_writer.h"
#include "sim/pat_writer.h"
#include "sim/section_writer.h"
#include "support/crc_reference.h"
#include "support/event_log.h"
#include "support/stream_builder.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

using testing::StreamBuilder;
using testing::Utf8;

// Texts in the literals are JIS X 0208 codes through G0 (Kanji), the decoder's default.
// EIT p/f actual, service 0x0400, version 0, section 0: event 0x1000 at MJD 58944 19:00:00 for
// 00:30:00, "ニュース" / "今日の出来事", video 0xB3, audio 0x03, an extended event descriptor.
// CRC_32 0x45D5506E.
const std::vector<uint8_t> kEitPresent = {
    0x4E, 0xF0, 0x51, 0x04, 0x00, 0xC1, 0x00, 0x01, 0x7F, 0xE3, 0x7F, 0xE3, 0x01, 0x4E,
    0x10, 0x00, 0xE6, 0x40, 0x19, 0x00, 0x00, 0x00, 0x30, 0x00, 0x80, 0x36, 0x4D, 0x19,
    0x6A, 0x70, 0x6E, 0x08, 0x25, 0x4B, 0x25, 0x65, 0x21, 0x3C, 0x25, 0x39, 0x0C, 0x3A,
    0x23, 0x46, 0x7C, 0x24, 0x4E, 0x3D, 0x50, 0x4D, 0x68, 0x3B, 0x76, 0x50, 0x06, 0xF1,
    0xB3, 0x00, 0x6A, 0x70, 0x6E, 0xC4, 0x09, 0xF2, 0x03, 0x10, 0x0F, 0xFF, 0x5F, 0x6A,
    0x70, 0x6E, 0x4E, 0x06, 0x00, 0x6A, 0x70, 0x6E, 0x00, 0x00, 0x45, 0xD5, 0x50, 0x6E,
};
// The same section, version 1. CRC_32 0x2289BD2B.
const std::vector<uint8_t> kEitPresentV1 = {
    0x4E, 0xF0, 0x51, 0x04, 0x00, 0xC3, 0x00, 0x01, 0x7F, 0xE3, 0x7F, 0xE3, 0x01, 0x4E,
    0x10, 0x00, 0xE6, 0x40, 0x19, 0x00, 0x00, 0x00, 0x30, 0x00, 0x80, 0x36, 0x4D, 0x19,
    0x6A, 0x70, 0x6E, 0x08, 0x25, 0x4B, 0x25, 0x65, 0x21, 0x3C, 0x25, 0x39, 0x0C, 0x3A,
    0x23, 0x46, 0x7C, 0x24, 0x4E, 0x3D, 0x50, 0x4D, 0x68, 0x3B, 0x76, 0x50, 0x06, 0xF1,
    0xB3, 0x00, 0x6A, 0x70, 0x6E, 0xC4, 0x09, 0xF2, 0x03, 0x10, 0x0F, 0xFF, 0x5F, 0x6A,
    0x70, 0x6E, 0x4E, 0x06, 0x00, 0x6A, 0x70, 0x6E, 0x00, 0x00, 0x22, 0x89, 0xBD, 0x2B,
};
// EIT schedule actual (0x50), service 0x0400, version 0: event 0x1000 "予定". CRC_32 0x2826AC3F.
const std::vector<uint8_t> kEitSchedule = {
    0x50, 0xF0, 0x26, 0x04, 0x00, 0xC1, 0x00, 0x00, 0x7F, 0xE3, 0x7F, 0xE3, 0x00, 0x50,
    0x10, 0x00, 0xE6, 0x40, 0x19, 0x00, 0x00, 0x00, 0x30, 0x00, 0x80, 0x0B, 0x4D, 0x09,
    0x6A, 0x70, 0x6E, 0x04, 0x4D, 0x3D, 0x44, 0x6A, 0x00, 0x28, 0x26, 0xAC, 0x3F,
};
// The same, version 1. CRC_32 0x0DFB0A91.
const std::vector<uint8_t> kEitScheduleV1 = {
    0x50, 0xF0, 0x26, 0x04, 0x00, 0xC3, 0x00, 0x00, 0x7F, 0xE3, 0x7F, 0xE3, 0x00, 0x50,
    0x10, 0x00, 0xE6, 0x40, 0x19, 0x00, 0x00, 0x00, 0x30, 0x00, 0x80, 0x0B, 0x4D, 0x09,
    0x6A, 0x70, 0x6E, 0x04, 0x4D, 0x3D, 0x44, 0x6A, 0x00, 0x0D, 0xFB, 0x0A, 0x91,
};
// EIT schedule other (0x60), service 0x0400, the same event. CRC_32 0x2CBCD3AF.
const std::vector<uint8_t> kEitScheduleOther = {
    0x60, 0xF0, 0x26, 0x04, 0x00, 0xC1, 0x00, 0x00, 0x7F, 0xE3, 0x7F, 0xE3, 0x00, 0x60,
    0x10, 0x00, 0xE6, 0x40, 0x19, 0x00, 0x00, 0x00, 0x30, 0x00, 0x80, 0x0B, 0x4D, 0x09,
    0x6A, 0x70, 0x6E, 0x04, 0x4D, 0x3D, 0x44, 0x6A, 0x00, 0x2C, 0xBC, 0xD3, 0xAF,
};
// EIT p/f other (0x4F), service 0x0401, version 3, section 1: event 0x2000 at 23:30:00 for 01:00:00
// "深夜", event 0x2001 at MJD 58945 00:30:00 with undefined duration and no descriptors. CRC_32
// 0xD759D8E5.
const std::vector<uint8_t> kEitFollowingOther = {
    0x4F, 0xF0, 0x32, 0x04, 0x01, 0xC7, 0x01, 0x01, 0x7F, 0xE3, 0x7F, 0xE3, 0x01, 0x4F,
    0x20, 0x00, 0xE6, 0x40, 0x23, 0x30, 0x00, 0x01, 0x00, 0x00, 0x80, 0x0B, 0x4D, 0x09,
    0x6A, 0x70, 0x6E, 0x04, 0x3F, 0x3C, 0x4C, 0x6B, 0x00, 0x20, 0x01, 0xE6, 0x41, 0x00,
    0x30, 0x00, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0xD7, 0x59, 0xD8, 0xE5,
};

// With the table and guide switches on; Stored gives the store's copy of an event.
struct Tables : testing::ProcessorRun {
    void Feed(const StreamBuilder& b) { ProcessorRun::Feed(b.Bytes()); }
    void Feed(uint16_t pid, const std::vector<uint8_t>& section) {
        Feed(StreamBuilder().Section(pid, section));
    }
    std::unique_ptr<EventRecord> Stored(uint16_t service_id, uint16_t event_id) {
        return processor.EventStore().EventById(service_id, event_id);
    }
};

TEST(EitLiterals, CrcFieldsMatchABitwiseCrc) {
    for (const auto* s : {&kEitPresent, &kEitPresentV1, &kEitSchedule, &kEitScheduleV1,
                          &kEitScheduleOther, &kEitFollowingOther}) {
        EXPECT_EQ(testing::ReferenceCrc32(*s), 0u);
    }
}

TEST(EitHandler, PresentEventIsStoredAndRaisedWithEveryFieldOncePerVersion) {
    Tables f;
    f.Feed(StreamBuilder()
               .Section(0x0012, kEitPresent)
               .Section(0x0012, kEitPresent)
               .Section(0x0012, kEitPresent));
    const auto raised = f.log.OfType(kEventPresentFollowing);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].a, 0x0400u);
    EXPECT_EQ(raised[0].length, 1u);  // actual stream
    const EventRecord& r = raised[0].record;
    EXPECT_EQ(r.kind, kEventKindPresentFollowingActual);
    EXPECT_EQ(r.version, 0);
    EXPECT_EQ(r.service_id, 0x0400);
    EXPECT_EQ(r.event_id, 0x1000);
    EXPECT_EQ(Utf8(r.name), "ニュース");
    EXPECT_EQ(Utf8(r.text), "今日の出来事");
    EXPECT_EQ(r.start, (MjdTime{58944, 19 * 3600}));
    EXPECT_EQ(r.end, (MjdTime{58944, 19 * 3600 + 1800}));
    EXPECT_EQ(r.duration, 1800u);
    EXPECT_EQ(r.video_component_type, 0xB3);
    EXPECT_EQ(r.audio_component_type, 0x03);
    const auto stored = f.Stored(0x0400, 0x1000);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(Utf8(stored->name), "ニュース");
    // Same contents, new version: the record's version differs, so the store changes.
    f.Feed(0x0012, kEitPresentV1);
    ASSERT_EQ(f.log.OfType(kEventPresentFollowing).size(), 2u);
    EXPECT_EQ(f.log.OfType(kEventPresentFollowing)[1].record.version, 1);
}

TEST(EitHandler, ScheduleThenPresentFollowingThenScheduleNoLonger) {
    Tables f;
    f.Feed(0x0012, kEitSchedule);
    ASSERT_EQ(f.log.OfType(kEventSchedule).size(), 1u);
    EXPECT_EQ(f.log.OfType(kEventSchedule)[0].record.kind, kEventKindScheduleActual);
    EXPECT_EQ(f.log.OfType(kEventSchedule)[0].length, 1u);
    EXPECT_EQ(Utf8(f.Stored(0x0400, 0x1000)->name), "予定");

    f.Feed(0x0012, kEitPresent);
    EXPECT_EQ(f.log.OfType(kEventPresentFollowing).size(), 1u);
    EXPECT_EQ(Utf8(f.Stored(0x0400, 0x1000)->name), "ニュース");

    f.Feed(0x0012, kEitScheduleV1);  // a new schedule version no longer changes it
    EXPECT_EQ(f.log.OfType(kEventSchedule).size(), 1u);
    EXPECT_EQ(Utf8(f.Stored(0x0400, 0x1000)->name), "ニュース");
    EXPECT_EQ(f.Stored(0x0400, 0x1000)->kind, kEventKindPresentFollowingActual);
}

TEST(EitHandler, EveryEitPidIsReadOnlyWithBothSwitchesOnAndOtherSchedulesNever) {
    for (const uint16_t pid : {0x0012, 0x0026, 0x0027}) {
        Tables f;
        f.Feed(pid, kEitPresent);
        EXPECT_EQ(f.log.OfType(kEventPresentFollowing).size(), 1u) << pid;
    }
    Tables off, no_tables, other;
    off.processor.program_guide = 0;
    no_tables.processor.decode_tables = 0;
    for (Tables* f : {&off, &no_tables, &other}) {
        f->Feed(0x0012, f == &other ? kEitScheduleOther : kEitPresent);
        EXPECT_TRUE(f->log.entries.empty());
        EXPECT_EQ(f->processor.EventStore().EventCount(), 0u);
        EXPECT_EQ(f->processor.EventStore().ServiceCount(), 0u);
    }
}

TEST(EitHandler, OtherStreamEventsAreNotActualAndEndAcrossMidnight) {
    Tables f;
    f.Feed(0x0012, kEitFollowingOther);
    const auto raised = f.log.OfType(kEventPresentFollowing);
    ASSERT_EQ(raised.size(), 2u);
    EXPECT_EQ(raised[0].length, 0u);
    EXPECT_EQ(raised[0].a, 0x0401u);
    // 23:30 + 1:00 ends the next day at 00:30.
    const EventRecord& late = raised[0].record;
    EXPECT_EQ(late.kind, kEventKindPresentFollowingOther);
    EXPECT_EQ(late.version, 3);
    EXPECT_EQ(late.start, (MjdTime{58944, 23 * 3600 + 1800}));
    EXPECT_EQ(late.end, (MjdTime{58945, 1800}));
    EXPECT_EQ(late.duration, 3600u);
    EXPECT_EQ(Utf8(late.name), "深夜");
    // Undefined duration: the end keeps the start's MJD and has no seconds.
    const EventRecord& open = raised[1].record;
    EXPECT_EQ(open.event_id, 0x2001);
    EXPECT_EQ(open.duration, kUndefinedDuration);
    EXPECT_EQ(open.end, (MjdTime{58945, kUndefinedDuration}));
    EXPECT_FALSE(open.EndDefined());
    EXPECT_EQ(open.name[0], '\0');
    EXPECT_EQ(open.video_component_type, 0);
}

TEST(EitHandler, LengthsPastTheirEndsAreReadOnlyUpToTheirContainer) {
    std::vector<uint8_t> loop = kEitPresent;
    loop[24] = 0x8F;  // the event's descriptors_loop_length becomes 0xFFF
    loop[25] = 0xFF;
    sim::FixCrc(loop);
    std::vector<uint8_t> name = kEitPresent;
    name[31] = 0xF0;  // event_name_length far beyond the short event descriptor
    sim::FixCrc(name);
    for (const auto* section : {&loop, &name}) {
        Tables f;
        f.Feed(0x0012, *section);
        const auto raised = f.log.OfType(kEventPresentFollowing);
        ASSERT_EQ(raised.size(), 1u);
        const EventRecord& r = raised[0].record;
        EXPECT_EQ(r.event_id, 0x1000);
        if (section == &loop) {
            EXPECT_EQ(Utf8(r.name), "ニュース");
        } else {
            EXPECT_EQ(r.text[0], '\0');
        }
        // The descriptors after the damaged one still count.
        EXPECT_EQ(r.video_component_type, 0xB3);
        EXPECT_EQ(r.audio_component_type, 0x03);
    }
}

TEST(EitHandler, StoreIsEmptiedByANewTransportStream) {
    Tables f;
    f.Feed(StreamBuilder()
               .Section(0, sim::PatSection(0x7FE3, 0, {{0x0400, 0x01F0}}))
               .Section(0x0012, kEitPresent));
    EXPECT_EQ(f.processor.EventStore().EventCount(), 1u);
    f.Feed(0, sim::PatSection(0x7FE4, 0, {{0x0400, 0x01F0}}));
    EXPECT_EQ(f.processor.EventStore().EventCount(), 0u);
    f.Feed(0x0012, kEitPresent);  // new again for the new stream
    EXPECT_EQ(f.log.OfType(kEventPresentFollowing).size(), 2u);
}

TEST(EventParse, KindFollowsTheTableId) {
    const std::pair<uint8_t, uint8_t> kKinds[] = {
        {0x4E, kEventKindPresentFollowingActual},
        {0x4F, kEventKindPresentFollowingOther},
        {0x50, kEventKindScheduleActual},
        {0x57, kEventKindScheduleActual},
        {0x58, kEventKindOther},
        {0x5F, kEventKindOther},
        {0x60, kEventKindScheduleOther},
        {0x67, kEventKindScheduleOther},
        {0x68, kEventKindOther},
    };
    for (const auto& [table_id, kind] : kKinds) {
        EXPECT_EQ(EventKindFromTableId(table_id), kind) << int{table_id};
    }
}

TEST(EventParse, ConsumesTwelveBytesAndItsDescriptorsAndRollsWholeDays) {
    // Event 1 at MJD 0xE640 00:00:00 for 00:00:30 with a 4-byte unknown descriptor; event 2 at
    // 12:00:00 for 48:00:00 (BCD 0x48), ending two days later at noon; one byte more.
    const std::vector<uint8_t> bytes = {0x00, 0x01, 0xE6, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30,
                                        0xF0, 0x04, 0x99, 0x02, 0xAA, 0xBB, 0x00, 0x02, 0xE6, 0x40,
                                        0x12, 0x00, 0x00, 0x48, 0x00, 0x00, 0xF0, 0x00, 0x77};
    SectionHeader section;
    section.table_id = 0x50;
    section.table_id_extension = 0x0123;
    section.version_number = 7;
    ByteReader loop(bytes);
    EventRecord r;
    ASSERT_TRUE(ParseEvent(loop, section, r));
    EXPECT_EQ(loop.Remaining(), 13u);
    EXPECT_EQ(r.kind, kEventKindScheduleActual);
    EXPECT_EQ(r.version, 7);
    EXPECT_EQ(r.service_id, 0x0123);
    EXPECT_EQ(r.event_id, 0x0001);
    EXPECT_EQ(r.duration, 30u);
    EXPECT_EQ(r.end, (MjdTime{58944, 30}));
    ASSERT_TRUE(ParseEvent(loop, section, r));
    EXPECT_EQ(r.end, (MjdTime{58946, 12 * 3600}));
    EXPECT_FALSE(ParseEvent(loop, section, r));  // one byte is not an event
    EXPECT_EQ(r.event_id, 0x0002);
}

TEST(EitWriter, LongNameAndTextAreCutToTheirBuffers) {
    sim::EitEvent e;
    e.event_id = 1;
    e.start = {58944, 0};
    e.duration = 60;
    for (int i = 0; i < 45; ++i) {
        e.name += "字";
    }
    for (int i = 0; i < 80; ++i) {
        e.text += "本";
    }
    Tables f;
    f.Feed(0x0012, sim::PresentFollowingSections(true, 1, 1, 1, 0, &e, nullptr)[0]);
    const auto raised = f.log.OfType(kEventPresentFollowing);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(std::string(raised[0].record.name.data()).size(), 78u);
    EXPECT_EQ(std::string(raised[0].record.text.data()).size(), 158u);
}

TEST(EitWriter, ScheduleCoversFourDaysPerTableInThreeHourSegments) {
    std::vector<sim::EitEvent> events;
    for (uint32_t day = 0; day < 8; ++day) {
        for (uint32_t slot = 0; slot < 48; ++slot) {
            sim::EitEvent e;
            e.event_id = static_cast<uint16_t>(day * 48 + slot);
            e.start = {58944 + day, slot * 1800};
            e.duration = 1800;
            e.name = "番組";
            events.push_back(e);
        }
    }
    const auto sections = sim::ScheduleSections(true, 0x0400, 1, 1, 2, 58944, events);
    ASSERT_EQ(sections.size(), 64u);  // 2 tables × 32 segments, one section each
    StreamBuilder b;
    for (const auto& s : sections) {
        const SectionHeader h = ParseSectionHeader(s);
        EXPECT_TRUE(h.table_id == 0x50 || h.table_id == 0x51);
        EXPECT_EQ(h.section_number % 8, 0);
        EXPECT_EQ(h.last_section_number, 0xF8);
        EXPECT_EQ(s[12], h.section_number);  // segment_last_section_number
        EXPECT_EQ(s[13], 0x51);              // last_table_id
        b.Section(0x0012, s);                // each in its own unit, so that each completes at once
    }
    Tables f;
    f.Feed(b);
    EXPECT_EQ(f.log.OfType(kEventSchedule).size(), 384u);
    EXPECT_EQ(f.processor.EventStore().EventCount(), 384u);
    const auto at = f.processor.EventStore().EventAt(0x0400, {58948, 3600 * 5});
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(at->event_id, 4 * 48 + 10);
}

}  // namespace
}  // namespace tavrel
