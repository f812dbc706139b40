// The two mutex classes, the lock objects over any Mutex, and the semaphores.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "kestle/kestle.h"
#include "platform/mutex_wait.h"
#include "support/guards.h"
#include "support/thread_syscall.h"

namespace {

using namespace kestle_test;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::wstring>;
using Log = std::vector<std::string>;

// Yields until `done` holds, without fixed sleeps; the bound only keeps a faulty build from
// hanging.
template <class Condition>
bool waitUntil(Condition done) {
  auto const end = Clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (Clock::now() >= end)
      return false;
    std::this_thread::yield();
  }
  return true;
}

// Runs body(i) on n threads; returns them (joined when destroyed) once each sleeps in futex.
template <class Body>
std::vector<std::jthread> startSleepers(int n, Body body) {
  std::vector<std::atomic<long>> ids(n);
  std::vector<std::jthread> threads;
  for (int i = 0; i < n; ++i) {
    threads.emplace_back([&ids, body, i] {
      ids[i].store(::syscall(SYS_gettid));
      body(i);
    });
  }
  auto asleep = [](long id) { return threadSyscall(id).number == SYS_futex; };
  EXPECT_TRUE(waitUntil([&] { return std::all_of(ids.begin(), ids.end(), asleep); }))
      << "not every thread went to sleep";
  return threads;
}

struct LazyKind {
  static std::unique_ptr<Mutex> make(wchar_t const* name, Stat::Id id) {
    return std::make_unique<MutexLazy>(true, name, id);
  }
  static constexpr wchar_t const *kObtain = L"mutexlazy:62 MutexLazy::obtain",
                                 *kTry = L"mutexlazy:93 MutexLazy::tryObtain";
  static constexpr Stat::Id kStat = 200;
};
struct SimplexKind {
  static std::unique_ptr<Mutex> make(wchar_t const* name, Stat::Id id) {
    return std::make_unique<MutexSimplex>(name, id);
  }
  static constexpr wchar_t const *kObtain = L"mutex:263 MutexSimplex::obtain",
                                 *kTry = L"mutex:297 MutexSimplex::tryObtain";
  static constexpr Stat::Id kStat = 202;
};

template <class Kind>
class MutexContract : public ::testing::Test {};
using Kinds = ::testing::Types<LazyKind, SimplexKind>;
TYPED_TEST_SUITE(MutexContract, Kinds);

