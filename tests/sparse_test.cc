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

// Assignment drops the old store with its last link (the heap count shows it) and links the new.
TYPED_TEST(SharedStoreTest, CopiesShareOneStoreAndAssignmentMovesTheLink) {
  kestle_test::HeapCheck heap;
  auto* original = new TypeParam();
  MEMBLOCKS* const store = original->store();
  ASSERT_NE(store, nullptr);
  TypeParam copy(*original);
  EXPECT_EQ(std::make_pair(copy.store(), MbLinks(store)), std::make_pair(store, 2u));
  delete original;
  long long const withOne = Heapwick::bytesHeld();
  {
    TypeParam other;
    EXPECT_NE(other.store(), store);
    other = copy;
    EXPECT_EQ(std::make_tuple(Heapwick::bytesHeld(), other.store(), MbLinks(store)),
              std::make_tuple(withOne, store, 2u));
  }
  TypeParam& alias = copy;
  copy = alias;
  EXPECT_EQ(std::make_pair(copy.store(), MbLinks(store)), std::make_pair(store, 1u));
}

TEST(BitStoreTest, MovesLinkLikeCopiesAndANewStoreIsEmpty) {
  kestle_test::HeapCheck heap;
  BitStore a;
  EXPECT_EQ(std::make_pair(a.number(), a.filled()), std::make_pair(0u, false));
  BitStore moved(std::move(a)), assigned;
  assigned = std::move(moved);
  BitStore& alias = a;
  a = std::move(alias);
  EXPECT_EQ(std::make_tuple(assigned.store(), moved.store(), MbLinks(a.store())),
            std::make_tuple(a.store(), a.store(), 3u));
}

TEST(BlockStoreTest, FreeClearsThePointerAndIgnoresNull) {
  kestle_test::HeapCheck heap;
  MEMBLOCKS* s = MbInit(7);
  MbFree(s);
  EXPECT_EQ(s, nullptr);
  MbFree(s);
  MbAddLink(s);
  EXPECT_EQ(MbLinks(s), 0u);
}

// Copies made and dropped on several threads; the store goes once, after the last (TSan).
TEST(BlockStoreTest, ConcurrentCopiesReleaseTheStoreOnce) {
  kestle_test::HeapCheck heap;
  std::vector<std::thread> threads;
  {
    BitStore shared;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([copy = BitStore(shared)] {
        for (int k = 0; k < 2000; ++k) {
          BitStore local(copy), other;
          other = local;
        }
      });
    }
  }
  for (auto& th : threads)
    th.join();
}

}  // namespace
