// The failure checks: when they report, exactly what reaches the platform; when they pass,
// nothing at all (no report, no allocation).
#include <gtest/gtest.h>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
using kestle_test::HeapCheck;
using kestle_test::ReportCapture;
using Op = Platform::Report::Op;

constexpr wchar_t kFile[] = L"src/app.cc";
constexpr wchar_t kFunc[] = L"App::run";

TEST(FailureChecks, PassingChecksReportAndAllocateNothing) {
  ReportCapture capture;
  long long before = Heapwick::bytesHeld();
  SysFailure::assure0(true, kFile, kFunc, 1, true);
  SysFailure::assure1(true, kFile, kFunc, 1, true, -1LL);
  SysFailure::assure1(true, kFile, kFunc, 1, true, L"a");
  SysFailure::assure2(true, kFile, kFunc, 1, true, 1LL, 2LL);
  SysFailure::assure2(true, kFile, kFunc, 1, true, 1LL, L"b");
  SysFailure::assure2(true, kFile, kFunc, 1, true, L"a", 2LL);
  SysFailure::assure2(true, kFile, kFunc, 1, true, L"a", L"b");
  SysFailure::avoid0(true, kFile, kFunc, 1, false);
  SysFailure::avoid1(true, kFile, kFunc, 1, false, -1LL);
  SysFailure::avoid1(true, kFile, kFunc, 1, false, L"a");
  SysFailure::avoid2(true, kFile, kFunc, 1, false, 1LL, 2LL);
  SysFailure::avoid2(true, kFile, kFunc, 1, false, 1LL, L"b");
  SysFailure::avoid2(true, kFile, kFunc, 1, false, L"a", 2LL);
  SysFailure::avoid2(true, kFile, kFunc, 1, false, L"a", L"b");
  SysFailure::trapret0(true, kFile, kFunc, 1, L"expr", 0);
  SysFailure::trapret1(true, kFile, kFunc, 1, L"expr", 0, 7LL);
  SysFailure::trapret1(true, kFile, kFunc, 1, L"expr", 0, L"a");
  SysFailure::trapret2(true, kFile, kFunc, 1, L"expr", 0, 1LL, 2LL);
  SysFailure::trapret2(true, kFile, kFunc, 1, L"expr", 0, 1LL, L"b");
  SysFailure::trapret2(true, kFile, kFunc, 1, L"expr", 0, L"a", 2LL);
  SysFailure::trapret2(true, kFile, kFunc, 1, L"expr", 0, L"a", L"b");
  SysFailure::trapec0(true, kFile, kFunc, 1, 0);
  SysFailure::trapec1(true, kFile, kFunc, 1, 0, 7LL);
  SysFailure::trapec1(true, kFile, kFunc, 1, 0, L"a");
  SysFailure::trapec2(true, kFile, kFunc, 1, 0, 1LL, 2LL);
  SysFailure::trapec2(true, kFile, kFunc, 1, 0, 1LL, L"b");
  SysFailure::trapec2(true, kFile, kFunc, 1, 0, L"a", 2LL);
  SysFailure::trapec2(true, kFile, kFunc, 1, 0, L"a", L"b");
  EXPECT_EQ(capture.count(), 0u);
  EXPECT_EQ(Heapwick::bytesHeld(), before);
}

// The fields of one report, with "(null)" standing for an absent text.
struct Seen {
  Op op;
  bool flag;
  std::wstring file, function;
  unsigned line;
  std::wstring expression, text1, text2;
  unsigned long code;
};

Seen only(ReportCapture const& capture) {
  auto reports = capture.reports();
  EXPECT_EQ(reports.size(), 1u);
  if (reports.empty())
    return {};
  auto const& r = reports.front();
  auto text = [](std::optional<std::wstring> const& t) { return t ? *t : L"(null)"; };
  return {r.op,          r.flag,        r.file, r.function, r.line, text(r.expression),
          text(r.text1), text(r.text2), r.code};
}

TEST(FailureChecks, AssureAndAvoidReportThroughPanicMe) {
  HeapCheck heap;
  {
    ReportCapture c;
    SysFailure::assure0(false, kFile, kFunc, 11, false);
    Seen s = only(c);
    EXPECT_EQ(s.op, Op::PanicMe);
    EXPECT_FALSE(s.flag);
    EXPECT_EQ(s.file, kFile);
    EXPECT_EQ(s.function, kFunc);
    EXPECT_EQ(s.line, 11u);
    EXPECT_EQ(s.text1, L"(null)");
    EXPECT_EQ(s.text2, L"(null)");
    EXPECT_EQ(s.code, 0u);
  }
  {
    // assure1 reads its integer as unsigned; avoid1 as signed.
    ReportCapture c;
    SysFailure::assure1(true, kFile, kFunc, 12, false, -1LL);
    Seen s = only(c);
    EXPECT_TRUE(s.flag);
    EXPECT_EQ(s.text1, L"18446744073709551615");
    EXPECT_EQ(s.text2, L"(null)");
  }
  {
    ReportCapture c;
    SysFailure::avoid1(true, kFile, kFunc, 13, true, -1LL);
    EXPECT_EQ(only(c).text1, L"-1");
  }
  {
    ReportCapture c;
    SysFailure::assure2(false, kFile, kFunc, 14, false, 5LL, -6LL);
    Seen s = only(c);
    EXPECT_EQ(s.op, Op::PanicMe);
    EXPECT_EQ(s.text1, L"5");
    EXPECT_EQ(s.text2, L"-6");
    EXPECT_EQ(s.code, 0u);
  }
  {
    ReportCapture c;
    SysFailure::avoid0(false, kFile, kFunc, 15, true);
    Seen s = only(c);
    EXPECT_EQ(s.op, Op::PanicMe);
    EXPECT_EQ(s.text1, L"(null)");
    EXPECT_EQ(s.text2, L"(null)");
  }
  {
    ReportCapture c;
    SysFailure::avoid2(false, kFile, kFunc, 16, true, L"left", 0LL);
    Seen s = only(c);
    EXPECT_EQ(s.text1, L"left");
    EXPECT_EQ(s.text2, L"0");  // a formatted zero is text, never absent
  }
  {
    ReportCapture c;
    SysFailure::assure2(false, kFile, kFunc, 17, false, -9LL, L"right");
    Seen s = only(c);
    EXPECT_EQ(s.text1, L"-9");
    EXPECT_EQ(s.text2, L"right");
  }
}

