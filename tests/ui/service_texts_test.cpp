// Texts of programmes, rows and streams as the service window and the guide show them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "ui/programme_guide.h"
#include "ui/programme_records.h"
#include "ui/service_texts.h"

namespace tavrel {
namespace {

using testing::At;
using testing::kSaturday;
using testing::Programme;

TEST(ServiceTexts, FormatEventTextByFlags) {
    EventRecord news = Programme(101, 1, At(kSaturday, 19, 0), 54 * 60, "ニュース", 0, "詳細");
    news.video_component_type = 0xB3;
    news.audio_component_type = 0x03;
    const EventRecord open = Programme(101, 2, At(kSaturday, 19, 0), kUndefinedDuration, "劇場");
    const EventRecord late = Programme(101, 3, At(kSaturday, 23, 30), 3600, "深夜");
    EventRecord odd = news;  // types outside the tables
    odd.video_component_type = 0xE2;
    odd.audio_component_type = 0x05;
    const struct {
        uint32_t flags;
        const EventRecord* record;
        std::string expected;
    } cases[] = {
        {kEventCellForm, &news, "19:00 - 19:54 ニュース"},
        {kEventCellForm, &open, "19:00 - 未定  劇場"},
        {kEventTipForm, &news,
         "2008/03/15(土) 19:00 - 19:54 映像(D3 1080i,16:9) 音声(ステレオ)\nニュース\n詳細"},
        {kEventTipForm, &open, "2008/03/15(土) 19:00 - 未定 \n劇場\n"},
        {0x0E, &late, "23:30 - 2008/03/16(日) 00:30"},
        {0x08, &news, " - 19:54"},
        {0x10, &news, " ニュース"},
        {0x40000010, &news, " << ニュース >>"},
        {0xC0000010, &news, "\n<< ニュース >>"},
        {0x80000020, &news, " 詳細"},  // a new line for the text only after a name
        {0x20000000, &open, ""},       // no component types, no component texts
        {0x20000000, &odd, " 映像(?,?:?) 音声(?)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatEventText(c.flags, *c.record), c.expected) << std::hex << c.flags;
    }
}

TEST(ServiceTexts, WeekdaysFromTheMjd) {
    // A week from Saturday 2008-03-15, and MJD 0 (a Wednesday).
    const char* week[] = {"土", "日", "月", "火", "水", "木", "金"};
    for (uint32_t day = 0; day < 7; ++day) {
        EXPECT_EQ(WeekdayName(kSaturday + day), week[day]);
        EXPECT_EQ(GuideWeekdayIndex(kSaturday + day), static_cast<int>((day + 6) % 7));
    }
    EXPECT_EQ(WeekdayName(0), "水");
}

TEST(ServiceTexts, RowTipShowsNextOnlyWithCurrent) {
    const struct {
        uint16_t id;
        const char* current;
        const char* next;
        std::string expected;
    } cases[] = {
        {101, "", "", "総合(101)"},
        {101, "", "後", "総合(101)"},
        {101, "今", "", "総合(101)\n\n現在の番組>> 今"},
        {101, "今", "後", "総合(101)\n\n現在の番組>> 今\n\n次の番組>> 後"},
        {0xFFFF, "", "", "総合"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BuildRowTip(c.id, "総合", c.current, c.next), c.expected);
    }
}

TEST(ServiceTexts, StreamColumnCutsAfter190Characters) {
    std::vector<StreamEntry> streams;
    for (uint16_t i = 0; i < 20; ++i) {
        streams.push_back({static_cast<uint8_t>(i == 0 ? 0x02 : 0x0F), 0, uint16_t(0x0110 + i)});
    }
    // Each entry is 12 characters: 15 make 180 and stay whole; the 16th reaches 190.
    EXPECT_EQ(StreamColumnText({streams.data(), 1}), "0x0110(m2v) ");
    EXPECT_EQ(StreamColumnText({streams.data(), 15}).size(), 180u);
    const std::string cut = StreamColumnText(streams);
    EXPECT_EQ(cut.size(), 16 * 12 + 3u);
    EXPECT_EQ(cut.substr(cut.size() - 15), "0x011F(aac) ...");
    EXPECT_EQ(StreamColumnText({streams.data(), 16}), cut);
}

TEST(ServiceTexts, ShiftJisPrefixNeverSplitsACharacter) {
    const std::string name = Utf8ToShiftJis("みなと総合テレビ");  // 16 bytes
    EXPECT_EQ(ShiftJisPrefixToUtf8(name, 5), "みな");
    EXPECT_EQ(ShiftJisPrefixToUtf8(name, 29), "みなと総合テレビ");
    EXPECT_EQ(ShiftJisPrefixToUtf8("AB\0CD", 29), "AB");
}

TEST(ProgrammeGuide, LineTexts) {
    const EventRecord normal = Programme(101, 0x1A2B, At(kSaturday, 19, 0), 54 * 60, "番組");
    const EventRecord open =
        Programme(101, 0x1A2B, At(kSaturday, 19, 0), kUndefinedDuration, "番組");
    EventRecord unknown = normal;
    unknown.start.seconds = 0xFFFFFFFF;
    EXPECT_EQ(
        std::tuple(GuideLineText(normal), GuideLineText(open), GuideLineText(unknown)),
        std::tuple("2008/03/15(土) 19:00-19:54 [0x1A2B] 番組",
                   "2008/03/15(土) 19:00-未定  [0x1A2B] 番組", "??\\[] 不明 -未定  [0x1A2B] 番組"));
}

TEST(ProgrammeGuide, ColoursAlternateByDayAndLine) {
    // Saturday, Sunday twice, Monday, Tuesday, Saturday of the next week.
    const uint32_t days[] = {kSaturday,     kSaturday + 1, kSaturday + 1,
                             kSaturday + 2, kSaturday + 3, kSaturday + 7};
    std::vector<EventRecord> events;
    for (uint32_t day : days) {
        events.push_back(
            Programme(101, static_cast<uint16_t>(events.size()), At(day, 20, 0), 1800, "x"));
    }
    const ProgrammeGuide guide(101, events);
    ASSERT_TRUE(guide.ListEnabled());
    // Even lines take the pale shade (weekday + 8), odd lines the strong one (weekday + 1).
    const int expected[] = {6 + 8, 0 + 1, 0 + 8, 1 + 1, 2 + 8, 6 + 1};
    for (size_t line = 0; line < events.size(); ++line) {
        EXPECT_EQ(guide.ColourIndex(line, false), expected[line]) << line;
        EXPECT_EQ(guide.ColourIndex(line, true), 0);
        EXPECT_EQ(guide.ItemData(line) & 0xFFFF, line);
    }
    EXPECT_EQ(kGuideColours[1].brush, 0xFFC8C8u);   // Sunday reddish
    EXPECT_EQ(kGuideColours[14].brush, 0xC8C8F5u);  // Saturday bluish, pale
    EXPECT_EQ(kGuideColours[0].text, 0xFFFFFFu);

    EXPECT_EQ(guide.ReserveChoice(3), 3);
    EXPECT_FALSE(guide.ReserveChoice(-1));
    EXPECT_FALSE(guide.ReserveChoice(6));
    EXPECT_FALSE(ProgrammeGuide(101, {}).ListEnabled());
}

}  // namespace
}  // namespace tavrel
