// Process clocks of the messaging library.
#pragma once

#include <cstdint>

namespace orla {

// Hundredths of a second of the monotonic clock, the same count in every
// process (as times() counts on Linux); wraps at 2^32, so only
// differences are meaningful (they go into SNMP TimeTicks).
uint32_t getJiffies();

// Whole seconds of a monotonic clock; never goes back when the wall clock is set.
uint32_t getUptime();

// Clock ticks per second of getJiffies(): 100.
uint32_t ticksPerSecond();

// Milliseconds of the monotonic clock; the runner's time base.
uint64_t monotonicMillis();

}  // namespace orla
