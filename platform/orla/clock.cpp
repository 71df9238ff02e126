#include "platform/orla/clock.h"

#include <time.h>

namespace orla {

namespace {
constexpr uint64_t TICKS_PER_SECOND = 100;
}  // namespace

// Hundredths of a second of the monotonic clock, like times() counts on
// Linux, but read through the vDSO: times() is a system call, and the
// request path reads this clock for every table access.
uint32_t getJiffies() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * TICKS_PER_SECOND +
                                 static_cast<uint64_t>(now.tv_nsec) /
                                     (1000000000 / TICKS_PER_SECOND));
}

uint32_t getUptime() {
    return static_cast<uint32_t>(monotonicMillis() / 1000);
}

uint32_t ticksPerSecond() {
    return TICKS_PER_SECOND;
}

uint64_t monotonicMillis() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace orla
