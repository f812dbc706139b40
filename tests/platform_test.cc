// The foundation's platform services: accounted allocation, log writer, statistics, sleep and
// tone hooks.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "platform/log.h"
#include "support/guards.h"

namespace {

TEST(AccountedAllocation, CountsSizePlusHeaderAndReturnsToStart) {
  long long start = Heapwick::bytesHeld();
  void* a = kestle::allocate(100);
  EXPECT_EQ(Heapwick::bytesHeld() - start, 108);
  void* b = kestle::allocate(0);
  EXPECT_EQ(Heapwick::bytesHeld() - start, 116);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 8, 0u);
  kestle::release(a);
  EXPECT_EQ(Heapwick::bytesHeld() - start, 8);
  kestle::release(b);
  kestle::release(nullptr);  // releasing null does nothing
  EXPECT_EQ(Heapwick::bytesHeld(), start);
}

TEST(AccountedAllocation, FailedAllocationThrowsAndUndoesItsCount) {
  long long start = Heapwick::bytesHeld();
  EXPECT_THROW(kestle::allocate(static_cast<std::size_t>(-1)), std::bad_alloc);
  EXPECT_THROW(kestle::allocate(std::size_t{1} << 62), std::bad_alloc);
  EXPECT_EQ(Heapwick::bytesHeld(), start);
}

TEST(AccountedAllocation, MakeReleasesTheBlockWhenTheConstructorThrows) {
  struct Throws {
    Throws() { throw 7; }
  };
  long long start = Heapwick::bytesHeld();
  EXPECT_THROW(kestle::make<Throws>(), int);
  EXPECT_EQ(Heapwick::bytesHeld(), start);
}

TEST(AccountedAllocation, CountsStayExactAcrossThreads) {
  long long start = Heapwick::bytesHeld();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i)
        kestle::release(kestle::allocate(static_cast<size_t>(i)));
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(Heapwick::bytesHeld(), start);
}

TEST(LogWriter, HandlerSeesEveryField) {
  kestle_test::LogCapture log;
  doWriteLog("fio", "fioWarningLog", 158, LogTypeWarning, L"ERROR.LOG", L"text", nullptr, 0);
  doWriteLog("fio", "fioErrorLog", 153, LogTypeError, L"ERROR.LOG", L"a", L"b", 5);
  auto e = log.entries();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].sourceFile, "fio");
  EXPECT_EQ(e[0].category, "fioWarningLog");
  EXPECT_EQ(e[0].line, 158u);
  EXPECT_EQ(e[0].type, 2);
  EXPECT_EQ(e[0].logFile, L"ERROR.LOG");
  EXPECT_EQ(e[0].text, L"text");
  EXPECT_FALSE(e[0].text2.has_value());
  EXPECT_EQ(*e[1].text2, L"b");
  EXPECT_EQ(e[1].code, 5u);
}

TEST(LogWriter, DefaultAppendsWholeLinesFromConcurrentThreads) {
  kestle_test::TempDir dir;
  Platform::setLogDirectory(dir.path());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      std::wstring text(200, static_cast<wchar_t>(L'a' + t));
      for (int i = 0; i < 50; ++i) {
        doWriteLog("fio", "fioErrorLog", 153, LogTypeError, L"TEST.LOG", text.c_str(), nullptr, 0);
      }
    });
  }
  for (auto& t : threads)
    t.join();
  Platform::setLogDirectory({});
  std::ifstream in(dir.file("TEST.LOG"));
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) {
    ++lines;
    // Each line carries one thread's run of 200 equal letters, unbroken.
    auto pos = line.find_last_of(' ');
    ASSERT_NE(pos, std::string::npos);
    std::string run = line.substr(pos + 1);
    ASSERT_EQ(run.size(), 200u) << line;
    EXPECT_EQ(run.find_first_not_of(run[0]), std::string::npos) << line;
  }
  EXPECT_EQ(lines, 200);
}

TEST(PlatformHooks, SleepAndToneAreRecordedAndRestored) {
  {
    kestle_test::SleepRecorder sleeps;
    kestle_test::ToneRecorder tones;
    SleepMs(70);
    SleepMs(500000);  // recorded, not slept
    Celesta::tone(200, 1000);
    EXPECT_EQ(sleeps.sleeps(), (std::vector<unsigned>{70, 500000}));
    ASSERT_EQ(tones.tones().size(), 1u);
    EXPECT_EQ(tones.tones()[0], std::make_pair(200u, 1000u));
  }
  SleepMs(0);  // the real sleep is back and returns
  Celesta::tone(1, 1);
}

TEST(PlatformStatistics, CallScopesAndCountsAddUp) {
  Stat::Id const id = 200;
  auto count = Platform::statCount(id);
  Stat::incCount(id, 3);
  { Stat::Call scope(id, 0); }
  EXPECT_EQ(Platform::statCount(id), count + 4);
  Stat::incCount(100000, 1);  // an id outside the table is ignored
  EXPECT_EQ(Platform::statCount(100000), 0u);
}

TEST(PlatformThreads, IdsAreNonZeroAndDistinct) {
  int mine = Thread::currentThreadId();
  EXPECT_NE(mine, 0);
  EXPECT_EQ(mine, Thread::currentThreadId());
  int other = 0;
  std::thread([&] { other = Thread::currentThreadId(); }).join();
  EXPECT_NE(other, 0);
  EXPECT_NE(other, mine);
}

}  // namespace
