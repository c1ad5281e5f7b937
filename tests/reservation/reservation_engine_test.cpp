#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
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
using testing::Plus;
using testing::ScriptedUi;

// 2008-03-01 21:00, the start of most reservations here.
const MjdTime kStart = At(2008, 3, 1, 21, 0, 0);

using States = std::vector<uint32_t>;
States StatesOf(const std::vector<Reservation>& list) {
    States states;
    for (const Reservation& r : list) {
        states.push_back(r.State());
    }
    return states;
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
    uint32_t State() const {
        const auto pending = manager.Pending();
        return pending.empty() ? 0xFF : pending[0].State();
    }
    // Seconds from kStart of the first tick (from `from`, to `to`) that finds a recording begun
    // or, with `stopped`, none running.
    std::optional<int64_t> Until(int64_t from, int64_t to, bool stopped = false) {
        const auto t = TickUntil(manager, Plus(kStart, from), Plus(kStart, to), [&] {
            return stopped ? !manager.RecordingActive() : manager.ActiveIsRecording();
        });
        return t ? std::optional(t->TotalSeconds() - kStart.TotalSeconds()) : std::nullopt;
    }

    TempDir dir;
    ScriptedUi ui;
    testing::FakeGuide guide;
    ReservationManager manager;
};

TEST_F(ReservationEngine, DateReservationIsPreparedStartedAndStoppedOnTime) {
    ASSERT_TRUE(manager.SetReservation(DateIn(kStart, 1800), -1));
    const uint8_t unit[188] = {0x47, 0x1F, 0xFF, 0x10};

    auto prepared = TickUntil(manager, Plus(kStart, -60), kStart,
                              [&] { return State() == RSV_STATE_PREPARING; });
    EXPECT_EQ(prepared, Plus(kStart, -29));
    EXPECT_TRUE(manager.IsActiveEntry(0));
    manager.WriteReservationData(unit);  // preparing: dropped

    EXPECT_EQ(Until(-28, 0), -4);
    EXPECT_EQ(std::tuple(manager.ActivePath(), manager.ActiveRecord()->RecordSec),
              std::tuple(dir.File("20080301-2100.ts"), 1800u));
    manager.WriteReservationData(unit);
    manager.WriteReservationData(unit);

    EXPECT_EQ(Until(-3, 2400, true), 1802);
    EXPECT_TRUE(manager.Pending().empty());
    EXPECT_EQ(StatesOf(manager.Finished()), (States{RSV_STATE_FINISHED}));
    EXPECT_EQ(ReadWholeFile(dir.File("20080301-2100.ts")).size(), 2 * sizeof(unit));

    // The same reservation again finds its name taken.
    ASSERT_TRUE(manager.SetReservation(DateIn(kStart, 1800), -1));
    Until(-4, 0);
    EXPECT_EQ(manager.ActivePath(), dir.File("20080301-2100_1.ts"));
}

TEST_F(ReservationEngine, StatusTextCountsDownToThePreparation) {
    ASSERT_TRUE(manager.SetReservation(DateIn(kStart, 60), -1));
    const struct {
        int64_t n;  // seconds left until the preparation
        const char* text;
    } cases[] = {
        {0, ""},
        {59, "録画準備まであと59秒"},
        {60, "録画準備まであと1:00"},
        {3599, "録画準備まであと59:59"},
        {3600, "録画準備まであと 1:00:00"},
        {86399, "録画準備まであと 23:59:59"},
        {86400, "１日以内に予約はありません"},
    };
    for (const auto& t : cases) {
        manager.SetCurrentTime(Plus(kStart, -30 - t.n));
        EXPECT_EQ(manager.GetReservationStatus(), t.text) << t.n;
    }
    manager.SetCurrentTime({0, 0});  // no clock yet
    EXPECT_EQ(manager.GetReservationStatus(), "");

    manager.ScheduleTick(Plus(kStart, -20));
    EXPECT_EQ(manager.GetReservationStatus(), "予約録画準備中(開始まで15秒)");
    manager.SetCurrentTime(Plus(kStart, -5));
    EXPECT_EQ(manager.GetReservationStatus(), "");
    manager.ScheduleTick(Plus(kStart, -4));
    EXPECT_EQ(manager.GetReservationStatus().rfind("予約録画中(0MB 残", 0), 0u);

    ReservationManager waiting(SystemClock::Instance(), nullptr, nullptr);
    ASSERT_TRUE(waiting.SetReservation(EventReservation(1, 2), -1));
    waiting.SetCurrentTime(kStart);
    EXPECT_EQ(waiting.GetReservationStatus(), "イベント情報取得待ち");
}

