// MutexLazy and MutexSimplex: the contract they share (exclusion, waking, timeouts, self tests
// and their reports, statistics) as one typed suite, then what each class does alone, and the
// thread ids a forked child records.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "kestle/kestle.h"
#include "platform/mutex_wait.h"
#include "support/guards.h"
#include "support/wait_until.h"

namespace {

using kestle_test::asleepInFutex;
using kestle_test::HeapCheck;
using kestle_test::ReportCapture;
using kestle_test::waitUntil;
using Clock = std::chrono::steady_clock;
using Op = Platform::Report::Op;

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

// The fields of a report that callers read, as one value to compare.
using Fields =
    std::tuple<Op, bool, std::wstring, std::wstring, unsigned, std::optional<std::wstring>>;
Fields fields(Platform::Report const& r) {
  return {r.op, r.flag, r.file, r.function, r.line, r.text1};
}

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
  constexpr int kThreads = 4, kRounds = 20000;
  long counter = 0;  // plain on purpose: only the mutex keeps the increments apart
  std::vector<std::thread> threads;
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
  std::atomic<int> ids[kWaiters] = {};
  m->obtain();
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&, i] {
      ids[i].store(Mutex::currentThreadId());
      if (i == 0) {  // a timed try gets the mutex when it is released in time
        EXPECT_TRUE(m->tryObtain(20000, Mutex::ReportDeadlock));
        EXPECT_EQ(m->lockedbyThread(), Mutex::currentThreadId());
      } else {
        m->obtain();
      }
      m->release();
    });
  }
  ASSERT_TRUE(waitUntil([&] { return kestle_test::allAsleepInFutex(ids) && m->state() == 2; }));
  std::atomic<bool> stop{false};
  std::thread hammer([&] {
    while (!stop.load())
      if (m->tryObtain(0, Mutex::ReportDeadlock))
        m->release();
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

// What one thread sees: ownership, the name, quiet tries without a timeout, and the holder's
// timed tries under each strategy.
TYPED_TEST(MutexContract, OwnershipTriesAndTheHolderSelfTest) {
  Stat::Id const stat = freshStat();
  auto m = TypeParam::make(L"self", stat);
  EXPECT_EQ(std::wstring(TypeParam::make(L"0123456789abcdefghijklmnopqrstuvwxyzABCD", 0)->name()),
            L"0123456789abcdefghijklmnopqrst");
  EXPECT_EQ(std::wstring(TypeParam::make(nullptr, 0)->name()), L"");
  ReportCapture reports;
  int const self = Mutex::currentThreadId();
  EXPECT_NE(self, 0);
  for (unsigned timeout : {~0u, 0u, 100u}) {  // ~0u: obtain
    EXPECT_TRUE(timeout == ~0u ? (m->obtain(), true)
                               : m->tryObtain(timeout, Mutex::ReportDeadlock));
    EXPECT_EQ(m->state(), 1u);
    EXPECT_EQ(m->lockedbyThread(), self);
    m->release();
    EXPECT_EQ(m->state(), 0u);
    EXPECT_EQ(m->lockedbyThread(), 0);
  }
  m->obtain();
  // Zero timeout: by the holder itself, with every strategy, and by another thread. None of
  // them waits (a wait would raise the mark to 2) or reports.
  for (auto strategy : {Mutex::ReportDeadlock, Mutex::WaitAnyway, Mutex::FailQuietly})
    EXPECT_FALSE(m->tryObtain(0, strategy));
  bool other = true;
  std::thread([&] { other = m->tryObtain(0, Mutex::ReportDeadlock); }).join();
  EXPECT_FALSE(other);
  EXPECT_EQ(m->state(), 1u);
  EXPECT_EQ(reports.count(), 0u);

  EXPECT_FALSE(m->tryObtain(10, Mutex::ReportDeadlock));
  EXPECT_FALSE(m->tryObtain(10, static_cast<Mutex::DeadlockStrategy>(7)));  // unknown: report
  auto const got = reports.reports();
  ASSERT_EQ(got.size(), 2u);
  for (auto const& r : got) {
    EXPECT_EQ(fields(r), Fields(Op::Panic2, false, TypeParam::kFile, TypeParam::kTry,
                                TypeParam::kTryLine, L"self"));
    EXPECT_EQ(r.value, self);
  }
  reports.clear();
  EXPECT_FALSE(m->tryObtain(10, Mutex::FailQuietly));
  EXPECT_EQ(Platform::statCount(stat), 0u);  // neither the reports nor the refusal waited
  auto const start = Clock::now();
  EXPECT_FALSE(m->tryObtain(30, Mutex::WaitAnyway));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_EQ(Platform::statCount(stat), 1u);
  EXPECT_EQ(m->lockedbyThread(), self);
  m->release();
}

// A holder that obtains again is reported, and then waits like any other thread: it never
// becomes a second owner, and it goes on once the mutex is released. Waits count under the
// mutex's statistic, with the time they slept.
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
  ASSERT_TRUE(waitUntil([&] { return reports.count() == 1 && asleepInFutex(id.load()); }));
  // Meanwhile a timed try gives up after its timeout and leaves the mark up, so the release
  // below still wakes the sleeper.
  auto const start = Clock::now();
  EXPECT_FALSE(m->tryObtain(60, Mutex::ReportDeadlock));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_EQ(m->state(), 2u);
  EXPECT_FALSE(second.load());
  auto const r = reports.reports().front();
  EXPECT_EQ(fields(r), Fields(Op::PanicMe, false, TypeParam::kFile, TypeParam::kObtain,
                              TypeParam::kObtainLine, L"again"));
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

// The default MutexLazy checks recursion, has no name and counts under statistic 6. With the
// check off, obtaining again waits silently; the holder's timed try is reported either way.
TEST(MutexLazy, RecursionCheckIsOnByDefaultAndTheHolderTryIsReportedEitherWay) {
  MutexLazy checked, unchecked(false, L"unchecked", 230);
  for (MutexLazy* m : {&checked, &unchecked}) {
    bool const check = m == &checked;
    Stat::Id const stat = check ? 6 : 230;
    ReportCapture reports;
    unsigned long long const before = Platform::statCount(stat);
    std::thread thread([&] {
      m->obtain();
      EXPECT_FALSE(m->tryObtain(5, Mutex::ReportDeadlock));
      m->obtain();  // waits (the state goes to 2) until the main thread releases
      m->release();
    });
    ASSERT_TRUE(waitUntil([&] { return reports.count() == 1u + check && m->state() == 2; }));
    m->release();
    thread.join();
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
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&] { m->obtain(), m->release(); });
    ASSERT_TRUE(waitUntil([&] { return m->state() == 2; }));
    m->release();
    for (auto& t : threads)
      t.join();
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
  std::atomic<int> through{0}, ids[2] = {};
  std::vector<std::thread> waiters;
  for (bool seq : {false, true}) {
    waiters.emplace_back([&, seq] {
      ids[seq].store(Mutex::currentThreadId());
      seq ? m.obtainSeq() : m.obtain();
      EXPECT_EQ(m.lockedbyThread(), seq ? 0 : Mutex::currentThreadId());
      through.fetch_add(1);
      m.release();
    });
  }
  ASSERT_TRUE(waitUntil([&] { return kestle_test::allAsleepInFutex(ids); }));
  EXPECT_EQ(through.load(), 0);
  m.release();
  for (auto& w : waiters)
    w.join();
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

// fork() copies the forking thread's cached id into the child, whose only thread has another.
TEST(ThreadId, AForkedChildRecordsItsOwnIdAsOwner) {
  MutexLazy m(true, L"fork", 238);
  ASSERT_NE(Thread::currentThreadId(), 0);  // the parent's id is cached before the fork
  pid_t const child = ::fork();
  if (child == 0) {
    m.obtain();
    bool const own = Thread::currentThreadId() == ::getpid() && m.lockedbyThread() == ::getpid();
    ::_exit(own ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
