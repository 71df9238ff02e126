#include "platform/orla/clock.h"

#include <sys/times.h>
#include <time.h>
#include <unistd.h>

namespace orla {

uint32_t getJiffies() {
    struct tms unused;
    return static_cast<uint32_t>(times(&unused));
}

uint32_t getUptime() {
    return static_cast<uint32_t>(monotonicMillis() / 1000);
}

uint32_t ticksPerSecond() {
    static const uint32_t ticks = [] {
        long value = sysconf(_SC_CLK_TCK);
        return value > 0 ? static_cast<uint32_t>(value) : 100u;
    }();
    return ticks;
}

uint64_t monotonicMillis() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace orla
