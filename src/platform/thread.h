#pragma once

#include <cstdint>
#include <functional>
#include <thread>

#include "platform/event.h"

namespace tavrel {

enum class ThreadPriority { kNormal, kAboveNormal, kHighest };

// A thread that may be created suspended, given a priority, resumed and joined with a
// timeout. The destructor waits for the body to end: a thread is never left running
// detached behind its owner.
class Thread {
public:
    enum class Start { kRunning, kSuspended };

    // `name` (at most 15 characters kept) is what debuggers and per-thread CPU figures show.
    explicit Thread(std::function<void()> body, Start start = Start::kRunning,
                    const char* name = nullptr);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Lets a suspended thread run its body. Harmless on a running one.
    void Resume();
    // Best effort: on systems that refuse (no privilege) the thread keeps its priority and
    // this still returns normally. Returns whether the change took effect.
    bool SetPriority(ThreadPriority priority);
    // Waits up to timeout_ms (Event::kInfinite: forever) for the body to end; true when it
    // has ended.
    bool Join(uint32_t timeout_ms);
    bool Finished() { return done_.Test(); }

private:
    Event resume_{true};
    Event done_{true};
    Event tid_known_{true};
    int tid_ = 0;
    std::thread thread_;
};

}  // namespace tavrel
