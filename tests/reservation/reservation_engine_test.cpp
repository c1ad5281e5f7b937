#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "platform/file.h"
#include "platform/temp_dir.h"
#include "reservation/reservation_fixture.h"
#include "reservation/reservation_manager.h"

namespace tavrel {
namespace {

using test_support::ReadWholeFile;
using test_support::TempDir;
using testing::At;
using testing::DateReservation;
using testing::EventReservation;
using testing::FakeGuide;
using testing::ScriptedUi;

MjdTime Plus(MjdTime t, int64_t seconds) {
    AddSeconds(t, seconds);
    return t;
}

// Ticks once a second from `from` until `done` holds; the time of that tick, or nothing by `to`.
std::optional<MjdTime> TickUntil(ReservationManager& manager, MjdTime from, MjdTime to,
                                 const std::function<bool()>& done) {
    for (MjdTime t = from; t <= to; t = Plus(t, 1)) {
        manager.ScheduleTick(t);
        if (done()) {
            return t;
        }
    }
    return std::nullopt;
}

uint32_t PendingState(const ReservationManager& m, size_t i = 0) {
    const auto pending = m.Pending();
    return i < pending.size() ? pending[i].State() : 0xFF;
}

class ReservationEngine : public ::testing::Test {
protected:
    ReservationEngine() : manager(SystemClock::Instance(), &ui, nullptr) {
        manager.SetStreamCallbacks(guide.Callbacks());
    }

    Reservation DateIn(MjdTime start, uint32_t length, uint32_t flags = 0) {
        Reservation r = DateReservation(start, length, flags);
        CopyText(r.Dir, dir.Path());
        return r;
    }

