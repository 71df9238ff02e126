#include "platform/hostd/load_sampler.h"

#include <algorithm>
#include <utility>

namespace hostd {

namespace {

// Samples kept at most, whatever the timer does: a window's worth and one.
constexpr size_t MAX_SAMPLES = WINDOW_TICKS / SAMPLE_TICKS + 2;

const CpuTimes* find(const std::vector<CpuTimes>& cpus, uint32_t cpu) {
    auto found = std::lower_bound(cpus.begin(), cpus.end(), cpu,
                                  [](const CpuTimes& times, uint32_t n) { return times.cpu < n; });
    return found != cpus.end() && found->cpu == cpu ? &*found : nullptr;
}

}  // namespace

void LoadSampler::add(uint32_t now, std::vector<CpuTimes> cpus) {
    samples_.push_back(Sample{now, std::move(cpus)});
    // The oldest goes once the next one alone reaches a window back; tick
    // differences are taken modulo 2^32, as the counter wraps.
    while (samples_.size() > MAX_SAMPLES ||
           (samples_.size() > 1 && now - samples_[1].at >= WINDOW_TICKS)) {
        samples_.pop_front();
    }
}

uint32_t LoadSampler::load(uint32_t cpu) const {
    if (samples_.size() < 2) return 0;
    const CpuTimes* oldest = find(samples_.front().cpus, cpu);
    const CpuTimes* newest = find(samples_.back().cpus, cpu);
    // A CPU taken offline and back may restart its counters.
    if (!oldest || !newest || newest->total <= oldest->total || newest->busy < oldest->busy)
        return 0;
    uint64_t total = newest->total - oldest->total;
    uint64_t busy = std::min(newest->busy - oldest->busy, total);
    return static_cast<uint32_t>((busy * 100 + total / 2) / total);
}

}  // namespace hostd
