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
using Lines = std::vector<std::string>;

// Texts in the literals are JIS X 0208 codes through G0 (Kanji), the decoder's default.
// EIT p/f actual, service 0x0400, version 0, section 0: event 0x1000 at MJD 58944 19:00:00 for
// 00:30:00, "ニュース" / "今日の出来事", video 0xB3, audio 0x03, an extended event descriptor.
// CRC_32 0x45D5506E.
const std::vector<uint8_t> kEitPresent = testing::Hex(
    "4EF05104 00C10001 7FE37FE3 014E1000 E6401900 00003000 80364D19 6A706E08"
    "254B2565 213C2539 0C3A2346 7C244E3D 504D683B 765006F1 B3006A70 6EC409F2"
    "03100FFF 5F6A706E 4E06006A 706E0000 45D5506E");
// The same section, version 1. CRC_32 0x2289BD2B.
const std::vector<uint8_t> kEitPresentV1 = testing::Hex(
    "4EF05104 00C30001 7FE37FE3 014E1000 E6401900 00003000 80364D19 6A706E08"
    "254B2565 213C2539 0C3A2346 7C244E3D 504D683B 765006F1 B3006A70 6EC409F2"
    "03100FFF 5F6A706E 4E06006A 706E0000 2289BD2B");
// EIT schedule actual (0x50), service 0x0400, version 0: event 0x1000 "予定". CRC_32 0x2826AC3F.
const std::vector<uint8_t> kEitSchedule = testing::Hex(
    "50F02604 00C10000 7FE37FE3 00501000 E6401900 00003000 800B4D09 6A706E04"
    "4D3D446A 002826AC 3F");
// The same, version 1. CRC_32 0x0DFB0A91.
const std::vector<uint8_t> kEitScheduleV1 = testing::Hex(
    "50F02604 00C30000 7FE37FE3 00501000 E6401900 00003000 800B4D09 6A706E04"
    "4D3D446A 000DFB0A 91");
// EIT schedule other (0x60), service 0x0400, the same event. CRC_32 0x2CBCD3AF.
const std::vector<uint8_t> kEitScheduleOther = testing::Hex(
    "60F02604 00C10000 7FE37FE3 00601000 E6401900 00003000 800B4D09 6A706E04"
    "4D3D446A 002CBCD3 AF");
// EIT p/f other (0x4F), service 0x0401, version 3, section 1: event 0x2000 at 23:30:00 for 01:00:00
// "深夜", event 0x2001 at MJD 58945 00:30:00 with undefined duration and no descriptors. CRC_32
// 0xD759D8E5.
const std::vector<uint8_t> kEitFollowingOther = testing::Hex(
    "4FF03204 01C70101 7FE37FE3 014F2000 E6402330 00010000 800B4D09 6A706E04"
    "3F3C4C6B 002001E6 41003000 FFFFFF80 00D759D8 E5");

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

// The present event of kEitPresent, as raised with version v.
std::string News(int v) {
    return "64 0400 1 k1 v" + std::to_string(v) +
           " e1000 58944 68400..58944 70200 1800 b3 03 ニュース / 今日の出来事";
}

TEST(EitHandler, PresentEventIsStoredAndRaisedWithEveryFieldOncePerVersion) {
    Tables f;
    f.Feed(StreamBuilder()
               .Section(0x0012, kEitPresent)
               .Section(0x0012, kEitPresent)
               .Section(0x0012, kEitPresentV1));  // same contents, new version: stored again
    EXPECT_EQ(f.log.Lines(), (Lines{News(0), News(1)}));
    const auto stored = f.Stored(0x0400, 0x1000);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->service_id, 0x0400);
    EXPECT_EQ(testing::EventLog::Line({64, 0x0400, 1, {}, {}, {}, {}, {}, {}, *stored}), News(1));
}