TEST_F(ReservationEngine, EventReservationTakesStartAndLengthWithOffsetsFromTheGuide) {
    const int offsets[2][2] = {{-2, 3}, {-1, 10}};  // minutes, of events 0x1000 and 0x1001
    for (uint16_t i = 0; i < 2; ++i) {
        Reservation r = EventReservation(0x0400, 0x1000 + i);
        r.OffsetStart = offsets[i][0];
        r.OffsetEnd = offsets[i][1];
        ASSERT_TRUE(manager.SetReservation(r, -1));
    }
    guide.Put(0x0400, 0x1000, At(2008, 3, 1, 20, 0, 0), 3600, 1,
              "\x83\x6a\x83\x85\x81\x5b\x83\x58");
    guide.Put(0x0400, 0x1001, kStart, kUndefinedDuration, 1);

    const MjdTime now = At(2008, 3, 1, 12, 0, 0);
    manager.ScheduleTick(now);  // one entry per tick
    std::vector<Reservation> pending = manager.Pending();
    EXPECT_EQ(std::tuple(pending[0].Start(), pending[0].RecordSec, TextOf(pending[0].eventName),
                         pending[1].StartDateMJD),
              std::tuple(At(2008, 3, 1, 19, 58, 0), 3900u, "\x83\x6a\x83\x85\x81\x5b\x83\x58", 0u));

    manager.ScheduleTick(Plus(now, 1));
    pending = manager.Pending();
    EXPECT_EQ(std::tuple(pending[1].Start(), pending[1].RecordSec),
              std::tuple(At(2008, 3, 1, 20, 59, 0), kUndeterminedLength));

    const int lookups = guide.lookups;
    manager.ScheduleTick(Plus(now, 2));  // nothing new: both looked up, none stored
    EXPECT_EQ(guide.lookups, lookups + 2);

    // A new version of the guide moves the programme; the list is re-sorted.
    guide.Put(0x0400, 0x1000, At(2008, 3, 1, 22, 0, 0), 1800, 2);
    manager.ScheduleTick(Plus(now, 3));
    pending = manager.Pending();
    EXPECT_EQ(std::tuple(pending[0].EventID, pending[1].Start(), pending[1].RecordSec),
              std::tuple(0x1001, At(2008, 3, 1, 21, 58, 0), 1800u + 300));
}

TEST_F(ReservationEngine, OpenEndedProgrammeIsRecordedUntilAnotherIsOnAir) {
    ASSERT_TRUE(manager.SetReservation(EventReservation(1, 1), -1));
    guide.Put(1, 1, kStart, kUndefinedDuration, 1);
    EXPECT_EQ(Until(-60, 3600), -4);
    EXPECT_FALSE(Until(1, 600, true));
    guide.Put(1, 2, Plus(kStart, 601), 1800, 1);  // the next programme begins
    EXPECT_EQ(Until(601, 700, true), 601);        // the update comes before the end check
    EXPECT_EQ(StatesOf(manager.Finished()), (States{RSV_STATE_FINISHED}));
}

