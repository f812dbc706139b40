// Accounted allocation, default log and report writers, statistics, thread ids, failure checks.
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

// One escaped line per entry and report, written at once: lines of concurrent threads never mix.
TEST(DefaultWriters, EveryEntryAndReportIsOneWholeEscapedLine) {
  TempDir dir;
  Platform::setLogDirectory(dir.path());
  doWriteLog("fio", "fioErrorLog", 153, LogTypeError, L"TEST.LOG", L"abc", nullptr, 0);
  doWriteLog("\xC4\x80.cc", "fioWarningLog", 158, LogTypeWarning, L"TEST.LOG", L"x\r\ny\x01", L"\n",
             7);
  SysFailure::trapret2(true, L"a.cc", L"A::f", 1, L"e\n", 5, L"t\n2026-01-01 00:00:00\x7F\x85\xA0",
                       L"");
  SysFailure::assure0(false, nullptr, nullptr, 2, false);
  SysFailure::panic2(false, L"c.cc", L"h", 3, L"n", -3);
  SysFailure::panic1(true, L"d.cc", L"i", 4, 9LL);
  SysFailure::panic1Ec(false, L"e.cc", L"j", 5, nullptr, 112);
  std::vector<std::jthread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      std::wstring const text(200, static_cast<wchar_t>(L'a' + t));
      for (int i = 0; i < 50; ++i)
        doWriteLog("fio", "fioErrorLog", 153, LogTypeError, L"MIX.LOG", text.c_str(), nullptr, 0);
    });
  threads.clear();
  Platform::setLogDirectory({});
  EXPECT_EQ(linesOf(dir.file("TEST.LOG")),
            (Lines{"1 fioErrorLog fio:153 abc",
                   "2 fioWarningLog \xC4\x80.cc:158 x\\r\\ny\\x01 \\n code=7"}));
  EXPECT_EQ(
      linesOf(dir.file("ERROR.LOG")),
      (Lines{"TrapretMe [1] a.cc:1 A::f expr=\"e\\n\" text1=\"t\\n2026-01-01 00:00:00\\x7F\\x85"
             "\xC2\xA0\" text2=\"\" code=5",
             "PanicMe [0] :2 ", "panic2 [0] c.cc:3 h text1=\"n\" value=-3",
             "panic1 [1] d.cc:4 i value=9", "panic1Ec [0] e.cc:5 j code=112"}));
  Lines const lines = linesOf(dir.file("MIX.LOG"));
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

using F = SysFailure;
constexpr wchar_t kF[] = L"f", kG[] = L"g";

