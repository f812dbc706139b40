// The library's members of the time stamp types: tests, comparison and assignments. Building and
// taking apart stamps by the calendar is the platform's (platform/time.cc).
#include "kestle/clock.h"

namespace Clock {

UniversalTime::UniversalTime(std::uint32_t d, std::uint32_t t, std::uint32_t z)
    : date(d), time(t), zone(z) {}

UniversalTime& UniversalTime::operator=(UniversalTime const& other) {
  date = other.date;
  time = other.time;
  zone = other.zone;
  return *this;
}
UniversalTime& UniversalTime::operator=(UniversalTime&& other) {
  return *this = static_cast<UniversalTime const&>(other);
}

bool UniversalTime::filled() const {
  return date != 0 && time != 0;
}

bool UniversalTime::less(UniversalTime other) const {
  if (zone == other.zone)
    return date < other.date || (date == other.date && time < other.time);
  if (other.date == 0 || other.time == 0)
    return false;

  // Express other in this stamp's zone. The shift is taken modulo 2^32 and read as signed, and
  // at most one day is carried. Day and time stay 64-bit so that neither the carry nor zones
  // further apart than a day wrap around.
  auto t = static_cast<long long>(static_cast<std::int32_t>(other.time + other.zone - zone));
  auto d = static_cast<long long>(other.date);
  if (t < 1) {
    t += kDay;
    d -= 1;
  } else if (t > kDay) {
    t -= kDay;
    d += 1;
  }
  return date < d || (date == d && time < t);
}

DateTimeCtor& DateTimeCtor::operator=(DateTimeCtor const& other) {
  year = other.year;
  month = other.month;
  day = other.day;
  hour = other.hour;
  minute = other.minute;
  second = other.second;
  hundredths = other.hundredths;
  zone = other.zone;
  return *this;
}

}  // namespace Clock