TEST_F(ReservationEngine, WaitsWhileTheProgrammeBeforeHasNoKnownEnd) {
    ASSERT_TRUE(manager.SetReservation(EventReservation(1, 2), -1));
    guide.Put(1, 1, Plus(kStart, -3600), kUndefinedDuration, 1);  // on air, runs over
    guide.Put(1, 2, kStart, 1800, 1);

    ASSERT_TRUE(TickUntil(manager, Plus(kStart, -60), Plus(kStart, 60),
                          [&] { return manager.WaitingForEnd(); }));
    EXPECT_EQ(manager.GetReservationStatus(), "終了時刻未定の為待機中");
    guide.Put(1, 2, Plus(kStart, 120), 1800, 2);  // the broadcaster delays it
    manager.ScheduleTick(Plus(kStart, 100));      // the overrun goes on: still waiting
    EXPECT_EQ(std::tuple(manager.WaitingForEnd(), manager.ActiveIsRecording()),
              std::tuple(true, false));

    guide.events.erase({1, 1});               // the overrun ends: the reserved programme is on air
    manager.ScheduleTick(Plus(kStart, 121));  // the wait is over: abandoned, prepared again
    EXPECT_EQ(std::tuple(manager.WaitingForEnd(), manager.RecordingActive()),
              std::tuple(false, false));
    EXPECT_EQ(Until(122, 122), 122);
}

TEST_F(ReservationEngine, UnopenableFileEndsInErrorWithNothingRecorded) {
    Reservation r = DateReservation(kStart, 60);
    CopyText(r.Dir, dir.File("missing"));
    ASSERT_TRUE(manager.SetReservation(r, -1));
    manager.ScheduleTick(Plus(kStart, -1));
    EXPECT_FALSE(manager.RecordingActive());
    EXPECT_EQ(StatesOf(manager.Finished()), (States{RSV_STATE_ERROR}));
    EXPECT_FALSE(PathExists(dir.File("missing")));
}

TEST(ReservationFileName, GivenNamesExtensionsAndSafeProgrammeNames) {
    // "a/b:c", a control character and "ニュース" in Shift_JIS: made safe for the name only.
    const char* unsafe = "a/b:c\x01\x83\x6a\x83\x85\x81\x5b\x83\x58";
    const struct {
        uint32_t flags;
        const char* dir;
        const char* file;  // or the programme's name
        const char* path;
    } cases[] = {
        {RSV_BY_DATE | RSV_FILE_GIVEN, "/rec/", "show", "/rec/show.ts"},
        {RSV_BY_DATE | RSV_FILE_GIVEN, "/rec/", "show.m2t", "/rec/show.m2t"},
        {RSV_BY_DATE | RSV_FILE_GIVEN, "/rec", "", "/rec/.ts"},
        {RSV_BY_DATE, "/rec", "", "/rec/20080301-2105.ts"},
        {RSV_BY_EVENT, "/rec", unsafe, "/rec/20080301-2105-a_b_c_ニュース.ts"},
    };
    for (const auto& t : cases) {
        Reservation r = DateReservation(At(2008, 3, 1, 21, 5, 0), 60);
        r.Flag = t.flags;
        CopyText(r.Dir, t.dir);
        CopyText(r.Ext, ".ts");
        CopyText(r.File, t.file);
        CopyText(r.eventName, t.file);
        EXPECT_EQ(ReservationFilePath(r), t.path);
    }
}

// An entry 0 whose time passed unrecorded used to block every later reservation.
TEST_F(ReservationEngine, MissedEntryFinishesAsInvalidAndTheNextOneRuns) {
    ASSERT_TRUE(manager.SetReservation(DateIn(At(2008, 3, 1, 9, 0, 0), 600, RSV_DAILY), -1));
    ASSERT_TRUE(manager.SetReservation(DateIn(kStart, 600), -1));
    manager.ScheduleTick(Plus(kStart, -20));
    EXPECT_EQ(StatesOf(manager.Finished()), (States{RSV_STATE_INVALID}));
    const std::vector<Reservation> pending = manager.Pending();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(std::tuple(pending[0].Start(), pending[0].State(), pending[1].Start()),
              std::tuple(kStart, RSV_STATE_PREPARING, At(2008, 3, 2, 9, 0, 0)));  // tomorrow's

    // An entry whose end has not yet passed is still recorded, late.
    ReservationManager late(SystemClock::Instance(), nullptr, nullptr);
    ASSERT_TRUE(late.SetReservation(DateIn(At(2008, 3, 1, 9, 0, 0), 600), -1));
    late.ScheduleTick(At(2008, 3, 1, 9, 9, 0));
    EXPECT_TRUE(late.ActiveIsRecording());
}

