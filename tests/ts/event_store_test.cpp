// The event store on its own: the priority rule, the time walk with open-ended events, the
// sorted copy, the purge, and its lock under two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/timed_event.h"
#include "ts/event_store.h"

namespace tavrel {
namespace {

constexpr uint32_t kDay = 58944;

EventRecord Event(uint16_t event_id, uint8_t kind, uint8_t version, MjdTime start,
                  uint32_t duration) {
    return testing::TimedEvent(event_id, kind, version, start, duration);
}

EventRecord Named(EventRecord r, const char* name) {
    std::snprintf(r.name.data(), r.name.size(), "%s", name);
    return r;
}

TEST(EventStoreInsert, LowerKindWinsThenTheVersionDecides) {
    // Each insert of event 1 in turn: whether the store takes it, and so whose name it keeps.
    const struct {
        uint8_t kind;
        uint8_t version;
        const char* name;
        bool taken;
    } kSteps[] = {
        {kEventKindScheduleActual, 0, "sched", true},
        {kEventKindPresentFollowingActual, 0, "pf", true},
        {kEventKindScheduleActual, 1, "later", false},  // never over present/following
        {kEventKindPresentFollowingOther, 0, "x", false},
        {kEventKindPresentFollowingActual, 0, "y", false},  // same kind, same version
        {kEventKindPresentFollowingActual, 1, "z", true},
        {kEventKindOther, 9, "other", true},  // kind 0 is the most authoritative of all
    };
    CEventStore store;
    std::string kept;
    for (const auto& step : kSteps) {
        EXPECT_EQ(
            store.Insert(Named(Event(1, step.kind, step.version, {kDay, 3600}, 60), step.name), 1),
            step.taken)
            << step.name;
        kept = step.taken ? step.name : kept;
        EXPECT_EQ(store.EventById(1, 1)->name.data(), kept);
    }
    EXPECT_EQ(store.EventCount(), 1u);
}

TEST(EventStoreInsert, ServicesAreSeparateAndUnknownOnesAreNotCreatedByQueries) {
    CEventStore store;
    EXPECT_EQ(store.EventAt(3, {kDay, 0}), nullptr);
    EXPECT_EQ(store.EventById(3, 1), nullptr);
    std::vector<EventRecord> out;
    EXPECT_FALSE(store.SortedEvents(3, out));
    store.PurgeEnded({kDay, 1000}, 3);
    EXPECT_EQ(store.FindService(3, false), nullptr);
    EXPECT_EQ(store.ServiceCount(), 0u);

    EXPECT_TRUE(store.Insert(Event(1, 1, 0, {kDay, 0}, 60), 10));
    EXPECT_TRUE(store.Insert(Event(2, 1, 0, {kDay, 0}, 60), 11));
    EXPECT_EQ(store.ServiceCount(), 2u);
    EXPECT_EQ(store.EventCount(), 2u);
    EXPECT_EQ(store.EventById(10, 1)->event_id, 1);
    EXPECT_EQ(store.EventById(10, 2), nullptr);
    EXPECT_EQ(store.EventById(11, 1), nullptr);
    EXPECT_NE(store.FindService(12, true), nullptr);
    EXPECT_EQ(store.FindService(12, false)->size(), 0u);
    EXPECT_EQ(store.ServiceCount(), 3u);
}

TEST(EventStoreEventAt, StartSecondMatchesEndSecondDoesNot) {
    CEventStore store;
    store.Insert(Event(1, 1, 0, {kDay, 1000}, 500), 7);
    store.Insert(Event(2, 1, 0, {kDay, 1500}, 500), 7);
    EXPECT_EQ(store.EventAt(7, {kDay, 999}), nullptr);
    EXPECT_EQ(store.EventAt(7, {kDay, 1000})->event_id, 1);
    EXPECT_EQ(store.EventAt(7, {kDay, 1499})->event_id, 1);
    EXPECT_EQ(store.EventAt(7, {kDay, 1500})->event_id, 2);  // the end of 1 is the start of 2
    EXPECT_EQ(store.EventAt(7, {kDay, 2000}), nullptr);
    // The next programme: the end of the current one.
    const auto current = store.EventAt(7, {kDay, 1200});
    const auto next = store.EventAt(7, current->end);
    EXPECT_EQ(next->event_id, 2);
}

TEST(EventStoreEventAt, OpenEndedRule) {
    // Events of one service (id, start, duration), the one on air at 250 and how many stay: a
    // later-starting open-ended event supersedes and removes an earlier one.
    constexpr uint32_t kOpen = kUndefinedDuration;
    const struct {
        std::vector<std::tuple<uint16_t, uint32_t, uint32_t>> events;
        uint16_t on_air;
        size_t kept;
    } kCases[] = {
        {{{5, 100, kOpen}, {6, 200, kOpen}, {7, 300, kOpen}}, 6, 2},  // 7 has not started yet
        {{{5, 200, kOpen}, {6, 100, kOpen}}, 5, 2},  // an earlier start with a higher id loses
        {{{1, 0, 1000}, {2, 100, kOpen}}, 1, 2},     // the defined event has the lower id
        {{{1, 100, kOpen}, {2, 0, 1000}}, 1, 2},     // the open-ended event has the lower id
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE(i);
        const auto& c = kCases[i];
        CEventStore store;
        for (const auto& [id, start, duration] : c.events) {
            store.Insert(Event(id, 1, 0, {kDay, start}, duration), 7);
        }
        const auto r = store.EventAt(7, {kDay, 250});
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->event_id, c.on_air);
        EXPECT_EQ(store.EventCount(), c.kept);
    }
    // An open-ended event matches only after its start second; the one it supersedes goes.
    CEventStore store;
    store.Insert(Event(5, 1, 0, {kDay, 100}, kUndefinedDuration), 7);
    store.Insert(Event(6, 1, 0, {kDay, 200}, kUndefinedDuration), 7);
    EXPECT_EQ(store.EventAt(7, {kDay, 100}), nullptr);
    EXPECT_EQ(store.EventAt(7, {kDay, 200})->event_id, 5);
    EXPECT_EQ(store.EventAt(7, {kDay, 201})->event_id, 6);
    EXPECT_EQ(store.EventById(7, 5), nullptr);
}

TEST(EventStoreSortedEvents, SortedByStartAndStableForEqualStarts) {
    CEventStore store;
    store.Insert(Event(1, 3, 0, {kDay + 1, 0}, 60), 7);
    store.Insert(Event(2, 3, 0, {kDay, 500}, 60), 7);
    store.Insert(Event(3, 3, 0, {kDay, 100}, 60), 7);
    store.Insert(Event(4, 3, 0, {kDay, 500}, 60), 7);
    store.Insert(Event(0, 3, 0, {kDay, 500}, 60), 7);
    std::vector<EventRecord> out;
    ASSERT_TRUE(store.SortedEvents(store.FindService(7, false), out));
    std::vector<uint16_t> ids;
    for (const auto& r : out) {
        ids.push_back(r.event_id);
    }
    EXPECT_EQ(ids, (std::vector<uint16_t>{3, 0, 2, 4, 1}));
    std::vector<EventRecord> by_service;
    ASSERT_TRUE(store.SortedEvents(7, by_service));
    EXPECT_EQ(by_service.size(), 5u);
    // An empty service gives an empty, successful copy.
    store.FindService(8, true);
    EXPECT_TRUE(store.SortedEvents(8, out));
    EXPECT_TRUE(out.empty());
}

TEST(EventStorePurgeEnded, RemovesEndedEventsOfOneOrAllServicesAndKeepsOpenEndedOnes) {
    CEventStore store;
    store.Insert(Event(1, 1, 0, {kDay, 0}, 100), 7);
    store.Insert(Event(2, 1, 0, {kDay, 100}, 100), 7);  // ends at 200
    store.Insert(Event(3, 1, 0, {kDay, 0}, kUndefinedDuration), 7);
    store.Insert(Event(1, 1, 0, {kDay, 0}, 100), 8);
    store.Insert(Event(1, 1, 0, {kDay, 0}, 100), 9);
    store.PurgeEnded({kDay, 1000}, 9);
    EXPECT_EQ(store.EventById(9, 1), nullptr);
    EXPECT_NE(store.EventById(8, 1), nullptr);  // other services wait
    store.PurgeEnded({kDay, 200});              // an end equal to t is not yet before it
    EXPECT_EQ(store.EventById(7, 1), nullptr);
    EXPECT_NE(store.EventById(7, 2), nullptr);
    EXPECT_EQ(store.EventById(8, 1), nullptr);
    store.PurgeEnded({kDay + 5, 0});
    EXPECT_EQ(store.EventCount(), 1u);
    EXPECT_NE(store.EventById(7, 3), nullptr);
    EXPECT_EQ(store.ServiceCount(), 3u);  // emptied services stay
    store.Clear();
    EXPECT_EQ(store.ServiceCount(), 0u);
    EXPECT_TRUE(store.Insert(Event(1, 1, 0, {kDay, 0}, 100), 7));
}

TEST(EventStoreLock, InsertsAndQueriesFromTwoThreads) {
    CEventStore store;
    constexpr int kEvents = 2000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < kEvents; ++i) {
            const uint16_t service = static_cast<uint16_t>(1 + i % 4);
            store.Insert(Event(static_cast<uint16_t>(i), 3, 0, {kDay, static_cast<uint32_t>(i)}, 1),
                         service);
            if (i % 100 == 99) {
                store.PurgeEnded({kDay, static_cast<uint32_t>(i - 50)});
            }
        }
        done = true;
    });
    while (!done.load()) {
        for (uint16_t service = 1; service <= 4; ++service) {
            std::vector<EventRecord> out;
            if (store.SortedEvents(service, out)) {
                for (size_t i = 1; i < out.size(); ++i) {
                    EXPECT_LE(out[i - 1].start, out[i].start);
                }
            }
            store.EventAt(service, {kDay, 1000});
            store.EventById(service, 5);
            store.FindService(service, false);
        }
    }
    writer.join();
    // Event i ends at i + 1; the last purge, at 1949, removed events 0..1947.
    EXPECT_EQ(store.EventCount(), 52u);
    EXPECT_EQ(store.EventById(static_cast<uint16_t>(1 + 1947 % 4), 1947), nullptr);
    EXPECT_NE(store.EventById(static_cast<uint16_t>(1 + 1948 % 4), 1948), nullptr);
}

}  // namespace
}  // namespace tavrel
