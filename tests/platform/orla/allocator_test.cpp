#include "platform/orla/allocator.h"

#include <gtest/gtest.h>

namespace orla {
namespace {

// The community table's range: the whole u32 space but NO_ID. Memory follows
// the gaps, not the range, so reserving at both ends and in the middle costs
// a handful of ranges.
TEST(Allocator, FullRangeKeepsOnlyTheGapsAndNeverGivesNoId) {
    Allocator ids(0, 0xffffffff);
    EXPECT_EQ(ids.freeRangeCount(), 1u);
    EXPECT_EQ(ids.allocate(0), 0u);
    EXPECT_EQ(ids.allocate(0xfffffffe), 0xfffffffeu);
    EXPECT_EQ(ids.allocate(0x80000000), 0x80000000u);
    EXPECT_EQ(ids.freeRangeCount(), 2u);
    for (uint32_t i = 1; i <= 1000; ++i)
        EXPECT_EQ(ids.allocate(), i);
    EXPECT_EQ(ids.freeRangeCount(), 2u);
    EXPECT_TRUE(ids.free(0xfffffffe) && ids.free(0x80000000));
    EXPECT_EQ(ids.freeRangeCount(), 1u);
    EXPECT_TRUE(ids.isFree(0xfffffffe));
    EXPECT_FALSE(ids.isFree(0xffffffff) || ids.free(0xffffffff));
    Allocator top(0xfffffffe, 0xffffffff);
    EXPECT_EQ(top.allocate(), 0xfffffffeu);
    EXPECT_EQ(top.allocate(), Allocator::NO_ID);
}

}  // namespace
}  // namespace orla
