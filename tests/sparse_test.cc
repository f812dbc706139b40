// The block-store containers: copies share one store, assignment links before it drops, and
// every store is released with its last link.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "platform/blockstore.h"
#include "support/guards.h"

namespace {
using kestle_test::HeapCheck;

TEST(BitStoreTest, CopiesShareOneStoreThatOutlivesTheOriginal) {
  HeapCheck heap;
  auto* original = new BitStore();
  EXPECT_EQ(original->number(), 0u);
  EXPECT_FALSE(original->filled());
  MEMBLOCKS* store = original->store();
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(MbLinks(store), 1u);

  BitStore copy(*original);
  BitStore moved(std::move(*original));  // moving links like copying
  EXPECT_EQ(copy.store(), store);
  EXPECT_EQ(moved.store(), store);
  EXPECT_EQ(copy.number(), original->number());
  EXPECT_EQ(MbLinks(store), 3u);
  delete original;
  EXPECT_EQ(MbLinks(store), 2u);
  EXPECT_EQ(copy.store(), store);
}

TEST(BitStoreTest, AssignmentMovesTheLinkAndReleasesTheOldStore) {
  HeapCheck heap;
  BitStore a;
  long long withTwo = Heapwick::bytesHeld();
  {
    BitStore b;
    EXPECT_NE(a.store(), b.store());
    EXPECT_GT(Heapwick::bytesHeld(), withTwo);
    b = a;  // b's own store had one link: released now
    EXPECT_EQ(Heapwick::bytesHeld(), withTwo);
    EXPECT_EQ(b.store(), a.store());
    EXPECT_EQ(MbLinks(a.store()), 2u);
    BitStore c;
    c = std::move(b);
    EXPECT_EQ(MbLinks(a.store()), 3u);
  }
  EXPECT_EQ(MbLinks(a.store()), 1u);
}

TEST(BitStoreTest, SelfAssignmentChangesNothing) {
  HeapCheck heap;
  BitStore a;
  MEMBLOCKS* store = a.store();
  BitStore& alias = a;
  a = alias;
  EXPECT_EQ(a.store(), store);
  EXPECT_EQ(MbLinks(store), 1u);
  a = std::move(alias);
  EXPECT_EQ(a.store(), store);
  EXPECT_EQ(MbLinks(store), 1u);

  SparseArray<unsigned long long> s;
  SparseArray<unsigned long long>& salias = s;
  MEMBLOCKS* sstore = s.store();
  s = salias;
  EXPECT_EQ(s.store(), sstore);
  EXPECT_EQ(MbLinks(sstore), 1u);
}

TEST(SparseArrayTest, CopiesShareAndAssignmentReleasesTheOldStore) {
  HeapCheck heap;
  SparseArray<unsigned long long> a;
  SparseArray<unsigned long long> b(a);
  EXPECT_EQ(b.store(), a.store());
  EXPECT_EQ(MbLinks(a.store()), 2u);
  SparseArray<unsigned long long> c;
  MEMBLOCKS* old = c.store();
  EXPECT_NE(old, a.store());
  c = b;
  EXPECT_EQ(c.store(), a.store());
  EXPECT_EQ(MbLinks(a.store()), 3u);
}

TEST(BlockStoreTest, FreeClearsThePointerAndIgnoresNull) {
  HeapCheck heap;
  MEMBLOCKS* s = MbInit(7);
  MbFree(s);
  EXPECT_EQ(s, nullptr);
  MbFree(s);
  MbAddLink(s);
}

// Copies that share one store are made and dropped on several threads at once; the store goes
// exactly once, after the last copy (TSan and the heap count check this).
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
  threads.clear();
}

}  // namespace
