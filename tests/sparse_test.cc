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
using Sparse = SparseArray<unsigned long long>;

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
  EXPECT_EQ(moved.store(), store);
  EXPECT_EQ(MbLinks(store), 3u);
  delete original;
  EXPECT_EQ(MbLinks(store), 2u);
  EXPECT_EQ(copy.store(), store);
}

// Assignment links the new store before it drops the old one: the old store goes with its last
// link, and self-assignment changes nothing.
TEST(BitStoreTest, AssignmentReleasesTheOldStoreSelfAssignmentChangesNothing) {
  HeapCheck heap;
  BitStore a;
  MEMBLOCKS* store = a.store();
  long long withOne = Heapwick::bytesHeld();
  {
    BitStore b;
    EXPECT_NE(b.store(), store);
    b = a;  // b's own store had one link: released now
    EXPECT_EQ(Heapwick::bytesHeld(), withOne);
    BitStore c;
    c = std::move(b);
    EXPECT_EQ(c.store(), store);
    EXPECT_EQ(MbLinks(store), 3u);
  }
  BitStore& alias = a;
  a = alias;
  a = std::move(alias);
  EXPECT_EQ(a.store(), store);
  EXPECT_EQ(MbLinks(store), 1u);

  Sparse s;
  Sparse& salias = s;
  s = salias;
  EXPECT_EQ(MbLinks(s.store()), 1u);
  Sparse t(s), u;
  u = t;
  EXPECT_EQ(u.store(), s.store());
  EXPECT_EQ(MbLinks(s.store()), 3u);
}

TEST(BlockStoreTest, FreeClearsThePointerAndIgnoresNull) {
  HeapCheck heap;
  MEMBLOCKS* s = MbInit(7);
  MbFree(s);
  EXPECT_EQ(s, nullptr);
  MbFree(s);
  MbAddLink(s);
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
