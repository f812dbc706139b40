// The failure checks: when they report, exactly what reaches the platform; when they pass,
// nothing at all (no report, no allocation).
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
using kestle_test::ReportCapture;
using Op = Platform::Report::Op;
using F = SysFailure;
using Text = wchar_t const*;

constexpr wchar_t kFile[] = L"src/app.cc";
constexpr wchar_t kFunc[] = L"App::run";
constexpr Text kNone = nullptr;

std::optional<std::wstring> opt(Text t) {
  return t != nullptr ? std::optional<std::wstring>(t) : std::nullopt;
}

// One check family member: its call (with or without a due report) and the report it makes.
// Integers are signed decimal except in assure1; the flag and line pass through untouched.
struct Check {
  std::function<void(bool fire)> call;
  Op op;
  bool flag;
  unsigned line;
  Text expression, text1, text2;
  unsigned long code;
  long long value = 0;
  bool always = false;  // the panic shorthands report whenever they are called
};

std::vector<Check> const kChecks{
    {[](bool f) { F::assure0(false, kFile, kFunc, 1, !f); }, Op::PanicMe, false, 1, kNone, kNone,
     kNone, 0},
    {[](bool f) { F::assure1(true, kFile, kFunc, 2, !f, -1LL); }, Op::PanicMe, true, 2, kNone,
     L"18446744073709551615", kNone, 0},
    {[](bool f) { F::assure1(false, kFile, kFunc, 3, !f, L"a"); }, Op::PanicMe, false, 3, kNone,
     L"a", kNone, 0},
    {[](bool f) { F::assure2(false, kFile, kFunc, 4, !f, 5LL, -6LL); }, Op::PanicMe, false, 4,
     kNone, L"5", L"-6", 0},
    {[](bool f) { F::assure2(true, kFile, kFunc, 5, !f, -9LL, L"right"); }, Op::PanicMe, true, 5,
     kNone, L"-9", L"right", 0},
    {[](bool f) { F::assure2(false, kFile, kFunc, 6, !f, L"left", 0LL); }, Op::PanicMe, false, 6,
     kNone, L"left", L"0", 0},
    {[](bool f) { F::assure2(true, kFile, kFunc, 7, !f, L"a", L"b"); }, Op::PanicMe, true, 7, kNone,
     L"a", L"b", 0},
    {[](bool f) { F::avoid0(true, kFile, kFunc, 8, f); }, Op::PanicMe, true, 8, kNone, kNone, kNone,
     0},
    {[](bool f) { F::avoid1(false, kFile, kFunc, 9, f, -1LL); }, Op::PanicMe, false, 9, kNone,
     L"-1", kNone, 0},
    {[](bool f) { F::avoid1(true, kFile, kFunc, 10, f, L"a"); }, Op::PanicMe, true, 10, kNone, L"a",
     kNone, 0},
    {[](bool f) { F::avoid2(false, kFile, kFunc, 11, f, 1LL, -2LL); }, Op::PanicMe, false, 11,
     kNone, L"1", L"-2", 0},
    {[](bool f) { F::avoid2(true, kFile, kFunc, 12, f, -1LL, L"b"); }, Op::PanicMe, true, 12, kNone,
     L"-1", L"b", 0},
    {[](bool f) { F::avoid2(false, kFile, kFunc, 13, f, L"a", 0LL); }, Op::PanicMe, false, 13,
     kNone, L"a", L"0", 0},
    {[](bool f) { F::avoid2(true, kFile, kFunc, 14, f, L"a", L"b"); }, Op::PanicMe, true, 14, kNone,
     L"a", L"b", 0},
    {[](bool f) { F::trapret0(true, kFile, kFunc, 15, L"open(f)", f ? 5 : 0); }, Op::TrapretMe,
     true, 15, L"open(f)", kNone, kNone, 5},
    {[](bool f) { F::trapret1(false, kFile, kFunc, 16, L"x", f ? 0x20002720 : 0, -42LL); },
     Op::TrapretMe, false, 16, L"x", L"-42", kNone, 0x20002720},
    {[](bool f) { F::trapret1(true, kFile, kFunc, 17, L"x", f, L"a"); }, Op::TrapretMe, true, 17,
     L"x", L"a", kNone, 1},
    {[](bool f) { F::trapret2(false, kFile, kFunc, 18, L"x", f * 2, 3LL, -4LL); }, Op::TrapretMe,
     false, 18, L"x", L"3", L"-4", 2},
    {[](bool f) { F::trapret2(true, kFile, kFunc, 19, L"x", f * 3, 0LL, L"b"); }, Op::TrapretMe,
     true, 19, L"x", L"0", L"b", 3},
    {[](bool f) { F::trapret2(false, kFile, kFunc, 20, L"x", f * 4, L"a", -7LL); }, Op::TrapretMe,
     false, 20, L"x", L"a", L"-7", 4},
    {[](bool f) { F::trapret2(true, kFile, kFunc, 21, L"open(f)", f * 5, L"one", L"two"); },
     Op::TrapretMe, true, 21, L"open(f)", L"one", L"two", 5},
    {[](bool f) { F::trapec0(false, kFile, kFunc, 22, f * 33); }, Op::TrapretMe, false, 22, kNone,
     kNone, kNone, 33},
    {[](bool f) { F::trapec1(true, kFile, kFunc, 23, f * 2, -8LL); }, Op::TrapretMe, true, 23,
     kNone, L"-8", kNone, 2},
    {[](bool f) { F::trapec1(false, kFile, kFunc, 24, f * 2, L"name"); }, Op::TrapretMe, false, 24,
     kNone, L"name", kNone, 2},
    {[](bool f) { F::trapec2(true, kFile, kFunc, 25, f * 112, 3LL, -4LL); }, Op::TrapretMe, true,
     25, kNone, L"3", L"-4", 112},
    {[](bool f) { F::trapec2(false, kFile, kFunc, 26, f * 112, -1LL, L"b"); }, Op::TrapretMe, false,
     26, kNone, L"-1", L"b", 112},
    {[](bool f) { F::trapec2(true, kFile, kFunc, 27, f * 112, L"a", 0LL); }, Op::TrapretMe, true,
     27, kNone, L"a", L"0", 112},
    {[](bool f) { F::trapec2(false, kFile, kFunc, 28, f * 112, L"a", L"b"); }, Op::TrapretMe, false,
     28, kNone, L"a", L"b", 112},
    {[](bool) { F::panic1(true, kFile, kFunc, 29, L"text"); }, Op::Panic1Text, true, 29, kNone,
     L"text", kNone, 0, 0, true},
    {[](bool) { F::panic1(false, kFile, kFunc, 30, -5LL); }, Op::Panic1Value, false, 30, kNone,
     kNone, kNone, 0, -5, true},
    {[](bool) { F::panic1Ec(true, kFile, kFunc, 31, L"file", 112); }, Op::Panic1Ec, true, 31, kNone,
     L"file", kNone, 112, 0, true},
    {[](bool) { F::panic2(false, kFile, kFunc, 32, L"count", 9LL); }, Op::Panic2, false, 32, kNone,
     L"count", kNone, 0, 9, true},
};

