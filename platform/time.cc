// The platform's time: the monotonic counter behind the timers, the calendar behind the stamps,
// and the ISO 8601 text of a stamp.
#include <chrono>
#include <cstdio>
#include <cwchar>

#include "kestle/clock.h"
#include "kestle/platform/control.h"
#include "kestle/strings.h"
#include "kestle/timer.h"
#include "platform/hooks.h"

// ---- Timers --------------------------------------------------------------------------------

namespace Platform {
ClockHook setClockHook(ClockHook hook) {
  return kestle_detail::exchangeHook(std::move(hook));
}
}  // namespace Platform

namespace SystemTimer {

using Counter = std::chrono::steady_clock;

unsigned long long frequency() {
  return static_cast<unsigned long long>(Counter::period::den / Counter::period::num);
}

unsigned long long counter() {
  if (Platform::ClockHook const& hook = kestle_detail::hookSlot<Platform::ClockHook>())
    return hook();
  return static_cast<unsigned long long>(Counter::now().time_since_epoch().count());
}

// 128-bit intermediate: ticks * 10^6 fits for every 64-bit tick count.
unsigned long long ctrUs(unsigned long long ticks) {
  return static_cast<unsigned long long>(static_cast<unsigned __int128>(ticks) * 1000000u /
                                         frequency());
}

unsigned long long ctrMs64(unsigned long long ticks) {
  return static_cast<unsigned long long>(static_cast<unsigned __int128>(ticks) * 1000u /
                                         frequency());
}

void baseTimer::start() {
  if (running_ != 0)
    return;
  started_ = counter();
  running_ = 1;
}

void baseTimer::stop() {
  if (running_ == 0)
    return;
  total_ += counter() - started_;
  running_ = 0;
}

void baseTimer::reset() {
  total_ = 0;
  if (running_ != 0)
    started_ = counter();
}

unsigned long long baseTimer::elapsed() const {
  return running_ != 0 ? total_ + (counter() - started_) : total_;
}

timer::timer(bool start_now) {
  if (start_now)
    start();
}

}  // namespace SystemTimer

// ---- Calendar ------------------------------------------------------------------------------
//
// Day numbers convert to and from the proleptic Gregorian calendar with the era method: 400-year
// eras of 146097 days, counted from 1 March so that the leap day ends the year. Everything runs
// in 64-bit, so every 32-bit day number (years up to about 11.7 million) converts exactly.