// While preparing, the entry is recognised as active; cancelling leaves the engine free.
TEST_F(ReservationEngine, PreparationIsRecognisedAndCancelledCleanly) {
    ASSERT_TRUE(manager.SetReservation(DateIn(kStart, 600, RSV_WEEKLY), -1));
    ASSERT_TRUE(manager.SetReservation(DateIn(Plus(kStart, 1200), 600), -1));
    manager.ScheduleTick(Plus(kStart, -20));
    ASSERT_EQ(State(), RSV_STATE_PREPARING);
    EXPECT_EQ(std::tuple(manager.IsActiveEntry(0), manager.IsActiveEntry(1),
                         manager.FinishReservation(kFinishDeleted, 0)),
              std::tuple(true, false, false));

    EXPECT_FALSE(manager.CancelPreparation(1));
    ASSERT_TRUE(manager.CancelPreparation(0));
    EXPECT_FALSE(manager.RecordingActive());
    ASSERT_TRUE(manager.FinishReservation(kFinishDeleted, 0));
    EXPECT_EQ(manager.Pending().size(), 2u);  // the later one and next week's
    EXPECT_EQ(Until(-19, 1200), 1196);
}

// A reservation sorted in front of the running one does not keep it running past its end.
TEST_F(ReservationEngine, EndCheckFollowsTheActiveEntryWhereverItSits) {
    ASSERT_TRUE(manager.SetReservation(DateIn(kStart, 600), -1));
    ASSERT_TRUE(Until(-10, 0));
    ASSERT_TRUE(manager.SetReservation(DateIn(Plus(kStart, -300), 400), -1));  // forced overlap
    EXPECT_EQ(ui.asked.size(), 1u);
    EXPECT_TRUE(manager.IsActiveEntry(1));

    EXPECT_EQ(Until(1, 900, true), 602);
    manager.ScheduleTick(Plus(kStart, 603));
    // The earlier one is found missed afterwards.
    EXPECT_EQ(StatesOf(manager.Finished()), (States{RSV_STATE_FINISHED, RSV_STATE_INVALID}));
    EXPECT_EQ(manager.Finished()[0].Start(), kStart);
}

TEST_F(ReservationEngine, ProgrammeMovedWhilePreparingIsPreparedAgainOneVanishedStopsIt) {
    ASSERT_TRUE(manager.SetReservation(EventReservation(1, 1), -1));
    guide.Put(1, 1, kStart, 600, 1);
    manager.ScheduleTick(Plus(kStart, -20));
    ASSERT_EQ(State(), RSV_STATE_PREPARING);
    guide.Put(1, 1, Plus(kStart, 3600), 600, 2);
    manager.ScheduleTick(Plus(kStart, -4));  // would have started the old time
    EXPECT_FALSE(manager.RecordingActive());
    EXPECT_EQ(Until(-3, 3600), 3596);
    guide.events.clear();  // the programme vanishes: the recording stops in the same tick
    manager.ScheduleTick(Plus(kStart, 3610));
    EXPECT_FALSE(manager.RecordingActive());
}

