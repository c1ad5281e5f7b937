#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "reservation/reservation_fixture.h"
#include "reservation/reservation_manager.h"

namespace tavrel {
namespace {

using testing::At;
using testing::DateReservation;
using testing::EventReservation;
using testing::ScriptedUi;

TEST(ReservationOrder, UnplacedEventsGoLastByServiceThenEvent) {
    const Reservation early = DateReservation(At(2008, 3, 1, 20, 0, 0), 60);
    const Reservation late = DateReservation(At(2008, 3, 1, 21, 0, 0), 60);
    const Reservation next_day = DateReservation(At(2008, 3, 2, 0, 0, 0), 60);
    Reservation placed_event = EventReservation(0xFFFF, 1);
    placed_event.SetStart(At(2008, 3, 1, 20, 30, 0));
    const Reservation a = EventReservation(0x0400, 9);
    const Reservation b = EventReservation(0x0400, 10);
    const Reservation c = EventReservation(0x0401, 1);

    const struct {
        const Reservation* x;
        const Reservation* y;
        bool less;
    } cases[] = {
        {&early, &late, true},
        {&late, &early, false},
        {&late, &next_day, true},
        {&early, &early, false},
        {&placed_event, &late, true},
        {&next_day, &a, true},
        {&a, &next_day, false},
        {&a, &b, true},
        {&b, &c, true},
        {&c, &a, false},
        {&a, &a, false},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(ReservationLess(*t.x, *t.y), t.less)
            << t.x->StartSeconds() << " vs " << t.y->StartSeconds();
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
    EXPECT_TRUE(ui.asked.empty());
    EXPECT_EQ(manager.Pending()[0].RecordSec, 1200u);
    EXPECT_FALSE(manager.SetReservation(r, 1));
    EXPECT_EQ(refreshes, 2);

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
            EXPECT_EQ(pending[0].StartSeconds(), r.StartSeconds() + t.next_after);
            EXPECT_EQ(pending[0].StartTimeSec, r.StartTimeSec);
            EXPECT_EQ(pending[0].State(), RSV_STATE_WAITING);
            EXPECT_EQ((pending[0].Flag & RSV_USER_DELETED) != 0, t.code == kFinishDeleted);
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
    const std::vector<Reservation> pending = manager.Pending();
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending[0].StartTimeSec, 20u * 3600);
    EXPECT_EQ(pending[1].StartTimeSec, 21u * 3600);
    EXPECT_EQ(pending[2].StartTimeSec, 21u * 3600 + 300);  // 22:00 was replaced, not 21:00
}

}  // namespace
}  // namespace tavrel
