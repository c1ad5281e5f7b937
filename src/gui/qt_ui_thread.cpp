#include "gui/qt_ui_thread.h"

#include <QMetaObject>
#include <algorithm>
#include <chrono>

namespace tavrel::gui {

QtUiThread::QtUiThread() = default;

QtUiThread::~QtUiThread() {
    // Queued wake-ups addressed to the receiver die with it; what is still queued is dropped
    // with the queue, as a closed window drops its posted messages.
}

void QtUiThread::Post(std::function<void()> work) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
        wake = !wake_pending_;
        wake_pending_ = true;
    }
    if (wake) {
        QMetaObject::invokeMethod(&receiver_, "Wake", Qt::QueuedConnection);
    }
}

void UiWakeReceiver::Wake() {
    owner_.Drain();
}

void QtUiThread::AddDrainedListener(std::function<void()> listener) {
    listeners_.push_back(std::move(listener));
}

size_t QtUiThread::Drain() {
    const auto begin = std::chrono::steady_clock::now();
    size_t ran = 0;
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) {
                wake_pending_ = false;
                break;
            }
            work = std::move(queue_.front());
            queue_.pop_front();
            // Work that opens a modal box runs a nested event loop: what is posted meanwhile
            // must wake it, not wait for the box to close.
            wake_pending_ = !queue_.empty();
        }
        work();
        ++ran;
    }
    if (ran != 0) {
        for (const auto& listener : listeners_) {
            listener();
        }
        const auto ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                  std::chrono::steady_clock::now() - begin)
                                                  .count());
        ++cost_.batches;
        cost_.total_ns += ns;
        cost_.max_ns = std::max(cost_.max_ns, ns);
    }
    return ran;
}

size_t QtUiThread::Pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace tavrel::gui