TEST(FailureChecks, PassingChecksAreSilentAndDueReportsCarryEveryField) {
  kestle_test::HeapCheck heap;
  ReportCapture capture;
  long long const before = Heapwick::bytesHeld();
  for (Check const& c : kChecks) {
    if (!c.always)
      c.call(false);
  }
  EXPECT_EQ(capture.count(), 0u);
  EXPECT_EQ(Heapwick::bytesHeld(), before);  // a passing check formats nothing
  for (Check const& c : kChecks) {
    SCOPED_TRACE(c.line);
    capture.clear();
    c.call(true);
    auto reports = capture.reports();
    ASSERT_EQ(reports.size(), 1u);
    Platform::Report const& r = reports[0];
    EXPECT_EQ(r.op, c.op);
    EXPECT_EQ(r.flag, c.flag);
    EXPECT_EQ(r.file, kFile);
    EXPECT_EQ(r.function, kFunc);
    EXPECT_EQ(r.line, c.line);
    EXPECT_EQ(r.expression, opt(c.expression));
    EXPECT_EQ(r.text1, opt(c.text1));
    EXPECT_EQ(r.text2, opt(c.text2));
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.value, c.value);
  }
}

TEST(FailureChecks, NullTextsAndPositionPassThroughUnchanged) {
  ReportCapture c;
  F::assure2(true, nullptr, nullptr, 0, false, kNone, kNone);
  auto reports = c.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_FALSE(reports[0].text1.has_value());
  EXPECT_FALSE(reports[0].text2.has_value());
  EXPECT_EQ(reports[0].line, 0u);
}

TEST(FailureChecks, DefaultHandlerWritesErrorLogAndReturns) {
  kestle_test::TempDir dir;
  Platform::setLogDirectory(dir.path());
  F::panic1(true, kFile, kFunc, 41, L"default handler line");
  Platform::setLogDirectory({});
  std::string line;
  std::FILE* f = std::fopen(dir.file("ERROR.LOG").c_str(), "r");
  ASSERT_NE(f, nullptr);
  char buf[512] = {};
  line.assign(buf, std::fread(buf, 1, sizeof buf - 1, f));
  std::fclose(f);
  EXPECT_NE(line.find("default handler line"), std::string::npos);
  EXPECT_NE(line.find("App::run"), std::string::npos);
  EXPECT_EQ(line.back(), '\n');
}

}  // namespace
