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

// The default constructor checks recursion, has no name and counts under statistic 6. With the
// check off, obtaining again waits silently, but the holder's timed try is still reported.
TEST(MutexLazy, RecursionCheckIsOnByDefaultAndTheHolderTryIsReportedEitherWay) {
  MutexLazy checked;
  MutexLazy unchecked(false, L"unchecked", 230);
  struct Case {
    MutexLazy& m;
    Stat::Id stat;
    wchar_t const* name;
    std::vector<unsigned> lines;
  };
  for (auto const& c :
       {Case{checked, 6, L"", {93, 62}}, Case{unchecked, 230, L"unchecked", {93}}}) {
    ReportCapture reports;
    unsigned long long const before = Platform::statCount(c.stat);
    std::atomic<int> id{0};
    std::atomic<bool> second{false};
    std::thread thread([&] {
      c.m.obtain();
      id.store(Mutex::currentThreadId());
      EXPECT_FALSE(c.m.tryObtain(5, Mutex::ReportDeadlock));
      c.m.obtain();
      second.store(true);
      c.m.release();
    });
    ASSERT_TRUE(waitUntil([&] { return reports.count() == c.lines.size() && c.m.state() == 2; }));
    EXPECT_FALSE(second.load());
    c.m.release();
    thread.join();
    EXPECT_TRUE(second.load());
    auto const got = reports.reports();
    ASSERT_EQ(got.size(), c.lines.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].line, c.lines[i]);
      EXPECT_EQ(got[i].text1, std::wstring(c.name));
    }
    EXPECT_EQ(got[0].function, L"MutexLazy::tryObtain");
    EXPECT_EQ(got[0].value, id.load());
    EXPECT_EQ(Platform::statCount(c.stat), before + 1);
  }
}

// A heap mutex comes from the accounted allocation. Never contended, it holds no wait object;
// eight threads waiting for the first time together leave exactly one, kept until the
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
    for (int i = 0; i < 8; ++i) {
      threads.emplace_back([&] {
        m->obtain();
        m->release();
      });
    }
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

}  // namespace
