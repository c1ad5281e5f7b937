#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace tavrel {

// Work handed to the user-interface thread: a closure runs there later, after everything posted
// before it. Threads that must never wait for the windows (the processing thread) post instead
// of calling; what crosses is a value captured in the closure, never a pointer into live state.
class UiThread {
public:
    virtual ~UiThread() = default;
    // Callable from any thread; never blocks on the UI thread.
    virtual void Post(std::function<void()> work) = 0;
};

// A queue that runs only when drained: the headless command's loop and the tests own the
// "UI thread" and drain it at the points they choose.
class QueuedUiThread final : public UiThread {
public:
    void Post(std::function<void()> work) override {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(work));
        }
        posted_.notify_one();
    }

    // Sleeps until work is queued or timeout_ms has passed; true when work is waiting. The
    // owner's loop sleeps here instead of waking on a short period to find the queue empty.
    bool WaitForWork(uint32_t timeout_ms) {
        std::unique_lock lock(mutex_);
        return posted_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                [this] { return !queue_.empty(); });
    }

    // Runs what is queued, including work posted while draining; returns how many ran.
    size_t Drain() {
        size_t ran = 0;
        for (;;) {
            std::function<void()> work;
            {
                std::lock_guard lock(mutex_);
                if (queue_.empty())
                    return ran;
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
            ++ran;
        }
    }

    size_t Pending() const {
        std::lock_guard lock(mutex_);
        return queue_.size();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace tavrel
