#include "platform/orla/allocator.h"

#include <gtest/gtest.h>

#include <vector>

namespace orla {
namespace {

TEST(Allocator, HandsOutLowestFreeIdsInOrder) {
    Allocator ids(10, 20);
    EXPECT_EQ(ids.allocate(), 10u);
    EXPECT_EQ(ids.allocate(), 11u);
    EXPECT_EQ(ids.allocate(12), 12u);
    EXPECT_EQ(ids.allocate(15), 15u);
    EXPECT_EQ(ids.allocate(), 13u);
    EXPECT_EQ(ids.allocate(), 14u);
    EXPECT_EQ(ids.allocate(), 16u);
}

TEST(Allocator, ReservingOutOfRangeOrTakenIdGivesNoId) {
    Allocator ids(10, 20);
    EXPECT_EQ(ids.allocate(9), Allocator::NO_ID);
    EXPECT_EQ(ids.allocate(21), Allocator::NO_ID);
    EXPECT_EQ(ids.allocate(Allocator::NO_ID), Allocator::NO_ID);
    EXPECT_EQ(ids.allocate(20), 20u);
    EXPECT_EQ(ids.allocate(20), Allocator::NO_ID);
    EXPECT_EQ(ids.allocate(10), 10u);
    EXPECT_EQ(ids.allocate(10), Allocator::NO_ID);
}

TEST(Allocator, FreedIdsAreReusedLowestFirst) {
    Allocator ids(0, 9);
    for (uint32_t i = 0; i < 10; ++i)
        ids.allocate();
    EXPECT_TRUE(ids.free(7));
    EXPECT_TRUE(ids.free(3));
    EXPECT_FALSE(ids.free(3));   // not reserved any more
    EXPECT_FALSE(ids.free(10));  // outside the range
    EXPECT_EQ(ids.allocate(), 3u);
    EXPECT_EQ(ids.allocate(), 7u);
    EXPECT_EQ(ids.allocate(), Allocator::NO_ID);
}

TEST(Allocator, ExhaustedRangeGivesNoIdUntilOneIsFreed) {
    Allocator ids(5, 7);
    EXPECT_EQ(ids.allocate(), 5u);
    EXPECT_EQ(ids.allocate(), 6u);
    EXPECT_EQ(ids.allocate(), 7u);
    EXPECT_EQ(ids.allocate(), Allocator::NO_ID);
    EXPECT_EQ(ids.allocate(), Allocator::NO_ID);
    EXPECT_TRUE(ids.free(6));
    EXPECT_EQ(ids.allocate(), 6u);
}

TEST(Allocator, EmptyRangeHasNoIds) {
    Allocator ids(5, 4);
    EXPECT_EQ(ids.allocate(), Allocator::NO_ID);
    EXPECT_EQ(ids.allocate(5), Allocator::NO_ID);
    EXPECT_FALSE(ids.free(5));
}

TEST(Allocator, SingleIdRange) {
    Allocator ids(0, 0);
    EXPECT_EQ(ids.allocate(), 0u);
    EXPECT_EQ(ids.allocate(), Allocator::NO_ID);
    EXPECT_TRUE(ids.free(0));
    EXPECT_EQ(ids.allocate(0), 0u);
}

TEST(Allocator, HighBoundIsCappedBelowNoId) {
    Allocator ids(0xfffffffe, 0xffffffff);
    EXPECT_EQ(ids.allocate(), 0xfffffffeu);
    EXPECT_EQ(ids.allocate(), Allocator::NO_ID);
}

TEST(Allocator, FreeingMergesNeighbouringRanges) {
    Allocator ids(0, 100);
    for (uint32_t i = 0; i < 10; ++i)
        ids.allocate();
    for (uint32_t i : {1u, 3u, 5u})
        ids.free(i);
    EXPECT_EQ(ids.freeRangeCount(), 4u);  // 1, 3, 5, 10..100
    for (uint32_t i : {2u, 4u})
        ids.free(i);
    EXPECT_EQ(ids.freeRangeCount(), 2u);  // 1..5, 10..100
    for (uint32_t i : {6u, 7u, 8u, 9u})
        ids.free(i);
    EXPECT_EQ(ids.freeRangeCount(), 1u);  // 1..100
    EXPECT_FALSE(ids.isFree(0));
    EXPECT_TRUE(ids.isFree(1));
    EXPECT_TRUE(ids.isFree(100));
    EXPECT_EQ(ids.allocate(), 1u);
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