TEST_F(ReservationEngine, ServiceLimitationFollowsThePmts) {
    using Pids = std::vector<uint16_t>;
    std::vector<std::pair<Pids, Pids>> calls;  // services, excluded PIDs
    ReservationStreamCallbacks callbacks = guide.Callbacks();
    callbacks.filter = [&](uint32_t mode, std::span<const uint16_t> services,
                           std::span<const uint16_t> pids) {
        EXPECT_EQ(mode, 0u);
        calls.emplace_back(Pids(services.begin(), services.end()), Pids(pids.begin(), pids.end()));
    };
    manager.SetStreamCallbacks(callbacks);
    const StreamEntry first[] = {{0x02, 0, 0x0100}, {0x0F, 0, 0x0110}};
    const StreamEntry second[] = {{0x02, 0, 0x0200}, {0x0F, 0, 0x0110}};
    manager.UpdateServicePids(0x0400, first);
    manager.UpdateServicePids(0x0408, second);
    EXPECT_TRUE(calls.empty());  // nothing is recording

    Reservation limited = DateIn(kStart, 60, RSV_SERVICE_LIMIT);
    CopyText(limited.EnableServiceID, "1024");
    ASSERT_TRUE(manager.SetReservation(limited, -1));
    manager.ScheduleTick(Plus(kStart, -4));
    EXPECT_EQ(calls, (std::vector<std::pair<Pids, Pids>>{{{0x0400}, {0x0200}}}));

    const StreamEntry changed[] = {{0x02, 0, 0x0210}};
    manager.UpdateServicePids(0x0408, changed);  // a new PMT re-applies it
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].second, Pids{0x0210});
    manager.ClearServicePids();
    EXPECT_EQ(calls.size(), 2u);  // untouched until the next PMT
    manager.UpdateServicePids(0x0400, first);
    EXPECT_EQ(calls.back().second, Pids{});

    // Without the limitation the output is opened up again.
    manager.ScheduleTick(Plus(kStart, 62));
    ASSERT_TRUE(manager.SetReservation(DateIn(Plus(kStart, 600), 60), -1));
    manager.ScheduleTick(Plus(kStart, 600 - 4));
    EXPECT_EQ(calls.back(), (std::pair<Pids, Pids>{}));
}

TEST(ServicePids, ExcludedPidsBelongOnlyToOtherProgrammes) {
    const ServicePidTable table = {
        {0x0400, {{0x02, 0, 0x0100}, {0x0F, 0, 0x0110}}},
        {0x0408, {{0x02, 0, 0x0200}, {0x0F, 0, 0x0110}}},
        {0x0410, {}},
    };
    const struct {
        std::vector<uint16_t> services;
        std::vector<uint16_t> excluded;
    } cases[] = {
        {{0x0400}, {0x0200}},           {{0x0408}, {0x0100}},
        {{0x0400, 0x0408}, {}},         {{0x0999}, {0x0100, 0x0110, 0x0200}},
        {{}, {0x0100, 0x0110, 0x0200}},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(ComputeExcludedPids(table, t.services), t.excluded);
    }
    EXPECT_TRUE(ComputeExcludedPids({}, std::vector<uint16_t>{0x0400}).empty());
}

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
    Reservation r = DateReservation(kStart, 30, RSV_SERVICE_LIMIT);
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
    for (MjdTime t = Plus(kStart, -40); t <= Plus(kStart, 40); t = Plus(t, 1)) {
        manager.ScheduleTick(t);
        (void)manager.GetReservationStatus();
        std::this_thread::yield();
    }
    stop = true;
    processing.join();

    EXPECT_EQ(StatesOf(manager.Finished()), (States{RSV_STATE_FINISHED}));
    EXPECT_GE(filters.load(), 1);
    const std::vector<uint8_t> file = ReadWholeFile(dir.File("20080301-2100.ts"));
    EXPECT_EQ(file.size() % (188 * 7), 0u);
}

TEST(ReservationOrder, UnplacedEventsGoLastByServiceThenEvent) {
    Reservation placed_event = EventReservation(0xFFFF, 1);
    placed_event.SetStart(At(2008, 3, 1, 20, 30, 0));
    // In order: every earlier one is less than every later one, and none less than itself.
    const Reservation ordered[] = {DateReservation(At(2008, 3, 1, 20, 0, 0), 60),
                                   placed_event,
                                   DateReservation(At(2008, 3, 1, 21, 0, 0), 60),
                                   DateReservation(At(2008, 3, 2, 0, 0, 0), 60),
                                   EventReservation(0x0400, 9),
                                   EventReservation(0x0400, 10),
                                   EventReservation(0x0401, 1)};
    for (size_t i = 0; i < std::size(ordered); ++i) {
        for (size_t j = 0; j < std::size(ordered); ++j) {
            EXPECT_EQ(ReservationLess(ordered[i], ordered[j]), i < j) << i << " vs " << j;
        }
    }
}

