// MutexLazy and MutexSimplex: the contract they share (exclusion, waking, timeouts, the holder's
// self tests and their reports, statistics) as one typed suite, then what each class does alone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "platform/mutex_wait.h"
#include "support/guards.h"
#include "support/wait_until.h"

namespace {

using namespace kestle_test;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::wstring>;

// Where each class reports a holder asking again, as report lines show it.
struct LazyKind {
  static std::unique_ptr<Mutex> make(wchar_t const* name, Stat::Id id) {
    return std::make_unique<MutexLazy>(true, name, id);
  }
  static constexpr wchar_t const *kObtain = L"mutexlazy:62 MutexLazy::obtain",
                                 *kTry = L"mutexlazy:93 MutexLazy::tryObtain";
};
struct SimplexKind {
  static std::unique_ptr<Mutex> make(wchar_t const* name, Stat::Id id) {
    return std::make_unique<MutexSimplex>(name, id);
  }
  static constexpr wchar_t const *kObtain = L"mutex:263 MutexSimplex::obtain",
                                 *kTry = L"mutex:297 MutexSimplex::tryObtain";
};

// Each test counts under its own statistic, so counts of earlier tests never mix in.
Stat::Id freshStat() {
  static Stat::Id next = 200;
  return next++;
}

template <class Kind>
class MutexContract : public ::testing::Test {};
using Kinds = ::testing::Types<LazyKind, SimplexKind>;
TYPED_TEST_SUITE(MutexContract, Kinds);

TYPED_TEST(MutexContract, ThreadsCountingUnderTheMutexReachTheExactTotal) {
  auto m = TypeParam::make(L"count", freshStat());
  constexpr int kThreads = 4, kRounds = 20000;
  long counter = 0;  // plain on purpose: only the mutex keeps the increments apart
  std::vector<std::jthread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        if (t == 0 && i % 2 == 0) {  // one thread also goes through the timed try's own wait
          while (!m->tryObtain(1000, Mutex::ReportDeadlock)) {
          }
        } else {
          m->obtain();
        }
        ++counter;
        m->release();
      }
    });
  }
  threads.clear();
  EXPECT_EQ(counter, long{kThreads} * kRounds);
  EXPECT_EQ(m->state(), 0u);
}

// Threads sleep in obtain and in a timed try while the holder (with every strategy) and another
// thread keep failing tries without a timeout. Those tries neither wait nor report, and must not
// wipe out the "waiters" mark, or the release would wake nobody and every waiter would sleep out
// its whole time bound.
TYPED_TEST(MutexContract, FailedZeroTimeoutTriesNeitherWaitNorStrandSleepingWaiters) {
  Stat::Id const stat = freshStat();
  auto m = TypeParam::make(L"mark", stat);
  ReportCapture reports;
  m->obtain();
  auto waiters = startSleepers(3, [&](int i) {
    if (i == 0) {  // a timed try gets the mutex when it is released in time
      EXPECT_TRUE(m->tryObtain(20000, Mutex::ReportDeadlock));
      EXPECT_EQ(m->lockedbyThread(), Mutex::currentThreadId());
    } else {
      m->obtain();
    }
    m->release();
  });
  unsigned long long const waits = Platform::statCount(stat);
  std::atomic<bool> stop{false};
  std::jthread hammer([&] {
    while (!stop.load())
      if (m->tryObtain(0, Mutex::ReportDeadlock))
        m->release();
  });
  for (int i = 0; i < 100; ++i) {
    for (auto strategy : {Mutex::ReportDeadlock, Mutex::WaitAnyway, Mutex::FailQuietly})
      EXPECT_FALSE(m->tryObtain(0, strategy));
  }
  EXPECT_EQ(m->state(), 2u);
  EXPECT_EQ(Platform::statCount(stat), waits);
  auto const start = Clock::now();
  m->release();
  waiters.clear();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
  stop.store(true);
  EXPECT_EQ(reports.count(), 0u);
}

// Ownership and names as one thread sees them, and the holder's timed tries: reported (an
// unknown strategy counts as ReportDeadlock), refused quietly, or waited out; only the wait counts.
TYPED_TEST(MutexContract, OwnershipNamesAndTheHoldersTimedTries) {
  EXPECT_EQ(std::wstring(TypeParam::make(L"0123456789abcdefghijklmnopqrstuvwxyzABCD", 0)->name()),
            L"0123456789abcdefghijklmnopqrst");
  EXPECT_EQ(std::wstring(TypeParam::make(nullptr, 0)->name()), L"");
  Stat::Id const stat = freshStat();
  auto m = TypeParam::make(L"self", stat);
  ReportCapture reports;
  int const self = Mutex::currentThreadId();
  m->obtain();
  EXPECT_EQ(std::pair(m->state(), m->lockedbyThread()), std::pair(1u, self));
  m->release();
  EXPECT_EQ(std::pair(m->state(), m->lockedbyThread()), std::pair(0u, 0));
  EXPECT_TRUE(m->tryObtain(0, Mutex::ReportDeadlock));
  EXPECT_EQ(m->lockedbyThread(), self);
  for (auto strategy : {Mutex::ReportDeadlock, Mutex::FailQuietly, Mutex::DeadlockStrategy(7)})
    EXPECT_FALSE(m->tryObtain(10, strategy));
  EXPECT_EQ(Platform::statCount(stat), 0u);
  auto const start = Clock::now();
  EXPECT_FALSE(m->tryObtain(30, Mutex::WaitAnyway));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(Platform::statCount(stat), 1u);
  std::wstring const report =
      L"Panic2 0 " + std::wstring(TypeParam::kTry) + L" - self - 0 " + std::to_wstring(self);
  EXPECT_EQ(reports.lines(), (Lines{report, report}));
  EXPECT_EQ(m->lockedbyThread(), self);
  m->release();
}

