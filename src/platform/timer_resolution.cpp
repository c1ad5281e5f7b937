#include "platform/timer_resolution.h"

#include <time.h>

namespace tavrel {

TimerFacts SystemTimerResolution::Facts() const {
    TimerFacts facts{0.0, kMinPeriod, kMaxPeriod};
    timespec resolution{};
    if (clock_getres(CLOCK_MONOTONIC, &resolution) == 0) {
        facts.increment_ms = static_cast<double>(resolution.tv_sec) * 1000.0 +
                             static_cast<double>(resolution.tv_nsec) / 1e6;
    }
    return facts;
}

bool SystemTimerResolution::Begin(uint32_t period_ms) {
    return period_ms >= kMinPeriod && period_ms <= kMaxPeriod;
}

void SystemTimerResolution::End(uint32_t /*period_ms*/) {}

SystemTimerResolution& SystemTimerResolution::Instance() {
    static SystemTimerResolution instance;
    return instance;
}

}  // namespace tavrel