TEST(FailureChecks, NullTextsAndPositionPassThroughUnchanged) {
  ReportCapture c;
  SysFailure::assure2(true, nullptr, nullptr, 0, false, static_cast<wchar_t const*>(nullptr),
                      static_cast<wchar_t const*>(nullptr));
  auto reports = c.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_FALSE(reports[0].text1.has_value());
  EXPECT_FALSE(reports[0].text2.has_value());
  EXPECT_EQ(reports[0].line, 0u);
}

TEST(FailureChecks, TrapretAndTrapecReportThroughTrapretMe) {
  HeapCheck heap;
  {
    ReportCapture c;
    SysFailure::trapret2(true, kFile, kFunc, 21, L"open(f)", 5, L"one", L"two");
    Seen s = only(c);
    EXPECT_EQ(s.op, Op::TrapretMe);
    EXPECT_TRUE(s.flag);
    EXPECT_EQ(s.line, 21u);
    EXPECT_EQ(s.expression, L"open(f)");
    EXPECT_EQ(s.code, 5u);
    EXPECT_EQ(s.text1, L"one");
    EXPECT_EQ(s.text2, L"two");
  }
  {
    ReportCapture c;
    SysFailure::trapret1(false, kFile, kFunc, 22, L"x", 0x20002720, -42LL);
    Seen s = only(c);
    EXPECT_EQ(s.code, 0x20002720u);
    EXPECT_EQ(s.text1, L"-42");  // trapret formats signed, unlike assure1
    EXPECT_EQ(s.text2, L"(null)");
  }
  {
    ReportCapture c;
    SysFailure::trapec1(false, kFile, kFunc, 23, 2, L"name");
    Seen s = only(c);
    EXPECT_EQ(s.op, Op::TrapretMe);
    EXPECT_EQ(s.expression, L"(null)");
    EXPECT_EQ(s.code, 2u);
    EXPECT_EQ(s.text1, L"name");
    EXPECT_EQ(s.text2, L"(null)");
  }
  {
    ReportCapture c;
    SysFailure::trapec2(false, kFile, kFunc, 24, 112, 3LL, -4LL);
    Seen s = only(c);
    EXPECT_EQ(s.expression, L"(null)");
    EXPECT_EQ(s.text1, L"3");
    EXPECT_EQ(s.text2, L"-4");
  }
  {
    ReportCapture c;
    SysFailure::trapec0(false, kFile, kFunc, 25, 33);
    Seen s = only(c);
    EXPECT_EQ(s.expression, L"(null)");
    EXPECT_EQ(s.text1, L"(null)");
    EXPECT_EQ(s.code, 33u);
  }
}

TEST(FailureChecks, PanicShorthandsCarryTheirValues) {
  ReportCapture c;
  SysFailure::panic1(true, kFile, kFunc, 31, L"text");
  SysFailure::panic1(true, kFile, kFunc, 32, -5LL);
  SysFailure::panic1Ec(true, kFile, kFunc, 33, L"file", 112);
  SysFailure::panic2(false, kFile, kFunc, 34, L"count", 9LL);
  auto r = c.reports();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].op, Op::Panic1Text);
  EXPECT_EQ(*r[0].text1, L"text");
  EXPECT_EQ(r[1].op, Op::Panic1Value);
  EXPECT_EQ(r[1].value, -5);
  EXPECT_EQ(r[2].op, Op::Panic1Ec);
  EXPECT_EQ(*r[2].text1, L"file");
  EXPECT_EQ(r[2].code, 112u);
  EXPECT_EQ(r[3].op, Op::Panic2);
  EXPECT_EQ(*r[3].text1, L"count");
  EXPECT_EQ(r[3].value, 9);
  EXPECT_FALSE(r[3].flag);
}

TEST(FailureChecks, DefaultHandlerWritesErrorLogAndReturns) {
  kestle_test::TempDir dir;
  Platform::setLogDirectory(dir.path());
  SysFailure::panic1(true, kFile, kFunc, 41, L"default handler line");
  Platform::setLogDirectory({});
  std::FILE* f = std::fopen(dir.file("ERROR.LOG").c_str(), "r");
  ASSERT_NE(f, nullptr);
  char buf[512] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  std::string line(buf, n);
  EXPECT_NE(line.find("default handler line"), std::string::npos);
  EXPECT_NE(line.find("App::run"), std::string::npos);
  EXPECT_EQ(line.back(), '\n');
}

}  // namespace
