// The contract both mutex classes share: exclusion, waking, timeouts, self tests and their
// reports, statistics, and which paths stay out of the kernel. One typed suite runs over both.
#include <gtest/gtest.h>
#include <unistd.h>

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

using kestle_test::ReportCapture;
using kestle_test::waitUntil;
using Clock = std::chrono::steady_clock;

struct LazyKind {
  using Type = MutexLazy;
  static std::unique_ptr<Type> make(wchar_t const* name, Stat::Id id) {
    return std::make_unique<Type>(true, name, id);
  }
  static constexpr wchar_t const* kFile = L"mutexlazy";
  static constexpr wchar_t const* kObtain = L"MutexLazy::obtain";
  static constexpr unsigned kObtainLine = 62;
  static constexpr wchar_t const* kTry = L"MutexLazy::tryObtain";
  static constexpr unsigned kTryLine = 93;
};

struct SimplexKind {
  using Type = MutexSimplex;
  static std::unique_ptr<Type> make(wchar_t const* name, Stat::Id id) {
    return std::make_unique<Type>(name, id);
  }
  static constexpr wchar_t const* kFile = L"mutex";
  static constexpr wchar_t const* kObtain = L"MutexSimplex::obtain";
  static constexpr unsigned kObtainLine = 263;
  static constexpr wchar_t const* kTry = L"MutexSimplex::tryObtain";
  static constexpr unsigned kTryLine = 297;
};

// Each test uses its own statistic, so counts of earlier tests never mix in.
Stat::Id freshStat() {
  static Stat::Id next = 200;
  return next++;
}

template <class Kind>
class MutexContract : public ::testing::Test {};

using Kinds = ::testing::Types<LazyKind, SimplexKind>;
TYPED_TEST_SUITE(MutexContract, Kinds);

TYPED_TEST(MutexContract, OwnershipFollowsObtainTryAndRelease) {
  auto m = TypeParam::make(L"owner", freshStat());
  int const self = Mutex::currentThreadId();
  EXPECT_NE(self, 0);
  EXPECT_EQ(m->state(), 0u);
  EXPECT_EQ(m->lockedbyThread(), 0);

  m->obtain();
  EXPECT_EQ(m->state(), 1u);
  EXPECT_EQ(m->lockedbyThread(), self);
  m->release();
  EXPECT_EQ(m->state(), 0u);
  EXPECT_EQ(m->lockedbyThread(), 0);

  EXPECT_TRUE(m->tryObtain(0, Mutex::ReportDeadlock));
  EXPECT_EQ(m->lockedbyThread(), self);
  m->release();
  EXPECT_TRUE(m->tryObtain(100, Mutex::ReportDeadlock));
  EXPECT_EQ(m->lockedbyThread(), self);
  m->release();
}

TYPED_TEST(MutexContract, NameKeepsThirtyCharacters) {
  auto m = TypeParam::make(L"0123456789abcdefghijklmnopqrstuvwxyzABCD", freshStat());
  Mutex const& base = *m;
  EXPECT_EQ(std::wstring(base.name()), L"0123456789abcdefghijklmnopqrst");
  auto unnamed = TypeParam::make(nullptr, freshStat());
  EXPECT_EQ(std::wstring(unnamed->name()), L"");
}

TYPED_TEST(MutexContract, ThreadsCountingUnderTheMutexReachTheExactTotal) {
  auto m = TypeParam::make(L"count", freshStat());
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  long counter = 0;  // plain on purpose: only the mutex keeps the increments apart
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        if (t == 0 && i % 2 == 0) {
          // One thread also goes through the timed try, which has its own wait.
          while (!m->tryObtain(1000, Mutex::ReportDeadlock)) {
          }
        } else {
          m->obtain();
        }
        long const seen = counter;
        counter = seen + 1;
        m->release();
      }
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(counter, long{kThreads} * kRounds);
  EXPECT_EQ(m->state(), 0u);
}

