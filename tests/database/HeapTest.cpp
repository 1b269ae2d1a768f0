#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "database/DataBank.h"
#include "database/Heap.h"
#include "tests/support/TempDevice.h"

namespace {

class HeapTest : public orvtest::DeviceTest {};

std::vector<std::int32_t> Drain(CBlocksHeap& heap) {
  std::vector<std::int32_t> out;
  while (!heap.IsEmpty()) out.push_back(heap.Pop(0)->offset);
  return out;
}

TEST_F(HeapTest, PopsInAscendingOffsetOrder) {
  const std::vector<std::vector<std::int32_t>> inputs = {
      {}, {5}, {2, 1}, {5, 3, 9, 1, 7}, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}, {4, 4, 1, 4, 0, 2, 2, 9, 3}};
  for (const auto& input : inputs) {
    std::vector<CBankIndexEntry> entries(input.size());
    CBlocksHeap heap;
    for (std::size_t i = 0; i < input.size(); ++i) {
      entries[i].offset = input[i];
      heap.Push(&entries[i]);
    }
    std::vector<std::int32_t> sorted = input;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Drain(heap), sorted);
  }
  CBlocksHeap empty;
  EXPECT_EQ(empty.Pop(0), nullptr);
}

// Taking out an element from the middle keeps the order of the rest, also when
// the last element moved into its place belongs above it.
TEST_F(HeapTest, RemoveKeepsTheHeapOrdered) {
  // Pushed in this order the elements keep their positions: 11 and 12 sit below
  // 10, and the last element (4) belongs above 10 once it fills a hole there.
  const std::vector<std::int32_t> input = {0, 1, 10, 2, 11, 12, 30, 4};
  for (std::size_t victim = 0; victim < input.size(); ++victim) {
    std::vector<CBankIndexEntry> entries(input.size());
    CBlocksHeap heap;
    for (std::size_t i = 0; i < input.size(); ++i) {
      entries[i].offset = input[i];
      heap.Push(&entries[i]);
    }
    ASSERT_TRUE(heap.Remove(&entries[victim]));
    EXPECT_FALSE(heap.Remove(&entries[victim]));
    std::vector<std::int32_t> expected;
    for (std::size_t i = 0; i < input.size(); ++i) {
      if (i != victim) expected.push_back(input[i]);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Drain(heap), expected) << "removed " << input[victim];
  }
}

}  // namespace