    TempDir dir;
    ScriptedUi ui;
    FakeGuide guide;
    ReservationManager manager;
};

TEST_F(ReservationEngine, DateReservationIsPreparedStartedAndStoppedOnTime) {
    const MjdTime start = At(2008, 3, 1, 21, 0, 0);
    ASSERT_TRUE(manager.SetReservation(DateIn(start, 1800), -1));
    const uint8_t unit[188] = {0x47, 0x1F, 0xFF, 0x10};

    auto prepared = TickUntil(manager, At(2008, 3, 1, 20, 59, 0), start,
                              [&] { return PendingState(manager) == RSV_STATE_PREPARING; });
    ASSERT_TRUE(prepared);
    EXPECT_EQ(*prepared, At(2008, 3, 1, 20, 59, 31));
    EXPECT_TRUE(manager.IsActiveEntry(0));
    manager.WriteReservationData(unit);  // preparing: dropped

    auto recording = TickUntil(manager, Plus(*prepared, 1), start,
                               [&] { return PendingState(manager) == RSV_STATE_RECORDING; });
    ASSERT_TRUE(recording);
    EXPECT_EQ(*recording, At(2008, 3, 1, 20, 59, 56));
    EXPECT_EQ(manager.ActivePath(), dir.File("20080301-2100.ts"));
    EXPECT_EQ(manager.ActiveRecord()->RecordSec, 1800u);
    manager.WriteReservationData(unit);
    manager.WriteReservationData(unit);

    auto stopped = TickUntil(manager, Plus(*recording, 1), At(2008, 3, 1, 21, 40, 0),
                             [&] { return !manager.RecordingActive(); });
    ASSERT_TRUE(stopped);
    EXPECT_EQ(*stopped, At(2008, 3, 1, 21, 30, 2));
    EXPECT_TRUE(manager.Pending().empty());
    ASSERT_EQ(manager.Finished().size(), 1u);
    EXPECT_EQ(manager.Finished()[0].State(), RSV_STATE_FINISHED);
    EXPECT_EQ(ReadWholeFile(dir.File("20080301-2100.ts")).size(), 2 * sizeof(unit));

    // The same reservation again finds its name taken.
    ASSERT_TRUE(manager.SetReservation(DateIn(start, 1800), -1));
    TickUntil(manager, At(2008, 3, 1, 20, 59, 56), start,
              [&] { return manager.ActiveIsRecording(); });
    EXPECT_EQ(manager.ActivePath(), dir.File("20080301-2100_1.ts"));
}

TEST_F(ReservationEngine, StatusTextCountsDownToThePreparation) {
    const MjdTime start = At(2008, 3, 1, 21, 0, 0);
    ASSERT_TRUE(manager.SetReservation(DateIn(start, 60), -1));
    struct Case {
        int64_t n;  // seconds left until the preparation
        const char* text;
    };
    const Case cases[] = {
        {0, ""},
        {59, "録画準備まであと59秒"},
        {60, "録画準備まであと1:00"},
        {3599, "録画準備まであと59:59"},
        {3600, "録画準備まであと 1:00:00"},
        {86399, "録画準備まであと 23:59:59"},
        {86400, "１日以内に予約はありません"},
    };
    for (const Case& t : cases) {
        manager.SetCurrentTime(Plus(start, -30 - t.n));
        EXPECT_EQ(manager.GetReservationStatus(), t.text) << t.n;
    }
    manager.SetCurrentTime({0, 0});  // no clock yet
    EXPECT_EQ(manager.GetReservationStatus(), "");

    manager.ScheduleTick(Plus(start, -20));
    EXPECT_EQ(manager.GetReservationStatus(), "予約録画準備中(開始まで15秒)");
    manager.SetCurrentTime(Plus(start, -5));
    EXPECT_EQ(manager.GetReservationStatus(), "");
    manager.ScheduleTick(Plus(start, -4));
    EXPECT_EQ(manager.GetReservationStatus().rfind("予約録画中(0MB 残", 0), 0u);

    ReservationManager waiting(SystemClock::Instance(), nullptr, nullptr);
    ASSERT_TRUE(waiting.SetReservation(EventReservation(1, 2), -1));
    waiting.SetCurrentTime(start);
    EXPECT_EQ(waiting.GetReservationStatus(), "イベント情報取得待ち");
}

TEST_F(ReservationEngine, EventReservationTakesStartAndLengthWithOffsetsFromTheGuide) {
    Reservation r = EventReservation(0x0400, 0x1000);
    r.OffsetStart = -2;
    r.OffsetEnd = 3;
    ASSERT_TRUE(manager.SetReservation(r, -1));
    Reservation open = EventReservation(0x0400, 0x1001);
    open.OffsetStart = -1;
    open.OffsetEnd = 10;
    ASSERT_TRUE(manager.SetReservation(open, -1));
    guide.Put(0x0400, 0x1000, At(2008, 3, 1, 20, 0, 0), 3600, 1,
              "\x83\x6a\x83\x85\x81\x5b\x83\x58");
    guide.Put(0x0400, 0x1001, At(2008, 3, 1, 21, 0, 0), kUndefinedDuration, 1);

    const MjdTime now = At(2008, 3, 1, 12, 0, 0);
    manager.ScheduleTick(now);  // one entry per tick
    std::vector<Reservation> pending = manager.Pending();
    EXPECT_EQ(pending[0].StartDateMJD, At(2008, 3, 1, 0, 0, 0).mjd);
    EXPECT_EQ(pending[0].StartTimeSec, 19u * 3600 + 58 * 60);
    EXPECT_EQ(pending[0].RecordSec, 3900u);
    EXPECT_EQ(TextOf(pending[0].eventName), "\x83\x6a\x83\x85\x81\x5b\x83\x58");
    EXPECT_EQ(pending[1].StartDateMJD, 0u);

    manager.ScheduleTick(Plus(now, 1));
    pending = manager.Pending();
    EXPECT_EQ(pending[1].StartTimeSec, 20u * 3600 + 59 * 60);
    EXPECT_EQ(pending[1].RecordSec, kUndeterminedLength);

    const int lookups = guide.lookups;
    manager.ScheduleTick(Plus(now, 2));  // nothing new: both looked up, none stored
    EXPECT_EQ(guide.lookups, lookups + 2);

    // A new version of the guide moves the programme; the list is re-sorted.
    guide.Put(0x0400, 0x1000, At(2008, 3, 1, 22, 0, 0), 1800, 2);
    manager.ScheduleTick(Plus(now, 3));
    pending = manager.Pending();
    EXPECT_EQ(pending[0].EventID, 0x1001);
    EXPECT_EQ(pending[1].StartTimeSec, 21u * 3600 + 58 * 60);
    EXPECT_EQ(pending[1].RecordSec, 1800u + 300);
}

TEST_F(ReservationEngine, OpenEndedProgrammeIsRecordedUntilAnotherIsOnAir) {
    ASSERT_TRUE(manager.SetReservation(EventReservation(1, 1), -1));
    const MjdTime start = At(2008, 3, 1, 20, 0, 0);
    guide.Put(1, 1, start, kUndefinedDuration, 1);
    auto recording = TickUntil(manager, Plus(start, -60), Plus(start, 3600),
                               [&] { return manager.ActiveIsRecording(); });
    ASSERT_TRUE(recording);
    EXPECT_EQ(*recording, Plus(start, -4));
    EXPECT_FALSE(TickUntil(manager, Plus(start, 1), Plus(start, 600),
                           [&] { return !manager.RecordingActive(); }));

    guide.Put(1, 2, Plus(start, 601), 1800, 1);  // the next programme begins
    auto stopped = TickUntil(manager, Plus(start, 601), Plus(start, 700),
                             [&] { return !manager.RecordingActive(); });
    EXPECT_EQ(stopped, Plus(start, 601));  // the update comes before the end check
    EXPECT_EQ(manager.Finished().at(0).State(), RSV_STATE_FINISHED);
}

TEST_F(ReservationEngine, RecordingWhoseEventVanishesStopsInTheSameTick) {
    ASSERT_TRUE(manager.SetReservation(EventReservation(1, 1), -1));
    const MjdTime start = At(2008, 3, 1, 20, 0, 0);
    guide.Put(1, 1, start, 3600, 1);
    ASSERT_TRUE(
        TickUntil(manager, Plus(start, -60), start, [&] { return manager.ActiveIsRecording(); }));
    guide.events.clear();
    manager.ScheduleTick(Plus(start, 10));
    EXPECT_FALSE(manager.RecordingActive());
}

TEST_F(ReservationEngine, WaitsWhileTheProgrammeBeforeHasNoKnownEnd) {
    const MjdTime start = At(2008, 3, 1, 20, 0, 0);
    ASSERT_TRUE(manager.SetReservation(EventReservation(1, 2), -1));
    guide.Put(1, 1, Plus(start, -3600), kUndefinedDuration, 1);  // on air, runs over
    guide.Put(1, 2, start, 1800, 1);

    ASSERT_TRUE(TickUntil(manager, Plus(start, -60), Plus(start, 60),
                          [&] { return manager.WaitingForEnd(); }));
    EXPECT_EQ(manager.GetReservationStatus(), "終了時刻未定の為待機中");
    guide.Put(1, 2, Plus(start, 120), 1800, 2);  // the broadcaster delays it
    manager.ScheduleTick(Plus(start, 100));      // the overrun goes on: still waiting
    EXPECT_TRUE(manager.WaitingForEnd());
    EXPECT_FALSE(manager.ActiveIsRecording());

    guide.events.erase({1, 1});              // the overrun ends: the reserved programme is on air
    manager.ScheduleTick(Plus(start, 121));  // the wait is over: abandoned, prepared again
    EXPECT_FALSE(manager.WaitingForEnd());
    EXPECT_FALSE(manager.RecordingActive());
    manager.ScheduleTick(Plus(start, 122));
    EXPECT_TRUE(manager.ActiveIsRecording());
}

TEST_F(ReservationEngine, UnopenableFileEndsInErrorWithNothingRecorded) {
    Reservation r = DateReservation(At(2008, 3, 1, 21, 0, 0), 60);
    CopyText(r.Dir, dir.File("missing"));
    ASSERT_TRUE(manager.SetReservation(r, -1));
    manager.ScheduleTick(At(2008, 3, 1, 20, 59, 59));
    EXPECT_FALSE(manager.RecordingActive());
    ASSERT_EQ(manager.Finished().size(), 1u);
    EXPECT_EQ(manager.Finished()[0].State(), RSV_STATE_ERROR);
    EXPECT_FALSE(PathExists(dir.File("missing")));
}

TEST_F(ReservationEngine, ProgrammeNameIsMadeSafeForTheFileNameOnly) {
    Reservation r = EventReservation(1, 1);
    CopyText(r.Dir, dir.Path());
    ASSERT_TRUE(manager.SetReservation(r, -1));
    // "a/b:c" followed by a control character and "ニュース" in Shift_JIS.
    const std::string name = "a/b:c\x01\x83\x6a\x83\x85\x81\x5b\x83\x58";
    guide.Put(1, 1, At(2008, 3, 1, 20, 0, 0), 600, 1, name);
    ASSERT_TRUE(TickUntil(manager, At(2008, 3, 1, 19, 59, 0), At(2008, 3, 1, 20, 0, 0),
                          [&] { return manager.ActiveIsRecording(); }));
    EXPECT_EQ(manager.ActivePath(), dir.File("20080301-2000-a_b_c_ニュース.ts"));
    EXPECT_TRUE(PathExists(manager.ActivePath()));
    EXPECT_EQ(TextOf(manager.ActiveRecord()->eventName), name);
}

TEST(ReservationFileName, GivenNamesAndExtensions) {
    Reservation r = DateReservation(At(2008, 3, 1, 21, 5, 0), 60, RSV_FILE_GIVEN);
    CopyText(r.Dir, "/rec/");
    CopyText(r.Ext, ".ts");
    struct Case {
        const char* file;
        const char* path;
    };
    const Case cases[] = {
        {"show", "/rec/show.ts"}, {"show.m2t", "/rec/show.m2t"}, {"", "/rec/.ts"}};
    for (const Case& t : cases) {
        CopyText(r.File, t.file);
        EXPECT_EQ(ReservationFilePath(r), t.path);
    }
    r.Flag = RSV_BY_DATE;
    CopyText(r.Dir, "/rec");
    EXPECT_EQ(ReservationFilePath(r), "/rec/20080301-2105.ts");
}

// An entry 0 whose time passed unrecorded used to block every later reservation.
TEST_F(ReservationEngine, MissedEntryFinishesAsInvalidAndTheNextOneRuns) {
    ASSERT_TRUE(manager.SetReservation(DateIn(At(2008, 3, 1, 9, 0, 0), 600, RSV_DAILY), -1));
    ASSERT_TRUE(manager.SetReservation(DateIn(At(2008, 3, 1, 21, 0, 0), 600), -1));
    manager.ScheduleTick(At(2008, 3, 1, 20, 59, 40));
    ASSERT_EQ(manager.Finished().size(), 1u);
    EXPECT_EQ(manager.Finished()[0].State(), RSV_STATE_INVALID);
    const std::vector<Reservation> pending = manager.Pending();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0].StartTimeSec, 21u * 3600);
    EXPECT_EQ(pending[0].State(), RSV_STATE_PREPARING);
    EXPECT_EQ(pending[1].StartDateMJD, At(2008, 3, 2, 0, 0, 0).mjd);  // tomorrow's 09:00

