// Time stamps: Clock::UniversalTime, the calendar helper Clock::DateTimeCtor and the
// Clock::Reference interface.
//
// All three are plain values without locking: copy them freely, share them between threads only
// under the caller's own lock.
#pragma once

#include <cstdint>

#include "kestle/export.h"

namespace Clock {

// A time stamp of three unsigned 32-bit words, in this order (files store them so):
//   date  the day number; day 1 is 1 January of year 1 in the proleptic Gregorian calendar.
//         0 means "not set".
//   time  the time of day in hundredths of a second, 1 to 8,640,000 (kDay, a whole day): the
//         hundredths since the day began, an instant at midnight being the end (kDay) of the day
//         before. 0 means "not set".
//   zone  hundredths of a second, read as a signed 32-bit number, such that universal time =
//         the stamp's time + zone (UTC+1 has zone -360000; zone 0 is universal time).
// A time t given in zone z is the instant t + z - z' given in zone z'.
class KESTLE_API UniversalTime {
 public:
  static constexpr std::uint32_t kDay = 8640000;  // hundredths of a second in a day

  UniversalTime() = default;  // all three words 0: not set
  UniversalTime(std::uint32_t date, std::uint32_t time, std::uint32_t zone);
  UniversalTime(UniversalTime const&) = default;
  UniversalTime& operator=(UniversalTime const& other);  // copies the three words
  UniversalTime& operator=(UniversalTime&& other);

  // Date and time both nonzero. The zone plays no part.
  bool filled() const;

  // Whether this stamp lies before other. Stamps of equal zone compare by date, then time.
  // Otherwise other is shifted into this stamp's zone (by at most one day, so zones are taken
  // to differ by less than a day) and then compared; an other stamp that is not filled is never
  // after this one (the answer is false). Only other is tested for being set.
  bool less(UniversalTime other) const;

  // The stamp of a Unix time (seconds and nanoseconds since 1970-01-01T00:00:00Z, nanoseconds
  // 0 to 999,999,999) in zone 0, cut to hundredths. A time before year 1 or after the last
  // representable day gives a stamp with all words 0.
  static UniversalTime fromUnix(long long seconds, long nanoseconds);
  // The current time (the system's real-time clock) in zone 0.
  static UniversalTime now();

  std::uint32_t date = 0;
  std::uint32_t time = 0;
  std::uint32_t zone = 0;
};

// The calendar parts of a stamp, in the stamp's own zone, and the way back. Taking a stamp apart
// writes the midnight that ends a day as 00:00:00.00 of the next day. A plain record.
class KESTLE_API DateTimeCtor {
 public:
  DateTimeCtor() = default;
  // Takes stamp apart. A stamp that is not filled gives year, month and day 0 (and the other
  // parts 0 except zone, which is always the stamp's). A time above kDay carries into the days.
  explicit DateTimeCtor(UniversalTime const& stamp);
  DateTimeCtor(DateTimeCtor const&) = default;
  DateTimeCtor& operator=(DateTimeCtor const& other);  // copies every field

  // The stamp of these parts. Parts out of range (year below 1, month outside 1 to 12, a day
  // the month does not have, hour above 23, minute or second above 59, hundredths above 99, or
  // a date beyond the 32-bit day number) give a stamp with all words 0.
  UniversalTime stamp() const;

  long long year = 0;
  unsigned month = 0;  // 1 to 12
  unsigned day = 0;    // 1 to 31
  unsigned hour = 0;
  unsigned minute = 0;
  unsigned second = 0;
  unsigned hundredths = 0;
  std::int32_t zone = 0;  // as UniversalTime::zone
};

// A source of the current time, implemented by the caller. No data.
class KESTLE_API Reference {
 public:
  Reference() {}
  Reference(Reference const&) {}
  Reference(Reference&&) {}
  Reference& operator=(Reference const&) { return *this; }
  Reference& operator=(Reference&&) { return *this; }

  // The current time as this source sees it.
  virtual UniversalTime current() const = 0;

 protected:
  ~Reference() = default;  // not deleted through this interface
};

}  // namespace Clock
