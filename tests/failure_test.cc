#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
using F = SysFailure;
constexpr wchar_t kF[] = L"f", kG[] = L"g";

// Each check, called due (true) or not, and its report; the last kPanics ignore their argument.
std::vector<std::pair<void (*)(bool), wchar_t const*>> const kChecks{
    {[](bool f) { F::assure2(true, nullptr, nullptr, 0, !f, nullptr, nullptr); },
     L"PanicMe 1 :0  - - - 0 0"},
    {[](bool f) { F::assure0(false, kF, kG, 1, !f); }, L"PanicMe 0 f:1 g - - - 0 0"},
    {[](bool f) { F::assure1(true, kF, kG, 2, !f, -1LL); },
     L"PanicMe 1 f:2 g - 18446744073709551615 - 0 0"},
    {[](bool f) { F::assure1(false, kF, kG, 3, !f, L"a"); }, L"PanicMe 0 f:3 g - a - 0 0"},
    {[](bool f) { F::assure2(false, kF, kG, 4, !f, 5LL, -6LL); }, L"PanicMe 0 f:4 g - 5 -6 0 0"},
    {[](bool f) { F::assure2(true, kF, kG, 5, !f, -9LL, L"r"); }, L"PanicMe 1 f:5 g - -9 r 0 0"},
    {[](bool f) { F::assure2(false, kF, kG, 6, !f, L"l", 0LL); }, L"PanicMe 0 f:6 g - l 0 0 0"},
    {[](bool f) { F::assure2(true, kF, kG, 7, !f, L"a", L"b"); }, L"PanicMe 1 f:7 g - a b 0 0"},
    {[](bool f) { F::avoid0(true, kF, kG, 8, f); }, L"PanicMe 1 f:8 g - - - 0 0"},
    {[](bool f) { F::avoid1(false, kF, kG, 9, f, -1LL); }, L"PanicMe 0 f:9 g - -1 - 0 0"},
    {[](bool f) { F::avoid1(true, kF, kG, 10, f, L"a"); }, L"PanicMe 1 f:10 g - a - 0 0"},
    {[](bool f) { F::avoid2(false, kF, kG, 11, f, 1LL, -2LL); }, L"PanicMe 0 f:11 g - 1 -2 0 0"},
    {[](bool f) { F::avoid2(true, kF, kG, 12, f, -1LL, L"b"); }, L"PanicMe 1 f:12 g - -1 b 0 0"},
    {[](bool f) { F::avoid2(false, kF, kG, 13, f, L"a", 0LL); }, L"PanicMe 0 f:13 g - a 0 0 0"},
    {[](bool f) { F::avoid2(true, kF, kG, 14, f, L"a", L"b"); }, L"PanicMe 1 f:14 g - a b 0 0"},
    {[](bool f) { F::trapret0(true, kF, kG, 15, L"e", f * 5); }, L"TrapretMe 1 f:15 g e - - 5 0"},
    {[](bool f) { F::trapret1(false, kF, kG, 16, L"x", f * 0x20002720u, -42LL); },
     L"TrapretMe 0 f:16 g x -42 - 536880928 0"},
    {[](bool f) { F::trapret1(true, kF, kG, 17, L"x", f, L"a"); }, L"TrapretMe 1 f:17 g x a - 1 0"},
    {[](bool f) { F::trapret2(false, kF, kG, 18, L"x", f * 2, 3LL, -4LL); },
     L"TrapretMe 0 f:18 g x 3 -4 2 0"},
    {[](bool f) { F::trapret2(true, kF, kG, 19, L"x", f * 3, 0LL, L"b"); },
     L"TrapretMe 1 f:19 g x 0 b 3 0"},
    {[](bool f) { F::trapret2(false, kF, kG, 20, L"x", f * 4, L"a", -7LL); },
     L"TrapretMe 0 f:20 g x a -7 4 0"},
    {[](bool f) { F::trapret2(true, kF, kG, 21, L"e", f * 5, L"a", L"b"); },
     L"TrapretMe 1 f:21 g e a b 5 0"},
    {[](bool f) { F::trapec0(false, kF, kG, 22, f * 33); }, L"TrapretMe 0 f:22 g - - - 33 0"},
    {[](bool f) { F::trapec1(true, kF, kG, 23, f * 2, -8LL); }, L"TrapretMe 1 f:23 g - -8 - 2 0"},
    {[](bool f) { F::trapec1(false, kF, kG, 24, f * 2, L"n"); }, L"TrapretMe 0 f:24 g - n - 2 0"},
    {[](bool f) { F::trapec2(true, kF, kG, 25, f * 9, 3LL, -4LL); },
     L"TrapretMe 1 f:25 g - 3 -4 9 0"},
    {[](bool f) { F::trapec2(false, kF, kG, 26, f * 9, -1LL, L"b"); },
     L"TrapretMe 0 f:26 g - -1 b 9 0"},
    {[](bool f) { F::trapec2(true, kF, kG, 27, f * 9, L"a", 0LL); },
     L"TrapretMe 1 f:27 g - a 0 9 0"},
    {[](bool f) { F::trapec2(false, kF, kG, 28, f * 9, L"a", L"b"); },
     L"TrapretMe 0 f:28 g - a b 9 0"},
    {[](bool) { F::panic1(true, kF, kG, 29, L"text"); }, L"Panic1Text 1 f:29 g - text - 0 0"},
    {[](bool) { F::panic1(false, kF, kG, 30, -5LL); }, L"Panic1Value 0 f:30 g - - - 0 -5"},
    {[](bool) { F::panic1Ec(true, kF, kG, 31, L"file", 112); },
     L"Panic1Ec 1 f:31 g - file - 112 0"},
    {[](bool) { F::panic2(false, kF, kG, 32, L"count", 9LL); }, L"Panic2 0 f:32 g - count - 0 9"},
};
constexpr size_t kPanics = 4;

TEST(FailureChecks, PassingChecksAreSilentAndDueReportsCarryEveryField) {
  kestle_test::HeapCheck heap;
  kestle_test::ReportCapture capture;
  for (size_t i = 0; i + kPanics < kChecks.size(); ++i)
    kChecks[i].first(false);
  EXPECT_EQ(capture.count(), 0u);
  for (auto const& [call, report] : kChecks) {
    capture.clear();
    call(true);
    EXPECT_EQ(capture.lines(), std::vector<std::wstring>{report});
  }
}

}  // namespace
