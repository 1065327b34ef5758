#include "wayland/shm_pool.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(SlotAllocator, GivesDisjointSlotsUntilFull) {
  SlotAllocator slots(100);
  EXPECT_EQ(slots.allocate(40), 0u);
  EXPECT_EQ(slots.allocate(40), 40u);
  EXPECT_EQ(slots.allocate(40), std::nullopt);
  EXPECT_EQ(slots.allocate(20), 80u);
  EXPECT_EQ(slots.allocate(1), std::nullopt);
  EXPECT_EQ(slots.allocate(0), std::nullopt);
  EXPECT_EQ(slots.used_bytes(), 100u);
}

// The slot of a buffer the compositor still holds is never handed out again.
TEST(SlotAllocator, ReusesOnlyReleasedSlots) {
  SlotAllocator slots(100);
  auto held = slots.allocate(50);
  auto released = slots.allocate(50);
  slots.release(*released);
  auto next = slots.allocate(50);
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, *released);
  EXPECT_NE(*next, *held);
  EXPECT_EQ(slots.allocate(1), std::nullopt);
}

TEST(SlotAllocator, MergesFreedNeighboursInAnyOrder) {
  SlotAllocator slots(90);
  auto a = slots.allocate(30);
  auto b = slots.allocate(30);
  auto c = slots.allocate(30);
  slots.release(*c);
  slots.release(*a);
  EXPECT_EQ(slots.allocate(60), std::nullopt) << "a and c are not adjacent";
  slots.release(*b);
  EXPECT_EQ(slots.allocate(90), 0u);
  EXPECT_EQ(slots.slot_count(), 1u);
}

TEST(SlotAllocator, IgnoresUnknownOffsets) {
  SlotAllocator slots(10);
  auto a = slots.allocate(10);
  slots.release(3);
  slots.release(*a + 100);
  EXPECT_EQ(slots.used_bytes(), 10u);
  slots.release(*a);
  slots.release(*a);
  EXPECT_EQ(slots.used_bytes(), 0u);
}

TEST(SlotAllocator, GrowingExtendsTheFreeTail) {
  SlotAllocator slots(10);
  auto a = slots.allocate(6);
  slots.grow(20);
  EXPECT_EQ(slots.length(), 20u);
  EXPECT_EQ(slots.allocate(14), 6u) << "the old free tail and the new bytes form one range";
  slots.grow(5);
  EXPECT_EQ(slots.length(), 20u) << "never shrinks";
  slots.release(*a);
  EXPECT_EQ(slots.allocate(6), 0u);

  SlotAllocator full(4);
  (void)full.allocate(4);
  full.grow(8);
  EXPECT_EQ(full.allocate(4), 4u);
}

}  // namespace
}  // namespace tarvik
