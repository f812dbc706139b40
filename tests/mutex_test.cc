// The contract both mutex classes share: exclusion, waking, timeouts, self tests and their
// reports, statistics, and which paths stay out of the kernel. One typed suite runs over both.
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

using kestle_test::ReportCapture;
using kestle_test::waitUntil;
using Clock = std::chrono::steady_clock;

struct LazyKind {
  static std::unique_ptr<Mutex> make(wchar_t const* name, Stat::Id id) {
    return std::make_unique<MutexLazy>(true, name, id);
  }
  static constexpr wchar_t const *kFile = L"mutexlazy", *kObtain = L"MutexLazy::obtain",
                                 *kTry = L"MutexLazy::tryObtain";
  static constexpr unsigned kObtainLine = 62, kTryLine = 93;
};

struct SimplexKind {
  static std::unique_ptr<Mutex> make(wchar_t const* name, Stat::Id id) {
    return std::make_unique<MutexSimplex>(name, id);
  }
  static constexpr wchar_t const *kFile = L"mutex", *kObtain = L"MutexSimplex::obtain",
                                 *kTry = L"MutexSimplex::tryObtain";
  static constexpr unsigned kObtainLine = 263, kTryLine = 297;
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
        ++counter;
        m->release();
      }
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(counter, long{kThreads} * kRounds);
  EXPECT_EQ(m->state(), 0u);
}

// Threads sleep in obtain and in a timed try while the holder and another thread keep failing
// zero-timeout tries. Those tries must not wipe out the "waiters" mark, or the release would wake
// nobody and every waiter would sleep out its whole time bound.
TYPED_TEST(MutexContract, FailedZeroTimeoutTriesDoNotStrandSleepingWaiters) {
  auto m = TypeParam::make(L"mark", freshStat());
  constexpr int kWaiters = 3;
  m->obtain();
  unsigned long long const calls = kestle_detail::futexCalls();
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&, i] {
      if (i == 0) {  // a timed try gets the mutex when it is released in time
        EXPECT_TRUE(m->tryObtain(20000, Mutex::ReportDeadlock));
        EXPECT_EQ(m->lockedbyThread(), Mutex::currentThreadId());
      } else {
        m->obtain();
      }
      m->release();
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
  EXPECT_LT(elapsed, std::chrono::milliseconds(500));
}

// What one thread sees: ownership, the name, tries without a timeout that stay quiet and out of
// the kernel, and the holder's timed tries under each strategy.
TYPED_TEST(MutexContract, OwnershipTriesAndTheHolderSelfTest) {
  Stat::Id const stat = freshStat();
  auto m = TypeParam::make(L"self", stat);
  EXPECT_EQ(std::wstring(TypeParam::make(L"0123456789abcdefghijklmnopqrstuvwxyzABCD", 0)->name()),
            L"0123456789abcdefghijklmnopqrst");
  EXPECT_EQ(std::wstring(TypeParam::make(nullptr, 0)->name()), L"");
  ReportCapture reports;
  unsigned long long const calls = kestle_detail::futexCalls();
  int const self = Mutex::currentThreadId();
  EXPECT_NE(self, 0);
  EXPECT_EQ(m->lockedbyThread(), 0);
  for (int i = 0; i < 1000; ++i) {
    m->obtain();
    EXPECT_EQ(m->state(), 1u);
    EXPECT_EQ(m->lockedbyThread(), self);
    m->release();
    EXPECT_EQ(m->state(), 0u);
    EXPECT_EQ(m->lockedbyThread(), 0);
  }
  for (unsigned timeout : {0u, 100u}) {
    EXPECT_TRUE(m->tryObtain(timeout, Mutex::ReportDeadlock));
    EXPECT_EQ(m->lockedbyThread(), self);
    m->release();
  }

  m->obtain();
  // Zero timeout: by the holder itself, with every strategy, and by another thread.
  for (auto strategy : {Mutex::ReportDeadlock, Mutex::WaitAnyway, Mutex::FailQuietly})
    EXPECT_FALSE(m->tryObtain(0, strategy));
  bool other = true;
  std::thread([&] { other = m->tryObtain(0, Mutex::ReportDeadlock); }).join();
  EXPECT_FALSE(other);
  EXPECT_EQ(m->state(), 1u);
  EXPECT_EQ(kestle_detail::futexCalls(), calls);
  EXPECT_EQ(reports.count(), 0u);

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
  reports.clear();
  EXPECT_FALSE(m->tryObtain(10, Mutex::FailQuietly));
  // Neither the reports nor the quiet refusal waited or opened a statistics scope.
  EXPECT_EQ(Platform::statCount(stat), 0u);
  EXPECT_EQ(m->lockedbyThread(), self);
  EXPECT_EQ(m->state(), 1u);
  auto const start = Clock::now();
  EXPECT_FALSE(m->tryObtain(30, Mutex::WaitAnyway));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_EQ(Platform::statCount(stat), 1u);
  EXPECT_EQ(m->lockedbyThread(), self);
  m->release();
  EXPECT_EQ(m->state(), 0u);
}

// A holder that obtains again is reported, and then waits like any other thread: it never
// becomes a second owner, and it goes on once the mutex is released. Waits count under the
// mutex's statistic.
TYPED_TEST(MutexContract, HolderObtainingAgainIsReportedAndWaitsForTheRelease) {
  Stat::Id const stat = freshStat();
  auto m = TypeParam::make(L"again", stat);
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
  // Meanwhile a timed try gives up after its timeout and leaves the mark up, so the release
  // below still wakes the sleeper.
  auto const start = Clock::now();
  EXPECT_FALSE(m->tryObtain(60, Mutex::ReportDeadlock));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_EQ(m->state(), 2u);
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
  EXPECT_EQ(Platform::statCount(stat), 2u);
  EXPECT_GT(Platform::statTicks(stat), 0u);
}

}  // namespace
