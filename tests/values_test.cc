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
#include "support/backup_writer.h"
#include "support/guards.h"

namespace {
using Clock::DateTimeCtor;
using Clock::UniversalTime;
using kestle_test::HeapCheck;
using kestle_test::stampOf;

// Run at every byte offset: the word must sit at an aligned address wherever the object lies.
// The values of a braced list are taken in order.
TEST(InterlockedTest, ArgumentFormsAnswerTheOldValueOthersTheNew) {
  EXPECT_GE(sizeof(Interlocked), 7u);
  alignas(8) unsigned char raw[32];
  for (unsigned offset = 0; offset < 4; ++offset) {
    Interlocked& x = *::new (raw + offset) Interlocked(5);
    std::vector<int> got = {x.inc(3), x.asInt(), x.inc(), x--,       x++,        ++x,      --x,
                            x.dec(),  x.dec(2),  int(x),  x.dec(-5), x.inc(-20), x.asInt()};
    EXPECT_EQ(got, (std::vector<int>{5, 8, 9, 9, 8, 10, 9, 8, 8, 6, 6, 11, -9}));  // dec(-5) adds
    x = -1;
    EXPECT_EQ(x.asUnsigned(), 0xFFFFFFFFu);
    x = INT_MAX;  // arithmetic wraps
    got = {++x, x--, x.asInt()};
    EXPECT_EQ(got, (std::vector<int>{INT_MIN, INT_MIN, INT_MAX}));
  }
}

TEST(InterlockedTest, ConcurrentCountsEndExact) {
  Interlocked counter;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&counter] {
      for (int k = 0; k < 20000; ++k) {
        ++counter;
        counter.inc(2);
        counter++;
        counter.dec(-2);
        counter--;
        --counter;
      }
    });
  }
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(counter.asInt(), 4 * 20000 * 4);
}

TEST(UniversalTimeTest, LessComparesInThisStampsZoneAndFilledNeedsDateAndTime) {
  auto const z = [](int zone) { return static_cast<std::uint32_t>(zone); };
  struct Case {
    UniversalTime self, other;
    bool less;
  } const cases[] = {
      // Equal zones: by date, then time, unsigned; unset stamps compare by their words.
      {{100, 50, 7}, {100, 51, 7}, true},
      {{100, 50, 7}, {100, 50, 7}, false},  // equal stamps
      {{100, 50, 7}, {100, 49, 7}, false},
      {{100, 50, 7}, {101, 1, 7}, true},
      {{100, 50, 7}, {99, 8640000, 7}, false},
      {{0, 0, 7}, {100, 50, 7}, true},
      {{100, 50, 7}, {0x80000000u, 1, 7}, true},
      // Day 100 time 100 zone 0 is day 99 time 8,639,900 in zone 200: not after day 100 time 50.
      {{100, 50, 200}, {100, 100, 0}, false},
      {{99, 8639900, 200}, {100, 101, 0}, true},
      {{99, 8639900, 200}, {100, 100, 0}, false},  // the same instant
      // Shifted forwards past the end of the day: day 101 time 50 in zone 0.
      {{101, 49, 0}, {100, 8639950, 100}, true},
      {{101, 50, 0}, {100, 8639950, 100}, false},
      // Negative zones are signed: UTC+1 10:00 is 09:00 in zone 0.
      {{500, 9 * 360000, 0}, {500, 10 * 360000, z(-360000)}, false},
      {{500, 9 * 360000 - 1, 0}, {500, 10 * 360000, z(-360000)}, true},
      // An unset other in another zone is never after.
      {{100, 50, 200}, {0, 100, 0}, false},
      {{100, 50, 200}, {200, 0, 0}, false},
      {{100, 50, 200}, {0, 0, 1}, false},
      // The day carry must not wrap around the top day number.
      {{0xFFFFFFFFu, 8639999, 0}, {0xFFFFFFFFu, 8639950, 100}, true},
  };
  for (auto const& c : cases)
    EXPECT_EQ(c.self.less(c.other), c.less) << "case " << &c - cases;
  EXPECT_FALSE(UniversalTime(100, 0, 0).filled());  // filled needs date and time
  EXPECT_FALSE(UniversalTime(0, 100, 0).filled());
  EXPECT_TRUE(UniversalTime(1, 1, 0).filled());
}

std::wstring iso(UniversalTime const& t, bool flag = false) {
  return static_cast<wchar_t const*>(FString::iso8601(t, flag));
}

TEST(CalendarTest, DayNumbersAgreeWithTheStandardCalendar) {
  using namespace std::chrono;
  std::mt19937 pick(42);
  for (int k = 0; k < 20000; ++k) {
    int y = 1 + static_cast<int>(pick() % 9999);
    unsigned m = 1 + pick() % 12;
    unsigned d = 1 + pick() % static_cast<unsigned>(
                                  year_month_day_last{year{y}, month_day_last{month{m}}}.day());
    long long expected =
        sys_days(year_month_day{year{y}, month{m}, day{d}}).time_since_epoch().count() + 719163;
    UniversalTime t = stampOf(y, m, d, 12, 0, 0, 0);
    ASSERT_EQ(t.date, expected) << y << "-" << m << "-" << d;
    DateTimeCtor back(t);
    ASSERT_TRUE(back.year == y && back.month == m && back.day == d) << y << "-" << m << "-" << d;
  }
  EXPECT_FALSE(stampOf(1900, 2, 29, 0, 0, 0, 0).filled());  // 1900 is no leap year; 2000 is
  EXPECT_TRUE(stampOf(2000, 2, 29, 0, 0, 0, 0).filled());
  EXPECT_FALSE(stampOf(2000, 13, 29, 0, 0, 0, 0).filled());
}

