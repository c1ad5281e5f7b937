#include "platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace tavrel {

Thread::Thread(std::function<void()> body, Start start, const char* name) {
    if (start == Start::kRunning) {
        resume_.Set();
    }
    // The kernel keeps 15 characters of a thread name.
    std::string short_name = name != nullptr ? std::string(name).substr(0, 15) : std::string();
    thread_ = std::thread([this, fn = std::move(body), short_name = std::move(short_name)] {
        if (!short_name.empty()) {
            pthread_setname_np(pthread_self(), short_name.c_str());
        }
        tid_ = static_cast<int>(syscall(SYS_gettid));
        tid_known_.Set();
        resume_.Wait(Event::kInfinite);
        fn();
        done_.Set();
    });
}

Thread::~Thread() {
    resume_.Set();  // a never-resumed thread must still be able to finish
    if (thread_.joinable()) {
        thread_.join();
    }
}

void Thread::Resume() {
    resume_.Set();
}

bool Thread::SetPriority(ThreadPriority priority) {
    // Linux schedules normal threads by their nice value; lowering it needs privilege,
    // which the caller may not have: then the thread simply keeps the default.
    int nice_value = 0;
    switch (priority) {
        case ThreadPriority::kNormal:
            nice_value = 0;
            break;
        case ThreadPriority::kAboveNormal:
            nice_value = -5;
            break;
        case ThreadPriority::kHighest:
            nice_value = -10;
            break;
    }
    tid_known_.Wait(Event::kInfinite);
    return setpriority(PRIO_PROCESS, static_cast<id_t>(tid_), nice_value) == 0;
}

bool Thread::Join(uint32_t timeout_ms) {
    if (!done_.Wait(timeout_ms)) {
        return false;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    return true;
}

}  // namespace tavrel