    // An entry whose end has not yet passed is still recorded, late.
    ReservationManager late(SystemClock::Instance(), nullptr, nullptr);
    ASSERT_TRUE(late.SetReservation(DateIn(At(2008, 3, 1, 9, 0, 0), 600), -1));
    late.ScheduleTick(At(2008, 3, 1, 9, 9, 0));
    EXPECT_TRUE(late.ActiveIsRecording());
}

// While preparing, the entry is recognised as active; cancelling leaves the engine free.
TEST_F(ReservationEngine, PreparationIsRecognisedAndCancelledCleanly) {
    const MjdTime start = At(2008, 3, 1, 21, 0, 0);
    ASSERT_TRUE(manager.SetReservation(DateIn(start, 600, RSV_WEEKLY), -1));
    ASSERT_TRUE(manager.SetReservation(DateIn(Plus(start, 1200), 600), -1));
    manager.ScheduleTick(Plus(start, -20));
    ASSERT_EQ(PendingState(manager), RSV_STATE_PREPARING);
    EXPECT_TRUE(manager.IsActiveEntry(0));
    EXPECT_FALSE(manager.IsActiveEntry(1));
    EXPECT_FALSE(manager.FinishReservation(kFinishDeleted, 0));

    EXPECT_FALSE(manager.CancelPreparation(1));
    ASSERT_TRUE(manager.CancelPreparation(0));
    EXPECT_FALSE(manager.RecordingActive());
    ASSERT_TRUE(manager.FinishReservation(kFinishDeleted, 0));
    EXPECT_EQ(manager.Pending().size(), 2u);  // the later one and next week's

    auto recording = TickUntil(manager, Plus(start, -19), Plus(start, 1200),
                               [&] { return manager.ActiveIsRecording(); });
    EXPECT_EQ(recording, Plus(start, 1196));
}