// Threads sleep in obtain while the holder and another thread keep failing zero-timeout tries.
// Those tries must not wipe out the "waiters" mark, or the release would wake nobody and every
// waiter would sleep out its whole time bound.
TYPED_TEST(MutexContract, FailedZeroTimeoutTriesDoNotStrandSleepingWaiters) {
  ::alarm(20);  // a stranded build fails here rather than hanging the run
  auto m = TypeParam::make(L"mark", freshStat());
  constexpr int kWaiters = 3;
  m->obtain();
  unsigned long long const calls = kestle_detail::futexCalls();
  std::atomic<int> done{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      m->obtain();
      m->release();
      done.fetch_add(1);
    });
  }
  ASSERT_TRUE(waitUntil(
      [&] { return m->state() == 2 && kestle_detail::futexCalls() >= calls + kWaiters; }));
  for (int i = 0; i < 5; ++i)
    std::this_thread::yield();

  std::atomic<bool> stop{false};
  std::thread hammer([&] {
    while (!stop.load()) {
      if (m->tryObtain(0, Mutex::ReportDeadlock))
        m->release();
    }
  });
  for (int i = 0; i < 100; ++i)
    EXPECT_FALSE(m->tryObtain(0, Mutex::ReportDeadlock));
  EXPECT_EQ(m->state(), 2u);

  auto const start = Clock::now();
  m->release();
  for (auto& w : waiters)
    w.join();
  auto const elapsed = Clock::now() - start;
  stop.store(true);
  hammer.join();
  ::alarm(0);

  EXPECT_EQ(done.load(), kWaiters);
  EXPECT_LT(elapsed, std::chrono::milliseconds(500));
}

TYPED_TEST(MutexContract, TimedTryGivesUpAfterItsTimeoutWhileAnotherThreadHolds) {
  Stat::Id const stat = freshStat();
  auto m = TypeParam::make(L"timed", stat);
  std::atomic<bool> held{false}, finish{false};
  std::thread holder([&] {
    m->obtain();
    held.store(true);
    waitUntil([&] { return finish.load(); });
    m->release();
  });
  ASSERT_TRUE(waitUntil([&] { return held.load(); }));

  auto const start = Clock::now();
  EXPECT_FALSE(m->tryObtain(60, Mutex::ReportDeadlock));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
  // A try that gave up leaves the mark up, so the holder's release still wakes sleepers.
  EXPECT_EQ(m->state(), 2u);
  EXPECT_EQ(Platform::statCount(stat), 1u);

  finish.store(true);
  holder.join();
  EXPECT_EQ(m->state(), 0u);
}

TYPED_TEST(MutexContract, TimedTrySucceedsWhenTheHolderReleasesInTime) {
  auto m = TypeParam::make(L"timed", freshStat());
  m->obtain();
  std::atomic<bool> got{false};
  std::atomic<int> owner{0};
  std::thread trier([&] {
    bool const ok = m->tryObtain(20000, Mutex::ReportDeadlock);
    owner.store(m->lockedbyThread());
    if (ok) {
      got.store(true);
      m->release();
    }
  });
  ASSERT_TRUE(waitUntil([&] { return m->state() == 2; }));
  m->release();
  trier.join();
  EXPECT_TRUE(got.load());
  EXPECT_NE(owner.load(), 0);
  EXPECT_NE(owner.load(), Mutex::currentThreadId());
}

TYPED_TEST(MutexContract, HolderTryingWithATimeoutIsReportedAndRefused) {
  Stat::Id const stat = freshStat();
  auto m = TypeParam::make(L"self", stat);
  ReportCapture reports;
  m->obtain();
  int const self = Mutex::currentThreadId();

  EXPECT_FALSE(m->tryObtain(10, Mutex::ReportDeadlock));
  EXPECT_FALSE(m->tryObtain(10, static_cast<Mutex::DeadlockStrategy>(7)));  // unknown: report
  auto const got = reports.reports();
  ASSERT_EQ(got.size(), 2u);
  for (auto const& r : got) {
    EXPECT_EQ(r.op, Platform::Report::Op::Panic2);
    EXPECT_FALSE(r.flag);
    EXPECT_EQ(r.file, TypeParam::kFile);
    EXPECT_EQ(r.function, TypeParam::kTry);
    EXPECT_EQ(r.line, TypeParam::kTryLine);
    EXPECT_EQ(r.text1, std::wstring(L"self"));
    EXPECT_EQ(r.value, self);
  }
  // Neither report waited nor opened a statistics scope; the mutex is still ours, untouched.
  EXPECT_EQ(Platform::statCount(stat), 0u);
  EXPECT_EQ(m->lockedbyThread(), self);
  EXPECT_EQ(m->state(), 1u);

  reports.clear();
  EXPECT_FALSE(m->tryObtain(10, Mutex::FailQuietly));
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_EQ(Platform::statCount(stat), 0u);

  auto const start = Clock::now();
  EXPECT_FALSE(m->tryObtain(30, Mutex::WaitAnyway));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_EQ(Platform::statCount(stat), 1u);
  EXPECT_EQ(m->lockedbyThread(), self);

  m->release();
  EXPECT_EQ(m->state(), 0u);
}