// The pending list holds one date reservation 21:00:00 for 600 s; does a new one overlap?
TEST(ReservationOverlap, ClosedIntervalsOfDateReservations) {
    Reservation undetermined = DateReservation(At(2008, 3, 1, 21, 10, 2), kUndeterminedLength);
    Reservation undetermined_on_end =
        DateReservation(At(2008, 3, 1, 21, 10, 0), kUndeterminedLength);
    Reservation event = EventReservation(1, 1);
    event.SetStart(At(2008, 3, 1, 21, 0, 0));
    event.RecordSec = 600;
    const struct {
        const char* what;
        Reservation record;
        bool asked;
    } cases[] = {
        {"ends where it begins", DateReservation(At(2008, 3, 1, 20, 50, 0), 600), true},
        {"begins where it ends", DateReservation(At(2008, 3, 1, 21, 10, 0), 600), true},
        {"one second apart", DateReservation(At(2008, 3, 1, 21, 10, 1), 600), false},
        {"lies inside it", DateReservation(At(2008, 3, 1, 21, 2, 0), 60), true},
        {"wraps it", DateReservation(At(2008, 3, 1, 20, 0, 0), 7200), true},
        {"open end is one second before its start", undetermined, false},
        {"open end starting on its end", undetermined_on_end, true},
        {"event type is never checked", event, false},
    };
    for (const auto& t : cases) {
        ScriptedUi ui;
        ui.answer = MessageAnswer::kNo;
        ReservationManager manager(SystemClock::Instance(), &ui, nullptr);
        ASSERT_TRUE(manager.SetReservation(DateReservation(At(2008, 3, 1, 21, 0, 0), 600), -1));
        EXPECT_EQ(manager.SetReservation(t.record, -1), !t.asked) << t.what;
        EXPECT_EQ(ui.asked.size(), t.asked ? 1u : 0u) << t.what;
        for (const auto& question : ui.asked) {
            EXPECT_EQ(question.first, "録画予約時間が重複しています。\n重複予約を強行しますか？");
            EXPECT_EQ(question.second, "録画予約");
        }
    }
}

TEST(ReservationLists, SetChecksTheIndexAndNeverTestsAnEntryAgainstItself) {
    ScriptedUi ui;
    ui.answer = MessageAnswer::kNo;
    ReservationManager manager(SystemClock::Instance(), &ui, nullptr);
    int refreshes = 0;
    manager.SetRefreshListener([&] { ++refreshes; });
    const Reservation r = DateReservation(At(2008, 3, 1, 21, 0, 0), 600);
    EXPECT_FALSE(manager.SetReservation(r, -2));
    EXPECT_FALSE(manager.SetReservation(r, 0));
    ASSERT_TRUE(manager.SetReservation(r, -1));
    Reservation longer = r;
    longer.RecordSec = 1200;
    EXPECT_TRUE(manager.SetReservation(longer, 0));
    EXPECT_FALSE(manager.SetReservation(r, 1));
    EXPECT_EQ(std::tuple(ui.asked.size(), manager.Pending()[0].RecordSec, refreshes),
              std::tuple(0u, 1200u, 2));

    // The overlap question answered Yes stores it.
    ui.answer = MessageAnswer::kYes;
    EXPECT_TRUE(manager.SetReservation(DateReservation(At(2008, 3, 1, 21, 5, 0), 60), -1));
    EXPECT_EQ(manager.Pending().size(), 2u);
}

