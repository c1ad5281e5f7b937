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
constexpr uint32_t kOpen = kUndefinedDuration;

// An actual present/following event of one day.
EventRecord Event(uint16_t event_id, uint32_t start, uint32_t duration, uint8_t kind = 1,
                  uint8_t version = 0) {
    return testing::TimedEvent(event_id, kind, version, {kDay, start}, duration);
}

std::vector<uint16_t> Ids(const std::vector<EventRecord>& events) {
    std::vector<uint16_t> ids;
    for (const auto& r : events) {
        ids.push_back(r.event_id);
    }
    return ids;
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
        EventRecord r = Event(1, 3600, 60, step.kind, step.version);
        std::snprintf(r.name.data(), r.name.size(), "%s", step.name);
        EXPECT_EQ(store.Insert(r, 1), step.taken) << step.name;
        kept = step.taken ? step.name : kept;
        EXPECT_EQ(store.EventById(1, 1)->name.data(), kept);
    }
    EXPECT_EQ(store.EventCount(), 1u);
}

TEST(EventStoreEventAt, HalfOpenIntervalsAndTheOpenEndedRule) {
    // Events of one service (id, start, duration), then (time, the event on air or 0) and how
    // many stay: a later-starting open-ended event supersedes and removes an earlier one, and
    // matches only after its start second.
    const struct {
        std::vector<std::tuple<uint16_t, uint32_t, uint32_t>> events;
        std::vector<std::pair<uint32_t, uint16_t>> on_air;
        size_t kept;
    } kCases[] = {
        // The end of 1 is the start of 2.
        {{{1, 1000, 500}, {2, 1500, 500}},
         {{999, 0}, {1000, 1}, {1499, 1}, {1500, 2}, {2000, 0}},
         2},
        {{{5, 100, kOpen}, {6, 200, kOpen}, {7, 300, kOpen}}, {{250, 6}}, 2},  // 7: not yet
        {{{5, 200, kOpen}, {6, 100, kOpen}}, {{250, 5}}, 2},  // an earlier start, a higher id
        {{{1, 0, 1000}, {2, 100, kOpen}}, {{250, 1}}, 2},     // the defined event has the lower id
        {{{1, 100, kOpen}, {2, 0, 1000}}, {{250, 1}}, 2},     // the open one has the lower id
        {{{5, 100, kOpen}, {6, 200, kOpen}}, {{100, 0}, {200, 5}, {201, 6}}, 1},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        CEventStore store;
        for (const auto& [id, start, duration] : kCases[i].events) {
            store.Insert(Event(id, start, duration), 7);
        }
        for (const auto& [t, id] : kCases[i].on_air) {
            const auto r = store.EventAt(7, {kDay, t});
            EXPECT_EQ(r ? r->event_id : 0, id) << i << " at " << t;
        }
        EXPECT_EQ(store.EventCount(), kCases[i].kept) << i;
    }
}

TEST(EventStoreSortedEvents, SortedByStartAndStableForEqualStarts) {
    CEventStore store;
    store.Insert(testing::TimedEvent(1, 3, 0, {kDay + 1, 0}, 60), 7);
    for (const auto& [id, start] : {std::pair{2, 500}, {3, 100}, {4, 500}, {0, 500}}) {
        store.Insert(Event(static_cast<uint16_t>(id), start, 60, 3), 7);
    }
    std::vector<EventRecord> out;
    ASSERT_TRUE(store.SortedEvents(store.FindService(7, false), out));
    EXPECT_EQ(Ids(out), (std::vector<uint16_t>{3, 0, 2, 4, 1}));
    // An empty service gives an empty, successful copy.
    store.FindService(8, true);
    EXPECT_TRUE(store.SortedEvents(8, out));
    EXPECT_TRUE(out.empty());
}

TEST(EventStorePurgeEnded, RemovesEndedEventsOfOneOrAllServicesAndKeepsOpenEndedOnes) {
    CEventStore store;
    std::vector<EventRecord> out;
    // Queries create no service.
    EXPECT_EQ(store.EventAt(3, {kDay, 0}), nullptr);
    EXPECT_FALSE(store.SortedEvents(3, out));
    store.PurgeEnded({kDay, 1000}, 3);
    EXPECT_EQ(store.ServiceCount(), 0u);
    store.Insert(Event(1, 0, 100), 7);
    store.Insert(Event(2, 100, 100), 7);  // ends at 200
    store.Insert(Event(3, 0, kOpen), 7);
    store.Insert(Event(1, 0, 100), 8);
    store.Insert(Event(1, 0, 100), 9);
    EXPECT_EQ(std::tuple(store.ServiceCount(), store.EventCount()), std::tuple(3u, 5u));
    EXPECT_EQ(store.EventById(8, 2), nullptr);  // services are separate
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
}

TEST(EventStoreLock, InsertsAndQueriesFromTwoThreads) {
    CEventStore store;
    constexpr int kEvents = 2000;
    std::atomic<bool> done{false};
    // The writer keeps pace with the reader so that the two surely overlap. Relaxed on purpose:
    // an ordering atomic would order the reader's unlocked walks before the writes and hide them.
    std::atomic<int> reads{0};
    std::atomic<int> walks{0};
    // Nothing runs the day before, so every call walks all of service 1: the walk is where an
    // unlocked query would meet the writer, and no other locked call surrounds it here.
    std::thread walker([&] {
        while (!done.load(std::memory_order_relaxed)) {
            EXPECT_EQ(store.EventAt(1, {kDay - 1, 0}), nullptr);
            walks.fetch_add(1, std::memory_order_relaxed);
        }
    });
    std::thread writer([&] {
        for (int i = 0; i < kEvents; ++i) {
            while (reads.load(std::memory_order_relaxed) < i / 10 ||
                   walks.load(std::memory_order_relaxed) < i / 10) {
                std::this_thread::yield();
            }
            const uint16_t service = static_cast<uint16_t>(1 + i % 4);
            store.Insert(Event(static_cast<uint16_t>(i), static_cast<uint32_t>(i), 1, 3), service);
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
        reads.fetch_add(1, std::memory_order_relaxed);
    }
    writer.join();
    walker.join();
    // Event i ends at i + 1; the last purge, at 1949, removed events 0..1947.
    EXPECT_EQ(store.EventCount(), 52u);
    EXPECT_EQ(store.EventById(static_cast<uint16_t>(1 + 1947 % 4), 1947), nullptr);
    EXPECT_NE(store.EventById(static_cast<uint16_t>(1 + 1948 % 4), 1948), nullptr);
}

}  // namespace
}  // namespace tavrel
