#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/lock.h"
#include "ts/event_record.h"
#include "ts/mjd_time.h"

namespace tavrel {

// Programme events per service. The processor fills one from the EIT; the service window
// keeps a second one filled from the processor's events. Every operation takes the store's
// re-entrant lock for its whole run, so each is atomic against the packet loop, the windows
// and the reservation engine; results are copies, so no caller holds the lock afterwards.
class CEventStore {
public:
    using EventMap = std::map<uint16_t, EventRecord>;  // by event_id
    static constexpr uint16_t kAllServices = 0xFFFF;

    CEventStore() = default;
    CEventStore(const CEventStore&) = delete;
    CEventStore& operator=(const CEventStore&) = delete;

    // Stores the record unless a more authoritative one (lower kind) or the same version of
    // the same kind is there. True when the store changed.
    bool Insert(const EventRecord& record, uint16_t service_id);
    // The service's events, or null when it is absent and `create` is false. The map stays
    // valid until Clear; read it only through SortedEvents, which copies it under the lock.
    EventMap* FindService(uint16_t service_id, bool create);
    // The event that runs at `t`, as a copy, or null. An open-ended event (undefined
    // duration) that started before `t` counts as running; among several the latest start
    // wins and the ones it supersedes are removed from the store.
    std::unique_ptr<EventRecord> EventAt(uint16_t service_id, MjdTime t);
    std::unique_ptr<EventRecord> EventById(uint16_t service_id, uint16_t event_id);
    // Copies of all events of `events` sorted by start, equal starts in event_id order. False
    // (and `out` empty) when `events` is null or the copies cannot be allocated.
    bool SortedEvents(const EventMap* events, std::vector<EventRecord>& out);
    // The same for a service, found and copied under one hold of the lock.
    bool SortedEvents(uint16_t service_id, std::vector<EventRecord>& out);
    // Removes the events of one service (or of all, kAllServices) whose defined end is
    // before `t`. Open-ended events stay, and so do services left without events.
    void PurgeEnded(MjdTime t, uint16_t service_id = kAllServices);
    void Clear();

    size_t ServiceCount() const;
    size_t EventCount() const;

private:
    static void PurgeService(EventMap& events, int64_t t);

    mutable RecursiveLock lock_;
    std::map<uint16_t, std::unique_ptr<EventMap>> services_;
};

}  // namespace tavrel
