// The block-store containers: copies share one store, assignment links before it drops, and
// every store is released with its last link.
#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "kestle/kestle.h"
#include "platform/blockstore.h"
#include "support/guards.h"

namespace {
using kestle_test::HeapCheck;

template <typename T>
class SharedStoreTest : public ::testing::Test {};
using StoreClasses = ::testing::Types<BitStore, SparseArray<unsigned long long>>;
TYPED_TEST_SUITE(SharedStoreTest, StoreClasses);

// Copies link the one store, which outlives the original; assignment drops the old store with
// its last link and links the new one; self-assignment changes nothing.
TYPED_TEST(SharedStoreTest, CopiesShareOneStoreAndAssignmentMovesTheLink) {
  HeapCheck heap;
  auto* original = new TypeParam();
  MEMBLOCKS* const store = original->store();
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(MbLinks(store), 1u);
  TypeParam copy(*original);
  EXPECT_EQ(copy.store(), store);
  delete original;
  EXPECT_EQ(MbLinks(store), 1u);

  long long const withOne = Heapwick::bytesHeld();
  {
    TypeParam other;
    EXPECT_NE(other.store(), store);
    other = copy;  // other's own store had one link: released now
    EXPECT_EQ(Heapwick::bytesHeld(), withOne);
    EXPECT_EQ(other.store(), store);
    EXPECT_EQ(MbLinks(store), 2u);
  }
  TypeParam& alias = copy;
  copy = alias;
  EXPECT_EQ(copy.store(), store);
  EXPECT_EQ(MbLinks(store), 1u);
}

// BitStore's moves are copies: the source keeps its link. An empty store has number 0.
TEST(BitStoreTest, MovesLinkLikeCopiesAndANewStoreIsEmpty) {
  HeapCheck heap;
  BitStore a;
  EXPECT_EQ(a.number(), 0u);
  EXPECT_FALSE(a.filled());
  BitStore moved(std::move(a));
  BitStore assigned;
  assigned = std::move(moved);
  EXPECT_EQ(assigned.store(), a.store());
  EXPECT_EQ(moved.store(), a.store());
  EXPECT_EQ(MbLinks(a.store()), 3u);
  BitStore& alias = a;
  a = std::move(alias);
  EXPECT_EQ(MbLinks(a.store()), 3u);
}

TEST(BlockStoreTest, FreeClearsThePointerAndIgnoresNull) {
  HeapCheck heap;
  MEMBLOCKS* s = MbInit(7);
  MbFree(s);
  EXPECT_EQ(s, nullptr);
  MbFree(s);
  MbAddLink(s);
  EXPECT_EQ(MbLinks(s), 0u);
}

// Copies sharing one store are made and dropped on several threads; the store goes exactly
// once, after the last copy (TSan and the heap count check this).
TEST(BlockStoreTest, ConcurrentCopiesReleaseTheStoreOnce) {
  HeapCheck heap;
  std::vector<std::thread> threads;
  {
    BitStore shared;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([copy = BitStore(shared)] {
        for (int k = 0; k < 2000; ++k) {
          BitStore local(copy);
          BitStore other;
          other = local;
        }
      });
    }
  }  // the original goes before the threads end
  for (auto& th : threads)
    th.join();
}

}  // namespace
