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

using testing::EventLog;
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
struct Fixture {
    CTsProcessor processor;
    StreamStats stats;
    EventLog events;
    Fixture() {
        events.Attach(processor);
        processor.decode_tables = 1;
        processor.program_guide = 1;
    }
    void Feed(const StreamBuilder& b) { processor.Input(b.Bytes(), stats); }
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

TEST(EitHandler, PresentEventIsStoredAndRaisedWithEveryField) {
    Fixture f;
    f.Feed(0x0012, kEitPresent);
    const auto raised = f.events.OfType(kEventPresentFollowing);
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
}

TEST(EitHandler, RepeatIsFilteredAndANewVersionRaisesAgain) {
    Fixture f;
    f.Feed(StreamBuilder()
               .Section(0x0012, kEitPresent)
               .Section(0x0012, kEitPresent)
               .Section(0x0012, kEitPresent));
    EXPECT_EQ(f.events.OfType(kEventPresentFollowing).size(), 1u);
    // Same contents, new version: the record's version differs, so the store changes.
    f.Feed(0x0012, kEitPresentV1);
    const auto raised = f.events.OfType(kEventPresentFollowing);
    ASSERT_EQ(raised.size(), 2u);
    EXPECT_EQ(raised[1].record.version, 1);
}

TEST(EitHandler, ScheduleThenPresentFollowingThenScheduleNoLonger) {
    Fixture f;
    f.Feed(0x0012, kEitSchedule);
    ASSERT_EQ(f.events.OfType(kEventSchedule).size(), 1u);
    EXPECT_EQ(f.events.OfType(kEventSchedule)[0].record.kind, kEventKindScheduleActual);
    EXPECT_EQ(f.events.OfType(kEventSchedule)[0].length, 1u);
    EXPECT_EQ(Utf8(f.Stored(0x0400, 0x1000)->name), "予定");

    f.Feed(0x0012, kEitPresent);
    EXPECT_EQ(f.events.OfType(kEventPresentFollowing).size(), 1u);
    EXPECT_EQ(Utf8(f.Stored(0x0400, 0x1000)->name), "ニュース");

    f.Feed(0x0012, kEitScheduleV1);  // a new schedule version no longer changes it
    EXPECT_EQ(f.events.OfType(kEventSchedule).size(), 1u);
    EXPECT_EQ(Utf8(f.Stored(0x0400, 0x1000)->name), "ニュース");
    EXPECT_EQ(f.Stored(0x0400, 0x1000)->kind, kEventKindPresentFollowingActual);
}

TEST(EitHandler, OtherStreamScheduleNeverReachesTheStore) {
    Fixture f;
    f.Feed(0x0012, kEitScheduleOther);
    EXPECT_TRUE(f.events.entries.empty());
    EXPECT_EQ(f.processor.EventStore().EventCount(), 0u);
    EXPECT_EQ(f.processor.EventStore().ServiceCount(), 0u);
}

TEST(EitHandler, OtherStreamEventsAreNotActualAndEndAcrossMidnight) {
    Fixture f;
    f.Feed(0x0012, kEitFollowingOther);
    const auto raised = f.events.OfType(kEventPresentFollowing);
    ASSERT_EQ(raised.size(), 2u);
    EXPECT_EQ(raised[0].length, 0u);
    EXPECT_EQ(raised[0].a, 0x0401u);
    // 23:30 + 1:00 ends the next day at 00:30.
    const EventRecord& late = raised[0].record;
    EXPECT_EQ(late.kind, kEventKindPresentFollowingOther);
    EXPECT_EQ(late.version, 3);
    EXPECT_EQ(late.start, (MjdTime{58944, 23 * 3600 + 1800}));
    EXPECT_EQ(late.end.mjd, 58945u);
    EXPECT_EQ(late.end.seconds, 1800u);
    EXPECT_EQ(late.duration, 3600u);
    EXPECT_EQ(Utf8(late.name), "深夜");
    // Undefined duration: the end keeps the start's MJD and has no seconds.
    const EventRecord& open = raised[1].record;
    EXPECT_EQ(open.event_id, 0x2001);
    EXPECT_EQ(open.duration, kUndefinedDuration);
    EXPECT_EQ(open.end.mjd, 58945u);
    EXPECT_EQ(open.end.seconds, kUndefinedDuration);
    EXPECT_FALSE(open.EndDefined());
    EXPECT_EQ(open.name[0], '\0');
    EXPECT_EQ(open.video_component_type, 0);
}

TEST(EitHandler, EveryEitPidIsReadAndOnlyWithTheGuideSwitchOn) {
    for (const uint16_t pid : {0x0012, 0x0026, 0x0027}) {
        Fixture f;
        f.Feed(pid, kEitPresent);
        EXPECT_EQ(f.events.OfType(kEventPresentFollowing).size(), 1u) << pid;
    }
    Fixture off;
    off.processor.program_guide = 0;
    off.Feed(0x0012, kEitPresent);
    EXPECT_TRUE(off.events.entries.empty());
    EXPECT_EQ(off.processor.EventStore().EventCount(), 0u);
    Fixture no_tables;
    no_tables.processor.decode_tables = 0;
    no_tables.Feed(0x0012, kEitPresent);
    EXPECT_TRUE(no_tables.events.entries.empty());
}

TEST(EitHandler, DescriptorLoopPastTheSectionIsReadOnlyUpToTheCrc) {
    std::vector<uint8_t> section = kEitPresent;
    section[24] = 0x8F;  // the event's descriptors_loop_length becomes 0xFFF
    section[25] = 0xFF;
    sim::FixCrc(section);
    Fixture f;
    f.Feed(0x0012, section);
    const auto raised = f.events.OfType(kEventPresentFollowing);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(Utf8(raised[0].record.name), "ニュース");
    EXPECT_EQ(raised[0].record.audio_component_type, 0x03);
}

TEST(EitHandler, ShortEventNameLengthPastItsDescriptorStaysInside) {
    std::vector<uint8_t> section = kEitPresent;
    section[31] = 0xF0;  // event_name_length far beyond the descriptor
    sim::FixCrc(section);
    Fixture f;
    f.Feed(0x0012, section);
    const auto raised = f.events.OfType(kEventPresentFollowing);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].record.event_id, 0x1000);
    EXPECT_EQ(raised[0].record.text[0], '\0');
    EXPECT_EQ(raised[0].record.video_component_type, 0xB3);  // the next descriptor still counts
}

