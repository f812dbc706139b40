// Small value types: the atomic counter, time stamps and their text, timers, the generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "kestle/kestle.h"
#include "support/backup_writer.h"
#include "support/guards.h"

namespace {
using Clock::DateTimeCtor;
using Clock::UniversalTime;
using kestle_test::stampOf;

// Run at every byte offset: the word must sit at an aligned address wherever the object lies.
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
  std::vector<std::jthread> threads;
  for (int t = 0; t < 4; ++t)
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
  threads.clear();  // joins
  EXPECT_EQ(counter.asInt(), 4 * 20000 * 4);
}

// Another zone's stamp is shifted into this one's (a day carried, no wrap); unset, never after.
TEST(UniversalTimeTest, LessComparesInThisStampsZone) {
  std::uint32_t const m = static_cast<std::uint32_t>(-360000), t9 = 9 * 360000, t10 = 10 * 360000;
  std::uint32_t const cases[][6] = {
      // date, time, zone of this stamp, then of the other
      {100, 50, 7, 100, 51, 7},        {100, 50, 7, 100, 50, 7},
      {100, 50, 7, 100, 49, 7},        {100, 50, 7, 101, 1, 7},
      {100, 50, 7, 99, 8640000, 7},    {0, 0, 7, 100, 50, 7},
      {100, 50, 7, 0x80000000u, 1, 7}, {100, 50, 200, 100, 100, 0},
      {99, 8639900, 200, 100, 101, 0}, {99, 8639900, 200, 100, 100, 0},
      {101, 49, 0, 100, 8639950, 100}, {101, 50, 0, 100, 8639950, 100},
      {500, t9, 0, 500, t10, m},       {500, t9 - 1, 0, 500, t10, m},
      {100, 50, 200, 0, 100, 0},       {100, 50, 200, 200, 0, 0},
      {100, 50, 200, 0, 0, 1},         {~0u, 8639999, 0, ~0u, 8639950, 100}};
  std::string got;
  for (auto const& c : cases)
    got += UniversalTime(c[0], c[1], c[2]).less(UniversalTime(c[3], c[4], c[5])) ? '<' : '.';
  EXPECT_EQ(got, "<..<.<<.<.<..<...<");
}

std::wstring iso(UniversalTime const& t, bool flag = false) {
  return static_cast<wchar_t const*>(FString::iso8601(t, flag));
}

// Day numbers against std::chrono's calendar; stamps from Unix time and their ISO 8601 text.
TEST(CalendarTest, DayNumbersUnixTimeAndText) {
  using namespace std::chrono;
  std::mt19937 pick(42);
  for (int k = 0; k < 20000; ++k) {
    std::uint32_t const date = 1 + pick() % 3652059;  // 0001-01-01 to 9999-12-31
    year_month_day const ymd{sys_days(days(date - 719163LL))};
    long long const y = int(ymd.year());
    unsigned const m = unsigned(ymd.month()), d = unsigned(ymd.day());
    UniversalTime const t = stampOf(y, m, d, 12, 0, 0, 0);
    DateTimeCtor const back(t);
    ASSERT_EQ(std::make_tuple(t.date, back.year, back.month, back.day),
              std::make_tuple(date, y, m, d));
  }

  UniversalTime const epoch = UniversalTime::fromUnix(0, 0);
  UniversalTime const late = UniversalTime::fromUnix(86399, 999999999);
  // Midnight ends the day before.
  EXPECT_EQ(std::make_tuple(epoch.date, epoch.time, late.date, late.time),
            std::make_tuple(719162u, 8640000u, 719163u, 8639999u));
  // Before year 1, or bad nanoseconds: not a stamp.
  for (auto [s, ns] :
       {std::pair{-62135596801LL, 0L}, {0LL, 1000000000L}, {LLONG_MIN, 0L}, {LLONG_MAX, 0L}})
    EXPECT_FALSE(UniversalTime::fromUnix(s, ns).filled()) << s;
  EXPECT_TRUE(UniversalTime::now().filled());

  UniversalTime const eve = stampOf(2024, 12, 31, 23, 30, 5, 7, -360000);  // UTC+1
  DateTimeCtor copy;
  copy = DateTimeCtor(eve);  // copies every part
  EXPECT_EQ(iso(copy.stamp()), iso(eve));
  std::wstring got;
  // A time beyond a day carries into the date rather than printing hour 24 or more.
  for (auto const& t :
       {epoch, late, UniversalTime::fromUnix(-1, 0),
        UniversalTime::fromUnix(951782400 + 3723, 450000000), UniversalTime(1, 1, 0),
        UniversalTime(1, 8640000 + 100, 0), UniversalTime(), UniversalTime(5, 0, 0),
        UniversalTime(0, 100, 0), stampOf(1900, 2, 29, 1, 0, 0, 0),
        stampOf(2000, 13, 29, 1, 0, 0, 0), stampOf(2000, 2, 29, 1, 0, 0, 0)})
    got += iso(t) + L"|";
  for (auto const& t : {eve, stampOf(2024, 12, 31, 23, 30, 5, 7, -1980000),
                        stampOf(2024, 12, 31, 23, 30, 5, 7, 5 * 360000)})  // UTC+5:30, UTC-5
    got += iso(t) + L" " + iso(t, true) + L"|";
  EXPECT_EQ(got,
            L"1970-01-01T00:00:00.00Z|1970-01-01T23:59:59.99Z|1969-12-31T23:59:59.00Z|"
            L"2000-02-29T01:02:03.45Z|0001-01-01T00:00:00.01Z|0001-01-02T00:00:01.00Z||||||"
            L"2000-02-29T01:00:00.00Z|2024-12-31T23:30:05.07+01:00 2024-12-31T22:30:05.07Z|"
            L"2024-12-31T23:30:05.07+05:30 2024-12-31T18:00:05.07Z|"
            L"2024-12-31T23:30:05.07-05:00 2025-01-01T04:30:05.07Z|");
}