// A reservation sorted in front of the running one does not keep it running past its end.
TEST_F(ReservationEngine, EndCheckFollowsTheActiveEntryWhereverItSits) {
    const MjdTime start = At(2008, 3, 1, 21, 0, 0);
    ASSERT_TRUE(manager.SetReservation(DateIn(start, 600), -1));
    ASSERT_TRUE(
        TickUntil(manager, Plus(start, -10), start, [&] { return manager.ActiveIsRecording(); }));
    ASSERT_TRUE(manager.SetReservation(DateIn(Plus(start, -300), 400), -1));  // forced overlap
    EXPECT_EQ(ui.asked.size(), 1u);
    EXPECT_TRUE(manager.IsActiveEntry(1));

    auto stopped = TickUntil(manager, Plus(start, 1), Plus(start, 900),
                             [&] { return !manager.ActiveIsRecording(); });
    EXPECT_EQ(stopped, Plus(start, 602));
    manager.ScheduleTick(Plus(start, 603));
    ASSERT_EQ(manager.Finished().size(), 2u);  // the earlier one is found missed afterwards
    EXPECT_EQ(manager.Finished()[0].StartTimeSec, start.seconds);
    EXPECT_EQ(manager.Finished()[0].State(), RSV_STATE_FINISHED);
    EXPECT_EQ(manager.Finished()[1].State(), RSV_STATE_INVALID);
}

