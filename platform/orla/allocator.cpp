#include "platform/orla/allocator.h"

#include <algorithm>
#include <iterator>

namespace orla {

Allocator::Allocator(uint32_t low, uint32_t high) : low_(low), high_(std::min(high, NO_ID - 1)) {
    if (low_ <= high_) free_.emplace(low_, high_);
}

uint32_t Allocator::allocate() {
    if (free_.empty()) return NO_ID;
    return allocate(free_.begin()->first);
}

uint32_t Allocator::allocate(uint32_t id) {
    if (id < low_ || id > high_) return NO_ID;
    auto it = free_.upper_bound(id);
    if (it == free_.begin()) return NO_ID;
    --it;
    const uint32_t first = it->first;
    const uint32_t last = it->second;
    if (id > last) return NO_ID;  // reserved already

    free_.erase(it);
    if (first < id) free_.emplace(first, id - 1);
    if (id < last) free_.emplace(id + 1, last);
    return id;
}

bool Allocator::free(uint32_t id) {
    if (id < low_ || id > high_ || isFree(id)) return false;
    uint32_t first = id;
    uint32_t last = id;
    // Join the free ranges that end just below and start just above `id`.
    auto next = free_.upper_bound(id);
    if (next != free_.end() && next->first == id + 1) {
        last = next->second;
        next = free_.erase(next);
    }
    if (next != free_.begin()) {
        const auto prev = std::prev(next);
        if (prev->second + 1 == id) {
            first = prev->first;
            free_.erase(prev);
        }
    }
    free_.emplace(first, last);
    return true;
}

bool Allocator::isFree(uint32_t id) const {
    auto it = free_.upper_bound(id);
    if (it == free_.begin()) return false;
    return std::prev(it)->second >= id;
}

}  // namespace orla
