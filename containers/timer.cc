// The library's members of the timers: construction, the running flag, the unit conversions and
// the assignments. Counting itself is the platform's (platform/time.cc).
#include "kestle/timer.h"

namespace SystemTimer {

baseTimer::baseTimer() : started_(0), total_(0), running_(0) {}

baseTimer& baseTimer::operator=(baseTimer const& other) {
  started_ = other.started_;
  total_ = other.total_;
  running_ = other.running_;
  return *this;
}
baseTimer& baseTimer::operator=(baseTimer&& other) {
  return *this = static_cast<baseTimer const&>(other);
}

bool baseTimer::running() const {
  return running_ != 0;
}
unsigned long long baseTimer::elapsedUs() const {
  return ctrUs(elapsed());
}
unsigned long long baseTimer::elapsedMs() const {
  return ctrMs64(elapsed());
}

timer& timer::operator=(timer const& other) {
  baseTimer::operator=(other);
  return *this;
}
timer& timer::operator=(timer&& other) {
  return *this = static_cast<timer const&>(other);
}

}  // namespace SystemTimer
