#include "ts/event_store.h"

#include <algorithm>
#include <new>

namespace tavrel {
namespace {

// The walk of EventAt: does `e` run at `t`?
bool Runs(const EventRecord& e, MjdTime t) {
    if (e.EndDefined()) {
        return Within(e.start, e.end, -1, t, 0);  // start <= t < end
    }
    return e.start < t;
}

}  // namespace

CEventStore::EventMap* CEventStore::FindService(uint16_t service_id, bool create) {
    // Locked as well: the service window looks a service up from its own thread while the
    // packet loop may be adding one to the same map.
    const ScopedLock hold(lock_);
    const auto it = services_.find(service_id);
    if (it != services_.end()) {
        return it->second.get();
    }
    if (!create) {
        return nullptr;
    }
    try {
        return services_.emplace(service_id, std::make_unique<EventMap>()).first->second.get();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool CEventStore::Insert(const EventRecord& record, uint16_t service_id) {
    const ScopedLock hold(lock_);
    EventMap* events = FindService(service_id, true);
    if (events == nullptr) {
        return false;
    }
    const auto it = events->find(record.event_id);
    if (it == events->end()) {
        try {
            events->emplace(record.event_id, record);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    EventRecord& stored = it->second;
    if (stored.kind < record.kind) {
        return false;  // present/following is never overwritten by the schedule
    }
    if (stored.kind == record.kind && stored.version == record.version) {
        return false;
    }
    stored = record;
    return true;
}

std::unique_ptr<EventRecord> CEventStore::EventAt(uint16_t service_id, MjdTime t) {
    const ScopedLock hold(lock_);
    EventMap* events = FindService(service_id, false);
    if (events == nullptr) {
        return nullptr;
    }
    std::unique_ptr<EventRecord> result;
    std::vector<uint16_t> superseded;
    for (const auto& [event_id, e] : *events) {
        if (!Runs(e, t)) {
            continue;
        }
        if (!result) {
            result = NewEventRecord(e);  // a failed copy is skipped; the walk goes on
            if (result && result->EndDefined()) {
                break;
            }
            continue;
        }
        // The result so far is open-ended: only a later-starting open-ended event beats it.
        if (e.EndDefined() || !(result->start < e.start)) {
            continue;
        }
        std::unique_ptr<EventRecord> later = NewEventRecord(e);
        if (!later) {
            continue;
        }
        superseded.push_back(result->event_id);
        result = std::move(later);
    }
    for (const uint16_t event_id : superseded) {
        events->erase(event_id);
    }
    return result;
}

std::unique_ptr<EventRecord> CEventStore::EventById(uint16_t service_id, uint16_t event_id) {
    const ScopedLock hold(lock_);
    const EventMap* events = FindService(service_id, false);
    if (events == nullptr) {
        return nullptr;
    }
    const auto it = events->find(event_id);
    return it == events->end() ? nullptr : NewEventRecord(it->second);
}

bool CEventStore::SortedEvents(const EventMap* events, std::vector<EventRecord>& out) {
    out.clear();
    if (events == nullptr) {
        return false;
    }
    const ScopedLock hold(lock_);
    try {
        out.reserve(events->size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (const auto& entry : *events) {
        out.push_back(entry.second);
    }
    // A merge sort: equal starts keep their event_id order.
    std::stable_sort(out.begin(), out.end(), [](const EventRecord& a, const EventRecord& b) {
        return a.start.mjd != b.start.mjd ? a.start.mjd < b.start.mjd
                                          : a.start.seconds < b.start.seconds;
    });
    return true;
}

bool CEventStore::SortedEvents(uint16_t service_id, std::vector<EventRecord>& out) {
    const ScopedLock hold(lock_);
    return SortedEvents(FindService(service_id, false), out);
}

void CEventStore::PurgeService(EventMap& events, int64_t t) {
    std::erase_if(events, [t](const auto& entry) {
        const EventRecord& e = entry.second;
        return e.EndDefined() && e.end.TotalSeconds() < t;
    });
}

void CEventStore::PurgeEnded(MjdTime t, uint16_t service_id) {
    const ScopedLock hold(lock_);
    if (service_id == kAllServices) {
        for (auto& entry : services_) {
            PurgeService(*entry.second, t.TotalSeconds());
        }
        return;
    }
    if (EventMap* events = FindService(service_id, false)) {
        PurgeService(*events, t.TotalSeconds());
    }
}

void CEventStore::Clear() {
    const ScopedLock hold(lock_);
    services_.clear();
}

size_t CEventStore::ServiceCount() const {
    const ScopedLock hold(lock_);
    return services_.size();
}

size_t CEventStore::EventCount() const {
    const ScopedLock hold(lock_);
    size_t n = 0;
    for (const auto& entry : services_) {
        n += entry.second->size();
    }
    return n;
}

}  // namespace tavrel
