#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace tavrel {

// Hands an output (the Recorder or the UdpSender) from the thread that starts and stops it
// (the owner, the main thread) to the thread that feeds it (the processing thread).
//
// The feeder reaches the object only inside Use, under the slot's mutex. The owner changes the
// pointer only under that mutex, and what Remove or Install returns is out of the feeder's
// reach from then on: the owner may close and delete it without the lock, so a final flush to
// a slow disk never stalls the feeder. The owner, being the only one that replaces the
// object, may also read it through Peek without the lock, for figures the object keeps safe to
// read beside a writer (atomic counters, fields fixed while it is installed).
template <class T>
class OutputSlot {
public:
    OutputSlot() = default;
    OutputSlot(const OutputSlot&) = delete;
    OutputSlot& operator=(const OutputSlot&) = delete;

    // Owner: puts a ready object in place and returns the one it replaces, if any.
    std::unique_ptr<T> Install(std::unique_ptr<T> next) {
        std::lock_guard lock(mutex_);
        std::swap(object_, next);
        return next;
    }
    // Owner: takes the object out; the feeder no longer sees it when this returns.
    std::unique_ptr<T> Remove() { return Install(nullptr); }

    // Owner only: the installed object or nullptr, without locking.
    T* Peek() const { return object_.get(); }

    // Feeder: calls fn(T&) under the lock when an object is installed and returns true;
    // false when the slot is empty.
    template <class Fn>
    bool Use(Fn&& fn) {
        std::lock_guard lock(mutex_);
        if (!object_) {
            return false;
        }
        std::forward<Fn>(fn)(*object_);
        return true;
    }

private:
    std::mutex mutex_;
    std::unique_ptr<T> object_;
};

}  // namespace tavrel