// A holder that obtains again is reported, and then waits like any other thread: it never
// becomes a second owner, and it goes on once the mutex is released. Meanwhile a timed try by
// another thread gives up and leaves the mark up, so the release still wakes the sleeper. Waits
// count under the mutex's statistic, with the time they slept.
TYPED_TEST(MutexContract, HolderObtainingAgainIsReportedAndWaitsForTheRelease) {
  Stat::Id const stat = freshStat();
  auto m = TypeParam::make(L"again", stat);
  ReportCapture reports;
  std::atomic<int> id{0};
  std::atomic<bool> second{false};
  auto holder = startSleepers(1, [&](int) {
    m->obtain();
    id.store(Mutex::currentThreadId());
    m->obtain();
    second.store(true);
    EXPECT_EQ(m->lockedbyThread(), Mutex::currentThreadId());
    m->release();
  });
  auto const start = Clock::now();
  EXPECT_FALSE(m->tryObtain(60, Mutex::ReportDeadlock));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_EQ(m->state(), 2u);
  EXPECT_FALSE(second.load());
  std::wstring const ids = std::to_wstring(id.load());
  EXPECT_EQ(reports.lines(),
            Lines{L"PanicMe 0 " + std::wstring(TypeParam::kObtain) + L" - again " + ids + L" 0 0"});
  m->release();  // the first hold ends; the waiting second obtain now gets the mutex
  holder.clear();
  EXPECT_TRUE(second.load());
  EXPECT_EQ(m->state(), 0u);
  EXPECT_EQ(reports.count(), 1u);
  EXPECT_EQ(Platform::statCount(stat), 2u);
  EXPECT_GT(Platform::statTicks(stat), 0u);
}

// The default MutexLazy checks recursion, has no name and counts under statistic 6. With the
// check off, obtaining again waits silently; the holder's timed try is reported either way.
TEST(MutexLazy, RecursionCheckIsOnByDefaultAndTheHolderTryIsReportedEitherWay) {
  MutexLazy checked, unchecked(false, L"unchecked", 230);
  for (MutexLazy* m : {&checked, &unchecked}) {
    bool const check = m == &checked;
    Stat::Id const stat = check ? 6 : 230;
    ReportCapture reports;
    unsigned long long const before = Platform::statCount(stat);
    auto holder = startSleepers(1, [m](int) {
      m->obtain();
      EXPECT_FALSE(m->tryObtain(5, Mutex::ReportDeadlock));
      m->obtain();  // waits until the main thread releases
      m->release();
    });
    m->release();
    holder.clear();
    auto const got = reports.reports();
    ASSERT_EQ(got.size(), 1u + check);
    EXPECT_EQ(got.front().line, 93u);
    EXPECT_EQ(got.back().line, check ? 62u : 93u);
    EXPECT_EQ(got.back().text1, std::wstring(check ? L"" : L"unchecked"));
    EXPECT_EQ(Platform::statCount(stat), before + 1);
  }
}

// A heap MutexLazy comes from the accounted allocation. Never contended, it holds no wait
// object; eight threads waiting for the first time together leave exactly one, kept until the
// destructor. Statistic 0 is used as it is.
TEST(MutexLazy, MakesOneWaitObjectOnItsFirstWaitAndNoneBefore) {
  HeapCheck heap;
  unsigned long long const waits = Platform::statCount(0);
  long long const bare = sizeof(MutexLazy) + 8;
  MutexLazy* m = new MutexLazy(true, L"lazy", 0);
  for (int i = 0; i < 100; ++i) {
    m->obtain();
    EXPECT_FALSE(m->tryObtain(0, Mutex::ReportDeadlock));
    m->release();
  }
  EXPECT_EQ(heap.held(), bare);
  for (int round = 0; round < 2; ++round) {
    m->obtain();
    std::vector<std::jthread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&] { m->obtain(), m->release(); });
    ASSERT_TRUE(waitUntil([&] { return m->state() == 2; }));
    m->release();
    threads.clear();
    EXPECT_EQ(heap.held(),
              bare + static_cast<long long>(sizeof(kestle_detail::LazyWaitObject) + 8));
  }
  delete static_cast<Mutex*>(m);
  EXPECT_EQ(heap.held(), 0);
  EXPECT_GE(Platform::statCount(0), waits + 2);
}

// MutexSimplex with statistic 0 counts waits in obtain and obtainSeq under 5 and those in
// tryObtain under 8; obtainSeq records no owner, so even the holder's timed try waits.
TEST(MutexSimplex, ObtainSeqRecordsNoOwnerAndWaitsCountUnderFiveAndEight) {
  ReportCapture reports;
  MutexSimplex m;
  EXPECT_EQ(std::wstring(m.name()), L"");
  unsigned long long const obtains = Platform::statCount(5), tries = Platform::statCount(8);
  m.obtainSeq();
  EXPECT_EQ(m.state(), 1u);
  EXPECT_EQ(m.lockedbyThread(), 0);
  EXPECT_FALSE(m.tryObtain(5, Mutex::ReportDeadlock));
  std::atomic<int> through{0};
  auto waiters = startSleepers(2, [&](int seq) {
    seq ? m.obtainSeq() : m.obtain();
    EXPECT_EQ(m.lockedbyThread(), seq ? 0 : Mutex::currentThreadId());
    through.fetch_add(1);
    m.release();
  });
  EXPECT_EQ(through.load(), 0);
  m.release();
  waiters.clear();
  EXPECT_EQ(through.load(), 2);
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
  delete static_cast<Mutex*>(m);
}

}  // namespace
