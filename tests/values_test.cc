// Small value types: the atomic counter, time stamps and their text, timers, the generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
using Clock::DateTimeCtor;
using Clock::UniversalTime;
using kestle_test::HeapCheck;

// ---- Interlocked ---------------------------------------------------------------------------

TEST(InterlockedTest, ArgumentFormsAnswerTheOldValueOthersTheNew) {
  Interlocked x(5);
  EXPECT_EQ(x.inc(3), 5);
  EXPECT_EQ(x.asInt(), 8);
  EXPECT_EQ(x.inc(), 9);
  EXPECT_EQ(x--, 9);
  EXPECT_EQ(static_cast<int>(x), 8);
  EXPECT_EQ(x++, 8);
  EXPECT_EQ(++x, 10);
  EXPECT_EQ(--x, 9);
  EXPECT_EQ(x.dec(), 8);
  EXPECT_EQ(x.dec(2), 8);
  EXPECT_EQ(x.asInt(), 6);
  x = -1;
  EXPECT_EQ(x.asUnsigned(), 0xFFFFFFFFu);
}

TEST(InterlockedTest, NegativeDecAddsAndArithmeticWraps) {
  Interlocked x(10);
  EXPECT_EQ(x.dec(-5), 10);
  EXPECT_EQ(x.asInt(), 15);
  EXPECT_EQ(x.inc(-20), 15);
  EXPECT_EQ(x.asInt(), -5);

  Interlocked top(INT_MAX);
  EXPECT_EQ(++top, INT_MIN);
  EXPECT_EQ(top--, INT_MIN);
  EXPECT_EQ(top.asInt(), INT_MAX);
}

// The word must sit at an aligned address wherever the object lies (UBSan and the atomic
// operations would object to a misaligned one).
TEST(InterlockedTest, WorksAtEveryByteOffset) {
  EXPECT_GE(sizeof(Interlocked), 7u);
  alignas(8) unsigned char raw[32];
  for (unsigned offset = 0; offset < 4; ++offset) {
    auto* x = ::new (raw + offset) Interlocked(offset);
    EXPECT_EQ(x->inc(100), static_cast<int>(offset));
    EXPECT_EQ(++*x, static_cast<int>(offset) + 101);
    *x = 7;
    EXPECT_EQ(x->asInt(), 7);
  }
}

TEST(InterlockedTest, ConcurrentCountsEndExact) {
  Interlocked counter;
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&counter, t] {
      for (int k = 0; k < kRounds; ++k) {
        if (t % 2 == 0) {
          ++counter;
          counter.inc(2);
        } else {
          counter++;
          counter.dec(-2);
        }
        counter--;
      }
    });
  }
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(counter.asInt(), kThreads * kRounds * 2);
}

// ---- UniversalTime -------------------------------------------------------------------------

TEST(UniversalTimeTest, FilledNeedsDateAndTime) {
  EXPECT_FALSE(UniversalTime().filled());
  EXPECT_FALSE(UniversalTime(100, 0, 0).filled());
  EXPECT_FALSE(UniversalTime(0, 100, 0).filled());
  EXPECT_TRUE(UniversalTime(1, 1, 0).filled());
}

TEST(UniversalTimeTest, EqualZonesCompareByDateThenTime) {
  UniversalTime a(100, 50, 7);
  EXPECT_TRUE(a.less(UniversalTime(100, 51, 7)));
  EXPECT_FALSE(a.less(UniversalTime(100, 50, 7)));  // equal stamps
  EXPECT_FALSE(a.less(UniversalTime(100, 49, 7)));
  EXPECT_TRUE(a.less(UniversalTime(101, 1, 7)));
  EXPECT_FALSE(a.less(UniversalTime(99, 8640000, 7)));
  // Unset stamps of the same zone still compare by their words.
  EXPECT_TRUE(UniversalTime(0, 0, 7).less(a));
  // Dates and times compare unsigned.
  EXPECT_TRUE(a.less(UniversalTime(0x80000000u, 1, 7)));
}

TEST(UniversalTimeTest, OtherZoneIsShiftedAcrossMidnight) {
  // this: day 100 time 50 zone 200; other: day 100 time 100 zone 0 becomes day 99 8,639,900.
  UniversalTime self(100, 50, 200);
  EXPECT_FALSE(self.less(UniversalTime(100, 100, 0)));
  // The same instant the other way round: other shifted forward over midnight.
  UniversalTime early(99, 8639900, 200);
  EXPECT_TRUE(early.less(UniversalTime(100, 101, 0)));
  EXPECT_FALSE(early.less(UniversalTime(100, 100, 0)));  // the same instant is not less
  // Shift forwards past the end of the day: other day 100 8,639,950 zone 100 in zone 0 is
  // day 101 time 50.
  UniversalTime utc(101, 49, 0);
  EXPECT_TRUE(utc.less(UniversalTime(100, 8639950, 100)));
  EXPECT_FALSE(UniversalTime(101, 50, 0).less(UniversalTime(100, 8639950, 100)));
  // Negative zones are read as signed: UTC+1 (zone -360000) 10:00 is 09:00 in zone 0.
  UniversalTime nine(500, 9 * 360000, 0);
  EXPECT_FALSE(nine.less(UniversalTime(500, 10 * 360000, static_cast<std::uint32_t>(-360000))));
  EXPECT_TRUE(UniversalTime(500, 9 * 360000 - 1, 0)
                  .less(UniversalTime(500, 10 * 360000, static_cast<std::uint32_t>(-360000))));
}