// A copy of a running timer runs from the same start; the unit conversions never overflow.
TEST(TimerTest, StartStopResetCopiesAndConversions) {
  SystemTimer::baseTimer base;
  EXPECT_EQ(std::make_tuple(base.running(), base.elapsed(), base.elapsedUs(),
                            SystemTimer::timer(false).running()),
            std::make_tuple(false, 0ull, 0ull, false));
  SystemTimer::timer t(true), copy(true), running(true), fresh(false);
  t.reset();
  EXPECT_TRUE(t.running());
  t.stop();
  unsigned long long const stopped = t.elapsed();
  t.stop();
  EXPECT_EQ(t.elapsed(), stopped);
  t.start();
  t.stop();
  EXPECT_GE(t.elapsed(), stopped);
  copy = t;
  EXPECT_EQ(std::make_pair(copy.running(), copy.elapsed()), std::make_pair(false, t.elapsed()));
  fresh = running;
  EXPECT_TRUE(fresh.running());
  unsigned long long const first = fresh.elapsed();
  EXPECT_LE(first, running.elapsed());
  t.reset();
  EXPECT_EQ(std::make_pair(t.running(), t.elapsed()), std::make_pair(false, 0ull));

  unsigned long long const f = SystemTimer::frequency();
  ASSERT_GT(f, 0u);
  // Exact conversions; a naive ticks * 1000 would overflow at the largest count.
  EXPECT_EQ(std::make_tuple(SystemTimer::ctrUs(f), SystemTimer::ctrMs64(3 * f),
                            SystemTimer::ctrMs64(f / 1000 - 1), SystemTimer::ctrMs64(ULLONG_MAX)),
            std::make_tuple(1000000ull, 3000ull, 0ull,
                            ULLONG_MAX / f * 1000 + ULLONG_MAX % f * 1000 / f));
  EXPECT_GT(SystemTimer::ctrUs(ULLONG_MAX), ULLONG_MAX / f);
}

TEST(RandomTest, StandardMersenneTwisterSharedByThreads) {
  kestle_test::HeapCheck heap;
  Random::PFRandom r;
  EXPECT_EQ(r.next(), 3499211612u);
  static_cast<Random::PRANG&>(r).seed(99);  // through the interface
  std::vector<std::uint32_t> all(8000), expected(8000);
  std::vector<std::jthread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&r, mine = all.begin() + t * 2000] {
      std::generate_n(mine, 2000, [&] { return r.next(); });
    });
  threads.clear();  // joins
  std::generate(expected.begin(), expected.end(), std::mt19937(99));
  std::ranges::sort(all);
  std::ranges::sort(expected);
  EXPECT_EQ(all, expected);
}

}  // namespace
