#include "reservation/schedule_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "app/fake_tuner.h"
#include "device/dtv_base.h"
#include "platform/temp_dir.h"
#include "reservation/reservation_fixture.h"
#include "reservation/reservation_form.h"

namespace tavrel {
namespace {

using testing::At;
using testing::DateReservation;
using testing::EventReservation;
using testing::ScriptedUi;

// The dialog as the user drives it: the form filled from the work record, changed by the
// test, and read back with OK.
class FormEditor final : public ReservationEditor {
public:
    CDTV_Base* device = nullptr;
    std::function<void(ReservationForm&)> user;
    bool press_ok = true;
    std::vector<std::string> messages;
    Reservation seen;

    bool Run(Reservation& work) override {
        seen = work;
        ReservationForm form = FillForm(work, device);
        if (user) {
            user(form);
        }
        if (!press_ok) {
            return false;
        }
        const FormResult result = ReadDialogRecord(form, work, device);
        if (!result.record) {
            messages.push_back(result.message);
            return false;
        }
        work = *result.record;
        return true;
    }
};

TEST(ScheduleList, ColumnsForEveryKindOfEntry) {
    Reservation date = DateReservation(At(2008, 3, 1, 21, 0, 0), 1800, RSV_DAILY | RSV_FILE_GIVEN);
    Reservation event = EventReservation(0x0400, 0x1A2B, RSV_CHANNEL_VALUE | RSV_CHANNEL_TEXT);
    event.NetworkID = 4;
    event.StreamID = 0x4010;
    event.ChVal = 15;
    CopyText(event.ChStr, "BS15");
    CopyText(event.eventName, "\x83\x6a\x83\x85\x81\x5b\x83\x58");
    event.SetState(RSV_STATE_ERROR);
    Reservation open = event;
    open.RecordSec = kUndeterminedLength;
    open.SetState(RSV_STATE_INVALID);

    using Columns = std::array<std::string, 4>;
    EXPECT_EQ(ScheduleColumns(date), (Columns{"日付", "2008年03月01日(土) 21時00分00秒",
                                              "00 時間 30 分 00 秒", "[毎日][ファイル名指定]"}));
    EXPECT_EQ(ScheduleColumns(event),
              (Columns{"イベント[ エラー ]", "不明(ID=0004:4010:0400:1A2B)", "不明",
                       "[チャンネル設定=15][チャンネル文字列=BS15][サービスID=1024][ニュース]"}));
    EXPECT_EQ(std::tuple(ScheduleColumns(open)[0], ScheduleColumns(open)[2]),
              std::tuple(std::string("イベント[ 無効 ]"), std::string("未定")));

    const ScheduleListState list =
        BuildScheduleList({date, event}, {open}, ScheduleView::kFinished);
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(std::tuple(list.pending_radio, list.finished_radio, list.rows[0].columns[0]),
              std::tuple("録画予約(2件)", "録画終了(1件)", "イベント[ 無効 ]"));
}

TEST(ReservationFormTest, EventIdMustBeHexadecimalAfterZeroX) {
    const struct {
        const char* text;
        std::optional<uint16_t> id;
    } cases[] = {{"0x1a2B", 0x1A2B},        {"0X0", 0},
                 {"0xFFFF", 0xFFFF},        {"0x", std::nullopt},
                 {"1A2B", std::nullopt},    {"0x12G", std::nullopt},
                 {"0x10000", std::nullopt}, {" 0x12", std::nullopt},
                 {"", std::nullopt}};
    for (const auto& t : cases) {
        EXPECT_EQ(ParseEventId(t.text), t.id) << t.text;
    }
}

class ScheduleCommandsTest : public ::testing::Test {
protected:
    ScheduleCommandsTest()
        : clock(0, LocalTime{2008, 3, 1, 20, 15, 42, 0, 6}),
          manager(clock, &ui, nullptr),
          commands(manager, editor) {
        manager.SetDefaultFolder(dir.Path());
    }

