// What only MutexSimplex does: the default statistics 5 and 8, obtainSeq, setName, and
// GlobalMutex.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "kestle/kestle.h"
#include "support/guards.h"
#include "support/wait_until.h"

namespace {

using kestle_test::HeapCheck;
using kestle_test::ReportCapture;
using kestle_test::waitUntil;

TEST(MutexSimplex, StatisticZeroSelectsFiveForObtainAndEightForTry) {
  MutexSimplex m;
  EXPECT_EQ(std::wstring(m.name()), L"");
  unsigned long long const obtains = Platform::statCount(5);
  unsigned long long const tries = Platform::statCount(8);

  m.obtain();
  std::thread waiter([&] {
    m.obtain();
    m.release();
  });
  ASSERT_TRUE(waitUntil([&] { return m.state() == 2; }));
  m.release();
  waiter.join();
  EXPECT_EQ(Platform::statCount(5), obtains + 1);
  EXPECT_EQ(Platform::statCount(8), tries);

  m.obtain();
  EXPECT_FALSE(m.tryObtain(5, Mutex::WaitAnyway));  // the holder's own timed wait
  m.release();
  EXPECT_EQ(Platform::statCount(5), obtains + 1);
  EXPECT_EQ(Platform::statCount(8), tries + 1);
}

TEST(MutexSimplex, ObtainSeqRecordsNoOwnerAndMakesNoSelfTest) {
  ReportCapture reports;
  MutexSimplex m(L"seq", 236);
  m.obtainSeq();
  EXPECT_EQ(m.state(), 1u);
  EXPECT_EQ(m.lockedbyThread(), 0);
  // Without an owner, even the holder's timed try is taken for another thread's hold.
  EXPECT_FALSE(m.tryObtain(5, Mutex::ReportDeadlock));
  EXPECT_EQ(reports.count(), 0u);

  std::atomic<bool> second{false};
  std::thread thread([&] {
    m.obtainSeq();
    second.store(true);
    EXPECT_EQ(m.lockedbyThread(), 0);
    m.release();
  });
  ASSERT_TRUE(waitUntil([&] { return m.state() == 2; }));
  EXPECT_FALSE(second.load());
  m.release();
  thread.join();
  EXPECT_TRUE(second.load());
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_EQ(m.state(), 0u);
}

TEST(MutexSimplex, SetNameKeepsThirtyCharactersAndReplacesTheOldName) {
  MutexSimplex m(L"a rather long first name of the mutex", 0);
  EXPECT_EQ(std::wstring(m.name()), L"a rather long first name of th");
  m.setName(L"short");
  EXPECT_EQ(std::wstring(m.name()), L"short");  // nothing of the old name is left behind
  m.setName(L"0123456789012345678901234567890123456789");
  EXPECT_EQ(std::wstring(m.name()), L"012345678901234567890123456789");
  m.setName(nullptr);
  EXPECT_EQ(std::wstring(m.name()), L"");
}

TEST(MutexSimplex, HeapMutexesComeFromTheAccountedAllocation) {
  HeapCheck heap;
  Mutex* m = new GlobalMutex(L"global", 237);
  EXPECT_EQ(heap.held(), static_cast<long long>(sizeof(GlobalMutex) + 8));
  m->obtain();
  EXPECT_EQ(std::wstring(m->name()), L"global");
  m->release();
  delete m;
}

}  // namespace
