// What only MutexSimplex does: the default statistics 5 and 8, obtainSeq, setName, and
// GlobalMutex.
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
using kestle_test::waitUntil;

// Statistic 0 counts waits in obtain and obtainSeq under 5 and those in tryObtain under 8.
TEST(MutexSimplex, ObtainSeqRecordsNoOwnerAndWaitsCountUnderFiveAndEight) {
  kestle_test::ReportCapture reports;
  MutexSimplex m;
  EXPECT_EQ(std::wstring(m.name()), L"");
  unsigned long long const obtains = Platform::statCount(5), tries = Platform::statCount(8);
  m.obtainSeq();
  EXPECT_EQ(m.state(), 1u);
  EXPECT_EQ(m.lockedbyThread(), 0);
  // Without an owner, even the holder's timed try is taken for another thread's hold.
  EXPECT_FALSE(m.tryObtain(5, Mutex::ReportDeadlock));
  EXPECT_EQ(Platform::statCount(8), tries + 1);

  unsigned long long const calls = kestle_detail::futexCalls();
  std::atomic<int> through{0};
  std::vector<std::thread> waiters;
  for (bool seq : {false, true}) {
    waiters.emplace_back([&, seq] {
      seq ? m.obtainSeq() : m.obtain();
      EXPECT_EQ(m.lockedbyThread(), seq ? 0 : Mutex::currentThreadId());
      through.fetch_add(1);
      m.release();
    });
  }
  ASSERT_TRUE(waitUntil([&] { return kestle_detail::futexCalls() >= calls + 2; }));
  EXPECT_EQ(through.load(), 0);
  m.release();
  for (auto& w : waiters)
    w.join();
  EXPECT_EQ(through.load(), 2);
  EXPECT_EQ(m.state(), 0u);
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_EQ(Platform::statCount(5), obtains + 2);
  EXPECT_EQ(Platform::statCount(8), tries + 1);
}

TEST(MutexSimplex, GlobalMutexComesFromTheAccountedAllocationAndSetNameReplacesItsName) {
  HeapCheck heap;
  MutexSimplex* m = new GlobalMutex(L"a rather long first name of the mutex", 237);
  EXPECT_EQ(heap.held(), static_cast<long long>(sizeof(GlobalMutex) + 8));
  m->setName(L"short");
  EXPECT_EQ(std::wstring(m->name()), L"short");  // nothing of the old name is left behind
  m->setName(L"0123456789012345678901234567890123456789");
  EXPECT_EQ(std::wstring(m->name()), L"012345678901234567890123456789");
  m->setName(nullptr);
  EXPECT_EQ(std::wstring(m->name()), L"");
  delete static_cast<Mutex*>(m);
}

}  // namespace