    test_support::TempDir dir;
    FakeClock clock;
    ScriptedUi ui;
    ReservationManager manager;
    FormEditor editor;
    ScheduleCommands commands;
};

TEST_F(ScheduleCommandsTest, AddPrefillsNowForHalfAnHourARequestedOneTheProgramme) {
    commands.Add();
    Reservation expected = DateReservation(At(2008, 3, 1, 20, 15, 42), 1800);
    CopyText(expected.File, "20080301-2015");
    CopyText(expected.Ext, ".ts");
    CopyText(expected.Dir, dir.Path());
    ASSERT_EQ(manager.Pending().size(), 1u);
    EXPECT_EQ(std::memcmp(&editor.seen, &expected, sizeof(Reservation)), 0);
    EXPECT_EQ(manager.Pending()[0].Flag, RSV_BY_DATE);

    // Asked for a programme: the service limited and the file named after it.
    EXPECT_EQ(commands.RequestDateReservation(0x0400, At(2008, 3, 1, 21, 0, 0), 3600, "X/Y"), 1);
    EXPECT_EQ(
        std::tuple(TextOf(editor.seen.File), editor.seen.Flag, TextOf(editor.seen.EnableServiceID)),
        std::tuple("20080301-2100-X_Y", RSV_BY_DATE | RSV_SERVICE_LIMIT | RSV_FILE_GIVEN, "1024"));
    ASSERT_EQ(manager.Pending().size(), 2u);
    EXPECT_EQ(manager.Pending()[1].RecordSec, 3600u);
}

TEST_F(ScheduleCommandsTest, EventRequestRoundTripsAndRejectsABadEventId) {
    test_support::FakeTuner tuner(clock);  // channels CH13, CH-1 (none) and CH27
    tuner.capabilities = kCapabilityChannel | kCapabilityText;
    tuner.SetChannel(13);
    ReservationManager with_tuner(clock, &ui, &tuner);
    with_tuner.SetDefaultFolder(dir.Path());
    editor.device = &tuner;
    ScheduleCommands c(with_tuner, editor);
    ReservationForm shown;
    editor.user = [&](ReservationForm& form) { shown = form; };
    c.RequestEventReservation(0, 0, 0x0400, 0x1A2B, "");
    EXPECT_EQ(std::tuple(shown.ids, shown.event_id, shown.pickers_enabled, shown.convert_enabled),
              std::tuple("0x0000/0x0000/0x0400", "0x1A2B", false, false));
    ASSERT_EQ(shown.channels.size(), 4u);
    EXPECT_EQ(shown.channels[shown.channel_selection].text, "CH13");
    ASSERT_EQ(with_tuner.Pending().size(), 1u);
    const Reservation r = with_tuner.Pending()[0];
    EXPECT_EQ(std::tuple(r.Flag, r.ChVal, r.StartDateMJD, r.RecordSec, TextOf(r.File)),
              std::tuple(RSV_BY_EVENT | RSV_SERVICE_LIMIT | RSV_CHANNEL_VALUE, 13, 0u, 0u,
                         "20080301-2015"));

    editor.user = [](ReservationForm& form) { form.event_id = "1A2B"; };
    c.RequestEventReservation(0, 0, 0x0400, 0x1A2C, "");
    ASSERT_EQ(editor.messages.size(), 1u);
    EXPECT_NE(editor.messages[0].find("0x"), std::string::npos);
    EXPECT_EQ(with_tuner.Pending().size(), 1u);
}

TEST_F(ScheduleCommandsTest, OkChecksThePathLengthAndTheFolder) {
    const std::string base = dir.Path() + "/";
    // Length of an existing folder (0: none), of the file name and of the extension; the message.
    const std::tuple<size_t, size_t, size_t, std::string> cases[] = {
        {200, 50, 9, "パス名が長すぎます"},
        {200, 50, 8, ""},
        {0, 5, 3, "無効なパスです。"},
    };
    for (const auto& [dir_length, file_length, ext_length, message] : cases) {
        ReservationForm form = FillForm(DateReservation(At(2008, 3, 1, 21, 0, 0), 60), nullptr);
        form.dir = dir_length > 0 ? base + std::string(dir_length - base.size(), 'd') : "";
        ASSERT_TRUE(form.dir.empty() || MakeDirectory(form.dir) || IsDirectory(form.dir));
        form.file = std::string(file_length, 'f');
        form.ext = std::string(ext_length, 'e');
        const FormResult result = ReadDialogRecord(form, Reservation(), nullptr);
        EXPECT_EQ(std::tuple(result.record.has_value(), result.message),
                  std::tuple(message.empty(), message));
    }
}

TEST_F(ScheduleCommandsTest, ConvertingAnEventGivesItsStartAndLengthWithOffsets) {
    Reservation w = EventReservation(0x0400, 1);
    w.SetStart(At(2008, 3, 1, 19, 58, 0));  // 20:00 with -2/+3 applied by the engine
    w.RecordSec = 3900;
    w.OffsetStart = -2;
    w.OffsetEnd = 3;
    CopyText(w.Dir, dir.Path());
    ReservationForm form = FillForm(w, nullptr);
    EXPECT_EQ(form.offset_start, "-2");
    EXPECT_TRUE(form.convert_enabled);
    form.service_limit = false;
    ConvertToDateType(form, w, nullptr);
    const FormResult result = ReadDialogRecord(form, w, nullptr);
    ASSERT_TRUE(result.record);
    const Reservation& r = *result.record;
    EXPECT_EQ(std::tuple(r.Flag, r.Start(), r.RecordSec, r.ServiceID, r.OffsetStart),
              std::tuple(RSV_BY_DATE, At(2008, 3, 1, 19, 58, 0), 3900u, 0, 0));

    // A day or more, or an open end, shows as the longest length the picker holds.
    EXPECT_EQ(LengthForPicker(kUndeterminedLength), (ClockTime{23, 59, 59}));
    EXPECT_EQ(LengthForPicker(3725), (ClockTime{1, 2, 5}));
}

TEST_F(ScheduleCommandsTest, TunerWithoutChannelsSetsNoChannelFlags) {
    test_support::FakeTuner tuner(clock);
    ReservationForm form =
        FillForm(DateReservation(At(2008, 3, 1, 21, 0, 0), 60, RSV_CHANNEL_VALUE), &tuner);
    ASSERT_EQ(form.channels.size(), 1u);
    EXPECT_EQ(std::tuple(form.channels[0].text, form.channel_text, form.channels_enabled,
                         form.channel_text_enabled),
              std::tuple("無効", "無効", false, false));
    form.dir = dir.Path();
    const FormResult result = ReadDialogRecord(form, Reservation(), &tuner);
    ASSERT_TRUE(result.record);
    EXPECT_EQ(result.record->Flag & (RSV_CHANNEL_VALUE | RSV_CHANNEL_TEXT), 0u);
}

TEST_F(ScheduleCommandsTest, ChangeAndDeleteOfTheActiveEntry) {
    const MjdTime start = At(2008, 3, 1, 21, 0, 0);
    Reservation r = DateReservation(start, 600);
    CopyText(r.Dir, dir.Path());
    ASSERT_TRUE(manager.SetReservation(r, -1));
    manager.ScheduleTick({start.mjd, start.seconds - 20});  // preparing

    // Editing a preparation abandons it for the new settings.
    editor.user = [](ReservationForm& form) { form.time.hours = 22; };
    commands.Change(0);
    EXPECT_FALSE(manager.RecordingActive());
    ASSERT_EQ(manager.Pending().size(), 1u);
    EXPECT_EQ(std::tuple(manager.Pending()[0].StartTimeSec, manager.Pending()[0].State()),
              std::tuple(22u * 3600, RSV_STATE_WAITING));

    // Recording: no editing, and deleting ends it at the next tick as finished.
    const MjdTime later = At(2008, 3, 1, 22, 0, 0);
    manager.ScheduleTick({later.mjd, later.seconds - 4});
    ASSERT_TRUE(manager.ActiveIsRecording());
    commands.Change(0);
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(ui.asked[0].first, "録画中のアイテムは編集できません。");
    commands.Delete(0);
    EXPECT_EQ(manager.Pending().size(), 1u);
    manager.ScheduleTick({later.mjd, later.seconds + 2});
    EXPECT_TRUE(manager.Pending().empty());
    EXPECT_EQ(manager.Finished().at(0).State(), RSV_STATE_FINISHED);

    // In the finished view the row is not a pending position.
    ASSERT_TRUE(manager.SetReservation(r, -1));
    EXPECT_TRUE(commands.SetView(ScheduleView::kFinished));
    EXPECT_FALSE(commands.SetView(ScheduleView::kFinished));
    commands.Delete(0);
    EXPECT_EQ(manager.Pending().size(), 1u);
    commands.ClearFinished();
    EXPECT_TRUE(commands.Rebuild().rows.empty());
    EXPECT_EQ(commands.Rebuild().finished_radio, "録画終了(0件)");
}

}  // namespace
}  // namespace tavrel
