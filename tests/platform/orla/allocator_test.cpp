#include "platform/orla/allocator.h"

#include <gtest/gtest.h>

#include <vector>

namespace orla {
namespace {

TEST(Allocator, HandsOutAndReusesLowestFreeIdsAndRefusesOthers) {
    Allocator ids(10, 13);
    EXPECT_EQ(ids.allocate(), 10u);
    EXPECT_EQ(ids.allocate(12), 12u);
    EXPECT_EQ(ids.allocate(), 11u);
    for (uint32_t refused : {9u, 14u, Allocator::NO_ID, 12u})
        EXPECT_EQ(ids.allocate(refused), Allocator::NO_ID) << refused;
    EXPECT_EQ(ids.allocate(13), 13u);
    EXPECT_EQ(ids.allocate(), Allocator::NO_ID);  // exhausted
    EXPECT_TRUE(ids.free(12));
    EXPECT_TRUE(ids.free(11));
    EXPECT_FALSE(ids.free(11));  // not reserved any more
    EXPECT_FALSE(ids.free(14));  // outside the range
    EXPECT_EQ(ids.allocate(), 11u);
    EXPECT_EQ(ids.allocate(), 12u);
}

TEST(Allocator, EdgeRanges) {
    Allocator empty(5, 4);
    EXPECT_EQ(empty.allocate(), Allocator::NO_ID);
    EXPECT_EQ(empty.allocate(5), Allocator::NO_ID);
    EXPECT_FALSE(empty.free(5));
    Allocator single(0, 0);
    EXPECT_EQ(single.allocate(), 0u);
    EXPECT_EQ(single.allocate(), Allocator::NO_ID);
    EXPECT_TRUE(single.free(0));
    EXPECT_EQ(single.allocate(0), 0u);
    Allocator top(0xfffffffe, 0xffffffff);  // capped below NO_ID
    EXPECT_EQ(top.allocate(), 0xfffffffeu);
    EXPECT_EQ(top.allocate(), Allocator::NO_ID);
}

// The community table's range: the whole u32 space but NO_ID. Memory follows
// the gaps, not the range, so reserving at both ends and in the middle costs
// a handful of ranges.
TEST(Allocator, FullRangeKeepsOnlyTheGaps) {
    Allocator ids(0, 0xfffffffe);
    EXPECT_EQ(ids.freeRangeCount(), 1u);
    EXPECT_EQ(ids.allocate(0), 0u);
    EXPECT_EQ(ids.allocate(0xfffffffe), 0xfffffffeu);
    EXPECT_EQ(ids.allocate(0x80000000), 0x80000000u);
    EXPECT_EQ(ids.freeRangeCount(), 2u);
    for (uint32_t i = 1; i <= 1000; ++i)
        EXPECT_EQ(ids.allocate(), i);
    EXPECT_EQ(ids.freeRangeCount(), 2u);
    EXPECT_TRUE(ids.free(0xfffffffe));
    EXPECT_TRUE(ids.free(0x80000000));
    EXPECT_EQ(ids.freeRangeCount(), 1u);
    EXPECT_TRUE(ids.isFree(0xfffffffe));
    EXPECT_FALSE(ids.isFree(0xffffffff));
    EXPECT_FALSE(ids.free(0xffffffff));
}

}  // namespace
}  // namespace orla