TEST_F(ReservationEngine, ProgrammeMovedLaterWhilePreparingIsPreparedAgainInTime) {
    const MjdTime start = At(2008, 3, 1, 21, 0, 0);
    ASSERT_TRUE(manager.SetReservation(EventReservation(1, 1), -1));
    guide.Put(1, 1, start, 600, 1);
    manager.ScheduleTick(Plus(start, -20));
    ASSERT_EQ(PendingState(manager), RSV_STATE_PREPARING);
    guide.Put(1, 1, Plus(start, 3600), 600, 2);
    manager.ScheduleTick(Plus(start, -4));  // would have started the old time
    EXPECT_FALSE(manager.RecordingActive());
    auto recording = TickUntil(manager, Plus(start, -3), Plus(start, 3600),
                               [&] { return manager.ActiveIsRecording(); });
    EXPECT_EQ(recording, Plus(start, 3596));
}

TEST_F(ReservationEngine, ServiceLimitationFollowsThePmts) {
    std::vector<std::pair<std::vector<uint16_t>, std::vector<uint16_t>>> calls;
    ReservationStreamCallbacks callbacks = guide.Callbacks();
    callbacks.filter = [&](uint32_t mode, std::span<const uint16_t> services,
                           std::span<const uint16_t> pids) {
        EXPECT_EQ(mode, 0u);
        calls.emplace_back(std::vector<uint16_t>(services.begin(), services.end()),
                           std::vector<uint16_t>(pids.begin(), pids.end()));
    };
    manager.SetStreamCallbacks(callbacks);
    const StreamEntry first[] = {{0x02, 0, 0x0100}, {0x0F, 0, 0x0110}};
    const StreamEntry second[] = {{0x02, 0, 0x0200}, {0x0F, 0, 0x0110}};
    manager.UpdateServicePids(0x0400, first);
    manager.UpdateServicePids(0x0408, second);
    EXPECT_TRUE(calls.empty());  // nothing is recording

    const MjdTime start = At(2008, 3, 1, 21, 0, 0);
    Reservation limited = DateIn(start, 60, RSV_SERVICE_LIMIT);
    CopyText(limited.EnableServiceID, "1024");
    ASSERT_TRUE(manager.SetReservation(limited, -1));
    manager.ScheduleTick(Plus(start, -4));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, std::vector<uint16_t>{0x0400});
    EXPECT_EQ(calls[0].second, std::vector<uint16_t>{0x0200});

    const StreamEntry changed[] = {{0x02, 0, 0x0210}};
    manager.UpdateServicePids(0x0408, changed);  // a new PMT re-applies it
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].second, std::vector<uint16_t>{0x0210});
    manager.ClearServicePids();
    EXPECT_EQ(calls.size(), 2u);  // untouched until the next PMT
    manager.UpdateServicePids(0x0400, first);
    EXPECT_EQ(calls.back().second, std::vector<uint16_t>{});

    // Without the limitation the output is opened up again.
    manager.ScheduleTick(Plus(start, 62));
    ASSERT_TRUE(manager.SetReservation(DateIn(Plus(start, 600), 60), -1));
    manager.ScheduleTick(Plus(start, 600 - 4));
    EXPECT_TRUE(calls.back().first.empty());
    EXPECT_TRUE(calls.back().second.empty());
}

