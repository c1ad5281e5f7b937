#pragma once

#include <cstdint>

namespace tavrel {

// What the system says about its timer: the period of the default tick and the range of
// periods a program may ask for while it needs finer sleeps.
struct TimerFacts {
    double increment_ms = 0.0;
    uint32_t min_period = 0;
    uint32_t max_period = 0;
};

// Finer timer resolution for the duration of a capture, so the processing thread's 1 ms sleeps
// really last about 1 ms. Each successful Begin is paired with one End of the same period.
class TimerResolution {
public:
    virtual ~TimerResolution() = default;
    virtual TimerFacts Facts() const = 0;
    // False when the period is refused (outside the system's range).
    virtual bool Begin(uint32_t period_ms) = 0;
    virtual void End(uint32_t period_ms) = 0;
};

// Linux sleeps on high-resolution timers already: nothing needs changing, so a request inside
// the range is granted as it stands. The increment is the monotonic clock's resolution.
class SystemTimerResolution final : public TimerResolution {
public:
    static constexpr uint32_t kMinPeriod = 1;
    static constexpr uint32_t kMaxPeriod = 1000000;

    TimerFacts Facts() const override;
    bool Begin(uint32_t period_ms) override;
    void End(uint32_t period_ms) override;

    static SystemTimerResolution& Instance();
};

}  // namespace tavrel