TEST(EitHandler, StoreIsEmptiedByANewTransportStream) {
    Fixture f;
    f.Feed(StreamBuilder()
               .Section(0, sim::PatSection(0x7FE3, 0, {{0x0400, 0x01F0}}))
               .Section(0x0012, kEitPresent));
    EXPECT_EQ(f.processor.EventStore().EventCount(), 1u);
    f.Feed(0, sim::PatSection(0x7FE4, 0, {{0x0400, 0x01F0}}));
    EXPECT_EQ(f.processor.EventStore().EventCount(), 0u);
    f.Feed(0x0012, kEitPresent);  // new again for the new stream
    EXPECT_EQ(f.events.OfType(kEventPresentFollowing).size(), 2u);
}

// Multiplexers pack the sections of several services back to back, the same way at every
// repetition. Here the present sections of three services share one packet; the next unit
// (pointer_field 0 again) packs their following sections and a schedule segment over several.
TEST(EitHandler, SectionsPackedBackToBackAllReachTheStore) {
    std::vector<std::vector<uint8_t>> present, rest;
    std::vector<sim::EitEvent> later;
    for (uint16_t service = 0x0400; service <= 0x0402; ++service) {
        sim::EitEvent now;
        now.event_id = service;
        now.start = {58944, 19 * 3600};
        now.duration = 1800;
        now.name = "番組";
        sim::EitEvent next = now;
        next.event_id = static_cast<uint16_t>(service + 0x100);
        next.start.seconds += 1800;
        const auto pf = sim::PresentFollowingSections(true, service, 1, 1, 0, &now, &next);
        present.push_back(pf[0]);
        rest.push_back(pf[1]);
        for (uint16_t k = 0; k < 2; ++k) {
            next.event_id = static_cast<uint16_t>(0x0800 + later.size());
            next.start.seconds = 21 * 3600 + 600 * static_cast<uint32_t>(later.size());
            next.duration = 600;
            later.push_back(next);
        }
    }
    rest.push_back(sim::ScheduleSections(true, 0x0400, 1, 1, 0, 58944, later).at(0));
    Fixture f;
    const StreamBuilder b = StreamBuilder().Sections(0x0012, present).Sections(0x0012, rest);
    f.Feed(b);
    f.Feed(b);
    EXPECT_EQ(f.events.OfType(kEventPresentFollowing).size(), 6u);
    EXPECT_EQ(f.events.OfType(kEventSchedule).size(), later.size());
    for (uint16_t service = 0x0400; service <= 0x0402; ++service) {
        EXPECT_NE(f.Stored(service, service), nullptr) << service;
        EXPECT_NE(f.Stored(service, service + 0x100), nullptr) << service;
    }
}