TEST(ReservationLists, FinishingRepeatsDailyAndWeeklyAndDropsDeletedEntries) {
    const struct {
        uint32_t flags;
        uint32_t code;
        int64_t next_after;  // seconds; 0: no repeat
        bool kept_in_finished;
    } cases[] = {
        {RSV_DAILY, kFinishEnded, 86400, true},
        {RSV_WEEKLY, kFinishError, 7 * 86400, true},
        {RSV_DAILY | RSV_WEEKLY, kFinishEnded, 86400, true},
        {0, kFinishEnded, 0, true},
        {RSV_DAILY, kFinishDeleted, 86400, false},
        {0, kFinishDeleted, 0, false},
    };
    for (const auto& t : cases) {
        ReservationManager manager(SystemClock::Instance(), nullptr, nullptr);
        // 23:30 for an hour: the repeat crosses into the next date.
        Reservation r = DateReservation(At(2008, 2, 28, 23, 30, 0), 3600, t.flags);
        r.SetState(RSV_STATE_RECORDING);
        ASSERT_TRUE(manager.SetReservation(r, -1));
        EXPECT_FALSE(manager.FinishReservation(t.code, 1));
        ASSERT_TRUE(manager.FinishReservation(t.code, 0));

        const std::vector<Reservation> finished = manager.Finished();
        ASSERT_EQ(finished.size(), t.kept_in_finished ? 1u : 0u);
        if (t.kept_in_finished) {
            EXPECT_EQ(finished[0].Flag, (r.Flag & RSV_KEEP_MASK) | t.code);
        }
        const std::vector<Reservation> pending = manager.Pending();
        ASSERT_EQ(pending.size(), t.next_after != 0 ? 1u : 0u);
        if (t.next_after != 0) {
            const Reservation& n = pending[0];
            EXPECT_EQ(std::tuple(n.StartSeconds(), n.StartTimeSec, n.State(),
                                 (n.Flag & RSV_USER_DELETED) != 0),
                      std::tuple(r.StartSeconds() + t.next_after, r.StartTimeSec, RSV_STATE_WAITING,
                                 t.code == kFinishDeleted));
        }
    }
}

TEST(ReservationLists, RefusedRepeatIsNotAdded) {
    ScriptedUi ui;
    ui.answer = MessageAnswer::kNo;
    ReservationManager manager(SystemClock::Instance(), &ui, nullptr);
    ASSERT_TRUE(
        manager.SetReservation(DateReservation(At(2008, 3, 1, 21, 0, 0), 60, RSV_DAILY), -1));
    ASSERT_TRUE(manager.SetReservation(DateReservation(At(2008, 3, 2, 21, 0, 30), 60), -1));
    ASSERT_TRUE(manager.FinishReservation(kFinishEnded, 0));
    EXPECT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(manager.Pending().size(), 1u);
}

// The question is asked with the lock free: the processing thread keeps delivering output 1,
// and the answer still decides, for the entry wherever it has moved meanwhile.
TEST(ReservationLists, OverlapQuestionHoldsNoLockAndFindsTheEntryAgain) {
    ScriptedUi ui;
    ReservationManager manager(SystemClock::Instance(), &ui, nullptr);
    ASSERT_TRUE(manager.SetReservation(DateReservation(At(2008, 3, 1, 22, 0, 0), 600), -1));
    ASSERT_TRUE(manager.SetReservation(DateReservation(At(2008, 3, 1, 21, 0, 0), 600), -1));
    bool other_thread_got_through = false;
    ui.while_asking = [&] {
        auto done = std::async(std::launch::async, [&] {
            const uint8_t block[188] = {0x47};
            manager.WriteReservationData(block);
            // Meanwhile an earlier entry arrives, moving the edited one to index 2.
            manager.SetReservation(DateReservation(At(2008, 3, 1, 20, 0, 0), 60), -1);
        });
        other_thread_got_through =
            done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    };
    // Entry 1 (22:00) moved onto 21:05 overlaps entry 0.
    ASSERT_TRUE(manager.SetReservation(DateReservation(At(2008, 3, 1, 21, 5, 0), 60), 1));
    EXPECT_TRUE(other_thread_got_through);
    const std::vector<Reservation> p = manager.Pending();
    ASSERT_EQ(p.size(), 3u);
    // 22:00 was replaced, not 21:00.
    EXPECT_EQ(std::tuple(p[0].StartTimeSec, p[1].StartTimeSec, p[2].StartTimeSec),
              std::tuple(20u * 3600, 21u * 3600, 21u * 3600 + 300));
}

}  // namespace
}  // namespace tavrel