// Each check, called due (true) or not, and its report after "op flag f:line g" (the line is the
// entry's index, the flag its parity); the last four ignore their argument.
std::vector<std::pair<void (*)(bool), wchar_t const*>> const kChecks{
    {[](bool f) { F::assure2(false, kF, kG, 0, !f, nullptr, nullptr); }, L"- - - 0 0"},
    {[](bool f) { F::assure0(true, kF, kG, 1, !f); }, L"- - - 0 0"},
    {[](bool f) { F::assure1(false, kF, kG, 2, !f, -1LL); }, L"- 18446744073709551615 - 0 0"},
    {[](bool f) { F::assure1(true, kF, kG, 3, !f, L"a"); }, L"- a - 0 0"},
    {[](bool f) { F::assure2(false, kF, kG, 4, !f, 5LL, -6LL); }, L"- 5 -6 0 0"},
    {[](bool f) { F::assure2(true, kF, kG, 5, !f, -9LL, L"r"); }, L"- -9 r 0 0"},
    {[](bool f) { F::assure2(false, kF, kG, 6, !f, L"l", 0LL); }, L"- l 0 0 0"},
    {[](bool f) { F::assure2(true, kF, kG, 7, !f, L"a", L"b"); }, L"- a b 0 0"},
    {[](bool f) { F::avoid0(false, kF, kG, 8, f); }, L"- - - 0 0"},
    {[](bool f) { F::avoid1(true, kF, kG, 9, f, -1LL); }, L"- -1 - 0 0"},
    {[](bool f) { F::avoid1(false, kF, kG, 10, f, L"a"); }, L"- a - 0 0"},
    {[](bool f) { F::avoid2(true, kF, kG, 11, f, 1LL, -2LL); }, L"- 1 -2 0 0"},
    {[](bool f) { F::avoid2(false, kF, kG, 12, f, -1LL, L"b"); }, L"- -1 b 0 0"},
    {[](bool f) { F::avoid2(true, kF, kG, 13, f, L"a", 0LL); }, L"- a 0 0 0"},
    {[](bool f) { F::avoid2(false, kF, kG, 14, f, L"a", L"b"); }, L"- a b 0 0"},
    {[](bool f) { F::trapret0(true, kF, kG, 15, L"e", f * 5); }, L"e - - 5 0"},
    {[](bool f) { F::trapret1(false, kF, kG, 16, L"x", f * 0x20002720u, -42LL); },
     L"x -42 - 536880928 0"},
    {[](bool f) { F::trapret1(true, kF, kG, 17, L"x", f, L"a"); }, L"x a - 1 0"},
    {[](bool f) { F::trapret2(false, kF, kG, 18, L"x", f * 2, 3LL, -4LL); }, L"x 3 -4 2 0"},
    {[](bool f) { F::trapret2(true, kF, kG, 19, L"x", f * 3, 0LL, L"b"); }, L"x 0 b 3 0"},
    {[](bool f) { F::trapret2(false, kF, kG, 20, L"x", f * 4, L"a", -7LL); }, L"x a -7 4 0"},
    {[](bool f) { F::trapret2(true, kF, kG, 21, L"e", f * 5, L"a", L"b"); }, L"e a b 5 0"},
    {[](bool f) { F::trapec0(false, kF, kG, 22, f * 33); }, L"- - - 33 0"},
    {[](bool f) { F::trapec1(true, kF, kG, 23, f * 2, -8LL); }, L"- -8 - 2 0"},
    {[](bool f) { F::trapec1(false, kF, kG, 24, f * 2, L"n"); }, L"- n - 2 0"},
    {[](bool f) { F::trapec2(true, kF, kG, 25, f * 9, 3LL, -4LL); }, L"- 3 -4 9 0"},
    {[](bool f) { F::trapec2(false, kF, kG, 26, f * 9, -1LL, L"b"); }, L"- -1 b 9 0"},
    {[](bool f) { F::trapec2(true, kF, kG, 27, f * 9, L"a", 0LL); }, L"- a 0 9 0"},
    {[](bool f) { F::trapec2(false, kF, kG, 28, f * 9, L"a", L"b"); }, L"- a b 9 0"},
    {[](bool) { F::panic1(true, kF, kG, 29, L"text"); }, L"- text - 0 0"},
    {[](bool) { F::panic1(false, kF, kG, 30, -5LL); }, L"- - - 0 -5"},
    {[](bool) { F::panic1Ec(true, kF, kG, 31, L"file", 112); }, L"- file - 112 0"},
    {[](bool) { F::panic2(false, kF, kG, 32, L"count", 9LL); }, L"- count - 0 9"},
};

TEST(FailureChecks, PassingChecksAreSilentAndDueReportsCarryEveryField) {
  HeapCheck heap;
  ReportCapture capture;
  for (size_t i = 0; i + 4 < kChecks.size(); ++i)
    kChecks[i].first(false);
  EXPECT_EQ(capture.count(), 0u);
  wchar_t const* const kOps[] = {L"Panic1Text", L"Panic1Value", L"Panic1Ec", L"Panic2"};
  for (size_t i = 0; i < kChecks.size(); ++i) {
    capture.clear();
    kChecks[i].first(true);
    std::wstring const op = i < 15 ? L"PanicMe" : i < 29 ? L"TrapretMe" : kOps[i - 29];
    EXPECT_EQ(capture.lines(),
              std::vector<std::wstring>{op + L" " + std::to_wstring(i % 2) + L" f:" +
                                        std::to_wstring(i) + L" g " + kChecks[i].second});
  }
}

}  // namespace
