// Each CPU's load over the last minute, from samples of its time counters
// (/proc/stat) taken every SAMPLE_TICKS. The caller takes the samples on a
// timer, so reading a load never waits for one.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/hostd/host_reader.h"

namespace hostd {

inline constexpr uint32_t SAMPLE_TICKS = 500;   // 5 s of orla::getJiffies()
inline constexpr uint32_t WINDOW_TICKS = 6000;  // a minute

class LoadSampler {
  public:
    // Adds the counters read at tick `now`, and forgets the samples that the
    // window no longer needs.
    void add(uint32_t now, std::vector<CpuTimes> cpus);
    // Per cent of the time `cpu` was busy between the oldest and the newest
    // sample, rounded, 0 to 100: a minute back once a minute has passed.
    // 0 before the second sample, or when the CPU is not in both.
    uint32_t load(uint32_t cpu) const;

  private:
    struct Sample {
        uint32_t at;
        std::vector<CpuTimes> cpus;  // ascending CPU number
    };

    std::deque<Sample> samples_;  // oldest first
};

}  // namespace hostd