TEST(CalendarTest, StampsFromUnixTimeAndTheirText) {
  UniversalTime epoch = UniversalTime::fromUnix(0, 0);
  EXPECT_EQ(epoch.date, 719162u);  // midnight ends the day before
  EXPECT_EQ(epoch.time, 8640000u);
  UniversalTime late = UniversalTime::fromUnix(86399, 999999999);
  EXPECT_EQ(late.date, 719163u);
  EXPECT_EQ(late.time, 8639999u);
  // Before year 1, or bad nanoseconds: not a stamp.
  for (auto [s, ns] :
       {std::pair{-62135596801LL, 0L}, {0LL, 1000000000L}, {LLONG_MIN, 0L}, {LLONG_MAX, 0L}})
    EXPECT_FALSE(UniversalTime::fromUnix(s, ns).filled()) << s;
  EXPECT_TRUE(UniversalTime::now().filled());

  UniversalTime const eve = stampOf(2024, 12, 31, 23, 30, 5, 7, -360000);  // UTC+1
  UniversalTime const india = stampOf(2024, 12, 31, 23, 30, 5, 7, -1980000);
  UniversalTime const east = stampOf(2024, 12, 31, 23, 30, 5, 7, 5 * 360000);  // UTC-5
  struct Case {
    UniversalTime stamp;
    bool universal;
    wchar_t const* text;
  } const cases[] = {
      {epoch, false, L"1970-01-01T00:00:00.00Z"},
      {late, false, L"1970-01-01T23:59:59.99Z"},
      {UniversalTime::fromUnix(-1, 0), false, L"1969-12-31T23:59:59.00Z"},
      {UniversalTime::fromUnix(951782400 + 3723, 450000000), false, L"2000-02-29T01:02:03.45Z"},
      {UniversalTime(1, 1, 0), false, L"0001-01-01T00:00:00.01Z"},
      {eve, false, L"2024-12-31T23:30:05.07+01:00"},
      {eve, true, L"2024-12-31T22:30:05.07Z"},
      {india, false, L"2024-12-31T23:30:05.07+05:30"},
      {india, true, L"2024-12-31T18:00:05.07Z"},
      {east, false, L"2024-12-31T23:30:05.07-05:00"},
      {east, true, L"2025-01-01T04:30:05.07Z"},  // into the next year
      {UniversalTime(), false, L""},
      {UniversalTime(5, 0, 0), false, L""},
      // A time beyond a day carries into the date rather than printing hour 24 or more.
      {UniversalTime(1, 8640000 + 100, 0), false, L"0001-01-02T00:00:01.00Z"},
  };
  for (auto const& c : cases)
    EXPECT_EQ(iso(c.stamp, c.universal), c.text);
}

TEST(TimerTest, StartStopResetAndCopies) {
  SystemTimer::baseTimer base;
  EXPECT_FALSE(base.running());
  EXPECT_EQ(base.elapsed(), 0u);
  EXPECT_EQ(base.elapsedUs(), 0u);
  EXPECT_FALSE(SystemTimer::timer(false).running());

  SystemTimer::timer t(true);
  t.reset();
  EXPECT_TRUE(t.running());  // reset keeps a running timer running
  t.stop();
  unsigned long long stopped = t.elapsed();
  t.stop();  // stopping twice adds nothing
  EXPECT_EQ(t.elapsed(), stopped);
  t.start();
  t.stop();
  EXPECT_GE(t.elapsed(), stopped);

  SystemTimer::timer copy(true);
  copy = t;
  EXPECT_FALSE(copy.running());
  EXPECT_EQ(copy.elapsed(), t.elapsed());
  // A copy of a running timer runs from the same start: it never shows more than the original
  // read after it.
  SystemTimer::timer running(true), fresh(false);
  fresh = running;
  EXPECT_TRUE(fresh.running());
  unsigned long long const first = fresh.elapsed();
  EXPECT_LE(first, running.elapsed());
  t.reset();
  EXPECT_FALSE(t.running());
  EXPECT_EQ(t.elapsed(), 0u);
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
}

// The first value of the standard seed, then a sequence shared by several threads: each value
// of it goes to exactly one caller.
TEST(RandomTest, StandardMersenneTwisterSharedByThreads) {
  HeapCheck heap;
  Random::PFRandom r;
  EXPECT_EQ(r.next(), 3499211612u);
  Random::PRANG& g = r;
  g.seed(5489);
  EXPECT_EQ(g.next(), 3499211612u);
  g.seed(99);
  std::vector<std::uint32_t> got[4], all, expected;
  std::vector<std::thread> threads;
  for (auto& mine : got) {
    threads.emplace_back([&r, &mine] {
      for (int k = 0; k < 2000; ++k)
        mine.push_back(r.next());
    });
  }
  for (auto& th : threads)
    th.join();
  std::mt19937 reference(99);
  for (auto& mine : got) {
    all.insert(all.end(), mine.begin(), mine.end());
    for (int k = 0; k < 2000; ++k)
      expected.push_back(reference());
  }
  std::sort(all.begin(), all.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(all, expected);
}

}  // namespace