// Only the mutex keeps the plain counter's increments apart; one thread also goes through the
// timed try's own wait.
TYPED_TEST(MutexContract, ThreadsCountingUnderTheMutexReachTheExactTotal) {
  auto m = TypeParam::make(L"count", TypeParam::kStat + 1);
  long counter = 0;
  std::vector<std::jthread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        if (t == 0 && i % 2 == 0) {
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
  EXPECT_EQ(counter, 80000);
}

// Tries without a timeout, failing while threads sleep, neither wait nor report, and must not
// wipe out the "waiters" mark, or the release would wake nobody for a whole sleep bound.
TYPED_TEST(MutexContract, FailedZeroTimeoutTriesNeitherWaitNorStrandSleepingWaiters) {
  Stat::Id const stat = TypeParam::kStat;
  auto m = TypeParam::make(L"mark", stat);
  ReportCapture reports;
  m->obtain();
  auto waiters = startSleepers(3, [&](int i) {
    if (i == 0) {
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
  for (int i = 0; i < 100; ++i)
    for (auto strategy : {Mutex::ReportDeadlock, Mutex::WaitAnyway, Mutex::FailQuietly})
      EXPECT_FALSE(m->tryObtain(0, strategy));
  EXPECT_EQ(std::pair(m->state(), Platform::statCount(stat)), std::pair(2u, waits));
  auto const start = Clock::now();
  m->release();
  waiters.clear();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
  stop.store(true);
  EXPECT_EQ(reports.count(), 0u);
}

TYPED_TEST(MutexContract, HolderAskingAgainIsReportedRefusedOrWaits) {
  EXPECT_EQ(std::wstring(TypeParam::make(L"0123456789abcdefghijklmnopqrstuvwxyzABCD", 0)->name()),
            L"0123456789abcdefghijklmnopqrst");
  EXPECT_EQ(std::wstring(TypeParam::make(nullptr, 0)->name()), L"");
  Stat::Id const stat = TypeParam::kStat + 1;  // shared with the contention test: count the change
  unsigned long long const before = Platform::statCount(stat);
  auto m = TypeParam::make(L"again", stat);
  ReportCapture reports;
  std::atomic<int> id{0};
  std::atomic<bool> second{false};
  std::jthread holder([&] {
    int const self = Mutex::currentThreadId();
    EXPECT_TRUE(m->tryObtain(0, Mutex::ReportDeadlock));
    EXPECT_EQ(std::pair(m->state(), m->lockedbyThread()), std::pair(1u, self));
    for (int strategy : {0, 7, 2})  // ReportDeadlock, unknown, FailQuietly
      EXPECT_FALSE(m->tryObtain(10, static_cast<Mutex::DeadlockStrategy>(strategy)));
    auto const start = Clock::now();
    EXPECT_FALSE(m->tryObtain(30, Mutex::WaitAnyway));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
    id.store(self);
    m->obtain();
    second.store(true);
    EXPECT_EQ(m->lockedbyThread(), self);
    m->release();
  });
  // The third report comes from the holder's second obtain: only then may this thread wait too,
  // so that the waits counted do not depend on how the two threads' timeouts overlap.
  waitUntil([&] { return reports.count() >= 3; });
  EXPECT_EQ(reports.count(), 3u);
  auto const start = Clock::now();
  EXPECT_FALSE(m->tryObtain(60, Mutex::ReportDeadlock));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_EQ(std::pair(m->state(), second.load()), std::pair(2u, false));
  m->release();
  holder.join();
  EXPECT_EQ(std::pair(m->state(), m->lockedbyThread()), std::pair(0u, 0));
  std::wstring const ids = std::to_wstring(id.load());
  std::wstring const tried = L"Panic2 0 " + std::wstring(TypeParam::kTry) + L" - again - 0 " + ids;
  EXPECT_EQ(reports.lines(), (Lines{tried, tried,
                                    L"PanicMe 0 " + std::wstring(TypeParam::kObtain) +
                                        L" - again " + ids + L" 0 0"}));
  EXPECT_EQ(Platform::statCount(stat), before + 3);
  EXPECT_GT(Platform::statTicks(stat), 0u);
}

TEST(MutexLazy, RecursionCheckIsOnByDefault) {
  MutexLazy checked, unchecked(false, L"unchecked", 230);
  EXPECT_EQ(std::wstring(checked.name()), L"");
  for (MutexLazy* m : {&checked, &unchecked}) {
    Stat::Id const stat = m == &checked ? 6 : 230;
    ReportCapture reports;
    unsigned long long const before = Platform::statCount(stat);
    auto holder = startSleepers(1, [m](int) {
      m->obtain();
      m->obtain();
      m->release();
    });
    m->release();
    holder.clear();
    EXPECT_EQ(std::pair(reports.count(), Platform::statCount(stat)),
              std::pair(m == &checked ? size_t{1} : size_t{0}, before + 1));
  }
}

TEST(MutexLazy, MakesOneWaitObjectOnItsFirstWaitAndNoneBefore) {
  HeapCheck heap;
  unsigned long long const waits = Platform::statCount(0);
  long long const bare = sizeof(MutexLazy) + 8;
  MutexLazy* m = new MutexLazy(true, L"lazy", 0);
  m->obtain();
  EXPECT_FALSE(m->tryObtain(0, Mutex::ReportDeadlock));
  m->release();
  EXPECT_EQ(heap.held(), bare);
  for (int round = 0; round < 2; ++round) {
    m->obtain();
    auto threads = startSleepers(8, [m](int) { m->obtain(), m->release(); });
    m->release();
    threads.clear();
    EXPECT_EQ(heap.held(),
              bare + static_cast<long long>(sizeof(kestle_detail::LazyWaitObject) + 8));
  }
  delete static_cast<Mutex*>(m);
  EXPECT_EQ(heap.held(), 0);
  EXPECT_GE(Platform::statCount(0), waits + 2);
}

// Statistic 0 stands for 5 (obtain, obtainSeq) and 8 (tryObtain); obtainSeq records no owner.
TEST(MutexSimplex, ObtainSeqRecordsNoOwnerAndWaitsCountUnderFiveAndEight) {
  ReportCapture reports;
  MutexSimplex m;
  EXPECT_EQ(std::wstring(m.name()), L"");
  unsigned long long const obtains = Platform::statCount(5), tries = Platform::statCount(8);
  m.obtainSeq();
  EXPECT_EQ(std::pair(m.state(), m.lockedbyThread()), std::pair(1u, 0));
  EXPECT_FALSE(m.tryObtain(5, Mutex::ReportDeadlock));
  auto waiters = startSleepers(2, [&](int seq) {
    seq ? m.obtainSeq() : m.obtain();
    EXPECT_EQ(m.lockedbyThread(), seq ? 0 : Mutex::currentThreadId());
    m.release();
  });
  m.release();
  waiters.clear();
  EXPECT_EQ(std::tuple(reports.count(), Platform::statCount(5), Platform::statCount(8)),
            std::tuple(size_t{0}, obtains + 2, tries + 1));
}

TEST(MutexSimplex, GlobalMutexComesFromTheAccountedAllocationAndSetNameReplacesItsName) {
  HeapCheck heap;
  MutexSimplex* m = new GlobalMutex(L"a rather long first name of the mutex", 237);
  EXPECT_EQ(heap.held(), static_cast<long long>(sizeof(GlobalMutex) + 8));
  m->setName(L"short");
  EXPECT_EQ(std::wstring(m->name()), L"short");
  delete static_cast<Mutex*>(m);
}

// Logs every call; its obtain lets the clock move so that a lock's timer sees time pass.
struct RecordingMutex : Mutex {
  RecordingMutex(Log& log, std::string name) : log(log), name(std::move(name)) {}
  void obtain() override {
    log.push_back("obtain " + name);
    auto const start = Clock::now();
    while (Clock::now() == start) {
    }
  }
  void release() override { log.push_back("release " + name); }
  bool tryObtain(unsigned timeout, DeadlockStrategy strategy) override {
    log.push_back("try " + name + " " + std::to_string(timeout) + " " + std::to_string(strategy));
    return tryResult;
  }
  unsigned state() const override { return 0; }
  int lockedbyThread() const override { return owner; }

  Log& log;
  std::string name;
  bool tryResult = true;
  int owner = 0;
};

TEST(MutexLock, ReleasesOnlyWhatItHolds) {
  Log log;
  RecordingMutex m(log, "m");
  {
    Mutex::Lock idle(m, false), held(m, true), tried(m, false), failed(m, false);
    EXPECT_TRUE(tried.tryLock(0, Mutex::ReportDeadlock));
    m.tryResult = false;
    EXPECT_FALSE(failed.tryLock(25, Mutex::FailQuietly));
    held.unlock();
    EXPECT_EQ(
        (std::vector<bool>{idle.isLocked(), held.isLocked(), tried.isLocked(), failed.isLocked()}),
        (std::vector<bool>{false, false, true, false}));
    held.lock();
  }
  EXPECT_EQ(log, (Log{"obtain m", "try m 0 0", "try m 25 2", "release m", "obtain m", "release m",
                      "release m"}));
}

// A failed try holds nothing; a tolerant one on a mutex the thread holds succeeds holding nothing.
TEST(ShiftLock, GivesUpTheOldMutexBeforeAskingForTheNextAndTimesTheObtains) {
  Log log;
  RecordingMutex a(log, "a"), b(log, "b");
  {
    Mutex::ShiftLock lock;
    EXPECT_EQ(std::pair(lock.isLocked(), lock.blocked()), std::pair(false, 0ull));
    lock.lock(a);
    lock.lock(b);
    EXPECT_GT(lock.blocked(), 0u);
    EXPECT_EQ(lock.blocked(), 0u);  // reading resets
    EXPECT_TRUE(lock.tryLock(a, 5, Mutex::WaitAnyway));
    lock.unlock();
    lock.unlock();  // holding nothing, it releases nothing
    lock.lock(b);
    Mutex::ShiftLock copy;  // shares the held mutex, then forgets it by taking an empty one
    copy = lock;
    EXPECT_TRUE(copy.isLocked());
    copy = Mutex::ShiftLock();
    a.tryResult = false;
    std::vector<bool> got;
    for (int owner : {Mutex::currentThreadId() + 1, Mutex::currentThreadId()}) {
      a.owner = owner;
      for (int strategy : {2, 1, 0, 9})  // FailQuietly, WaitAnyway, ReportDeadlock, unknown
        got.push_back(lock.tryLock(a, 10, static_cast<Mutex::DeadlockStrategy>(strategy)));
    }
    EXPECT_EQ(got, (std::vector<bool>{false, false, false, false, true, true, false, false}));
    lock.lock(b);  // released when the lock ends; had a try kept a, lock would release it first
  }
  EXPECT_EQ(log,
            (Log{"obtain a", "release a", "obtain b", "release b", "try a 5 1", "release a",
                 "obtain b", "release b", "try a 10 2", "try a 10 1", "try a 10 0", "try a 10 9",
                 "try a 10 2", "try a 10 1", "try a 10 0", "try a 10 9", "obtain b", "release b"}));
}

// No unit is free: the only one is taken, none were made, or the semaphore is the default.
TEST(Semaphore, WaitSleepsWhileNoUnitIsFreeAndEachRaiseWakesOne) {
  Semaphore one(true, 1), closed(false, 3), none;
  one.wait();
  for (Semaphore* s : {&one, &closed, &none}) {
    auto waiters = startSleepers(2, [s](int) { s->wait(); });
    s->raise();
    s->raise();
  }
}

TEST(EventSem, PostWakesEveryWaiterAndStaysPostedUntilReset) {
  EventSem event;
  EXPECT_FALSE(event.posted() || event.wait(10));
  auto waiters = startSleepers(3, [&](int i) {
    if (i == 0)
      event.wait();
    else
      EXPECT_TRUE(event.wait(20000));  // a waiter the post missed gives up
  });
  event.post();
  waiters.clear();
  EXPECT_TRUE(event.posted() && event.wait(0));
  event.reset();
  auto const start = Clock::now();
  EXPECT_FALSE(event.wait(20));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
