#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "platform/log.h"
#include "support/guards.h"

namespace {
using namespace kestle_test;
using Lines = std::vector<std::string>;

Lines linesOf(std::filesystem::path const& file) {
  std::ifstream in(file);
  Lines lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line.substr(20));
  return lines;
}

TEST(AccountedAllocation, CountsEveryBlockWithItsHeaderAndUndoesFailures) {
  HeapCheck heap;
  void* a = kestle::allocate(100);
  void* b = kestle::allocate(0);
  EXPECT_EQ(heap.held(), 116);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 8, 0u);
  kestle::release(a);
  kestle::release(b);
  kestle::release(nullptr);
  EXPECT_THROW(kestle::allocate(static_cast<std::size_t>(-1)), std::bad_alloc);
  EXPECT_THROW(kestle::allocate(std::size_t{1} << 62), std::bad_alloc);
  struct Throws {
    Throws() { throw 7; }
  };
  EXPECT_THROW(kestle::make<Throws>(), int);
}

TEST(DefaultWriters, EveryEntryAndReportIsOneEscapedLine) {
  TempDir dir;
  Platform::setLogDirectory(dir.path());
  for (int i = 0; i < 3; ++i)
    doWriteLog("fio", "fioErrorLog", 153, LogTypeError, L"TEST.LOG", L"abc", nullptr, 0);
  doWriteLog("\xC4\x80.cc", "fioWarningLog", 158, LogTypeWarning, L"TEST.LOG", L"x\r\ny\x01", L"\n",
             7);
  SysFailure::trapret2(true, L"a.cc", L"A::f", 1, L"e\n", 5, L"t\n2026-01-01 00:00:00\x7F\x85\xA0",
                       L"");
  SysFailure::assure0(false, L"b.cc", L"g", 2, false);
  SysFailure::panic2(false, L"c.cc", L"h", 3, L"n", -3);
  SysFailure::panic1(true, L"d.cc", L"i", 4, 9LL);
  SysFailure::panic1Ec(false, L"e.cc", L"j", 5, nullptr, 112);
  Platform::setLogDirectory({});
  EXPECT_EQ(
      linesOf(dir.file("TEST.LOG")),
      (Lines{"1 fioErrorLog fio:153 abc", "1 fioErrorLog fio:153 abc", "1 fioErrorLog fio:153 abc",
             "2 fioWarningLog \xC4\x80.cc:158 x\\r\\ny\\x01 \\n code=7"}));
  EXPECT_EQ(
      linesOf(dir.file("ERROR.LOG")),
      (Lines{"TrapretMe [1] a.cc:1 A::f expr=\"e\\n\" text1=\"t\\n2026-01-01 00:00:00\\x7F\\x85"
             "\xC2\xA0\" text2=\"\" code=5",
             "PanicMe [0] b.cc:2 g", "panic2 [0] c.cc:3 h text1=\"n\" value=-3",
             "panic1 [1] d.cc:4 i value=9", "panic1Ec [0] e.cc:5 j code=112"}));
}

// One write per line: lines of concurrent threads never mix.
TEST(DefaultWriters, LinesOfConcurrentThreadsStayWhole) {
  TempDir dir;
  Platform::setLogDirectory(dir.path());
  std::vector<std::jthread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      std::wstring const text(200, static_cast<wchar_t>(L'a' + t));
      for (int i = 0; i < 50; ++i)
        doWriteLog("fio", "fioErrorLog", 153, LogTypeError, L"TEST.LOG", text.c_str(), nullptr, 0);
    });
  threads.clear();
  Platform::setLogDirectory({});
  Lines const lines = linesOf(dir.file("TEST.LOG"));
  ASSERT_EQ(lines.size(), 200u);
  for (std::string const& line : lines) {
    std::string const run = line.substr(line.find_last_of(' ') + 1);
    EXPECT_EQ(run, std::string(200, run[0])) << line;
  }
}

TEST(PlatformStatistics, CallScopesAndCountsAddUp) {
  Stat::Id const id = 200;
  auto const count = Platform::statCount(id);
  Stat::incCount(id, 3);
  { Stat::Call scope(id, 0); }
  EXPECT_EQ(Platform::statCount(id), count + 4);
  Stat::incCount(100000, 1);  // an id outside the table is ignored
  EXPECT_EQ(Platform::statCount(100000), 0u);
}

// fork() copies the forking thread's cached id into the child, whose only thread has another.
TEST(ThreadIds, AForkedChildHasItsOwn) {
  ASSERT_NE(Thread::currentThreadId(), 0);  // cached before the fork
  pid_t const child = ::fork();
  if (child == 0)
    ::_exit(Thread::currentThreadId() == ::getpid() ? 0 : 1);
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