namespace {

constexpr long long kHundredthsPerDay = Clock::UniversalTime::kDay;
// Day number of 1970-01-01 when day 1 is 0001-01-01.
constexpr long long kUnixEpochDay = 719163;
// Day number of 0000-03-01 (the start of era 0), so that era arithmetic stays non-negative.
constexpr long long kEraBaseDay = -305;

long long floorDiv(long long a, long long b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

long long dayFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  long long era = floorDiv(y, 400);
  long long yoe = y - era * 400;                                    // [0, 399]
  long long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;  // [0, 365]
  long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;            // [0, 146096]
  return era * 146097 + doe + kEraBaseDay;
}

void civilFromDay(long long day, long long& y, unsigned& m, unsigned& d) {
  long long z = day - kEraBaseDay;
  long long era = floorDiv(z, 146097);
  long long doe = z - era * 146097;                                       // [0, 146096]
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  long long mp = (5 * doy + 2) / 153;                                     // [0, 11]
  d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

bool leapYear(long long y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(long long y, unsigned m) {
  static unsigned char const kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

// A stamp from a day number and hundredths since that day began (any value, carried into the
// days), written so that an instant at midnight ends the day before. Out of range: all words 0.
Clock::UniversalTime stampOf(long long day, long long hundredths, std::uint32_t zone) {
  day += floorDiv(hundredths, kHundredthsPerDay);
  hundredths -= floorDiv(hundredths, kHundredthsPerDay) * kHundredthsPerDay;
  if (hundredths == 0) {
    hundredths = kHundredthsPerDay;
    day -= 1;
  }
  if (day < 1 || day > 0xFFFFFFFFLL)
    return Clock::UniversalTime();
  return Clock::UniversalTime(static_cast<std::uint32_t>(day),
                              static_cast<std::uint32_t>(hundredths), zone);
}

}  // namespace

namespace Clock {

UniversalTime UniversalTime::fromUnix(long long seconds, long nanoseconds) {
  if (nanoseconds < 0 || nanoseconds > 999999999)
    return UniversalTime();
  long long days = floorDiv(seconds, 86400);
  long long rest = seconds % 86400;  // no product: seconds may be near the 64-bit limits
  if (rest < 0)
    rest += 86400;
  // Days far outside the 32-bit day number give up here, before any product can overflow.
  if (days < -kUnixEpochDay - 1 || days > 0xFFFFFFFFLL)
    return UniversalTime();
  return stampOf(kUnixEpochDay + days, rest * 100 + nanoseconds / 10000000, 0);
}

UniversalTime UniversalTime::now() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  auto seconds = std::chrono::floor<std::chrono::seconds>(since);
  auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds);
  return fromUnix(seconds.count(), static_cast<long>(nanos.count()));
}

DateTimeCtor::DateTimeCtor(UniversalTime const& stamp)
    : zone(static_cast<std::int32_t>(stamp.zone)) {
  if (!stamp.filled())
    return;
  // Hundredths from 0 to kDay - 1 within the day; kDay itself (and anything beyond) carries.
  long long dayNumber = stamp.date + stamp.time / kHundredthsPerDay;
  long long rest = stamp.time % kHundredthsPerDay;
  civilFromDay(dayNumber, year, month, day);
  hour = static_cast<unsigned>(rest / 360000);
  minute = static_cast<unsigned>(rest / 6000 % 60);
  second = static_cast<unsigned>(rest / 100 % 60);
  hundredths = static_cast<unsigned>(rest % 100);
}

UniversalTime DateTimeCtor::stamp() const {
  if (year < 1 || year > 20000000 || month < 1 || month > 12 || day < 1 ||
      day > daysInMonth(year, month) || hour > 23 || minute > 59 || second > 59 ||
      hundredths > 99) {
    return UniversalTime();
  }
  long long within = ((hour * 60LL + minute) * 60 + second) * 100 + hundredths;
  return stampOf(dayFromCivil(year, month, day), within, static_cast<std::uint32_t>(zone));
}

}  // namespace Clock

// ---- ISO 8601 text -------------------------------------------------------------------------

// flag false: the stamp's own time of day and its offset from universal time ("Z" for zone 0,
// else "+hh:mm" / "-hh:mm"; the offset is -zone, cut to whole minutes).
// flag true: the same instant in universal time, ending in "Z".
WString FString::iso8601(Clock::UniversalTime const& stamp, bool flag) {
  if (!stamp.filled())
    return WString(L"");
  Clock::UniversalTime shown = stamp;
  if (flag && stamp.zone != 0) {
    long long instant = static_cast<long long>(stamp.time) + static_cast<std::int32_t>(stamp.zone);
    shown = stampOf(stamp.date, instant, 0);
    if (!shown.filled())
      return WString(L"");
  }
  Clock::DateTimeCtor parts(shown);
  wchar_t text[64];
  int n = std::swprintf(text, 64, L"%04lld-%02u-%02uT%02u:%02u:%02u.%02u", parts.year, parts.month,
                        parts.day, parts.hour, parts.minute, parts.second, parts.hundredths);
  if (n < 0)
    return WString(L"");
  long long offset = -static_cast<long long>(parts.zone);  // local time - universal time
  if (offset == 0) {
    std::swprintf(text + n, 64 - n, L"Z");
  } else {
    long long minutes = (offset < 0 ? -offset : offset) / 6000;
    std::swprintf(text + n, 64 - n, L"%lc%02lld:%02lld", offset < 0 ? L'-' : L'+', minutes / 60,
                  minutes % 60);
  }
  return WString(text);
}