TEST(EitHandler, ScheduleThenPresentFollowingThenScheduleNoLonger) {
    Tables f;
    f.Feed(0x0012, kEitSchedule);
    EXPECT_EQ(Utf8(f.Stored(0x0400, 0x1000)->name), "予定");
    f.Feed(0x0012, kEitPresent);
    f.Feed(0x0012, kEitScheduleV1);  // a new schedule version no longer changes it
    EXPECT_EQ(
        f.log.Lines(),
        (Lines{"65 0400 1 k3 v0 e1000 58944 68400..58944 70200 1800 00 00 予定 / ", News(0)}));
    EXPECT_EQ(Utf8(f.Stored(0x0400, 0x1000)->name), "ニュース");
    EXPECT_EQ(f.Stored(0x0400, 0x1000)->kind, kEventKindPresentFollowingActual);
}

TEST(EitHandler, EveryEitPidIsReadOnlyWithBothSwitchesOnAndOtherSchedulesNever) {
    for (const uint16_t pid : {0x0012, 0x0026, 0x0027}) {
        Tables f;
        f.Feed(pid, kEitPresent);
        EXPECT_EQ(f.log.Lines(), Lines{News(0)}) << pid;
    }
    Tables off, no_tables, other;
    off.processor.program_guide = 0;
    no_tables.processor.decode_tables = 0;
    for (Tables* f : {&off, &no_tables, &other}) {
        f->Feed(0x0012, f == &other ? kEitScheduleOther : kEitPresent);
        EXPECT_TRUE(f->log.entries.empty());
        EXPECT_EQ(f->processor.EventStore().ServiceCount(), 0u);
    }
}

TEST(EitHandler, OtherStreamEventsAreNotActualAndEndAcrossMidnight) {
    Tables f;
    f.Feed(0x0012, kEitFollowingOther);
    // 23:30 + 1:00 ends the next day at 00:30; an undefined duration keeps the start's MJD and
    // has no end seconds.
    EXPECT_EQ(f.log.Lines(),
              (Lines{"64 0401 0 k2 v3 e2000 58944 84600..58945 1800 3600 00 00 深夜 / ",
                     "64 0401 0 k2 v3 e2001 58945 1800..58945 4294967295 4294967295 00 00  / "}));
    EXPECT_FALSE(f.log.entries[1].record.EndDefined());
}

TEST(EitHandler, LengthsPastTheirEndsAreReadOnlyUpToTheirContainer) {
    std::vector<uint8_t> loop = kEitPresent;
    loop[24] = 0x8F;  // the event's descriptors_loop_length becomes 0xFFF
    loop[25] = 0xFF;
    sim::FixCrc(loop);
    std::vector<uint8_t> name = kEitPresent;
    name[31] = 0xF0;  // event_name_length far beyond the short event descriptor
    sim::FixCrc(name);
    // The descriptors after the damaged one still count.
    Tables f, g;
    f.Feed(0x0012, loop);
    EXPECT_EQ(f.log.Lines(), Lines{News(0)});
    g.Feed(0x0012, name);
    ASSERT_EQ(g.log.entries.size(), 1u);
    EXPECT_EQ(
        g.log.Lines()[0].rfind("64 0400 1 k1 v0 e1000 58944 68400..58944 70200 1800 b3 03 ", 0),
        0u);
    EXPECT_EQ(g.log.entries[0].record.text[0], '\0');
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
    Tables f;
    const StreamBuilder b = StreamBuilder().Sections(0x0012, present).Sections(0x0012, rest);
    f.Feed(b);
    f.Feed(b);
    EXPECT_EQ(f.log.OfType(kEventPresentFollowing).size(), 6u);
    EXPECT_EQ(f.log.OfType(kEventSchedule).size(), later.size());
    for (uint16_t service = 0x0400; service <= 0x0402; ++service) {
        EXPECT_NE(f.Stored(service, service), nullptr) << service;
        EXPECT_NE(f.Stored(service, service + 0x100), nullptr) << service;
    }
}

TEST(EitHandler, SectionPackedBehindAKnownRepeatIsRead) {
    // After two copies the first section is a known repeat that skips the long way; a new
    // section packed behind it in the same payload must still be read.
    Tables f;
    f.Feed(StreamBuilder().Section(0x0012, kEitPresent).Section(0x0012, kEitPresent));
    f.Feed(StreamBuilder().Sections(0x0012, {kEitPresent, kEitFollowingOther}));
    EXPECT_EQ(f.log.OfType(kEventPresentFollowing).size(), 3u);
    EXPECT_NE(f.Stored(0x0401, 0x2001), nullptr);
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
