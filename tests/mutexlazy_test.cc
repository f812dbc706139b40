// What only MutexLazy does: its defaults, the recursion switch, and the wait object it makes on
// the first wait and never before.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "platform/mutex_wait.h"
#include "support/guards.h"
#include "support/wait_until.h"

namespace {

using kestle_test::HeapCheck;
using kestle_test::ReportCapture;
using kestle_test::waitUntil;

// Makes the calling thread wait once on m: another thread holds it until this one sleeps.
void contendOnce(MutexLazy& m) {
  std::atomic<bool> held{false};
  std::thread holder([&] {
    m.obtain();
    held.store(true);
    waitUntil([&] { return m.state() == 2; });
    m.release();
  });
  waitUntil([&] { return held.load(); });
  m.obtain();
  m.release();
  holder.join();
}

TEST(MutexLazy, DefaultsAreRecursionCheckEmptyNameAndStatisticSix) {
  ReportCapture reports;
  MutexLazy m;
  EXPECT_EQ(std::wstring(m.name()), L"");
  EXPECT_EQ(m.state(), 0u);
  EXPECT_EQ(m.lockedbyThread(), 0);

  unsigned long long const before = Platform::statCount(6);
  std::thread thread([&] {
    m.obtain();
    m.obtain();  // reported, then waits for the release below
    m.release();
  });
  ASSERT_TRUE(waitUntil([&] { return reports.count() == 1 && m.state() == 2; }));
  m.release();
  thread.join();
  EXPECT_EQ(reports.reports().front().line, 62u);
  EXPECT_EQ(Platform::statCount(6), before + 1);
}

TEST(MutexLazy, WithoutRecursionCheckAHolderObtainingAgainWaitsSilently) {
  ReportCapture reports;
  MutexLazy m(false, L"quiet", 230);
  std::atomic<bool> second{false};
  std::thread thread([&] {
    m.obtain();
    m.obtain();
    second.store(true);
    m.release();
  });
  ASSERT_TRUE(waitUntil([&] { return m.state() == 2; }));
  EXPECT_FALSE(second.load());
  m.release();
  thread.join();
  EXPECT_TRUE(second.load());
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_EQ(Platform::statCount(230), 1u);
}

TEST(MutexLazy, HolderTryIsReportedEvenWithoutRecursionCheck) {
  ReportCapture reports;
  MutexLazy m(false, L"unchecked", 231);
  m.obtain();
  EXPECT_FALSE(m.tryObtain(5, Mutex::ReportDeadlock));
  ASSERT_EQ(reports.count(), 1u);
  auto const r = reports.reports().front();
  EXPECT_EQ(r.function, L"MutexLazy::tryObtain");
  EXPECT_EQ(r.line, 93u);
  EXPECT_EQ(r.text1, std::wstring(L"unchecked"));
  EXPECT_EQ(r.value, Mutex::currentThreadId());
  m.release();
}

TEST(MutexLazy, StatisticZeroIsAnOrdinaryId) {
  MutexLazy m(true, L"zero", 0);
  unsigned long long const before = Platform::statCount(0);
  contendOnce(m);
  EXPECT_EQ(Platform::statCount(0), before + 1);
}

TEST(MutexLazy, HoldsNoWaitObjectUntilItsFirstWait) {
  HeapCheck heap;
  long long oneObject = 0;
  {
    MutexLazy m(true, L"lazy", 232);
    for (int i = 0; i < 100; ++i) {
      m.obtain();
      EXPECT_FALSE(m.tryObtain(0, Mutex::ReportDeadlock));
      m.release();
    }
    EXPECT_EQ(heap.held(), 0);  // never contended: nothing allocated

    contendOnce(m);
    oneObject = heap.held();
    EXPECT_GT(oneObject, 0);
    contendOnce(m);
    EXPECT_EQ(heap.held(), oneObject);  // made once, then kept
  }
  EXPECT_EQ(heap.held(), 0);  // the destructor gave it back

  // Many threads waiting for the first time together still leave exactly one object.
  {
    MutexLazy m(true, L"race", 233);
    m.obtain();
    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&] {
        m.obtain();
        m.release();
      });
    }
    waitUntil([&] { return m.state() == 2; });
    m.release();
    for (auto& t : threads)
      t.join();
    EXPECT_EQ(heap.held(), oneObject);
  }
}

TEST(MutexLazy, HeapMutexesComeFromTheAccountedAllocation) {
  HeapCheck heap;
  auto* m = new MutexLazy(true, L"heap", 234);
  EXPECT_EQ(heap.held(), static_cast<long long>(sizeof(MutexLazy) + 8));
  Mutex* base = m;
  delete base;
}

}  // namespace
