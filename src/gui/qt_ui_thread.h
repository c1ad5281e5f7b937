#pragma once

#include <QObject>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/ui_thread.h"

namespace tavrel::gui {

class QtUiThread;

// Receives the queued wake-up by name: the call then carries no object that the posting
// thread built, so everything the two threads share goes through the queue's mutex.
class UiWakeReceiver final : public QObject {
    Q_OBJECT
public:
    explicit UiWakeReceiver(QtUiThread& owner) : owner_(owner) {}
    Q_INVOKABLE void Wake();

private:
    QtUiThread& owner_;
};

// The UI thread of the desktop application: work posted from any thread runs in the Qt event
// loop of the thread that created this object, in posting order. The closures cross through
// our own mutex-guarded queue, so the hand-over is visible to the thread sanitizer; Qt only
// carries a wake-up (one queued call per batch, however many closures wait).
//
// After each batch the listeners run, so that windows draw the state the work changed.
class QtUiThread final : public UiThread {
public:
    QtUiThread();
    ~QtUiThread() override;
    QtUiThread(const QtUiThread&) = delete;
    QtUiThread& operator=(const QtUiThread&) = delete;

    void Post(std::function<void()> work) override;

    // Main thread: called after every batch of posted work.
    void AddDrainedListener(std::function<void()> listener);
    // Main thread: before the windows that listen are destroyed.
    void ClearDrainedListeners() { listeners_.clear(); }
    // Main thread: runs what is queued now (tests, and the end of the program).
    size_t Drain();
    size_t Pending() const;

    // What the posted work cost the UI thread: batches run (the work and the redraw of the
    // listeners), their total and their longest time.
    struct Cost {
        uint64_t batches = 0;
        uint64_t total_ns = 0;
        uint64_t max_ns = 0;
    };
    Cost BatchCost() const { return cost_; }

private:
    // Lives in the creating thread; queued calls to it run there.
    UiWakeReceiver receiver_{*this};
    mutable std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    bool wake_pending_ = false;
    std::vector<std::function<void()>> listeners_;
    Cost cost_;
};

}  // namespace tavrel::gui