TEST(EitHandler, SectionPackedBehindAKnownRepeatIsRead) {
    // After two copies the first section is a known repeat that skips the long way; a new
    // section packed behind it in the same payload must still be read.
    Fixture f;
    f.Feed(StreamBuilder().Section(0x0012, kEitPresent).Section(0x0012, kEitPresent));
    f.Feed(StreamBuilder().Sections(0x0012, {kEitPresent, kEitFollowingOther}));
    EXPECT_EQ(f.events.OfType(kEventPresentFollowing).size(), 3u);
    EXPECT_NE(f.Stored(0x0401, 0x2001), nullptr);
}

TEST(EventParse, KindFollowsTheTableId) {
    EXPECT_EQ(EventKindFromTableId(0x4E), kEventKindPresentFollowingActual);
    EXPECT_EQ(EventKindFromTableId(0x4F), kEventKindPresentFollowingOther);
    EXPECT_EQ(EventKindFromTableId(0x50), kEventKindScheduleActual);
    EXPECT_EQ(EventKindFromTableId(0x57), kEventKindScheduleActual);
    EXPECT_EQ(EventKindFromTableId(0x58), kEventKindOther);
    EXPECT_EQ(EventKindFromTableId(0x60), kEventKindScheduleOther);
    EXPECT_EQ(EventKindFromTableId(0x67), kEventKindScheduleOther);
    EXPECT_EQ(EventKindFromTableId(0x68), kEventKindOther);
}

TEST(EventParse, ConsumesTwelveBytesAndItsDescriptors) {
    // Event 0x0001 at MJD 0xE640 00:00:00 for 00:00:30 with a 4-byte unknown descriptor,
    // followed by one byte of the next event.
    const std::vector<uint8_t> bytes = {0x00, 0x01, 0xE6, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0x30, 0xF0, 0x04, 0x99, 0x02, 0xAA, 0xBB, 0x77};
    SectionHeader section;
    section.table_id = 0x50;
    section.table_id_extension = 0x0123;
    section.version_number = 7;
    ByteReader loop(bytes);
    EventRecord r;
    ASSERT_TRUE(ParseEvent(loop, section, r));
    EXPECT_EQ(loop.Remaining(), 1u);
    EXPECT_EQ(r.kind, kEventKindScheduleActual);
    EXPECT_EQ(r.version, 7);
    EXPECT_EQ(r.service_id, 0x0123);
    EXPECT_EQ(r.duration, 30u);
    EXPECT_EQ(r.end, (MjdTime{58944, 30}));
    EXPECT_FALSE(ParseEvent(loop, section, r));  // one byte is not an event
    EXPECT_EQ(r.event_id, 0x0001);
}

TEST(EventParse, DurationOfWholeDaysRollsTheEndDate) {
    // 12:00:00 for 48:00:00 (BCD 0x48): two days later at noon.
    const std::vector<uint8_t> bytes = {0x00, 0x02, 0xE6, 0x40, 0x12, 0x00,
                                        0x00, 0x48, 0x00, 0x00, 0xF0, 0x00};
    SectionHeader section;
    section.table_id = 0x4E;
    ByteReader loop(bytes);
    EventRecord r;
    ASSERT_TRUE(ParseEvent(loop, section, r));
    EXPECT_EQ(r.end, (MjdTime{58946, 12 * 3600}));
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
    Fixture f;
    f.Feed(0x0012, sim::PresentFollowingSections(true, 1, 1, 1, 0, &e, nullptr)[0]);
    const auto raised = f.events.OfType(kEventPresentFollowing);
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
    for (const auto& s : sections) {
        const SectionHeader h = ParseSectionHeader(s);
        EXPECT_TRUE(h.table_id == 0x50 || h.table_id == 0x51);
        EXPECT_EQ(h.section_number % 8, 0);
        EXPECT_EQ(h.last_section_number, 0xF8);
        EXPECT_EQ(s[12], h.section_number);  // segment_last_section_number
        EXPECT_EQ(s[13], 0x51);              // last_table_id
        EXPECT_EQ(testing::ReferenceCrc32(s), 0u);
    }
    Fixture f;
    StreamBuilder b;
    for (const auto& s : sections) {
        b.Section(0x0012, s);  // each in its own unit, so that each completes at once
    }
    f.Feed(b);
    EXPECT_EQ(f.events.OfType(kEventSchedule).size(), 384u);
    EXPECT_EQ(f.processor.EventStore().EventCount(), 384u);
    const auto at = f.processor.EventStore().EventAt(0x0400, {58948, 3600 * 5});
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(at->event_id, 4 * 48 + 10);
}

}  // namespace
}  // namespace tavrel
