// The foundation's platform services: accounted allocation, reports and log lines, statistics,
// and the sleep, tone and clock hooks.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "platform/log.h"
#include "support/guards.h"

namespace {

std::vector<std::string> linesOf(std::filesystem::path const& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

TEST(AccountedAllocation, CountsEveryBlockWithItsHeaderAndUndoesFailures) {
  kestle_test::HeapCheck heap;
  void* a = kestle::allocate(100);
  void* b = kestle::allocate(0);
  EXPECT_EQ(heap.held(), 116);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 8, 0u);
  kestle::release(a);
  EXPECT_EQ(heap.held(), 8);
  kestle::release(b);
  kestle::release(nullptr);
  EXPECT_THROW(kestle::allocate(static_cast<std::size_t>(-1)), std::bad_alloc);
  EXPECT_THROW(kestle::allocate(std::size_t{1} << 62), std::bad_alloc);
  struct Throws {
    Throws() { throw 7; }
  };
  EXPECT_THROW(kestle::make<Throws>(), int);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i)
        kestle::release(kestle::allocate(static_cast<size_t>(i)));
    });
  }
  for (auto& t : threads)
    t.join();
}

TEST(LogWriter, HandlerGetsEveryField) {
  kestle_test::LogCapture log;
  doWriteLog("fio", "fioErrorLog", 153, LogTypeError, L"ERROR.LOG", L"a", L"b", 5);
  auto e = log.entries().at(0);
  EXPECT_TRUE(e.sourceFile == "fio" && e.category == "fioErrorLog" && e.line == 153 &&
              e.type == 1 && e.logFile == L"ERROR.LOG" && e.text == L"a" && e.text2 == L"b" &&
              e.code == 5);
}

// Each log entry and each report is one whole line, also from concurrent threads, and a text
// with a line break (a file name, say) cannot forge a line.
TEST(DefaultWriters, EveryEntryAndReportIsOneLine) {
  kestle_test::TempDir dir;
  Platform::setLogDirectory(dir.path());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      std::wstring text(200, static_cast<wchar_t>(L'a' + t));
      for (int i = 0; i < 50; ++i)
        doWriteLog("fio", "fioErrorLog", 153, LogTypeError, L"TEST.LOG", text.c_str(), nullptr, 0);
    });
  }
  for (auto& t : threads)
    t.join();
  doWriteLog("fio", "fioWarningLog", 158, LogTypeWarning, L"TEST.LOG", L"x\r\ny\x01", L"\n", 0);
  SysFailure::panic1(false, L"a.cc", L"f", 1, L"name\n2026-01-01 00:00:00 panic1\x7F\x85");
  Platform::setLogDirectory({});
  auto lines = linesOf(dir.file("TEST.LOG"));
  ASSERT_EQ(lines.size(), 201u);
  for (size_t i = 0; i < 200; ++i) {
    std::string run = lines[i].substr(lines[i].find_last_of(' ') + 1);
    EXPECT_EQ(run, std::string(200, run[0])) << lines[i];
  }
  EXPECT_NE(lines[200].find(" x\\r\\ny\\x01 \\n"), std::string::npos) << lines[200];
  auto reports = linesOf(dir.file("ERROR.LOG"));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("text1=\"name\\n2026-01-01 00:00:00 panic1\\x7F\\x85\""),
            std::string::npos)
      << reports[0];
}

TEST(PlatformHooks, SleepToneAndClockAreReplacedAndRestored) {
  unsigned long long const before = SystemTimer::counter();
  {
    kestle_test::SleepRecorder sleeps;
    kestle_test::ToneRecorder tones;
    kestle_test::ClockGuard clock([] { return 42ull; });
    SleepMs(500000);  // recorded, not slept
    Celesta::tone(200, 1000);
    EXPECT_EQ(sleeps.sleeps(), std::vector<unsigned>{500000});
    EXPECT_EQ(tones.tones(), (std::vector<std::pair<unsigned, unsigned>>{{200, 1000}}));
    EXPECT_EQ(SystemTimer::counter(), 42u);
  }
  EXPECT_GE(SystemTimer::counter(), before);
  SleepMs(0);  // the real sleep is back and returns
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