TEST(UniversalTimeTest, UnsetOtherInAnotherZoneIsNeverAfter) {
  UniversalTime self(100, 50, 200);
  EXPECT_FALSE(self.less(UniversalTime(0, 100, 0)));
  EXPECT_FALSE(self.less(UniversalTime(200, 0, 0)));
  EXPECT_FALSE(self.less(UniversalTime(0, 0, 1)));
  // The day carry must not wrap around the top day number.
  EXPECT_TRUE(UniversalTime(0xFFFFFFFFu, 8639999, 0)
                  .less(UniversalTime(0xFFFFFFFFu, 8639950, static_cast<std::uint32_t>(100))));
}

// ---- Calendar and ISO 8601 text ------------------------------------------------------------

std::wstring iso(UniversalTime const& t, bool flag = false) {
  return static_cast<wchar_t const*>(FString::iso8601(t, flag));
}

// Day numbers against the standard library's calendar, over many years and both directions.
TEST(CalendarTest, DayNumbersAgreeWithTheStandardCalendar) {
  using namespace std::chrono;
  std::mt19937 pick(42);
  for (int k = 0; k < 20000; ++k) {
    int y = 1 + static_cast<int>(pick() % 9999);
    unsigned m = 1 + pick() % 12;
    year_month_day ymd{year{y}, month{m}, day{1}};
    unsigned last =
        static_cast<unsigned>(year_month_day_last{year{y}, month_day_last{month{m}}}.day());
    unsigned d = 1 + pick() % last;
    ymd = year_month_day{year{y}, month{m}, day{d}};
    long long expected = sys_days(ymd).time_since_epoch().count() + 719163;

    DateTimeCtor parts;
    parts.year = y;
    parts.month = m;
    parts.day = d;
    parts.hour = 12;
    UniversalTime t = parts.stamp();
    ASSERT_EQ(t.date, expected) << y << "-" << m << "-" << d;
    DateTimeCtor back(t);
    ASSERT_EQ(back.year, y);
    ASSERT_EQ(back.month, m);
    ASSERT_EQ(back.day, d);
  }
}

TEST(CalendarTest, StampsFromUnixTimeAndMidnight) {
  UniversalTime epoch = UniversalTime::fromUnix(0, 0);
  EXPECT_EQ(epoch.date, 719162u);  // midnight ends the day before
  EXPECT_EQ(epoch.time, 8640000u);
  EXPECT_EQ(iso(epoch), L"1970-01-01T00:00:00.00Z");

  UniversalTime late = UniversalTime::fromUnix(86399, 999999999);
  EXPECT_EQ(late.date, 719163u);
  EXPECT_EQ(late.time, 8639999u);
  EXPECT_EQ(iso(late), L"1970-01-01T23:59:59.99Z");

  EXPECT_EQ(iso(UniversalTime::fromUnix(-1, 0)), L"1969-12-31T23:59:59.00Z");
  EXPECT_EQ(iso(UniversalTime::fromUnix(951782400 + 3723, 450000000)), L"2000-02-29T01:02:03.45Z");
  EXPECT_EQ(iso(UniversalTime(1, 1, 0)), L"0001-01-01T00:00:00.01Z");
  // Before year 1, or bad nanoseconds: not a stamp.
  EXPECT_FALSE(UniversalTime::fromUnix(-62135596801LL, 0).filled());
  EXPECT_FALSE(UniversalTime::fromUnix(0, 1000000000).filled());
  EXPECT_FALSE(UniversalTime::fromUnix(LLONG_MIN, 0).filled());
  EXPECT_FALSE(UniversalTime::fromUnix(LLONG_MAX, 0).filled());
  EXPECT_TRUE(UniversalTime::now().filled());
}

TEST(CalendarTest, InvalidPartsGiveNoStamp) {
  DateTimeCtor parts;
  parts.year = 1900;
  parts.month = 2;
  parts.day = 29;  // 1900 is no leap year; 2000 is
  EXPECT_FALSE(parts.stamp().filled());
  parts.year = 2000;
  EXPECT_TRUE(parts.stamp().filled());
  parts.month = 13;
  EXPECT_FALSE(parts.stamp().filled());
}