TYPED_TEST(MutexContract, ZeroTimeoutOnAHeldMutexStaysQuietAndOutOfTheKernel) {
  Stat::Id const stat = freshStat();
  auto m = TypeParam::make(L"zero", stat);
  ReportCapture reports;
  unsigned long long const calls = kestle_detail::futexCalls();

  for (int i = 0; i < 1000; ++i) {
    m->obtain();
    m->release();
  }
  m->obtain();
  // By the holder itself, with every strategy, and by another thread.
  EXPECT_FALSE(m->tryObtain(0, Mutex::ReportDeadlock));
  EXPECT_FALSE(m->tryObtain(0, Mutex::WaitAnyway));
  EXPECT_FALSE(m->tryObtain(0, Mutex::FailQuietly));
  bool other = true;
  std::thread([&] { other = m->tryObtain(0, Mutex::ReportDeadlock); }).join();
  EXPECT_FALSE(other);
  EXPECT_EQ(m->state(), 1u);
  m->release();

  EXPECT_EQ(kestle_detail::futexCalls(), calls);
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_EQ(Platform::statCount(stat), 0u);
}

TYPED_TEST(MutexContract, ContendedObtainIsTimedUnderItsStatistic) {
  Stat::Id const stat = freshStat();
  auto m = TypeParam::make(L"stat", stat);
  m->obtain();
  std::thread waiter([&] {
    m->obtain();
    m->release();
  });
  ASSERT_TRUE(waitUntil([&] { return m->state() == 2; }));
  m->release();
  waiter.join();
  EXPECT_EQ(Platform::statCount(stat), 1u);
  EXPECT_GT(Platform::statTicks(stat), 0u);
}

// A holder that obtains again is reported, and then waits like any other thread: it never
// becomes a second owner, and it goes on once the mutex is released.
TYPED_TEST(MutexContract, HolderObtainingAgainIsReportedAndWaitsForTheRelease) {
  auto m = TypeParam::make(L"again", freshStat());
  ReportCapture reports;
  std::atomic<int> id{0};
  std::atomic<bool> second{false};
  std::thread thread([&] {
    m->obtain();
    id.store(Mutex::currentThreadId());
    m->obtain();
    second.store(true);
    EXPECT_EQ(m->lockedbyThread(), Mutex::currentThreadId());
    m->release();
  });
  ASSERT_TRUE(waitUntil([&] { return reports.count() == 1 && m->state() == 2; }));
  EXPECT_FALSE(second.load());

  auto const r = reports.reports().front();
  EXPECT_EQ(r.op, Platform::Report::Op::PanicMe);
  EXPECT_FALSE(r.flag);
  EXPECT_EQ(r.file, TypeParam::kFile);
  EXPECT_EQ(r.function, TypeParam::kObtain);
  EXPECT_EQ(r.line, TypeParam::kObtainLine);
  EXPECT_EQ(r.text1, std::wstring(L"again"));
  EXPECT_EQ(r.text2, std::to_wstring(id.load()));
  EXPECT_EQ(r.code, 0u);

  m->release();  // the first hold ends; the waiting second obtain now gets the mutex
  thread.join();
  EXPECT_TRUE(second.load());
  EXPECT_EQ(m->state(), 0u);
  EXPECT_EQ(reports.count(), 1u);
}

}  // namespace