TEST(ServicePids, ExcludedPidsBelongOnlyToOtherProgrammes) {
    const ServicePidTable table = {
        {0x0400, {{0x02, 0, 0x0100}, {0x0F, 0, 0x0110}}},
        {0x0408, {{0x02, 0, 0x0200}, {0x0F, 0, 0x0110}}},
        {0x0410, {}},
    };
    struct Case {
        std::vector<uint16_t> services;
        std::vector<uint16_t> excluded;
    };
    const Case cases[] = {
        {{0x0400}, {0x0200}},           {{0x0408}, {0x0100}},
        {{0x0400, 0x0408}, {}},         {{0x0999}, {0x0100, 0x0110, 0x0200}},
        {{}, {0x0100, 0x0110, 0x0200}},
    };
    for (const Case& t : cases) {
        EXPECT_EQ(ComputeExcludedPids(table, t.services), t.excluded);
    }
    EXPECT_TRUE(ComputeExcludedPids({}, std::vector<uint16_t>{0x0400}).empty());
}

}  // namespace
}  // namespace tavrel

namespace tavrel {
namespace {

// The processing thread delivers output 1 and PMTs while the UI thread ticks a recording
// through; every block is whole in the file (run under ThreadSanitizer too).
TEST(ReservationThreads, OutputOneAndPmtsArriveWhileTheEngineTicks) {
    TempDir dir;
    ReservationManager manager(SystemClock::Instance(), nullptr, nullptr);
    std::atomic<int> filters{0};
    ReservationStreamCallbacks callbacks;
    callbacks.filter = [&](uint32_t, std::span<const uint16_t>, std::span<const uint16_t>) {
        ++filters;
    };
    manager.SetStreamCallbacks(callbacks);
    const MjdTime start = At(2008, 3, 1, 21, 0, 0);
    Reservation r = DateReservation(start, 30, RSV_SERVICE_LIMIT);
    CopyText(r.Dir, dir.Path());
    CopyText(r.EnableServiceID, "1024");
    ASSERT_TRUE(manager.SetReservation(r, -1));

    std::atomic<bool> stop{false};
    std::thread processing([&] {
        std::array<uint8_t, 188 * 7> block{};
        for (size_t i = 0; i < block.size(); i += 188) {
            block[i] = 0x47;
        }
        const StreamEntry streams[] = {{0x02, 0, 0x0100}};
        for (uint16_t n = 0; !stop.load(); ++n) {
            manager.WriteReservationData(block);
            if (n % 64 == 0) {
                manager.UpdateServicePids(0x0400 + (n / 64) % 4, streams);
            }
            std::this_thread::yield();
        }
    });
    for (MjdTime t = Plus(start, -40); t <= Plus(start, 40); t = Plus(t, 1)) {
        manager.ScheduleTick(t);
        (void)manager.GetReservationStatus();
        std::this_thread::yield();
    }
    stop = true;
    processing.join();

    ASSERT_EQ(manager.Finished().size(), 1u);
    EXPECT_EQ(manager.Finished()[0].State(), RSV_STATE_FINISHED);
    EXPECT_GE(filters.load(), 1);
    const std::vector<uint8_t> file = ReadWholeFile(dir.File("20080301-2100.ts"));
    EXPECT_EQ(file.size() % (188 * 7), 0u);
}

}  // namespace
}  // namespace tavrel