TEST(Iso8601Test, ZoneOffsetsAndUniversalForm) {
  DateTimeCtor parts;
  parts.year = 2024;
  parts.month = 12;
  parts.day = 31;
  parts.hour = 23;
  parts.minute = 30;
  parts.second = 5;
  parts.hundredths = 7;
  parts.zone = -360000;  // UTC+1
  UniversalTime t = parts.stamp();
  EXPECT_EQ(iso(t), L"2024-12-31T23:30:05.07+01:00");
  EXPECT_EQ(iso(t, true), L"2024-12-31T22:30:05.07Z");

  parts.zone = -1980000;  // UTC+5:30
  EXPECT_EQ(iso(parts.stamp()), L"2024-12-31T23:30:05.07+05:30");
  EXPECT_EQ(iso(parts.stamp(), true), L"2024-12-31T18:00:05.07Z");
  parts.zone = 5 * 360000;  // UTC-5: the universal form crosses into the next year
  EXPECT_EQ(iso(parts.stamp()), L"2024-12-31T23:30:05.07-05:00");
  EXPECT_EQ(iso(parts.stamp(), true), L"2025-01-01T04:30:05.07Z");

  EXPECT_EQ(iso(UniversalTime()), L"");
  EXPECT_EQ(iso(UniversalTime(5, 0, 0)), L"");
  // A time beyond a day carries into the date rather than printing hour 24 or more.
  EXPECT_EQ(iso(UniversalTime(1, 8640000 + 100, 0)), L"0001-01-02T00:00:01.00Z");
}

// ---- Timers --------------------------------------------------------------------------------

TEST(TimerTest, DefaultIsStoppedAndEmpty) {
  SystemTimer::baseTimer base;
  EXPECT_FALSE(base.running());
  EXPECT_EQ(base.elapsed(), 0u);
  EXPECT_EQ(base.elapsedUs(), 0u);
  SystemTimer::timer idle(false);
  EXPECT_FALSE(idle.running());
  SystemTimer::timer busy(true);
  EXPECT_TRUE(busy.running());
}

TEST(TimerTest, ResetKeepsARunningTimerRunning) {
  SystemTimer::timer t(true);
  t.reset();
  EXPECT_TRUE(t.running());
  unsigned long long a = t.elapsed();
  unsigned long long b = t.elapsed();
  EXPECT_LE(a, b);  // still counting

  t.stop();
  unsigned long long stopped = t.elapsed();
  EXPECT_EQ(t.elapsed(), stopped);  // nothing is added while stopped
  t.reset();
  EXPECT_FALSE(t.running());
  EXPECT_EQ(t.elapsed(), 0u);
}

TEST(TimerTest, StopsAddUpAndAssignmentCopiesTheState) {
  SystemTimer::timer t(false);
  t.start();
  t.stop();
  unsigned long long first = t.elapsed();
  t.stop();  // stopping twice adds nothing
  EXPECT_EQ(t.elapsed(), first);
  t.start();
  t.stop();
  EXPECT_GE(t.elapsed(), first);

  SystemTimer::timer copy(true);
  copy = t;
  EXPECT_FALSE(copy.running());
  EXPECT_EQ(copy.elapsed(), t.elapsed());
}

TEST(TimerTest, ConversionsAreExactAndNeverOverflow) {
  unsigned long long f = SystemTimer::frequency();
  ASSERT_GT(f, 0u);
  EXPECT_EQ(SystemTimer::ctrUs(f), 1000000u);
  EXPECT_EQ(SystemTimer::ctrMs64(3 * f), 3000u);
  EXPECT_EQ(SystemTimer::ctrMs64(f / 1000 - 1), 0u);
  // A naive ticks * 1000 would overflow here.
  EXPECT_EQ(SystemTimer::ctrMs64(ULLONG_MAX), ULLONG_MAX / f * 1000 + ULLONG_MAX % f * 1000 / f);
  EXPECT_GT(SystemTimer::ctrUs(ULLONG_MAX), ULLONG_MAX / f);
  unsigned long long before = SystemTimer::counter();
  EXPECT_GE(SystemTimer::counter(), before);
}

// ---- Random --------------------------------------------------------------------------------

TEST(RandomTest, PlatformGeneratorIsTheStandardMersenneTwister) {
  HeapCheck heap;
  Random::PFRandom fresh;
  EXPECT_EQ(fresh.next(), 3499211612u);
  Random::PFRandom r;
  Random::PRANG& g = r;
  g.seed(5489);
  EXPECT_EQ(g.next(), 3499211612u);
  g.seed(12345);
  std::mt19937 reference(12345);
  for (int k = 0; k < 1000; ++k)
    ASSERT_EQ(g.next(), reference());
  g.seed(12345);
  reference.seed(12345);
  EXPECT_EQ(g.next(), reference());
}

// Shared by several threads, each value of the sequence goes to exactly one caller.
TEST(RandomTest, ConcurrentCallersSplitTheSequence) {
  Random::PFRandom r;
  r.seed(99);
  constexpr int kThreads = 4;
  constexpr int kEach = 2000;
  std::vector<std::vector<std::uint32_t>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&r, &got, t] {
      for (int k = 0; k < kEach; ++k)
        got[t].push_back(r.next());
    });
  }
  for (auto& th : threads)
    th.join();
  std::vector<std::uint32_t> all;
  for (auto& v : got)
    all.insert(all.end(), v.begin(), v.end());
  std::vector<std::uint32_t> expected;
  std::mt19937 reference(99);
  for (int k = 0; k < kThreads * kEach; ++k)
    expected.push_back(reference());
  std::sort(all.begin(), all.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(all, expected);
}

}  // namespace
