// orla::Allocator: hands out ids from a closed range [low, high].
//
// Free ids are kept as disjoint ranges, so memory grows with the number of
// gaps between reserved ids, never with the size of the range, and every
// operation costs O(log gaps).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace orla {

class Allocator {
  public:
    // Returned when no id can be given; never a valid id.
    static constexpr uint32_t NO_ID = 0xffffffff;

    // Ids from `low` to `high` inclusive. `high` is lowered to NO_ID - 1;
    // with low > high there are no ids at all.
    Allocator(uint32_t low, uint32_t high);

    // Reserves and returns the lowest free id; NO_ID when none is left.
    uint32_t allocate();
    // Reserves `id` and returns it; NO_ID when it is outside the range or
    // already reserved.
    uint32_t allocate(uint32_t id);
    // Makes a reserved id free again; false when it was not reserved (or is
    // outside the range).
    bool free(uint32_t id);

    bool isFree(uint32_t id) const;
    // Number of separate free ranges: what the allocator's memory grows with.
    size_t freeRangeCount() const { return free_.size(); }

  private:
    uint32_t low_;
    uint32_t high_;
    std::map<uint32_t, uint32_t> free_;  // first id of a free range -> its last id
};

}  // namespace orla
