// The block-store containers: copies share one store, which goes with its last link.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "kestle/kestle.h"
#include "platform/blockstore.h"
#include "support/guards.h"

namespace {

template <typename T>
class SharedStoreTest : public ::testing::Test {};
using StoreClasses = ::testing::Types<BitStore, SparseArray<unsigned long long>>;
TYPED_TEST_SUITE(SharedStoreTest, StoreClasses);

// Moves link like copies; assignment drops the old store with its last link (see the heap count).
TYPED_TEST(SharedStoreTest, CopiesShareOneStoreAndAssignmentMovesTheLink) {
  kestle_test::HeapCheck heap;
  auto* original = new TypeParam();
  MEMBLOCKS* const store = original->store();
  TypeParam copy(*original);
  EXPECT_EQ(std::make_pair(copy.store(), MbLinks(store)), std::make_pair(store, 2u));
  delete original;
  long long const withOne = Heapwick::bytesHeld();
  {
    TypeParam other, moved(std::move(copy));
    other = std::move(moved);
    EXPECT_EQ(std::make_tuple(Heapwick::bytesHeld(), other.store(), moved.store(), MbLinks(store)),
              std::make_tuple(withOne, store, store, 3u));
  }
  TypeParam& alias = copy;
  copy = alias;
  copy = std::move(alias);
  EXPECT_EQ(std::make_pair(copy.store(), MbLinks(store)), std::make_pair(store, 1u));
}

// MbFree clears the pointer and ignores null; a new BitStore holds nothing.
TEST(BlockStoreTest, FreeClearsThePointerAndANewBitStoreIsEmpty) {
  kestle_test::HeapCheck heap;
  MEMBLOCKS* s = MbInit(7);
  MbFree(s);
  EXPECT_EQ(s, nullptr);
  MbFree(s);
  MbAddLink(s);
  BitStore empty;
  EXPECT_EQ(std::make_tuple(MbLinks(s), empty.number(), empty.filled()),
            std::make_tuple(0u, 0u, false));
}

// Copies made and dropped on several threads; the store goes once, after the last (TSan).
TEST(BlockStoreTest, ConcurrentCopiesReleaseTheStoreOnce) {
  kestle_test::HeapCheck heap;
  std::vector<std::jthread> threads;
  {
    BitStore shared;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([copy = BitStore(shared)] {
        for (int k = 0; k < 2000; ++k) {
          BitStore local(copy), other;
          other = local;
        }
      });
  }
  threads.clear();  // joins
}

}  // namespace
